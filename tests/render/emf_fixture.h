// emf_fixture.h: the smallest well-formed enhanced metafile (a header record and an end
// record), built byte by byte from the record layouts, for tests that need a base map to play.
#ifndef KESTREL_TESTS_RENDER_EMF_FIXTURE_H
#define KESTREL_TESTS_RENDER_EMF_FIXTURE_H

#include <cstdint>
#include <vector>

namespace render_test {

inline void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

// EMR_HEADER (88 bytes) and EMR_EOF (20 bytes): frame 0..1000 x 0..1000 hundredths of a mm.
inline std::vector<uint8_t> empty_metafile() {
    constexpr uint32_t kHeaderType = 1, kHeaderSize = 88, kEofType = 14, kEofSize = 20;
    constexpr uint32_t kSignature = 0x464D4520;  // " EMF"
    std::vector<uint8_t> b;
    put32(b, kHeaderType);
    put32(b, kHeaderSize);
    for (uint32_t v : {0u, 0u, 100u, 100u}) put32(b, v);    // bounds, device units
    for (uint32_t v : {0u, 0u, 1000u, 1000u}) put32(b, v);  // frame, 0.01 mm
    put32(b, kSignature);
    put32(b, 0x10000);                 // version
    put32(b, kHeaderSize + kEofSize);  // bytes
    put32(b, 2);                       // records
    put16(b, 1);                       // handles
    put16(b, 0);                       // reserved
    put32(b, 0);                       // description length
    put32(b, 0);                       // description offset
    put32(b, 0);                       // palette entries
    put32(b, 1024);                    // device size, pixels
    put32(b, 768);
    put32(b, 320);  // device size, millimetres
    put32(b, 240);
    put32(b, kEofType);
    put32(b, kEofSize);
    put32(b, 0);         // palette entries
    put32(b, 16);        // palette offset
    put32(b, kEofSize);  // size last
    return b;
}

}  // namespace render_test

#endif  // KESTREL_TESTS_RENDER_EMF_FIXTURE_H
