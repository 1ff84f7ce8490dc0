// map_cost_test.cpp: the cost of a map and the side the service advertises. Every map within
// the advertised side costs at most worst_map_cost() in every offered system, whatever its box
// (plain, distorted, tiny, reaching past the data set or the world) and drawing factor, so the
// budget never refuses what the capabilities promise; the advertised side is the largest such.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kmaps/crs.h"
#include "kmaps/dataset.h"
#include "kmaps/render.h"

namespace {

using kmaps::Box;

class MapCost : public ::testing::TestWithParam<const char*> {
  protected:
    static void SetUpTestSuite() {
        data_ = new kmaps::DataSet;
        std::string error;
        if (!data_->open(KESTREL_SAMPLE_DIR, kmaps::kDefaultGrid, error)) FAIL() << error;
    }
    static void TearDownTestSuite() { delete data_; }
    static kmaps::DataSet* data_;
};
kmaps::DataSet* MapCost::data_ = nullptr;

// Boxes in the grid: the data set's extent and distorted, tiny and far-reaching ones around it.
std::vector<Box> grid_boxes(const Box& e) {
    const double cx = (e.minx + e.maxx) / 2, cy = (e.miny + e.maxy) / 2;
    const double w = e.maxx - e.minx, h = e.maxy - e.miny;
    return {e,
            {cx - w / 8, cy - h / 2, cx + w / 8, cy + h / 2},      // four times as tall
            {cx - w / 2, cy - h / 32, cx + w / 2, cy + h / 32},    // sixteen times as wide
            {cx - 3, cy - 3, cx + 3, cy + 3},                      // finer than the engine draws
            {cx - 40 * w, cy - 40 * h, cx + 40 * w, cy + 40 * h},  // far past the data set
            {e.minx - w / 2, e.miny, e.minx + w / 2, e.maxy}};     // half outside
}

TEST_P(MapCost, OfAnyMapWithinTheAdvertisedSideIsWithinTheBudgetOfTheLargestMap) {
    const auto crs = data_->system(GetParam());
    ASSERT_TRUE(crs);
    const double budget = kmaps::worst_map_cost(kmaps::kMaxSide, kmaps::kMaxSide);
    const int side = kmaps::served_side(budget);
    ASSERT_EQ(side, kmaps::kMaxSide);
    int drawn = 0;
    for (const Box& native : grid_boxes(data_->extent())) {
        const auto box = crs->name() == data_->native().name()
                             ? std::optional<Box>(native)
                             : kmaps::transform_box(data_->native(), *crs, native);
        if (!box) continue;
        for (const auto& [w, h] : {std::pair{side, side}, {side, 1}, {1, side}, {side, side / 3}})
            for (int factor = 1; factor <= 3; ++factor) {
                std::string error;
                const auto plan = kmaps::plan_map(*data_, *crs, *box, w, h, factor, error);
                if (!plan) continue;  // refused as a bad request, not by the budget
                ++drawn;
                const double cost = kmaps::map_cost(*data_, *crs, *box, w, h, factor);
                EXPECT_GT(cost, 0);
                EXPECT_LE(cost, kmaps::worst_map_cost(w, h))
                    << crs->name() << " " << w << "x" << h << " @" << factor << "x, box "
                    << box->minx << "," << box->miny << "," << box->maxx << "," << box->maxy;
                EXPECT_LE(cost, budget);
            }
    }
    EXPECT_GT(drawn, 40);
}

INSTANTIATE_TEST_SUITE_P(Systems, MapCost,
                         ::testing::Values("EPSG:3826", "EPSG:3857", "EPSG:4326", "CRS:84"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == ':') c = '_';
                             return name;
                         });

TEST(ServedSide, IsTheLargestSideWhoseWorstMapFitsTheBudget) {
    for (const double budget : {1e6, 20e6, 64e6, 100e6, 1e9}) {
        const int side = kmaps::served_side(budget);
        ASSERT_GT(side, 0);
        EXPECT_LE(kmaps::worst_map_cost(side, side), budget);
        if (side < kmaps::kMaxSide) {
            EXPECT_GT(kmaps::worst_map_cost(side + 1, side + 1), budget) << budget;
        }
    }
    EXPECT_EQ(kmaps::served_side(1e9), kmaps::kMaxSide);
    EXPECT_EQ(kmaps::served_side(1000), 0);
}

}  // namespace
