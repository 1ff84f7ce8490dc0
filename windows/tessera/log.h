// log.h: the server's log. Lines go to the debugger (OutputDebugString) and, when the
// environment variable TESSERA_LOG names a file, are appended to that file.
#ifndef TESSERA_WIN_LOG_H
#define TESSERA_WIN_LOG_H

namespace tessera {

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tessera

#endif  // TESSERA_WIN_LOG_H
