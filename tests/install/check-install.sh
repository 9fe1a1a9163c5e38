#!/usr/bin/env bash
# Usage: check-install.sh BUILD_DIR WORK_DIR APP_ID BINDIR DATADIR
# Installs the build into WORK_DIR/prefix and checks what it laid out: exactly
# the expected files, icons of the right sizes, a desktop entry and metainfo
# that the validators pass and that name each other, and an installed program
# that keeps its files in the user's folder at its first start.
set -euo pipefail
build=$1 work=$2 id=$3 bindir=$4 datadir=$5
prefix=$work/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "PASS: $*"; }

rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

expected=$(printf '%s\n' \
  "$bindir/KIRO" \
  "$datadir/applications/$id.desktop" \
  "$datadir/icons/hicolor/128x128/apps/$id.png" \
  "$datadir/icons/hicolor/256x256/apps/$id.png" \
  "$datadir/icons/hicolor/48x48/apps/$id.png" \
  "$datadir/icons/hicolor/scalable/apps/$id.svg" \
  "$datadir/metainfo/$id.metainfo.xml" | sort)
laid_out() { (cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort); }
actual=$(laid_out)
if [ "$actual" = "$expected" ]; then
  pass "installed files: $(echo "$actual" | wc -l), as expected"
else
  fail "installed files differ (< expected, > installed):"
  diff <(echo "$expected") <(echo "$actual") || true
fi

[ -x "$prefix/$bindir/KIRO" ] && pass "program is executable" || fail "program is not executable"

# Width and height from the PNG header.
for size in 48 128 256; do
  png=$prefix/$datadir/icons/hicolor/${size}x${size}/apps/$id.png
  [ -f "$png" ] || continue
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] && pass "icon ${size} px is $dims" || fail "icon ${size} px is $dims"
done

desktop=$prefix/$datadir/applications/$id.desktop
metainfo=$prefix/$datadir/metainfo/$id.metainfo.xml
if out=$("$DESKTOP_FILE_VALIDATE" "$desktop" 2>&1) && [ -z "$out" ]; then
  pass "desktop-file-validate"
else
  fail "desktop-file-validate: $out"
fi
if out=$("$APPSTREAMCLI" validate --no-net "$metainfo" 2>&1); then
  pass "appstreamcli validate --no-net"
else
  fail "appstreamcli validate --no-net: $out"
fi

key() { sed -n "s/^$1=//p" "$desktop" | head -1; }
[ "$(key Icon)" = "$id" ] && pass "desktop entry names the icon" || fail "Icon=$(key Icon)"
[ "$(key Exec)" = "KIRO %u" ] && pass "desktop entry starts KIRO with an address" || fail "Exec=$(key Exec)"
for want in Network WebBrowser FileTransfer; do
  [[ ";$(key Categories)" == *";$want;"* ]] || fail "category $want missing"
done
for want in x-scheme-handler/http x-scheme-handler/https text/html; do
  [[ ";$(key MimeType)" == *";$want;"* ]] || fail "MIME type $want missing"
done
grep -q '^Name\[ja\]=' "$desktop" && grep -q '^GenericName\[ja\]=' "$desktop" \
  && grep -q '^Comment\[ja\]=' "$desktop" || fail "desktop entry lacks Japanese texts"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
  && pass "metainfo names the desktop entry" || fail "metainfo does not name $id.desktop"
grep -q '<p xml:lang="ja">' "$metainfo" && grep -q '<p>' "$metainfo" \
  && pass "metainfo describes in Japanese and English" || fail "metainfo lacks a description language"
[ "$(grep -c '<screenshot' "$metainfo")" -ge 5 ] || fail "metainfo lacks the screenshots"

# The installed program's first start, by a user whose home is empty.
home=$work/home
mkdir -p "$home"
before=$(laid_out)
(
  unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME
  export HOME=$home
  exec setsid "$prefix/$bindir/KIRO" about:blank >"$work/kiro.log" 2>&1
) &
kiro=$!
data=$home/.local/share/KIRO
for _ in $(seq 600); do
  [ -s "$data/Extsn.fil" ] && break
  kill -0 "$kiro" 2>/dev/null || break
  sleep 0.1
done
kill -- -"$kiro" 2>/dev/null || true
wait "$kiro" 2>/dev/null || true
if [ -s "$data/Extsn.fil" ] && [ "$(grep -c . "$data/Extsn.fil")" = 13 ]; then
  pass "first start wrote the default extension list into $data"
else
  fail "no default extension list in $data (log: $(head -c 2000 "$work/kiro.log"))"
fi
after=$(laid_out)
[ "$before" = "$after" ] && pass "nothing written beside the installed program" \
  || fail "files appeared in the prefix: $(diff <(echo "$before") <(echo "$after") | grep '^>' || true)"
grep -q 'about:blank' "$work/kiro.log" && pass "refused address reported" \
  || fail "about:blank on the command line was not reported"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
