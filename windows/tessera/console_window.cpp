// console_window.cpp: the console window tesseraForm, its controls and their handlers.
#include "console_window.h"

#include "log.h"
#include "numbers.h"
#include "run_time_error.h"
#include "tessera_bas.h"

namespace tessera {

namespace {

constexpr wchar_t kClassName[] = L"tesseraForm";
constexpr UINT kBig5 = 950;

// Client area of the window, in twips.
constexpr int kClientWidthTwips = 6015;
constexpr int kClientHeightTwips = 5655;

enum ControlId : int { kCommand1 = 101, kCommand2, kCommand3 };

// The design's captions, in Big5.
constexpr char kClearCaption[] = "\xb2\x4d\xb9\xcf";                     // clear picture
constexpr char kSizeCaption[] = "\xbc\x65\xb0\xaa";                      // width, height
constexpr char kDrawCaption[] = "\xa8\x71\xb9\xcf";                      // show picture
constexpr char kLastTimeCaption[] = "\xab\x65\xa6\xb8\xae\xc9\xb6\xa1";  // last time
constexpr char kStatusCaption[] = "\xaa\xac\xba\x41";                    // status

int px(int twips) {
    return twips / ConsoleWindow::kTwipsPerPixel;
}

}  // namespace

std::wstring fromBig5(const char* text) {
    const int n = MultiByteToWideChar(kBig5, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(kBig5, MB_ERR_INVALID_CHARS, text, -1, wide.data(), n);
    wide.resize(n - 1);
    return wide;
}

void ConsoleWindow::registerClass(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (wc.hIcon == nullptr)
        wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);
    PictureBox::registerClass(instance);
}

ConsoleWindow::ConsoleWindow(EngineBinding& engine, std::function<void()> onClose)
    : engine_(engine), onClose_(std::move(onClose)) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, px(kClientWidthTwips), px(kClientHeightTwips)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kClassName, L"tessera", style, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            instance, this);
    if (hwnd_ == nullptr) {
        logLine("cannot create the console window: error %lu", GetLastError());
        raiseError(kErrOutOfMemory);
    }
    // A 9-point Traditional Chinese font, so that the Big5 captions show where the system's
    // default font has no such glyphs.
    LOGFONTW face = {};
    face.lfHeight = -12;
    face.lfWeight = FW_NORMAL;
    face.lfCharSet = CHINESEBIG5_CHARSET;
    face.lfQuality = DEFAULT_QUALITY;
    wcscpy(face.lfFaceName, L"PMingLiU");
    font_ = CreateFontIndirectW(&face);
    if (font_ == nullptr) font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    auto make = [&](const wchar_t* kind, const std::wstring& caption, DWORD extra, int left,
                    int top, int width, int height, int id) {
        HWND control = CreateWindowExW(
            wcscmp(kind, L"EDIT") == 0 ? WS_EX_CLIENTEDGE : 0, kind, caption.c_str(),
            WS_CHILD | WS_VISIBLE | extra, px(left), px(top), px(width), px(height), hwnd_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return control;
    };
    const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
    const DWORD edit = WS_TABSTOP | ES_AUTOHSCROLL;
    // In the design's creation order.
    make(L"BUTTON", fromBig5(kClearCaption), button, 3240, 0, 615, 255, kCommand3);
    make(L"BUTTON", fromBig5(kSizeCaption), button, 4080, 0, 615, 255, kCommand2);
    text5_ = make(L"EDIT", L"Text5", edit, 5400, 0, 495, 270, 0);
    text4_ = make(L"EDIT", L"Text4", edit, 4800, 0, 495, 270, 0);
    make(L"BUTTON", fromBig5(kDrawCaption), button, 2520, 0, 615, 255, kCommand1);
    text3_ = make(L"EDIT", L"20", edit, 2040, 0, 375, 270, 0);
    text2_ = make(L"EDIT", L"2771234", edit, 1200, 0, 735, 270, 0);
    text1_ = make(L"EDIT", L"301234", edit, 360, 0, 735, 270, 0);
    try {
        picture_ = std::make_unique<PictureBox>(hwnd_, px(240), px(720), px(5400), px(4200));
        make(L"STATIC", fromBig5(kLastTimeCaption), 0, 1080, 360, 720, 180, 0);
        label4_ = make(L"STATIC", L"", 0, 1800, 360, 2055, 255, 0);
        make(L"STATIC", fromBig5(kStatusCaption), 0, 120, 360, 360, 180, 0);
        make(L"STATIC", L"xy", 0, 120, 0, 180, 180, 0);
        label1_ = make(L"STATIC", L"", 0, 480, 360, 495, 255, 0);
        converter_ = std::make_unique<ConverterBinding>();
    } catch (...) {
        picture_.reset();
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
        if (font_ != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(font_);
        throw;
    }
    // Form_Load: the size boxes show the inner size of P.
    SetWindowTextW(text4_, singleText(static_cast<float>(picture_->innerWidth())).c_str());
    SetWindowTextW(text5_, singleText(static_cast<float>(picture_->innerHeight())).c_str());
}

ConsoleWindow::~ConsoleWindow() {
    converter_.reset();
    picture_.reset();
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
    if (font_ != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(font_);
}

void ConsoleWindow::show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
    UpdateWindow(hwnd_);
}

void ConsoleWindow::setLabel1(const std::wstring& text) {
    SetWindowTextW(label1_, text.c_str());
    UpdateWindow(label1_);
}

void ConsoleWindow::setLabel4(const std::wstring& text) {
    SetWindowTextW(label4_, text.c_str());
    UpdateWindow(label4_);
}

std::wstring ConsoleWindow::text(HWND control) const {
    const int n = GetWindowTextLengthW(control);
    std::wstring value(n + 1, L'\0');
    value.resize(GetWindowTextW(control, value.data(), n + 1));
    return value;
}

void ConsoleWindow::onCommand(int id) {
    try {
        switch (id) {
            case kCommand1: {
                const int32_t x = roundToInt32(readNumber(text(text1_)));
                const int32_t y = roundToInt32(readNumber(text(text2_)));
                drawview(*picture_, engine_, x, y, readNumber(text(text3_)));
                break;
            }
            case kCommand2:
                picture_->setOuterWidth(roundToInt32(toSingle(readNumber(text(text4_)))));
                picture_->setOuterHeight(roundToInt32(toSingle(readNumber(text(text5_)))));
                break;
            case kCommand3:
                picture_->clearImage();
                picture_->refreshImage();
                break;
            default:
                break;
        }
    } catch (const RunTimeError& error) {
        // An untrapped error of a handler: the operator sees it; the window stays.
        const std::wstring message =
            L"Run-time error " + std::to_wstring(error.number()) + L":\n\n" + error.text();
        MessageBoxW(hwnd_, message.c_str(), L"tessera", MB_OK | MB_ICONEXCLAMATION);
    }
}

LRESULT CALLBACK ConsoleWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* window = reinterpret_cast<ConsoleWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND:
            if (window != nullptr && HIWORD(wParam) == BN_CLICKED)
                window->onCommand(LOWORD(wParam));
            return 0;
        case WM_CLOSE:
            // Closing is allowed: the owner unloads the window, which destroys this object, so
            // the handler runs from a copy.
            if (window != nullptr && window->onClose_) {
                const std::function<void()> close = window->onClose_;
                close();
            }
            return 0;
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace tessera
