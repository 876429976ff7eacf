#!/bin/sh
# Runs cliptint on the bundled glyph: probe it, paint it blue, probe the painted copy.
set -eu
tool=${1:-build/cliptint}
here=$(dirname "$0")
out=$(dirname "$tool")/demo
mkdir -p "$out"

run() {
    echo "\$ cliptint $*"
    "$tool" "$@"
}

run --file "$here/glyph.png" "$out/glyph-3366cc.png" probe
run --file "$here/glyph.png" "$out/glyph-3366cc.png" paint '#3366cc'
run --file "$out/glyph-3366cc.png" "$out/unused.png" probe
echo "The painted glyph is $out/glyph-3366cc.png"
