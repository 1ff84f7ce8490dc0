// private_dir.h: a private working folder for the fuzz targets that go through files: made
// once per process under $TMPDIR (or /tmp) with mode 0700, removed at exit. Files are written
// whole with put(); paths end with '/' as the engine wants its directories.
#ifndef KESTREL_FUZZ_PRIVATE_DIR_H
#define KESTREL_FUZZ_PRIVATE_DIR_H

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz_support {

class PrivateDir {
  public:
    // The folder of this process, made on first use; aborts when it cannot be made.
    static const PrivateDir& get() {
        static const PrivateDir dir;
        return dir;
    }

    // The folder's path with a trailing '/'.
    const std::string& path() const { return path_; }
    std::string file(const char* name) const { return path_ + name; }

    // Writes `size` bytes to the file `name` of the folder, replacing it; aborts on failure.
    void put(const char* name, const void* data, std::size_t size) const {
        std::FILE* f = std::fopen(file(name).c_str(), "wb");
        if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size)) std::abort();
        if (std::fclose(f) != 0) std::abort();
    }
    void put(const char* name, const std::string& text) const {
        put(name, text.data(), text.size());
    }

  private:
    PrivateDir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kestrel-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern + "/";
        static std::string to_remove;
        to_remove = pattern;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(to_remove, ec);
        });
    }
    std::string path_;
};

}  // namespace fuzz_support

#endif  // KESTREL_FUZZ_PRIVATE_DIR_H
