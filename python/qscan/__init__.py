# qscan for Python: a compact disc's sheet (ISRCs, index points, flags, disc
# IDs, CD-Text) from a drive or a saved scan, over libqscan through ctypes.
"""A compact disc's sheet, as qscan-sheet gives it.

    import qscan
    disc = qscan.read("D:")            # on Linux also "/dev/sr0"
    for track in disc.tracks:
        print(track.number, track.isrc)
    print(disc.musicbrainz_id)

read() reads a drive, read_scan() a saved scan (qscan -r's report). A Disc's
attributes are taken from the sheet's JSON form (Disc.json(), the object
qscan-sheet --json prints), so that they and every form agree by
construction; its other forms (text(), cue(), svg(), toc_file()) are the
program's output, byte for byte once encoded as UTF-8 with
errors="surrogateescape".

The library is found through QSCAN_LIBRARY (its path), else the system's
loader (libqscan.so.0, qscan.dll). Every call may come from any thread: the
library's calls let go of the interpreter while they work.
"""
import enum
import json as _json
import os
import signal
import threading
import weakref
from ctypes import byref, c_char, c_size_t, c_void_p, string_at
from dataclasses import dataclass, field
from typing import Callable, Dict, FrozenSet, List, NamedTuple, Optional

from . import _native

__all__ = ["read", "read_scan", "Disc", "Track", "Index", "Form", "Error", "DriveError", "ScanError", "Result"]

__version__ = _native.lib.qscan_version().decode("ascii")

_lib = _native.lib
_DEFAULT_IMAGE = "disc.bin"


class Result(enum.IntEnum):
    """qscan_result: what a failed call of the library says it was."""
    OK = 0
    ARGUMENT = 1
    OPEN = 2
    READ = 3
    DISC_CHANGED = 4
    DISC_GONE = 5
    STOPPED = 6
    SCAN = 7
    INPUT = 8
    NOT_RAW = 9
    NO_TRACK = 10
    MEMORY = 11
    INTERNAL = 12


class Error(Exception):
    """Why there is no disc or form: str() is the library's message, then the
    drive's or the system's own words (detail) on the lines after it.
    `result` is a Result (None for a failure of the module's own), `notes`
    the lines a failed read said on its way (qscan_note_fn)."""

    def __init__(self, message, detail="", result=None, notes=()):
        super().__init__(message)
        self.message, self.detail, self.result, self.notes = message, detail, result, list(notes)

    def __str__(self):
        return self.message + ("\n" + self.detail if self.detail else "")


class DriveError(Error, OSError):
    """The drive could not be opened or read, or its disc changed or went.
    `sense` is the drive's (key, asc, ascq) or None, `block` the block it is
    about or None, `errno` the system's error number or None."""

    def __init__(self, message, detail="", result=None, notes=(), sense=None, block=None, errno=None):
        Error.__init__(self, message, detail, result, notes)
        self.sense, self.block, self.errno = sense, block, errno


class ScanError(Error, ValueError):
    """A saved scan that is no qscan -r report, cannot be read (`errno`), or
    whose sheet has no disc in it. `line` is the report's line it is about,
    or None."""

    def __init__(self, message, detail="", result=None, notes=(), line=None, errno=None):
        Error.__init__(self, message, detail, result, notes)
        self.line, self.errno = line, errno


_DRIVE_RESULTS = {Result.OPEN, Result.READ, Result.DISC_CHANGED, Result.DISC_GONE}
_SCAN_RESULTS = {Result.SCAN, Result.INPUT, Result.NOT_RAW, Result.NO_TRACK}


def _text(raw: bytes) -> str:
    return raw.decode("utf-8", "surrogateescape")


def _error(record, notes=()):
    """The exception a qscan_error record says."""
    try:
        result = Result(record.result)
    except ValueError:  # a result of a later interface
        result = record.result
    words = dict(message=_text(record.message), detail=_text(record.detail), result=result, notes=notes)
    errno = record.system_error or None
    if result in _DRIVE_RESULTS:
        sense = (record.sense_key, record.asc, record.ascq) if record.has_sense else None
        return DriveError(**words, sense=sense, block=record.block if record.block >= 0 else None, errno=errno)
    if result in _SCAN_RESULTS:
        return ScanError(**words, line=record.line if record.line >= 0 else None, errno=errno)
    return Error(**words)


@dataclass(frozen=True)
class Index:
    """An index point: its first block; whether that is known to the block;
    when not, the earliest block it may begin at (when exact, the block)."""
    block: int
    exact: bool
    earliest_block: int


