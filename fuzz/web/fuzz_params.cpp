// fuzz_params: libFuzzer target of kserve's request parameter parsing. Each input is taken as
// a query string: it is parsed into parameters, and every value goes through each of the
// checked readers (numbers, boxes, flags, colours, lists), as the WMS, WMTS and JSON handlers
// use them. Nothing may crash, overrun or accept what the readers' contracts exclude.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service/params.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view query(reinterpret_cast<const char*>(data), size);
    kserve::Params p;
    std::string error;
    if (!p.parse(query, error)) {
        check(!error.empty());
        return 0;
    }
    check(p.all().size() <= 64);
    for (const auto& [key, value] : p.all()) {
        check(!key.empty() && key.find('\0') == std::string::npos);
        check(value.find('\0') == std::string::npos);
        check(p.get(kserve::lower(key)) == value);
        if (const auto v = kserve::parse_int(value, -4096, 4096)) check(*v >= -4096 && *v <= 4096);
        if (const auto d = kserve::parse_decimal(value)) check(std::isfinite(*d));
        if (const auto b = kserve::parse_box(value))
            check(b->minx < b->maxx && b->miny < b->maxy && std::isfinite(b->maxx));
        if (const auto c = kserve::parse_colour(value)) check(*c <= 0xFFFFFFu);
        kserve::parse_flag(value, false);
        const auto parts = kserve::split(value, ',');
        size_t total = parts.size() - 1;
        for (const auto& part : parts) total += part.size();
        check(total == value.size());
    }
    return 0;
}
