#!/usr/bin/env python3
"""The plot pages in a real browser.

Usage: browser_test.py SAMPLES_PROGRAM WORK_FOLDER

Writes the sample pages, checks that each is one well-formed document whose
SVG charts parse as XML, with no script and nothing to fetch, then opens each
in Debian's Chromium, headless: the screenshot must not be blank (dark text
and coloured lines on white) and the browser must log no console error.
Installs the chromium package when it is missing and this runs as root;
where it cannot be had, says why and exits 77 (ctest counts the test as
skipped).
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

SKIP = 77


def fail(message):
    print(f"browser_test: FAILED: {message}")
    sys.exit(1)


def skip(message):
    print(f"browser_test: SKIPPED: {message}")
    sys.exit(SKIP)


def static_checks(path, text):
    lowered = text.lower()
    for forbidden in ("<script", "javascript:", " src=", "href=", "@import", "<link", "<iframe", "<img",
                      "<object", "<embed", " on"):
        if forbidden == " on":
            # No event handler attribute on any element.
            if re.search(r"<[a-z][^>]*\son[a-z]+\s*=", lowered):
                fail(f"{path}: an element has an event handler")
            continue
        if forbidden in lowered:
            fail(f"{path}: holds {forbidden!r}")
    for url in re.findall(r"url\(([^)]*)\)", lowered):
        if not url.startswith("#"):
            fail(f"{path}: fetches url({url})")
    for address in re.findall(r"https?://[^\s\"'<>]+", lowered):
        if address != "http://www.w3.org/2000/svg":
            fail(f"{path}: names {address}")
    # The whole page is well-formed XML (the doctype aside)...
    body = re.sub(r"^<!DOCTYPE html>\s*", "", text)
    try:
        root = ET.fromstring(body)
    except ET.ParseError as e:
        fail(f"{path}: the page does not parse as XML: {e}")
    # ...and so is each chart on its own, as a standalone SVG file would be.
    svgs = re.findall(r"<svg\b.*?</svg>", text, flags=re.S)
    charts = [e for e in root.iter() if e.tag.endswith("svg")]
    if not svgs or len(svgs) != len(charts):
        fail(f"{path}: {len(svgs)} SVG texts, {len(charts)} SVG elements")
    for n, svg in enumerate(svgs):
        try:
            element = ET.fromstring(svg)
        except ET.ParseError as e:
            fail(f"{path}: chart {n + 1} does not parse as XML: {e}")
        if element.tag != "{http://www.w3.org/2000/svg}svg":
            fail(f"{path}: chart {n + 1} is a {element.tag}, not an SVG element")
        if not element.findall(".//{http://www.w3.org/2000/svg}text"):
            fail(f"{path}: chart {n + 1} has no text (title, ticks, legend)")
    return len(svgs)


def find_chromium():
    for name in ("chromium", "chromium-browser"):
        found = shutil.which(name)
        if found:
            return found
    if os.geteuid() != 0 or not shutil.which("apt-get"):
        skip("chromium is not installed and cannot be installed here (not root, or no apt-get)")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    print("browser_test: installing chromium from Debian's archive")
    for command in (["apt-get", "update", "-qq"], ["apt-get", "install", "-y", "-qq", "--no-install-recommends",
                                                   "chromium", "fonts-dejavu-core"]):
        try:
            run = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                 timeout=900)
        except subprocess.TimeoutExpired:
            skip(f"{' '.join(command)} did not finish in 15 minutes")
        if run.returncode != 0:
            last = [line for line in (run.stderr + run.stdout).splitlines() if line.strip()]
            skip(f"cannot install chromium: {last[-1] if last else 'apt-get failed'}")
    found = shutil.which("chromium")
    if not found:
        skip("chromium was installed but is not on PATH")
    return found


def png_pixels(path):
    """(width, height, rows of RGB tuples) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail(f"{path}: not a PNG")
    at, idat, width, height, kind = 8, b"", 0, 0, 0
    while at < len(data):
        length, name = struct.unpack(">I4s", data[at:at + 8])
        chunk = data[at + 8:at + 8 + length]
        if name == b"IHDR":
            width, height, depth, kind, _, _, interlace = struct.unpack(">IIBBBBB", chunk)
            if depth != 8 or kind not in (2, 6) or interlace:
                fail(f"{path}: a PNG of depth {depth}, colour type {kind}, interlace {interlace}")
        elif name == b"IDAT":
            idat += chunk
        at += 12 + length
    raw = zlib.decompress(idat)
    bpp = 3 if kind == 2 else 4
    stride = width * bpp
    rows, previous = [], bytearray(stride)
    for y in range(height):
        filter_type = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if filter_type == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 0xFF
        elif filter_type == 2:
            line = bytearray((a + b) & 0xFF for a, b in zip(line, previous))
        elif filter_type == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + previous[i]) >> 1)) & 0xFF
        elif filter_type == 4:
            for i in range(stride):
                a = line[i - bpp] if i >= bpp else 0
                b = previous[i]
                c = previous[i - bpp] if i >= bpp else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(line)
        previous = line
    return width, height, bpp, rows


