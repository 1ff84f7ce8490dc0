// import_test.cpp: whole imports of small GeoJSON files made here, checked by reading the
// written files by their format tables: tile cutting and delta steps, districts and d4.txt,
// tile capacities, Big5 names, catalogue tokens, and bad input leaving nothing behind.
#include "import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "fixtures.h"

namespace kimport {
namespace {

using kimport_test::count_entries;
using kimport_test::GeoJson;
using kimport_test::read_text;
using kimport_test::read_tile;
using kimport_test::TempDir;
using kimport_test::TileFile;
using kimport_test::TileRecord;

// Tile 276030 covers x 300000..310000, y 2760000..2770000.
constexpr int32_t kX = 300000, kY = 2760000;

std::string padded(const std::string& s) {
    return s + std::string(20 - s.size(), ' ');
}

class Import : public ::testing::Test {
  protected:
    Options options(const std::vector<std::string>& inputs) {
        Options o;
        for (const std::string& i : inputs) o.inputs.push_back(dir_.file(i));
        o.output = dir_.file("out");
        return o;
    }
    bool run(const Options& o, std::string* error = nullptr) {
        std::string e;
        bool ok = run_import(o, &summary_, nullptr, &e);
        if (error)
            *error = e;
        else
            EXPECT_TRUE(ok) << e;
        return ok;
    }
    TileFile tile(int32_t number) {
        return read_tile(dir_.file("out/" + std::to_string(number) + ".dat"));
    }
    std::vector<TileRecord> roads(const TileFile& t) {
        std::vector<TileRecord> out;
        for (const TileRecord& r : t.records) {
            if (r.section == 'B') out.push_back(r);
        }
        return out;
    }
    // Nothing of a failed import is left: no output and no temporary folder.
    void expect_nothing_written() {
        EXPECT_FALSE(std::filesystem::exists(dir_.file("out")));
        EXPECT_EQ(count_entries(dir_.path(), ".out.kimport-"), 0);
    }
    TempDir dir_;
    Summary summary_;
};

using Points = std::vector<std::pair<int32_t, int32_t>>;

TEST_F(Import, WritesEveryFileOfADataSet) {
    GeoJson()
        .line("\"highway\":\"primary\",\"name\":\"中山北路\"",
              {{kX + 5000, kY + 5000}, {kX + 5300, kY + 5000}})
        .point("\"place\":\"city\",\"name\":\"臺北市\"", kX + 5000, kY + 6000)
        .point("\"amenity\":\"cafe\",\"name\":\"cafe\"", kX + 5100, kY + 6100)
        .save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    for (const char* f :
         {"d4.txt", "dat44_1.bin", "dat44_2.bin", "alldist.txt", "dist.emf", "276030.dat"}) {
        EXPECT_TRUE(std::filesystem::exists(dir_.file(std::string("out/") + f))) << f;
    }
    EXPECT_EQ(summary_.tiles, 1);
    EXPECT_EQ(summary_.road_records, 1);
    EXPECT_EQ(summary_.place_records, 1);
    EXPECT_EQ(summary_.pois, 1);
    EXPECT_EQ(count_entries(dir_.path(), ".out.kimport-"), 0);
}

TEST_F(Import, RoadStepsAreSplitExactlyAndCounted) {
    GeoJson()
        .line("\"highway\":\"primary\",\"name\":\"中山北路\"",
              {{kX + 5000, kY + 5000}, {kX + 5300, kY + 5000}})
        .save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    TileFile t = tile(276030);
    ASSERT_TRUE(t.ok);
    auto r = roads(t);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].type, 5);
    EXPECT_EQ(r[0].points, (Points{{kX + 5000, kY + 5000},
                                   {kX + 5100, kY + 5000},
                                   {kX + 5200, kY + 5000},
                                   {kX + 5300, kY + 5000}}));
    EXPECT_EQ(r[0].name, padded("\xA4\xA4\xA4\x73\xA5\x5F\xB8\xF4"));  // 中山北路 in Big5
    EXPECT_EQ(summary_.inserted_vertices, 2);
    EXPECT_EQ(summary_.written.inserted_vertices, 0);  // nothing left for the writer to add
    EXPECT_TRUE(summary_.written.refused.empty());
}

