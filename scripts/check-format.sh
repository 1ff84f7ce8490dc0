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
failed=0
for file in "${files[@]}"; do
    if ! "$format" --dry-run -Werror --style=file "$file" >/dev/null 2>&1; then
        echo "not formatted: $file"
        failed=1
    fi
done
if [ "$failed" -ne 0 ]; then
    echo "check-format: the files above differ from .clang-format (run clang-format -i on them)" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files formatted"
