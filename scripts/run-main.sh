#!/usr/bin/env bash
# The main job: installs what is missing, builds the project, and has the request server draw
# one map view of the sample data set over D-Bus, once as a GIF file (draw) and once as an
# 8-bit BMP (draw3). Uses the session bus when there is one; otherwise starts a private one
# whose service folder is the build tree's, so that the bus starts the server on first use.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build}   # another build folder may be named, for example BUILD_DIR=build-dev

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja
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
