#!/bin/sh
# Packs the bundled atlas with the built programs and shows the run.
# Usage: demo.sh BUILD_DIR DEMO_DIR
set -eu
build=$1
demo=$2
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$demo"
mkdir -p "$demo"

echo "\$ veskal -i:atlas.nti -r:route.nm2 -o:$demo/atlas.nm3 examples/atlas"
"$build/veskal" -i:atlas.nti -r:route.nm2 -o:"$demo/atlas.nm3" "$here/atlas"
echo "exit status 0; $(wc -c <"$demo/atlas.nm3") bytes in $demo/atlas.nm3"
