#!/usr/bin/env bash
# Installs the Debian 12 packages that the project needs, by purpose (docs/install.md):
#
#   main  what building and running the main job needs (scripts/run-main.sh): the drawing
#         layer, the engine, the tools with the importer, the request server tessera, the HTTP
#         map service kserve and its map viewer.
#   test  main, and on top what the tests, the benchmarks, the fuzz build, the Windows build
#         and its tests under Wine, the Debian packages and the container image need
#         (scripts/test.sh).
#
# Idempotent: apt is not touched at all when every package of the set is present. Only the
# 32-bit Wine (wine32, an i386 package) needs a foreign architecture: i386 is added for it in
# a step of its own, after everything else is installed, and removed again when its index or
# wine32 cannot be had that day, so that a broken foreign index never blocks anything else.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: scripts/install-deps.sh [main|test|peers] [--list]

Installs the Debian packages that a set needs and that are missing (as root, or through sudo).
  main     building and running the main job (scripts/run-main.sh); the default
  test     main, plus the tests, benchmarks, fuzz build, Windows build and Debian packages
           (scripts/test.sh)
  peers    test, plus the other map servers that the benchmarks compare with (bench/*/run.sh,
           run by hand; not part of the test command) and QGIS's Python modules, with which
           kserve's ogcapi test also checks QGIS's Features client
  --list   print the set's packages, one a line with what needs it, and install nothing
  --help   this text;  --version  the project's version

Environment: KESTREL_NO_WINE32=1 leaves out wine32 (the only i386 package): the i386
architecture is not added, and the 32-bit Windows tests under Wine are skipped.
EOF
}

# The sets, in one place: the set, the package, whether the job can go on without it
# (optional) or not (needed), and what needs it.
table() {
  cat <<'EOF'
main build-essential              needed   the C and C++ compilers
main cmake                        needed   the build
main ninja-build                  needed   the build
main pkg-config                   needed   the build: finding FreeType, fontconfig and libpng
main libfreetype-dev              needed   the drawing layer's text
main libfontconfig-dev            needed   the drawing layer's fonts
main fonts-wqy-zenhei             needed   the map labels' Chinese font
main libpng-dev                   needed   the drawing layer's PNG output, kserve's JPEG tiles
main libuemf-dev                  needed   the drawing layer's enhanced metafiles
main zlib1g-dev                   needed   kserve's compression
main libgif-dev                   needed   the GIF converter and kserve
main libjpeg62-turbo-dev          needed   kserve's JPEG maps and tiles (libjpeg-turbo)
main qt6-base-dev                 needed   the request server tessera (Qt widgets and D-Bus)
main dbus-daemon                  needed   the main job's private session bus
main dbus-bin                     needed   the main job's private session bus
main python3-dbus                 needed   the request server's client tessera-client (Python)
main libgdal-dev                  needed   the importer, kview's GeoTIFF and kserve
main libproj-dev                  needed   the importer, kview's GeoTIFF and kserve
main libsqlite3-dev               needed   kseed's MBTiles archives
main libboost-dev                 needed   kserve (Boost.Beast)
main libxml2-dev                  needed   kserve's capabilities documents (XML)
main nlohmann-json3-dev           needed   kserve's JSON answers
main libprotozero-dev             needed   the vector tiles and their glyph ranges (protobuf)
main curl                         needed   the main job's check that kserve answers
main nodejs                       optional the map viewer (not built without it)
main npm                          optional the map viewer (not built without it)
test git                          needed   the format check (lists the sources)
test clang-format                 needed   the format check
test libgtest-dev                 needed   the tests
test libgmock-dev                 needed   the tests
test libbenchmark-dev             needed   the benchmarks
test clang                        needed   the fuzz build
test libclang-rt-14-dev           needed   the fuzz build's sanitizer runtimes
test python3                      needed   the tests' independent checks
test python3-pil                  needed   the tests' image checks
test libglib2.0-bin               needed   the request server's tests (gdbus)
test dbus                         needed   the request server's tests
test systemd                      needed   the request server's tests (busctl)
test procps                       needed   the tests' process checks (ps, pgrep)
test imagemagick                  needed   the tests' image checks
test xvfb                         needed   the console windows' tests (virtual display)
test xauth                        needed   the console windows' tests (xvfb-run)
test x11-apps                     needed   the console windows' tests (xwd)
test gdal-bin                     needed   the tests' checks of georeferenced output
test python3-gdal                 needed   the vector tiles' checks (GDAL's MVT driver)
test nginx                        needed   kserve's scale-out test
test wrk                          needed   kserve's benchmark
test chromium                     optional the map viewer's browser test (skipped without it)
test help2man                     needed   the manual pages (man/update.sh)
test lintian                      needed   the Debian packages' test
test dpkg-dev                     needed   the Debian packages (cpack -G DEB)
test g++-mingw-w64-i686-posix     needed   the Windows build, 32-bit
test g++-mingw-w64-x86-64-posix   needed   the Windows build, 64-bit
test mingw-w64-tools              needed   the Windows build's type library (widl)
test libwine-dev                  needed   the Windows build's IDL files and stdole2.tlb
test googletest                   needed   the Windows tests (GoogleTest sources)
test wine                         needed   the Windows tests under Wine
test wine64                       needed   the Windows tests under Wine, 64-bit
test wine32:i386                  optional the Windows tests under Wine, 32-bit (skipped without it)
test sqlite3                      needed   the tests' reading of MBTiles archives
test libdeflate-dev               optional the PNG encoder's benchmark against libdeflate
test podman                       optional the container image's test (skipped without it)
test runc                         optional the container image's test: podman's runtime (crun refuses hybrid cgroups)
test mmdebstrap                   optional the container image's base (scripts/build-image.sh)
peers cgi-mapserver              needed   the web benchmark's peer (bench/web/run.sh)
peers mapserver-bin              needed   the seeding benchmark's peer map files
peers spawn-fcgi                 needed   the web benchmark's peer under FastCGI
peers mapproxy                   needed   the seeding benchmark's peer seeder (bench/seed/run.sh)
peers python3-qgis               optional QGIS's OGC API Features client in kserve's ogcapi test (skipped without it; 140 packages)
EOF
}

set_name=main
list_only=0
for arg in "$@"; do
  case $arg in
    main | test | peers) set_name=$arg ;;
    --list) list_only=1 ;;
    -h | --help) usage; exit 0 ;;
    --version)
      sed -n 's/^project(kestrel VERSION \([0-9.]*\).*/install-deps (kestrel) \1/p' \
        "$(dirname "$0")/../CMakeLists.txt"
      exit 0 ;;
    *) echo "install-deps: unknown argument '$arg' (see --help)" >&2; exit 2 ;;
  esac
