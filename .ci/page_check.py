#!/usr/bin/env python3
"""Checks of the pages people open, for .ci/browser_check.sh.

  page_check.py expect LOGS             the texts each page must show, computed from the XML
                                        reports and the summary files: lines "page<TAB>text"
  page_check.py text DOM_FILE           the visible text of a dumped DOM, tags as blanks
  page_check.py blank PNG_FILE          exit 1 when the screenshot is (nearly) one colour

Only the standard library: the PNG is decoded here.
"""
import base64
import glob
import os
import re
import struct
import sys
import zlib


def megabyte_cents(byte_total):
    # The reports' rule: whole kilobytes, then hundredths of a megabyte, halves up.
    kilobytes = abs(byte_total) // 1024
    cents = kilobytes // 1024 * 100 + ((kilobytes % 1024) * 100 + 512) // 1024
    return -cents if byte_total < 0 else cents


def grouped_cents(cents):
    return "{:,}.{:02d}".format(cents // 100, cents % 100)


def expectations(logs):
    out = []
    for path in sorted(glob.glob(os.path.join(logs, "*.xml"))):
        doc = open(path, encoding="utf-8", errors="replace").read()
        page = os.path.basename(path)[:-4] + ".html"
        records = doc.count("<data>")
        if "<size>" in doc:
            cents = 0
            for size in re.findall(r"<size>(-?\d+)\.(\d\d)</size>", doc):
                cents += int(size[0]) * 100 + int(size[1])
            noun = "client" if records == 1 else "clients"
            out.append((page, "Total, {:,} {} {}".format(records, noun, grouped_cents(cents))))
        else:
            noun = "event" if records == 1 else "events"
            out.append((page, "Total, {:,} {}".format(records, noun)))
    titles = ["Current week", "Last two weeks", "Previous month", "Last three months",
              "Last six months", "Current year"]
    labels = ["Last 1 Week:", "Last 2 Week:", "Last 1 Mounth:", "Last 3 Mounth:", "Last 6 Mounth:",
              "Last Year:"]
    trf = os.path.join(logs, "brisko.trf")
    if os.path.exists(trf):
        for line in open(trf, "rb").read().split(b"\r\n"):
            if not line:
                continue
            text = base64.b64decode(line).decode("latin-1")
            name, _, slots = text.partition(" |")
            if name in labels:
                total = sum(int(v) for v in slots.rstrip("|").split("|") if v)
                title = titles[labels.index(name)]
                out.append(("summary.html", "{}: {} MB".format(
                    title, grouped_cents(megabyte_cents(total)))))
    return out


def visible_text(dom):
    dom = re.sub(r"<(style|title)[^>]*>.*?</\1>", " ", dom, flags=re.S)
    text = re.sub(r"<[^>]+>", " ", dom)
    for entity, char in (("&lt;", "<"), ("&gt;", ">"), ("&quot;", '"'), ("&#39;", "'"),
                         ("&amp;", "&")):
        text = text.replace(entity, char)
    return re.sub(r"\s+", " ", text)


def png_pixels(path, max_rows):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if depth != 8 or colour not in (2, 6):
        raise ValueError("unexpected PNG format")
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * bpp
    prev = bytearray(stride)
    rows = []
    for y in range(min(height, max_rows)):
        filt = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if filt == 1:
                line[x] = (line[x] + a) & 255
            elif filt == 2:
                line[x] = (line[x] + b) & 255
            elif filt == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif filt == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pred) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, bpp, rows


def blank(path):
    # The top of the page (header, figures, the first chart) tells; decoding all is slow.
    width, height, bpp, rows = png_pixels(path, 700)
    counts = {}
    for row in rows[::4]:
        for x in range(0, width * bpp, bpp * 4):
            pixel = row[x:x + 3]
            counts[pixel] = counts.get(pixel, 0) + 1
    total = sum(counts.values())
    commonest = max(counts.values())
    # A page with text and charts has many colours and no colour covering nearly everything.
    return len(counts) < 8 or commonest > 0.97 * total


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    what, arg = sys.argv[1], sys.argv[2]
    if what == "expect":
        for page, text in expectations(arg):
            print(page + "\t" + text)
    elif what == "text":
        print(visible_text(open(arg, encoding="utf-8", errors="replace").read()))
    elif what == "blank":
        sys.exit(1 if blank(arg) else 0)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
