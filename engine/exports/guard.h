// guard.h: how a flat C export of the engine runs its C++ body, so that no C++ exception ever
// crosses the C interface.
//
// Every export is declared (kestrel.h) and defined noexcept, and is a thin skin over one C++
// function of its area, run through guarded():
//
//   KESTREL_API int dllfree(void) noexcept {
//       return guarded(-1, [] { return data::free_base_map(); });
//   }
//
// An exception that escapes the body becomes the export's failure result instead of a call to
// std::terminate. The C++ functions are written not to throw; the guard is the promise that a
// mistake there still gives a failure result, never an aborted process.
#ifndef KESTREL_EXPORTS_GUARD_H
#define KESTREL_EXPORTS_GUARD_H

#include <utility>

namespace kestrel::exports {

// Returns body(), or `failure` when body() throws.
template <class Result, class Body>
Result guarded(Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

}  // namespace kestrel::exports

#endif  // KESTREL_EXPORTS_GUARD_H
