// client_test.cpp: a C++ automation client of tessera.exe, run under Wine by run-tests.sh
// after the server has been registered. It calls through IDispatch by name and by dispatch
// identifier, as scripts and compiled clients do, and checks the type library the server
// carries.
//
// Environment: TESSERA_APP_DIR, the server's folder (Windows path); TESSERA_PHASE, which
// staging run-tests.sh has made: "main" (engine and converter present), "no-engine"
// (kestrel.dll absent), "no-converter" (BMP2GIF.OCX absent and unregistered) or
// "unregistered" (after /unregserver).
#include <windows.h>
// after windows.h
#include <gtest/gtest.h>
#include <oleauto.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring appDir() {
    return wide(env("TESSERA_APP_DIR"));
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A variant argument that frees itself.
struct Arg {
    VARIANT v;
    Arg() { VariantInit(&v); }
    ~Arg() { VariantClear(&v); }
    static Arg i4(LONG x) {
        Arg a;
        V_VT(&a.v) = VT_I4;
        V_I4(&a.v) = x;
        return a;
    }
    static Arg i2(SHORT x) {
        Arg a;
        V_VT(&a.v) = VT_I2;
        V_I2(&a.v) = x;
        return a;
    }
    static Arg r8(double x) {
        Arg a;
        V_VT(&a.v) = VT_R8;
        V_R8(&a.v) = x;
        return a;
    }
    static Arg str(const wchar_t* x) {
        Arg a;
        V_VT(&a.v) = VT_BSTR;
        V_BSTR(&a.v) = SysAllocString(x);
        return a;
    }
    Arg(Arg&& other) noexcept : v(other.v) { V_VT(&other.v) = VT_EMPTY; }
};

// The outcome of one call.
struct Call {
    HRESULT hr = E_FAIL;
    VARIANT result;
    EXCEPINFO exception = {};
    Call() { VariantInit(&result); }
    ~Call() {
        VariantClear(&result);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
    Call(const Call&) = delete;
    // The run-time error number of an automation exception, 0 when there was none.
    int errorNumber() const {
        if (hr != DISP_E_EXCEPTION) return 0;
        return HRESULT_FACILITY(exception.scode) == FACILITY_CONTROL ? HRESULT_CODE(exception.scode)
                                                                     : -1;
    }
    std::wstring errorText() const {
        return exception.bstrDescription ? exception.bstrDescription : L"";
    }
};

class Client {
  public:
    // Creates a tesseraClass object by its programmatic identifier.
    HRESULT create() {
        release();
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(L"tessera.tesseraClass", &clsid);
        if (FAILED(hr)) return hr;
        return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&object_));
    }
    void release() {
        if (object_ != nullptr) object_->Release();
        object_ = nullptr;
    }
    ~Client() { release(); }
    IDispatch* object() const { return object_; }

    DISPID id(const wchar_t* name) {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        return id;
    }

    // Calls the method with the arguments in their natural order (passed by value unless
    // they are by-reference variants).
    void call(Call& out, DISPID member, std::vector<VARIANT*> args) {
        std::vector<VARIANTARG> copy;  // in reverse order
        for (auto a = args.rbegin(); a != args.rend(); ++a) copy.push_back(**a);
        DISPPARAMS params = {copy.empty() ? nullptr : copy.data(), nullptr,
                             static_cast<UINT>(copy.size()), 0};
        UINT argErr = 0;
        out.hr = object_->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT,
                                 DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &out.result,
                                 &out.exception, &argErr);
    }
    void call(Call& out, const wchar_t* name, std::vector<VARIANT*> args) {
        call(out, id(name), std::move(args));
    }

  private:
    IDispatch* object_ = nullptr;
};

std::string phase() {
    const std::string p = env("TESSERA_PHASE");
    return p.empty() ? "main" : p;
}

class Com : public ::testing::Environment {
  public:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override { CoUninitialize(); }
};

// Ends any server that an earlier client left running, so that the next object starts a
// fresh one (myend never returns normally).
void endServer() {
    Client c;
    if (SUCCEEDED(c.create())) {
        Call out;
        c.call(out, L"myend", {});
    }
}

class Server : public ::testing::Test {
  protected:
    void SetUp() override {
        if (phase() != "main") GTEST_SKIP() << "needs the engine and the converter";
        endServer();
        ASSERT_EQ(client.create(), S_OK);
    }
    Client client;
};

