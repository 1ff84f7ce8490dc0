// kview.cpp: draws one map view of a data set into an image file.
//
// Loads the data set through the engine's public interface (dllsetpath), makes a memory
// device context of the drawing layer, clears it to white, sets the text to black on a
// transparent background (as the server's picture box does), draws the view with dlldraw,
// optionally lays a track and the points of interest over it, and saves the image as BMP or
// PNG, chosen by the output file's extension. Used to make pictures for the documentation and
// to look at data sets by hand.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kestrel.h"
#include "kgdi.h"

namespace {

constexpr int kDefaultWidth = 356;  // the server's picture box
constexpr int kDefaultHeight = 276;
constexpr double kDefaultScale = 10.0;
constexpr const char* kDefaultLayers = "00210000";
constexpr int kMaxSide = 16384;

const char* const kUsage =
    "Usage: kview --data DIR (--centre X,Y | --top-left X,Y) --output FILE [options]\n"
    "\n"
    "Draws one map view of the data set in DIR into FILE (.bmp or .png).\n"
    "\n"
    "Options:\n"
    "  --data DIR            data set directory (d4.txt, dat44_1.bin, dat44_2.bin,\n"
    "                        alldist.txt, dist.emf and the tile files)\n"
    "  --centre X,Y          world position of the view's centre, metres\n"
    "  --top-left X,Y        world position of the view's top-left corner, metres\n"
    "  --scale M             metres per pixel, 1 or more (default 10)\n"
    "  --size WxH            view size in pixels (default 356x276)\n"
    "  --layers STR          layer string (default 00210000): character 0 '1' paints the\n"
    "                        background, character 2 shows lines 13 ('1') or 13 and 14 ('2'),\n"
    "                        character 3 '1' draws place labels and road names\n"
    "  --track FILE          draw the track of FILE over the view\n"
    "  --pois CATEGORY:MODE  draw the points of interest (category 0: all; mode 1: all points,\n"
    "                        2: avoiding every label, 3: avoiding each other)\n"
    "  --output FILE         image to write; .png writes PNG, anything else BMP\n"
    "  --help                show this text\n";

struct Options {
    std::string data;
    std::string output;
    std::string track;
    std::string layers = kDefaultLayers;
    bool has_centre = false;
    bool has_top_left = false;
    long x = 0;
    long y = 0;
    double scale = kDefaultScale;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    bool pois = false;
    int poi_category = 0;
    int poi_mode = 1;
};

// Parses "A<sep>B" into two integers; false when the text is not exactly that.
bool parse_pair(const char* text, char sep, long* a, long* b) {
    char* end = nullptr;
    errno = 0;
    *a = std::strtol(text, &end, 10);
    if (end == text || *end != sep || errno != 0) return false;
    const char* second = end + 1;
    *b = std::strtol(second, &end, 10);
    return end != second && *end == '\0' && errno == 0;
}

bool fits_int(long v) { return v >= INT32_MIN && v <= INT32_MAX; }

// Reads the command line into `o`. Returns 0 to go on, 1 after an error (reported), 2 after
// --help.
int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "kview: %s needs a value (see --help)\n", arg.c_str());
            return 1;
        }
        const char* value = argv[++i];
        long a = 0;
        long b = 0;
        if (arg == "--data") {
            o.data = value;
        } else if (arg == "--output") {
            o.output = value;
        } else if (arg == "--track") {
            o.track = value;
        } else if (arg == "--layers") {
            o.layers = value;
        } else if (arg == "--centre" || arg == "--center" || arg == "--top-left") {
            if (!parse_pair(value, ',', &a, &b) || !fits_int(a) || !fits_int(b)) {
                std::fprintf(stderr, "kview: %s wants X,Y in whole metres, not '%s'\n",
                             arg.c_str(), value);
                return 1;
            }
            o.x = a;
            o.y = b;
            (arg == "--top-left" ? o.has_top_left : o.has_centre) = true;
        } else if (arg == "--scale") {
            char* end = nullptr;
            o.scale = std::strtod(value, &end);
            if (end == value || *end != '\0' || !(o.scale >= 1.0) || !std::isfinite(o.scale)) {
                std::fprintf(stderr, "kview: --scale wants metres per pixel, 1 or more, not '%s'\n",
                             value);
                return 1;
            }
        } else if (arg == "--size") {
            if (!parse_pair(value, 'x', &a, &b) || a < 1 || b < 1 || a > kMaxSide ||
                b > kMaxSide) {
                std::fprintf(stderr, "kview: --size wants WxH, each 1 to %d, not '%s'\n",
                             kMaxSide, value);
                return 1;
            }
            o.width = static_cast<int>(a);
            o.height = static_cast<int>(b);
        } else if (arg == "--pois") {
            if (!parse_pair(value, ':', &a, &b) || !fits_int(a) || b < 1 || b > 3) {
                std::fprintf(stderr, "kview: --pois wants CATEGORY:MODE with mode 1 to 3, not '%s'\n",
                             value);
                return 1;
            }
            o.pois = true;
            o.poi_category = static_cast<int>(a);
            o.poi_mode = static_cast<int>(b);
        } else {
            std::fprintf(stderr, "kview: unknown option '%s' (see --help)\n", arg.c_str());
            return 1;
        }
    }
    if (o.data.empty() || o.output.empty() || o.has_centre == o.has_top_left) {
        std::fprintf(stderr,
                     "kview: --data, --output and one of --centre or --top-left are needed "
                     "(see --help)\n");
        return 1;
    }
    return 0;
}

