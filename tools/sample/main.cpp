// main.cpp: ksample-gen, the command that writes the sample data set and its track file.
//
// The content is a pure function of the seed: two runs write the same bytes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "kcommon/cli.h"
#include "sample.h"
#include "writer.h"

namespace {

const char* const kUsage =
    "Usage: ksample-gen --out DIR [--track FILE] [--quiet]\n"
    "\n"
    "Writes the sample map data set into DIR: d4.txt, dat44_1.bin, dat44_2.bin, alldist.txt,\n"
    "dist.emf and one <tile>.dat file per tile. The content is fixed: every run writes the same\n"
    "bytes.\n"
    "\n"
    "Options:\n"
    "  --out DIR     data set directory (created when missing)\n"
    "  --track FILE  also write the sample track (lines \"xy X Y\") to FILE\n"
    "  --quiet       print nothing on success\n"
    "  --help        show this text\n"
    "  --version     show the version\n"
    "\n"
    "Options take their value as the next argument or after '=' (--out=DIR).\n";

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
    std::vector<std::string> args;
    const std::string why = kcli::expand_args(argc, argv, {"--out", "--track"}, &args);
    if (!why.empty()) {
        std::fprintf(stderr, "ksample-gen: %s (see --help)\n", why.c_str());
        return 2;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs(kcli::version_text("ksample-gen").c_str(), stdout);
            return 0;
        } else if (arg == "--out" && i + 1 < args.size()) {
            out = args[++i];
        } else if (arg == "--track" && i + 1 < args.size()) {
            track = args[++i];
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            std::fprintf(stderr, "ksample-gen: unknown or incomplete argument '%s'\n\n%s",
                         arg.c_str(), kUsage);
            return 2;
        }
    }
    if (out.empty()) {
        std::fprintf(stderr, "ksample-gen: --out DIR is required\n\n%s", kUsage);
        return 2;
    }
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