// The dispatch identifiers of the interface, known by name.
TEST_F(Server, NamesGiveTheFixedDispatchIdentifiers) {
    const struct {
        const wchar_t* name;
        DISPID id;
    } members[] = {{L"myend", 0x60030002}, {L"show", 0x60030003},  {L"test", 0x60030004},
                   {L"draw2", 0x60030005}, {L"draw3", 0x60030006}, {L"draw", 0x60030007}};
    for (const auto& m : members) EXPECT_EQ(client.id(m.name), m.id) << m.name;
}

// test 1,2 gives 4 then 5 on a fresh server, by name and by identifier alike, arguments by
// value or by reference; an overflow is error 6.
TEST_F(Server, TestCountsRequestsAndRefusesOverflow) {
    Arg a = Arg::i4(1), b = Arg::i4(2);
    Call first;
    client.call(first, L"test", {&a.v, &b.v});
    ASSERT_EQ(first.hr, S_OK);
    EXPECT_EQ(V_VT(&first.result), VT_I4);
    EXPECT_EQ(V_I4(&first.result), 4);

    // A variable passed by reference, as VBScript passes one, in a 16-bit integer.
    VARIANT one;
    V_VT(&one) = VT_I2;
    V_I2(&one) = 1;
    Arg ref;
    V_VT(&ref.v) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&ref.v) = &one;
    Call second;
    client.call(second, 0x60030004, {&ref.v, &b.v});
    ASSERT_EQ(second.hr, S_OK);
    EXPECT_EQ(V_I4(&second.result), 5);

    Arg big = Arg::i4(INT_MAX), plus = Arg::i4(1);
    Call overflow;
    client.call(overflow, 0x60030004, {&big.v, &plus.v});
    EXPECT_EQ(overflow.errorNumber(), 6);
    EXPECT_EQ(overflow.errorText(), L"Overflow");

    Arg text = Arg::str(L"abc");
    Call mismatch;
    client.call(mismatch, L"test", {&text.v, &b.v});
    EXPECT_EQ(mismatch.hr, DISP_E_TYPEMISMATCH);
}

SAFEARRAY* byteArray(LONG lower, ULONG count) {
    SAFEARRAYBOUND bound = {count, lower};
    return SafeArrayCreate(VT_UI1, 1, &bound);
}

// draw2 fills a byte array by reference from element 0: the RLE8 BMP of the view. An array
// without element 0, or too short for the view, is error 9.
TEST_F(Server, Draw2FillsAByteArrayByReference) {
    Client second;  // a second object: the data set is loaded only once
    ASSERT_EQ(second.create(), S_OK);
    Arg x = Arg::i4(301234), y = Arg::i4(2771234), mp = Arg::r8(20);
    SAFEARRAY* array = byteArray(0, 600000);
    Arg b;
    V_VT(&b.v) = VT_ARRAY | VT_UI1 | VT_BYREF;
    V_ARRAYREF(&b.v) = &array;
    Call call;
    client.call(call, L"draw2", {&x.v, &y.v, &mp.v, &b.v});
    ASSERT_EQ(call.hr, S_OK) << std::string(call.errorText().begin(), call.errorText().end());
    const LONG count = V_I4(&call.result);
    ASSERT_GT(count, 0);
    const unsigned char* data = static_cast<const unsigned char*>(array->pvData);
    EXPECT_EQ(data[0], 'B');
    EXPECT_EQ(data[1], 'M');
    const auto* file = reinterpret_cast<const BITMAPFILEHEADER*>(data);
    const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(data + sizeof(BITMAPFILEHEADER));
    EXPECT_EQ(file->bfSize, static_cast<DWORD>(count) + 1078);
    EXPECT_EQ(file->bfOffBits, 1078u);
    EXPECT_EQ(info->biBitCount, 8);
    EXPECT_EQ(info->biCompression, static_cast<DWORD>(BI_RLE8));
    EXPECT_EQ(info->biSizeImage, static_cast<DWORD>(count));
    // The stand-in engine's report: one sdllinit for two objects (the fixture's and this
    // one), with AppDir\kgrid\ and AppDir\tmp\.
    EXPECT_EQ(file->bfReserved1, 1);
    EXPECT_EQ(file->bfReserved2, 1);
    SafeArrayDestroy(array);

    // Bounds 1..n: element 0 is missing.
    SAFEARRAY* oneBased = byteArray(1, 600000);
    V_ARRAYREF(&b.v) = &oneBased;
    Call refused;
    client.call(refused, 0x60030005, {&x.v, &y.v, &mp.v, &b.v});
    EXPECT_EQ(refused.errorNumber(), 9);
    EXPECT_EQ(refused.errorText(), L"Subscript out of range");
    SafeArrayDestroy(oneBased);

    // Too short for the view's W x H bytes after the header.
    SAFEARRAY* shortArray = byteArray(0, 2000);
    V_ARRAYREF(&b.v) = &shortArray;
    Call tooShort;
    client.call(tooShort, L"draw2", {&x.v, &y.v, &mp.v, &b.v});
    EXPECT_EQ(tooShort.errorNumber(), 9);
    SafeArrayDestroy(shortArray);
}

