# The qscan module over libqscan-emu, against qscan-sheet-emu run on the same
# emulated drive or saved scan (ctest's python_module sets the paths).
import ctypes
import io
import json
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import pytest

NEEDED = ["QSCAN_LIBRARY", "QSCAN_SHEET_EMU", "QSCAN_EMU", "SYNTH_IMAGE"]
if any(name not in os.environ for name in NEEDED):
    raise RuntimeError("set " + ", ".join(NEEDED) + " to the built library and programs (ctest -R python_module does)")

import qscan  # noqa: E402

SHEET_EMU, QSCAN_EMU, SYNTH_IMAGE = (os.environ[n] for n in NEEDED[1:])
ROOT = pathlib.Path(__file__).resolve().parents[2]
EMULATED = ["DISC", "DRIVE", "FAULTS", "SPEED", "MAX_SECTORS", "STATS"]
LINE = 37  # a raw line: twelve bytes in hex, each with a blank, and its end
R = qscan.Result


@pytest.fixture(autouse=True)
def drive(monkeypatch):
    """drive(disc=image, drive=kind, faults=...): the emulated drive so set up;
    the sample disc in a strict drive until then."""
    def set_up(**settings):
        for name in EMULATED:
            monkeypatch.delenv("QSCAN_EMULATED_" + name, raising=False)
        for name, value in settings.items():
            monkeypatch.setenv("QSCAN_EMULATED_" + name.upper(), value)
        qscan._emulated_reload()
    set_up()
    yield set_up
    monkeypatch.undo()
    qscan._emulated_reload()


@pytest.fixture(scope="session")
def images(tmp_path_factory):
    folder = tmp_path_factory.mktemp("images")
    made = {"none": "none"}
    for name, what in [("sheet", "sheet"), ("mixed", "mixed"), ("tiny", "750")]:
        made[name] = str(folder / (name + ".img"))
        subprocess.run([SYNTH_IMAGE, what, made[name]], check=True)
    return made


@pytest.fixture(scope="session")
def reports(images):
    """qscan-emu -r's report of the sample disc and of each image."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("QSCAN_EMULATED_")}
    scan = lambda more: subprocess.run([QSCAN_EMU, "-r", "D:"], env=dict(env, **more), capture_output=True,  # noqa
                                       check=True).stdout
    return dict(sample=scan({}), **{n: scan({"QSCAN_EMULATED_DISC": images[n]}) for n in ["sheet", "mixed", "tiny"]})


def program(*args):
    return subprocess.run([SHEET_EMU, *args], capture_output=True, env=dict(os.environ))


def said(notes, error=None):
    """qscan-sheet's standard error for these notes and this error."""
    text = "".join(f"qscan-sheet: {n}\n" for n in notes)
    if error is not None:
        text += ("" if error.result in (R.OPEN, R.READ) else "qscan-sheet: ") + str(error) + "\n"
    return text


def raw_line(q10):
    """A raw line of Q bytes 0-9 with their CRC (CCITT from zero, complemented)."""
    c = 0
    for byte in q10:
        c ^= byte << 8
        for _ in range(8):
            c = ((c << 1) ^ 0x1021 if c & 0x8000 else c << 1) & 0xFFFF
    return ("".join(f"{b:02x} " for b in bytes(q10) + (c ^ 0xFFFF).to_bytes(2, "big")) + "\n").encode()


