#!/usr/bin/env bash
# Installs what is missing, checks the formatting of every source, builds the project twice
# (normal, and with the address and undefined-behaviour sanitizers; warnings are errors in
# both), runs clang-tidy over every product source (warnings are errors) and every test in
# both builds. The map viewer (a web page) and its browser tests
# are built and run in the normal build only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
jobs=$(nproc)
bash scripts/check-format.sh

# The tests and benchmarks explicitly: a build folder that the main job made has them off.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_WERROR=ON \
      -DKESTREL_BUILD_TESTS=ON -DKESTREL_BUILD_BENCH=ON
cmake --build build -j "$jobs"
bash scripts/clang-tidy.sh build
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON -DKESTREL_WERROR=ON \
      -DKESTREL_BUILD_TESTS=ON -DKESTREL_BUILD_BENCH=OFF -DKESTREL_BUILD_VIEWER=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The Windows build: cross-compiled with mingw-w64 into build-win32/ and build-win64/ and
# tested under Wine, each bitness in a fresh Wine prefix (about 7 minutes on 2 cores). Its
# tests take the sample data set and kview from the Linux build above.
bash scripts/build-windows.sh
bash scripts/clang-tidy.sh --windows build-win64