// draw3 returns the whole BMP file: its length is draw2's count plus the header.
TEST_F(Server, Draw3ReturnsTheWholeBmpFile) {
    Arg x = Arg::i4(301234), y = Arg::i4(2771234), mp = Arg::r8(20);
    SAFEARRAY* array = byteArray(0, 600000);
    Arg b;
    V_VT(&b.v) = VT_ARRAY | VT_UI1 | VT_BYREF;
    V_ARRAYREF(&b.v) = &array;
    Call two;
    client.call(two, L"draw2", {&x.v, &y.v, &mp.v, &b.v});
    ASSERT_EQ(two.hr, S_OK);
    SafeArrayDestroy(array);

    Call three;
    client.call(three, 0x60030006, {&x.v, &y.v, &mp.v});
    ASSERT_EQ(three.hr, S_OK);
    ASSERT_EQ(V_VT(&three.result), VT_ARRAY | VT_UI1);
    SAFEARRAY* bmp = V_ARRAY(&three.result);
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(bmp, 1, &lower);
    SafeArrayGetUBound(bmp, 1, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper + 1, V_I4(&two.result) + 1078);
    const unsigned char* data = static_cast<const unsigned char*>(bmp->pvData);
    EXPECT_EQ(data[0], 'B');
    EXPECT_EQ(data[1], 'M');
}

// draw writes ID + minute + second + ".gif" into AppDir\tmp and leaves no BMP behind; an ID
// that is not a plain file name gives "err.gif".
TEST_F(Server, DrawWritesAGifAndReturnsItsName) {
    Arg x = Arg::i4(301234), y = Arg::i4(2771234), mp = Arg::r8(20);
    Arg id = Arg::str(L"C5"), w = Arg::i2(160), h = Arg::i2(120);
    Call call;
    client.call(call, L"draw", {&x.v, &y.v, &mp.v, &id.v, &w.v, &h.v});
    ASSERT_EQ(call.hr, S_OK);
    ASSERT_EQ(V_VT(&call.result), VT_BSTR);
    const std::wstring name = V_BSTR(&call.result);
    ASSERT_EQ(name.rfind(L"C5", 0), 0u) << std::string(name.begin(), name.end());
    EXPECT_EQ(name.substr(name.size() - 4), L".gif");
    EXPECT_TRUE(fileExists(appDir() + L"\\tmp\\" + name));
    EXPECT_FALSE(fileExists(appDir() + L"\\tmp\\C5.bmp"));

    for (const wchar_t* bad : {L"..\\C5", L"a/b", L"c:x", L""}) {
        Arg badId = Arg::str(bad);
        Call refused;
        client.call(refused, 0x60030007, {&x.v, &y.v, &mp.v, &badId.v, &w.v, &h.v});
        ASSERT_EQ(refused.hr, S_OK);
        EXPECT_STREQ(V_BSTR(&refused.result), L"err.gif");
    }

    // draw2 afterwards draws at the size draw set: 160 x 120 outer, 156 x 116 inner.
    SAFEARRAY* array = byteArray(0, 600000);
    Arg b;
    V_VT(&b.v) = VT_ARRAY | VT_UI1 | VT_BYREF;
    V_ARRAYREF(&b.v) = &array;
    Call two;
    client.call(two, L"draw2", {&x.v, &y.v, &mp.v, &b.v});
    ASSERT_EQ(two.hr, S_OK);
    const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(
        static_cast<const unsigned char*>(array->pvData) + sizeof(BITMAPFILEHEADER));
    EXPECT_EQ(info->biWidth, 156);
    EXPECT_EQ(info->biHeight, 116);
    SafeArrayDestroy(array);
}

