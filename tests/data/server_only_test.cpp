// Tests of the data set load in the server-only build, whose data set has no base-map
// metafile.
#include <gtest/gtest.h>

#include "data/store.h"
#include "kestrel.h"
#include "test_support/temp_dir.h"
#include "tile_fixture.h"

namespace {

TEST(ServerOnlyDataSet, LoadsWithoutAMetafile) {
    kestrel::data::reset_all();
    test_support::TempDir dir;
    ASSERT_TRUE(fixture::write_text(dir.file("d4.txt"), "100 277025\n"));
    ASSERT_TRUE(fixture::write_bytes(dir.file("dat44_1.bin"), std::vector<uint8_t>(6000, 0)));
    ASSERT_TRUE(fixture::write_text(dir.file("dat44_2.bin"), ""));
    ASSERT_TRUE(fixture::write_text(dir.file("alldist.txt"), "city A 1 2\n"));
    EXPECT_EQ(sdllisinit(), -1);
    EXPECT_EQ(sdllinit(dir.slash().c_str(), "/tmp/"), 1);
    EXPECT_EQ(sdllisinit(), 1);
    EXPECT_EQ(kestrel::data::dataset().base_map, nullptr);
    EXPECT_EQ(kestrel::data::dataset().place_last, 0);
    kestrel::data::reset_all();
}

}  // namespace
