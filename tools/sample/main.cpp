// main.cpp: ksample-gen, the command that writes the sample data set and its track file.
//
// The content is a pure function of the seed: two runs write the same bytes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "kcommon/cli.h"
#include "sample.h"
#include "writer.h"

namespace {

const char* const kUsage =
    "Usage: ksample-gen --out DIR [--track FILE] [--quiet]\n"
    "\n"
    "Writes the sample map data set into DIR: d4.txt, dat44_1.bin, dat44_2.bin, alldist.txt,\n"
    "dist.emf and one <tile>.dat file per tile. The content is fixed: every run writes the same\n"
    "bytes.\n";

// Writes `text` to `path`; returns an empty string or why it failed.
std::string write_text(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) return "cannot create " + part + ": " + std::strerror(errno);
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok) {
        std::remove(part.c_str());
        return "cannot write " + part;
    }
    if (std::rename(part.c_str(), path.c_str()) != 0)
        return "cannot rename " + part + ": " + std::strerror(errno);
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    std::string out, track;
    bool quiet = false;
    const kcli::Program program{
        .name = "ksample-gen",
        .usage = kUsage,
        .options = {
            {.name = "--out",
             .value = "DIR",
             .help = "data set directory (created when missing)",
             .handle = kcli::store(&out)},
            {.name = "--track",
             .value = "FILE",
             .help = "also write the sample track (lines \"xy X Y\") to FILE",
             .handle = kcli::store(&track)},
            {.name = "--quiet", .help = "print nothing on success", .handle = kcli::set(&quiet)}}};
    if (const auto end = kcli::parse(program, argc, argv)) return *end;
    if (out.empty()) return kcli::refuse(program, "--out DIR is required");
    if (out.back() != '/') out += '/';
    try {
        const ksample::Sample sample = ksample::build_sample(ksample::kDefaultSeed);
        kdataset::WriteReport report;
        const std::string why = kdataset::write_dataset(sample.content, out, &report);
        if (!why.empty()) {
            std::fprintf(stderr, "ksample-gen: %s\n", why.c_str());
            return 1;
        }
        if (!report.refused.empty()) {
            // The generator keeps within every capacity; a refusal is a fault of the generator.
            for (const std::string& r : report.refused)
                std::fprintf(stderr, "ksample-gen: refused: %s\n", r.c_str());
            return 1;
        }
        if (!track.empty()) {
            const std::string terr = write_text(track, ksample::track_text(sample.track));
            if (!terr.empty()) {
                std::fprintf(stderr, "ksample-gen: %s\n", terr.c_str());
                return 1;
            }
        }
        if (!quiet)
            std::printf(
                "ksample-gen: %d tiles, %d roads, %d lines and areas, %d points, %d points of "
                "interest, "
                "%zu track points written to %s\n",
                report.tiles, report.roads, report.lines, report.points, report.pois,
                sample.track.size(), out.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ksample-gen: %s\n", e.what());
        return 1;
    }
    return 0;
}
