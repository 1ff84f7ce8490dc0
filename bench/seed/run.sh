#!/usr/bin/env bash
# The seeding benchmark: the tiles of the google set (EPSG:3857), zoom 10 to 16, over
#   1. the sample city (the build's appdir/kgrid), and
#   2. central Taipei imported from OpenStreetMap (/work/shared/realdata), within the box that
#      its roads cover,
# each seeded, in one run on the same cores:
#   - by kseed into MBTiles and into PMTiles (2 workers);
#   - through kserve over HTTP (2 workers): curl fetches the same tiles in kseed's order
#     (`kseed --list`), 4 transfers at a time on kept-alive connections, and throws them away
#     (no archive is written: a lower bound on seeding through the web service);
#   - for Taipei, by MapProxy's seeder (mapproxy-seed, 2 processes, metatiles of 4 x 4 without
#     a buffer, into an MBTiles cache) over MapServer (its CGI program, which MapProxy runs
#     itself) drawing the same roads from a shapefile (bench/web/roads.map.in).
# Prints tiles, wall-clock seconds, tiles a second, the processor seconds of the seeder (kseed and
# its workers; kserve's workers; MapProxy and the MapServer processes it runs) and archive sizes.
# On a machine shared with other work, the processor seconds are the steadier figure.
#   bash bench/seed/run.sh [BUILD_DIR]        (ZOOMS=A-B for another zoom range)
set -euo pipefail
[ -n "${BENCH_TRACE:-}" ] && set -x
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
real=${REALDATA:-$root/../shared/realdata}
[ -d "$real" ] || real=/work/shared/realdata
zooms=${ZOOMS:-10-16}
work=$(mktemp -d /tmp/kseed-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_http() {
  for _ in $(seq 1 200); do curl -fsS -o /dev/null "$1" 2>/dev/null && return 0; sleep 0.1; done
  echo "bench: $1 does not answer" >&2; return 1
}
now() { date +%s.%N; }
size() { stat -c %s "$1" | awk '{printf "%.1f MB", $1 / 1e6}'; }
report() {  # name tiles seconds cpu-seconds [archive]
  printf '%-44s %7d tiles %8.2f s %8.0f tiles/s  cpu %8.2f s %8.0f tiles/cpu-s  %s\n' "$1" "$2" "$3" \
    "$(echo "$2 / $3" | bc -l)" "$4" "$(echo "$2 / $4" | bc -l)" "${5:+$(size "$5")}"
}
# Processor seconds (user and system) of processes, from /proc.
cpu_of() {
  local tick total=0 p
  tick=$(getconf CLK_TCK)
  for p in "$@"; do
    total=$((total + $(awk '{print $14 + $15}' "/proc/$p/stat" 2>/dev/null || echo 0)))
  done
  echo "$total / $tick" | bc -l
}

# seed NAME DATA BBOX: kseed into both formats, then kserve over HTTP.
seed() {
  local name=$1 data=$2 bbox=$3 t0 t1 n
  "$build/bin/kseed" --data "$data" --zoom "$zooms" --bbox "$bbox" --list > "$work/$name.tiles"
  n=$(wc -l < "$work/$name.tiles")
  for fmt in mbtiles pmtiles; do
    t0=$(now)
    /usr/bin/time -f '%U %S' -o "$work/time" "$build/bin/kseed" --data "$data" --zoom "$zooms" \
      --bbox "$bbox" --workers 2 --quiet --output "$work/$name.$fmt" > "$work/$name.$fmt.log"
    t1=$(now)
    report "$name: kseed into $fmt" "$n" "$(echo "$t1 - $t0" | bc -l)" \
      "$(awk '{print $1 + $2}' "$work/time")" "$work/$name.$fmt"
    grep -o 'holds .*' "$work/$name.$fmt.log" | sed 's/^/      /'
  done
  local port
  port=$(free_port)
  "$build/bin/kserve" --data "$data" --listen "127.0.0.1:$port" --workers 2 --viewer '' 2>/dev/null &
  pids+=($!)
  wait_http "http://127.0.0.1:$port/healthz"
  sed "s|^|url = \"http://127.0.0.1:$port/tiles/google/|; s|\$|.png\"\noutput = \"/dev/null\"|" \
    "$work/$name.tiles" > "$work/$name.curl"
  local before after
  before=$(cpu_of "${pids[-1]}" $(ps -o pid= --ppid "${pids[-1]}"))
  t0=$(now)
  curl -fsS --no-progress-meter --parallel --parallel-max 4 --config "$work/$name.curl"
  t1=$(now)
  after=$(cpu_of "${pids[-1]}" $(ps -o pid= --ppid "${pids[-1]}"))
  report "$name: kserve over HTTP (curl, 4 at a time)" "$n" "$(echo "$t1 - $t0" | bc -l)" \
    "$(echo "$after - $before" | bc -l)"
  kill "${pids[-1]}"
  wait "${pids[-1]}" 2>/dev/null || true
  unset 'pids[-1]'
}

echo "bench: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
sample="$build/appdir/kgrid/"
# The sample city's whole extent in degrees (kseed's default area).
read -r w s e n < <(/usr/bin/python3 - "$build" "$sample" <<'PY'
import json, subprocess, sys, socket, time, urllib.request
build, data = sys.argv[1:3]
s = socket.socket(); s.bind(("127.0.0.1", 0)); port = s.getsockname()[1]; s.close()
p = subprocess.Popen([f"{build}/bin/kserve", "--data", data, "--listen", f"127.0.0.1:{port}",
                      "--workers", "1", "--viewer", ""], stderr=subprocess.DEVNULL)
try:
    for _ in range(200):
        try:
            info = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/api/info"))
            break
        except OSError:
            time.sleep(0.1)
    print(*info["lonlat"])
finally:
    p.terminate()
PY
)
seed "sample city" "$sample" "$w,$s,$e,$n"

echo "bench: importing $real"
"$build/bin/kimport" "$real/taipei_osm_roads.geojson" "$real/taipei_osm_paths.geojson" \
  "$real/taipei_osm_pois.geojson" "$real/taipei_osm_admin_boundary_lines.geojson" \
  --districts "$real/taipei_town_districts.geojson" --district-field TNAME \
  -o "$work/kgrid" >/dev/null
# The same roads as a shapefile for MapServer, as bench/web/run.sh makes them.
types="CASE WHEN highway='motorway' THEN 4 WHEN highway='trunk' THEN 1
  WHEN highway IN ('motorway_link','trunk_link') THEN 2
  WHEN highway IN ('primary','primary_link') THEN 5
  WHEN highway IN ('secondary','secondary_link') THEN 6
  WHEN highway IN ('tertiary','tertiary_link') THEN 7
  WHEN highway IN ('residential','unclassified','living_street','road') THEN 8
  WHEN highway='service' THEN 9 ELSE 3 END"
ogr2ogr -q -f "ESRI Shapefile" -t_srs EPSG:3826 -nlt LINESTRING -explodecollections -dialect SQLite \
  -sql "SELECT geometry, $types AS type FROM taipei_osm_roads" "$work/roads.shp" "$real/taipei_osm_roads.geojson"
ogr2ogr -q -append -f "ESRI Shapefile" -t_srs EPSG:3826 -nlt LINESTRING -explodecollections -dialect SQLite \
  -sql "SELECT geometry, 3 AS type FROM taipei_osm_paths" "$work/roads.shp" "$real/taipei_osm_paths.geojson"
shptree "$work/roads.shp" >/dev/null
read -r minx miny maxx maxy < <(ogrinfo -so -al "$work/roads.shp" | sed -n 's/^Extent: (\(.*\), \(.*\)) - (\(.*\), \(.*\))/\1 \2 \3 \4/p')
# The roads' box in degrees: the area both seeders cover.
read -r w s e n < <(printf '%s %s\n%s %s\n' "$minx" "$miny" "$maxx" "$maxy" |
  gdaltransform -s_srs EPSG:3826 -t_srs EPSG:4326 -output_xy | tr '\n' ' '; echo)
seed "Taipei" "$work/kgrid/" "$w,$s,$e,$n"

if command -v mapproxy-seed >/dev/null && [ -x /usr/lib/cgi-bin/mapserv ]; then
  sed -e "s|@EXTENT@|$minx $miny $maxx $maxy|" -e "s|@SHAPE@|$work/roads|" \
      -e 's|"wms_srs" "EPSG:3826"|"wms_srs" "EPSG:3826 EPSG:3857"|' \
      "$root/bench/web/roads.map.in" > "$work/roads.map"
  cat > "$work/mapserver.conf" <<CONF
CONFIG
  ENV
    MS_MAP_PATTERN "^$work/"
  END
END
CONF
  cat > "$work/mapproxy.yaml" <<YAML
services:
  demo:
layers:
  - name: roads
    title: roads
    sources: [roads_cache]
caches:
  roads_cache:
    grids: [GLOBAL_WEBMERCATOR]
    sources: [roads_ms]
    meta_size: [4, 4]
    meta_buffer: 0
    format: image/png
    cache:
      type: mbtiles
      filename: $work/mapproxy.mbtiles
sources:
  roads_ms:
    type: mapserver
    req:
      layers: roads
      map: $work/roads.map
      transparent: false
    mapserver:
      binary: /usr/lib/cgi-bin/mapserv
      working_dir: $work
YAML
  cat > "$work/seed.yaml" <<YAML
seeds:
  taipei:
    caches: [roads_cache]
    grids: [GLOBAL_WEBMERCATOR]
    coverages: [taipei]
    levels:
      from: ${zooms%-*}
      to: ${zooms#*-}
coverages:
  taipei:
    bbox: [$w, $s, $e, $n]
    srs: "EPSG:4326"
YAML
  t0=$(now)
  MAPSERVER_CONFIG_FILE="$work/mapserver.conf" /usr/bin/time -f '%U %S' -o "$work/time" \
    mapproxy-seed -q -f "$work/mapproxy.yaml" -s "$work/seed.yaml" -c 2 --seed ALL \
    > "$work/mapproxy.log" 2>&1 || { tail -20 "$work/mapproxy.log" >&2; exit 1; }
  t1=$(now)
  n=$(sqlite3 "$work/mapproxy.mbtiles" "SELECT count(*) FROM tiles")
  # MapProxy stores every tile of a metatile, also those outside the area.
  report "Taipei: MapProxy's seeder over MapServer" "$n" "$(echo "$t1 - $t0" | bc -l)" \
    "$(awk '{print $1 + $2}' "$work/time")" "$work/mapproxy.mbtiles"
else
  echo "bench: mapproxy-seed or MapServer's CGI program missing (Debian: mapproxy, cgi-mapserver)"
fi
