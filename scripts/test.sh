#!/usr/bin/env bash
# Installs what is missing, builds KIRO with its tests and runs every test
# headless; then builds it again with AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-sanitize) and runs every test there,
# where any finding fails the test. Ends with CTest's summary of each.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1

"$here/scripts/setup.sh" "$here/build" Release
(cd "$here/build" && ctest --output-on-failure -j2)

# -O1 keeps the sanitized tests quick; -g1 gives the reports their lines.
"$here/scripts/setup.sh" "$here/build-sanitize" Debug -DKIRO_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1"
(cd "$here/build-sanitize" && ctest --output-on-failure -j2)
