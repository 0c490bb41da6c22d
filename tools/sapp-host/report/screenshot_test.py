#!/usr/bin/env python3
"""A failing report's headless screenshot shows the failing step.

CI attaches screenshots of failing reports, taken as `chromium --headless
--screenshot` takes them: the top of the window once the page has loaded.
This makes the report of a passing scenario followed by a failing one (so
that the page has to move to the failure as it opens), takes that
screenshot, decodes the PNG with Python's standard library and checks that
  - the image is not blank: its brightness varies (standard deviation), and
    no more than half of its pixel rows are one flat colour;
  - it shows the failing step: a run of the failure colour at least 40
    pixels tall, the left border of a failed step.

Exit status 77 (CTest's skip) without Chromium.
"""
import argparse
import shutil
import struct
import subprocess
import sys
import zlib
from pathlib import Path

SKIP = 77
FAIL_RGB = (0xcf, 0x22, 0x2e)  # --fail in page.css, the border of a failed step
WIDTH, HEIGHT = 1280, 900


def decode_png(data):
    """(width, height, rows): rows of (r, g, b) tuples, for 8-bit RGB and RGBA images."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError(f"an image of depth {depth}, colour type {colour}, interlace {interlace}: not read here")
    channels = 3 if colour == 2 else 4
    stride = width * channels
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):  # undo the row's filter (PNG: None, Sub, Up, Average, Paeth)
            a = line[x - channels] if x >= channels else 0
            b = previous[x]
            c = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xff
            elif kind == 2:
                line[x] = (line[x] + b) & 0xff
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xff
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xff
        rows.append([tuple(line[x:x + 3]) for x in range(0, stride, channels)])
        previous = line
    return width, height, rows


def verdict(rows):
    """What the checks measure: brightness deviation, share of flat rows, tallest run of the failure colour."""
    brightness = [(r * 299 + g * 587 + b * 114) // 1000 for row in rows for r, g, b in row]
    mean = sum(brightness) / len(brightness)
    deviation = (sum((v - mean) ** 2 for v in brightness) / len(brightness)) ** 0.5
    flat = sum(1 for row in rows if row.count(row[0]) == len(row)) / len(rows)
    tallest = 0
    for x in range(len(rows[0])):
        run = 0
        for row in rows:
            run = run + 1 if row[x] == FAIL_RGB else 0
            tallest = max(tallest, run)
    return deviation, flat, tallest


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sapp-host", required=True)
    parser.add_argument("--passing", required=True)
    parser.add_argument("--failing", required=True)
    parser.add_argument("--work", required=True, help="a folder of this test's own, emptied first")
    args = parser.parse_args()
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if not chromium:
        print("SKIPPED: no Chromium here (Debian: apt-get install chromium).")
        return SKIP
    work = Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    report, shot = work / "report.html", work / "report.png"
    made = subprocess.run([args.sapp_host, "report", args.passing, args.failing, "-o", str(report)],
                          capture_output=True, text=True)
    if made.returncode != 1 or not report.is_file():
        print(f"FAIL  report of a failing scenario: exit {made.returncode}, {made.stderr.strip()[:200]}")
        return 1
    subprocess.run([chromium, "--headless=new", "--no-sandbox", "--disable-gpu", f"--window-size={WIDTH},{HEIGHT}",
                    f"--user-data-dir={work / 'profile'}", "--no-first-run", "--hide-scrollbars",
                    f"--screenshot={shot}", report.as_uri()], capture_output=True, timeout=90)
    if not shot.is_file():
        print("FAIL  Chromium wrote no screenshot")
        return 1
    width, height, rows = decode_png(shot.read_bytes())
    deviation, flat, tallest = verdict(rows)
    print(f"screenshot {width}x{height}, {shot.stat().st_size:,} bytes: brightness deviation {deviation:.1f}, "
          f"{flat:.0%} of the rows flat, the failure colour {tallest} px tall at most")
    failures = []
    if deviation < 20 or flat > 0.5:
        failures.append("the screenshot is blank, or mostly blank")
    if tallest < 40:
        failures.append("the screenshot does not show the failing step (no failed step's border)")
    for failure in failures:
        print("FAIL  " + failure)
    if not failures:
        print("ok    the screenshot shows the failing step")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
