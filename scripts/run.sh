#!/usr/bin/env bash
# Installs what is missing, builds KIRO in Release and starts it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/setup.sh" "$here/build" Release
# As root the page view's sandbox cannot run.
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
exec "$here/build/KIRO"