TEST_F(Server, ShowReturnsZero) {
    Call call;
    client.call(call, L"show", {});
    ASSERT_EQ(call.hr, S_OK);
    EXPECT_EQ(V_I4(&call.result), 0);
}

// Client text reaches the server's log (AppDir\tmp\tessera.log, "TIME tessera[PID] LEVEL:
// TEXT") escaped, so that it can neither forge a line nor hide one; a device name is refused
// as a request identifier.
TEST_F(Server, ClientTextReachesTheLogEscaped) {
    Arg x = Arg::i4(301234), y = Arg::i4(2771234), mp = Arg::r8(20);
    Arg w = Arg::i2(160), h = Arg::i2(120);
    for (const wchar_t* bad :
         {L"x\r\n2026-12-08T14:05:09.000 tessera[1] info: forged\x1b[2J\x202e", L"CON"}) {
        Arg id = Arg::str(bad);
        Call refused;
        client.call(refused, L"draw", {&x.v, &y.v, &mp.v, &id.v, &w.v, &h.v});
        ASSERT_EQ(refused.hr, S_OK);
        EXPECT_STREQ(V_BSTR(&refused.result), L"err.gif");
    }
    std::string log;
    if (FILE* file = _wfopen((appDir() + L"\\tmp\\tessera.log").c_str(), L"rb")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) log.append(buffer, n);
        fclose(file);
    }
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
    EXPECT_EQ(log.find('\r'), std::string::npos);
    EXPECT_NE(log.find("x\\r\\n2026-12-08T14:05:09.000 tessera[1] info: forged\\x1b[2J"
                       "\\u{202e}"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("refused the request identifier \"CON\""), std::string::npos) << log;
    for (size_t start = 0; start < log.size(); start = log.find('\n', start) + 1) {
        const std::string line = log.substr(start, log.find('\n', start) - start);
        EXPECT_TRUE(line.size() > 24 && line[4] == '-' && line[10] == 'T' &&
                    line.find(" tessera[") == 23)
            << line;
    }
}

// myend ends the server at once, even while another object is held; the next object starts
// a fresh server.
TEST_F(Server, MyendEndsTheServerWhileAnotherObjectIsHeld) {
    Client other;
    ASSERT_EQ(other.create(), S_OK);
    Arg a = Arg::i4(1), b = Arg::i4(2);
    Call counted;
    other.call(counted, L"test", {&a.v, &b.v});
    ASSERT_EQ(V_I4(&counted.result), 4);

    Call end;
    client.call(end, L"myend", {});
    EXPECT_NE(end.hr, S_OK);  // the process ends inside the call
    Call orphan;
    other.call(orphan, L"test", {&a.v, &b.v});
    EXPECT_TRUE(FAILED(orphan.hr));

    other.release();
    client.release();
    ASSERT_EQ(client.create(), S_OK);
    Call fresh;
    client.call(fresh, L"test", {&a.v, &b.v});
    EXPECT_EQ(V_I4(&fresh.result), 4);
}

struct Control {
    HWND hwnd;
    std::wstring kind;
    RECT rect;  // in the form's client coordinates
};

BOOL CALLBACK collectChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

std::vector<Control> controlsOf(HWND form) {
    std::vector<HWND> children;
    EnumChildWindows(form, collectChild, reinterpret_cast<LPARAM>(&children));
    std::vector<Control> controls;
    for (HWND child : children) {
        wchar_t kind[64];
        GetClassNameW(child, kind, 64);
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
        controls.push_back({child, kind, rect});
    }
    return controls;
}

