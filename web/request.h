// request.h: the requests kserve answers and its answers, independent of the HTTP transport
// (server.cpp reads and writes them with Boost.Beast; the benchmark calls the service
// directly).
#ifndef KSERVE_REQUEST_H
#define KSERVE_REQUEST_H

#include <string>

namespace kserve {

struct Request {
    std::string method;         // GET or HEAD
    std::string target;         // path and query as sent
    std::string host;           // Host header, for the addresses in capabilities
    std::string if_none_match;  // every If-None-Match field line, joined by commas
};

struct Response {
    int status = 200;
    std::string content_type = "text/plain; charset=utf-8";
    std::string body;
    std::string etag;           // quoted; empty: none
    std::string cache_control;  // empty: none
};

// An answer of `status` with `body` of the media type `type`.
Response answer(int status, std::string body, const char* type = "text/plain; charset=utf-8");

// "http://HOST" for the addresses that capabilities give, from the request's Host header:
// "http://127.0.0.1" when it is missing or holds anything but a host name or address and a
// port.
std::string base_url(const Request& r);

}  // namespace kserve

#endif
