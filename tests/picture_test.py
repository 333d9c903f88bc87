#!/usr/bin/env python3
"""qscan-sheet --svg, read back with a real XML parser, against the JSON sheet.

Pictures of synthesized discs, each against the JSON sheet of the same read:
a saved scan of a disc with what a sheet must get right (hidden track with
indexes 2 and 3, pregaps of 1 to 165 blocks, the previous track's ISRC in a
track's first frames, a track with two codes, a data track, damaged frames,
a lead-out), the same disc read by a targeted read, read whole with blocks
the drive cannot read, and by a drive without subchannel; the saved scan
with lines lost; a drive giving Q without its CRC; and a CloneCD set whose
CD-Text title and performer are too long for one line. Each picture must
show the tracks, index points, codes and CRC errors where the sheet has
them; what was not read, what was unreadable and what is missing where the
sheet says so and nowhere else; inexact starts, data tracks and points from
the table of contents marked; a legend entry for every kind of mark drawn
and none for a kind not drawn, each drawn as its marks are; a title within
the picture's width whose counts are those of the blocks read.

Usage: picture_test.py QSCAN_EMU QSCAN_SHEET SYNTH_IMAGE QSCAN_SHEET_EMU [KEEP_DIR]
(KEEP_DIR: where each picture is kept, NAME.svg, for rendering.)
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

EMU, SHEET, SYNTH, SHEET_EMU = sys.argv[1:5]
KEEP = sys.argv[5] if len(sys.argv) > 5 else None
SVG = "{http://www.w3.org/2000/svg}"
GENERIC_FONTS = {"serif", "sans-serif", "monospace", "cursive", "fantasy"}
# Classes of what frames the plot, explained by its own words, not by the legend.
STRUCTURE = {"axis", "tick", "tick-label", "lane", "chart", "track-label", "scale-top", "scale-bottom"}
WIDTH = 1200
EM = 0.6  # the least a sans-serif character takes, in em
LONG_TITLE = ("Sämtliche Symphonien & Ouvertüren, remastered from the original master tapes: the deluxe fiftieth "
              "anniversary edition with the rehearsals, alternate takes and the complete radio broadcasts of 1963")
LONG_PERFORMER = ("Wiener Philharmoniker, Chor der Wiener Staatsoper, Solisten des Festspielhauses, conducted by "
                  "Herbert Müller-Lüdenscheidt")

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def run(args, env, stdin=None, codes=(0,)):
    done = subprocess.run(args, env=env, input=stdin, capture_output=True)
    if done.returncode not in codes:
        raise RuntimeError(f"{args} exited {done.returncode}: {done.stderr.decode(errors='replace')}")
    return done.stdout


def near(a, b):
    return abs(a - b) <= 1.0


def overlap(a, b):
    return a[0] < b[1] + 0.5 and b[0] < a[1] + 0.5


class Picture:
    """A picture and the sheet of the same read, with the picture's x of a block."""

    def __init__(self, name, svg, sheet):
        self.name, self.sheet = name, sheet
        if KEEP:
            with open(os.path.join(KEEP, name + ".svg"), "wb") as f:
                f.write(svg)
        self.root = ET.fromstring(svg)
        self.elements = list(self.root.iter())
        self.by_id = {e.get("id"): e for e in self.elements if e.get("id")}
        plot = self.by_id["plot"]
        self.x0, self.width = float(plot.get("x")), float(plot.get("width"))
        read = sheet["read"]
        blocks = sheet["lead_out"] if sheet["lead_out"] is not None else (
            read["blocks"] + read["missing_blocks"] + read["unreadable_blocks"])
        self.end = blocks + 150  # disc time at the axis's end, in frames
        self.legend = set(map(id, self.by_id["legend"].iter()))

    def check(self, ok, what):
        check(ok, f"{self.name}: {what}")

    def x(self, block):
        return self.x0 + self.width * (block + 150) / self.end

    def span(self, first, last):
        """The x of blocks first to last."""
        return (self.x(first), self.x(last + 1))

    def marks(self, cls, lane=None):
        """The rectangles of a class, as x spans; within a lane's rows only, given its id."""
        found = [e for e in self.elements if e.tag == SVG + "rect" and e.get("class") == cls
                 and id(e) not in self.legend]
        if lane is not None:
            top = float(self.by_id[lane].get("y"))
            bottom = top + float(self.by_id[lane].get("height"))
            found = [e for e in found if top <= float(e.get("y")) < bottom]
        return [(float(e.get("x")), float(e.get("x")) + float(e.get("width"))) for e in found]

    def matches(self, marks, spans, what):
        """Every span has a mark over it, and every mark lies over one of the spans."""
        self.check(all(any(overlap(m, s) for m in marks) for s in spans), f"{what}: a stretch with no mark")
        self.check(all(any(overlap(m, s) for s in spans) for m in marks), f"{what}: a mark where the sheet has none")
        self.check(bool(marks) == bool(spans), f"{what}: {len(marks)} marks for {len(spans)} stretches")

    def title_lines(self):
        return [(t.text or "", float(t.get("x")), int(t.get("font-size"))) for t in self.by_id["title"]]


