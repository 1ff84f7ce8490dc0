// main.cpp: tessera.exe, the out-of-process automation server of tesseraClass.
//
//   tessera.exe /regserver     register the class, its programmatic identifier, the interface
//                              and the type library, then end
//   tessera.exe /unregserver   remove them again, then end
//   tessera.exe -Embedding     serve: started so by COM when a client creates the first object
//
// Exit status: 0 success, 1 failure, 2 an unknown option.
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

#include "com_server.h"
#include "console_window.h"
#include "engine_binding.h"
#include "log.h"
#include "service_host.h"
#include "text.h"

namespace {

constexpr wchar_t kUsage[] =
    L"usage: tessera.exe /regserver | /unregserver | -Embedding\n"
    L"  /regserver    register tessera.tesseraClass and its type library\n"
    L"  /unregserver  remove that registration\n"
    L"  -Embedding    serve the class (COM starts the server so)\n";

bool isOption(const wchar_t* argument, const wchar_t* name) {
    return (argument[0] == L'/' || argument[0] == L'-') && _wcsicmp(argument + 1, name) == 0;
}

int serve() {
    using namespace tessera;
    int status = 0;
    {
        const std::string appDir = utf8(programFolder());
        openServerLog(ServiceHost::folders(appDir).tmp);
        logLine("starting in %s", core::logText(appDir).c_str());
        ServiceHost host(appDir, serverLog(), windowUnloaded);
        ConsoleWindow::registerClass(GetModuleHandleW(nullptr));
        if (!startClassFactory(host)) return 1;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        stopClassFactory();
        logLine("ended");
    }
    return status;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace tessera;
    EngineBinding::restrictLibrarySearch();
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    enum class Mode { kNone, kRegister, kUnregister, kServe } mode = Mode::kNone;
    for (int i = 1; i < count; ++i) {
        if (isOption(arguments[i], L"regserver")) {
            mode = Mode::kRegister;
        } else if (isOption(arguments[i], L"unregserver")) {
            mode = Mode::kUnregister;
        } else if (isOption(arguments[i], L"Embedding") || isOption(arguments[i], L"Automation")) {
            mode = Mode::kServe;
        } else if (isOption(arguments[i], L"?") || isOption(arguments[i], L"help")) {
            std::fputws(kUsage, stdout);
            return 0;
        } else {
            std::fwprintf(stderr, L"tessera: unknown option %ls\n%ls", arguments[i], kUsage);
            return 2;
        }
    }
    LocalFree(arguments);
    if (mode == Mode::kNone) {
        // Started by hand: nothing creates an object, so the server has nothing to do.
        std::fputws(kUsage, stderr);
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int status = 1;
    if (!loadTypeLibrary()) {
        std::fputws(L"tessera: the program's type library cannot be read\n", stderr);
    } else if (mode == Mode::kServe) {
        status = serve();
    } else {
        std::wstring why;
        status = mode == Mode::kRegister ? registerServer(why) : unregisterServer(why);
        if (status != 0) std::fwprintf(stderr, L"tessera: %ls\n", why.c_str());
    }
    releaseTypeLibrary();
    CoUninitialize();
    return status;
}
