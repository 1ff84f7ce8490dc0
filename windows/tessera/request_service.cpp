// request_service.cpp: the methods of tesseraClass.
#include "request_service.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "log.h"
#include "numbers.h"
#include "run_time_error.h"
#include "tessera_bas.h"

namespace tessera {

namespace {

// Adds two int32 values, raising error 6 when the sum leaves the int32 range.
int32_t checkedAdd(int32_t a, int32_t b) {
    const int64_t sum = static_cast<int64_t>(a) + static_cast<int64_t>(b);
    if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max()) {
        raiseError(kErrOverflow);
    }
    return static_cast<int32_t>(sum);
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::string toAnsi(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string ansi(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi.data(), n, nullptr, nullptr);
    ansi.resize(n - 1);
    return ansi;
}

RequestService::RequestService(std::wstring appDir, std::function<void()> onWindowUnloaded)
    : appDir_(std::move(appDir)), onWindowUnloaded_(std::move(onWindowUnloaded)) {}

RequestService::~RequestService() = default;

void RequestService::initialise() {
    if (engine_.sdllisinit() == -1) {
        const int result = engine_.sdllinit(toAnsi(dataDir()), toAnsi(tmpDir()));
        logLine("data set loaded with result %d", result);
    }
}

int32_t RequestService::test(int32_t a, int32_t b) {
    counter_ = checkedAdd(counter_, 1);
    return checkedAdd(checkedAdd(a, b), counter_);
}

ConsoleWindow& RequestService::window() {
    if (window_ == nullptr) {
        window_ = std::make_unique<ConsoleWindow>(engine_, [this] {
            unloadWindow();
            if (onWindowUnloaded_) onWindowUnloaded_();
        });
        logLine("console window loaded");
    }
    return *window_;
}

void RequestService::unloadWindow() {
    if (window_ == nullptr) return;
    ShowWindow(window_->hwnd(), SW_HIDE);
    window_.reset();
    logLine("console window unloaded");
}

int32_t RequestService::show() {
    window().show();
    return 0;
}

void RequestService::myend() {
    unloadWindow();
    logLine("myend: the server ends");
    ExitProcess(0);
}

void RequestService::setDone(ConsoleWindow& form) {
    form.setLabel1(L"");
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[32];
    swprintf(stamp, 32, L"%02u_%02u_%02u %02u:%02u:%02u", now.wYear % 100, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    form.setLabel4(stamp);
}

int32_t RequestService::drawInto(ConsoleWindow& form, int32_t xc, int32_t yc, double mp) {
    PictureBox& box = form.picture();
    const int32_t result = drawview(box, engine_, xc, yc, mp);
    if (result == 0) lastViewPixels_ = static_cast<int64_t>(box.innerWidth()) * box.innerHeight();
    return result;
}

// The room the export may fill after the header: W x H of the view it reads, which is the
// last accepted view (the current box when the view was just drawn, an earlier size when the
// engine refused the scale).
int64_t RequestService::exportRoom() {
    const PictureBox& box = window_->picture();
    const int64_t current = static_cast<int64_t>(box.innerWidth()) * box.innerHeight();
    return std::max(current, lastViewPixels_);
}

int32_t RequestService::draw2(int32_t xc, int32_t yc, double mp, SAFEARRAY* b) {
    ConsoleWindow& form = window();
    form.setLabel1(L"busy");
    drawInto(form, xc, yc, mp);
    // Allocated, one dimension, index 0 inside the bounds, and room for the whole image.
    if (b == nullptr || b->pvData == nullptr || SafeArrayGetDim(b) != 1 ||
        SafeArrayGetElemsize(b) != 1) {
        raiseError(kErrSubscript);
    }
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(b, 1, &lower);
    SafeArrayGetUBound(b, 1, &upper);
    if (lower > 0 || upper < 0 ||
        static_cast<int64_t>(upper) + 1 < kBmpHeaderBytes + exportRoom()) {
        raiseError(kErrSubscript);
    }
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(b, &data))) raiseError(kErrSubscript);
    unsigned char* first = static_cast<unsigned char*>(data) - lower;  // element 0
    int32_t count = 0;
    try {
        count = engine_.sdllgetbmp(first);
    } catch (...) {
        SafeArrayUnaccessData(b);
        throw;
    }
    SafeArrayUnaccessData(b);
    setDone(form);
    return count;
}

SAFEARRAY* RequestService::draw3(int32_t xc, int32_t yc, double mp) {
    ConsoleWindow& form = window();
    form.setLabel1(L"busy");
    drawInto(form, xc, yc, mp);
    if (kBmpHeaderBytes + exportRoom() > kDraw3BufferBytes) raiseError(kErrSubscript);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, kDraw3BufferBytes);
    if (array == nullptr) raiseError(kErrOutOfMemory);
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    int32_t count = -1;
    try {
        count = engine_.sdllgetbmp(static_cast<unsigned char*>(data));
    } catch (...) {
        SafeArrayUnaccessData(array);
        SafeArrayDestroy(array);
        throw;
    }
    SafeArrayUnaccessData(array);
    const int error = count < 0                                     ? kErrInvalidCall
                      : count > kDraw3BufferBytes - kBmpHeaderBytes ? kErrSubscript
                                                                    : 0;
    SAFEARRAYBOUND bound = {static_cast<ULONG>(count) + kBmpHeaderBytes, 0};
    if (error != 0 || FAILED(SafeArrayRedim(array, &bound))) {
        SafeArrayDestroy(array);
        raiseError(error != 0 ? error : kErrOutOfMemory);
    }
    setDone(form);
    return array;
}

