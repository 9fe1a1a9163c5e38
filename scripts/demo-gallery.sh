#!/bin/bash
# Tries the file getter on a local picture gallery, as a new user would:
# makes a small gallery site (a page with two frames, thumbnails linking to
# picture pages, pictures in several formats and an archive), serves it on
# 127.0.0.1, points KIRO's start page at it and starts KIRO on a virtual
# screen. Then, in KIRO: "ファイルダウンロード画面へ", tick
# "現在のページに記述されているＵＲＬからも収集する", press the search button,
# "全てチェックをつける", then the download button.
#
#   scripts/demo-gallery.sh [BUILD_DIR] [PORT]     (default: build, 8765)
#
# The virtual screen is :$DEMO_DISPLAY (default 99), 1366x900; point
# screenshot or input tools at it (DISPLAY=:99). With DEMO_SCREEN=none KIRO
# starts on the current $DISPLAY instead. The downloads go to a temporary
# folder whose content is listed when KIRO ends; KIRO.ini and Extsn.fil of
# BUILD_DIR are put back as they were.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
port=${2:-8765}
display=${DEMO_DISPLAY:-99}

[ -x "$build/KIRO" ] || { echo "no KIRO in $build: build it first" >&2; exit 2; }
for tool in convert python3; do
    command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
if [ "${DEMO_SCREEN:-xvfb}" != none ]; then
    command -v xvfb-run >/dev/null || { echo "xvfb-run is needed" >&2; exit 2; }
fi

work=$(mktemp -d /tmp/kiro-demo-gallery.XXXXXX)
site=$work/site
downloads=$work/downloads
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    for f in KIRO.ini Extsn.fil; do
        if [ -e "$work/saved-$f" ]; then
            mv -f "$work/saved-$f" "$build/$f"
        elif [ -e "$work/none-$f" ]; then
            rm -f "$build/$f"
        fi
    done
    if [ -d "$downloads" ]; then
        echo "downloaded:"
        (cd "$downloads" && find . -type f -printf '%P  %s bytes\n' | sort)
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The site -------------------------------------------------------------------
mkdir -p "$site"/{photos,thumbs,pages,icons,archive} "$downloads"
cd "$site"
titles=("朝の港" "山の小道" "雨の駅" "夕焼けの橋" "冬の森" "花畑")
seeds=(11 23 37 41 53 67)
for i in 1 2 3 4 5 6; do
    n=$(printf '%02d' "$i")
    # Sizes from about 10 kB to about 50 kB.
    w=$((160 + 50 * i)); h=$((120 + 38 * i))
    convert -seed "${seeds[$((i - 1))]}" -size "${w}x${h}" plasma:fractal -blur 0x1 \
        -quality 92 "photos/photo$n.jpg"
    convert "photos/photo$n.jpg" -resize 96x72 -quality 70 "thumbs/photo${n}_t.jpg"
done
convert -size 90x90 gradient:navy-skyblue "photos/photo02.bmp"
convert -size 120x80 -seed 5 plasma:yellow-red -colors 32 "photos/photo05.gif"
convert -size 16x16 xc:orange -fill navy -draw 'circle 8,8 8,2' "icons/logo.gif"
python3 - "$site" <<'PY'
import os, sys, zipfile
site = sys.argv[1]
with zipfile.ZipFile(os.path.join(site, "archive", "photos.zip"), "w", zipfile.ZIP_STORED) as z:
    for n in ("01", "03"):
        z.write(os.path.join(site, "photos", "photo%s.jpg" % n), "photo%s.jpg" % n)
PY

page_head() {
    printf '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>%s</title>\n' "$1"
    printf '<style>body{font-family:sans-serif;margin:12px} img{border:1px solid #999} td{padding:6px;text-align:center}</style></head>\n'
}
{
    printf '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>写真ギャラリー</title></head>\n'
    printf '<frameset cols="220,*"><frame src="menu.html" name="menu"><frame src="thumbs.html" name="main"></frameset>\n</html>\n'
} > index.html
{
    page_head "メニュー"
    printf '<body><p><img src="icons/logo.gif" alt=""> <b>写真ギャラリー</b></p>\n<ul>\n'
    printf '<li><a href="thumbs.html" target="main">一覧</a></li>\n'
    printf '<li><a href="archive/photos.zip">まとめてダウンロード (zip)</a></li>\n</ul>\n</body></html>\n'
} > menu.html
{
    page_head "一覧"
    printf '<body><h2>写真一覧</h2>\n<table><tr>\n'
    for i in 1 2 3 4 5 6; do
        n=$(printf '%02d' "$i")
        printf '<td><a href="pages/photo%s.html"><img src="thumbs/photo%s_t.jpg" alt=""></a><br>%s</td>\n' \
            "$n" "$n" "${titles[$((i - 1))]}"
        [ "$i" = 3 ] && printf '</tr><tr>\n'
    done
    printf '</tr></table>\n</body></html>\n'
} > thumbs.html
for i in 1 2 3 4 5 6; do
    n=$(printf '%02d' "$i")
    {
        page_head "${titles[$((i - 1))]}"
        printf '<body><h2>%s</h2>\n<p><img src="../photos/photo%s.jpg" alt=""></p>\n' "${titles[$((i - 1))]}" "$n"
        [ -e "photos/photo$n.bmp" ] && printf '<p><a href="../photos/photo%s.bmp">BMP 版</a></p>\n' "$n"
        [ -e "photos/photo$n.gif" ] && printf '<p><a href="../photos/photo%s.gif">GIF 版</a></p>\n' "$n"
        printf '<p><a href="../thumbs.html">一覧へ戻る</a></p>\n</body></html>\n'
    } > "pages/photo$n.html"
done
cd "$here"

python3 -m http.server --bind 127.0.0.1 --directory "$site" "$port" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
    python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/index.html')" \
        2>/dev/null && break
    sleep 0.1
done

# KIRO's settings, beside the program ------------------------------------------
for f in KIRO.ini Extsn.fil; do
    if [ -e "$build/$f" ]; then cp -p "$build/$f" "$work/saved-$f"; else touch "$work/none-$f"; fi
done
rm -f "$build/Extsn.fil"   # KIRO writes its default list, every extension ticked
printf '[KIRO.set]\r\nStdHpAdrs=http://127.0.0.1:%s/index.html\r\nFstHpAdrs=http://127.0.0.1:%s/index.html\r\nFstDir=%s\r\ngrhkb=1\r\nchkSubURL=0\r\nchkFileName=0\r\n' \
    "$port" "$port" "$downloads" > "$build/KIRO.ini"

echo "gallery: http://127.0.0.1:$port/index.html"
echo "downloads: $downloads"
# The page view's sandbox cannot run as root.
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
if [ "${DEMO_SCREEN:-xvfb}" = none ]; then
    "$build/KIRO"
else
    echo "screen: DISPLAY=:$display"
    wm=$(command -v openbox || true)
    xvfb-run -n "$display" -s "-screen 0 1366x900x24" \
        sh -c "${wm:+$wm >/dev/null 2>&1 &} exec \"$build/KIRO\""
fi
