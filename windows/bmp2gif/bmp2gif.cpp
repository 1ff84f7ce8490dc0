// bmp2gif.cpp: BMP2GIF.OCX, the converter control BMP2GIFLib.BMP2GIF.
//
// An in-process automation object with two members, called late-bound by dispatch
// identifier (or by the names Convert and Failed):
//   1 Convert(bmpPath, gifPath, flag): reads the BMP file and writes the GIF file through the
//     Windows Imaging Component: with the image's own colours when it has at most 256, else
//     with an optimised palette of 256. The flag is
//     accepted for the callers' sake and changes nothing.
//   3 Failed: True when the last conversion did not write the GIF file.
// A failed conversion leaves no GIF file behind. The module registers itself (regsvr32).
#include <windows.h>
// after windows.h
#include <oleauto.h>
#include <olectl.h>
#include <wincodec.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "bmp2gif_ids.h"

namespace {

HMODULE thisModule = nullptr;
LONG liveObjects = 0;
LONG moduleLocks = 0;

struct Names {
    const wchar_t* name;
    DISPID id;
};
constexpr Names kMembers[] = {{L"Convert", kBmp2GifConvert}, {L"Failed", kBmp2GifFailed}};

// Reads a string argument, by value or by reference.
bool stringArgument(VARIANTARG* arg, std::wstring& out) {
    VARIANT value;
    VariantInit(&value);
    if (FAILED(VariantCopyInd(&value, arg)) ||
        FAILED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
        VariantClear(&value);
        return false;
    }
    out.assign(V_BSTR(&value) ? V_BSTR(&value) : L"", SysStringLen(V_BSTR(&value)));
    VariantClear(&value);
    return true;
}

template <typename T>
void release(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

// The pixels of `source` as 8-bit indexes into an exact palette of its colours; false when it
// holds more than 256 colours.
bool exactIndexes(IWICImagingFactory* factory, IWICBitmapSource* source, UINT width, UINT height,
                  std::vector<BYTE>& indexes, std::vector<WICColor>& colours) {
    IWICFormatConverter* bgr = nullptr;
    HRESULT hr = factory->CreateFormatConverter(&bgr);
    if (SUCCEEDED(hr)) {
        hr = bgr->Initialize(source, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr,
                             0.0, WICBitmapPaletteTypeCustom);
    }
    std::vector<UINT32> pixels(static_cast<size_t>(width) * height);
    if (SUCCEEDED(hr)) {
        hr = bgr->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size() * 4),
                             reinterpret_cast<BYTE*>(pixels.data()));
    }
    release(bgr);
    if (FAILED(hr)) return false;
    std::unordered_map<UINT32, BYTE> index;
    indexes.resize(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) {
        const UINT32 colour = pixels[i] | 0xFF000000u;  // opaque
        auto found = index.find(colour);
        if (found == index.end()) {
            if (colours.size() == 256) return false;
            found = index.emplace(colour, static_cast<BYTE>(colours.size())).first;
            colours.push_back(colour);
        }
        indexes[i] = found->second;
    }
    return true;
}

// The image of `source` in 8-bit indexed form with its palette: exact when the image has at
// most 256 colours, else an optimised palette of 256.
HRESULT indexedImage(IWICImagingFactory* factory, IWICBitmapSource* source, UINT width, UINT height,
                     IWICBitmapSource** image, IWICPalette** palette) {
    HRESULT hr = factory->CreatePalette(palette);
    if (FAILED(hr)) return hr;
    std::vector<BYTE> indexes;
    std::vector<WICColor> colours;
    if (exactIndexes(factory, source, width, height, indexes, colours)) {
        hr = (*palette)->InitializeCustom(colours.data(), static_cast<UINT>(colours.size()));
        IWICBitmap* bitmap = nullptr;
        if (SUCCEEDED(hr)) {
            hr = factory->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat8bppIndexed,
                                                 width, static_cast<UINT>(indexes.size()),
                                                 indexes.data(), &bitmap);
        }
        if (SUCCEEDED(hr)) hr = bitmap->SetPalette(*palette);
        if (SUCCEEDED(hr)) {
            *image = bitmap;
        } else {
            release(bitmap);
        }
        return hr;
    }
    hr = (*palette)->InitializeFromBitmap(source, 256, FALSE);
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr)) {
        hr = converter->Initialize(source, GUID_WICPixelFormat8bppIndexed, WICBitmapDitherTypeNone,
                                   *palette, 0.0, WICBitmapPaletteTypeCustom);
    }
    if (SUCCEEDED(hr)) {
        *image = converter;
    } else {
        release(converter);
    }
    return hr;
}

