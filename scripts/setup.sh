#!/usr/bin/env bash
# Installs what KIRO needs on Debian 12 (only what is missing) and builds it.
# Usage: scripts/setup.sh BUILD_DIR BUILD_TYPE [CMAKE_OPTION...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-"$here/build"}
build_type=${2:-Release}
shift $(($# < 2 ? $# : 2))

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
  qt6-webchannel-dev qt6-svg-dev libqt6svg6 qt6-image-formats-plugins libgl-dev
  libqt6webenginecore6-bin libqt6webengine6-data qt6-translations-l10n libcurl4-openssl-dev
  zlib1g-dev libpsl-dev publicsuffix
  fonts-noto-cjk xvfb xauth x11-utils imagemagick
  nginx wget curl openssl ca-certificates
  # the parallel peers of bench/realnet
  wget2 aria2
  # the profiler the benches can run KIRO under
  linux-perf
  librsvg2-bin desktop-file-utils appstream dpkg-dev
  # a window manager and pointer tool for the demo and screenshots under Xvfb
  openbox xdotool
  # the fuzz targets of fuzz/: clang with libFuzzer and its sanitizers
  clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$here" -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" "$@"
cmake --build "$build_dir" -j"$(nproc)"
