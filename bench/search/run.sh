#!/bin/bash
# The getter's search timed on nginx over 127.0.0.1 (http and https), in the
# same run as its peer:
#  - a page linking to 300 pages of 200 file links each (60 000 candidates),
#    searched with its linked pages, beside wget -r -l 2 -nd -A html,htm,
#    which fetches and parses the same 301 pages and filters their links;
#  - a 50 MB page searched alone: the analysis after its transfer.
#
#   bench/search/run.sh [BUILD_DIR]      (default build-release)
#
# Builds its target in BUILD_DIR (a Release build, made if missing).
# Targets: search at most 0.6 times wget's time, over http and over https
# (the https ratio within 10 % of the http one); the 50 MB analysis at most 1 s.
set -euo pipefail

SRC=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${1:-$SRC/build-release}
BENCH=$BUILD_DIR/bench/search/kiro_bench_search
ROUNDS=${ROUNDS:-5}

# Built here, so that the figures are always the current code's.
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" --target kiro_bench_search -j2 >/dev/null || exit 2
for tool in nginx wget curl python3 openssl; do
    command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done

WORK=$(mktemp -d /tmp/kiro-bench-search.XXXXXX)
NGINX_PID=
cleanup() {
    if [ -n "$NGINX_PID" ]; then
        kill "$NGINX_PID" 2>/dev/null || true
        wait "$NGINX_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/www" "$WORK/logs" "$WORK/tmp"
python3 "$SRC/bench/galleries.py" "$WORK/www"
python3 - "$WORK/www" <<'PY'
import os, sys
www = sys.argv[1]
# About 50 MB of text with a file link and a page link in every block.
filler = ("Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
          "incididunt ut labore et dolore magna aliqua. ") * 5
with open(os.path.join(www, "big.html"), "w") as f:
    f.write("<html><head><title>Big</title></head><body>\n")
    k = 0
    while f.tell() < 50 * 1024 * 1024:
        f.write('<div class="item"><img src="img/b%d.jpg" alt="picture %d"> <a href="pages/p%d.html">'
                'more</a>\n<p>%s</p></div>\n' % (k, k, k, filler))
        k += 1
    f.write("</body></html>\n")
PY
chmod -R a+rX "$WORK"
BIG_BYTES=$(stat -c %s "$WORK/www/big.html")

. "$SRC/bench/nginx.sh"
start_nginx "$WORK" https

now_ns() { date +%s%N; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

# One scheme: prints "wget_s kiro_s", the best of the rounds.
run_site() {
    local base=$1 best_wget= best_kiro=
    for round in $(seq "$ROUNDS"); do
        rm -rf "$WORK/wget"
        t0=$(now_ns)
        wget -q -r -l 2 -nd -A html,htm --ca-certificate="$CA_FILE" -P "$WORK/wget" "$base/index.html" || true
        t1=$(now_ns)
        pages=$(ls "$WORK/wget" | wc -l)
        [ "$pages" = 301 ] || { echo "wget fetched $pages pages, not 301" >&2; exit 1; }
        wget_s=$(awk -v d=$((t1 - t0)) 'BEGIN { printf "%.3f", d / 1e9 }')

        out=$(CURL_CA_BUNDLE=$CA_FILE "$BENCH" site "$base/index.html")
        files=$(sed -n 's/^kiro_files=//p' <<<"$out")
        [ "$files" = 60000 ] || { echo "KIRO listed $files files, not 60000" >&2; echo "$out" >&2; exit 1; }
        kiro_s=$(sed -n 's/^kiro_seconds=//p' <<<"$out")

        printf '  round %d: wget %.3f s, KIRO %.3f s\n' "$round" "$wget_s" "$kiro_s" >&2
        best_wget=$(min "$wget_s" "$best_wget")
        best_kiro=$(min "$kiro_s" "$best_kiro")
    done
    echo "$best_wget $best_kiro"
}

echo "http:" >&2
read -r http_wget http_kiro < <(run_site "http://127.0.0.1:$PORT")
echo "https:" >&2
read -r tls_wget tls_kiro < <(run_site "https://127.0.0.1:$TLS_PORT")

best_analysis=
best_transfer=
for round in $(seq 3); do
    out=$("$BENCH" page "http://127.0.0.1:$PORT/big.html")
    a=$(sed -n 's/^kiro_analysis_seconds=//p' <<<"$out")
    t=$(sed -n 's/^kiro_transfer_seconds=//p' <<<"$out")
    files=$(sed -n 's/^kiro_files=//p' <<<"$out")
    printf 'round %d: 50 MB page, transfer %.3f s, analysis %.3f s, %s files\n' "$round" "$t" "$a" "$files"
    best_analysis=$(min "$a" "$best_analysis")
    best_transfer=$(min "$t" "$best_transfer")
done

awk -v hw="$http_wget" -v hk="$http_kiro" -v tw="$tls_wget" -v tk="$tls_kiro" \
    -v a="$best_analysis" -v t="$best_transfer" -v b="$BIG_BYTES" 'BEGIN {
    printf "301 pages, 60000 file links, best of the rounds\n"
    printf "%-6s %28s %10s %10s\n", "", "wget -r -l 2 -nd -A html,htm", "KIRO", "KIRO/wget"
    printf "%-6s %26.3f s %8.3f s %10.2f\n", "http", hw, hk, hk / hw
    printf "%-6s %26.3f s %8.3f s %10.2f\n", "https", tw, tk, tk / tw
    printf "targets: KIRO/wget <= 0.60; https ratio within 10 %% of http (%.0f %%)\n", 100 * ((tk / tw) / (hk / hw) - 1)
    printf "page of %.1f MB searched alone: transfer %.3f s, analysis after it %.3f s (target <= 1.000)\n", b / 1048576, t, a
}'
