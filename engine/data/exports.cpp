// exports.cpp: the data set's C entry points, thin wrappers over the data store.
//
// Every function here is noexcept down to the C library, so no C++ exception can leave the
// library through them.
#include "build_config.h"
#include "data/store.h"
#include "kestrel.h"

extern "C" {

// Loads the data set at `path` (which ends with '/'): 1 when all its files were loaded, -1
// when one could not be opened, a table overflowed or the path is too long.
KESTREL_API int dllsetpath(const char* path) {
    return kestrel::data::set_path(path, !kestrel::kServerOnly);
}

// Loads the data set at `path`, then stores the temporary directory for the bitmap export.
// Returns the result of the load, or -1 when the temporary directory is refused (too long).
KESTREL_API int sdllinit(const char* path, const char* tmpdir) {
    const int loaded = kestrel::data::set_path(path, !kestrel::kServerOnly);
    return kestrel::data::set_temp_dir(tmpdir) == 0 ? loaded : -1;
}

// 1 when a data path has been stored (even if its load failed), else -1.
KESTREL_API int sdllisinit(void) {
    return kestrel::data::is_initialised();
}

// Releases the base-map metafile; returns 0.
KESTREL_API int dllfree(void) {
    return kestrel::data::free_base_map();
}

}  // extern "C"