// Converts the BMP file to a GIF file; false when the GIF file was not written.
bool convertFile(const std::wstring& bmpPath, const std::wstring& gifPath) {
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* source = nullptr;
    IWICPalette* palette = nullptr;
    IWICBitmapSource* indexed = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    UINT width = 0, height = 0;
    WICPixelFormatGUID format = GUID_WICPixelFormat8bppIndexed;
    bool opened = false;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) {
        hr = factory->CreateDecoderFromFilename(bmpPath.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, &decoder);
    }
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &source);
    if (SUCCEEDED(hr)) hr = source->GetSize(&width, &height);
    if (SUCCEEDED(hr) && (width == 0 || height == 0 || width > 16384 || height > 16384)) {
        hr = E_INVALIDARG;
    }
    if (SUCCEEDED(hr)) hr = indexedImage(factory, source, width, height, &indexed, &palette);
    if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) {
        hr = stream->InitializeFromFilename(gifPath.c_str(), GENERIC_WRITE);
        opened = SUCCEEDED(hr);
    }
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatGif, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(hr)) hr = frame->Initialize(options);
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat8bppIndexed) hr = E_FAIL;
    if (SUCCEEDED(hr)) hr = frame->SetPalette(palette);
    if (SUCCEEDED(hr)) hr = frame->WriteSource(indexed, nullptr);
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    release(options);
    release(frame);
    release(encoder);
    release(stream);
    release(indexed);
    release(palette);
    release(source);
    release(decoder);
    release(factory);
    if (FAILED(hr) && opened) DeleteFileW(gifPath.c_str());
    return SUCCEEDED(hr);
}

class Bmp2Gif final : public IDispatch {
  public:
    Bmp2Gif() { InterlockedIncrement(&liveObjects); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
            InterlockedDecrement(&liveObjects);
        }
        return left;
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            if (i == 0) {
                for (const Names& member : kMembers) {
                    if (_wcsicmp(names[0], member.name) == 0) ids[0] = member.id;
                }
            }
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT* argErr) override {
        if (params == nullptr) return E_INVALIDARG;
        if (result != nullptr) VariantInit(result);
        if (id == kBmp2GifConvert && (flags & DISPATCH_METHOD)) {
            if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
            if (params->cArgs != 3) return DISP_E_BADPARAMCOUNT;
            std::wstring bmp, gif;
            // Arguments come in reverse order: flag, GIF path, BMP path.
            if (!stringArgument(&params->rgvarg[2], bmp)) {
                if (argErr != nullptr) *argErr = 2;
                return DISP_E_TYPEMISMATCH;
            }
            if (!stringArgument(&params->rgvarg[1], gif)) {
                if (argErr != nullptr) *argErr = 1;
                return DISP_E_TYPEMISMATCH;
            }
            failed_ = !convertFile(bmp, gif);
            return S_OK;
        }
        if (id == kBmp2GifFailed && (flags & DISPATCH_PROPERTYGET)) {
            if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
            if (result != nullptr) {
                V_VT(result) = VT_BOOL;
                V_BOOL(result) = failed_ ? VARIANT_TRUE : VARIANT_FALSE;
            }
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

  private:
    LONG references_ = 1;
    bool failed_ = false;
};

class Factory : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
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
        auto* object = new (std::nothrow) Bmp2Gif;
        if (object == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            InterlockedIncrement(&moduleLocks);
        } else {
            InterlockedDecrement(&moduleLocks);
        }
        return S_OK;
    }
};

Factory factory;

std::wstring clsidText() {
    wchar_t text[64];
    StringFromGUID2(kBmp2GifClsid, text, 64);
    return text;
}

LONG setValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &handle, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (clsid != kBmp2GifClsid) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, out);
}

HRESULT WINAPI DllCanUnloadNow() {
    return liveObjects == 0 && moduleLocks == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI DllRegisterServer() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(thisModule, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
    const std::wstring key = L"CLSID\\" + clsidText();
    LONG status = setValue(key, nullptr, L"BMP2GIF Control");
    if (status == ERROR_SUCCESS) status = setValue(key + L"\\InprocServer32", nullptr, path);
    if (status == ERROR_SUCCESS) {
        status = setValue(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    }
    if (status == ERROR_SUCCESS) status = setValue(key + L"\\ProgID", nullptr, kBmp2GifProgId);
    if (status == ERROR_SUCCESS) status = setValue(key + L"\\Control", nullptr, L"");
    if (status == ERROR_SUCCESS) status = setValue(kBmp2GifProgId, nullptr, L"BMP2GIF Control");
    if (status == ERROR_SUCCESS) {
        status = setValue(std::wstring(kBmp2GifProgId) + L"\\CLSID", nullptr, clsidText());
    }
    return status == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

HRESULT WINAPI DllUnregisterServer() {
    const std::wstring key = L"CLSID\\" + clsidText();
    const LONG a = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    const LONG b = RegDeleteTreeW(HKEY_CLASSES_ROOT, kBmp2GifProgId);
    auto ok = [](LONG s) { return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND; };
    return ok(a) && ok(b) ? S_OK : SELFREG_E_CLASS;
}

}  // extern "C"
