#!/usr/bin/env python3
"""Writes the searched site of the search benches into FOLDER: index.html
linking PAGES gallery pages s0.html ... of LINKS file links each (by default
300 of 200: 60 000 in all, under files/gN/, five extensions).

    galleries.py FOLDER [PAGES LINKS]"""
import os
import sys

www = sys.argv[1]
pages = int(sys.argv[2]) if len(sys.argv) > 2 else 300
links = int(sys.argv[3]) if len(sys.argv) > 3 else 200
exts = ["jpg", "jpg", "gif", "zip", "mpg"]
with open(os.path.join(www, "index.html"), "w") as f:
    f.write("<html><head><title>Index</title></head><body>\n<h1>Galleries</h1>\n<ul>\n")
    for i in range(pages):
        f.write('<li><a href="s%d.html">Gallery %d</a></li>\n' % (i, i))
    f.write("</ul>\n</body></html>\n")
for i in range(pages):
    with open(os.path.join(www, "s%d.html" % i), "w") as f:
        f.write("<html><head><title>Gallery %d</title></head><body>\n<h1>Gallery %d</h1>\n" % (i, i))
        for j in range(links):
            f.write('<p><a href="files/g%d/file%d.%s">File %d of gallery %d</a></p>\n'
                    % (i, j, exts[j % len(exts)], j, i))
        f.write("</body></html>\n")