bool ends_with(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

// Draws the view and its overlays into `dc` and saves it. Returns the exit status.
int render(const Options& o, HDC dc) {
    const RECT all{0, 0, o.width, o.height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);

    long left = o.x;
    long top = o.y;
    if (o.has_centre) {
        left = o.x - std::lround(o.width * o.scale / 2);
        top = o.y + std::lround(o.height * o.scale / 2);
    }
    if (!fits_int(left) || !fits_int(top)) {
        std::fputs("kview: the view reaches beyond the world's coordinate range\n", stderr);
        return 1;
    }
    if (dlldraw(dc, static_cast<int>(left), static_cast<int>(top), o.width, o.height, o.scale,
                o.layers.c_str()) != 0) {
        std::fputs("kview: the engine refused to draw the view\n", stderr);
        return 1;
    }
    if (!o.track.empty()) {
        if (dllhisload(o.track.c_str()) == -1) {
            std::fprintf(stderr, "kview: no track points could be read from %s\n",
                         o.track.c_str());
            return 1;
        }
        const long right = left + std::lround(o.width * o.scale);
        const long bottom = top - std::lround(o.height * o.scale);
        dllhisdraw(static_cast<int>(left), static_cast<int>(std::max(bottom, long{INT32_MIN})),
                   static_cast<int>(std::min(right, long{INT32_MAX})), static_cast<int>(top));
        dllhisfree();
    }
    if (o.pois) dlldraw44(o.poi_category, o.poi_mode);

    const int format = ends_with(o.output, ".png") ? KGDI_FILE_PNG : KGDI_FILE_BMP;
    if (!KgdiSaveImage(dc, o.output.c_str(), format)) {
        std::fprintf(stderr, "kview: could not write %s\n", o.output.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const int parsed = parse(argc, argv, o);
    if (parsed != 0) return parsed == 2 ? 0 : 2;

    std::string path = o.data;
    if (path.back() != '/') path += '/';
    if (dllsetpath(path.c_str()) != 1) {
        std::fprintf(stderr, "kview: could not load the data set in %s\n", path.c_str());
        return 1;
    }

    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = dc ? CreateCompatibleBitmap(dc, o.width, o.height) : nullptr;
    if (bitmap == nullptr) {
        std::fputs("kview: could not make a drawing surface of that size\n", stderr);
        if (dc) DeleteDC(dc);
        return 1;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    const int status = render(o, dc);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return status;
}
