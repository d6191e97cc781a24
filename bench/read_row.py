#!/usr/bin/env python3
"""Reads one text row of an Orvandel screenshot back into characters.

usage: read_row.py SCREENSHOT ROW
Prints the text of ROW (counted from 1) of an 800 x 600 picture of the window, by matching
each 8 x 16 cell against the program's own font (pixels other than black are ink).
"""
import re
import subprocess
import sys
from pathlib import Path

FONT = Path(__file__).resolve().parent.parent / "ui" / "Font8x16.cpp"


def glyphs():
    table = {}
    for line in FONT.read_text().splitlines():
        m = re.match(r"\s*\{\{(.*)\}\},\s*// (\d+)", line)
        if m:
            rows, code = tuple(int(v, 16) for v in m.group(1).split(",")), int(m.group(2))
            # Several codes share a picture (blanks): keep the printable one.
            if rows not in table or 32 <= code < 127 and not 32 <= table[rows] < 127:
                table[rows] = code
    return table


def main():
    shot, row = sys.argv[1], int(sys.argv[2])
    top = 16 * (row - 1)
    ppm = subprocess.run(["/usr/bin/convert", shot, "-crop", f"800x16+0+{top}", "+repage", "-depth", "8", "ppm:-"],
                         check=True, capture_output=True).stdout
    # A binary PPM: P6, width, height, maximum, then the RGB bytes.
    header = ppm.split(maxsplit=4)
    width, height, data = int(header[1]), int(header[2]), header[4]
    table = glyphs()
    text = []
    for cell in range(width // 8):
        rows = []
        for y in range(height):
            bits = 0
            for x in range(8):
                i = 3 * (y * width + cell * 8 + x)
                if data[i] or data[i + 1] or data[i + 2]:
                    bits |= 0x80 >> x
            rows.append(bits)
        code = table.get(tuple(rows))
        text.append(chr(code) if code is not None and 32 <= code < 127 else "?")
    print("".join(text).rstrip())


if __name__ == "__main__":
    main()