def check_common(p):
    """What every picture must be: plain SVG 1.1, a title that fits, a legend of exactly the marks drawn."""
    root, elements = p.root, p.elements
    p.check(root.tag == SVG + "svg" and root.get("version") == "1.1" and root.get("width") == str(WIDTH),
            "not SVG 1.1, 1200 wide")
    p.check(not any(e.tag == SVG + "script" for e in elements), "a script")
    refs = [v for e in elements for k, v in e.attrib.items() if k.endswith("href") or "url(" in v]
    p.check(all(re.fullmatch(r"(url\()?#[\w-]+\)?", r) for r in refs), f"a reference outside the file: {refs}")
    p.check(all(e.get("font-family") in GENERIC_FONTS for e in elements if e.get("font-family")),
            "a font not of a generic family")

    for line, x, size in p.title_lines():
        p.check(x + EM * size * len(line) <= WIDTH, f"the title line {line!r} runs past the picture's edge")
    title = "".join(p.by_id["title"].itertext())
    crc, blocks = p.sheet["crc_errors"], p.sheet["read"]["blocks"]
    counts = (f"{crc:,} CRC error{'' if crc == 1 else 's'} in the {blocks:,} block{'' if blocks == 1 else 's'} read"
              if crc is not None else "CRC errors not known")
    p.check(counts in title, f"the title {title!r} lacks {counts!r}")

    # Each entry is a group whose class names the kind of mark it explains.
    entries = {e.get("class"): e for e in p.by_id["legend"] if e.tag == SVG + "g"}
    marks = {}
    for e in elements:
        if e.get("class") and e.get("class") not in STRUCTURE and id(e) not in p.legend:
            marks.setdefault(e.get("class"), []).append(e)
    p.check(set(marks) <= set(entries), f"marks without a legend entry: {sorted(set(marks) - set(entries))}")
    p.check(set(entries) <= set(marks), f"legend entries without their marks: {sorted(set(entries) - set(marks))}")
    look = lambda e: (e.get("fill"), e.get("stroke"))
    for kind in set(entries) & set(marks):
        swatch = {look(e) for e in entries[kind].iter() if e.tag != SVG + "text" and e is not entries[kind]}
        drawn = {look(e) for e in marks[kind]}
        p.check(drawn <= swatch, f"the legend draws {kind} as {sorted(swatch, key=str)}, the picture as "
                                 f"{sorted(drawn, key=str)}")


