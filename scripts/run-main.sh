#!/usr/bin/env bash
# The main job: installs what is missing of the main set of packages (scripts/install-deps.sh),
# builds the project, and has the request server draw one map view of the sample data set over
# D-Bus, once as a GIF file (draw) and once as an 8-bit BMP (draw3). Uses the session bus when
# there is one; otherwise starts a private one whose service folder is the build tree's, so
# that the bus starts the server on first use.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build}   # another build folder may be named, for example BUILD_DIR=build-dev

bash scripts/install-deps.sh main
# A new build folder is configured without the tests and benchmarks (scripts/test.sh builds
# them), so that the main job needs only the main set of packages; an existing one keeps its
# settings.
options=()
if [ ! -f "$build/CMakeCache.txt" ]; then
  options=(-DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_BENCH=OFF)
fi
cmake -S . -B "$build" -G Ninja "${options[@]}"
cmake --build "$build"

appdir=$root/$build/appdir
client=$root/$build/bin/tessera-client
out=$root/$build/views
mkdir -p "$out"

started_bus=
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  # A private session bus that activates the build tree's tessera.
  DBUS_SESSION_BUS_ADDRESS=$(dbus-daemon --config-file="$root/$build/server/dbus/session.conf" \
                             --fork --print-address=1 --print-pid=3 3>"$out/.bus-pid")
  export DBUS_SESSION_BUS_ADDRESS
  started_bus=$(cat "$out/.bus-pid")
  rm -f "$out/.bus-pid"
  echo "run-main: started a private session bus at $DBUS_SESSION_BUS_ADDRESS"
else
  # The session bus activates what the user registered: point it at this build.
  "$appdir/tessera" --regserver
fi

cleanup() {
  "$client" myend >/dev/null 2>&1 || true
  if [ -n "$started_bus" ]; then kill "$started_bus" 2>/dev/null || true; fi
}
trap cleanup EXIT

x=301234 y=2771234 scale=20
gif=$("$client" draw $x $y $scale view 360 280)
if [ "$gif" = "err.gif" ]; then
  echo "run-main: draw failed (see $appdir/tmp/tessera.log)" >&2
  exit 1
fi
cp "$appdir/tmp/$gif" "$out/$gif"
"$client" draw3 $x $y $scale "$out/view.bmp" >/dev/null

echo "run-main: the view centred on ($x, $y) at $scale m a pixel:"
echo "  GIF from draw:  $appdir/tmp/$gif (copied to $out/$gif)"
echo "  BMP from draw3: $out/view.bmp"

# The HTTP map service on the same sample data set. It keeps running after this script; a
# kserve already answering on the address is left alone.
listen=${KSERVE_LISTEN:-127.0.0.1:8080}
kserve_log=$out/kserve.log
if curl -fsS "http://$listen/healthz" >/dev/null 2>&1; then
  echo "run-main: a map service already answers at http://$listen/"
else
  setsid "$root/$build/bin/kserve" --data "$appdir/kgrid/" --listen "$listen" \
    >"$kserve_log" 2>&1 </dev/null &
  kserve_pid=$!
  for _ in $(seq 1 100); do
    if curl -fsS "http://$listen/healthz" >/dev/null 2>&1; then break; fi
    if ! kill -0 "$kserve_pid" 2>/dev/null; then
      echo "run-main: kserve did not start (see $kserve_log)" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "run-main: kserve serves the sample data set and its map viewer at http://$listen/ (pid $kserve_pid; stop it"
  echo "  with: kill $kserve_pid; log: $kserve_log). For example:"
fi
if [ -f "$root/$build/share/kestrel/viewer/index.html" ]; then
  echo "  http://$listen/   (the map viewer: open it in a browser)"
else
  echo "  (the map viewer was not built: it needs Node.js 18+ and npm; see the cmake output)"
fi
echo "  http://$listen/wms?SERVICE=WMS&REQUEST=GetCapabilities"
echo "  http://$listen/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&CRS=EPSG:3826&BBOX=297674,2768474,304794,2773994&WIDTH=356&HEIGHT=276&FORMAT=image/png"
echo "  http://$listen/tiles/google/14/13719/7013.png"
