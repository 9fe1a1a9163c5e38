#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

The targets read their input with libFuzzer's FuzzedDataProvider: texts from
the front (each ended by a backslash and one more byte), numbers and choices
from the back, one byte each here.
"""
import gzip
import os
import zlib

here = os.path.dirname(os.path.abspath(__file__))


def text(s):
    data = s.encode("utf-8") if isinstance(s, str) else s
    return data.replace(b"\\", b"\\\\") + b"\\ "


def write(target, name, data):
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# fuzz_links: page address, then the page's text.
pages = {
    "attributes": ("http://host/d/p.html",
                   "<img src=a.jpg><a href='b.zip'>x</a><IMG SRC = \" c.GIF \"><a href=\"../up/d.jpeg?x=1\">"),
    "addresses": ("https://Host:8080/a/b/?q=/x#f/",
                  "see http://other/y.gif and HTTPS://x.example//p//q.mpg<br>http://h/a/../../b/./c.zip>"),
    "scripts": ("http://host/",
                "<script>window.open('photo.jpg');WINDOW.OPEN ( 'x/../y.jpg' )</script>"
                "<a href=\"jump.cgi?url=http://t.example/a.jpg&id=1\">"),
    "page-view": ("http://host/g/",
                  "<img srcset=\"a.jpg 1x, b.jpg?x=1,2 2x\" data-src='lazy.png'>"
                  "<div style=\"background:url( 'bg.gif' )\"></div><style>p{background:url(c\\.jpg)}</style>"
                  "<!-- <img data-src=hidden.jpg> --><img data-original=\"&amp;d.jpg\" src=\"data:x\">"),
    "japanese": ("http://例え.jp/ページ/",
                 "<a href=\"写真/一.jpg\">一</a>\u3000http://例え.jp/二.jpg\u3000<img src=//cdn/三.png>"),
}
for name, (page, body) in pages.items():
    write("links", name, text(page) + body.encode("utf-8"))

# fuzz_naming: page address, file address, then (from the back) the text
# form and chkFileName.
naming = {
    "plain": (b"\x00", "http://host/d/p.html", "http://host/d/a.jpg", b"\x01"),
    "prefix": (b"\x00", "https://127.0.0.1:8080/x.asp?id=1", "http://h/a/b/c.d/e.jpg", b"\x00"),
    "dots": (b"\x00", "http://../..", "http://host/..", b"\x01"),
    "reserved": (b"\x00", "http://host/", "http://host/con.txt", b"\x01"),
    "long": (b"\x00", "http://h/" + "あ" * 200, "http://h/pics/" + "い" * 300 + ".jpg", b"\x01"),
}
for name, (wide, page, file, chk) in naming.items():
    write("naming", name, text(page) + text(file) + wide + chk)
half = "http://h/x".encode("utf-16-le") + b"\x00\xd8" + ".jpg".encode("utf-16-le")
write("naming", "utf16-half", text("http://h/p".encode("utf-16-le")) + text(half) + b"\x01\x01")

# fuzz_files: the number, the file's bytes, then for KIRO.ini the values to
# set; the last byte picks the file.
ini = ("[KIRO.set]\r\nStdHpAdrs=http://host/\r\ngrhkb=0000000250\r\nchkSubURL=1\r\n"
       "[other]\r\ngrhkb=7\r\n[kiro.SET]\r\nFstHpAdrs=  \r\n").encode("cp932")
write("files", "ini", text("2.5") + text(ini) + text("http://a/") + text("5") + b"\x01\x01\x00")
write("files", "ini-duplicates", text("0000000001") + text(
    b"[KIRO.set]\rgrhkb=3\r\ngrhkb=4\nchkFileName=1\r\n;c=1\r\n") + text("9") + b"\x01\x00")
write("files", "extensions", text("-7") + text(
    '"jpg",1\r\n"gif",0\r\n"\u8868",1\r\n  "a,b" , 1 \r\n"open\r\nbare,  2\r\n\r\n'.encode("cp932")) + b"\x01")
write("files", "favorites", text("\uff11\uff12") + text(
    '"名前","名前@@http://host/"\r\n"a@@b"\r\n"one field"\r\n'.encode("cp932")) + b"\x02")
write("files", "number", text(" +1.5e3 ") + text(b"") + b"\x03")

# fuzz_pagetext: the Content-Type, then the body; from the back the coding
# and the cuts.
page = "<html><head><meta charset=\"Shift_JIS\"></head><body><img src=\"写真.jpg\">日本語のページ</body></html>"
write("pagetext", "sjis", text("text/html") + page.encode("cp932") + b"\x00\x00")
write("pagetext", "euc", text("text/html; charset=EUC-JP") + page.replace("Shift_JIS", "euc-jp").encode("euc_jp") + b"\x00\x00")
write("pagetext", "utf16", text("text/html; charset=UTF-16") + b"\xff\xfe" + "<a href=x.jpg>\ud800</a>".encode("utf-16-le", "surrogatepass") + b"\x00\x00")
write("pagetext", "gzip", text("text/html") + gzip.compress(page.encode("utf-8"), mtime=0) + gzip.compress(b"<p>2</p>", mtime=0)
      + b"\x40\x10\x03\x01")
raw = zlib.compressobj(9, zlib.DEFLATED, -15)
write("pagetext", "deflate-raw", text("text/html; charset=utf-8") + raw.compress(page.encode("utf-8")) + raw.flush()
      + b"\x05\x02\x02\x02")
write("pagetext", "iso2022", text("") + page.replace("Shift_JIS", "x").encode("iso2022_jp") + b"\x00\x00")

# fuzz_shown: a frame's location (UTF-16), then values of the live document;
# from the back each value's kind and whether it is UTF-16.
def wide(s):
    return text(s.encode("utf-16-le", "surrogatepass"))


write("shown", "frame", wide("http://host/frames/left.html#top") + text("https://host/img/a.jpg")
      + b"\x00\x00")
write("shown", "forged", wide("http://127.0.0.1/a.jpg\r\nX-Injected: 1") + text("a.jpg 1x, b.jpg\n 2x")
      + b"\x00\x01")
write("shown", "css", wide("https://user:pw@host:8443/g/?q=1#f") + text("url(\"bg.gif\"), url('x\\.png')")
      + b"\x00\x02")
write("shown", "half", wide("http://h/\ud800p.html") + text("//other/\u0000b.jpg") + b"\x01\x00")