def check_tracks(p):
    """Each track's block (data tracks apart), pregap, index marks, inexact starts and points from the table of contents."""
    tracks, by_id = p.sheet["tracks"], p.by_id
    labels = {e.text: float(e.get("x")) for e in p.elements if e.get("class") == "track-label"}
    inexact = toc = 0
    for i, t in enumerate(tracks):
        n, indexes = t["number"], {i["number"]: i for i in t["indexes"]}
        block = by_id.get(f"track-{n}")
        p.check(block is not None, f"no block for track {n}")
        if block is None:
            continue
        p.check(block.get("class") == ("data-track" if t["data"] else "track"),
                f"track {n} drawn as {block.get('class')}, its data flag {t['data']}")
        start = min(i["block"] for i in indexes.values())
        stop = min(tracks[i + 1]["indexes"][0]["block"], p.end - 150) if i + 1 < len(tracks) else p.end - 150
        bx, bw = float(block.get("x")), float(block.get("width"))
        p.check(near(bx, p.x(start)) and near(bx + bw, p.x(stop)),
                f"track {n}'s block at {bx}-{bx + bw}, not {p.x(start)}-{p.x(stop)}")
        p.check(str(n) in labels and bx <= labels[str(n)] <= bx + bw, f"track {n} has no label on its block")
        if 0 in indexes and 1 in indexes and indexes[1]["block"] > indexes[0]["block"]:
            pregap = by_id.get(f"pregap-{n}")
            p.check(pregap is not None and near(float(pregap.get("x")), p.x(indexes[0]["block"]))
                    and near(float(pregap.get("x")) + float(pregap.get("width")), p.x(indexes[1]["block"])),
                    f"track {n}'s pregap")
        for number, index in indexes.items():
            at = index["block"]
            if number >= 2:
                mark = by_id.get(f"index-{n}-{number:02d}")
                p.check(mark is not None and near(float(mark.get("x1")), p.x(at)), f"track {n} index {number:02d}")
            mark = by_id.get(f"inexact-{n}-{number:02d}")
            if index["source"] == "q" and not index["exact"]:
                inexact += 1
                p.check(mark is not None and near(float(mark.get("x")) + float(mark.get("width")), p.x(at))
                        and float(mark.get("x")) <= p.x(index["earliest_block"]) + 1.0,
                        f"track {n} index {number:02d}'s start, not exact, not drawn from block "
                        f"{index['earliest_block']} to {at}")
            mark = by_id.get(f"toc-{n}-{number:02d}")
            if index["source"] == "toc":
                toc += 1
                xs = [float(v) for v in re.findall(r"[-\d.]+", mark.get("d"))[0::2]] if mark is not None else []
                p.check(bool(xs) and near((min(xs) + max(xs)) / 2, p.x(at)),
                        f"track {n} index {number:02d} from the table of contents not marked at {p.x(at)}")
    p.check(len(p.marks("inexact")) == inexact, f"{len(p.marks('inexact'))} inexact marks for {inexact} starts")
    paths = [e for e in p.elements if e.get("class") == "from-toc" and id(e) not in p.legend]
    lead_out = p.sheet["lead_out_from_toc"]
    p.check(len(paths) == toc + lead_out, f"{len(paths)} marks of the table of contents for {toc} points"
                                          f"{' and the lead-out' if lead_out else ''}")


