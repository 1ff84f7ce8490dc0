// tessera/core/limits.h: the limits and fixed values of the request server, in one place for
// the D-Bus and the COM server.
#ifndef TESSERA_CORE_LIMITS_H
#define TESSERA_CORE_LIMITS_H

#include <cstdint>

namespace tessera::core {

// The 8-bit BMP file the export writes: file header, info header and a 256-colour table come
// before the image bytes.
inline constexpr int kBmpHeaderBytes = 1078;
// draw3's buffer: indexes 0 to 500000.
inline constexpr int kDraw3BufferBytes = 500001;
// What draw returns for every failure. The server never writes a file of that name.
inline constexpr char kErrorGif[] = "err.gif";
// The layer string of every view the server draws: no background paint, line types 13 and 14
// drawn, place labels and road names drawn.
inline constexpr char kServerLayers[] = "00210000";

// The longest request identifier, in bytes of its UTF-8 form: the file names made from it
// (ID.bmp and the drawing layer's ID.bmp.partPID, ID MS.gif and the converter's
// ID MS.gif.XXXXXX) then stay below the 255 bytes a file name may hold, whatever the process
// id and the clock, and below the 255 UTF-16 units of a Windows file name.
inline constexpr int kMaxIdBytes = 200;

// The picture box P: a 2-pixel border on each side of its inner image, and the largest inner
// side. 4096 pixels give room for a full-screen map on a 4K display while one request stays
// about a second and its 32-bit image at 64 MiB; the drawing layers would allow 16384 pixels,
// a 1 GiB image whose drawing holds every other client up for seconds.
inline constexpr int kPictureBorder = 2;
inline constexpr int kPictureMaxSide = 4096;

// The background of P, light yellow, as red, green and blue.
struct Rgb {
    uint8_t red, green, blue;
};
inline constexpr Rgb kPictureBackground{255, 255, 192};

// The log: the file is renamed to NAME.1 before a line would take it past this size, and
// client text in a line is cut after this many characters.
inline constexpr int64_t kLogMaxBytes = int64_t{1024} * 1024;
inline constexpr int kLogTextChars = 256;

}  // namespace tessera::core

#endif  // TESSERA_CORE_LIMITS_H
