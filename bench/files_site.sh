# The download jobs' site, for the bench scripts to source:
#   files_site WWW FILES [MB]
# writes into WWW the start page start.html, files.html linking FILES files
# of 64 KB of random bytes (nothing compresses) as files/f00000.bin ..., and,
# with MB, big.html linking big.bin, a sparse file of MB MiB.
files_site() {
    local www=$1 files=$2 mb=${3:-}
    mkdir -p "$www/files"
    echo '<html><body><p>KIRO</p></body></html>' >"$www/start.html"
    {
        echo '<html><body>'
        awk -v n="$files" 'BEGIN { for (k = 0; k < n; k++) printf "<a href=\"files/f%05d.bin\">file %d</a><br>\n", k, k }'
        echo '</body></html>'
    } >"$www/files.html"
    dd if=/dev/urandom of="$www/all" bs=65536 count="$files" status=none
    (cd "$www/files" && split -b 65536 -d -a 5 --additional-suffix=.bin "$www/all" f)
    rm "$www/all"
    if [ -n "$mb" ]; then
        echo '<html><body><a href="big.bin">the large file</a></body></html>' >"$www/big.html"
        dd if=/dev/zero of="$www/big.bin" bs=1M count=0 seek="$mb" status=none
    fi
}
