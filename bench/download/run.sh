#!/bin/sh
# Downloads 2 000 files of 64 KB from nginx on 127.0.0.1, once with
# `wget -nc -i list` and once with KIRO's DownloadFiles, in the same run,
# over http and over https, and prints both times and their ratio (targets:
# KIRO at most 0.9 x wget; the https ratio within 10 % of the http one).
#
#   bench/download/run.sh [BUILD_DIR]     (default build-release)
#   ROUNDS=3 FILES=2000 bench/download/run.sh ...
#   DL_TMP=/tmp bench/download/run.sh ...   (where the files go; default /dev/shm)
#   SETTLE=8   (seconds each side waits after the files before it were deleted)
# As in bench/window: the files go to memory, since this virtual machine's
# disk made both sides' times grow from round to round, and each side starts
# once the memory freed before it has settled.
set -eu

SRC=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$SRC/build-release}
ROUNDS=${ROUNDS:-3}
FILES=${FILES:-2000}

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$BUILD" --target kiro_bench_download -j2 >/dev/null
BENCH="$BUILD/bench/download/kiro_bench_download"

SETTLE=${SETTLE:-8}
W=$(mktemp -d "${BENCH_TMP:-/tmp}/kiro-bench-download.XXXXXX")
if [ -z "${DL_TMP:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then DL_TMP=/dev/shm; fi
DL=$(mktemp -d "${DL_TMP:-$W}/kiro-bench-dl.XXXXXX")
NGINX_PID=
cleanup() {
    if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
    rm -rf "$W" "$DL"
}
trap cleanup EXIT INT TERM

# The files: random bytes, so nothing compresses.
mkdir -p "$W/www/files" "$W/logs"
dd if=/dev/urandom of="$W/all" bs=65536 count="$FILES" status=none
(cd "$W/www/files" && split -b 65536 -d -a 4 --additional-suffix=.bin "$W/all" f)
rm "$W/all"

. "$SRC/bench/nginx.sh"
start_nginx "$W" https

now_ms() { date +%s%3N; }
check_folder() {   # folder: every file there, whole
    n=$(find "$1" -type f -size 65536c | wc -l)
    [ "$n" -eq "$FILES" ] || { echo "$1 holds $n whole files, not $FILES"; exit 1; }
}
median() { echo "$@" | tr ' ' '\n' | sed '/^$/d' | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

# One scheme and port: sets W_MED and K_MED (median milliseconds).
run_scheme() {
    scheme=$1 port=$2
    LIST="$W/list-$scheme"
    for f in $(cd "$W/www/files" && ls); do
        echo "$scheme://127.0.0.1:$port/files/$f"
    done >"$LIST"
    WGET_TIMES=
    KIRO_TIMES=
    r=1
    while [ "$r" -le "$ROUNDS" ]; do
        rm -rf "$DL/wget" "$DL/kiro"; mkdir -p "$DL/wget" "$DL/kiro"
        sync; sleep "$SETTLE"   # neither side pays for the other's files
        t0=$(now_ms)
        (cd "$DL/wget" && wget -q -nc --ca-certificate="$CA_FILE" -i "$LIST")
        t1=$(now_ms)
        wget_ms=$((t1 - t0))
        check_folder "$DL/wget"
        sync; sleep "$SETTLE"
        out=$(CURL_CA_BUNDLE=$CA_FILE "$BENCH" "$LIST" "$DL/kiro" "$scheme://127.0.0.1:$port/index.html")
        kiro_ms=$(echo "$out" | sed -n 's/.*kiro_ms=\([0-9]*\).*/\1/p')
        check_folder "$DL/kiro"
        cmp -s "$DL/wget/f0000.bin" "$DL/kiro/127_0_0_1_${port}_index_html/f0000.bin" || { echo "contents differ"; exit 1; }

        echo "  $scheme round $r: wget ${wget_ms} ms, KIRO ${kiro_ms} ms ($out)"
        WGET_TIMES="$WGET_TIMES $wget_ms"
        KIRO_TIMES="$KIRO_TIMES $kiro_ms"
        r=$((r + 1))
    done
    W_MED=$(median $WGET_TIMES)
    K_MED=$(median $KIRO_TIMES)
}

echo "files: $FILES x 64 KB, nginx on 127.0.0.1 (http $PORT, https $TLS_PORT), $ROUNDS rounds"
run_scheme http "$PORT"
HW=$W_MED HK=$K_MED
run_scheme https "$TLS_PORT"
TW=$W_MED TK=$K_MED
awk -v hw="$HW" -v hk="$HK" -v tw="$TW" -v tk="$TK" 'BEGIN {
    printf "median  %10s %10s %10s\n", "wget -nc -i", "KIRO", "KIRO/wget"
    printf "http    %7d ms %7d ms %10.2f\n", hw, hk, hk / hw
    printf "https   %7d ms %7d ms %10.2f\n", tw, tk, tk / tw
    printf "targets: KIRO/wget <= 0.90; https ratio within 10 %% of http (%.0f %%)\n", 100 * ((tk / tw) / (hk / hw) - 1)
}'
