// progress.h: progress lines of long imports on standard error. Updates overwrite one line
// on a terminal and are printed at most every few seconds otherwise; a disabled meter prints
// nothing.
#ifndef KESTREL_TOOLS_IMPORTER_PROGRESS_H
#define KESTREL_TOOLS_IMPORTER_PROGRESS_H

#include <chrono>
#include <string>

namespace kimport {

class Progress {
  public:
    // `enabled`: print at all; `terminal`: standard error is a terminal (overwrite lines).
    Progress(bool enabled, bool terminal) : enabled_(enabled), terminal_(terminal) {}
    ~Progress() { finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Reports `done` of `total` items of the step `what` (total 0 or less: unknown). Cheap
    // when called often: the line is rewritten at most ten times a second.
    void update(const std::string& what, long done, long total);

    // Ends the current line, if any.
    void finish();

  private:
    bool enabled_;
    bool terminal_;
    bool line_open_ = false;
    std::string last_what_;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace kimport

#endif  // KESTREL_TOOLS_IMPORTER_PROGRESS_H
