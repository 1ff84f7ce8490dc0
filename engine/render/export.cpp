// export.cpp: the bitmap export of the last drawn view (sdllgetbmp, sdllgetimgfile).
//
// The pixels of the ViewState's device context are copied into a bitmap of the drawing layer
// and converted into an 8-bit BMP file image with a 256-entry colour table and RLE8-compressed
// pixel data, bottom row first:
//
//   offset    0  BITMAPFILEHEADER  "BM", file size N + 1078, 0, 0, pixel offset 1078
//   offset   14  BITMAPINFOHEADER  40, W, H, 1 plane, 8 bits, BI_RLE8, image size N
//   offset   54  colour table      256 x (blue, green, red, 0)
//   offset 1078  pixel data        N bytes of RLE8
//
// sdllgetbmp writes the image into the caller's buffer, which holds 1078 + W x H bytes;
// sdllgetimgfile assembles it in the shared work buffer and writes it, in one write, to a new
// file named "rle..." in the temporary directory given to sdllinit.
//
// Both refuse with -1, and write nothing beyond the room the caller was promised, when no view
// has been drawn, when the device context is no longer valid, when the compressed data would
// not fit in W x H bytes, and (file variant) when the image cannot fit the work buffer or the
// file cannot be created and written completely. Nothing is allocated on the heap: the info
// header and its colour table are locals, the pixel data goes straight to its final place.
//
// On Windows the platform's GetDIBits does not give this image: Wine declines BI_RLE8, and
// Windows itself maps the colours of an 8-bit conversion to its own palette. There the view's
// pixels are read as 32-bit rows (one heap buffer of W x H words) and encoded by the drawing
// layer's RLE8 encoder (kgdi_rle8.h), so that both builds export the same bytes for the same
// pixels.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "data/store.h"
#include "render/view.h"

namespace kestrel::render {
namespace {

constexpr int kColourEntries = 256;
constexpr uint32_t kFileHeaderBytes = sizeof(BITMAPFILEHEADER);           // 14
constexpr uint32_t kInfoHeaderBytes = sizeof(BITMAPINFOHEADER);           // 40
constexpr uint32_t kColourTableBytes = kColourEntries * sizeof(RGBQUAD);  // 1024
constexpr uint32_t kPixelOffset = kFileHeaderBytes + kInfoHeaderBytes + kColourTableBytes;
static_assert(kPixelOffset == 1078, "an 8-bit BMP header with its colour table is 1078 bytes");
constexpr WORD kBmpSignature = 0x4D42;  // "BM" read as a little-endian 16-bit number
constexpr WORD kBitsPerPixel = 8;
constexpr char kTempPrefix[] = "rle";
constexpr std::size_t kTempNameRoom = 260;  // what GetTempFileNameA may write, NUL included

// The info header followed by room for the full colour table, as the conversion expects it.
struct InfoWithColours {
    BITMAPINFOHEADER header;
    RGBQUAD colours[kColourEntries];
};
static_assert(sizeof(InfoWithColours) == kInfoHeaderBytes + kColourTableBytes);

// Device context, bitmap and the object the bitmap replaced, released in reverse order when
// the export ends, whatever way it ends.
class MemorySurface {
  public:
    MemorySurface() noexcept = default;
    MemorySurface(const MemorySurface&) = delete;
    MemorySurface& operator=(const MemorySurface&) = delete;
    ~MemorySurface() {
        if (dc_ != nullptr && previous_ != nullptr) SelectObject(dc_, previous_);
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
        if (dc_ != nullptr) DeleteDC(dc_);
    }

    // Makes a memory context and a width x height bitmap compatible with `source`, selects the
    // bitmap and copies the source's pixels at (0, 0) into it. False when any step fails.
    bool copy_from(HDC source, int width, int height) noexcept {
        dc_ = CreateCompatibleDC(source);
        if (dc_ == nullptr) return false;
        bitmap_ = CreateCompatibleBitmap(source, width, height);
        if (bitmap_ == nullptr) return false;
        previous_ = SelectObject(dc_, bitmap_);
        if (previous_ == nullptr || previous_ == HGDI_ERROR) {
            previous_ = nullptr;
            return false;
        }
        return BitBlt(dc_, 0, 0, width, height, source, 0, 0, SRCCOPY) != FALSE;
    }

    HDC dc() const noexcept { return dc_; }
    HBITMAP bitmap() const noexcept { return bitmap_; }

