// temp_dir.h: a fresh private folder for one test, removed with everything in it when the
// test ends. Every C++ test of the project takes its temporary folders from here.
#ifndef KESTREL_TESTS_SUPPORT_TEMP_DIR_H
#define KESTREL_TESTS_SUPPORT_TEMP_DIR_H

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace test_support {

class TempDir {
  public:
    // A new folder "<system temporary folder>/<prefix>-XXXXXX", mode 0700. Throws when it
    // cannot be made, so that a test never works in (or removes) a folder it does not own.
    explicit TempDir(const std::string& prefix = "kestrel-test") {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / (prefix + "-XXXXXX"));
        if (ec || ::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a temporary folder " + pattern);
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without and with a trailing '/' (the engine takes its folders with one).
    const std::string& path() const { return path_; }
    std::string slash() const { return path_ + "/"; }
    // A name inside the folder.
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

}  // namespace test_support

#endif  // KESTREL_TESTS_SUPPORT_TEMP_DIR_H
