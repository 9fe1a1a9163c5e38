#!/usr/bin/env python3
"""Writes the searched site of the search benches into FOLDER: index.html
linking 300 gallery pages s0.html ... s299.html of 200 file links each
(60 000 in all, under files/gN/, five extensions)."""
import os
import sys

www = sys.argv[1]
exts = ["jpg", "jpg", "gif", "zip", "mpg"]
with open(os.path.join(www, "index.html"), "w") as f:
    f.write("<html><head><title>Index</title></head><body>\n<h1>Galleries</h1>\n<ul>\n")
    for i in range(300):
        f.write('<li><a href="s%d.html">Gallery %d</a></li>\n' % (i, i))
    f.write("</ul>\n</body></html>\n")
for i in range(300):
    with open(os.path.join(www, "s%d.html" % i), "w") as f:
        f.write("<html><head><title>Gallery %d</title></head><body>\n<h1>Gallery %d</h1>\n" % (i, i))
        for j in range(200):
            f.write('<p><a href="files/g%d/file%d.%s">File %d of gallery %d</a></p>\n'
                    % (i, j, exts[j % len(exts)], j, i))
        f.write("</body></html>\n")