TEST_F(Import, RoadsAreCutAtTileBordersAtASharedPoint) {
    // A 12 km road from tile 276029 through 276030 into 276031.
    GeoJson()
        .line("\"highway\":\"motorway\",\"name\":\"x\"",
              {{kX - 1000, kY + 100}, {kX + 11000, kY + 1300}})
        .save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    TileFile west = tile(276029), middle = tile(276030), east = tile(276031);
    ASSERT_TRUE(west.ok && middle.ok && east.ok);
    auto w = roads(west), m = roads(middle), e = roads(east);
    ASSERT_EQ(w.size(), 1u);
    ASSERT_EQ(m.size(), 1u);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(w[0].points.front(), (std::pair<int32_t, int32_t>{kX - 1000, kY + 100}));
    EXPECT_EQ(w[0].points.back(), (std::pair<int32_t, int32_t>{kX, kY + 200}));
    EXPECT_EQ(m[0].points.front(), (std::pair<int32_t, int32_t>{kX, kY + 200}));
    EXPECT_EQ(m[0].points.back(), (std::pair<int32_t, int32_t>{kX + 10000, kY + 1200}));
    EXPECT_EQ(e[0].points.front(), (std::pair<int32_t, int32_t>{kX + 10000, kY + 1200}));
    EXPECT_EQ(e[0].points.back(), (std::pair<int32_t, int32_t>{kX + 11000, kY + 1300}));
    // 10000 m across the middle tile need at least 79 steps of at most 127 m.
    EXPECT_GE(m[0].points.size(), 80u);
    EXPECT_EQ(summary_.written.inserted_vertices, 0);
    EXPECT_EQ(read_text(dir_.file("out/d4.txt")), "100 276029\n100 276030\n100 276031\n");
}

TEST_F(Import, RoadsTakeTheDistrictThatHoldsTheirMidpoint) {
    GeoJson()
        .polygon("\"TNAME\":\"B區\"",
                 {{{kX, kY}, {kX + 7000, kY}, {kX + 7000, kY + 9000}, {kX, kY + 9000}}})
        .polygon(
            "\"TNAME\":\"A區\"",
            {{{kX + 7000, kY}, {kX + 20000, kY}, {kX + 20000, kY + 9000}, {kX + 7000, kY + 9000}}})
        .save(dir_.file("districts.geojson"));
    GeoJson()
        // Starts in B, midpoint (x 7200) in A.
        .line("\"highway\":\"residential\",\"name\":\"one\"",
              {{kX + 6900, kY + 100}, {kX + 7500, kY + 100}})
        // Midpoint (x 6800) in B.
        .line("\"highway\":\"residential\",\"name\":\"two\"",
              {{kX + 6000, kY + 200}, {kX + 7600, kY + 200}})
        // In A, crossing into tile 276031.
        .line("\"highway\":\"residential\",\"name\":\"three\"",
              {{kX + 9900, kY + 300}, {kX + 10100, kY + 300}})
        // Outside both.
        .line("\"highway\":\"residential\",\"name\":\"four\"",
              {{kX + 100, kY + 9500}, {kX + 200, kY + 9500}})
        .point("\"amenity\":\"bank\",\"name\":\"bank\"", kX + 8000, kY + 100)
        .save(dir_.file("in.geojson"));
    Options o = options({"in.geojson"});
    o.districts_file = dir_.file("districts.geojson");
    o.district_field = "TNAME";
    run(o);
    ASSERT_EQ(summary_.districts.size(), 3u);  // every polygon district and the outside
    EXPECT_EQ(summary_.districts[0].code, 100);
    EXPECT_EQ(summary_.districts[0].name, "A區");
    EXPECT_EQ(summary_.districts[0].roads, 2);
    EXPECT_EQ(summary_.districts[0].pois, 1);
    EXPECT_EQ(summary_.districts[1].name, "B區");
    EXPECT_EQ(summary_.districts[1].roads, 1);
    EXPECT_EQ(summary_.districts[2].name, "(outside)");
    EXPECT_EQ(summary_.districts[2].code, 102);
    std::map<std::string, int> district_of;
    for (const TileRecord& r : roads(tile(276030))) district_of[r.name.substr(0, 5)] = r.district;
    EXPECT_EQ(district_of["one  "], 100);
    EXPECT_EQ(district_of["two  "], 101);
    EXPECT_EQ(district_of["three"], 100);
    EXPECT_EQ(district_of["four "], 102);
    EXPECT_EQ(read_text(dir_.file("out/d4.txt")),
              "100 276030\n100 276031\n101 276030\n102 276030\n");
}