@dataclass(frozen=True)
class Track:
    """A track: its ISRC by majority (None for none), whether it is a data
    track, its flags ("DCP", "PRE", "4CH") and its index points by number
    (0, the pregap, to 99)."""
    number: int
    isrc: Optional[str]
    data: bool
    flags: FrozenSet[str]
    indexes: Dict[int, Index] = field(hash=False)


class Form(NamedTuple):
    """A form of the sheet, and what it cannot say, as the lines that
    qscan-sheet puts on standard error after its name."""
    text: str
    notes: List[str]


def _lines(raw: bytes) -> List[str]:
    """Lines parted by '\n', as the library hands them out."""
    return [line for line in _text(raw).split("\n") if line]


class Disc:
    """A disc's sheet. Its attributes come from the sheet's JSON form, read
    once: `tracks` (Tracks, in order); `mcn` (the catalogue number the most
    frames carry) and `lead_out` (its first block), None where the sheet
    has none; `complete` (every block the sheet needs, to the lead-out);
    `musicbrainz_id`, `musicbrainz_url`, `toc_string` (MusicBrainz's TOC
    as in that address, "1+4+9075+150+..."), `freedb_id`, `accuraterip_file`
    (None when the sheet cannot give them, ids_missing_why in json() says
    why); `cd_text` (the CD-Text's blocks, as in json()); `notes` (what the
    read said a person should know); `unreadable` (blocks the sheet needed
    could not be read: the sheet lists them). A code is as the JSON form
    gives it: a byte no UTF-8 text has is U+FFFD. A Disc does not change
    and may be used from several threads at once."""

    def __init__(self, handle: int):
        """Takes a qscan_disc of the library's, freed when the Disc goes."""
        self._handle = handle
        self._free = weakref.finalize(self, _lib.qscan_disc_free, handle)
        self._json_text = self.form("json").text
        sheet = _json.loads(self._json_text)
        self.tracks = [Track(number=t["number"],
                             isrc=t["isrc"]["code"] if t["isrc"] else None,
                             data=t["data"],
                             flags=frozenset(t["flags"]),
                             indexes={i["number"]: Index(i["block"], i["exact"], i["earliest_block"])
                                      for i in t["indexes"]})
                       for t in sheet["tracks"]]
        self.mcn = sheet["mcn"]["code"] if sheet["mcn"] else None
        self.lead_out = sheet["lead_out"]
        self.complete = sheet["complete"]
        ids = sheet["ids"] or {}
        self.musicbrainz_id = ids.get("musicbrainz")
        self.musicbrainz_url = ids.get("musicbrainz_url")
        self.toc_string = ids.get("musicbrainz_toc")
        self.freedb_id = ids.get("freedb")
        self.accuraterip_file = ids["accuraterip"]["file"] if ids else None
        self.cd_text = sheet["cd_text"]["blocks"] if sheet["cd_text"] else []
        self.notes = _lines(_lib.qscan_disc_notes(handle))
        self.unreadable = bool(_lib.qscan_disc_unreadable(handle))

    def __repr__(self):
        return (f"<qscan.Disc of {len(self.tracks)} tracks, lead-out {self.lead_out}, mcn {self.mcn}, "
                f"MusicBrainz {self.musicbrainz_id}>")

    def form(self, kind: str, image: str = _DEFAULT_IMAGE) -> Form:
        """The sheet as "text", "cue", "json", "svg" or "toc" (a TOC file),
        as qscan-sheet writes it; `image` names the image a cue sheet or TOC
        file is for. Error (Result.ARGUMENT) for a form the loaded library
        does not know, ScanError (Result.NO_TRACK) for a cue sheet or TOC
        file of a disc with no track whose index 01 was seen."""
        if kind not in _native.FORMS:
            raise ValueError(f"qscan: no form {kind!r} (forms: {', '.join(_native.FORMS)})")
        text, length, notes, record = c_void_p(), c_size_t(), c_void_p(), _native.ErrorRecord()
        rc = _lib.qscan_disc_form(self._handle, _native.FORMS[kind], _c_path(image), byref(text),
                                  byref(length), byref(notes), byref(record))
        if rc != Result.OK:
            raise _error(record)
        try:
            return Form(_text(string_at(text, length.value)), _lines(string_at(notes)))
        finally:
            _lib.qscan_free(text)
            _lib.qscan_free(notes)

    def json(self) -> dict:
        """The object qscan-sheet --json prints, new each call."""
        return _json.loads(self._json_text)

    def text(self) -> str:
        """The sheet for a person, as qscan-sheet prints it."""
        return self.form("text").text

    def cue(self, image: str = _DEFAULT_IMAGE) -> str:
        """A cue sheet for an image of the disc from block 0 (what it cannot
        say: form("cue", image).notes)."""
        return self.form("cue", image).text

    def svg(self) -> str:
        """A picture of the disc."""
        return self.form("svg").text

    def toc_file(self, image: str = _DEFAULT_IMAGE) -> str:
        """A TOC file for an image of the disc; Error where the loaded
        library has no such form."""
        return self.form("toc", image).text