std::wstring textOf(HWND control) {
    wchar_t text[256] = L"";
    SendMessageW(control, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

// The console window, seen from outside as an operator sees it: its controls at their design
// positions (twips / 15) with their captions, the size boxes filled at load, and the buttons.
TEST_F(Server, ConsoleWindowAsDesigned) {
    Call show;
    client.call(show, L"show", {});
    ASSERT_EQ(show.hr, S_OK);
    HWND form = FindWindowW(L"tesseraForm", L"tessera");
    ASSERT_NE(form, nullptr);
    RECT client_area;
    GetClientRect(form, &client_area);
    EXPECT_EQ(client_area.right, 6015 / 15);
    EXPECT_EQ(client_area.bottom, 5655 / 15);

    const struct {
        const wchar_t* kind;
        const wchar_t* text;
        int left, top, width, height;  // twips
    } design[] = {
        {L"Button", L"\u6e05\u5716", 3240, 0, 615, 255},  // clear picture
        {L"Button", L"\u5bec\u9ad8", 4080, 0, 615, 255},  // width, height
        {L"Edit", L" 276", 5400, 0, 495, 270},
        {L"Edit", L" 356", 4800, 0, 495, 270},
        {L"Button", L"\u79c0\u5716", 2520, 0, 615, 255},  // show picture
        {L"Edit", L"20", 2040, 0, 375, 270},
        {L"Edit", L"2771234", 1200, 0, 735, 270},
        {L"Edit", L"301234", 360, 0, 735, 270},
        {L"tesseraPicture", L"", 240, 720, 5400, 4200},
        {L"Static", L"\u524d\u6b21\u6642\u9593", 1080, 360, 720, 180},  // last time
        {L"Static", L"", 1800, 360, 2055, 255},
        {L"Static", L"\u72c0\u614b", 120, 360, 360, 180},  // status
        {L"Static", L"xy", 120, 0, 180, 180},
        {L"Static", L"", 480, 360, 495, 255},
    };
    const std::vector<Control> controls = controlsOf(form);
    auto find = [&](int left, int top) -> const Control* {
        for (const Control& c : controls) {
            if (c.rect.left == left / 15 && c.rect.top == top / 15) return &c;
        }
        return nullptr;
    };
    for (const auto& d : design) {
        const Control* c = find(d.left, d.top);
        ASSERT_NE(c, nullptr) << d.left << "," << d.top;
        EXPECT_EQ(_wcsicmp(c->kind.c_str(), d.kind), 0) << d.left << "," << d.top;
        EXPECT_EQ(c->rect.right - c->rect.left, d.width / 15) << d.left << "," << d.top;
        EXPECT_EQ(c->rect.bottom - c->rect.top, d.height / 15) << d.left << "," << d.top;
        EXPECT_EQ(textOf(c->hwnd), d.text) << d.left << "," << d.top;
    }
    const Control* picture = find(240, 720);
    ASSERT_NE(picture, nullptr);

    // The draw button with the initial texts leaves both labels alone.
    SendMessageW(find(2520, 0)->hwnd, BM_CLICK, 0, 0);
    EXPECT_EQ(textOf(find(480, 360)->hwnd), L"");
    EXPECT_EQ(textOf(find(1800, 360)->hwnd), L"");

    // The size button sets the outer size of P from the two boxes; draw2 then exports that.
    SendMessageW(find(4800, 0)->hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"200"));
    SendMessageW(find(5400, 0)->hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"150abc"));
    SendMessageW(find(4080, 0)->hwnd, BM_CLICK, 0, 0);
    RECT inner;
    GetClientRect(picture->hwnd, &inner);
    EXPECT_EQ(inner.right, 196);
    EXPECT_EQ(inner.bottom, 146);

    Arg x = Arg::i4(301234), y = Arg::i4(2771234), mp = Arg::r8(20);
    SAFEARRAY* array = byteArray(0, 600000);
    Arg b;
    V_VT(&b.v) = VT_ARRAY | VT_UI1 | VT_BYREF;
    V_ARRAYREF(&b.v) = &array;
    Call two;
    client.call(two, L"draw2", {&x.v, &y.v, &mp.v, &b.v});
    ASSERT_EQ(two.hr, S_OK);
    const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(
        static_cast<const unsigned char*>(array->pvData) + sizeof(BITMAPFILEHEADER));
    EXPECT_EQ(info->biWidth, 196);
    EXPECT_EQ(info->biHeight, 146);
    SafeArrayDestroy(array);
    // After draw2 the status is empty and the time stamp reads "yy_mm_dd hh:mm:ss".
    EXPECT_EQ(textOf(find(480, 360)->hwnd), L"");
    EXPECT_EQ(textOf(find(1800, 360)->hwnd).size(), 17u);
}

