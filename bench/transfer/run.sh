#!/bin/bash
# Downloads a 1 GiB file from nginx on 127.0.0.1 with curl -o and with KIRO's
# transfer (the getter's file mode), in the same run, over http and over
# https, and prints both throughputs, their ratio and KIRO's peak memory
# above its idle peak.
#
#   bench/transfer/run.sh [BUILD_DIR]      (default build-release)
#
# Builds its target in BUILD_DIR (a Release build, made if missing).
# Targets: throughput at least 0.95 of curl's; the https ratio within 10 % of
# the http one; peak memory at most 100 MB above idle.
set -euo pipefail

SRC=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${1:-$SRC/build-release}
BENCH=$BUILD_DIR/bench/transfer/kiro_bench_transfer
ROUNDS=${ROUNDS:-3}
SIZE_MB=1024

# Built here, so that the figures are always the current code's.
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" --target kiro_bench_transfer -j2 >/dev/null || exit 2
for tool in nginx curl python3 openssl; do
    command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done

WORK=$(mktemp -d /tmp/kiro-bench-transfer.XXXXXX)
NGINX_PID=
cleanup() {
    if [ -n "$NGINX_PID" ]; then
        kill "$NGINX_PID" 2>/dev/null || true
        wait "$NGINX_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/www" "$WORK/logs" "$WORK/tmp" "$WORK/out"
# nginx workers drop to an unprivileged user that must read the file.
chmod a+rx "$WORK" "$WORK/www"
# Sparse: nothing to write up front, and nginx reads it as fast as memory.
dd if=/dev/zero of="$WORK/www/big.bin" bs=1M count=0 seek=$SIZE_MB status=none
BYTES=$((SIZE_MB * 1024 * 1024))
chmod a+r "$WORK/www/big.bin"

. "$SRC/bench/nginx.sh"
start_nginx "$WORK" https

# One scheme: prints "curl_s kiro_s peak_kb idle_kb" for the best rounds.
run_scheme() {
    local url=$1 best_curl= best_kiro= peak_kb=0 idle_kb=0
    for round in $(seq "$ROUNDS"); do
        curl_s=$(curl -s --cacert "$CA_FILE" -o "$WORK/out/curl.bin" -w '%{time_total}' "$url")
        got=$(stat -c %s "$WORK/out/curl.bin")
        rm -f "$WORK/out/curl.bin"
        [ "$got" = "$BYTES" ] || { echo "curl got $got of $BYTES bytes" >&2; exit 1; }

        out=$(CURL_CA_BUNDLE=$CA_FILE "$BENCH" "$url" "$WORK/out/kiro.bin")
        got=$(stat -c %s "$WORK/out/kiro.bin")
        rm -f "$WORK/out/kiro.bin"
        [ "$got" = "$BYTES" ] || { echo "KIRO got $got of $BYTES bytes" >&2; exit 1; }
        kiro_s=$(sed -n 's/^kiro_seconds=//p' <<<"$out")
        idle=$(sed -n 's/^kiro_idle_hwm_kb=//p' <<<"$out")
        peak=$(sed -n 's/^kiro_peak_hwm_kb=//p' <<<"$out")

        printf '  round %d: curl %.2f s, KIRO %.2f s, KIRO peak %d MB above idle\n' "$round" "$curl_s" "$kiro_s" $(((peak - idle) / 1024)) >&2
        if [ -z "$best_curl" ] || awk "BEGIN{exit !($curl_s < $best_curl)}"; then best_curl=$curl_s; fi
        if [ -z "$best_kiro" ] || awk "BEGIN{exit !($kiro_s < $best_kiro)}"; then best_kiro=$kiro_s; fi
        if [ $((peak - idle)) -gt $((peak_kb - idle_kb)) ] || [ "$round" = 1 ]; then peak_kb=$peak; idle_kb=$idle; fi
    done
    echo "$best_curl $best_kiro $peak_kb $idle_kb"
}

echo "file: $SIZE_MB MiB over loopback from nginx, best of $ROUNDS rounds" >&2
echo "http:" >&2
read -r http_curl http_kiro http_peak http_idle < <(run_scheme "http://127.0.0.1:$PORT/big.bin")
echo "https:" >&2
read -r tls_curl tls_kiro tls_peak tls_idle < <(run_scheme "https://127.0.0.1:$TLS_PORT/big.bin")

awk -v mb="$SIZE_MB" -v hc="$http_curl" -v hk="$http_kiro" -v hp="$http_peak" -v hi="$http_idle" \
    -v tc="$tls_curl" -v tk="$tls_kiro" -v tp="$tls_peak" -v ti="$tls_idle" 'BEGIN {
    printf "%-6s %14s %14s %9s %s\n", "", "curl -o", "KIRO", "KIRO/curl", "KIRO peak above idle"
    printf "%-6s %8.1f MiB/s %8.1f MiB/s %9.2f %.1f MB\n", "http", mb / hc, mb / hk, hc / hk, (hp - hi) / 1024
    printf "%-6s %8.1f MiB/s %8.1f MiB/s %9.2f %.1f MB\n", "https", mb / tc, mb / tk, tc / tk, (tp - ti) / 1024
    printf "targets: KIRO/curl >= 0.95; https ratio within 10 %% of http (%.0f %%); peak <= 100 MB\n", \
        100 * ((tc / tk) / (hc / hk) - 1)
}'
