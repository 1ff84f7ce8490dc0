// request.h: the requests kserve answers and its answers, independent of the HTTP transport
// (server.cpp reads and writes them with Boost.Beast; the benchmark calls the service
// directly).
#ifndef KSERVE_REQUEST_H
#define KSERVE_REQUEST_H

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kserve {

struct Request {
    std::string method;         // GET or HEAD
    std::string target;         // path and query as sent
    std::string host;           // Host header (never used for the addresses answers give)
    std::string if_none_match;  // every If-None-Match field line, joined by commas
    // The service's public address, filled in by Service::handle from its configuration.
    std::string public_url;
    std::string accept;           // every Accept field line, joined by commas
    std::string accept_encoding;  // every Accept-Encoding field line, joined by commas
};

struct Response {
    int status = 200;
    std::string content_type = "text/plain; charset=utf-8";
    std::string body;
    std::string etag;           // quoted; empty: none
    std::string cache_control;  // empty: none
    int retry_after = 0;        // seconds, for a 503; 0: none
    // Further header fields (name, value), written as given.
    std::vector<std::pair<std::string, std::string>> headers;
};

// An answer of `status` with `body` of the media type `type`.
Response answer(int status, std::string body, const char* type = "text/plain; charset=utf-8");

// The base of every address an answer gives (capabilities, links): the service's public
// address as configured (--public-url, else the address it listens on), without a trailing
// '/'; "http://127.0.0.1" when none is set. Never taken from a request's headers: an answer
// that a proxy caches for everyone must not carry one client's Host.
std::string base_url(const Request& r);

// The canonical form of a public address "http[s]://HOST[:PORT][/PATH]": the scheme and host
// in lower case, no trailing '/'. Nothing when it has another form, a query or a fragment, or
// characters that would need escaping in XML or a URL (the address is written as it is).
std::optional<std::string> public_url(std::string_view url);

}  // namespace kserve

#endif