// Closing the window while no object is alive ends the server; while an object is alive
// the server stays.
TEST_F(Server, ClosingTheWindowEndsTheServerWhenNoObjectIsAlive) {
    Call show;
    client.call(show, L"show", {});
    ASSERT_EQ(show.hr, S_OK);
    HWND form = FindWindowW(L"tesseraForm", L"tessera");
    ASSERT_NE(form, nullptr);
    DWORD pid = 0;
    GetWindowThreadProcessId(form, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(process, nullptr);

    // Released with the window loaded: the server stays.
    client.release();
    EXPECT_EQ(WaitForSingleObject(process, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
    // The operator closes the window: nothing keeps the server any more.
    PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(process);
}

// The type library in the program: library tessera 111.0, an application object with a
// predeclared instance that clients can create, a hidden dual interface.
TEST(TypeLibrary, DescribesTheClassAndItsInterface) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx((appDir() + L"\\tessera.exe").c_str(), REGKIND_NONE, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->wMajorVerNum, 111);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    library->ReleaseTLibAttr(attributes);
    BSTR name = nullptr;
    library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
    EXPECT_STREQ(name, L"tessera");
    SysFreeString(name);

    bool sawClass = false, sawInterface = false;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        ASSERT_EQ(library->GetTypeInfo(i, &info), S_OK);
        BSTR typeName = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr);
        TYPEATTR* type = nullptr;
        info->GetTypeAttr(&type);
        const std::wstring n = typeName;
        if (n == L"tesseraClass") {
            sawClass = true;
            EXPECT_EQ(type->typekind, TKIND_COCLASS);
            EXPECT_EQ(type->wTypeFlags &
                          (TYPEFLAG_FAPPOBJECT | TYPEFLAG_FPREDECLID | TYPEFLAG_FCANCREATE),
                      TYPEFLAG_FAPPOBJECT | TYPEFLAG_FPREDECLID | TYPEFLAG_FCANCREATE);
        } else if (n == L"_tesseraClass") {
            sawInterface = true;
            const WORD flags = TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDUAL;
            EXPECT_EQ(type->wTypeFlags & flags, flags);
            // The interface side of the dual interface is automation-compatible.
            HREFTYPE vtable = 0;
            ITypeInfo* vtableInfo = nullptr;
            ASSERT_EQ(info->GetRefTypeOfImplType(-1, &vtable), S_OK);
            ASSERT_EQ(info->GetRefTypeInfo(vtable, &vtableInfo), S_OK);
            TYPEATTR* vtableType = nullptr;
            vtableInfo->GetTypeAttr(&vtableType);
            EXPECT_EQ(vtableType->typekind, TKIND_INTERFACE);
            EXPECT_TRUE(vtableType->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) << vtableType->wTypeFlags;
            vtableInfo->ReleaseTypeAttr(vtableType);
            vtableInfo->Release();
        }
        info->ReleaseTypeAttr(type);
        SysFreeString(typeName);
        info->Release();
    }
    EXPECT_TRUE(sawClass);
    EXPECT_TRUE(sawInterface);
    library->Release();
}

// The version block: version 1.00, the names, and the self-registration entry.
TEST(VersionBlock, NamesTheProgramAndOffersSelfRegistration) {
    const std::wstring path = appDir() + L"\\tessera.exe";
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    auto value = [&](const wchar_t* name) -> std::wstring {
        void* text = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        if (!VerQueryValueW(block.data(), key.c_str(), &text, &length)) return L"(absent)";
        return static_cast<const wchar_t*>(text);
    };
    EXPECT_EQ(value(L"FileVersion"), L"1.00");
    EXPECT_EQ(value(L"ProductVersion"), L"1.00");
    EXPECT_EQ(value(L"ProductName"), L"tessera");
    EXPECT_EQ(value(L"InternalName"), L"tessera");
    EXPECT_EQ(value(L"OriginalFilename"), L"tessera.exe");
    EXPECT_EQ(value(L"OLESelfRegister"), L"");
}

std::wstring registryValue(const std::wstring& key) {
    wchar_t value[1024] = L"";
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS) {
        return L"(absent)";
    }
    return value;
}

const wchar_t kClassKey[] = L"CLSID\\{4317A04E-F241-4502-9F89-E9E123E44613}";

