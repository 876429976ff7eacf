#!/bin/sh
# Runs the fuzz targets one after another, each for SECONDS, on the seeds (the pictures of
# tests/data, every format and colour type the decoders read, and its crashers; for run_fuzzer,
# which reads its input as a colour word too, also a list of colour words) and the corpus that
# earlier runs have grown. Fails if any target finds a crash, a leak, an input slower than 2 s or
# one that needs more than 1 GiB.
#
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]     (TARGET: canvas, run; default both)
#
# Everything it writes goes under fuzz/corpus-work/: colours/ (the colour seeds), <target>/ (the
# grown corpus), artifacts/<target>/ (the failing inputs) and logs/<target>.log.
set -eu
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR SECONDS [TARGET...]" >&2 && exit 2; }
build=$(cd "$1" && pwd)
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/fuzz/corpus-work
mkdir -p "$work/logs" "$work/colours"
n=0
for word in 3366cc '#3366CC' '##00ff00#' ' 00FF00 ' +ABCDE -00000 -0000F +-1234 0x00FF '00 F00' \
    00FF0 '#00FF0' '00ff00\t' '# #' '' FFFFFFFF 100000000 -0 + - gg0000 '\0303\025100000'; do
    printf '%b' "$word" >"$work/colours/word-$n"
    n=$((n + 1))
done

# Each failure aborts at once with a stack trace; leaks are checked after every input.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

[ $# -gt 0 ] || set -- canvas run
failed=""
for target in "$@"; do
    case $target in
    canvas) inputs=$root/tests/data ;;
    run) inputs="$root/tests/data $work/colours" ;;
    *) echo "unknown fuzz target: $target" >&2 && exit 2 ;;
    esac
    mkdir -p "$work/$target" "$work/artifacts/$target"
    log=$work/logs/$target.log
    echo "== ${target}_fuzzer for ${seconds} s (log: $log)"
    # shellcheck disable=SC2086 # inputs is a list of folders
    if "$build/${target}_fuzzer" -dict="$root/fuzz/pictures.dict" -max_len=65536 \
        -max_total_time="$seconds" -timeout=2 -rss_limit_mb=1024 -malloc_limit_mb=1024 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/$target/" "$work/$target" $inputs \
        >"$log" 2>&1; then
        grep -E '^(#[0-9]+[[:space:]]+DONE|stat::)' "$log" || true
    else
        echo "!! ${target}_fuzzer failed; the end of its log:"
        tail -n 60 "$log"
        failed="$failed $target"
    fi
done
[ -z "$failed" ] || { echo "fuzzing failed:$failed (failing inputs under $work/artifacts/)" && exit 1; }
