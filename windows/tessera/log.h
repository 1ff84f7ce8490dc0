// log.h: the COM server's log: core::LogWriter, one line a message ("TIME tessera[PID] LEVEL:
// TEXT", client text escaped), in AppDir\tmp\tessera.log (or the file TESSERA_LOG names),
// bounded as the D-Bus server's log is, and every line in the debugger output as well.
#ifndef TESSERA_WIN_LOG_H
#define TESSERA_WIN_LOG_H

#include <tessera/core/log.h>

#include <string>

namespace tessera {

core::LogWriter& serverLog();

// Opens the log file: the file TESSERA_LOG names when that is set, else tessera.log in the
// temporary folder `tmpDir` (UTF-8, ending in '\') when that folder exists. Without a file the
// lines go to the debugger output only.
void openServerLog(const std::string& tmpDir);

// A message of the server's own, formatted as printf does (no client text in `format`'s
// arguments unless it passed core::logText).
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tessera

#endif  // TESSERA_WIN_LOG_H
