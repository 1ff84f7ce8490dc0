/*
 * emf_writer.h: enhanced metafiles written with libuemf's writer for the drawing-layer tests.
 */
#ifndef KGDI_TEST_EMF_WRITER_H
#define KGDI_TEST_EMF_WRITER_H

#include <uemf.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kgdi.h"

namespace kgdi_test {

/* Writes a metafile through libuemf: a reference device of 1000 x 1000 pixels on
 * 100 x 100 mm (ten pixels a millimetre) and a frame of 0..frame_mm01 in 0.01 mm. */
class EmfWriter {
  public:
    explicit EmfWriter(const std::string& path, int frame_mm01 = 1000) : path_(path) {
        emf_start(path.c_str(), 4096, 4096, &et_);
        emf_htable_create(32, 32, &eht_);
        const U_RECTL bounds =
            rectl_set(U_POINTL{0, 0}, U_POINTL{frame_mm01 / 10, frame_mm01 / 10});
        const U_RECTL frame = rectl_set(U_POINTL{0, 0}, U_POINTL{frame_mm01, frame_mm01});
        Add(U_EMRHEADER_set(bounds, frame, nullptr, 0, nullptr, sizel_set(1000, 1000),
                            sizel_set(100, 100), 0));
    }
    ~EmfWriter() {
        emf_free(&et_);
        emf_htable_free(&eht_);
    }
    void Add(char* rec) { emf_append(reinterpret_cast<U_ENHMETARECORD*>(rec), et_, U_REC_FREE); }
    uint32_t Pen(int width, COLORREF c) {
        uint32_t ih = 0;
        emf_htable_insert(&ih, eht_);
        Add(U_EMRCREATEPEN_set(ih, logpen_set(U_PS_SOLID, U_POINT{width, 0},
                                              U_RGB(GetRValue(c), GetGValue(c), GetBValue(c)))));
        return ih;
    }
    uint32_t Brush(COLORREF c) {
        uint32_t ih = 0;
        emf_htable_insert(&ih, eht_);
        Add(U_EMRCREATEBRUSHINDIRECT_set(
            ih, logbrush_set(U_BS_SOLID, U_RGB(GetRValue(c), GetGValue(c), GetBValue(c)), 0)));
        return ih;
    }
    void Select(uint32_t ih) { Add(U_EMRSELECTOBJECT_set(ih)); }
    void Polyline(std::vector<U_POINTL> pts) {
        Add(U_EMRPOLYLINE_set(U_RECTL{}, static_cast<uint32_t>(pts.size()), pts.data()));
    }
    void Polygon16(std::vector<U_POINT16> pts) {
        Add(U_EMRPOLYGON16_set(U_RECTL{}, static_cast<uint32_t>(pts.size()), pts.data()));
    }
    /* Code page 950 text with its top-left at (x, y), in the current text settings. */
    void Text(int x, int y, std::string text) {
        std::vector<uint32_t> advances(text.size(), 6);
        char* emrtext = emrtext_set(U_POINTL{x, y}, static_cast<uint32_t>(text.size()), 1,
                                    text.data(), U_ETO_NONE, U_RECTL{}, advances.data());
        Add(U_EMREXTTEXTOUTA_set(U_RECTL{}, U_GM_COMPATIBLE, 1, 1,
                                 reinterpret_cast<PU_EMRTEXT>(emrtext)));
        std::free(emrtext);
    }
    /* Finishes the file and returns its bytes. */
    std::vector<uint8_t> Finish() {
        Add(U_EMREOF_set(0, nullptr, et_));
        emf_finish(et_, eht_);
        std::ifstream in(path_, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

  private:
    std::string path_;
    EMFTRACK* et_ = nullptr;
    EMFHANDLES* eht_ = nullptr;
};

}  // namespace kgdi_test

#endif  // KGDI_TEST_EMF_WRITER_H
