#!/usr/bin/env bash
# Checks that every C and C++ source of the repository is formatted as .clang-format says.
# Prints the files that differ (with clang-format's own report) and fails when there is any.
# To fix them: clang-format -i <file>... (or `git clang-format` for staged changes only).
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" >/dev/null; then
    echo "check-format: $format not found (install clang-format)" >&2
    exit 2
fi
mapfile -t files < <(git ls-files -- '*.c' '*.h' '*.cpp' '*.hpp' '*.cc')
# Batches of files on every processor; a file that differs is named in clang-format's report
# ("FILE:LINE:COL: error: code should be clang-formatted").
report=$(printf '%s\0' "${files[@]}" |
         xargs -0 -n 32 -P "$(nproc)" "$format" --dry-run -Werror --style=file 2>&1 >/dev/null) &&
  status=0 || status=$?
mapfile -t differ < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' \
                        <<<"$report" | sort -u)
for file in "${differ[@]}"; do echo "not formatted: $file"; done
if [ ${#differ[@]} -ne 0 ]; then
    echo "check-format: the files above differ from .clang-format (run clang-format -i on them)" >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "$report" >&2
    echo "check-format: $format failed" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files formatted"
