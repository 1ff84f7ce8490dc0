// request.cpp: answers and the service's own address.
#include "service/request.h"

#include <cctype>
#include <utility>

namespace kserve {

Response answer(int status, std::string body, const char* type) {
    Response r;
    r.status = status;
    r.content_type = type;
    r.body = std::move(body);
    return r;
}

std::string base_url(const Request& r) {
    return r.public_url.empty() ? "http://127.0.0.1" : r.public_url;
}

std::optional<std::string> public_url(std::string_view url) {
    std::string u(url);
    const size_t sep = u.find("://");
    if (sep == std::string::npos) return std::nullopt;
    for (size_t i = 0; i < sep; ++i)
        u[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(u[i])));
    const std::string scheme = u.substr(0, sep);
    if (scheme != "http" && scheme != "https") return std::nullopt;
    const size_t start = sep + 3;
    size_t end = u.find('/', start);
    if (end == std::string::npos) end = u.size();
    std::string authority = u.substr(start, end - start);
    std::string path = u.substr(end);
    // HOST: a name or an IPv4 address, or an IPv6 address in brackets; then an optional port.
    size_t host_end = authority.size();
    if (!authority.empty() && authority[0] == '[') {
        host_end = authority.find(']');
        if (host_end == std::string::npos || host_end == 1) return std::nullopt;
        for (size_t i = 1; i < host_end; ++i)
            if (!std::isxdigit(static_cast<unsigned char>(authority[i])) && authority[i] != ':' &&
                authority[i] != '.')
                return std::nullopt;
        ++host_end;
    } else {
        host_end = authority.find(':');
        if (host_end == std::string::npos) host_end = authority.size();
        if (host_end == 0) return std::nullopt;
        for (size_t i = 0; i < host_end; ++i) {
            const char c = authority[i];
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
                return std::nullopt;
            authority[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    if (host_end < authority.size()) {
        if (authority[host_end] != ':') return std::nullopt;
        const std::string port = authority.substr(host_end + 1);
        if (port.empty() || port.size() > 5) return std::nullopt;
        for (char c : port)
            if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        if (std::stol(port) < 1 || std::stol(port) > 65535) return std::nullopt;
    }
    // PATH: unreserved characters, '%' escapes and the sub-delimiters that XML and a query
    // appended after it leave alone; no '?', '#', '&' or quotes.
    for (char c : path)
        if (!std::isalnum(static_cast<unsigned char>(c)) &&
            std::string_view("-._~/%!$()*+,;=:@").find(c) == std::string_view::npos)
            return std::nullopt;
    while (!path.empty() && path.back() == '/') path.pop_back();
    return scheme + "://" + authority + path;
}

}  // namespace kserve
