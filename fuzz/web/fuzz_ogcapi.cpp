// fuzz_ogcapi: libFuzzer target of kserve's OGC API and TileJSON addresses. Each input is taken
// as the rest of an address after "/ogcapi" (path and query), or after "/tiles/" when it starts
// with "t:", and answered by a service on the sample data set as a worker answers it. Nothing
// may crash, overrun or hang; every answer has an HTTP status, and the OGC API's failures are
// problem details.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service/service.h"

#ifndef KESTREL_SAMPLE_DIR
#error "KESTREL_SAMPLE_DIR names the sample data set"
#endif

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

kserve::Service& service() {
    static kserve::Service* s = [] {
        auto* made = new kserve::Service();
        kserve::Config config;
        config.data = KESTREL_SAMPLE_DIR;
        std::string error;
        check(made->start(config, nullptr, error));
        return made;
    }();
    return *s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    kserve::Request r;
    r.method = "GET";
    r.host = "127.0.0.1:8080";
    const bool tiles = input.rfind("t:", 0) == 0;
    r.target = tiles ? "/tiles/" + std::string(input.substr(2)) : "/ogcapi" + std::string(input);
    const kserve::Response res = service().handle(r);
    check(res.status >= 200 && res.status <= 599);
    if (!tiles && res.status >= 400)
        check(res.content_type.rfind("application/problem+json", 0) == 0 ||
              res.content_type.rfind("text/plain", 0) == 0);
    return 0;
}
