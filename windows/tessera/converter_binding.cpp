// converter_binding.cpp: the GIF converter control, called late-bound.
#include "converter_binding.h"

#include <tessera/core/errors.h>

#include "../bmp2gif/bmp2gif_ids.h"
#include "log.h"
#include "text.h"

namespace tessera {

namespace {

void check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        logLine("converter: %s failed with 0x%08lx", what, static_cast<unsigned long>(hr));
        core::raiseError(core::kErrInvalidCall);
    }
}

}  // namespace

ConverterBinding::ConverterBinding() {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kBmp2GifProgId, &clsid);
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&control_));
    }
    if (FAILED(hr)) {
        // Not registered: the control beside the program.
        module_ = LoadLibraryExW(kBmp2GifFileName, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
        auto getClassObject =
            module_ == nullptr
                ? nullptr
                : reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
                      reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        IClassFactory* factory = nullptr;
        if (getClassObject != nullptr &&
            SUCCEEDED(getClassObject(kBmp2GifClsid, IID_IClassFactory,
                                     reinterpret_cast<void**>(&factory)))) {
            hr = factory->CreateInstance(nullptr, IID_IDispatch,
                                         reinterpret_cast<void**>(&control_));
            factory->Release();
        }
    }
    if (control_ == nullptr) {
        logLine("cannot create the converter control: 0x%08lx", static_cast<unsigned long>(hr));
        if (module_ != nullptr) FreeLibrary(module_);
        core::raiseError(core::kErrLoadingLibrary);
    }
}

ConverterBinding::~ConverterBinding() {
    control_->Release();
    // The control's module stays loaded: COM may still hold references into it.
}

void ConverterBinding::convert(const std::string& bmpPath, const std::string& gifPath, bool flag) {
    BSTR bmp = SysAllocString(wide(bmpPath).c_str());
    VARIANT_BOOL flagValue = flag ? VARIANT_TRUE : VARIANT_FALSE;
    VARIANTARG args[3];  // in reverse order
    VariantInit(&args[0]);
    V_VT(&args[0]) = VT_BOOL | VT_BYREF;
    V_BOOLREF(&args[0]) = &flagValue;
    VariantInit(&args[1]);
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = SysAllocString(wide(gifPath).c_str());
    VariantInit(&args[2]);
    V_VT(&args[2]) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&args[2]) = &bmp;
    DISPPARAMS params = {args, nullptr, 3, 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = control_->Invoke(kBmp2GifConvert, IID_NULL, LOCALE_USER_DEFAULT,
                                        DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    VariantClear(&result);
    VariantClear(&args[1]);
    SysFreeString(bmp);
    check(hr, "member 1");
}

bool ConverterBinding::failed() {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT value;
    VariantInit(&value);
    check(control_->Invoke(kBmp2GifFailed, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                           &none, &value, nullptr, nullptr),
          "member 3");
    const HRESULT hr = VariantChangeType(&value, &value, 0, VT_BOOL);
    if (FAILED(hr)) core::raiseError(core::kErrTypeMismatch);
    return V_BOOL(&value) != VARIANT_FALSE;
}

}  // namespace tessera
