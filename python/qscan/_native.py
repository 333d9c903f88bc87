# libqscan through ctypes: where the library is found, the records and
# prototypes of qscan.h (interface version 1) that the module calls.
import ctypes
import ctypes.util
import os
import sys

from ctypes import POINTER, c_char, c_char_p, c_int, c_longlong, c_size_t, c_ubyte, c_uint, c_ulonglong, c_void_p

API_VERSION = 1  # the least qscan_api_version() this module works with

READ_FULL = 1
# The forms of qscan_disc_form, by the name the module gives them.
FORMS = {"text": 0, "cue": 1, "json": 2, "svg": 3, "toc": 4}


class ErrorRecord(ctypes.Structure):
    """struct qscan_error."""
    _fields_ = [
        ("result", c_int),
        ("has_sense", c_int),
        ("sense_key", c_ubyte),
        ("asc", c_ubyte),
        ("ascq", c_ubyte),
        ("block", c_longlong),
        ("line", c_longlong),
        ("system_error", c_int),
        ("message", c_char * 1024),
        ("detail", c_char * 512),
    ]


PROGRESS_FN = ctypes.CFUNCTYPE(c_int, c_void_p, c_ulonglong, c_ulonglong, c_char_p)
NOTE_FN = ctypes.CFUNCTYPE(None, c_void_p, c_char_p)

_PROTOTYPES = {
    "qscan_api_version": (c_int, []),
    "qscan_version": (c_char_p, []),
    "qscan_read_drive": (c_int, [c_char_p, c_uint, PROGRESS_FN, NOTE_FN, c_void_p, POINTER(c_void_p),
                                 POINTER(ErrorRecord)]),
    "qscan_read_scan_file": (c_int, [c_char_p, POINTER(c_void_p), POINTER(ErrorRecord)]),
    "qscan_read_scan_memory": (c_int, [c_void_p, c_size_t, POINTER(c_void_p), POINTER(ErrorRecord)]),
    "qscan_disc_free": (None, [c_void_p]),
    "qscan_free": (None, [c_void_p]),
    "qscan_disc_notes": (c_char_p, [c_void_p]),
    "qscan_disc_unreadable": (c_int, [c_void_p]),
    "qscan_disc_form": (c_int, [c_void_p, c_int, c_char_p, POINTER(c_void_p), POINTER(c_size_t), POINTER(c_void_p),
                                POINTER(ErrorRecord)]),
}


def _candidates():
    """Where to look, in order. A path in QSCAN_LIBRARY is the one meant:
    nothing else is tried when it is set."""
    given = os.environ.get("QSCAN_LIBRARY")
    if given:
        return [given]
    names = []
    found = ctypes.util.find_library("qscan")
    if found:
        names.append(found)
    names.append("qscan.dll" if sys.platform == "win32" else "libqscan.so.0")
    return names


def load():
    """The library with its prototypes set; ImportError saying what was
    tried when there is none, or one too old."""
    tried = []
    for name in _candidates():
        try:
            lib = ctypes.CDLL(name)
        except OSError as e:
            tried.append(f"{name} ({e})")
            continue
        try:
            for function, (restype, argtypes) in _PROTOTYPES.items():
                f = getattr(lib, function)
                f.restype, f.argtypes = restype, argtypes
        except AttributeError as e:
            raise ImportError(f"qscan: {name} is no libqscan: {e}") from None
        if lib.qscan_api_version() < API_VERSION:
            raise ImportError(f"qscan: {name} has interface version {lib.qscan_api_version()}; "
                              f"this module needs {API_VERSION} or later")
        return lib
    raise ImportError("qscan: cannot load libqscan; set QSCAN_LIBRARY to its path. Tried: " + "; ".join(tried))


lib = load()
