#!/usr/bin/env bash
# Installs what is missing, builds KIRO with its tests and runs every test
# headless; ends with CTest's summary.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/setup.sh" "$here/build" Release
cd "$here/build"
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
ctest --output-on-failure -j2
