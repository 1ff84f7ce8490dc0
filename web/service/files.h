// files.h: the viewer's static files (the built page, its scripts and styles), served from
// one folder at their paths.
#ifndef KSERVE_FILES_H
#define KSERVE_FILES_H

#include <optional>
#include <string>

#include "service/request.h"

namespace kserve {

class StaticFiles {
  public:
    // Serves the files of the folder `root`, which must hold index.html. False, with `error`
    // set, when it does not.
    bool open(const std::string& root, std::string& error);
    bool enabled() const { return !root_.empty(); }
    const std::string& root() const { return root_; }

    // The answer for the decoded request path `path` ('/' is index.html): the file with its
    // type and validator, a 304 when `if_none_match` is its validator, or nothing when no
    // file may be served there (missing, hidden, outside the folder, not a regular file).
    std::optional<Response> get(const std::string& path, const std::string& if_none_match) const;

  private:
    std::string root_;  // resolved, without a trailing '/'
};

// The media type of a file name by its extension (UTF-8 for texts).
const char* content_type_of(const std::string& name);

}  // namespace kserve

#endif