TEST_F(Import, AFullTileKeepsItsMostImportantRecordsAndCountsTheRest) {
    GeoJson g;
    // 10000 residential roads and 50 footways, all apart, in one tile.
    for (int i = 0; i < 10050; ++i) {
        double x = kX + 10 + (i % 100) * 90, y = kY + 10 + (i / 100) * 90;
        g.line(i < 50 ? "\"highway\":\"footway\"" : "\"highway\":\"residential\"",
               {{x, y}, {x + 50, y}});
    }
    g.save(dir_.file("in.geojson"));
    Options o = options({"in.geojson"});
    o.join_roads = false;
    run(o);
    TileFile t = tile(276030);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.records.size(), 10000u);
    EXPECT_TRUE(std::all_of(t.records.begin(), t.records.end(),
                            [](const TileRecord& r) { return r.type == 8; }));
    EXPECT_EQ(summary_.dropped["features left out: tile record table full (10000)"], 50);
    EXPECT_TRUE(summary_.written.refused.empty());
}

TEST_F(Import, AFullVertexTableLeavesOutWhatDoesNotFit) {
    GeoJson g;
    // Eleven zigzag roads of 10000 vertices each: 110000 vertices for a table of 100000.
    for (int road = 0; road < 11; ++road) {
        kimport_test::Coords c;
        for (int i = 0; i < 10000; ++i) c.push_back({kX + 100 + road * 500 + (i % 2) * 50, kY + i});
        g.line("\"highway\":\"residential\"", c);
    }
    g.save(dir_.file("in.geojson"));
    Options o = options({"in.geojson"});
    o.join_roads = false;
    run(o);
    TileFile t = tile(276030);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.records.size(), 10u);
    EXPECT_EQ(t.vertices, 100000);
    EXPECT_EQ(summary_.dropped["features left out: tile vertex table full (100000)"], 1);
}

TEST_F(Import, AFullNameTableKeepsTheRoadsWithoutTheirNames) {
    GeoJson g;
    for (int i = 0; i < 5100; ++i) {
        double x = kX + 10 + (i % 100) * 90, y = kY + 10 + (i / 100) * 90;
        g.line("\"highway\":\"residential\",\"name\":\"r" + std::to_string(i) + "\"",
               {{x, y}, {x + 50, y}});
    }
    g.save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    TileFile t = tile(276030);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.records.size(), 5100u);
    EXPECT_EQ(t.names, 5000);  // 4999 names and the blank one
    EXPECT_EQ(summary_.dropped["road names left out: tile name table full (5000)"], 101);
}

