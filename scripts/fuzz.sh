#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang (in BUILD_DIR, default
# build-fuzz, apart from the gcc builds) and runs each for FUZZ_SECONDS
# (default 20) from its seed corpus. New inputs go to a temporary folder; an
# input that breaks a target is kept in BUILD_DIR/findings and the script
# fails.
#
#   scripts/fuzz.sh [BUILD_DIR] [TARGET...]      (targets: links naming files pagetext shown)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$here/build-fuzz}
shift $(($# ? 1 : 0))
targets=("$@")
((${#targets[@]})) || targets=(links naming files pagetext shown)
seconds=${FUZZ_SECONDS:-20}

cmake -S "$here/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

work=$(mktemp -d /tmp/kiro-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/findings"
failed=()
for target in "${targets[@]}"; do
    mkdir "$work/$target"
    log=$work/$target.log
    if "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
            "$work/$target" "$here/fuzz/corpus/$target" >"$log" 2>&1; then
        echo "fuzz_$target: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs, no finding"
    else
        tail -40 "$log"
        echo "fuzz_$target: FAILED (input kept in $build/findings)"
        failed+=("$target")
    fi
done
((${#failed[@]} == 0))
