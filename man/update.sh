#!/bin/sh
# update.sh: regenerates the manual pages of man/ from the programs' own --help and --version
# with help2man, so that they say what the programs say. Run after changing a program's help:
#   sh man/update.sh BUILD_DIR
# (BUILD_DIR: a build with the programs, default build). The pages are kept in the repository,
# so that a build needs no help2man.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
page() {  # page PROGRAM "NAME LINE" [help2man options]
    program=$1 name=$2
    shift 2
    help2man --no-info --section=1 --source="kestrel" --name="$name" "$@" \
        --output="$here/$(basename "$program").1" "$program"
}
page "$build/bin/kview" "draw a map view of a data set into an image file" \
    --include="$here/kview.h2m"
page "$build/bin/kimport" "import vector geodata into a map data set" \
    --include="$here/kimport.h2m"
page "$build/bin/kseed" "render map tiles into an MBTiles or PMTiles archive" \
    --include="$here/kseed.h2m"
page "$build/bin/kdataset-dump" "print a map data set or tile file in readable form"
page "$build/bin/ksample-gen" "write the sample map data set"
page "$build/bin/tessera-client" "call the tessera map request server over D-Bus" \
    --include="$here/tessera-client.h2m"
page "$build/appdir/tessera" "the map request server on the D-Bus session bus" \
    --include="$here/tessera.h2m"
