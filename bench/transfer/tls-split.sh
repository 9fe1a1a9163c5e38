#!/bin/bash
# Where the time of one 1 GiB transfer goes, over http and over https: the
# whole machine is sampled with perf while KIRO's transfer (and then curl)
# fetches the file from nginx on 127.0.0.1, and the CPU seconds of the client
# and of nginx are printed, with the part spent in the cipher (libcrypto) and
# in the kernel. Files go to /dev/shm, so that no disk is in the figures.
#
#   bench/transfer/tls-split.sh [BUILD_DIR]     (default build-release; needs perf, run as root)
set -euo pipefail

SRC=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${1:-$SRC/build-release}
BENCH=$BUILD_DIR/bench/transfer/kiro_bench_transfer
FREQ=2000
[ -x "$BENCH" ] || { echo "missing $BENCH" >&2; exit 2; }
command -v perf >/dev/null || { echo "perf is needed (linux-perf)" >&2; exit 2; }

WORK=$(mktemp -d /tmp/kiro-tls-split.XXXXXX)
OUT=$(mktemp -d /dev/shm/kiro-tls-split.XXXXXX)
NGINX_PID=
cleanup() {
    if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
    rm -rf "$WORK" "$OUT"
}
trap cleanup EXIT
mkdir -p "$WORK/www"
dd if=/dev/zero of="$WORK/www/big.bin" bs=1M count=0 seek=1024 status=none
. "$SRC/bench/nginx.sh"
start_nginx "$WORK" https
# Once through, so that nginx reads the file from memory in every run.
curl -s -o /dev/null "http://127.0.0.1:$PORT/big.bin"

# CPU seconds of one process name in a recording: all, in libcrypto, in the kernel.
split() {
    perf report -i "$1" -n --no-children --sort comm,dso --stdio -g none 2>/dev/null \
        | awk -v comm="$2" -v f="$FREQ" '
            $3 == comm { all += $2; if ($4 ~ /libcrypto/) c += $2; if ($4 ~ /kernel/) k += $2 }
            END { printf "%5.2f s (cipher %4.2f s, kernel %4.2f s)", all / f, c / f, k / f }'
}

printf '%-6s %-5s %8s  %-40s %-40s\n' "" "" "wall" "client CPU" "nginx CPU"
for scheme in http https; do
    if [ "$scheme" = http ]; then url=http://127.0.0.1:$PORT/big.bin; else url=https://127.0.0.1:$TLS_PORT/big.bin; fi
    for client in KIRO curl; do
        rm -f "$OUT/file"
        if [ "$client" = KIRO ]; then
            cmd=(env CURL_CA_BUNDLE="$CA_FILE" "$BENCH" "$url" "$OUT/file")
            comm=kiro_bench_tran
        else
            cmd=(curl -s --cacert "$CA_FILE" -o "$OUT/file" "$url")
            comm=curl
        fi
        start=$(date +%s%N)
        perf record -a -F "$FREQ" -o "$WORK/perf.data" -- "${cmd[@]}" >/dev/null 2>"$WORK/err" \
            || { cat "$WORK/err" >&2; exit 1; }
        end=$(date +%s%N)
        printf '%-6s %-5s %6.2f s  %-40s %-40s\n' "$scheme" "$client" "$(awk -v d=$((end - start)) 'BEGIN { print d / 1e9 }')" \
            "$(split "$WORK/perf.data" "$comm")" "$(split "$WORK/perf.data" nginx)"
    done
done
