// build_config.h: which of the two engine libraries is being compiled.
//
// libkestrel.so and libkestrelsrv.so are built from the same sources; the server-only build is
// compiled with KESTREL_SERVER_ONLY=1 and differs in its data set (no base-map metafile), its
// background colour, its text settings and its road-name scale. Code asks kServerOnly rather
// than testing the macro, so that both branches are always compiled and checked.
#ifndef KESTREL_BUILD_CONFIG_H
#define KESTREL_BUILD_CONFIG_H

namespace kestrel {

#if defined(KESTREL_SERVER_ONLY) && KESTREL_SERVER_ONLY
inline constexpr bool kServerOnly = true;
#else
inline constexpr bool kServerOnly = false;
#endif

}  // namespace kestrel

#endif  // KESTREL_BUILD_CONFIG_H
