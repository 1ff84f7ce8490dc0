// rng.h: the sample generator's random numbers: a small, fully specified generator
// (SplitMix64) and smooth value noise built on it.
//
// The standard library's distributions are implementation-defined, so the generator uses its
// own: the same seed gives the same numbers with every compiler and library, which keeps the
// generated data set byte-identical from build to build.
#ifndef KESTREL_TOOLS_SAMPLE_RNG_H
#define KESTREL_TOOLS_SAMPLE_RNG_H

#include <cmath>
#include <cstdint>

namespace ksample {

// SplitMix64: 64-bit state, one multiply-xorshift output function. Deterministic by design.
class Rng {
  public:
    explicit Rng(uint64_t seed) : state_(seed) {}

    // Next raw 64-bit value.
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform double in [0, 1), from the top 53 bits.
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

    // Uniform double in [lo, hi).
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }

    // Uniform integer in [lo, hi] (inclusive); lo must not exceed hi.
    int irange(int lo, int hi) {
        const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo + 1);
        return lo + static_cast<int>(next() % span);
    }

    // True with probability p.
    bool chance(double p) { return uniform() < p; }

    // A derived generator for an independent stream (e.g. one per district), so that adding
    // content in one place does not shift the numbers drawn elsewhere.
    Rng fork(uint64_t salt) { return Rng(next() ^ (salt * 0xD1B54A32D192ED03ull)); }

  private:
    uint64_t state_;
};

// Hash of two lattice coordinates and a seed into [0, 1).
inline double lattice_value(int64_t ix, int64_t iy, uint64_t seed) {
    uint64_t h = seed ^ (static_cast<uint64_t>(ix) * 0x9E3779B97F4A7C15ull) ^
                 (static_cast<uint64_t>(iy) * 0xC2B2AE3D27D4EB4Full);
    h = (h ^ (h >> 33)) * 0xFF51AFD7ED558CCDull;
    h = (h ^ (h >> 33)) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

// Smooth value noise in [-1, 1) with features about `cell` metres apart: bilinear
// interpolation of lattice values with a smoothstep fade.
inline double value_noise(double x, double y, double cell, uint64_t seed) {
    const double fx = x / cell, fy = y / cell;
    const double x0 = std::floor(fx), y0 = std::floor(fy);
    const double tx = fx - x0, ty = fy - y0;
    const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    const auto ix = static_cast<int64_t>(x0), iy = static_cast<int64_t>(y0);
    const double a = lattice_value(ix, iy, seed), b = lattice_value(ix + 1, iy, seed);
    const double c = lattice_value(ix, iy + 1, seed), d = lattice_value(ix + 1, iy + 1, seed);
    const double top = a + (b - a) * sx, bottom = c + (d - c) * sx;
    return 2.0 * (top + (bottom - top) * sy) - 1.0;
}

}  // namespace ksample

#endif  // KESTREL_TOOLS_SAMPLE_RNG_H
