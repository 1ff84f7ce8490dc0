// request.cpp: answers and the service's own address.
#include "request.h"

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
    const std::string host = r.host.empty() ? "127.0.0.1" : r.host;
    // Only a host name and port belong here; anything else would be written into XML.
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' ||
              c == '[' || c == ']'))
            return "http://127.0.0.1";
    return "http://" + host;
}

}  // namespace kserve
