// log.cpp: the COM server's log.
#include "log.h"

#include <tessera/core/platform.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "text.h"

namespace tessera {

core::LogWriter& serverLog() {
    static core::LogWriter& log = []() -> core::LogWriter& {
        auto* writer = new core::LogWriter(GetCurrentProcessId());
        writer->setStandardError(false);
        writer->setEcho(
            [](const std::string& line) { OutputDebugStringW(wide(line + "\n").c_str()); });
        return *writer;
    }();
    return log;
}

void openServerLog(const std::string& tmpDir) {
    wchar_t named[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"TESSERA_LOG", named, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        serverLog().file().open(utf8(named));
    } else if (core::SystemFiles().isFolder(tmpDir)) {
        serverLog().file().open(tmpDir + "tessera.log");
    }
}

void logLine(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    serverLog().info(line);
}

}  // namespace tessera
