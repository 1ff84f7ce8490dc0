// reports_file.cpp: the report folder and the writing of report files.
//
// Reports live in the user's private folder <base>/kestrel-<euid> (base "/tmp"). The folder is
// made with mode 0700 when missing and refused when it is a symbolic link, not a folder, owned
// by another user, or open to group or others: a folder in a shared directory that someone else
// planted could otherwise redirect or expose the reports. A report is written into a fresh
// temporary file inside the folder (created exclusively, never through a link) and renamed over
// the report's name when complete, so readers see the previous report or the new one whole,
// a planted link at the report's name is replaced rather than followed, and a failed call
// leaves no partial report.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "query/query.h"

namespace kestrel::query {
namespace {

constexpr const char* DEFAULT_REPORT_BASE = "/tmp";
constexpr const char* REPORT_FOLDER_PREFIX = "kestrel-";
constexpr mode_t REPORT_FOLDER_MODE = 0700;
constexpr mode_t REPORT_FILE_MODE = 0600;
constexpr mode_t OPEN_TO_OTHERS = 0077;  // any group or other permission bit
constexpr int TEMP_NAME_ATTEMPTS = 100;

char g_report_base[REPORT_PATH_MAX] = "/tmp";

// Opens the report folder as a directory descriptor after making it when missing, or returns
// -1 when it is refused (see the head comment) or cannot be opened.
int open_report_folder() noexcept {
    char folder[REPORT_PATH_MAX];
    if (!report_folder(folder, sizeof folder)) return -1;
    if (mkdir(folder, REPORT_FOLDER_MODE) != 0 && errno != EEXIST) return -1;
    // O_NOFOLLOW refuses a symbolic link in the folder's place, O_DIRECTORY anything but a folder.
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & OPEN_TO_OTHERS) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool set_report_base(const char* base) noexcept {
    if (base == nullptr) base = DEFAULT_REPORT_BASE;
    if (std::strlen(base) >= sizeof g_report_base) return false;
    std::strcpy(g_report_base, base);
    return true;
}

bool report_folder(char* out, std::size_t size) noexcept {
    const int n = std::snprintf(out, size, "%s/%s%u", g_report_base, REPORT_FOLDER_PREFIX,
                                static_cast<unsigned>(geteuid()));
    return n > 0 && static_cast<std::size_t>(n) < size;
}

ReportFile::~ReportFile() {
    discard();
}

bool ReportFile::open(const char* name) noexcept {
    discard();
    if (std::strlen(name) >= sizeof name_) return false;
    std::strcpy(name_, name);
    dir_fd_ = open_report_folder();
    if (dir_fd_ < 0) return false;
    static unsigned counter = 0;
    for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
        std::snprintf(temp_name_, sizeof temp_name_, ".%s.%ld.%u", name_,
                      static_cast<long>(getpid()), counter++);
        fd_ = openat(dir_fd_, temp_name_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     REPORT_FILE_MODE);
        if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) {
        discard();
        return false;
    }
    failed_ = false;
    used_ = 0;
    return true;
}

void ReportFile::write(const char* bytes, std::size_t n) noexcept {
    while (n > 0 && !failed_) {
        if (used_ == BUFFER_BYTES && !flush()) return;
        const std::size_t part = std::min(n, BUFFER_BYTES - used_);
        std::memcpy(buffer_ + used_, bytes, part);
        used_ += part;
        bytes += part;
        n -= part;
    }
}

// Names and notes come from the data files: a CR or LF byte in them is written as a blank, so
// that only line_end() ends a line and every line stays one record.
void ReportFile::text(const char* s) noexcept {
    while (*s != '\0') {
        const std::size_t n = std::strcspn(s, "\r\n");
        write(s, n);
        s += n;
        if (*s != '\0') {
            write(" ", 1);
            ++s;
        }
    }
}

void ReportFile::number(int64_t v) noexcept {
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(v));
    write(digits, static_cast<std::size_t>(n));
}

void ReportFile::blanks(int n) noexcept {
    static constexpr char kBlanks[] = "        ";
    while (n > 0) {
        const int part = std::min(n, static_cast<int>(sizeof kBlanks - 1));
        write(kBlanks, static_cast<std::size_t>(part));
        n -= part;
    }
}

// Writes the buffered bytes to the temporary file; false (and the report marked failed) when
// the file takes fewer than all of them.
bool ReportFile::flush() noexcept {
    std::size_t done = 0;
    while (done < used_ && !failed_) {
        const ssize_t n = ::write(fd_, buffer_ + done, used_ - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            failed_ = true;
    }
    used_ = 0;
    return !failed_;
}

bool ReportFile::commit() noexcept {
    if (fd_ < 0) return false;
    bool ok = flush();
    ok = close(fd_) == 0 && ok;
    fd_ = -1;
    ok = ok && renameat(dir_fd_, temp_name_, dir_fd_, name_) == 0;
    if (!ok) unlinkat(dir_fd_, temp_name_, 0);
    close(dir_fd_);
    dir_fd_ = -1;
    return ok;
}

// Closes and removes an uncommitted temporary file, and closes the folder.
void ReportFile::discard() noexcept {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
        unlinkat(dir_fd_, temp_name_, 0);
    }
    if (dir_fd_ >= 0) {
        close(dir_fd_);
        dir_fd_ = -1;
    }
    used_ = 0;
}

}  // namespace kestrel::query