TEST_F(Import, NamesBecomeBig5WithReplacementsAndCutsOnCharacters) {
    GeoJson()
        .line("\"highway\":\"service\",\"name\":\"鱻一\"",
              {{kX + 100, kY + 100}, {kX + 200, kY + 100}})
        // Fifteen characters: 30 bytes for a 28-byte field.
        .point("\"shop\":\"books\",\"name\":\"一一一一一一一一一一一一一一一\"", kX + 500, kY + 700)
        .save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    auto r = roads(tile(276030));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].name, padded("?\xA4\x40"));
    EXPECT_EQ(summary_.names.replaced_chars, 1);
    // The point-of-interest record: index entry 0, then the 40-byte record at its offset.
    std::string poi = read_text(dir_.file("out/dat44_1.bin"));
    ASSERT_GE(poi.size(), 6000u + 40u);
    int32_t tile_number, last, offset;
    std::memcpy(&tile_number, poi.data(), 4);
    std::memcpy(&last, poi.data() + 4, 4);
    std::memcpy(&offset, poi.data() + 8, 4);
    EXPECT_EQ(tile_number, 276030);
    EXPECT_EQ(last, 0);
    ASSERT_LE(std::size_t(offset) + 40, poi.size());
    int16_t x, y, district, category;
    std::memcpy(&x, poi.data() + offset, 2);
    std::memcpy(&y, poi.data() + offset + 2, 2);
    std::memcpy(&district, poi.data() + offset + 4, 2);
    std::memcpy(&category, poi.data() + offset + 6, 2);
    EXPECT_EQ(x, 500);
    EXPECT_EQ(y, 700);
    EXPECT_EQ(district, 100);
    EXPECT_EQ(category, 2);
    std::string fourteen;
    for (int i = 0; i < 14; ++i) fourteen += "\xA4\x40";
    EXPECT_EQ(poi.substr(offset + 12, 28), fourteen);
}

TEST_F(Import, CatalogueNamesAreSingleTokensOfTenBytes) {
    GeoJson()
        .point("\"place\":\"city\",\"name\":\"New Town Hall\"", kX + 5000, kY + 5000)
        .line("\"highway\":\"motorway\"", {{kX + 1000, kY + 1000}, {kX + 3000, kY + 1000}})
        .save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    std::string cat = read_text(dir_.file("out/alldist.txt"));
    EXPECT_NE(cat.find("city New_Town_H 305000 2765000"), std::string::npos) << cat;
    EXPECT_NE(cat.find("pline 2\n301000 2761000\n303000 2761000\n"), std::string::npos) << cat;
    EXPECT_EQ(summary_.catalogue_polylines, 1);
}

TEST_F(Import, SourcesInLongitudeAndLatitudeAreReprojected) {
    GeoJson("")  // GeoJSON without a crs member is WGS 84
        .point("\"place\":\"suburb\",\"name\":\"p\"", 121.5, 25.05)
        .save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    EXPECT_TRUE(std::filesystem::exists(dir_.file("out/277030.dat")));
    TileFile t = tile(277030);
    ASSERT_EQ(t.records.size(), 1u);
    // EPSG:3826 puts 121.5 E, 25.05 N near x 300400, y 2771400.
    EXPECT_NEAR(t.records[0].points[0].first, 300400, 200);
    EXPECT_NEAR(t.records[0].points[0].second, 2771400, 300);
}

TEST_F(Import, FeaturesOffTheTileGridAreLeftOutAndCounted) {
    GeoJson("")
        .line("\"highway\":\"primary\"", {{121.5, 25.05}, {121.51, 25.05}})
        .save(dir_.file("in.geojson"));
    Options o = options({"in.geojson"});
    o.crs = "EPSG:3857";  // x about 13.5 million metres: column beyond 999
    // Nothing is left to store: the import fails, says why and what to check.
    std::string error;
    EXPECT_FALSE(run(o, &error));
    EXPECT_EQ(summary_.dropped["road pieces off the tile grid"], 1);
    EXPECT_EQ(summary_.tiles, 0);
    EXPECT_NE(error.find("nothing to write"), std::string::npos) << error;
    EXPECT_NE(error.find("--crs"), std::string::npos) << error;
    expect_nothing_written();
}

