// kmaps/engine.h: the engine adapter: the process's map engine, reached through the engine's C
// interface, and for views drawn at a scale factor through the render area's C++ interface
// (render/view.h); its programs link the engine's objects (kestrel_public_static), not the
// shared library. One engine per process: the engine keeps process-global state, so a process
// makes one call at a time and nothing here is thread-safe. Every picture is drawn by the
// rules of kmaps/drawing.h (the map's layer string, the view's tile order): it depends on the
// data set and the call alone, never on what the engine's tile cache holds from the calls
// before.
//
// A view is drawn into a drawing surface of the adapter (src/surface.h): an 8-bit one whose
// colour table is the map's palette, or a 32-bit one when the palette cannot hold every colour
// the view may draw. It is encoded from it straight where it can be (palette PNG and GIF files
// from the 8-bit rows, the engine's RLE8 BMP), or copied into an Image (expanded through the
// colour table) for the stretch, the warp and the other encoders.
#ifndef KMAPS_ENGINE_H
#define KMAPS_ENGINE_H

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kmaps/image.h"

namespace kestrel::render {
struct MapPalette;
}

namespace kmaps {

struct Extent {
    double minx = 0, miny = 0, maxx = 0, maxy = 0;
};

struct Road {
    int district = 0;
    int type = 0;
    std::string code;
    std::string name;  // UTF-8, trailing blanks removed
    double slope = 0;  // of the segment hit: rise north over run east (1 for a vertical one)
};

struct Place {
    std::string name;  // UTF-8
    long x = 0, y = 0;
    std::string note;  // UTF-8, may be empty
};

struct Engine {
    // Loads the data set in `dir` (a '/' is added when missing). False when the engine
    // refuses it.
    bool load(const std::string& dir);

    const std::string& dir() const { return dir_; }
    // The tiles' union (tile files present in the folder), in the native grid.
    const Extent& extent() const { return extent_; }
    // The categories of the points of interest, ascending.
    const std::vector<int>& categories() const { return categories_; }
    // The district codes of the district index (d4.txt), ascending.
    const std::vector<int>& districts() const { return districts_; }
    // A digest of the names, sizes and times of the data set's files.
    const std::string& fingerprint() const { return fingerprint_; }

    // Draws the view with north-west corner (left, top) as kview does: white (or `background`)
    // first, black text on a transparent background. `pois` lists the categories of points of
    // interest (0: all) to lay over the map; `map` false keeps only the points
    // (on a transparent picture). `transparent` makes the background transparent.
    // At `factor` 2 to kMaxFactor (kmaps/drawing.h) the map of `scale` metres a pixel is drawn with
    // that many times the pixels: width x height are the picture's pixels, each scale / factor
    // metres, with the features, names and points of the 1x map of that window
    // (render::ViewOptions). Nothing when the engine refuses.
    std::optional<Image> draw(int left, int top, int width, int height, double scale, bool map,
                              const std::vector<int>& pois, bool transparent, unsigned background,
                              int factor = 1);
    // The same view as a PNG file (encode_png), made from the drawing surface directly;
    // nothing when the engine refuses.
    std::optional<std::string> draw_png(int left, int top, int width, int height, double scale,
                                        bool map, const std::vector<int>& pois, bool transparent,
                                        unsigned background, int factor = 1);
    // The same view as a GIF file (encode_gif), made from the drawing surface directly.
    std::optional<std::string> draw_gif(int left, int top, int width, int height, double scale,
                                        bool map, const std::vector<int>& pois, bool transparent,
                                        unsigned background, int factor = 1);
    // The same view of the map alone on white, cut into `cols` x `rows` tiles of `side` pixels
    // (the view is cols * side x rows * side), each encoded as a PNG file (encode_png), row by
    // row, straight from the drawing surface: the files of encode_png(draw(...).crop(...))
    // without the picture's copies. Nothing when the engine refuses.
    std::optional<std::vector<std::string>> draw_tiles_png(int left, int top, int cols, int rows,
                                                           int side, double scale, int factor);
    // The same view exported by the engine as its RLE8 BMP file image; empty when refused.
    std::string draw_bmp(int left, int top, int width, int height, double scale, bool map,
                         const std::vector<int>& pois, unsigned background, int factor = 1);