done

# Each set holds the ones before it: main < test < peers.
rank() { case $1 in main) echo 0 ;; test) echo 1 ;; peers) echo 2 ;; esac; }
declare -A need purpose
wanted=()
while read -r set pkg kind what; do
  if [ "$(rank "$set")" -le "$(rank "$set_name")" ]; then
    wanted+=("$pkg"); need[$pkg]=$kind; purpose[$pkg]=$what
  fi
done < <(table)

if [ $list_only -eq 1 ]; then
  for p in "${wanted[@]}"; do printf '%-28s %-8s %s\n' "$p" "${need[$p]}" "${purpose[$p]}"; done
  exit 0
fi

say() { echo "install-deps: $*"; }

# (Each test reads a command's whole output first: grep -q on a pipe would end it early, and
# pipefail would take its SIGPIPE for a failure.)
installed() { grep -q 'install ok installed' <<<"$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)"; }
candidate() { grep -q 'Candidate: [^(]' <<<"$(apt-cache policy "$1" 2>/dev/null)"; }

missing=()
for p in "${wanted[@]}"; do
  case $p in
    # The map viewer runs on the machine's own Node.js (18 or newer) when it has one with npm.
    nodejs | npm) if command -v node >/dev/null && command -v npm >/dev/null; then continue; fi ;;
    wine32:i386) if [ -n "${KESTREL_NO_WINE32:-}" ]; then continue; fi ;;
  esac
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  say "all packages of the $set_name set present"
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    SUDO=(sudo)
  else
    say "missing: ${missing[*]}"
    say "installing them needs root: ask an administrator to run" \
        "'apt-get install --no-install-recommends ${missing[*]}' (docs/install.md, without root)"
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
apt_get() { "${SUDO[@]}" apt-get -o DPkg::Lock::Timeout=600 "$@"; }

