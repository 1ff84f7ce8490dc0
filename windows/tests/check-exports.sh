#!/usr/bin/env bash
# Compares the export table of a DLL with a module-definition file: the same names, the same
# ordinals, nothing more and nothing less, and no decorated names.
#
#   check-exports.sh OBJDUMP LIBRARY.dll EXPORTS.def
set -euo pipefail
objdump=$1 dll=$2 def=$3

# "name ordinal" lines from the definition file (comments, LIBRARY and EXPORTS skipped).
expected=$(sed -e 's/;.*//' "$def" | awk '
  toupper($1) == "LIBRARY" || toupper($1) == "EXPORTS" || NF == 0 { next }
  { name = $1; sub(/=.*/, "", name); ord = ""
    for (i = 2; i <= NF; i++) if ($i ~ /^@[0-9]+$/) ord = substr($i, 2)
    print name, ord }' | sort)

# The same from the export table: [index] name in the name table, ordinal = index + base.
actual=$("$objdump" -p "$dll" | awk '
  /^Ordinal Base/ { base = $3 }
  /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
  table && NF == 0 { table = 0 }
  table { gsub(/[][]/, " "); print $2, $1 + base }' | sort)

if [ "$expected" != "$actual" ]; then
  echo "check-exports: the exports of $dll differ from $def" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
if echo "$actual" | grep -q '@'; then
  echo "check-exports: decorated names in $dll" >&2
  exit 1
fi
echo "check-exports: $(echo "$actual" | wc -l) exports of $(basename "$dll") as $(basename "$def") lists"