bool RequestService::isPlainFileName(const std::wstring& id) {
    if (id.empty() || id == L"." || id == L"..") return false;
    for (wchar_t c : id) {
        if (c == L'/' || c == L'\\' || c == L':' || c < 0x20 || c == 0x7F || c == L'*' ||
            c == L'?' || c == L'"' || c == L'<' || c == L'>' || c == L'|') {
            return false;
        }
    }
    return true;
}

// The steps of draw; every error raised here becomes "err.gif" in draw.
std::wstring RequestService::drawSteps(int32_t xc, int32_t yc, double mp, const std::wstring& id,
                                       int16_t mapWidth, int16_t mapHeight) {
    ConsoleWindow& form = window();
    PictureBox& box = form.picture();
    box.setOuterHeight(roundToInt32(toSingle(mapHeight)));
    box.setOuterWidth(roundToInt32(toSingle(mapWidth)));
    form.setLabel1(L"busy");
    drawInto(form, xc, yc, mp);

    const std::wstring bmpPath = tmpDir() + id + L".bmp";
    if (!box.saveBmp(bmpPath)) raiseError(isFolder(tmpDir()) ? kErrFileAccess : kErrPathNotFound);
    // One reading of the clock gives both the minute and the second, so that the two always
    // belong to the same moment.
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::wstring gifName =
        id + std::to_wstring(now.wMinute) + std::to_wstring(now.wSecond) + L".gif";
    ConverterBinding& converter = form.converter();
    converter.convert(bmpPath, tmpDir() + gifName, false);
    const bool failed = converter.failed();
    if (!DeleteFileW(bmpPath.c_str())) raiseError(kErrFileAccess);
    if (failed) {
        logLine("draw: the converter failed");
        return kErrorGif;
    }
    return gifName;
}

std::wstring RequestService::draw(int32_t xc, int32_t yc, double mp, const std::wstring& id,
                                  int16_t mapWidth, int16_t mapHeight) {
    if (!isPlainFileName(id)) {
        logLine("draw: refused a request identifier that is not a plain file name");
        return kErrorGif;
    }
    try {
        return drawSteps(xc, yc, mp, id, mapWidth, mapHeight);
    } catch (const RunTimeError& error) {
        logLine("draw: error %d", error.number());
        return kErrorGif;
    }
}

}  // namespace tessera
