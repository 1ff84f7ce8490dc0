// console_window.cpp: the console window tesseraForm in plain Win32.
#include "console_window.h"

#include <kcommon/big5.h>
#include <tessera/core/errors.h>

#include "log.h"
#include "text.h"

namespace tessera {

namespace {

constexpr wchar_t kClassName[] = L"tesseraForm";
// The command identifier of a control: 100 + its place in the table.
constexpr int kFirstId = 100;

// The caption of a control, from the table's Big5 bytes.
std::wstring caption(const core::ControlEntry& entry) {
    const auto text = kcommon::big5_to_utf16(entry.caption, kcommon::BadBig5::replace);
    return text ? std::wstring(text->begin(), text->end()) : std::wstring();
}

}  // namespace

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

ConsoleWindow::ConsoleWindow(core::Engine& engine, core::Log& log, std::function<void()> onClose)
    : engine_(engine), log_(log), onClose_(std::move(onClose)) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, core::pixels(core::kClientWidthTwips),
                  core::pixels(core::kClientHeightTwips)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kClassName, wide(core::kFormCaption).c_str(), style, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) {
        logLine("cannot create the console window: error %lu", GetLastError());
        core::raiseError(core::kErrOutOfMemory);
    }
    // A 9-point Traditional Chinese font, so that the captions show where the system's default
    // font has no such glyphs.
    LOGFONTW face = {};
    face.lfHeight = -core::kFontPixels;
    face.lfWeight = FW_NORMAL;
    face.lfCharSet = CHINESEBIG5_CHARSET;
    face.lfQuality = DEFAULT_QUALITY;
    wcscpy(face.lfFaceName, L"PMingLiU");
    font_ = CreateFontIndirectW(&face);
    if (font_ == nullptr) font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    try {
        // The controls in the design's creation order.
        for (const core::ControlEntry& entry : core::kControls) {
            const int left = core::pixels(entry.left), top = core::pixels(entry.top);
            const int width = core::pixels(entry.width), height = core::pixels(entry.height);
            const size_t index = static_cast<size_t>(entry.id);
            if (entry.kind == core::ControlKind::kPicture) {
                picture_ = std::make_unique<PictureBox>(hwnd_, left, top, width, height);
                controls_[index] = picture_->hwnd();
                continue;
            }
            const wchar_t* kind = entry.kind == core::ControlKind::kButton    ? L"BUTTON"
                                  : entry.kind == core::ControlKind::kTextBox ? L"EDIT"
                                                                              : L"STATIC";
            const DWORD extra =
                entry.kind == core::ControlKind::kButton    ? WS_TABSTOP | BS_PUSHBUTTON
                : entry.kind == core::ControlKind::kTextBox ? WS_TABSTOP | ES_AUTOHSCROLL
                                                            : 0;
            HWND control = CreateWindowExW(
                entry.kind == core::ControlKind::kTextBox ? WS_EX_CLIENTEDGE : 0, kind,
                caption(entry).c_str(), WS_CHILD | WS_VISIBLE | extra, left, top, width, height,
                hwnd_,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + static_cast<int>(index))),
                instance, nullptr);
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
            controls_[index] = control;
        }
        converter_ = std::make_unique<ConverterBinding>();
    } catch (...) {
        destroy();
        throw;
    }
    attach(*picture_, *converter_);
    core::formLoad(*this);
}

ConsoleWindow::~ConsoleWindow() {
    ShowWindow(hwnd_, SW_HIDE);
    converter_.reset();
    destroy();
}

void ConsoleWindow::destroy() {
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

std::string ConsoleWindow::text(core::Control control) const {
    HWND window = controls_[static_cast<size_t>(control)];
    const int n = GetWindowTextLengthW(window);
    std::wstring value(static_cast<size_t>(n) + 1, L'\0');
    value.resize(static_cast<size_t>(GetWindowTextW(window, value.data(), n + 1)));
    return utf8(value);
}

void ConsoleWindow::setText(core::Control control, std::string_view text) {
    HWND window = controls_[static_cast<size_t>(control)];
    SetWindowTextW(window, wide(text).c_str());
    // A label shows its new caption at once.
    if (core::controlEntry(control).kind == core::ControlKind::kLabel) UpdateWindow(window);
}

void ConsoleWindow::showError(const std::string& message) {
    MessageBoxW(hwnd_, wide(message).c_str(), wide(core::kFormCaption).c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

LRESULT CALLBACK ConsoleWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* window = reinterpret_cast<ConsoleWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND: {
            const int index = LOWORD(wParam) - kFirstId;
            if (window != nullptr && HIWORD(wParam) == BN_CLICKED && index >= 0 &&
                index < static_cast<int>(std::size(core::kControls))) {
                core::pressButton(*window, window->engine_, window->log_,
                                  static_cast<core::Control>(index));
            }
            return 0;
        }
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
