#!/usr/bin/env bash
# The web map service benchmark: the same 2,000 random 256x256 PNG GetMap requests at 20 m a
# pixel over the central-Taipei extract, 8 concurrent keep-alive clients (wrk), against
#   1. kserve with 2 workers,
#   2. kserve (2 workers) behind nginx,
#   3. MapServer (cgi-mapserver as 2 FastCGI processes under spawn-fcgi) behind nginx, reading
#      the same roads as a shapefile with a quadtree index,
# and WMTS tiles from nginx's warm cache. Prints p50/p99 latency and requests per second.
#   bash bench/web/run.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-15}
real=${REALDATA:-$root/../shared/realdata}
[ -d "$real" ] || real=/work/shared/realdata
work=$(mktemp -d /tmp/kserve-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  sleep 0.5
  # mapserv under FastCGI does not always end on SIGTERM.
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_http() {
  for _ in $(seq 1 200); do curl -fsS -o /dev/null "$1" 2>/dev/null && return 0; sleep 0.1; done
  echo "bench: $1 does not answer" >&2; return 1
}

echo "bench: importing $real"
"$build/bin/kimport" "$real/taipei_osm_roads.geojson" "$real/taipei_osm_paths.geojson" \
  "$real/taipei_osm_pois.geojson" "$real/taipei_osm_admin_boundary_lines.geojson" \
  --districts "$real/taipei_town_districts.geojson" --district-field TNAME \
  -o "$work/kgrid" >/dev/null

echo "bench: the same roads as a shapefile with a quadtree index"
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

# The extent of the roads in the grid, and 2,000 random windows of 256 x 256 pixels at 20 m.
read -r minx miny maxx maxy < <(ogrinfo -so -al "$work/roads.shp" | sed -n 's/^Extent: (\(.*\), \(.*\)) - (\(.*\), \(.*\))/\1 \2 \3 \4/p')
sed -e "s|@EXTENT@|$minx $miny $maxx $maxy|" -e "s|@SHAPE@|$work/roads|" "$here/roads.map.in" > "$work/roads.map"
/usr/bin/python3 - "$minx" "$miny" "$maxx" "$maxy" "$work" <<'PY'
import random, sys
minx, miny, maxx, maxy = map(float, sys.argv[1:5]); work = sys.argv[5]
random.seed(2000)
span = 256 * 20
with open(f"{work}/kserve.txt", "w") as k, open(f"{work}/mapserver.txt", "w") as m:
    for _ in range(2000):
        x = round(random.uniform(minx, maxx - span)); y = round(random.uniform(miny, maxy - span))
        bbox = f"{x},{y},{x + span},{y + span}"
        q = f"SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&SRS=EPSG:3826&BBOX={bbox}&WIDTH=256&HEIGHT=256&FORMAT=image/png&STYLES="
        k.write(f"/wms?{q}&LAYERS=map\n")
        m.write(f"/mapserver?{q}&LAYERS=roads\n")
PY

kport=$(free_port); nport=$(free_port); fport=$(free_port); fport2=$(free_port)
"$build/bin/kserve" --data "$work/kgrid/" --listen "127.0.0.1:$kport" --workers 2 2>/dev/null &
pids+=($!)
# MapServer 8 reads its configuration file first; it names the mapfile.
cat > "$work/mapserver.conf" <<CONF
CONFIG
  ENV
    MS_MAPFILE "$work/roads.map"
  END
END
CONF
# Two FastCGI processes, each spawn-fcgi in the foreground running one mapserv.
for port in "$fport" "$fport2"; do
  MAPSERVER_CONFIG_FILE="$work/mapserver.conf" spawn-fcgi -n -a 127.0.0.1 -p "$port" -- \
    /usr/lib/cgi-bin/mapserv >/dev/null 2>&1 &
  pids+=($!)
done
mkdir -p "$work/nginx"
cat > "$work/nginx.conf" <<NGINX
daemon off;
$( [ "$(id -u)" -eq 0 ] && echo "user root root;" )
pid $work/nginx.pid;
error_log $work/nginx/error.log;
worker_processes 2;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  $(sed -e "s|server 127.0.0.1:8081 max_fails=1 fail_timeout=5s;|server 127.0.0.1:$kport;|" \
        -e "/server 127.0.0.1:8082/d" -e "s|listen 127.0.0.1:8080;|listen 127.0.0.1:$nport;\n    location /mapserver { fastcgi_pass mapserver; include /etc/nginx/fastcgi_params; }|" \
        -e "s|/var/cache/nginx/kserve|$work/cache|" "$root/deploy/nginx/kserve.conf")
  upstream mapserver { server 127.0.0.1:$fport; server 127.0.0.1:$fport2; }
}
NGINX
nginx -p "$work/nginx" -c "$work/nginx.conf" &
pids+=($!)
wait_http "http://127.0.0.1:$kport/healthz"
wait_http "http://127.0.0.1:$nport/healthz"
first=$(head -1 "$work/mapserver.txt")
curl -fsS -o "$work/ms.png" "http://127.0.0.1:$nport$first"
file "$work/ms.png" | grep -q PNG || { echo "bench: MapServer does not answer with PNG" >&2; exit 1; }

run() {  # name url-base paths-file
  local out
  out=$(BENCH_PATHS=$3 wrk -t2 -c8 -d"${seconds}s" --latency -s "$here/requests.lua" "$2")
  local p50 p99 rps
  p50=$(awk '$1=="50%"{print $2}' <<<"$out"); p99=$(awk '$1=="99%"{print $2}' <<<"$out")
  rps=$(awk '/^Requests\/sec/{print $2}' <<<"$out")
  printf '%-34s p50 %8s  p99 %8s  %10s per second\n' "$1" "$p50" "$p99" "$rps"
  if grep -q "Non-2xx" <<<"$out"; then grep "Non-2xx" <<<"$out"; fi
}
echo "bench: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), ${seconds} s a run"
run "kserve, 2 workers" "http://127.0.0.1:$kport" "$work/kserve.txt"
run "kserve behind nginx" "http://127.0.0.1:$nport" "$work/kserve.txt"
run "MapServer FastCGI x2 behind nginx" "http://127.0.0.1:$nport" "$work/mapserver.txt"
# Tiles: up to 2,000 native tiles of levels 3 to 6, as the capabilities list them, warmed once.
curl -fsS "http://127.0.0.1:$kport/wmts/1.0.0/WMTSCapabilities.xml" > "$work/wmts.xml"
/usr/bin/python3 - "$work/wmts.xml" <<'PY' > "$work/tiles.txt"
import sys, xml.etree.ElementTree as ET
ns = {"w": "http://www.opengis.net/wmts/1.0", "ows": "http://www.opengis.net/ows/1.1"}
root = ET.parse(sys.argv[1]).getroot()
for tms in root.findall("w:Contents/w:TileMatrixSet", ns):
    if tms.find("ows:Identifier", ns).text != "native":
        continue
    for m in tms.findall("w:TileMatrix", ns):
        z = int(m.find("ows:Identifier", ns).text)
        if 3 <= z <= 6:
            for r in range(int(m.find("w:MatrixHeight", ns).text)):
                for c in range(int(m.find("w:MatrixWidth", ns).text)):
                    print(f"/tiles/native/{z}/{c}/{r}.png")
PY
while read -r t; do curl -fsS -o /dev/null "http://127.0.0.1:$nport$t" || true; done < <(head -2000 "$work/tiles.txt")
head -2000 "$work/tiles.txt" > "$work/tiles2000.txt"
run "WMTS tiles from nginx's warm cache" "http://127.0.0.1:$nport" "$work/tiles2000.txt"
