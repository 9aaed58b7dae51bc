#!/bin/sh
# Packs the bundled atlas with the built programs, unpacks the archive again
# and checks that every extracted file equals its source.
# Usage: demo.sh BUILD_DIR DEMO_DIR
set -eu
build=$1
demo=$2
atlas=$(cd "$(dirname "$0")/atlas" && pwd)

rm -rf "$demo"
mkdir -p "$demo"

echo "\$ veskal -i:atlas.nti -r:route.nm2 -o:$demo/atlas.nm3 $atlas"
"$build/veskal" -i:atlas.nti -r:route.nm2 -o:"$demo/atlas.nm3" "$atlas"
echo "exit status 0; $(wc -c <"$demo/atlas.nm3") bytes in $demo/atlas.nm3"
echo

echo "\$ unveskal $demo/atlas.nm3"
"$build/unveskal" "$demo/atlas.nm3"
echo "exit status 0"
echo

# The packer's order: index, route file, then the other .nm2 files by name.
out=$demo/atlas.nm2
same() {
  cmp "$1" "$2"
  echo "  $(basename "$2") = $(basename "$1")"
}
echo "checking the extracted files against their sources:"
same "$atlas/atlas.nti" "$out/index.060.nti"
same "$atlas/route.nm2" "$out/atlas_00000.nm2"
same "$atlas/coast.nm2" "$out/atlas_00001.nm2"
same "$atlas/Hills.nm2" "$out/atlas_00002.nm2"
same "$atlas/rivers.nm2" "$out/atlas_00003.nm2"
[ "$(ls "$out" | wc -l)" -eq 5 ]
echo "all 5 files identical"
