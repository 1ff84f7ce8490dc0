// exports/data.cpp: the flat C exports of the data set: dllsetpath, sdllinit, sdllisinit and
// dllfree. kestrel.h documents them; each runs one call of the data store through the guard.
#include "build_config.h"
#include "data/store.h"
#include "exports/guard.h"
#include "kestrel.h"

namespace data = kestrel::data;
using kestrel::exports::guarded;

extern "C" {

KESTREL_API int dllsetpath(const char* path) noexcept {
    return guarded(-1, [&] { return data::set_path(path, !kestrel::kServerOnly); });
}

// The load's result, or -1 when the temporary directory is refused (too long).
KESTREL_API int sdllinit(const char* path, const char* tmpdir) noexcept {
    return guarded(-1, [&] {
        const int loaded = data::set_path(path, !kestrel::kServerOnly);
        return data::set_temp_dir(tmpdir) == 0 ? loaded : -1;
    });
}

KESTREL_API int sdllisinit(void) noexcept {
    return guarded(-1, [] { return data::is_initialised(); });
}

KESTREL_API int dllfree(void) noexcept {
    return guarded(-1, [] { return data::free_base_map(); });
}

}  // extern "C"