def position(track, index, rel, abs_):
    bcd = lambda v: v // 10 * 16 + v % 10  # noqa: E731
    return raw_line([1, track, index, bcd(rel // 4500), bcd(rel // 75 % 60), bcd(rel % 75), 0,
                     bcd(abs_ // 4500), bcd(abs_ // 75 % 60), bcd(abs_ % 75)])


def replace(report, changes):
    """The report with lines, by block, replaced; a line given as None has its CRC's last bit flipped."""
    lines = [report[i:i + LINE] for i in range(0, len(report), LINE)]
    for b, line in changes.items():
        lines[b] = line or lines[b][:33] + b"%02x" % (int(lines[b][33:35], 16) ^ 1) + lines[b][35:]
    return b"".join(lines)


ZEROS = b"00 " * 12 + b"\n"
REAL = b"".join(b"%s \n" % " ".join(f"{b:02x}" for b in bytes.fromhex(row.split("\t")[0])).encode()
               for row in (ROOT / "tests/data/real_q_frames.tsv").read_text().splitlines() if row[:1] not in "#")

# Drives as the emulated drive plays them: the module's JSON, notes and
# unreadable blocks are qscan-sheet-emu's. (name, settings, --full)
DRIVES = [
    ("the sample disc", {}, False), ("the sample disc read whole", {}, True),
    ("hidden track, indexes 2 and 3, a data track", {"disc": "sheet"}, False),
    ("a mode-2 data track first", {"disc": "mixed"}, True), ("one short track", {"disc": "tiny"}, False),
    *((f"a {kind} drive", {"drive": kind}, False)
      for kind in ["no-raw", "formatted-no-crc", "formatted-binary", "zero-q", "no-codes", "no-subchannel"]),
    ("no subchannel, read whole", {"drive": "no-subchannel"}, True),
    *((f"fault {f}", {"faults": f}, False)
      for f in ["0:toc-refused", "0:toc-short", "0:inquiry-refused", "0:cd-text-short", "0:becoming-ready",
                "3100:illegal"]),
    ("unreadable blocks", {"faults": "3100:medium,3101:medium,5000:hardware"}, True),
    ("five sectors a transfer", {"max_sectors": "5"}, True),
]


@pytest.mark.parametrize("name,settings,full", DRIVES, ids=[d[0] for d in DRIVES])
def test_a_drive_read_is_the_programs(drive, images, name, settings, full):
    drive(**{k: images.get(v, v) for k, v in settings.items()})
    disc = qscan.read("D:", full=full)
    ran = program("--json", *(["--full"] * full), "D:")
    assert json.loads(ran.stdout) == disc.json()
    unreadable = ["some blocks of the disc could not be read: the sheet says which"] * disc.unreadable
    assert (ran.stderr.decode(), ran.returncode) == (said(disc.notes + unreadable), int(disc.unreadable))


# Drives that give no sheet: (name, settings, device, --full, result, sense, block)
DRIVE_ERRORS = [
    ("a drive that is not there", {}, "E:", False, R.OPEN, None, None),
    ("an empty drive", {"disc": "none"}, "D:", False, R.READ, (2, 0x3A, 0), None),
    ("no subchannel, no table of contents", {"drive": "no-subchannel", "faults": "0:toc-refused"}, "D:", False,
     R.READ, (5, 0x24, 0), None),
    ("a disc change", {"faults": "3100:unit-attention"}, "D:", False, R.DISC_CHANGED, (6, 0x28, 0), 3100),
    ("a disc taken out", {"faults": "3000:not-ready"}, "D:", True, R.DISC_GONE, (2, 0x3A, 0), 3000),
]


@pytest.mark.parametrize("name,settings,device,full,result,sense,block", DRIVE_ERRORS,
                         ids=[d[0] for d in DRIVE_ERRORS])
def test_a_failed_read_says_what_the_program_says(drive, name, settings, device, full, result, sense, block):
    drive(**settings)
    with pytest.raises(qscan.DriveError) as caught:
        qscan.read(device, full=full)
    e = caught.value
    assert (e.result, e.sense, e.block, isinstance(e, OSError)) == (result, sense, block, True)
    ran = program("--json", *(["--full"] * full), device)
    assert (ran.returncode, ran.stdout, ran.stderr.decode()) == (1, b"", said(e.notes, e))


# A NUL byte would cut a C string short: refused, as open() refuses it.
@pytest.mark.parametrize("call", [lambda: qscan.read("D:\0x"), lambda: qscan.read_scan("sample.q\0junk"),
                                  lambda: qscan.read("D:").cue("disc\0.bin")],
                         ids=["a drive", "a saved scan's path", "an image's name"])
def test_a_nul_in_a_name_is_refused(call):
    with pytest.raises(ValueError):
        call()


# Settings the emulated drive refuses leave no drive to read: a test set up
# wrong must not pass on the sample disc read in its place.
@pytest.mark.parametrize("settings", [{"drive": "bogus"}, {"faults": "zz"}, {"disc": "/no/such/image.bin"}],
                         ids=["an unknown kind of drive", "a fault list that is none", "an image not there"])
def test_settings_refused_leave_no_drive(drive, settings):
    with pytest.raises(qscan.Error):
        drive(**settings)
    with pytest.raises(qscan.DriveError) as caught:
        qscan.read("D:")
    assert caught.value.result == R.OPEN
    assert "QSCAN_EMULATED_* variables were refused" in str(caught.value)


# Saved scans as drives, people and editors leave them: the module's JSON,
# notes, text and cue sheet (and what it cannot say) are the program's.
SCANS = [
    ("the sample disc", lambda r: r["sample"]),
    ("hidden track and a data track", lambda r: r["sheet"]),
    ("a mode-2 data track first", lambda r: r["mixed"]),
    ("CRLF line ends, blank lines at the end", lambda r: r["sample"].replace(b"\n", b"\r\n") + b"\r\n \t\n\n"),
    ("stopped in the middle of a line", lambda r: r["sample"][:1439 * LINE + 10]),
    ("upper case without the last blank", lambda r: r["sample"].upper().replace(b" \n", b"\n")),
    ("100 lines lost in a track", lambda r: r["sample"][:4000 * LINE] + r["sample"][4100 * LINE:]),
    ("lines lost across a start", lambda r: r["sample"][:2990 * LINE] + r["sample"][3100 * LINE:]),
    ("a pregap of zeros", lambda r: replace(r["sample"], dict.fromkeys(range(3000, 3150), ZEROS))),
    ("cut off before track 2's index 01", lambda r: r["sample"][:3100 * LINE]),
    ("cut off in a pregap", lambda r: r["sample"][:6600 * LINE]),
    ("CRC errors across a start", lambda r: replace(r["sample"], dict.fromkeys(range(3000, 6506)))),
    ("no track seen before block 6526", lambda r: replace(r["sample"], dict.fromkeys(range(6526)))),
    ("forged frames: tracks 1A, 5 and B0, index 0A",
     lambda r: replace(r["sample"], {4000: position(0x1A, 1, 850, 4150), 5000: position(5, 1, 0, 5150),
                                     5500: position(2, 0x0A, 2350, 5650), 497: position(0xB0, 1, 0, 647)})),
    ("Q a block late", lambda r: position(1, 0, 301, 149) + r["sheet"][:-LINE]),
    ("Q a block early", lambda r: r["sheet"][LINE:]),
    ("the real frames of tests/data, one a line", lambda r: REAL),
]


@pytest.mark.parametrize("name,make", SCANS, ids=[s[0] for s in SCANS])
def test_a_saved_scan_is_the_programs(reports, tmp_path, name, make):
    path = tmp_path / "disc.q"
    path.write_bytes(make(reports))
    disc = qscan.read_scan(path)
    ran = program("--json", str(path))
    assert (json.loads(ran.stdout), ran.stderr.decode()) == (disc.json(), said(disc.notes))
    assert program(str(path)).stdout.decode() == disc.text()
    cue, form = program("--cue", "--image", "my disc.bin", str(path)), disc.form("cue", "my disc.bin")
    assert (cue.stdout.decode(), cue.stderr.decode()) == (form.text, said(disc.notes + form.notes))


# Saved scans that give no sheet: (name, report, result, line, errno)
SCAN_ERRORS = [
    ("two scans in one file", lambda r: r["sample"] * 2, R.SCAN, 8926, None),
    ("lines repeated", lambda r: r["sample"][:5000 * LINE] + r["sample"][4990 * LINE:], R.SCAN, 5001, None),
    ("a line of no report", lambda r: r["sample"][:LINE] + b"hello\n", R.SCAN, 2, None),
    ("a NUL in a line", lambda r: b"41 01 01\0 00\n", R.SCAN, 1, None),
    ("nothing", lambda r: b"", R.SCAN, None, None),
    ("no good frame", lambda r: ZEROS, R.NOT_RAW, None, None),
    ("a file that is not there", None, R.INPUT, None, 2),
]


@pytest.mark.parametrize("name,make,result,line,errno", SCAN_ERRORS, ids=[s[0] for s in SCAN_ERRORS])
def test_a_refused_scan_says_what_the_program_says(reports, tmp_path, name, make, result, line, errno):
    path = tmp_path / "disc.q"
    if make:
        path.write_bytes(make(reports))
    with pytest.raises(qscan.ScanError) as caught:
        qscan.read_scan(path)
    e = caught.value
    assert (e.result, e.line, e.errno, isinstance(e, ValueError)) == (result, line, errno, True)
    ran = program("--json", str(path))
    assert (ran.returncode, ran.stdout, ran.stderr.decode()) == (1, b"", said([], e))


def every_other_byte(data):
    spread = bytearray(2 * len(data))
    spread[::2] = data
    return memoryview(spread)[::2]


SOURCES = [("a str path", str), ("a pathlib path", lambda p: p), ("bytes", lambda p: p.read_bytes()),
           ("a bytearray", lambda p: bytearray(p.read_bytes())), ("a memoryview", lambda p: memoryview(p.read_bytes())),
           ("a view of part of a bytearray", lambda p: memoryview(bytearray(b"x" + p.read_bytes()))[1:]),
           ("a view that is not contiguous", lambda p: every_other_byte(p.read_bytes())),
           ("a binary file", lambda p: open(p, "rb")), ("a BytesIO", lambda p: io.BytesIO(p.read_bytes()))]


@pytest.mark.parametrize("name,source", SOURCES, ids=[s[0] for s in SOURCES])
def test_every_kind_of_source_gives_the_same_disc(reports, tmp_path, name, source):
    path = tmp_path / "disc.q"
    path.write_bytes(reports["sheet"])
    given = source(path)
    disc = qscan.read_scan(given)
    getattr(given, "close", lambda: None)()
    assert disc.json() == json.loads(program("--json", str(path)).stdout)


@pytest.mark.parametrize("kind,args", [("text", []), ("cue", ["--cue"]), ("svg", ["--svg"])])
def test_each_form_of_a_drive_read_is_the_programs(kind, args):
    assert getattr(qscan.read("D:"), kind)() == program(*args, "D:").stdout.decode()


@pytest.mark.parametrize("image", ["disc.bin", "my disc.bin"])
def test_a_toc_file_is_the_programs(image):
    assert qscan.read("D:").toc_file(image) == program("--toc", "--image", image, "D:").stdout.decode()


def test_the_attributes_are_the_sheets():
    disc, lib = qscan.read("D:"), qscan._native.lib
    assert [(t.number, t.isrc, t.flags, t.data) for t in disc.tracks] == [
        (1, "ZZQSC2600001", set(), False), (2, "ZZQSC2600002", set(), False), (3, "ZZQSC2600003", set(), False),
        (4, "ZZQSC2600004", {"DCP"}, False)]
    assert (disc.mcn, disc.lead_out, disc.complete, disc.toc_string) == ("1234567890128", 8925, True,
                                                                          "1+4+9075+150+3300+6825+8475")
    assert disc.cd_text[0]["disc"] == {"title": "A Sample Disc", "performer": "The Emulated Drive"}
    # The JSON's index points are those of qscan_track_index (struct qscan_index), exact or not.
    class IndexRecord(ctypes.Structure):
        _fields_ = [("number", ctypes.c_int), ("block", ctypes.c_longlong), ("exact", ctypes.c_int),
                    ("earliest_block", ctypes.c_longlong), ("from_toc", ctypes.c_int), ("may_not_exist", ctypes.c_int)]
    record = IndexRecord()
    lib.qscan_track_index.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.POINTER(IndexRecord)]
    for t in disc.tracks:
        for n, index in t.indexes.items():
            assert lib.qscan_track_index(disc._handle, t.number, n, ctypes.byref(record)) == 0
            assert qscan.Index(record.block, bool(record.exact), record.earliest_block) == index
    with pytest.raises(qscan.ScanError) as caught:
        qscan.read_scan(position(1, 0, 0, 150)).cue()  # no index 01
    assert caught.value.result == R.NO_TRACK


class Stop(Exception):
    pass


@pytest.mark.parametrize("how,raised", [(Stop, Stop), (KeyboardInterrupt, KeyboardInterrupt),
                                        ("Ctrl-C", KeyboardInterrupt)], ids=["Stop", "KeyboardInterrupt", "Ctrl-C"])
def test_progress_stops_the_read(how, raised):
    calls = []

    def progress(done, total):
        calls.append(done)
        if len(calls) == 3 and how == "Ctrl-C":
            os.kill(os.getpid(), signal.SIGINT)
        elif len(calls) == 3:
            raise how()

    with pytest.raises(raised):
        qscan.read("D:", full=True, progress=progress)
    assert len(calls) == 3
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    assert qscan.read("D:").json() == json.loads(program("--json", "D:").stdout)


def test_ctrl_c_stops_a_read_without_progress(drive):
    drive(speed="4")  # 300 sectors a second: the sample disc's read would take 16 s
    threading.Timer(0.1, os.kill, (os.getpid(), signal.SIGINT)).start()
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        qscan.read("D:")
    assert time.monotonic() - started < 2


@pytest.mark.parametrize("settings,full", [({}, False), ({}, True), ({"faults": "0:becoming-ready"}, False),
                                           ({"faults": "3100:medium"}, True)])
def test_done_rises_to_total(drive, settings, full):
    drive(**settings)
    calls = []
    qscan.read("D:", full=full, progress=lambda done, total: calls.append((done, total)))
    assert calls and all(0 < total and done <= total for done, total in calls)
    assert [d for d, _ in calls] == sorted(d for d, _ in calls) and calls[-1][0] == calls[-1][1]


def test_a_thousand_reads_free_what_they_take(drive, images):
    drive(disc=images["tiny"])

    def a_round():
        qscan.read("D:", progress=lambda done, total: None).cue()
        with pytest.raises(qscan.ScanError):
            qscan.read_scan(b"hello\n")

    for _ in range(100):
        a_round()
    rss = lambda: int(open("/proc/self/statm").read().split()[1]) * os.sysconf("SC_PAGE_SIZE")  # noqa: E731
    before = rss()
    for _ in range(1000):
        a_round()
    assert rss() - before < 2 << 20


def test_four_reads_in_four_threads(drive, images, reports):
    drive(disc=images["sheet"])
    reads = [lambda: qscan.read("D:"), lambda: qscan.read("D:", full=True, progress=lambda d, t: None),
             lambda: qscan.read_scan(reports["mixed"]), lambda: qscan.read_scan(reports["sample"])]
    want, got, start = [r().json() for r in reads], [None] * 4, threading.Barrier(4)

    def run(i):
        start.wait()
        got[i] = reads[i]().json()

    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == want and len({json.dumps(w) for w in want}) == 4


def test_the_version_is_the_projects():
    assert f'version = "{qscan.__version__}"' in (ROOT / "python/pyproject.toml").read_text()
    assert program("--version").stdout.decode() == f"qscan-sheet {qscan.__version__}\n"


@pytest.mark.parametrize("library,words", [("/nonexistent/libqscan.so.0", "/nonexistent/libqscan.so.0"),
                                           ("libc.so.6", "libc.so.6 is no libqscan")])
def test_a_library_that_cannot_be_used(library, words):
    env = dict(os.environ, QSCAN_LIBRARY=library)
    ran = subprocess.run([sys.executable, "-c", "import qscan"], env=env, capture_output=True, text=True)
    assert ran.returncode != 0 and "ImportError: qscan: " in ran.stderr and words in ran.stderr
