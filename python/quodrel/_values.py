"""What the module hands out: the library's enums, an archive's entries, the events an
operation tells and its totals, and the sentinel that cancels."""

from __future__ import annotations

import enum
from dataclasses import dataclass
from typing import Any, Callable, Optional, Type

from ._native import lib


class ErrorCode(enum.IntEnum):
    """What a call of the library reports (quodrel_error). A code a later library
    adds reaches callers as a plain int."""

    OK = 0
    ARGUMENT = 1
    OPEN = 2
    TABLE_CUT_SHORT = 3
    BAD_NAME_LENGTH = 4
    TOO_DEEP = 5
    NO_MEMORY = 6
    NOT_FOUND = 7
    NOT_A_FILE = 8
    REFUSED = 9
    READ = 10
    INCOMPLETE = 11
    CANCELLED = 12
    DESTINATION = 13
    CREATE = 14
    WRITE = 15
    CHANGED = 16
    LIMIT = 17
    NOT_AN_ARCHIVE = 18
    DESCRIPTORS = 19
    DIFFERENT = 20
    NOT_UPDATED = 21
    LOCKED = 22
    REPLACED = 23

    @property
    def text(self) -> str:
        """The error in a few English words, as the library puts it."""
        return error_text(self.value)


def error_text(code: int) -> str:
    """Any code's words, as the library in use puts them (it knows codes this module
    may not)."""
    return str(lib.quodrel_error_text(code).decode())


class Refusal(enum.IntEnum):
    """Why extraction would not write an entry, or creation leaves a file out;
    WRITTEN (0, false) when nothing is refused."""

    WRITTEN = 0
    UNSAFE_NAME = 1
    NAME_TOO_LONG = 2
    PATH_TOO_LONG = 3
    DATA_OUT_OF_RANGE = 4
    DATA_CUT_SHORT = 5
    NAME_CLASH = 6
    INSIDE = 7
    NAME_NOT_STORABLE = 8
    FILE_TOO_LARGE = 9
    NO_SUCH_ENTRY = 10

    @property
    def text(self) -> str:
        """The refusal in a few English words, as the library puts it."""
        return str(lib.quodrel_refusal_text(self.value).decode())


class EventKind(enum.IntEnum):
    """What an event tells. A kind a later library adds reaches on_event as a plain
    int."""

    BEGIN = 1
    PROGRESS = 2
    ENTRY = 3
    REFUSED = 4
    FAILED = 5
    END = 6
    DIFFERENCE = 7
    COMMIT = 8


class Operation(enum.IntEnum):
    EXTRACT = 1
    EXTRACT_CHOSEN = 2
    CREATE = 3
    LIST = 4
    CHECK = 5
    COMPARE = 6
    UPDATE = 7


class Difference(enum.IntEnum):
    """How an archive and a folder differ at one path (compare)."""

    SAME = 0
    ONLY_IN_ARCHIVE = 1
    ONLY_IN_FOLDER = 2
    DIFFERS = 3


def known(kind: Type[enum.IntEnum], value: int) -> Any:
    """The enum member for `value`, or the plain int for a value a later library added."""
    try:
        return kind(value)
    except ValueError:
        return value


class _Cancel(enum.Enum):
    CANCEL = "CANCEL"

    def __repr__(self) -> str:
        return "quodrel.CANCEL"


# What on_event returns to stop the operation (any other value goes on: a progress
# bar's update() may return True).
CANCEL = _Cancel.CANCEL


@dataclass(frozen=True)
class Entry:
    """One entry of an archive: a folder or a file, at `index` in the archive's order.
    `path` is written as the quodrel program lists it (a folder's without the "/"
    -l prints); `refusal` is WRITTEN unless extraction on this system would refuse
    the entry. zipfile's and tarfile's names for the same things are here too:
    `filename` (a folder's ends in "/"), `name`, `file_size`, is_dir(), isdir() and
    isfile()."""

    index: int
    path: str
    size: int
    is_folder: bool
    refusal: Refusal

    @property
    def filename(self) -> str:
        return self.path + "/" if self.is_folder else self.path

    @property
    def name(self) -> str:
        return self.path

    @property
    def file_size(self) -> int:
        return self.size

    def is_dir(self) -> bool:
        return self.is_folder

    def isdir(self) -> bool:
        return self.is_folder

    def isfile(self) -> bool:
        return not self.is_folder


@dataclass(frozen=True)
class Event:
    """One thing an operation tells (quodrel_event): its `kind`, the entry `index`
    (None when it is about none), the `path` (below `folder` when that is set), and
    the counts; `text` is the event in the quodrel program's own words ("" where
    the program prints nothing). A kind, error or value a later library adds is a
    plain int."""

    kind: EventKind
    operation: Operation
    index: Optional[int]
    path: str
    folder: Optional[str]
    bytes: int
    refusal: Refusal
    error: ErrorCode
    system_error: int
    entries_done: int
    entries_total: int
    bytes_done: int
    bytes_total: int
    files: int
    folders: int
    data_offset: int
    difference: Difference
    differences: int
    text: str


@dataclass(frozen=True)
class Summary:
    """What an operation wrote, stored or compared: its END event's totals."""

    files: int
    folders: int
    bytes: int


# on_event: anything it returns but CANCEL goes on; raising cancels too.
OnEvent = Callable[[Event], object]
