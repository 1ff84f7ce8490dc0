// log.cpp: the request log's lines.
#include "http/log.h"

#include <unistd.h>

#include <ctime>

namespace kserve {

void log_line(const std::string& peer, const std::string& request, int status, std::size_t bytes,
              long micros) {
    char when[64];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S +0000", &tm);
    std::string line = peer + " - - [" + when + "] \"" + request + "\" " + std::to_string(status) +
                       " " + (bytes ? std::to_string(bytes) : "-") + " " + std::to_string(micros) +
                       "\n";
    const ssize_t ignored = ::write(2, line.data(), line.size());
    (void)ignored;
}

}  // namespace kserve
