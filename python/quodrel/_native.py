"""The C interface of libquodrel.so.2, declared for ctypes: one place that knows the
library's names, structs and enum values, and where the library is loaded from.
Nothing here is meant for callers."""

from __future__ import annotations

import ctypes
import os
import sys
from ctypes import (
    CFUNCTYPE,
    POINTER,
    Structure,
    c_char_p,
    c_int,
    c_int64,
    c_size_t,
    c_uint,
    c_uint64,
    c_void_p,
)
from typing import List, Optional, Tuple

from ._version import LIBRARY_VERSION

# LIBRARY_VERSION as quodrel_version() numbers it.
_MAJOR, _MINOR, _PATCH = (int(part) for part in LIBRARY_VERSION.split("."))
REQUIRED_VERSION = _MAJOR * 10000 + _MINOR * 100 + _PATCH
NO_INDEX = ctypes.c_size_t(-1).value

if sys.platform == "win32":
    _SYSTEM_NAME = "quodrel.dll"
elif sys.platform == "darwin":
    _SYSTEM_NAME = "libquodrel.2.dylib"
else:
    _SYSTEM_NAME = "libquodrel.so.2"
ENVIRONMENT = "QUODREL_LIBRARY"


class Event(Structure):
    _fields_ = [
        ("size", c_size_t),
        ("kind", c_int),
        ("operation", c_int),
        ("index", c_size_t),
        ("path", c_char_p),
        ("folder", c_char_p),
        ("bytes", c_int64),
        ("refusal", c_int),
        ("error", c_int),
        ("system_error", c_int),
        ("entries_done", c_int64),
        ("entries_total", c_int64),
        ("bytes_done", c_int64),
        ("bytes_total", c_int64),
        ("files", c_int64),
        ("folders", c_int64),
        ("data_offset", c_int64),
        ("difference", c_int),
        ("differences", c_int64),
    ]


ON_EVENT = CFUNCTYPE(c_int, c_void_p, POINTER(Event))
READ_AT = CFUNCTYPE(c_int64, c_void_p, c_void_p, c_size_t, c_uint64)
WRITE = CFUNCTYPE(c_int, c_void_p, c_void_p, c_size_t)


class ListedEntry(Structure):
    _fields_ = [
        ("path", c_char_p),
        ("is_folder", c_int),
        ("size", c_uint64),
        ("context", c_void_p),
    ]


class Options(Structure):
    _fields_ = [
        ("size", c_size_t),
        ("threads", c_uint),
        ("on_event", ON_EVENT),
        ("context", c_void_p),
        ("outputs", c_void_p),
    ]


ARCHIVE = c_void_p
_SIGNATURES = {  # (quodrel_version first: a file without it is no libquodrel at all)
    "quodrel_version": (c_uint, []),
    "quodrel_error_text": (c_char_p, [c_int]),
    "quodrel_refusal_text": (c_char_p, [c_int]),
    "quodrel_open": (c_int, [c_char_p, c_uint, POINTER(ARCHIVE)]),
    "quodrel_open_memory": (c_int, [c_void_p, c_size_t, c_char_p, c_uint, POINTER(ARCHIVE)]),
    "quodrel_open_reader": (
        c_int,
        [READ_AT, c_uint64, c_void_p, c_char_p, c_uint, POINTER(ARCHIVE)],
    ),
    "quodrel_close": (None, [ARCHIVE]),
    "quodrel_has_magic": (c_int, [ARCHIVE]),
    "quodrel_entry_count": (c_size_t, [ARCHIVE]),
    "quodrel_entry_path": (c_size_t, [ARCHIVE, c_size_t, c_void_p, c_size_t]),
    "quodrel_entry_size": (c_int64, [ARCHIVE, c_size_t]),
    "quodrel_entry_is_folder": (c_int, [ARCHIVE, c_size_t]),
    "quodrel_entry_refusal": (c_int, [ARCHIVE, c_size_t]),
    "quodrel_find": (c_int, [ARCHIVE, c_char_p, POINTER(c_size_t)]),
    "quodrel_read": (c_int, [ARCHIVE, c_size_t, c_uint64, c_void_p, c_size_t, POINTER(c_size_t)]),
    "quodrel_event_text": (c_size_t, [POINTER(Event), c_void_p, c_size_t]),
    "quodrel_extract": (
        c_int,
        [c_char_p, c_char_p, POINTER(c_char_p), c_size_t, POINTER(Options)],
    ),
    "quodrel_extract_archive": (
        c_int,
        [ARCHIVE, c_char_p, POINTER(c_char_p), c_size_t, POINTER(Options)],
    ),
    "quodrel_options_init": (None, [POINTER(Options)]),
    "quodrel_create": (c_int, [c_char_p, c_char_p, POINTER(Options)]),
    "quodrel_create_listed": (
        c_int,
        [POINTER(ListedEntry), c_size_t, READ_AT, WRITE, c_void_p, c_char_p, POINTER(Options)],
    ),
    "quodrel_update": (c_int, [c_char_p, c_char_p, POINTER(Options)]),
    "quodrel_compare": (c_int, [ARCHIVE, c_char_p, POINTER(Options)]),
    "quodrel_check": (c_int, [ARCHIVE, POINTER(Options)]),
}


def _candidates() -> List[Tuple[str, str]]:
    """Where the library is looked for, in order, each with what to say when it fails:
    the file QUODREL_LIBRARY names (a build tree's), the copy a wheel carries beside
    this file, then the system's, found as the loader finds it (the libquodrel2
    package)."""
    given = os.environ.get(ENVIRONMENT)
    if given:
        return [(given, f"{ENVIRONMENT} names {given!r}")]
    found = []
    carried = os.path.join(os.path.dirname(os.path.abspath(__file__)), _SYSTEM_NAME)
    if os.path.exists(carried):
        found.append((carried, "the copy the module carries"))
    found.append(
        (_SYSTEM_NAME, f"install the libquodrel2 package, or set {ENVIRONMENT} to the path of {_SYSTEM_NAME}")
    )
    return found


def _load() -> ctypes.CDLL:
    """The library, declared: the first of _candidates() that loads, or an ImportError
    that says what to do."""
    library: Optional[ctypes.CDLL] = None
    failure = ""
    for name, advice in _candidates():
        try:
            library = ctypes.CDLL(name)
            break
        except OSError as error:
            failure = f"quodrel: cannot load the library {name} ({error}); {advice}"
    if library is None:
        raise ImportError(failure)
    for function, (result, arguments) in _SIGNATURES.items():
        try:
            call = getattr(library, function)
        except AttributeError:
            what = (
                "is no libquodrel" if function == "quodrel_version" else f"is older than libquodrel {LIBRARY_VERSION}"
            )
            raise ImportError(f"quodrel: {name} has no {function}: it {what}") from None
        call.restype = result
        call.argtypes = arguments
    version = library.quodrel_version()
    if version // 10000 != REQUIRED_VERSION // 10000 or version < REQUIRED_VERSION:
        raise ImportError(
            f"quodrel: {name} is libquodrel {version // 10000}.{version // 100 % 100}.{version % 100}, "
            f"the module needs {LIBRARY_VERSION} or a later {_MAJOR}.x"
        )
    return library


lib = _load()
