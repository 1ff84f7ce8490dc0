// scale_factor_test.cpp: a view drawn at scale factor 2 or 3 against the same view at 1x. The
// scene has an area, roads of several pen widths with names, lines, and place labels of which
// one pushes a road name along its road. At factor F the picture is F times the 1x size, every
// primitive of the 1x view is drawn in the same order at F times its pixels (pens F times as
// wide), the same place labels and road names are chosen at exactly F times their positions
// (and the label boxes are F times theirs), about F²
// times the pixels are inked with no colour that the 1x picture lacks, and the text is F times
// as large in the text colour only. The highlight drawn over the view follows its factor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "kestrel.h"
#include "render_fixture.h"

namespace render_test {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;
constexpr double kScale = 8;  // place labels (above 5 m/px) and road names (10 or less) both
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kTextColour = RGB(0, 0, 128);  // used by nothing else of the scene

// What one draw of the scene left: the primitives, the picture's colours and its inked pixels.
struct Drawn {
    std::vector<Prim> prims;
    std::vector<render::LabelBox> boxes;
    std::set<COLORREF> colours;
    int inked = 0;      // pixels that are not the white background
    int text_ink = 0;   // pixels in the text colour
    int text_rows = 0;  // rows holding a pixel in the text colour
};

Drawn draw_scene(int factor) {
    Canvas canvas(kWidth * factor, kHeight * factor);
    SetTextColor(canvas.dc(), kTextColour);
    SetBkMode(canvas.dc(), TRANSPARENT);
    Drawn out;
    EXPECT_EQ(render::draw_view(canvas.dc(), kLeft, kTop, kWidth * factor, kHeight * factor, kScale,
                                "1011", render::ViewOptions{factor}),
              0);
    EXPECT_EQ(dllselroad("Main"), 0);  // one road of that name, highlighted
    out.prims = canvas.prims();
    const render::LabelBoxList& list = render::label_boxes();
    out.boxes.assign(list.boxes, list.boxes + list.last + 1);
    std::set<int> rows;
    for (int y = 0; y < kHeight * factor; ++y)
        for (int x = 0; x < kWidth * factor; ++x) {
            const COLORREF c = GetPixel(canvas.dc(), x, y);
            out.colours.insert(c);
            out.inked += c != kWhite;
            if (c == kTextColour) {
                ++out.text_ink;
                rows.insert(y);
            }
        }
    out.text_rows = static_cast<int>(rows.size());
    return out;
}

class ScaleFactor : public RenderTest, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        render::set_colour(0, 255, 255, 255, -1);  // a white background
        auto at = [](int px, int py) { return world_at(kLeft, kTop, kScale, px, py); };
        std::vector<WorldPt> down;  // the road whose name the label "Town" pushes down
        for (int y : {0, 40, 290}) down.push_back(at(20, y));
        SlotFill(0, kTile)
            .line(11, {at(250, 20), at(380, 20), at(380, 120), at(250, 120), at(250, 20)})
            .line(5, {at(0, 200), at(150, 190), at(260, 230), at(400, 226)}, "Main")
            .line(1, {at(330, 0), at(300, 150), at(310, 300)}, "\xA5\x78\xA5\x5F")
            .line(9, {at(60, 290), at(140, 230), at(240, 150), at(300, 60)}, "Lane")
            .line(10, {at(50, 140), at(200, 100)})
            .line(13, {at(100, 10), at(220, 80)})
            .place(21, at(10, 60), "Town")
            .line(5, down, "abc")
            .place(24, at(150, 40), "Ward");
    }
};

