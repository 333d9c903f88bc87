#!/usr/bin/env python3
"""qscan-sheet --svg, read back with a real XML parser.

A synthesized disc (hidden track with indexes 2 and 3, pregaps of 1 to 165
blocks, the previous track's ISRC in a track's first frames, a track with
two codes, damaged frames, a lead-out) is scanned by qscan-emu; the picture
must hold what the disc's JSON sheet and qscan's own -e report say: one
block per track with its label, the pregaps and index marks where they
begin, other-code marks where the disc has them and nowhere else, CRC error
bars at the seconds where the disc has errors, and the title's figures.

Usage: picture_test.py QSCAN_EMU QSCAN_SHEET SYNTH_IMAGE
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

EMU, SHEET, SYNTH = sys.argv[1:4]
SVG = "{http://www.w3.org/2000/svg}"
GENERIC_FONTS = {"serif", "sans-serif", "monospace", "cursive", "fantasy"}


def main():
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    work = tempfile.mkdtemp(prefix="qscan-picture-")
    try:
        image = os.path.join(work, "sheet.img")
        subprocess.run([SYNTH, "sheet", image], check=True)
        env = dict(os.environ, QSCAN_EMULATED_DISC=image)
        env.pop("QSCAN_EMULATED_FAULTS", None)
        report = subprocess.run([EMU, "-r", "-e", "D:"], env=env, capture_output=True, check=True).stdout
        sheet = json.loads(subprocess.run([SHEET, "--json"], input=report, capture_output=True, check=True).stdout)
        svg = subprocess.run([SHEET, "--svg"], input=report, capture_output=True, check=True).stdout
        damaged = [int(n) for n in re.findall(rb"^crc error in sector (\d+)$", report, re.M)]
    finally:
        shutil.rmtree(work)

    root = ET.fromstring(svg)
    check(root.tag == SVG + "svg" and root.get("version") == "1.1" and root.get("width") == "1200", "not SVG 1.1, 1200 wide")
    elements = list(root.iter())
    check(not any(e.tag == SVG + "script" for e in elements), "a script")
    refs = [v for e in elements for k, v in e.attrib.items() if k.endswith("href") or "url(" in v]
    check(all(re.fullmatch(r"(url\()?#[\w-]+\)?", r) for r in refs), f"a reference outside the file: {refs}")
    check(all(e.get("font-family") in GENERIC_FONTS for e in elements if e.get("font-family")), "a font not of a generic family")

    by_id = {e.get("id"): e for e in elements if e.get("id")}
    plot = by_id["plot"]
    x0, width = float(plot.get("x")), float(plot.get("width"))
    end = (sheet["lead_out"] if sheet["lead_out"] is not None else sheet["sectors"]) + 150

    def x(block):
        return x0 + width * (block + 150) / end

    def near(a, b):
        return abs(a - b) <= 1.0

    def rects(cls):
        return [(float(e.get("x")), float(e.get("x")) + float(e.get("width")))
                for e in elements if e.tag == SVG + "rect" and e.get("class") == cls]

    labels = {e.text: float(e.get("x")) for e in elements if e.get("class") == "track-label"}
    tracks = sheet["tracks"]
    for i, t in enumerate(tracks):
        n, indexes = t["number"], {i["number"]: i["block"] for i in t["indexes"]}
        block = by_id.get(f"track-{n}")
        check(block is not None, f"no block for track {n}")
        if block is None:
            continue
        start = min(indexes.values())
        stop = min(tracks[i + 1]["indexes"][0]["block"], end - 150) if i + 1 < len(tracks) else end - 150
        bx, bw = float(block.get("x")), float(block.get("width"))
        check(near(bx, x(start)) and near(bx + bw, x(stop)), f"track {n}'s block at {bx}-{bx + bw}, not {x(start)}-{x(stop)}")
        check(str(n) in labels and bx <= labels[str(n)] <= bx + bw, f"track {n} has no label on its block")
        if 0 in indexes and 1 in indexes:
            pregap = by_id.get(f"pregap-{n}")
            check(pregap is not None and near(float(pregap.get("x")), x(indexes[0]))
                  and near(float(pregap.get("x")) + float(pregap.get("width")), x(indexes[1])), f"track {n}'s pregap")
        for number, at in indexes.items():
            if number >= 2:
                mark = by_id.get(f"index-{n}-{number:02d}")
                check(mark is not None and near(float(mark.get("x1")), x(at)), f"track {n} index {number:02d}")

    def covers(marks, seconds, what):
        """Every second has a mark over it, and every mark lies over one of the seconds."""
        spans = [(x0 + width * s * 75 / end, x0 + width * (s + 1) * 75 / end) for s in sorted(seconds)]
        overlap = lambda m, s: m[0] < s[1] + 0.5 and s[0] < m[1] + 0.5
        check(all(any(overlap(m, s) for m in marks) for s in spans), f"{what}: a second with no mark")
        check(all(any(overlap(m, s) for s in spans) for m in marks), f"{what}: a mark where the disc has none")
        check(bool(marks) == bool(spans), f"{what}: {len(marks)} marks for {len(spans)} seconds")

    other_seconds = {s for t in tracks for c in t["other_isrcs"]
                     for s in range((c["first_block"] + 150) // 75, (c["last_block"] + 150) // 75 + 1)}
    check(bool(other_seconds), "the test disc has no other codes")
    covers(rects("isrc-other"), other_seconds, "other ISRCs")
    covers(rects("crc-bar"), {(b + 150) // 75 for b in damaged}, "CRC errors")
    covers(rects("out-of-place-bar"), set(), "frames out of place")

    title = by_id["title"].text
    length = f"{end // 4500:02d}:{end // 75 % 60:02d}.{end % 75:02d}"
    for figure in (sheet["mcn"]["code"], f"{len(tracks)} tracks", length, f"{sheet['crc_errors']} CRC errors"):
        check(figure in title, f"the title {title!r} lacks {figure!r}")

    for what in failures:
        print("FAIL:", what)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