# apt-get update, once more when an index failed; a second failure is reported in one line and
# apt goes on with the lists it has. Sets update_failed to the failed indexes' lines.
update_failed=
update() {
  local out try
  for try in 1 2; do
    if [ $try = 2 ]; then sleep 10; fi  # a mirror in the middle of a sync may be done by then
    if out=$(apt_get update -q 2>&1) && ! grep -q '^[WE]: Failed to fetch' <<<"$out"; then
      update_failed=
      return 0
    fi
    # One line for each index that failed (apt names some twice, as warning and as error).
    update_failed=$(grep -E '^[WE]: Failed to fetch' <<<"$out" |
                    sed 's/^[WE]: Failed to fetch //' | tr -s ' ' | sort -u -k1,1 ||
                    tail -n 1 <<<"$out")
  done
  say "apt-get update failed twice for $(wc -l <<<"$update_failed") index(es), going on with" \
      "the lists apt has: $(head -n 1 <<<"$update_failed" | cut -c1-160)"
  return 1
}

# Why a package cannot be installed, in one line (apt-get's simulation of installing it alone).
why_not() {
  local out
  out=$(apt_get install -s --no-install-recommends "$1" 2>&1) && { echo "installs alone"; return; }
  if grep -q 'unmet dependencies' <<<"$out"; then
    sed -n '/unmet dependencies/,/^E:/{/^ /p}' <<<"$out" | head -n 2 | tr -s ' ' | tr '\n' ';' |
      sed 's/^ //; s/;$//'
  elif grep -qE 'Unable to locate|no installation candidate' <<<"$out"; then
    echo "not in the configured package sources"
  else
    grep '^E:' <<<"$out" | head -n 1 | cut -c4- || echo "apt-get refuses it"
  fi
  return 0
}

failed_needed=0
# refuse PACKAGE REASON: reports one package that cannot be had, and what goes without it.
refuse() {
  say "cannot install $1 ($2): ${need[$1]} for ${purpose[$1]}"
  if [ "${need[$1]}" = needed ]; then failed_needed=1; fi
}

# install PACKAGE...: installs what it can, names each package it cannot with the reason.
install() {
  local p ok=() out
  for p in "$@"; do
    if candidate "$p"; then
      ok+=("$p")
    else
      refuse "$p" "not in the configured package sources"
    fi
  done
  [ ${#ok[@]} -gt 0 ] || return 0
  if ! apt_get install -s --no-install-recommends "${ok[@]}" >/dev/null 2>&1; then
    # Something in the lot cannot be installed: find what, and install the rest.
    local rest=()
    for p in "${ok[@]}"; do
      if apt_get install -s --no-install-recommends "$p" >/dev/null 2>&1; then
        rest+=("$p")
      else
        refuse "$p" "$(why_not "$p")"
      fi
    done
    ok=("${rest[@]}")
    [ ${#ok[@]} -gt 0 ] || return 0
  fi
  say "installing ${#ok[@]} packages with what they depend on (a few minutes): ${ok[*]}"
  if ! out=$(apt_get install -y -q --no-install-recommends "${ok[@]}" 2>&1); then
    echo "$out" | tail -n 20 >&2
    for p in "${ok[@]}"; do installed "$p" || refuse "$p" "apt-get install failed, see above"; done
  fi
}

native=()
wine32=0
for p in "${missing[@]}"; do
  if [ "$p" = wine32:i386 ]; then wine32=1; else native+=("$p"); fi
done

if [ ${#native[@]} -gt 0 ]; then
  update || true
  install "${native[@]}"
fi

# wine32: the i386 architecture in a step of its own, taken back when wine32 cannot be had.
if [ $wine32 -eq 1 ]; then
  added_i386=0
  if ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
    "${SUDO[@]}" dpkg --add-architecture i386
    added_i386=1
  fi
  reason=
  if ! update && grep -q 'i386' <<<"$update_failed"; then
    reason="the i386 package index failed to download"
  elif ! candidate wine32:i386; then
    reason="not in the configured package sources"
  elif ! apt_get install -s --no-install-recommends wine32:i386 >/dev/null 2>&1; then
    reason=$(why_not wine32:i386)
  else
    say "installing wine32:i386"
    out=$(apt_get install -y -q --no-install-recommends wine32:i386 2>&1) ||
      reason="apt-get install failed: $(grep '^E:' <<<"$out" | head -n 1 | cut -c4-)"
  fi
  if [ -n "$reason" ]; then
    say "cannot install wine32:i386 ($reason): the 32-bit Windows tests under Wine will be" \
        "skipped; the 32-bit Windows build does not need it"
    if [ $added_i386 -eq 1 ]; then
      "${SUDO[@]}" dpkg --remove-architecture i386
      say "removed the i386 architecture again"
      # The failed index may have cost apt other lists of its suite: fetch them again.
      update || true
    fi
  fi
fi

if [ $failed_needed -ne 0 ]; then
  say "some needed packages could not be installed (above); see docs/install.md"
  exit 1
fi
