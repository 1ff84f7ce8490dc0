// com_server.cpp: tesseraClass objects, their class factory, the embedded type library and
// the registration of the server.
//
// IDispatch is served by DispInvoke over the type description of _tesseraClass. Before the
// call every argument is converted to the declared type and passed by reference, as the type
// library declares: scripts pass variables as variants by reference, literals by value, and
// integers in whichever width they hold. Run-time errors reach the client as exceptions with
// the code 0x800A0000 + number and the error's text.
#include "com_server.h"

#include <oleauto.h>
#include <tessera/core/errors.h>

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "log.h"
#include "service_host.h"
#include "tessera.h"
#include "tessera_contract.h"
#include "text.h"

namespace tessera {

namespace {

const std::wstring kProgId = wide(contract::kProgId);
constexpr wchar_t kSource[] = L"tessera";
constexpr UINT kCheckEnd = WM_APP + 1;

ITypeLib* typeLibrary = nullptr;
ITypeInfo* interfaceInfo = nullptr;  // the dispatch view of _tesseraClass
ITypeInfo* vtableInfo = nullptr;     // its interface view, which DispInvoke calls through
ServiceHost* service = nullptr;
LONG liveObjects = 0;
LONG serverLocks = 0;
DWORD factoryCookie = 0;
HWND lifetimeWindow = nullptr;

// Asks the message loop to end the server when nothing keeps it alive.
void scheduleEndCheck() {
    if (lifetimeWindow != nullptr) PostMessageW(lifetimeWindow, kCheckEnd, 0, 0);
}

LRESULT CALLBACK lifetimeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCheckEnd) {
        if (liveObjects == 0 && serverLocks == 0 && service != nullptr &&
            !service->service().windowLoaded()) {
            logLine("no object is alive and the window is not loaded: the server ends");
            PostQuitMessage(0);
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::wstring guidText(REFGUID guid) {
    wchar_t text[64];
    StringFromGUID2(guid, text, 64);
    return text;
}

// The HRESULT of a run-time error: severity error, facility control, code = number (what a
// script reads as Err.Number).
HRESULT hresultOf(const core::RunTimeError& error) {
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error.number());
}

// Hands an error to the caller through the thread's error object as well, for clients that
// call the dual interface directly.
HRESULT reportError(const core::RunTimeError& error, REFIID iid) {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        const std::wstring text = wide(error.text());
        create->SetGUID(iid);
        create->SetSource(const_cast<LPOLESTR>(kSource));
        create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return hresultOf(error);
}

// The arguments of one call, converted to the declared types and passed by reference.
class Arguments {
  public:
    ~Arguments() {
        for (size_t i = 0; i < values_.size(); ++i) {
            if (owned_[i]) VariantClear(&values_[i]);
        }
    }

    // Fills `converted` from `params`; DISP_E_TYPEMISMATCH (with the argument's position in
    // `argErr`) when an argument does not convert. Calls with named arguments or another
    // number of arguments are left as they are for DispInvoke to judge.
    HRESULT convert(const FUNCDESC& func, DISPPARAMS* params, DISPPARAMS& converted, UINT* argErr) {
        converted = *params;
        UINT declared = 0;
        for (SHORT i = 0; i < func.cParams; ++i) {
            if (!(func.lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) {
                ++declared;
            }
        }
        if (params->cNamedArgs != 0 || params->cArgs != declared || declared == 0) return S_OK;
        const UINT n = params->cArgs;
        values_.assign(n, VARIANT{});
        owned_.assign(n, false);
        args_.assign(n, VARIANTARG{});
        for (UINT j = 0; j < n; ++j) {
            const UINT slot = n - 1 - j;  // arguments come in reverse order
            const TYPEDESC& type = func.lprgelemdescParam[j].tdesc;
            VARIANTARG* source = &params->rgvarg[slot];
            VariantInit(&values_[slot]);
            if (type.vt != VT_PTR) {
                args_[slot] = *source;
                continue;
            }
            const VARTYPE target = type.lptdesc->vt;
            HRESULT hr =
                target == VT_SAFEARRAY ? byteArray(source, slot) : scalar(source, target, slot);
            if (FAILED(hr)) {
                if (argErr != nullptr) *argErr = slot;
                return hr;
            }
        }
        converted.rgvarg = args_.data();
        return S_OK;
    }

  private:
    HRESULT scalar(VARIANTARG* source, VARTYPE target, UINT slot) {
        VARIANT value;
        VariantInit(&value);
        HRESULT hr = VariantCopyInd(&value, source);
        if (SUCCEEDED(hr)) hr = VariantChangeType(&values_[slot], &value, 0, target);
        VariantClear(&value);
        if (FAILED(hr)) return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
        owned_[slot] = true;
        V_VT(&args_[slot]) = static_cast<VARTYPE>(VT_BYREF | target);
        if (target == VT_VARIANT) {
            V_VARIANTREF(&args_[slot]) = &values_[slot];
        } else {
            V_BYREF(&args_[slot]) = &V_I4(&values_[slot]);  // the value's storage
        }
        return S_OK;
    }

    // A byte array, reached directly or through a variant, by reference or by value. The
    // array itself is passed on, so that what the method writes into it reaches the caller.
    HRESULT byteArray(VARIANTARG* source, UINT slot) {
        constexpr VARTYPE kBytes = VT_ARRAY | VT_UI1;
        VARIANTARG* arg = source;
        if (V_VT(arg) == (VT_BYREF | VT_VARIANT)) arg = V_VARIANTREF(arg);
        SAFEARRAY** array = nullptr;
        if (V_VT(arg) == (VT_BYREF | kBytes)) {
            array = V_ARRAYREF(arg);
        } else if (V_VT(arg) == kBytes) {
            array = &V_ARRAY(arg);
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        V_VT(&args_[slot]) = VT_BYREF | kBytes;
        V_ARRAYREF(&args_[slot]) = array;
        return S_OK;
    }

    std::vector<VARIANT> values_;
    std::vector<bool> owned_;
    std::vector<VARIANTARG> args_;
};

class TesseraObject final : public _tesseraClass, public ISupportErrorInfo {
  public:
    TesseraObject() { InterlockedIncrement(&liveObjects); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__tesseraClass) {
            *out = static_cast<_tesseraClass*>(this);
        } else if (iid == IID_ISupportErrorInfo) {
            *out = static_cast<ISupportErrorInfo*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
            // Releasing an object does nothing else; the server may end now.
            if (InterlockedDecrement(&liveObjects) == 0) scheduleEndCheck();
        }
        return left;
    }

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == IID__tesseraClass ? S_OK : S_FALSE;
    }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        interfaceInfo->AddRef();
        *info = interfaceInfo;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                               DISPID* ids) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        return DispGetIDsOfNames(interfaceInfo, names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argErr) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (params == nullptr) return E_INVALIDARG;
        ITypeInfo2* info2 = nullptr;
        UINT index = 0;
        FUNCDESC* func = nullptr;
        if (SUCCEEDED(
                vtableInfo->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2)))) {
            if (SUCCEEDED(info2->GetFuncIndexOfMemId(id, INVOKE_FUNC, &index))) {
                info2->GetFuncDesc(index, &func);
            }
            info2->Release();
        }
        if (func == nullptr) return DISP_E_MEMBERNOTFOUND;
        Arguments arguments;
        DISPPARAMS converted;
        HRESULT hr = arguments.convert(*func, params, converted, argErr);
        vtableInfo->ReleaseFuncDesc(func);
        if (FAILED(hr)) return hr;
        failure_ = 0;
        hr = DispInvoke(static_cast<_tesseraClass*>(this), vtableInfo, id, flags, &converted,
                        result, exception, argErr);
        if (failure_ != 0 && FAILED(hr)) {
            if (exception == nullptr) return failure_;
            *exception = EXCEPINFO{};
            exception->scode = failure_;
            exception->bstrSource = SysAllocString(kSource);
            exception->bstrDescription = SysAllocString(failureText_.c_str());
            return DISP_E_EXCEPTION;
        }
        return hr;
    }

    // _tesseraClass
    STDMETHODIMP myend(LONG* result) override {
        return run([&] {
            *result = 0;
            requests().myend();
        });
    }
    STDMETHODIMP show(LONG* result) override {
        return run([&] { *result = requests().show(); });
    }
    STDMETHODIMP test(LONG* a, LONG* b, LONG* result) override {
        return run([&] { *result = requests().test(*a, *b); });
    }
    STDMETHODIMP draw2(LONG* xc, LONG* yc, double* mp, SAFEARRAY** b, LONG* result) override {
        return run([&] { *result = draw2Into(*xc, *yc, *mp, b != nullptr ? *b : nullptr); });
    }
    STDMETHODIMP draw3(LONG* xc, LONG* yc, double* mp, VARIANT* result) override {
        return run([&] {
            VariantInit(result);
            const std::vector<unsigned char> bmp = requests().draw3(*xc, *yc, *mp);
            SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bmp.size()));
            if (array == nullptr) core::raiseError(core::kErrOutOfMemory);
            std::memcpy(array->pvData, bmp.data(), bmp.size());
            V_VT(result) = VT_ARRAY | VT_UI1;
            V_ARRAY(result) = array;
        });
    }
    STDMETHODIMP draw(LONG* xc, LONG* yc, double* mp, BSTR* id, short* mapWidth, short* mapHeight,
                      BSTR* result) override {
        return run([&] {
            const std::wstring_view name(*id != nullptr ? *id : L"", SysStringLen(*id));
            const std::wstring file =
                wide(requests().draw(*xc, *yc, *mp, units(name), *mapWidth, *mapHeight));
            *result = SysAllocStringLen(file.data(), static_cast<UINT>(file.size()));
        });
    }

  private:
    static core::RequestService& requests() { return service->service(); }

    // draw2 with the caller's array: from its element 0 on when it is allocated, has one
    // dimension of bytes and holds element 0; otherwise as an array that is not allocated (the
    // service draws, then refuses it with error 9).
    static int32_t draw2Into(int32_t xc, int32_t yc, double mp, SAFEARRAY* b) {
        LONG lower = 0, upper = -1;
        const bool usable = b != nullptr && b->pvData != nullptr && SafeArrayGetDim(b) == 1 &&
                            SafeArrayGetElemsize(b) == 1 &&
                            SUCCEEDED(SafeArrayGetLBound(b, 1, &lower)) &&
                            SUCCEEDED(SafeArrayGetUBound(b, 1, &upper)) && lower <= 0 && upper >= 0;
        void* data = nullptr;
        if (!usable || FAILED(SafeArrayAccessData(b, &data)))
            return requests().draw2(xc, yc, mp, {});
        unsigned char* first = static_cast<unsigned char*>(data) - lower;  // element 0
        int32_t count = 0;
        try {
            count = requests().draw2(xc, yc, mp, std::span(first, static_cast<size_t>(upper) + 1));
        } catch (...) {
            SafeArrayUnaccessData(b);
            throw;
        }
        SafeArrayUnaccessData(b);
        return count;
    }

    template <typename Body>
    HRESULT run(Body body) {
        const auto error = core::errorOf(body);
        if (!error) return S_OK;
        logLine("run-time error %s", error->message().c_str());
        failure_ = hresultOf(*error);
        failureText_ = wide(error->text());
        return reportError(*error, IID__tesseraClass);
    }

    LONG references_ = 1;
    HRESULT failure_ = 0;
    std::wstring failureText_;
};

