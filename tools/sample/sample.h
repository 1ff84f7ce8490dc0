// sample.h: builds the complete sample data set (tiles, district index, points of interest,
// place catalogue, base map) and a track of a drive through the city, from one seed.
#ifndef KESTREL_TOOLS_SAMPLE_SAMPLE_H
#define KESTREL_TOOLS_SAMPLE_SAMPLE_H

#include <cstdint>
#include <string>
#include <vector>

#include "writer.h"

namespace ksample {

// The seed of the published sample: changing it changes every byte of the data set.
constexpr uint64_t kDefaultSeed = 0x4B455354524C3031ull;

// Tiles of the covered area that are deliberately left without a file (open sea and the
// empty mountains), so that views show how missing tiles are drawn.
constexpr int32_t kAbsentTiles[] = {277026, 278026, 278027, 273032};

struct Sample {
    kdataset::DataSetContent content;
    std::vector<kdataset::WorldPoint> track;  // the drive, one point about every 15 m
};

// Builds the whole sample. Deterministic: the same seed gives the same content.
Sample build_sample(uint64_t seed);

// The track file text: a comment header, then one "xy X Y" line per point.
std::string track_text(const std::vector<kdataset::WorldPoint>& track);

}  // namespace ksample

#endif  // KESTREL_TOOLS_SAMPLE_SAMPLE_H
