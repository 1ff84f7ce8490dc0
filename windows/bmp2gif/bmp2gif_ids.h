// bmp2gif_ids.h: the identity of the converter control BMP2GIFLib.BMP2GIF and the dispatch
// identifiers of its two members.
#ifndef BMP2GIF_IDS_H
#define BMP2GIF_IDS_H

#include <windows.h>
// after windows.h
#include <oaidl.h>

// {5b3a81bd-6e90-41ec-9253-237f0d033e32}
inline constexpr CLSID kBmp2GifClsid = {
    0x5b3a81bd, 0x6e90, 0x41ec, {0x92, 0x53, 0x23, 0x7f, 0x0d, 0x03, 0x3e, 0x32}};
inline constexpr wchar_t kBmp2GifProgId[] = L"BMP2GIFLib.BMP2GIF";
inline constexpr wchar_t kBmp2GifFileName[] = L"BMP2GIF.OCX";

// Member 1, a method: convert (BMP path by reference, GIF path, flag by reference).
inline constexpr DISPID kBmp2GifConvert = 1;
// Member 3, a property: True when the last conversion failed.
inline constexpr DISPID kBmp2GifFailed = 3;

#endif  // BMP2GIF_IDS_H