def screenshot_checks(chromium, page, work):
    shot = os.path.join(work, os.path.basename(page) + ".png")
    profile = tempfile.mkdtemp(prefix="chromium-profile-", dir=work)
    command = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-extensions",
               f"--user-data-dir={profile}", "--enable-logging=stderr", "--v=0", "--hide-scrollbars",
               "--window-size=1280,1600", f"--screenshot={shot}", "file://" + os.path.abspath(page)]
    try:
        run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=180)
    except subprocess.TimeoutExpired:
        fail(f"{page}: chromium did not finish in 3 minutes")
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    if run.returncode != 0 or not os.path.exists(shot):
        fail(f"{page}: chromium exited with {run.returncode}: {run.stderr[-2000:]}")
    console = [line for line in run.stderr.splitlines() if "CONSOLE" in line or "Uncaught" in line
               or "Failed to load resource" in line or "net::ERR" in line]
    if console:
        fail(f"{page}: the console says: " + " | ".join(console[:5]))
    width, height, bpp, rows = png_pixels(shot)
    ink = colour = 0
    for line in rows:
        for i in range(0, len(line), bpp):
            r, g, b = line[i], line[i + 1], line[i + 2]
            if r < 200 or g < 200 or b < 200:
                ink += 1
                if max(r, g, b) - min(r, g, b) > 60:
                    colour += 1
    share = ink / (width * height)
    if share < 0.005:
        fail(f"{page}: the screenshot is blank ({ink} dark pixels of {width * height})")
    if colour < 200:
        fail(f"{page}: no coloured line in the screenshot ({colour} coloured pixels)")
    print(f"browser_test: {os.path.basename(page)}: {width}x{height}, {share:.1%} ink, {colour} coloured pixels")


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    samples, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    subprocess.run([samples, work], check=True)
    pages = sorted(os.path.join(work, name) for name in os.listdir(work) if name.endswith(".html"))
    if len(pages) != 3:
        fail(f"{len(pages)} sample pages, not 3")
    for page in pages:
        with open(page, encoding="utf-8") as f:
            text = f.read()
        charts = static_checks(page, text)
        print(f"browser_test: {os.path.basename(page)}: {charts} charts parse as XML, no script, nothing fetched")
    with open(os.path.join(work, "hostile.html"), encoding="utf-8") as f:
        hostile = f.read()
    if "<script>" in hostile or "\x1b" in hostile or "onload=" in hostile.replace("onload=x&gt;", ""):
        fail("hostile.html: a name reached the page unescaped")
    chromium = find_chromium()
    for page in pages:
        screenshot_checks(chromium, page, work)
    print("browser_test: 3 passed, 0 failed")


if __name__ == "__main__":
    main()
