// files.h: whole files and commands, for tests.
#ifndef KESTREL_TESTS_SUPPORT_FILES_H
#define KESTREL_TESTS_SUPPORT_FILES_H

#include <stdio.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <string>

namespace test_support {

// The bytes of a file; empty when it cannot be read.
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `bytes` as the whole file; false when it cannot be written.
inline bool write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

// Runs a shell command; returns its standard output and sets `status` to its exit status (-1
// when it did not run or end normally).
inline std::string run_command(const std::string& command, int* status) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) {
        *status = -1;
        return out;
    }
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int raw = ::pclose(p);
    *status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

}  // namespace test_support

#endif  // KESTREL_TESTS_SUPPORT_FILES_H