class ClassFactory : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) TesseraObject;
        if (object == nullptr) return E_OUTOFMEMORY;
        // The initialisation of every new object.
        if (const auto error = core::errorOf([] { service->service().initialise(); })) {
            logLine("creating an object failed: run-time error %s", error->message().c_str());
            object->Release();
            return reportError(*error, IID__tesseraClass);
        }
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            InterlockedIncrement(&serverLocks);
        } else if (InterlockedDecrement(&serverLocks) == 0) {
            scheduleEndCheck();
        }
        return S_OK;
    }
};

ClassFactory factory;

LONG setValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    LONG status =
        RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status;
}

}  // namespace

std::wstring programPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring programFolder() {
    const std::wstring path = programPath();
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

bool loadTypeLibrary() {
    if (FAILED(LoadTypeLibEx(programPath().c_str(), REGKIND_NONE, &typeLibrary))) return false;
    HREFTYPE vtable = 0;
    if (FAILED(typeLibrary->GetTypeInfoOfGuid(IID__tesseraClass, &interfaceInfo)) ||
        FAILED(interfaceInfo->GetRefTypeOfImplType(-1, &vtable)) ||
        FAILED(interfaceInfo->GetRefTypeInfo(vtable, &vtableInfo))) {
        releaseTypeLibrary();
        return false;
    }
    return true;
}

void releaseTypeLibrary() {
    if (vtableInfo != nullptr) vtableInfo->Release();
    if (interfaceInfo != nullptr) interfaceInfo->Release();
    if (typeLibrary != nullptr) typeLibrary->Release();
    vtableInfo = nullptr;
    interfaceInfo = nullptr;
    typeLibrary = nullptr;
}

bool startClassFactory(ServiceHost& requestService) {
    service = &requestService;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = lifetimeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"tesseraLifetime";
    RegisterClassW(&wc);
    lifetimeWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     wc.hInstance, nullptr);
    const HRESULT hr = CoRegisterClassObject(CLSID_tesseraClass, &factory, CLSCTX_LOCAL_SERVER,
                                             REGCLS_MULTIPLEUSE, &factoryCookie);
    if (FAILED(hr))
        logLine("cannot register the class factory: 0x%08lx", static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
}

void stopClassFactory() {
    if (factoryCookie != 0) CoRevokeClassObject(factoryCookie);
    factoryCookie = 0;
    if (lifetimeWindow != nullptr) DestroyWindow(lifetimeWindow);
    lifetimeWindow = nullptr;
    service = nullptr;
}

void windowUnloaded() {
    scheduleEndCheck();
}

int registerServer(std::wstring& why) {
    const std::wstring path = programPath();
    if (typeLibrary == nullptr) {
        why = L"the program holds no readable type library";
        return 1;
    }
    std::wstring file = path;
    HRESULT hr = RegisterTypeLib(typeLibrary, file.data(), nullptr);
    if (FAILED(hr)) {
        why = L"the type library could not be registered";
        return 1;
    }
    const std::wstring clsid = guidText(CLSID_tesseraClass);
    const std::wstring key = L"CLSID\\" + clsid;
    const std::wstring progId = kProgId;
    LONG status = setValue(HKEY_CLASSES_ROOT, key, nullptr, progId);
    if (status == ERROR_SUCCESS) {
        status =
            setValue(HKEY_CLASSES_ROOT, key + L"\\LocalServer32", nullptr, L"\"" + path + L"\"");
    }
    if (status == ERROR_SUCCESS)
        status = setValue(HKEY_CLASSES_ROOT, key + L"\\ProgID", nullptr, progId);
    if (status == ERROR_SUCCESS) {
        status = setValue(HKEY_CLASSES_ROOT, key + L"\\TypeLib", nullptr, guidText(LIBID_tessera));
    }
    if (status == ERROR_SUCCESS)
        status = setValue(HKEY_CLASSES_ROOT, key + L"\\VERSION", nullptr, wide(contract::kVersion));
    if (status == ERROR_SUCCESS)
        status = setValue(HKEY_CLASSES_ROOT, key + L"\\Programmable", nullptr, L"");
    if (status == ERROR_SUCCESS) status = setValue(HKEY_CLASSES_ROOT, progId, nullptr, progId);
    if (status == ERROR_SUCCESS)
        status = setValue(HKEY_CLASSES_ROOT, progId + L"\\CLSID", nullptr, clsid);
    if (status != ERROR_SUCCESS) {
        why =
            L"the class could not be registered (registry error " + std::to_wstring(status) + L")";
        return 1;
    }
    return 0;
}

int unregisterServer(std::wstring& why) {
    const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    const HRESULT hr = UnRegisterTypeLib(LIBID_tessera, contract::kVersionMajor,
                                         contract::kVersionMinor, LOCALE_NEUTRAL, kind);
    const std::wstring key = L"CLSID\\" + guidText(CLSID_tesseraClass);
    const LONG classStatus = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    const LONG progStatus = RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId.c_str());
    const bool ok =
        (SUCCEEDED(hr) || hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED) &&
        (classStatus == ERROR_SUCCESS || classStatus == ERROR_FILE_NOT_FOUND) &&
        (progStatus == ERROR_SUCCESS || progStatus == ERROR_FILE_NOT_FOUND);
    if (!ok) why = L"the registration could not be removed completely";
    return ok ? 0 : 1;
}

}  // namespace tessera
