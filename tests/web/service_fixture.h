// service_fixture.h: one kserve Service on the build's sample data set, asked without a
// socket, for the interfaces' unit tests.
#ifndef KSERVE_TESTS_SERVICE_FIXTURE_H
#define KSERVE_TESTS_SERVICE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "service/service.h"

namespace kserve_test {

// The service, started once for the whole test program.
inline kserve::Service& service() {
    static kserve::Service* made = [] {
        auto* s = new kserve::Service();
        kserve::Config config;
        config.data = KESTREL_SAMPLE_DIR;
        config.public_url = "http://maps.test";
        std::string error;
        if (!s->start(config, nullptr, error)) ADD_FAILURE() << error;
        return s;
    }();
    return *made;
}

inline kserve::Request get(const std::string& target) {
    kserve::Request r;
    r.method = "GET";
    r.target = target;
    return r;
}

// The answer to a GET of `target`.
inline kserve::Response answer(const std::string& target) {
    return service().handle(get(target));
}

// A sample map's box in the grid (EPSG:3826): 356 x 276 pixels of 20 m in the city.
inline const char* kGridBox = "297674,2768474,304794,2773994";

// One expected answer: the status, the start of the media type and a piece of the body.
struct Case {
    const char* target;
    int status;
    const char* type;
    const char* body;
};

inline void PrintTo(const Case& c, std::ostream* os) {
    *os << c.target;
}

// Checks one answer against its case.
inline void expect_answer(const Case& c) {
    const kserve::Response res = answer(c.target);
    EXPECT_EQ(res.status, c.status) << res.body.substr(0, 400);
    EXPECT_EQ(res.content_type.rfind(c.type, 0), 0u) << res.content_type;
    EXPECT_NE(res.body.find(c.body), std::string::npos) << res.body.substr(0, 400);
}

}  // namespace kserve_test

#endif
