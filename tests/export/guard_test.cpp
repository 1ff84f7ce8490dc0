// Tests of the guard through which every flat C export runs: no C++ exception crosses the C
// interface of the engine or of the drawing layer.
#include "exports/guard.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "kestrel.h"

namespace {

using kestrel::exports::guarded;

// Every export is declared noexcept to C++ callers: a definition that lost its noexcept no
// longer matches its declaration and does not compile, and these checks catch a declaration
// that lost it.
static_assert(noexcept(dllsetpath(nullptr)) && noexcept(dlldraw(
    nullptr, 0, 0, 0, 0, 1, "")) && noexcept(dllqudrroad(0, 0, 1, nullptr, nullptr, 0,
                                                         0)) && noexcept(sdllgetimgfile(nullptr)));
static_assert(noexcept(DeleteDC(nullptr)) && noexcept(CreatePen(0, 0, 0)) && noexcept(
    KgdiFreeImage(nullptr)) && noexcept(GetTempFileNameA("", "", 0, nullptr)));

TEST(ExportGuard, AnExceptionFromTheBodyBecomesTheFailureResult) {
    EXPECT_EQ(guarded(-1, [] { return 7; }), 7);
    EXPECT_EQ(guarded(-1, []() -> int { throw std::runtime_error("broken"); }), -1);
    EXPECT_EQ(guarded(-1, []() -> int { throw std::bad_alloc(); }), -1);
    EXPECT_EQ(guarded(-2, []() -> int { throw 3; }), -2);
}

}  // namespace