TEST_P(ScaleFactor, DrawsTheSameFeaturesAndLabelsWithFTimesThePixels) {
    const int f = GetParam();
    const Drawn one = draw_scene(1);
    const Drawn big = draw_scene(f);
    ASSERT_EQ(big.prims.size(), one.prims.size());
    int texts = 0;
    for (size_t i = 0; i < one.prims.size(); ++i) {
        const Prim& a = one.prims[i];
        const Prim& b = big.prims[i];
        ASSERT_EQ(b.kind, a.kind) << "primitive " << i;
        if (a.kind == KGDI_REC_TEXT) {
            // Labels are placed on the 1x grid: each lands at F times its 1x place.
            ++texts;
            EXPECT_EQ(b.text, a.text) << "text " << i;
            EXPECT_EQ(b.x, f * a.x) << "text " << i << " " << a.text;
            EXPECT_EQ(b.y, f * a.y) << "text " << i << " " << a.text;
            continue;
        }
        EXPECT_EQ(b.pen_null, a.pen_null);
        if (!a.pen_null) {
            EXPECT_EQ(b.pen_width, f * std::max(a.pen_width, 1)) << "primitive " << i;
        }
        EXPECT_EQ(b.pen_color, a.pen_color);
        ASSERT_EQ(b.points.size(), a.points.size()) << "primitive " << i;
        for (size_t k = 0; k < a.points.size(); ++k) {
            // d * F / S truncated lies within F - 1 of F times d / S truncated; the background
            // polygon reaches F times its margin beyond the view.
            EXPECT_LE(std::abs(b.points[k].x - f * a.points[k].x), f - 1) << i << ":" << k;
            EXPECT_LE(std::abs(b.points[k].y - f * a.points[k].y), f - 1) << i << ":" << k;
        }
    }
    // "Town", "Ward", the road names "abc" (pushed below the label), "Main", "Lane" and the
    // two Big5 characters.
    EXPECT_EQ(texts, 2 + 3 + 4 + 4 + 2);
    ASSERT_EQ(big.boxes.size(), one.boxes.size());
    for (size_t i = 0; i < one.boxes.size(); ++i) {
        const render::LabelBox& a = one.boxes[i];
        const render::LabelBox& b = big.boxes[i];
        EXPECT_EQ(b.left, f * a.left) << "box " << i;
        EXPECT_EQ(b.top, f * a.top) << "box " << i;
        EXPECT_EQ(b.right, f * a.right) << "box " << i;
        EXPECT_EQ(b.bottom, f * a.bottom) << "box " << i;
    }

    const int area = f * f;
    EXPECT_GT(big.inked, one.inked * area * 3 / 4) << "1x inks " << one.inked;
    EXPECT_LT(big.inked, one.inked * area * 5 / 4) << "1x inks " << one.inked;
    EXPECT_TRUE(std::includes(one.colours.begin(), one.colours.end(), big.colours.begin(),
                              big.colours.end()))
        << big.colours.size() << " colours at " << f << "x, " << one.colours.size() << " at 1x";
    // The text: F times as high, about F² times the pixels, drawn in the text colour alone
    // (no colour beyond the 1x ones, above).
    EXPECT_GT(big.text_ink, one.text_ink * area / 2) << "1x text " << one.text_ink;
    EXPECT_LT(big.text_ink, one.text_ink * area * 3 / 2) << "1x text " << one.text_ink;
    EXPECT_GE(big.text_rows, f * one.text_rows - 2 * f);
}

TEST_P(ScaleFactor, TheViewStateKeepsTheFactorForTheOverlays) {
    const int f = GetParam();
    Canvas canvas(kWidth * f, kHeight * f);
    ASSERT_EQ(render::draw_view(canvas.dc(), kLeft, kTop, kWidth * f, kHeight * f, kScale, "0000",
                                render::ViewOptions{f}),
              0);
    const render::ViewState& v = render::view_state();
    EXPECT_EQ(v.factor, f);
    EXPECT_EQ(v.width, kWidth * f);
    EXPECT_EQ(v.scale, kScale);
    EXPECT_EQ(KgdiGetFontPixelSize(canvas.dc()), 12);  // the context's font as before
}

INSTANTIATE_TEST_SUITE_P(TwoAndThree, ScaleFactor, ::testing::Values(2, 3));

TEST_F(RenderTest, FactorsOutsideOneToThreeAreRefusedAndStoreNothing) {
    Canvas canvas(40, 30);
    for (int f : {0, -1, 4})
        EXPECT_EQ(
            render::draw_view(canvas.dc(), kLeft, kTop, 40, 30, 10, "1111", render::ViewOptions{f}),
            -1)
            << f;
    EXPECT_EQ(render::view_state().dc, nullptr);
    EXPECT_TRUE(canvas.prims().empty());
}

}  // namespace
}  // namespace render_test
