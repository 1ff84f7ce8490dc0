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
//
// On Windows the reports stay where their readers have always found them: in the folder
// <base> itself (base "c:\", so c:\distroad.tmp, c:\distcrrd.tmp and c:\dist44.tmp). The
// folder is opened without following a reparse point and refused when it is one (a junction or link
// in its place) or not a folder, and it stays open, not shareable for deletion, until the report is
// in place, so it cannot be swapped meanwhile. The report is written into a fresh temporary file
// there (created new, never through a reparse point, refused when it has other links) and moved
// over the report's name, which replaces a link planted there rather than following it.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "query/query.h"

namespace kestrel::query {
namespace {

constexpr int TEMP_NAME_ATTEMPTS = 100;

#if defined(_WIN32)

char g_report_base[REPORT_PATH_MAX] = "c:\\";

// `folder` + `name` with one separator between them; false when it does not fit.
bool join_path(char* out, std::size_t size, const char* folder, const char* name) noexcept {
    const std::size_t n = std::strlen(folder);
    const bool separated = n > 0 && (folder[n - 1] == '\\' || folder[n - 1] == '/');
    const int written = std::snprintf(out, size, "%s%s%s", folder, separated ? "" : "\\", name);
    return written > 0 && static_cast<std::size_t>(written) < size;
}

// Opens the report folder without following a reparse point and returns it as a run-time
// descriptor, or -1 when it is refused (a reparse point, not a folder) or does not open. The
// handle does not share deletion, so the folder cannot be renamed away while it is open.
int open_report_folder() noexcept {
    char folder[REPORT_PATH_MAX];
    if (!report_folder(folder, sizeof folder)) return -1;
    // The name's own attributes first: Wine reports a link there, but its handles follow it.
    const DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return -1;
    const HANDLE dir = CreateFileA(
        folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (dir == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info{};
    const int fd = GetFileInformationByHandle(dir, &info) &&
                           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0
                       ? _open_osfhandle(reinterpret_cast<intptr_t>(dir), _O_RDONLY)
                       : -1;
    if (fd < 0) CloseHandle(dir);
    return fd;
}

// Creates the file `path` new (never an existing name, never through a reparse point) for
// writing; -1 with the error in GetLastError() when it cannot, or when the file turns out to
// be a reparse point or to have another link (then it is removed again).
int create_report_temp(const char* path) noexcept {
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool plain =
        GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
        info.nNumberOfLinks == 1;
    const int fd =
        plain ? _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY) : -1;
    if (fd < 0) {
        CloseHandle(file);
        DeleteFileA(path);
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return fd;
}

long process_id() noexcept {
    return static_cast<long>(_getpid());
}

// Creates the temporary file `temp_name` new in the report folder; `name_taken` tells whether
// it failed because that name exists, so that the caller tries another.
int create_temp_file(int /*dir_fd*/, const char* temp_name, bool& name_taken) noexcept {
    char folder[REPORT_PATH_MAX];
    char path[2 * REPORT_PATH_MAX];  // the folder, a separator and a temporary name
    if (!report_folder(folder, sizeof folder) || !join_path(path, sizeof path, folder, temp_name))
        return -1;
    const int fd = create_report_temp(path);
    name_taken = fd < 0 && GetLastError() == ERROR_FILE_EXISTS;
    return fd;
}

#else

constexpr mode_t REPORT_FOLDER_MODE = 0700;
constexpr mode_t REPORT_FILE_MODE = 0600;
constexpr mode_t OPEN_TO_OTHERS = 0077;  // any group or other permission bit

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

long process_id() noexcept {
    return static_cast<long>(getpid());
}

// Creates the temporary file `temp_name` new in the folder `dir_fd`, never through a link;
// `name_taken` tells whether it failed because that name exists, so that the caller tries
// another.
int create_temp_file(int dir_fd, const char* temp_name, bool& name_taken) noexcept {
    const int fd = openat(dir_fd, temp_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          REPORT_FILE_MODE);
    name_taken = fd < 0 && errno == EEXIST;
    return fd;
}

#endif

}  // namespace

bool set_report_base(const char* base) noexcept {
    if (base == nullptr) base = kReportBase;
    if (std::strlen(base) >= sizeof g_report_base) return false;
    std::strcpy(g_report_base, base);
    return true;
}

#if defined(_WIN32)

bool report_folder(char* out, std::size_t size) noexcept {
    const int n = std::snprintf(out, size, "%s", g_report_base);
    return n > 0 && static_cast<std::size_t>(n) < size;
}

#else

bool report_folder(char* out, std::size_t size) noexcept {
    const int n = std::snprintf(out, size, "%s/%s%u", g_report_base, kReportFolderPrefix,
                                static_cast<unsigned>(geteuid()));
    return n > 0 && static_cast<std::size_t>(n) < size;
}

#endif

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
        std::snprintf(temp_name_, sizeof temp_name_, ".%s.%ld.%u", name_, process_id(), counter++);
        bool name_taken = false;
        fd_ = create_temp_file(dir_fd_, temp_name_, name_taken);
        if (fd_ >= 0 || !name_taken) break;
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

#if defined(_WIN32)

bool ReportFile::commit() noexcept {
    if (fd_ < 0) return false;
    bool ok = flush();
    ok = _close(fd_) == 0 && ok;
    fd_ = -1;
    char folder[REPORT_PATH_MAX];
    char temp[REPORT_PATH_MAX + sizeof temp_name_];
    char report[REPORT_PATH_MAX + sizeof name_];
    const bool named = report_folder(folder, sizeof folder) &&
                       join_path(temp, sizeof temp, folder, temp_name_) &&
                       join_path(report, sizeof report, folder, name_);
    ok = ok && named && MoveFileExA(temp, report, MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok && named) DeleteFileA(temp);
    _close(dir_fd_);
    dir_fd_ = -1;
    return ok;
}

// Closes and removes an uncommitted temporary file, and closes the folder.
void ReportFile::discard() noexcept {
    if (fd_ >= 0) {
        _close(fd_);
        fd_ = -1;
        char folder[REPORT_PATH_MAX];
        char temp[REPORT_PATH_MAX + sizeof temp_name_];
        if (report_folder(folder, sizeof folder) &&
            join_path(temp, sizeof temp, folder, temp_name_))
            DeleteFileA(temp);
    }
    if (dir_fd_ >= 0) {
        _close(dir_fd_);
        dir_fd_ = -1;
    }
    used_ = 0;
}

#else

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

#endif

}  // namespace kestrel::query
