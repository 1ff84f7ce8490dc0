// http/log.h: the line the HTTP server writes for each request answered.
#ifndef KSERVE_HTTP_LOG_H
#define KSERVE_HTTP_LOG_H

#include <cstddef>
#include <string>

namespace kserve {

// Writes the request's line to standard error in the common log format followed by the time
// taken in microseconds: `peer`, `request` (the request line, escaped for the log), the status
// and the bytes of the body sent (0: "-"). One write a line, so that the lines of different
// workers never interleave.
void log_line(const std::string& peer, const std::string& request, int status, std::size_t bytes,
              long micros);

}  // namespace kserve

#endif