    // True (the default): views are drawn into 8-bit surfaces with the map's palette whenever
    // it holds every colour they may draw. False: every view is drawn into a 32-bit surface,
    // for comparing the two and for benchmarks. The pictures and files are the same either way.
    void set_eight_bit(bool on) { eight_bit_ = on; }
    // The bits a pixel (8 or 32) of the surface the last view was drawn into; 0 before any.
    int last_surface_bits() const { return last_bits_; }

    // Why the last draw was refused because of a tile file it needs: "N.dat: reason" for a
    // tile file that is there but damaged (the engine's own decoder refuses it) or cannot be
    // read; empty otherwise. The engine would leave such a tile blank; the service answers
    // with a 500 instead. An absent tile file is no fault: there is no data there.
    const std::string& tile_fault() const { return tile_fault_; }
    void clear_tile_fault() { tile_fault_.clear(); }
    // Told (the file's path, and why it cannot be used or "" when it is sound again) whenever
    // what a tile file's check finds changes, for the program's log; none by default.
    using TileNews = std::function<void(const std::string& path, const std::string& why)>;
    void on_tile_news(TileNews news) { tile_news_ = std::move(news); }

    // The road at (x, y) for a view at `scale`.
    std::optional<Road> road_at(int x, int y, double scale);
    // Reports: nothing when the report cannot be made; an empty list for an empty report.
    std::optional<std::vector<Place>> district_roads(int code);
    std::optional<std::vector<Place>> meeting_roads(int code, const std::string& name_utf8);
    std::optional<std::vector<Place>> pois_of_district(int code, int category);
    std::optional<std::vector<Place>> pois_near(int x, int y, int r, int category);
    std::optional<std::vector<Place>> pois_named(const std::string& text_utf8);

    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

  private:
    struct Surface;
    struct Drawn;  // the pixels of a drawn surface
    // Draws a view into a surface (the kept one, or `once`) as draw() says; false when the
    // engine refuses.
    bool draw_surface(int left, int top, int width, int height, double scale, bool map,
                      const std::vector<int>& pois, bool transparent, unsigned background,
                      int factor, std::unique_ptr<Surface>& once, Drawn& drawn);
    // The file of a view (draw_png, draw_gif): of its palette picture when it has at most 256
    // colours, else of its picture.
    std::optional<std::string> draw_file(int left, int top, int width, int height, double scale,
                                         bool map, const std::vector<int>& pois, bool transparent,
                                         unsigned background, int factor, bool gif);
    // A drawing surface of width x height with the colour table `palette` (nullptr: a 32-bit
    // one): the one kept from the request before when it is the same, else a new one (kept
    // when it is small enough to keep).
    Surface& surface(int width, int height, const kestrel::render::MapPalette* palette,
                     std::unique_ptr<Surface>& once);
    // The palette of a view whose surface is cleared to `clear` (the map's palette with
    // `clear` and the text colour first), or nullptr when it may not hold every colour of the
    // view, or 8-bit surfaces are off. Kept for the loaded data set and the colour table.
    const kestrel::render::MapPalette* palette(unsigned clear);
    struct Palettes;
    // Checks the tile files of the view (those the engine lists for it, within the data set);
    // false, with tile_fault_ set, when one is damaged or unreadable. A file is decoded again
    // only when its inode, size or time have changed since it was last checked.
    bool tiles_sound(int left, int top, int width, int height, double scale);
    // Notes why the tile file `name` cannot be used (tile_fault()); false.
    bool fault(const std::string& name, const std::string& why);
    struct TileChecks;

    std::unique_ptr<Surface> kept_;        // up to 1024 x 1024 pixels
    std::unique_ptr<Surface> kept_large_;  // more, up to 16 MB
    std::unique_ptr<Palettes> palettes_;
    bool eight_bit_ = true;
    int last_bits_ = 0;
    std::string dir_;
    Extent extent_;
    std::vector<int> categories_;
    std::vector<int> districts_;
    std::string fingerprint_;
    std::unique_ptr<TileChecks> checks_;
    std::string tile_fault_;
    TileNews tile_news_;
};

// Text conversions between the data set's Big5 (code page 950) and UTF-8. Bytes that do not
// convert become U+FFFD (to UTF-8) or make the conversion fail (to Big5).
std::string big5_to_utf8(const std::string& big5);
std::optional<std::string> utf8_to_big5(const std::string& utf8);

}  // namespace kmaps

#endif
