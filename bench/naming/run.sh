#!/bin/bash
# Every name and address step of the getter on links of about 3 MB (a million
# kana, unpaired UTF-16 halves, 150 000 "../" steps, an embedded target).
# Target: no step over a few milliseconds (10 ms by default, the median of
# 11 runs). The hash of a whole long name is most of the naming steps: about
# 2.5 ms for a million characters.
#
#   bench/naming/run.sh [BUILD_DIR] [ROUNDS] [LIMIT_MS]      (default build-release)
set -euo pipefail

SRC=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${1:-$SRC/build-release}
BENCH=$BUILD_DIR/bench/naming/kiro_bench_naming
# Built here, so that the figures are always the current code's.
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" --target kiro_bench_naming -j2 >/dev/null || exit 2
exec "$BENCH" "${2:-11}" "${3:-10}"
