// log.cpp: the server's log.
#include "log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace tessera {

void logLine(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    OutputDebugStringA(line);
    char path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("TESSERA_LOG", path, sizeof path);
    if (n == 0 || n >= sizeof path) return;
    if (FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "tessera[%lu]: %s\n", GetCurrentProcessId(), line);
        std::fclose(file);
    }
}

}  // namespace tessera
