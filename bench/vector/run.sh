#!/usr/bin/env bash
# The vector tiles' benchmark: tiles with features per CPU second, and their bytes, for the
# sample city and the central-Taipei data (imported with kimport), at zooms 12 to 16 of the
# google set, against GDAL's MVT writer (ogr2ogr -f MVT) and geojson-vt with vt-pbf on the same
# features (kvector-tiles --geojson: EPSG:3857), in one run. Each is run REPEAT times; the
# median CPU time (user + system) is reported: for kestrel both its whole run (kestrel) and its
# building alone after the tile files are read and projected (kestrel-build). Run by hand (docs/benchmarks.md):
#   bench/vector/run.sh [BUILD_DIR] [REPEAT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
repeat=${2:-5}
real=$here/../../../shared/realdata
[ -d "$real" ] || real=/work/shared/realdata
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$here" && npm ci --no-audit --no-fund --silent)
"$build/bin/kimport" -q "$real/taipei_osm_roads.geojson" "$real/taipei_osm_paths.geojson" \
  "$real/taipei_osm_pois.geojson" "$real/taipei_osm_admin_boundary_lines.geojson" \
  --districts "$real/taipei_town_districts.geojson" --district-field TNAME -o "$work/taipei"

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
zmin=12 zmax=16
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
printf '%-8s %-12s %8s %12s %12s %14s %10s\n' data tool tiles bytes bytes/tile cpu_seconds tiles/cpu-s
for data in sample taipei; do
  dir=$build/appdir/kgrid; [ $data = taipei ] && dir=$work/taipei
  "$build/bin/kvector-tiles" --data "$dir" --geojson "$work/$data.geojson"
  # kestrel: the tiles with features, and every tile of the zooms over the data set timed: the
  # whole run of kvector-tiles (as GDAL's), and its building alone (the tile files read and
  # projected before, as geojson-vt's data is read before).
  rm -rf "$work/k"; "$build/bin/kvector-tiles" --data "$dir" --zoom $zmin-$zmax --out "$work/k" >/dev/null
  ktiles=$(find "$work/k" -name '*.mvt' -size +0 | wc -l)
  kbytes=$(find "$work/k" -name '*.mvt' -printf '%s\n' | awk '{s+=$1} END {print s}')
  kout=$(for i in $(seq "$repeat"); do
    /usr/bin/time -f '%U %S' -o "$work/t" "$build/bin/kvector-tiles" --data "$dir" --zoom $zmin-$zmax |
      awk '{print $12}' | tr '\n' ' '
    awk '{print $1 + $2}' "$work/t"; done)
  kcpu=$(awk '{print $2}' <<<"$kout" | median)
  kbuild=$(awk '{print $1}' <<<"$kout" | median)
  # GDAL: the whole run of ogr2ogr, reading the GeoJSON included.
  gcpu=$(for i in $(seq "$repeat"); do rm -rf "$work/g"
    /usr/bin/time -f '%U %S' -o "$work/t" ogr2ogr -f MVT "$work/g" "$work/$data.geojson" \
      -dsco MINZOOM=$zmin -dsco MAXZOOM=$zmax -dsco FORMAT=DIRECTORY -dsco COMPRESS=NO \
      -dsco EXTENT=4096 -dsco BUFFER=64 -dsco SIMPLIFICATION=2 -dsco MAX_SIZE=512000 \
      -dsco MAX_FEATURES=1000000 2>/dev/null
    awk '{print $1 + $2}' "$work/t"; done | median)
  gtiles=$(find "$work/g" -name '*.pbf' | wc -l)
  gbytes=$(find "$work/g" -name '*.pbf' -printf '%s\n' | awk '{s+=$1} END {print s}')
  # geojson-vt + vt-pbf: cutting and encoding (the script times itself, reading excluded).
  out=$(for i in $(seq "$repeat"); do node "$here/geojson_vt.mjs" "$work/$data.geojson" $zmin $zmax; done)
  vtiles=$(awk 'NR==1 {print $2}' <<<"$out"); vbytes=$(awk 'NR==1 {print $4}' <<<"$out")
  vcpu=$(awk '{print $6}' <<<"$out" | median)
  for row in "kestrel $ktiles $kbytes $kcpu" "kestrel-build $ktiles $kbytes $kbuild" \
      "gdal $gtiles $gbytes $gcpu" "geojson-vt $vtiles $vbytes $vcpu"; do
    set -- $row
    printf '%-8s %-12s %8d %12d %12d %14.3f %10.0f\n' $data $1 $2 $3 $(( $3 / ($2 > 0 ? $2 : 1) )) $4 \
      "$(awk -v t=$2 -v c=$4 'BEGIN {print (c > 0 ? t / c : 0)}')"
  done
done
