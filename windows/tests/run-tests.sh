#!/usr/bin/env bash
# Runs the Windows tests of one build folder under Wine, in a fresh Wine prefix of its own
# that is deleted afterwards, on a virtual X display (the console window needs one).
#
#   windows/tests/run-tests.sh build-win32|build-win64
#
# Stages the server's application folder in the prefix (tessera.exe, BMP2GIF.OCX, the test
# stand-in for kestrel.dll, kgrid\ and tmp\), registers it, and runs the engine's own test
# suites, the C++ client, the VBScript and JScript clients (Wine's cscript), the registry and
# export-table checks, the server with the real kestrel.dll and the sample data set (compared
# with the Linux drawing layer's view), and the client again against folders without the
# converter and without the engine. The sample data set and kview come from the Linux build:
# $KESTREL_SAMPLE_DIR (default build/appdir/kgrid) and $KESTREL_KVIEW (default build/bin/kview).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)

if x86_64-w64-mingw32-objdump -f "$build/app/tessera.exe" | grep -q 'pei-x86-64'; then
  bits=64; objdump=x86_64-w64-mingw32-objdump
else
  bits=32; objdump=i686-w64-mingw32-objdump
fi
# The 32-bit programs need the 32-bit Wine (Debian's wine32, an i386 package), which a machine
# without the i386 architecture cannot have, and which a kernel without 32-bit support cannot
# run: then this bitness's tests are skipped, not failed.
wine32_loader=/usr/lib/wine/wine
wine32_runs=0
if [ -x "$wine32_loader" ] && "$wine32_loader" --version >/dev/null 2>&1; then wine32_runs=1; fi
if [ $bits = 32 ] && [ $wine32_runs = 0 ]; then
  echo "skip win32: the 32-bit Wine ($wine32_loader; Debian's wine32:i386) is not installed or" \
       "cannot run here, so the 32-bit Windows tests are skipped; the 32-bit programs were built"
  exit 0
fi

# The sample data set of the Linux build (the build that scripts/test.sh makes first).
sample=${KESTREL_SAMPLE_DIR:-$here/../../build/appdir/kgrid}
if [ ! -f "$sample/d4.txt" ]; then
  echo "run-tests: no sample data set in $sample: build the Linux build's sample_data target" \
       "(cmake --build build --target sample_data) or set KESTREL_SAMPLE_DIR" >&2
  exit 1
fi
sample=$(cd "$sample" && pwd)