// /regserver points the class at this program and names its programmatic identifier and type
// library.
TEST(Registration, NamesTheProgramAndTheTypeLibrary) {
    if (phase() != "main") GTEST_SKIP() << "needs the registered server";
    const std::wstring key = kClassKey;
    EXPECT_EQ(registryValue(key + L"\\LocalServer32"), L"\"" + appDir() + L"\\tessera.exe\"");
    EXPECT_EQ(registryValue(key + L"\\ProgID"), L"tessera.tesseraClass");
    EXPECT_EQ(registryValue(key + L"\\TypeLib"), L"{2D8AB3C4-BFFE-4247-9C28-DF6297F9E359}");
    EXPECT_EQ(registryValue(L"tessera.tesseraClass\\CLSID"),
              L"{4317A04E-F241-4502-9F89-E9E123E44613}");
}

// /unregserver leaves nothing of the class behind.
TEST(Registration, UnregisterRemovesTheClass) {
    if (phase() != "unregistered") GTEST_SKIP() << "needs an unregistered server";
    CLSID clsid;
    EXPECT_TRUE(FAILED(CLSIDFromProgID(L"tessera.tesseraClass", &clsid)));
    EXPECT_EQ(registryValue(std::wstring(kClassKey) + L"\\LocalServer32"), L"(absent)");
    EXPECT_EQ(registryValue(L"Interface\\{FFB1E4C6-D57D-44C0-AC69-A8BA852460AE}"), L"(absent)");
}

// Without kestrel.dll creating an object fails with error 48.
TEST(NoEngine, CreationFailsWithErrorInLoadingDll) {
    if (phase() != "no-engine") GTEST_SKIP() << "needs a server folder without kestrel.dll";
    Client client;
    const HRESULT hr = client.create();
    EXPECT_EQ(hr, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 48));
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK) {
        BSTR text = nullptr;
        info->GetDescription(&text);
        EXPECT_STREQ(text, L"Error in loading DLL");
        SysFreeString(text);
        info->Release();
    }
}

// Without the converter the window cannot load: draw gives "err.gif", show fails.
TEST(NoConverter, WindowCannotLoad) {
    if (phase() != "no-converter") GTEST_SKIP() << "needs a server folder without BMP2GIF.OCX";
    endServer();
    Client client;
    ASSERT_EQ(client.create(), S_OK);
    Arg x = Arg::i4(301234), y = Arg::i4(2771234), mp = Arg::r8(20);
    Arg id = Arg::str(L"N1"), w = Arg::i2(160), h = Arg::i2(120);
    Call draw;
    client.call(draw, L"draw", {&x.v, &y.v, &mp.v, &id.v, &w.v, &h.v});
    ASSERT_EQ(draw.hr, S_OK);
    EXPECT_STREQ(V_BSTR(&draw.result), L"err.gif");
    Call show;
    client.call(show, L"show", {});
    EXPECT_EQ(show.errorNumber(), 48);
    Call end;
    client.call(end, L"myend", {});
}

// With the real engine and the sample data set: draw3's BMP is written to the file that
// TESSERA_BMP_OUT names, for run-tests.sh to decode with Pillow.
TEST(RealEngine, Draw3ExportsTheViewAsRle8Bmp) {
    if (phase() != "real-engine") GTEST_SKIP() << "needs the real engine and the sample data";
    const std::string out = env("TESSERA_BMP_OUT");
    ASSERT_FALSE(out.empty());
    Client client;
    ASSERT_EQ(client.create(), S_OK);
    Arg x = Arg::i4(300000), y = Arg::i4(2771000), mp = Arg::r8(10);
    Call three;
    client.call(three, L"draw3", {&x.v, &y.v, &mp.v});
    ASSERT_EQ(three.hr, S_OK);
    ASSERT_EQ(V_VT(&three.result), VT_ARRAY | VT_UI1);
    SAFEARRAY* bmp = V_ARRAY(&three.result);
    LONG upper = -1;
    SafeArrayGetUBound(bmp, 1, &upper);
    ASSERT_GT(upper, 1078);
    std::FILE* file = std::fopen(out.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite(bmp->pvData, 1, size_t(upper) + 1, file), size_t(upper) + 1);
    std::fclose(file);
    Call end;
    client.call(end, L"myend", {});
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new Com);
    return RUN_ALL_TESTS();
}