  private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

#if defined(_WIN32)
// The RLE8 conversion on Windows: reads the surface's pixels as top-down 32-bit rows and
// encodes them, bottom row first, into `out` (at most `room` bytes), filling the colour table
// and biSizeImage of `info` as GetDIBits does. False when the pixels cannot be read, memory
// runs out or the data does not fit.
bool encode_rle8(const MemorySurface& surface, InfoWithColours& info, uint8_t* out,
                 uint64_t room) noexcept {
    const int width = info.header.biWidth;
    const int height = info.header.biHeight;
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    const std::unique_ptr<uint32_t[]> rows(new (std::nothrow) uint32_t[pixels]);
    if (rows == nullptr) return false;
    BITMAPINFO rgb{};
    rgb.bmiHeader.biSize = kInfoHeaderBytes;
    rgb.bmiHeader.biWidth = width;
    rgb.bmiHeader.biHeight = -height;  // top-down
    rgb.bmiHeader.biPlanes = 1;
    rgb.bmiHeader.biBitCount = 32;
    rgb.bmiHeader.biCompression = BI_RGB;
    if (GetDIBits(surface.dc(), surface.bitmap(), 0, static_cast<UINT>(height), rows.get(), &rgb,
                  DIB_RGB_COLORS) != height)
        return false;
    for (std::size_t i = 0; i < pixels; ++i) rows[i] &= 0xFFFFFFu;  // no alpha in the colours
    uint32_t palette[kgdi::kRle8PaletteSize];
    const kgdi::Rle8Rows bottom_up{rows.get() + std::size_t(height - 1) * std::size_t(width), width,
                                   height, -static_cast<std::ptrdiff_t>(width)};
    std::size_t size = 0;
    try {
        size = kgdi::EncodeRle8(bottom_up, out, static_cast<std::size_t>(room), palette);
    } catch (...) {
        return false;
    }
    if (size == 0 || size > room) return false;
    for (int i = 0; i < kColourEntries; ++i)
        info.colours[i] = RGBQUAD{static_cast<BYTE>(palette[i] & 0xFF),
                                  static_cast<BYTE>((palette[i] >> 8) & 0xFF),
                                  static_cast<BYTE>((palette[i] >> 16) & 0xFF), 0};
    info.header.biSizeImage = static_cast<DWORD>(size);
    return true;
}
#endif

// The number of pixel bytes that the export may fill for the current view (W x H), or 0 when
// no view with a device context and a positive size has been drawn.
uint64_t pixel_room_of_view() noexcept {
    const ViewState& view = view_state();
    if (view.dc == nullptr || view.width <= 0 || view.height <= 0) return 0;
    return uint64_t(uint32_t(view.width)) * uint64_t(uint32_t(view.height));
}

// Writes the BMP file image of the current view into `image`: the compressed pixels at 1078
// and the 1078 header bytes in front of them. `room` is W x H, the most pixel bytes the
// conversion may write. Returns N, the compressed size, or -1 when the view cannot be copied
// or its compressed pixels do not fit the room; then nothing is written beyond 1078 + room.
int build_image(uint8_t* image, uint64_t room) noexcept {
    const ViewState& view = view_state();
    MemorySurface surface;
    if (!surface.copy_from(view.dc, view.width, view.height)) return -1;

    InfoWithColours info{};
    info.header.biSize = kInfoHeaderBytes;
    info.header.biWidth = view.width;
    info.header.biHeight = view.height;  // positive: rows bottom-up
    info.header.biPlanes = 1;
    info.header.biBitCount = kBitsPerPixel;
    info.header.biCompression = BI_RLE8;
    info.header.biSizeImage = static_cast<DWORD>(room);
#if defined(_WIN32)
    if (!encode_rle8(surface, info, image + kPixelOffset, room)) return -1;
#else
    const int rows =
        GetDIBits(surface.dc(), surface.bitmap(), 0, static_cast<UINT>(view.height),
                  image + kPixelOffset, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    if (rows <= 0 || info.header.biSizeImage > room) return -1;
#endif
    const uint32_t compressed = info.header.biSizeImage;

    // The file size comes from the size the conversion reported, not from W x H.
    BITMAPFILEHEADER file{};
    file.bfType = kBmpSignature;
    file.bfSize = compressed + kPixelOffset;
    file.bfReserved1 = 0;
    file.bfReserved2 = 0;
    file.bfOffBits = kPixelOffset;
    std::memcpy(image, &file, kFileHeaderBytes);
    std::memcpy(image + kFileHeaderBytes, &info, sizeof info);
    return static_cast<int>(compressed);
}

// Writes the first `size` bytes of `data` to the file `name` in one write. False when the file
// does not open or is not written and closed completely; the file is then removed.
bool write_whole_file(const char* name, const uint8_t* data, std::size_t size) noexcept {
    std::FILE* file = std::fopen(name, "wb");
    if (file == nullptr) {
        std::remove(name);
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    std::remove(name);
    return false;
}

}  // namespace

// Writes the image of the last view into `buffer`, which must hold 1078 + W x H bytes (W, H: the
// size of the last accepted view). Returns N, the number of compressed pixel bytes after the
// 1078-byte header; -1 for a null buffer, when no view has been drawn, when the view's device
// context is gone, or when the compressed pixels would need more than W x H bytes.
int export_bitmap(unsigned char* buffer) noexcept {
    if (buffer == nullptr) return -1;
    const uint64_t room = pixel_room_of_view();
    if (room == 0) return -1;
    return build_image(buffer, room);
}

// Exports the last view into a new file "rle..." of the temporary directory and writes the
// file's full name into `name` (260 bytes of room). Returns N as sdllgetbmp does; the file
// holds N + 1078 bytes. -1 (and `name` emptied, when it is not null) for a null `name`, no
// view, an image that cannot fit the shared work buffer (1078 + W x H bytes), compressed pixels
// over W x H bytes, no temporary directory, or a file that cannot be created or written; no
// file is left behind then.
int export_bitmap_file(char* name) noexcept {
    if (name == nullptr) return -1;
    name[0] = '\0';
    const uint64_t room = pixel_room_of_view();
    if (room == 0 || kPixelOffset + room > data::WORK_BUFFER_SIZE) return -1;
    const char* dir = data::dataset().temp_dir;
    if (dir[0] == '\0') return -1;

    uint8_t* image = data::work_buffer();
    const int compressed = build_image(image, room);
    if (compressed < 0) return -1;

    char file_name[kTempNameRoom];
    if (GetTempFileNameA(dir, kTempPrefix, 0, file_name) == 0) return -1;
    if (!write_whole_file(file_name, image, kPixelOffset + std::size_t(compressed))) return -1;
    std::memcpy(name, file_name, std::strlen(file_name) + 1);
    return compressed;
}

}  // namespace kestrel::render