if [ -z "${TESSERA_TEST_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" env TESSERA_TEST_DISPLAY=1 bash "$0" "$@"
fi

start=$(date +%s)
failures=0
ok() { echo "ok   win$bits: $*"; }
fail() { echo "FAIL win$bits: $*"; failures=$((failures + 1)); }

WINEPREFIX=$(mktemp -d /tmp/tessera-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEARCH=win$bits WINEDLLOVERRIDES="mscoree,mshtml="
# Debian's wine command takes the 32-bit loader whenever it is installed, even for a 64-bit
# prefix: where that loader cannot run, the commands below go to the 64-bit loader.
loaders=
if [ $wine32_runs = 0 ] && [ -e "$wine32_loader" ]; then
  loaders=$(mktemp -d /tmp/tessera-wine64.XXXXXX)
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
      >"$loaders/$name"
    chmod +x "$loaders/$name"
  done
  export PATH=$loaders:$PATH
fi
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" ${loaders:+"$loaders"}
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p 60  # stays up between the steps below
drive=$WINEPREFIX/drive_c

# The application folder, as an installation lays it out.
stage() {  # stage FOLDER [without FILE...]
  local folder=$drive/$1; shift
  mkdir -p "$folder/kgrid" "$folder/tmp"
  cp "$build/app/tessera.exe" "$build/app/BMP2GIF.OCX" "$build/standin/kestrel.dll" "$folder/"
  for f in "$@"; do rm -f "$folder/$f"; done
}
stage tessera
# A second copy of the engine at the old absolute path: the server must not draw through it,
# or the view would land in another instance than the one sdllgetbmp reads.
mkdir -p "$drive/winnt/system32"
cp "$build/standin/kestrel.dll" "$drive/winnt/system32/kestrel.dll"

run() { wine "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
regkey() { wine reg query "$1" >/dev/null 2>&1; }
# A server that myend ended may still be going away while its class is registered: wait until
# no tessera.exe of this prefix runs (at most 10 s), so that the next client starts a new one.
servers_gone() {
  for _ in $(seq 50); do
    pgrep -f 'tessera\.exe -Embedding' >/dev/null || return 0
    sleep 0.2
  done
}

# Registration.
if run 'C:\tessera\tessera.exe' /regserver; then ok "/regserver"; else fail "/regserver"; fi
run regsvr32 /s 'C:\tessera\BMP2GIF.OCX' || fail "regsvr32 BMP2GIF.OCX"
clsid=$(wine reg query 'HKCR\tessera.tesseraClass\CLSID' /ve 2>/dev/null | tr -d '\r' |
        grep -o '{[0-9A-F-]*}' || true)
for key in 'HKCR\TypeLib\{2D8AB3C4-BFFE-4247-9C28-DF6297F9E359}\6f.0' \
           'HKCR\Interface\{FFB1E4C6-D57D-44C0-AC69-A8BA852460AE}' 'HKCR\BMP2GIFLib.BMP2GIF\CLSID'; do
  if [ -n "$clsid" ] && regkey "$key"; then ok "registered $key"; else fail "not registered: $key"; fi
done

# The engine's own test suites (tests/data, tests/query) against the Windows engine, on Wine's
# file system: tile decoding and caching, the POI file reader, the road and POI reports byte
# for byte. Left out: the test that makes the Linux private report folder (on Windows the
# reports go into the folder itself, which exists).
# The report folder of report_place_test.cpp: C:\reports with a link at distcrrd.tmp to
# C:\target.txt, and C:\linked, a link to C:\reports.
mkdir -p "$drive/reports"
echo "not a report" > "$drive/target.txt"
ln -s ../target.txt "$drive/reports/distcrrd.tmp"
ln -s reports "$drive/linked"
for suite in data query; do
  if run "$build/tests/engine_${suite}_tests.exe" --gtest_brief=1 \
         --gtest_filter='-RoadReportTest.AnUnknownDistrictGivesAnEmptyFreshReport'; then
    ok "engine $suite tests"
  else
    fail "engine $suite tests"
  fi
done

# The unit suite of the server core (tests/server/core), the same as the Linux build runs.
if run "$build/tests/tessera_core_tests.exe" --gtest_brief=1; then
  ok "server core tests"
else
  fail "server core tests"
fi

if [ "$(cat "$drive/target.txt")" = "not a report" ] && [ ! -L "$drive/reports/distcrrd.tmp" ] &&
   [ -f "$drive/reports/distcrrd.tmp" ] && [ "$(ls -A "$drive/reports")" = "distcrrd.tmp" ]; then
  ok "reports replace a planted link and leave no temporary file"
else
  fail "report folder: $(ls -lA "$drive/reports" | tr '\n' ';')"
fi

# The C++ client.
export TESSERA_APP_DIR='C:\tessera'
if TESSERA_PHASE=main run "$build/tests/tessera_client_test.exe" --gtest_brief=1; then
  ok "C++ client"
else
  fail "C++ client"
fi

# Script clients; each prints the names of the GIF files it received.
gifs=()
for script in client.vbs client.js; do
  cp "$here/scripts/$script" "$drive/tessera/"
  if out=$(run cscript //nologo "C:\\tessera\\$script"); then ok "$script"; else fail "$script"; fi
  echo "$out" | grep -v '^GIF ' | sed "s/^/  $script: /"
  while read -r name; do gifs+=("$name"); done < <(echo "$out" | sed -n 's/^GIF //p')
  if [ $script = client.vbs ]; then
    # The console window that client.vbs showed last, for a look.
    sleep 1
    import -display "$DISPLAY" -window root "$build/console-window.png" 2>/dev/null || true
  fi
done

# The GIF files decode, keep the picture box's background and show what the engine drew.
if /usr/bin/python3 - "$drive/tessera/tmp" "${gifs[@]}" <<'PY'; then ok "GIF files decode"; else fail "GIF files"; fi
import sys
from PIL import Image
folder, names = sys.argv[1], sys.argv[2:]
assert len(names) == 3, names
for name in names:
    image = Image.open(f"{folder}/{name}")
    image.load()
    assert image.format == "GIF", name
    rgb = image.convert("RGB")
    w, h = rgb.size
    assert rgb.getpixel((w - 1, 0)) == (255, 255, 192), (name, rgb.getpixel((w - 1, 0)))
    refused = name.startswith("J8")  # the engine refused the scale: nothing drawn
    frame = rgb.getpixel((2, h // 2))
    assert frame == ((255, 255, 192) if refused else (0, 0, 255)), (name, frame)
PY
if ls "$drive/tessera/tmp/"*.bmp >/dev/null 2>&1; then fail "draw left BMP files behind"; fi

# The export tables of the engine stand-in and of the engine libraries against their
# module-definition files, which the build wrote from engine/exports.list: the same names and
# ordinals, undecorated.
if bash "$here/check-exports.sh" "$objdump" "$build/standin/kestrel.dll" "$build/tests/kestrel_standin.def"; then
  ok "export table"
else
  fail "export table"
fi
for lib in kestrel kestrelsrv; do
  if bash "$here/check-exports.sh" "$objdump" "$build/app/$lib.dll" "$build/engine/$lib.def"; then
    ok "export table of $lib.dll"
  else
    fail "export table of $lib.dll"
  fi
done

# Without the converter (neither registered nor beside the program) the window cannot load.
# No server of the scripts above may still hold the converter loaded while it is unregistered.
# regsvr32 /u once failed in CI without a word (/s keeps it from showing a message box): its
# exit status and whether the keys are gone are reported, and it is tried once more.
servers_gone
run 'C:\tessera\tessera.exe' /unregserver || true
unregistered=0
for attempt in 1 2; do
  status=0
  run regsvr32 /u /s 'C:\tessera\BMP2GIF.OCX' || status=$?
  if [ $status -eq 0 ] && ! regkey 'HKCR\BMP2GIFLib.BMP2GIF'; then unregistered=1; break; fi
  echo "  regsvr32 /u BMP2GIF.OCX, attempt $attempt: exit status $status," \
       "HKCR\\BMP2GIFLib.BMP2GIF $(regkey 'HKCR\BMP2GIFLib.BMP2GIF' && echo still there || echo gone)"
  sleep 1
done
[ $unregistered -eq 1 ] || fail "regsvr32 /u BMP2GIF.OCX"
# The real engine: kestrel.dll of this build with the sample data set in kgrid\, served to a
# VBScript client (the GIF of draw) and the C++ client (the RLE8 BMP of draw3); both decode with
# Pillow and show the map's roads, not only its background.
stage real
cp "$build/app/kestrel.dll" "$drive/real/kestrel.dll"
cp "$sample"/* "$drive/real/kgrid/"
cp "$here/scripts/real_engine.vbs" "$drive/real/"
run 'C:\real\tessera.exe' /regserver || fail "/regserver in real"
real_gif=
if out=$(run cscript //nologo 'C:\real\real_engine.vbs'); then ok "real_engine.vbs"; else fail "real_engine.vbs"; fi
echo "$out" | grep -v '^GIF ' | sed "s/^/  real_engine.vbs: /"
real_gif=$(echo "$out" | sed -n 's/^GIF //p')
sleep 1  # the console window with the real engine's map, for a look
import -display "$DISPLAY" -window root "$build/console-window-real.png" 2>/dev/null || true
if TESSERA_APP_DIR='C:\real' TESSERA_PHASE=real-engine TESSERA_BMP_OUT='C:\real\draw3.bmp' \
   run "$build/tests/tessera_client_test.exe" --gtest_brief=1 --gtest_filter='RealEngine.*'; then
  ok "real engine: draw3"
else
  fail "real engine: draw3"
fi
if /usr/bin/python3 - "$drive/real/tmp/$real_gif" "$drive/real/draw3.bmp" "$build/real-draw3.png" <<'PY'
import sys
from PIL import Image
gif, bmp, keep = sys.argv[1:]
background = (255, 255, 192)
for path, form in ((gif, "GIF"), (bmp, "BMP")):
    image = Image.open(path)
    image.load()
    assert image.format == form, (path, image.format)
    if form == "BMP":
        assert image.info.get("compression") == 1, image.info  # RLE8
        assert image.mode == "P", image.mode
        image.convert("RGB").save(keep)
    colours = image.convert("RGB").getcolors(1 << 16)
    ink = sum(n for n, c in colours if c != background)
    w, h = image.size
    assert dict((c, n) for n, c in colours).get(background, 0) > w * h // 4, (path, "background")
    assert len(colours) >= 4 and ink > w * h // 50, (path, len(colours), ink)
PY
then ok "real engine: the GIF and the RLE8 BMP decode and show the map"; else fail "real engine: images"; fi
# The same view drawn by the Linux drawing layer (kview of the Linux build): lines and areas
# agree within one pixel, text may differ (docs/windows.md gives the figures). draw3's view is
# the picture box's inner 396 x 296 pixels around (300000, 2771000) at 10 m per pixel.
kview=${KESTREL_KVIEW:-$(dirname "$sample")/../bin/kview}
if [ -x "$kview" ] &&
   "$kview" --data "$sample/" --top-left 298020,2772480 --size 396x296 --scale 10 \
            --layers 00210000 --output "$build/linux-view.png" &&
   /usr/bin/python3 "$here/ink_agreement.py" "$build/real-draw3.png" "$build/linux-view.png" \
            --min 0.9 | sed 's/^/  /'; then
  ok "real engine: lines and areas agree with the Linux drawing layer"
else
  fail "real engine: ink agreement with the Linux drawing layer (kview: $kview)"
fi
run 'C:\real\tessera.exe' /unregserver || true

servers_gone
stage noconverter BMP2GIF.OCX
run 'C:\noconverter\tessera.exe' /regserver || fail "/regserver in noconverter"
if TESSERA_APP_DIR='C:\noconverter' TESSERA_PHASE=no-converter \
   run "$build/tests/tessera_client_test.exe" --gtest_brief=1 --gtest_filter='NoConverter.*'; then
  ok "no converter"
else
  fail "no converter"
fi
run 'C:\noconverter\tessera.exe' /unregserver || true

servers_gone

# Without the engine: creation fails with error 48, even with a kestrel.dll planted in the
# client's (and so the server's) current directory.
stage noengine kestrel.dll
mkdir -p "$drive/planted"
cp "$build/standin/kestrel.dll" "$drive/planted/"
run 'C:\noengine\tessera.exe' /regserver || fail "/regserver in noengine"
if (cd "$drive/planted" && TESSERA_APP_DIR='C:\noengine' TESSERA_PHASE=no-engine \
    run "$build/tests/tessera_client_test.exe" --gtest_brief=1 --gtest_filter='NoEngine.*'); then
  ok "no engine"
else
  fail "no engine"
fi

# /unregserver removes what /regserver wrote.
if run 'C:\noengine\tessera.exe' /unregserver; then ok "/unregserver"; else fail "/unregserver"; fi
for key in 'HKCR\tessera.tesseraClass' 'HKCR\TypeLib\{2D8AB3C4-BFFE-4247-9C28-DF6297F9E359}'; do
  if regkey "$key"; then fail "still registered: $key"; else ok "removed $key"; fi
done
if TESSERA_PHASE=unregistered run "$build/tests/tessera_client_test.exe" --gtest_brief=1 \
     --gtest_filter='Registration.*'; then
  ok "unregistered"
else
  fail "unregistered"
fi

echo "win$bits: $failures failure(s) in $(( $(date +%s) - start )) s"
[ "$failures" -eq 0 ]
