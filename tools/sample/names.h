// names.h: the words of the sample city (road, district, place and shop names, written in
// UTF-8 in the source) and their conversion to Big5, the code page of the data set.
#ifndef KESTREL_TOOLS_SAMPLE_NAMES_H
#define KESTREL_TOOLS_SAMPLE_NAMES_H

#include <string>
#include <vector>

#include "rng.h"

namespace ksample {

// Longest name field of a tile's name table, and of a catalogue label, in bytes.
constexpr size_t kRoadNameBytes = 20;
constexpr size_t kCatalogueNameBytes = 10;
constexpr size_t kPoiNameBytes = 28;
constexpr size_t kPoiNoteBytes = 52;

// Converts UTF-8 text to Big5 (code page 950, kcommon's codec). Throws std::runtime_error when a
// character has no Big5 form, so a bad word list is caught at the first run.
std::string to_big5(const std::string& utf8);

// Byte length the text will have in Big5: 2 per non-ASCII character, 1 per ASCII byte.
size_t big5_length(const std::string& utf8);

// Word lists, all UTF-8.
const std::vector<std::string>& road_stems();   // two-character road stems: 中山, 民生, ...
const std::vector<std::string>& place_stems();  // stems of neighbourhood names: 福德, 興隆, ...
const std::vector<std::string>& section_words();  // 一段 .. 七段

// Chinese numeral words for 1..10, used in section names.
std::string chinese_number(int n);

// A neighbourhood (village) name such as 福德里, drawn from the place stems.
std::string neighbourhood_name(Rng& rng);

}  // namespace ksample

#endif  // KESTREL_TOOLS_SAMPLE_NAMES_H