TEST_F(Import, AnUnreadableInputLeavesNothingBehind) {
    std::string error;
    EXPECT_FALSE(run(options({"missing.geojson"}), &error));
    EXPECT_NE(error.find("missing.geojson"), std::string::npos);
    expect_nothing_written();
}

TEST_F(Import, AnUnknownCrsLeavesNothingBehind) {
    GeoJson().point("\"place\":\"city\",\"name\":\"p\"", kX, kY).save(dir_.file("in.geojson"));
    Options o = options({"in.geojson"});
    o.crs = "EPSG:999999";
    std::string error;
    EXPECT_FALSE(run(o, &error));
    EXPECT_NE(error.find("unknown CRS \"EPSG:999999\""), std::string::npos) << error;
    expect_nothing_written();
    o.crs = "EPSG:4326";  // known, but not a grid in metres
    EXPECT_FALSE(run(o, &error));
    EXPECT_NE(error.find("not a projected grid"), std::string::npos) << error;
    expect_nothing_written();
}

TEST_F(Import, AnEmptyLayerIsAnError) {
    GeoJson().save(dir_.file("empty.geojson"));
    std::string error;
    EXPECT_FALSE(run(options({"empty.geojson"}), &error));
    EXPECT_NE(error.find("holds no feature"), std::string::npos) << error;
    expect_nothing_written();
}

TEST_F(Import, InputWithoutAnythingToImportIsAnError) {
    GeoJson().point("\"building\":\"yes\"", kX, kY).save(dir_.file("in.geojson"));
    std::string error;
    EXPECT_FALSE(run(options({"in.geojson"}), &error));
    EXPECT_NE(error.find("nothing to import"), std::string::npos) << error;
    expect_nothing_written();
}

TEST_F(Import, ABadMappingFileIsReportedWithItsLine) {
    GeoJson().point("\"place\":\"city\",\"name\":\"p\"", kX, kY).save(dir_.file("in.geojson"));
    kimport_test::write_text(dir_.file("bad.map"), "place 21 place=city\nroad 12 highway=x\n");
    Options o = options({"in.geojson"});
    o.mapping_file = dir_.file("bad.map");
    std::string error;
    EXPECT_FALSE(run(o, &error));
    EXPECT_NE(error.find("bad.map:2:"), std::string::npos) << error;
    expect_nothing_written();
}

TEST_F(Import, AMappingFileReplacesTheBuiltInOne) {
    GeoJson()
        .line("\"kind\":\"big\"", {{kX + 100, kY + 100}, {kX + 200, kY + 100}})
        .line("\"highway\":\"primary\"", {{kX + 100, kY + 300}, {kX + 200, kY + 300}})
        .save(dir_.file("in.geojson"));
    kimport_test::write_text(dir_.file("my.map"), "road 2 kind=big\n");
    Options o = options({"in.geojson"});
    o.mapping_file = dir_.file("my.map");
    run(o);
    auto r = roads(tile(276030));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].type, 2);
    EXPECT_EQ(summary_.dropped["features that matched no rule"], 1);
}

TEST_F(Import, AnExistingOutputIsReplacedOnlyWhenAsked) {
    GeoJson()
        .point("\"place\":\"city\",\"name\":\"p\"", kX + 1, kY + 1)
        .save(dir_.file("in.geojson"));
    std::filesystem::create_directory(dir_.file("out"));
    kimport_test::write_text(dir_.file("out/old.txt"), "old");
    Options o = options({"in.geojson"});
    std::string error;
    EXPECT_FALSE(run(o, &error));
    EXPECT_NE(error.find("--replace"), std::string::npos);
    EXPECT_EQ(read_text(dir_.file("out/old.txt")), "old");
    o.replace = true;
    run(o);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("out/old.txt")));
    EXPECT_TRUE(std::filesystem::exists(dir_.file("out/276030.dat")));
    EXPECT_EQ(count_entries(dir_.path(), ".out.kimport-"), 0);
}

