// The JSON queries through the service, without a socket: answers and refusals.
#include <gtest/gtest.h>

#include "service_fixture.h"

namespace {

using kserve_test::Case;

class Api : public ::testing::TestWithParam<Case> {};

TEST_P(Api, Answers) {
    kserve_test::expect_answer(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Service, Api,
                         ::testing::Values(Case{"/api/info", 200, "application/json", "\"extent\""},
                                           Case{"/api/road?x=abc&y=1", 400, "application/json",
                                                "error"},
                                           Case{"/api/nothing", 404, "application/json", "error"}));

}  // namespace
