// temp_dir.h: a scratch directory for one test, removed with everything in it afterwards.
#ifndef KESTREL_TESTS_DATA_TEMP_DIR_H
#define KESTREL_TESTS_DATA_TEMP_DIR_H

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fixture {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kdata-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory, with a trailing '/'.
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }

  private:
    std::string path_;
};

}  // namespace fixture

#endif  // KESTREL_TESTS_DATA_TEMP_DIR_H