def seconds(p, blocks):
    """The x spans of the seconds of disc time the blocks lie in."""
    return [(p.x0 + p.width * s * 75 / p.end, p.x0 + p.width * (s + 1) * 75 / p.end)
            for s in sorted({(b + 150) // 75 for b in blocks})]


def evidence(sheet):
    """Blocks the sheet shows were read: exact index points its frames gave, and where its codes' frames are."""
    blocks = [i["block"] for t in sheet["tracks"] for i in t["indexes"] if i["exact"] and i["source"] == "q"]
    codes = [c for t in sheet["tracks"] for c in [t["isrc"]] + t["other_isrcs"] if c] + [sheet["mcn"]]
    return blocks + [c[k] for c in codes if c for k in ("first_block", "last_block") if c[k] is not None]


def check_lacks(p, not_read_before_0=True):
    """Unreadable and missing stretches where the sheet lists them; not-read marks never over a block read."""
    read = p.sheet["read"]
    p.matches(p.marks("unreadable", "read-lane"), [p.span(a, b) for a, b in read["unreadable"]], "unreadable")
    p.matches(p.marks("missing", "read-lane"),
              [p.span(m["first_block"], m["last_block"]) for m in read["missing"]], "missing")
    not_read = p.marks("not-read", "read-lane")
    inside = [b for b in evidence(p.sheet) if any(m[0] + 0.5 < p.x(b) < m[1] - 0.5 for m in not_read)]
    p.check(not inside, f"blocks read drawn as not read: {inside[:5]}")
    if not_read_before_0:
        p.check(len(not_read) == 1 and not_read[0][0] == p.x0 and near(not_read[0][1], p.x(0)),
                f"a read of every block drawn not read at {not_read}, not only before block 0")


def main():
    work = tempfile.mkdtemp(prefix="qscan-picture-")
    try:
        pictures(work)
    finally:
        shutil.rmtree(work)
    for what in failures:
        print("FAIL:", what)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


def clonecd_with_text(raw_image, stem, title, performer):
    """A CloneCD set (.img, .sub, .ccd) of a raw 2448-byte image, its CD-Text the disc's title and performer."""
    q_bit = bytes(ord("1") if v & 0x40 else ord("0") for v in range(256))
    with open(raw_image, "rb") as raw, open(stem + ".img", "wb") as img, open(stem + ".sub", "wb") as sub:
        while True:
            sector = raw.read(2448)
            if not sector:
                break
            img.write(sector[:2352])
            q = int(sector[2352:].translate(q_bit), 2).to_bytes(12, "big")
            sub.write(bytes(12) + q + bytes(72))
    packs = []
    for kind, text in ((0x80, title), (0x81, performer)):
        data = text.encode("latin-1") + b"\0"
        data += bytes(-len(data) % 12)
        for at in range(0, len(data), 12):
            packs.append(bytes([kind, 0, len(packs), min(at, 15)]) + data[at:at + 12])
    with open(stem + ".ccd", "w") as ccd:
        ccd.write(f"[CloneCD]\nVersion=3\n[CDText]\nEntries={len(packs)}\n")
        for i, pack in enumerate(packs):
            ccd.write(f"Entry {i}={' '.join(f'{b:02x}' for b in pack)}\n")


def pictures(work):
    image = os.path.join(work, "sheet.img")
    run([SYNTH, "sheet", image], os.environ)
    env = dict(os.environ, QSCAN_EMULATED_DISC=image)
    for name in ("QSCAN_EMULATED_FAULTS", "QSCAN_EMULATED_DRIVE"):
        env.pop(name, None)

    def from_drive(name, args, extra={}, codes=(0,)):
        e = dict(env, **extra)
        sheet = json.loads(run([SHEET_EMU, "--json"] + args + ["D:"], e, codes=codes))
        return Picture(name, run([SHEET_EMU, "--svg"] + args + ["D:"], e, codes=codes), sheet)

    def from_scan(name, report):
        sheet = json.loads(run([SHEET, "--json"], env, report))
        return Picture(name, run([SHEET, "--svg"], env, report), sheet)

    # A saved scan: every block read.
    report = run([EMU, "-r", "-e", "D:"], env)
    p = from_scan("saved-scan", report)
    check_common(p)
    check_tracks(p)
    check_lacks(p)
    other = [b for t in p.sheet["tracks"] for c in t["other_isrcs"] for b in range(c["first_block"], c["last_block"] + 1)]
    p.check(bool(other), "the test disc has no other codes")
    p.matches(p.marks("other-code", "isrc-lane"), seconds(p, other), "other ISRCs")
    damaged = [int(n) for n in re.findall(rb"^crc error in sector (\d+)$", report, re.M)]
    p.matches(p.marks("crc-bar"), seconds(p, damaged), "CRC errors")
    p.matches(p.marks("out-of-place-bar"), [], "frames out of place")
    p.check(any(t["data"] for t in p.sheet["tracks"]), "the test disc has no data track")
    p.check(any(not i["exact"] for t in p.sheet["tracks"] for i in t["indexes"]), "the test disc has no inexact start")

    # Lines lost from the saved scan: missing, not unreadable.
    lines = report.split(b"\n")
    p = from_scan("lines-lost", b"\n".join(lines[:4000] + lines[4100:]))
    check_common(p)
    check_lacks(p)
    p.check(p.sheet["read"]["missing_blocks"] > 0, "no lines lost")

    # A scan cut short of the lead-out says so in the title; a whole one does not.
    for name, cut, said in (("cut-short", lines[:6000], True), ("whole", lines, False)):
        p = from_scan(name, b"\n".join(cut))
        check_common(p)
        title = "".join(p.by_id["title"].itertext())
        p.check(("no lead-out read" in title) == said and (p.sheet["lead_out"] is None) == said,
                f"the title {title!r} of a scan {'without' if said else 'with'} its lead-out")

    # A targeted read: the stretches not read lack frames, and are drawn so,
    # as wide as the blocks not read (the drive may read up to all the
    # lead-out's blocks besides, past the axis; a column partly read is not
    # drawn as not read, a pixel each side of a stretch).
    p = from_drive("targeted", [])
    check_common(p)
    check_tracks(p)
    check_lacks(p, not_read_before_0=False)
    lead_out_blocks = os.path.getsize(image) // 2448 - p.sheet["lead_out"]
    not_read = p.marks("not-read", "read-lane")
    drawn = sum(b - a for a, b in not_read) * p.end / p.width
    least = 150 + p.sheet["lead_out"] - p.sheet["read"]["blocks"]
    slack = 2 * len(not_read) * p.end / p.width
    p.check(least - slack <= drawn <= least + lead_out_blocks + slack,
            f"{drawn:.0f} blocks drawn not read, not {least} to {least + lead_out_blocks}")
    for chart in ("crc-chart", "out-of-place-chart"):
        p.check(sorted(p.marks("not-read", chart)) == sorted(not_read), f"the {chart} not hatched where not read")

    # Every block read, some unreadable: a stretch and a block alone.
    faults = ",".join(f"{b}:medium" for b in list(range(4000, 4040)) + [8000])
    p = from_drive("unreadable", ["--full"], {"QSCAN_EMULATED_FAULTS": faults}, codes=(0, 1))
    check_common(p)
    check_lacks(p)
    p.check(p.sheet["read"]["unreadable_blocks"] == 41, f"{p.sheet['read']['unreadable_blocks']} unreadable blocks")

    # A drive that fills code frames in: its codes' lanes hold no frame, and say whose the codes are.
    p = from_drive("no-codes", [], {"QSCAN_EMULATED_DRIVE": "no-codes"})
    check_common(p)
    words = [t.text for t in p.elements if t.tag == SVG + "text" and t.text]
    for lane in ("ISRCs: no frame read carries them", "catalogue number: no frame read carries it"):
        p.check(f"the drive's own report gives the {lane}" in words, f"no words in an empty lane: {lane}")

    # No subchannel: the tracks as the table of contents gives them, nothing read, CRC errors not counted.
    p = from_drive("no-subchannel", [], {"QSCAN_EMULATED_DRIVE": "no-subchannel"})
    check_common(p)
    check_tracks(p)
    p.check(p.marks("not-read", "read-lane") == [(p.x0, p.x0 + p.width)], "a read of no block not drawn not read")

    # Q frames without their CRC: CRC errors not counted.
    p = from_drive("no-crc", [], {"QSCAN_EMULATED_DRIVE": "formatted-no-crc"})
    check_common(p)
    p.check(p.sheet["crc_errors"] is None and not p.marks("crc-bar"), "CRC errors counted without a CRC")

    # A CD-Text title and performer longer than the picture is wide.
    sample = os.path.join(work, "sample.img")
    run([SYNTH, "sample", sample], os.environ)
    stem = os.path.join(work, "long")
    clonecd_with_text(sample, stem, LONG_TITLE, LONG_PERFORMER)
    os.remove(sample)
    env["QSCAN_EMULATED_DISC"] = stem + ".ccd"
    p = from_drive("long-title", [])
    check_common(p)
    # A line each, shortened with an ellipsis: the performer is not the part cut off.
    heading = [line for line, _, size in p.title_lines() if size == max(s for _, _, s in p.title_lines())]
    p.check(len(heading) == 2, f"the heading is not the title's line and the performer's: {heading!r}")
    for line, whole in zip(heading, (LONG_TITLE, LONG_PERFORMER)):
        p.check(line.endswith("\u2026") and whole.startswith(line[:-1]) and len(line) > 50,
                f"the heading's line {line!r} is no shortened start of {whole!r}")
    title = "".join(p.by_id["title"].itertext())
    p.check(p.sheet["mcn"]["code"] in title and f"{len(p.sheet['tracks'])} tracks" in title,
            f"the long title's figures are cut: {title!r}")

    # The same disc with the title's first pack damaged: the title is lost, and said so, the performer still there.
    p = from_drive("lost-title", [], {"QSCAN_EMULATED_FAULTS": "0:cd-text-crc"})
    check_common(p)
    heading = [line for line, _, size in p.title_lines() if size == max(s for _, _, s in p.title_lines())]
    p.check(heading[0].startswith("(title lost: a damaged pack) \u2014 Wiener"),
            f"the heading of a lost title is {heading!r}")


if __name__ == "__main__":
    sys.exit(main())