TEST_F(Import, OpenStreetMapXmlIsReadWithTagsFromOtherTags) {
    // Nodes near 121.5 E, 25.05 N (tile 277030). amenity and admin_level reach the importer
    // through the OSM driver's other_tags field.
    kimport_test::write_text(dir_.file("in.osm"), R"(<?xml version="1.0" encoding="UTF-8"?>
<osm version="0.6" generator="test">
  <node id="1" lat="25.050" lon="121.500" version="1"/>
  <node id="2" lat="25.050" lon="121.510" version="1"/>
  <node id="3" lat="25.055" lon="121.510" version="1"/>
  <node id="4" lat="25.055" lon="121.500" version="1"/>
  <node id="5" lat="25.052" lon="121.505" version="1">
    <tag k="amenity" v="cafe"/><tag k="name" v="咖啡"/>
  </node>
  <node id="6" lat="25.060" lon="121.500" version="1"/>
  <node id="7" lat="25.060" lon="121.510" version="1"/>
  <way id="10" version="1"><nd ref="1"/><nd ref="2"/>
    <tag k="highway" v="primary"/><tag k="name" v="中山北路"/></way>
  <way id="11" version="1"><nd ref="1"/><nd ref="2"/><nd ref="3"/><nd ref="4"/><nd ref="1"/>
    <tag k="natural" v="water"/></way>
  <way id="12" version="1"><nd ref="6"/><nd ref="7"/>
    <tag k="boundary" v="administrative"/><tag k="admin_level" v="4"/></way>
</osm>
)");
    run(options({"in.osm"}));
    TileFile t = tile(277030);
    ASSERT_TRUE(t.ok);
    std::map<int, int> types;
    for (const TileRecord& r : t.records) ++types[r.type];
    EXPECT_EQ(types[5], 1);   // the primary road
    EXPECT_EQ(types[11], 1);  // the lake
    EXPECT_EQ(types[13], 1);  // the boundary, admin_level from other_tags
    EXPECT_EQ(summary_.pois, 1);
    EXPECT_EQ(summary_.base_shapes, 2);  // the lake as water, the boundary as a border
}

TEST_F(Import, TileZeroIsNeverWritten) {
    GeoJson()
        .point("\"place\":\"city\",\"name\":\"p\"", 5000, 5000)
        .point("\"place\":\"city\",\"name\":\"q\"", kX, kY + 1)
        .save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("out/0.dat")));
    EXPECT_EQ(summary_.dropped["place labels off the tile grid"], 1);
}

TEST_F(Import, DistrictsCanComeFromAnAttribute) {
    GeoJson()
        .line("\"highway\":\"residential\",\"town\":\"Zeta\"",
              {{kX + 100, kY + 100}, {kX + 200, kY + 100}})
        .line("\"highway\":\"residential\",\"town\":\"Alpha\"",
              {{kX + 100, kY + 300}, {kX + 200, kY + 300}})
        .line("\"highway\":\"residential\"", {{kX + 100, kY + 500}, {kX + 200, kY + 500}})
        .save(dir_.file("in.geojson"));
    Options o = options({"in.geojson"});
    o.district_attribute = "town";
    run(o);
    ASSERT_EQ(summary_.districts.size(), 3u);
    EXPECT_EQ(summary_.districts[0].name, "Alpha");
    EXPECT_EQ(summary_.districts[1].name, "Zeta");
    EXPECT_EQ(summary_.districts[2].name, "(outside)");
    EXPECT_EQ(read_text(dir_.file("out/d4.txt")), "100 276030\n101 276030\n102 276030\n");
}

