#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over every product source, warnings as errors,
# with a build's compile_commands.json, in batches on every processor. Prints the findings and
# fails when there is any.
#
#   scripts/clang-tidy.sh [BUILD]            the Linux build's sources (default: build): common/,
#                                            engine/, platform/, server/, tools/, maps/, web/
#   scripts/clang-tidy.sh --windows BUILD    windows/'s own sources, from a mingw-w64 x86-64
#                                            build (build-win64); the shared sources are checked
#                                            with the Linux build
#
# The headers of those folders are checked where the sources include them; generated files in
# the build folder are not the code's and are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tidy=${CLANG_TIDY:-clang-tidy}
if ! command -v "$tidy" >/dev/null; then
    echo "clang-tidy: $tidy not found (install clang-tidy)" >&2
    exit 2
fi

windows=0
if [ "${1:-}" = "--windows" ]; then
    windows=1
    shift
fi
build=${1:-build}
if [ ! -f "$build/compile_commands.json" ]; then
    echo "clang-tidy: no $build/compile_commands.json (configure and build first)" >&2
    exit 2
fi

extra=()
if [ $windows -eq 1 ]; then
    folders='windows'
    # clang does not find mingw's C++ headers by itself.
    gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
    cxx=$gcc_dir/include/c++
    extra=(--extra-arg=--target=x86_64-w64-mingw32 "--extra-arg=-isystem$cxx"
           "--extra-arg=-isystem$cxx/x86_64-w64-mingw32")
else
    folders='common|engine|platform|server|tools|maps|web'
fi

# The product sources of the compile database, once each.
mapfile -t files < <(python3 - "$build/compile_commands.json" "$root" "$folders" <<'PY'
import json, os, re, sys
database, root, folders = sys.argv[1:4]
inside = re.compile(r"^(%s)/" % folders)
seen = set()
for entry in json.load(open(database)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    relative = os.path.relpath(path, root)
    source = relative.endswith((".c", ".cc", ".cpp"))  # not the resource scripts
    product = not relative.startswith("windows/tests/")
    if source and product and inside.match(relative) and relative not in seen:
        seen.add(relative)
        print(relative)
PY
)
checked=("${files[@]}")
if [ ${#checked[@]} -eq 0 ]; then
    echo "clang-tidy: no sources of $folders in $build/compile_commands.json" >&2
    exit 2
fi

# Findings in the headers of the same folders count (not in the build folder's generated
# ones, nor in the system's); the Linux run checks the headers windows/ shares.
filter="^$root/($folders)/"
started=$SECONDS
report=$(printf '%s\0' "${checked[@]}" |
         xargs -0 -n 4 -P "$(nproc)" "$tidy" -p "$build" --quiet --warnings-as-errors='*' \
             "--header-filter=$filter" "${extra[@]}" 2>&1) && status=0 || status=$?
# A finding in a header is reported once for each source that includes it: counted once.
findings=$(grep ': error: .*\[[a-z].*\]$' <<<"$report" | sort -u | wc -l || true)
if [ "$status" -ne 0 ]; then
    echo "$report" | grep -v '^[0-9]* warnings\? generated\.$\|^Suppressed\|^Use -header-filter\|^[0-9]* warnings\? treated as errors$\|^Error while processing' >&2 || true
    echo "clang-tidy: $findings findings in ${#checked[@]} sources of $folders (the lines above)" >&2
    exit 1
fi
echo "clang-tidy: ${#checked[@]} sources of $folders without findings ($((SECONDS - started)) s)"
