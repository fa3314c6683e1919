"""Read, extract, create, update and compare Quodrel .dat archives.

    import quodrel
    with quodrel.open("maps.dat") as archive:
        for entry in archive:
            print(entry.path, entry.size, entry.refusal.name)
        level = archive.read("maps/level1.map")
        archive.extract("maps/level1.map", "out")     # zipfile's extract(member, path)
    quodrel.create("maps", "new.dat")
    quodrel.create_listed({"maps/level1.map": level, "empty": None}, "made.dat")

An open archive answers as zipfile's and tarfile's do where they overlap: namelist,
getinfo, infolist, `name in archive`, `archive[name]`, extract(member, path),
extractall(path, members), open(name), with tarfile's getnames, getmember,
getmembers and extractfile. Paths on disk are str, bytes or os.PathLike, as open()
takes them; an archive's bytes in memory open with open_bytes.

The module stands on libquodrel.so.2: the copy a wheel carries, the libquodrel2
package's, or the file the environment variable QUODREL_LIBRARY names. Every failure
raises a subclass of quodrel.Error; what an operation did, refused or could not do
reaches `on_event` as Event objects, and `on_event` returning quodrel.CANCEL (or
raising) cancels the operation as an interrupt stops the quodrel program: nothing
half-written is left and an existing archive is kept (a cancel once the work is
done, at a creation's END, changes nothing). Ctrl+C during a call cancels it the
same way and raises KeyboardInterrupt once it has stopped. on_event is called on one
thread at a time, never the main one: a GUI hands what it tells to its own thread.
"""

from __future__ import annotations

from ._archive import Archive, is_archive, open, open_bytes
from ._errors import (
    ArgumentError,
    BadNameLengthError,
    CancelledError,
    ChangedError,
    CreateError,
    DamagedError,
    DescriptorsError,
    DestinationError,
    Error,
    IncompleteError,
    LimitError,
    LockedError,
    ReplacedError,
    NoMemoryError,
    NotAFileError,
    NotAnArchiveError,
    NotFoundError,
    NotUpdatedError,
    OpenError,
    ReadError,
    RefusedError,
    TableCutShortError,
    TooDeepError,
    WriteError,
)
from ._listed import create_listed
from ._operations import compare, create, extract, update
from ._values import (
    CANCEL,
    Difference,
    Entry,
    ErrorCode,
    Event,
    EventKind,
    Operation,
    Refusal,
    Summary,
)
from ._version import LIBRARY_VERSION, __version__

__all__ = [
    "CANCEL",
    "LIBRARY_VERSION",
    "Archive",
    "ArgumentError",
    "BadNameLengthError",
    "CancelledError",
    "ChangedError",
    "CreateError",
    "DamagedError",
    "DescriptorsError",
    "DestinationError",
    "Difference",
    "Entry",
    "Error",
    "ErrorCode",
    "Event",
    "EventKind",
    "IncompleteError",
    "LimitError",
    "LockedError",
    "ReplacedError",
    "NoMemoryError",
    "NotAFileError",
    "NotAnArchiveError",
    "NotFoundError",
    "NotUpdatedError",
    "OpenError",
    "Operation",
    "ReadError",
    "RefusedError",
    "Refusal",
    "Summary",
    "TableCutShortError",
    "TooDeepError",
    "WriteError",
    "__version__",
    "compare",
    "create",
    "create_listed",
    "extract",
    "is_archive",
    "open",
    "open_bytes",
    "update",
]
