#!/usr/bin/env bash
# Tries KIRO's Debian package on a clean machine, as a new user would.
#
# Usage (as root): scripts/try-deb.sh [BUILD_DIR] [WORK_DIR]
#
# Builds the package (cpack in BUILD_DIR, default ./build), makes a fresh
# Debian 12 system with debootstrap in WORK_DIR (default /var/tmp/kiro-try-deb;
# the downloaded base system is kept there as a tarball and unpacked afresh on
# every run; TRY_DEB_FRESH=1 downloads it again) and in it:
#   1. installs the package with apt, which brings its dependencies;
#   2. creates a new user and, under xvfb-run, starts KIRO with the desktop
#      entry's command line, given the address of a page served on 127.0.0.1;
#   3. checks that the page was requested, that the window appeared, that the
#      first start wrote its files in that user's folder and nowhere else;
#   4. removes the package and checks that every file it installed is gone.
# It prints each check and ends with the count of failures. It downloads a
# whole system, so it is not part of the test suite.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$here/build}")
work=$(realpath -m "${2:-/var/tmp/kiro-try-deb}")
mirror=http://deb.debian.org/debian
user=newuser
root=$work/root

[ "$(id -u)" -eq 0 ] || { echo "run as root (debootstrap and chroot need it)"; exit 2; }

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo; echo "== $*"; }

for tool in debootstrap:debootstrap unshare:util-linux convert:imagemagick; do
  command -v "${tool%%:*}" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${tool##*:}"
done

step "Building the package"
"$here/scripts/setup.sh" "$build" Release >/dev/null
(cd "$build" && cpack >/dev/null)
deb=$(ls -t "$build"/kiro_*.deb | head -1)
echo "$deb"
app_id=$(dpkg-deb -c "$deb" | sed -n 's|.*/usr/share/applications/\(.*\)\.desktop$|\1|p')
[ -n "$app_id" ] || { echo "the package holds no desktop entry"; exit 1; }

# Runs a command inside the new system, in mount and pid namespaces of its own:
# the system's root is pivoted to (not merely chrooted), so that the page
# engine's sandbox can make its namespaces as on a real machine, and every
# process started inside ends with the command.
in_root() {
  unshare --mount --pid --fork --propagation private -- /bin/bash -c '
    set -e
    root=$1; shift
    mount --rbind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    cd "$root"
    mkdir -p .host
    pivot_root . .host
    umount -l /.host
    rmdir /.host
    exec /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
  ' in_root "$root" "$@"
}

step "A fresh Debian 12 system"
base=$work/base-bookworm.tar
if [ ! -s "$base" ] || [ "${TRY_DEB_FRESH:-0}" = 1 ]; then
  rm -rf "$root" "$base"
  mkdir -p "$root"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 \
    || { tail -20 "$work/debootstrap.log"; exit 1; }
  cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
  rm -rf "$root/var/cache/apt/archives/"*.deb
  tar -C "$root" -cf "$base" .
fi
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$base"
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo "unpacked in $root"

step "Installing the package with apt"
cp "$deb" "$root/tmp/kiro.deb"
in_root apt-get update -qq
if in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q /tmp/kiro.deb >"$work/apt-install.log" 2>&1; then
  pass "apt installed $(basename "$deb") with $(grep -c '^Setting up' "$work/apt-install.log") packages"
else
  tail -20 "$work/apt-install.log"
  fail "apt could not install the package"
fi
in_root dpkg -L kiro | sort >"$work/kiro-files.txt"
missing_libs=$(in_root ldd /usr/bin/KIRO | grep 'not found' || true)
[ -z "$missing_libs" ] && pass "every library KIRO links is installed" || fail "missing libraries: $missing_libs"
for recommended in fonts-noto-cjk libqt6svg6; do
  in_root dpkg -s "$recommended" >/dev/null 2>&1 && pass "recommended $recommended installed" \
    || fail "recommended $recommended not installed"
done

# What the test itself needs, installed after KIRO's own check above.
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  xvfb xauth x11-utils x11-apps python3 >"$work/apt-tools.log" 2>&1 \
  || { tail -20 "$work/apt-tools.log"; exit 1; }

step "A new user starts KIRO from the menu's command line"
in_root useradd --create-home --shell /bin/bash "$user"
mkdir -p "$root/srv/www"
cat >"$root/srv/www/page.html" <<'EOF'
<html><head><meta charset="utf-8"><title>try-deb</title></head>
<body><h1>コマンドラインで渡したページ</h1><p>The page given on the command line.</p></body></html>
EOF
cat >"$root/srv/serve.py" <<'EOF'
import http.server, os, socketserver, sys
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, fmt, *args):
        sys.stderr.write("%s\n" % (fmt % args)); sys.stderr.flush()
os.chdir(sys.argv[1])
server = socketserver.TCPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[2] + ".part", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(sys.argv[2] + ".part", sys.argv[2])
server.serve_forever()
EOF
cat >"$root/srv/user-run.sh" <<'EOF'
# Runs as the new user inside xvfb-run: the menu's command, then a look at the screen.
command=$1
$command >/tmp/kiro.log 2>&1 &
pid=$!
for _ in $(seq 1200); do
  grep -q 'GET /page.html' /tmp/http.log && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
