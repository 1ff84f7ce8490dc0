// files.cpp: the viewer's static files. A request path is taken apart into its segments and
// refused when any is empty, hidden ('.', '..', '.git') or holds a backslash; the file found
// must still lie inside the folder once every link is resolved, and be a regular file (a FIFO
// or a device is never opened in a way that waits).
#include "service/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "kcommon/etag.h"
#include "service/params.h"

namespace kserve {

namespace {

constexpr off_t kMaxFile = off_t{64} * 1024 * 1024;

std::optional<std::string> resolve(const std::string& path) {
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf)) return std::nullopt;
    return std::string(buf);
}

}  // namespace

const char* content_type_of(const std::string& name) {
    static const struct {
        const char* ext;
        const char* type;
    } kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json; charset=utf-8"},
        {".map", "application/json; charset=utf-8"},
        {".txt", "text/plain; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".gif", "image/gif"},
        {".ico", "image/x-icon"},
        {".webmanifest", "application/manifest+json"},
        {".wasm", "application/wasm"},
    };
    const std::string lowered = lower(name);
    for (const auto& t : kTypes) {
        const std::string ext = t.ext;
        if (lowered.size() > ext.size() &&
            lowered.compare(lowered.size() - ext.size(), ext.size(), ext) == 0)
            return t.type;
    }
    return "application/octet-stream";
}

bool StaticFiles::open(const std::string& root, std::string& error) {
    const auto resolved = resolve(root);
    struct stat st {};
    if (!resolved || ::stat((*resolved + "/index.html").c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        error = "the viewer folder " + root + " holds no index.html";
        return false;
    }
    root_ = *resolved;
    return true;
}

std::optional<Response> StaticFiles::get(const std::string& path,
                                         const std::string& if_none_match) const {
    if (root_.empty() || path.empty() || path[0] != '/') return std::nullopt;
    std::string relative = path.substr(1);
    if (relative.empty() || relative.back() == '/') relative += "index.html";
    for (const auto& segment : split(relative, '/'))
        if (segment.empty() || segment[0] == '.' || segment.find('\\') != std::string::npos)
            return std::nullopt;
    const auto file = resolve(root_ + "/" + relative);
    if (!file || file->compare(0, root_.size() + 1, root_ + "/") != 0) return std::nullopt;
    // Without O_NONBLOCK, opening a FIFO would wait for a writer and hold the worker; the
    // file's type is checked once it is open.
    const int fd = ::open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFile) {
        ::close(fd);
        return std::nullopt;
    }
    Response res;
    char tag[80];
    std::snprintf(tag, sizeof tag, "\"f-%llx-%llx-%llx\"",
                  static_cast<unsigned long long>(st.st_ino),
                  static_cast<unsigned long long>(st.st_size),
                  static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                      static_cast<unsigned long long>(st.st_mtim.tv_nsec));
    res.etag = tag;
    // The bundler names the files under assets/ by their content: they never change. The page
    // itself is checked again on every visit, so a new build is seen at once.
    res.cache_control =
        relative.rfind("assets/", 0) == 0 ? "public, max-age=31536000, immutable" : "no-cache";
    res.content_type = content_type_of(relative);
    if (kcommon::if_none_match(if_none_match, res.etag)) {
        ::close(fd);
        res.status = 304;
        return res;
    }
    res.body.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < res.body.size()) {
        const ssize_t n = ::read(fd, res.body.data() + done, res.body.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (done != res.body.size()) return std::nullopt;
    return res;
}

}  // namespace kserve