TEST_F(Import, TheCatalogueStaysWithinItsEntriesAndPointIndexes) {
    GeoJson g;
    // 2100 cities 10 km apart: more labels than the catalogue's 2000 entries.
    for (int i = 0; i < 2100; ++i) {
        g.point("\"place\":\"city\",\"name\":\"c" + std::to_string(i) + "\"",
                20000 + (i % 60) * 10000 + 5000, 2000000 + (i / 60) * 10000 + 5000);
    }
    // 40 zigzag motorways of 1000 points that simplification cannot thin: 40000 points for
    // what the first-point indexes below 32768 allow.
    for (int r = 0; r < 40; ++r) {
        kimport_test::Coords c;
        for (int i = 0; i < 1000; ++i)
            c.push_back({kX + 10 * i, kY + 100 + r * 200 + (i % 2) * 100});
        g.line("\"highway\":\"motorway\",\"name\":\"m" + std::to_string(r) + "\"", c);
    }
    g.save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    EXPECT_EQ(summary_.catalogue_entries, 2000);
    EXPECT_GT(summary_.dropped["catalogue labels left out: catalogue full (2000 entries)"], 0);
    EXPECT_GT(summary_.dropped["main roads left out of the catalogue: catalogue full"], 0);
    // Every entry's first point, counted through the file, stays below 32768.
    std::istringstream cat(read_text(dir_.file("out/alldist.txt")));
    std::string line;
    long points = 0, entries = 0, worst_first = -1;
    while (std::getline(cat, line)) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "pline" || word == "city" || word == "point" || word == "poin22") {
            worst_first = std::max(worst_first, points);
            ++entries;
            if (word != "pline") ++points;
        } else {
            ++points;
        }
    }
    EXPECT_EQ(entries, 2000);
    EXPECT_LT(worst_first, 32768);
    EXPECT_TRUE(summary_.written.refused.empty());
}

TEST_F(Import, ALayerWithoutCrsNeedsTheSourceCrs) {
    GeoJson("")
        .line("\"highway\":\"primary\"", {{kX + 100, kY + 100}, {kX + 200, kY + 100}})
        .save(dir_.file("in.geojson"));
    // A shapefile made by GDAL's converter, its .prj removed.
    std::string cmd = "ogr2ogr -f 'ESRI Shapefile' " + dir_.file("in.shp") + " " +
                      dir_.file("in.geojson") + " > /dev/null 2>&1 && rm -f " + dir_.file("in.prj");
    if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "ogr2ogr is not available";
    std::string error;
    EXPECT_FALSE(run(options({"in.shp"}), &error));
    EXPECT_NE(error.find("has no CRS; give the source's CRS with --source-crs"), std::string::npos)
        << error;
    expect_nothing_written();
    Options o = options({"in.shp"});
    o.source_crs = "EPSG:3826";
    run(o);
    auto r = roads(tile(276030));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].points.front(), (std::pair<int32_t, int32_t>{kX + 100, kY + 100}));
}

TEST_F(Import, RoadPiecesThatContinueEachOtherAreJoined) {
    GeoJson()
        .line("\"highway\":\"secondary\",\"name\":\"a\"",
              {{kX + 100, kY + 100}, {kX + 200, kY + 100}})
        .line("\"highway\":\"secondary\",\"name\":\"a\"",
              {{kX + 300, kY + 100}, {kX + 200, kY + 100}})
        .line("\"highway\":\"secondary\",\"name\":\"b\"",
              {{kX + 300, kY + 100}, {kX + 400, kY + 100}})
        .save(dir_.file("in.geojson"));
    run(options({"in.geojson"}));
    EXPECT_EQ(summary_.source_roads, 3);
    EXPECT_EQ(summary_.joined_roads, 2);
    auto r = roads(tile(276030));
    ASSERT_EQ(r.size(), 2u);
    std::set<std::size_t> sizes{r[0].points.size(), r[1].points.size()};
    EXPECT_EQ(sizes, (std::set<std::size_t>{2, 3}));
}

}  // namespace
}  // namespace kimport