sleep 5
xwininfo -root -tree >/tmp/windows.txt 2>&1
for w in $(grep -o '^ *0x[0-9a-f]*' /tmp/windows.txt); do
  xprop -id "$w" _NET_WM_NAME WM_CLASS 2>/dev/null
done >/tmp/window-names.txt
xwd -root -silent >/tmp/screen.xwd
kill -0 "$pid" 2>/dev/null && echo running >/tmp/kiro.state || echo ended >/tmp/kiro.state
kill "$pid" 2>/dev/null
wait "$pid"
EOF
cat >"$root/srv/try.sh" <<EOF
python3 /srv/serve.py /srv/www /tmp/port 2>/tmp/http.log &
for _ in \$(seq 100); do [ -s /tmp/port ] && break; sleep 0.1; done
address=http://127.0.0.1:\$(cat /tmp/port)/page.html
exec_line=\$(sed -n 's/^Exec=//p' /usr/share/applications/$app_id.desktop)
command=\${exec_line//%u/\$address}
echo "\$command" >/tmp/command.txt
touch /tmp/before-start
su --login $user -c "LANG=C.UTF-8 xvfb-run -a -s '-screen 0 1280x800x24' bash /srv/user-run.sh '\$command'"
find / -xdev -newer /tmp/before-start -type f \
  -not -path '/tmp/*' -not -path '/proc/*' -not -path '/var/log/*' | sort >/tmp/new-files.txt
EOF
in_root bash /srv/try.sh || true

echo "command: $(cat "$root/tmp/command.txt")"
[ "$(cat "$root/tmp/kiro.state" 2>/dev/null)" = running ] && pass "KIRO started and kept running" \
  || fail "KIRO did not keep running: $(head -c 3000 "$root/tmp/kiro.log")"
grep -q 'GET /page.html' "$root/tmp/http.log" && pass "the address given on the command line was requested" \
  || fail "no request for the page: $(cat "$root/tmp/http.log")"
grep -q '"KIRO", "KIRO"' "$root/tmp/window-names.txt" && grep -q 'Ｗｅｂブラウザ' "$root/tmp/window-names.txt" \
  && pass "the window \"Ｗｅｂブラウザ\" (class KIRO) appeared" || fail "no KIRO window: $(cat "$root/tmp/window-names.txt")"
grep -q 'Sandboxing disabled' "$root/tmp/kiro.log" && fail "the page engine ran without its sandbox" \
  || pass "the page engine ran with its sandbox, as a normal user"
convert "xwd:$root/tmp/screen.xwd" "$work/screen.png" 2>/dev/null && echo "screen: $work/screen.png"

data=/home/$user/.local/share/KIRO
if [ -f "$root$data/Extsn.fil" ] && [ "$(grep -c . "$root$data/Extsn.fil")" = 13 ] \
   && [ "$(in_root stat -c %U "$data/Extsn.fil")" = "$user" ]; then
  pass "first start wrote $data/Extsn.fil (13 extensions), owned by $user"
else
  fail "no default extension list in $data"
fi
settings=$(grep -E '/(Extsn\.fil|KIRO\.ini|Fav\.fil)$' "$root/tmp/new-files.txt" || true)
[ "$settings" = "$data/Extsn.fil" ] && pass "no settings file anywhere else (none beside /usr/bin/KIRO)" \
  || fail "settings files written: $settings"
outside_home=$(grep -v "^/home/$user/" "$root/tmp/new-files.txt" || true)
[ -z "$outside_home" ] && pass "KIRO wrote nothing outside the user's home" \
  || echo "note: files written outside the home while KIRO ran: $outside_home"

step "Removing the package"
in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kiro >"$work/apt-remove.log" 2>&1 \
  && pass "apt removed kiro" || fail "apt could not remove kiro: $(tail -5 "$work/apt-remove.log")"
in_root dpkg -s kiro >/dev/null 2>&1 && fail "dpkg still lists kiro" || pass "dpkg no longer lists kiro"
left=()
while read -r path; do
  [ "$path" = /. ] && continue
  if [ -L "$root$path" ] || [ -f "$root$path" ]; then
    left+=("$path")
  elif [ -d "$root$path" ] && [ -z "$(ls -A "$root$path")" ] && ! in_root dpkg -S "$path" >/dev/null 2>&1; then
    left+=("$path (empty folder no other package owns)")
  fi
done <"$work/kiro-files.txt"
files=$(grep -c . "$work/kiro-files.txt")
if [ ${#left[@]} -eq 0 ]; then
  pass "all $files paths the package installed are gone (folders that other packages own stay)"
else
  fail "left behind: ${left[*]}"
fi
[ -f "$root$data/Extsn.fil" ] && echo "note: the user's own files stay in $data, as with every package"

echo
if [ "$failures" -eq 0 ]; then
  echo "try-deb: all checks passed"
else
  echo "try-deb: $failures check(s) failed"
  exit 1
fi
