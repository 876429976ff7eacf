#!/bin/sh
# Runs cliptint on the bundled glyph: probe it, paint it blue, probe the painted copy.
set -eu
tool=${1:-build/cliptint}
here=$(dirname "$0")
out=$(dirname "$tool")/demo
mkdir -p "$out"

# The word as it has to be typed: in single quotes unless it is made of characters the shell
# takes as they are ('#' would begin a comment).
quote() {
    case $1 in
    '' | *[!A-Za-z0-9_./:=+-]*) printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")" ;;
    *) printf '%s' "$1" ;;
    esac
}

# Shows each command as it can be pasted into a shell, then runs it.
run() {
    printf '$ %s' "$(quote "$tool")"
    for word in "$@"; do
        printf ' %s' "$(quote "$word")"
    done
    echo
    "$tool" "$@"
}

run --file "$here/glyph.png" "$out/glyph-3366cc.png" probe
run --file "$here/glyph.png" "$out/glyph-3366cc.png" paint '#3366cc'
run --file "$out/glyph-3366cc.png" "$out/unused.png" probe
echo "The painted glyph is $out/glyph-3366cc.png"
