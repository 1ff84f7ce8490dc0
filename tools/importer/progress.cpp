// progress.cpp: the progress meter of long imports.
#include "progress.h"

#include <cstdio>

namespace kimport {
namespace {
constexpr auto kTerminalInterval = std::chrono::milliseconds(100);
constexpr auto kLogInterval = std::chrono::seconds(2);
}  // namespace

void Progress::update(const std::string& what, long done, long total) {
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    bool new_step = what != last_what_;
    if (!new_step && now - last_ < (terminal_ ? kTerminalInterval : kLogInterval)) return;
    if (new_step && line_open_) finish();
    last_what_ = what;
    last_ = now;
    if (total > 0) {
        std::fprintf(stderr, "%s%s: %ld of %ld (%ld%%)%s", terminal_ ? "\r" : "", what.c_str(),
                     done, total, done * 100 / total, terminal_ ? "\033[K" : "\n");
    } else {
        std::fprintf(stderr, "%s%s: %ld%s", terminal_ ? "\r" : "", what.c_str(), done,
                     terminal_ ? "\033[K" : "\n");
    }
    line_open_ = terminal_;
    std::fflush(stderr);
}

void Progress::finish() {
    if (line_open_) std::fputc('\n', stderr);
    line_open_ = false;
}

}  // namespace kimport