class _Interrupted:
    """Ctrl-C during a read in the main thread: heard, and the read stopped
    at its next progress call, where Python would otherwise raise
    KeyboardInterrupt outside any handler and lose it."""

    def __init__(self):
        self.heard = False
        self._previous = None

    def __enter__(self):
        if (threading.current_thread() is threading.main_thread()
                and signal.getsignal(signal.SIGINT) is signal.default_int_handler):
            self._previous = signal.signal(signal.SIGINT, self._hear)
        return self

    def _hear(self, signum, frame):
        self.heard = True

    def __exit__(self, *exc):
        if self._previous is not None:
            signal.signal(signal.SIGINT, self._previous)


def read(device: "str | os.PathLike" = "D:", *, full: bool = False,
         progress: Optional[Callable[[int, int], object]] = None) -> Disc:
    """Reads the disc in a drive: "D:" (a letter and its colon) or, on Linux,
    the path of its node ("/dev/sr0"); `full` reads every block, not only
    those the sheet needs. progress(done, total) is called as blocks are
    read, `done` rising to `total` (which grows where the read needs more
    than it planned), from the thread that called read(); not before blocks
    are planned (while the drive becomes ready and its table of contents is
    read, both would be 0). What it raises stops the read and comes out of
    read(), as does Ctrl-C. DriveError when the drive cannot be opened or
    read or its disc changes or goes; blocks it cannot read are in the
    sheet (Disc.unreadable)."""
    failure = []  # what progress raised
    notes = []
    with _Interrupted() as interrupted:
        def on_progress(context, done, total, what):
            if failure or interrupted.heard:
                return 1
            if total == 0:  # the drive becoming ready, its table of contents: no block planned yet
                return 0
            try:
                if progress is not None:
                    progress(done, total)
            except BaseException as e:
                failure.append(e)
                return 1
            return 1 if interrupted.heard else 0

        def on_note(context, line):
            notes.append(_text(line))

        handle, record = c_void_p(), _native.ErrorRecord()
        rc = _lib.qscan_read_drive(_c_path(device), _native.READ_FULL if full else 0,
                                   _native.PROGRESS_FN(on_progress), _native.NOTE_FN(on_note), None, byref(handle),
                                   byref(record))
    disc = Disc(handle.value) if rc == Result.OK else None
    if failure:
        try:
            raise failure[0]
        finally:
            del failure[:]
    if interrupted.heard:
        raise KeyboardInterrupt
    if disc is None:
        raise _error(record, notes)
    return disc


def _c_path(path) -> bytes:
    """A path as the C library takes it; ValueError for one with a NUL
    byte, which C would cut short there (as open() refuses it)."""
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("qscan: embedded null byte in " + repr(path))
    return encoded


def read_scan(source) -> Disc:
    """The sheet of a saved scan (qscan -r's report): a path (str or
    os.PathLike), the report's bytes (bytes, bytearray, memoryview), or a
    binary file object holding it, read to its end. ScanError when it is
    no such report or cannot be read."""
    handle, record = c_void_p(), _native.ErrorRecord()
    if isinstance(source, (str, os.PathLike)):
        rc = _lib.qscan_read_scan_file(_c_path(source), byref(handle), byref(record))
    else:
        if hasattr(source, "read"):
            source = source.read()
            if isinstance(source, str):
                raise TypeError("qscan.read_scan: a file object opened in binary, not text, mode")
        data = memoryview(source)
        if not data.c_contiguous:
            data = memoryview(data.tobytes())
        data = data.cast("B")
        if isinstance(source, bytes):
            buffer = source
        elif data.readonly:
            buffer = data.tobytes()
        else:
            buffer = (c_char * len(data)).from_buffer(data)  # the caller's bytes, not a copy
        rc = _lib.qscan_read_scan_memory(buffer, len(data), byref(handle), byref(record))
    if rc != Result.OK:
        raise _error(record)
    return Disc(handle.value)


def _emulated_reload():
    """libqscan-emu's drive D: loaded anew from the QSCAN_EMULATED_*
    variables of os.environ (for the tests); Error with any other library,
    or when the variables are wrong (the library says why on stderr)."""
    reload = getattr(_lib, "qscan_emulated_reload", None)
    if reload is None:
        raise Error("qscan: the loaded library is not libqscan-emu")
    if reload() != 0:
        raise Error("qscan: the emulated drive refused its QSCAN_EMULATED_* variables (see standard error)")
