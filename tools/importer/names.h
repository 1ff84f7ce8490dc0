// names.h: converting UTF-8 names of the sources to the Big5 (code page 950) bytes of the
// data set, with characters that have no Big5 form replaced and counted, and names cut to
// their fields' widths on character boundaries.
#ifndef KESTREL_TOOLS_IMPORTER_NAMES_H
#define KESTREL_TOOLS_IMPORTER_NAMES_H

#include <cstddef>
#include <string>
#include <string_view>

namespace kimport {

// Field widths of names in the data set, in bytes.
constexpr std::size_t kRoadNameBytes = 20;       // tile names of roads and places
constexpr std::size_t kPoiNameBytes = 28;        // names of points of interest
constexpr std::size_t kCatalogueNameBytes = 10;  // names of the place catalogue
constexpr std::size_t kRoadCodeBytes = 4;        // road codes
constexpr std::size_t kPoiNoteBytes = 52;        // notes of points of interest

// Stands for a character that has no Big5 form.
constexpr char kReplacement = '?';

// Counts kept over every conversion of one converter.
struct NameStats {
    long converted = 0;       // names converted
    long replaced_chars = 0;  // characters without a Big5 form, replaced by '?'
    long folded_chars = 0;    // accented Latin letters written without their accent
    long names_with_replacement = 0;
    long cut = 0;           // names shortened to their field
    long invalid_utf8 = 0;  // names whose bytes were not valid UTF-8 (bad bytes replaced)
};

// A UTF-8 to Big5 converter of names (kcommon's code page 950 codec), with its counts.
class NameConverter {
  public:
    // Converts `utf8` to Big5: white space at both ends is trimmed, runs of white space inside
    // become one blank, control characters are dropped, accented Latin letters lose their
    // accent, other characters without a Big5 form become '?'. The result is cut to at most
    // `max_bytes` without splitting a two-byte character.
    std::string to_big5(std::string_view utf8, std::size_t max_bytes);

    // As to_big5, then made one token for the place catalogue: blanks become '_'.
    std::string to_token(std::string_view utf8, std::size_t max_bytes);

    const NameStats& stats() const { return stats_; }

  private:
    NameStats stats_;
};

// The longest prefix of the Big5 text `big5` of at most `max_bytes` bytes that ends on a
// character boundary: a lead byte (kcommon::is_big5_lead) always takes the byte after it, and
// one that ends the text is no character and is left out. Converted text never ends in one, so
// this is kcommon::big5_cut for everything the converter gives.
std::size_t big5_cut(std::string_view big5, std::size_t max_bytes);

}  // namespace kimport

#endif  // KESTREL_TOOLS_IMPORTER_NAMES_H
