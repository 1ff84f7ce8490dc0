#!/usr/bin/env bash
# Builds the Windows programs with the mingw-w64 cross compilers into build-win32/ (i686) and
# build-win64/ (x86-64), then runs the Windows tests under Wine, each bitness in a fresh Wine
# prefix of its own (windows/tests/run-tests.sh).
#
#   scripts/build-windows.sh               build both, test both
#   scripts/build-windows.sh --build-only  build both, run nothing
#   WINDOWS_BITS="32" scripts/build-windows.sh   one bitness only
#
# The tests need the Linux build's sample data set (build/appdir/kgrid/) and its kview
# (build/bin/kview): scripts/test.sh builds Linux first (KESTREL_SAMPLE_DIR, KESTREL_KVIEW
# point elsewhere).
#
# Parallel jobs: $WINDOWS_JOBS (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
case "${1:-}" in
  --build-only) build_only=1 ;;
  "") ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac
jobs=${WINDOWS_JOBS:-$(nproc)}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

for bits in ${WINDOWS_BITS:-32 64}; do
  case $bits in
    32) triple=i686-w64-mingw32 ;;
    64) triple=x86_64-w64-mingw32 ;;
    *) echo "build-windows: unknown bitness $bits" >&2; exit 2 ;;
  esac
  # The 32-bit tests need the 32-bit Wine (wine32:i386) and a kernel that runs it; without
  # them they are skipped below, so only the programs are built.
  tests=ON
  if [ $bits = 32 ] && [ $build_only -eq 0 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    tests=OFF
  fi
  cmake -S windows -B "build-win$bits" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        --toolchain "$PWD/cmake/toolchain-$triple.cmake" "${launcher[@]}" -DWINDOWS_BUILD_TESTS=$tests
  cmake --build "build-win$bits" -j "$jobs"
done

if [ $build_only -eq 1 ]; then exit 0; fi
for bits in ${WINDOWS_BITS:-32 64}; do
  bash windows/tests/run-tests.sh "build-win$bits"
done
