"""Read, extract, create, update and compare Quodrel .dat archives.

    import quodrel
    with quodrel.open("maps.dat") as archive:
        for entry in archive:
            print(entry.path, entry.size, entry.refusal.name)
        level = archive.read("maps/level1.map")
    quodrel.create("maps", "new.dat")

The module stands on libquodrel.so.2 (the libquodrel2 package), or on the file the
environment variable QUODREL_LIBRARY names. Every failure raises a subclass of
quodrel.Error; what an operation did, refused or could not do reaches `on_event` as
Event objects, and `on_event` returning True (or raising) cancels the operation as
an interrupt stops the quodrel program: nothing half-written is left and an existing
archive is kept (a cancel once the work is done, at a creation's END, changes nothing).
Ctrl+C during a call cancels it the same way and raises KeyboardInterrupt once it has
stopped.
"""

from __future__ import annotations

import ctypes
import enum
import io
import os
import stat
import threading
import _thread
from dataclasses import dataclass
from typing import (
    IO,
    Any,
    Callable,
    Dict,
    Iterator,
    List,
    Optional,
    Sequence,
    Type,
    TypeVar,
    Union,
)

from . import _native
from ._native import NO_INDEX, lib

__version__ = "2.2.0"

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_T = TypeVar("_T")
_MOST = (1 << 64) - 1  # the largest offset, index or count the C interface takes
Source = Union[PathLike, bytes, bytearray, memoryview, IO[bytes]]


class ErrorCode(enum.IntEnum):
    """What a call of the library reports (quodrel_error)."""

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

    @property
    def text(self) -> str:
        """The error in a few English words, as the library puts it."""
        return str(lib.quodrel_error_text(self.value).decode())


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
    BEGIN = 1
    PROGRESS = 2
    ENTRY = 3
    REFUSED = 4
    FAILED = 5
    END = 6
    DIFFERENCE = 7


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


def _text(raw: bytes) -> str:
    # Names are UTF-8; one that is not (an older Windows writer's) still round-trips.
    return raw.decode("utf-8", "surrogateescape")


def _argument(detail: str, path: Optional[str] = None) -> "Error":
    return _error(ErrorCode.ARGUMENT, path, detail=detail)


def _no_nul(raw: bytes, given: Any) -> bytes:
    # C ends a string at its first NUL: a path holding one would name another path.
    if b"\0" in raw:
        raise _argument(f"a path holding a NUL character: {given!r}")
    return raw


def _name(text: Union[str, bytes]) -> bytes:
    """An entry's path as the library takes it: UTF-8 (a str), or bytes as they are."""
    if isinstance(text, bytes):
        return _no_nul(text, text)
    if not isinstance(text, str):
        raise _argument(f"a path is a str or bytes, not {type(text).__name__}")
    try:
        return _no_nul(text.encode("utf-8", "surrogateescape"), text)
    except UnicodeEncodeError:
        raise _argument(f"a path that UTF-8 cannot hold: {text!r}") from None


def _fs(path: PathLike) -> bytes:
    """A path on disk as the system takes it."""
    try:
        raw = os.fsencode(path)
    except (TypeError, UnicodeEncodeError):
        raise _argument(f"not a path: {path!r}") from None
    return _no_nul(raw, path)


def _whole(value: Any, what: str, most: int = _MOST) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= most:
        raise _argument(f"{what} must be a whole number from 0 to {most}, not {value!r}")
    return value


def _off_main(call: Callable[[], _T], stop: Callable[[BaseException], None]) -> _T:
    """Runs a library call that calls back into Python. Python runs signal handlers
    (Ctrl+C's KeyboardInterrupt) on the main thread, at any line, also inside a
    callback, where ctypes would swallow the exception and hand the library a garbage
    result. So on the main thread the call runs on a thread of its own while the main
    thread waits: an exception a handler raises there stops the call through `stop`
    (the callbacks then cancel, or fail the read), and is raised once it has returned."""
    if threading.current_thread() is not threading.main_thread():
        return call()
    outcome: List[Any] = []
    # The worker releases `finished` once `outcome` holds its result. (A plain lock: an
    # exception that interrupts Thread.join or Event.wait can leave them wrong: a
    # running thread taken for ended, a condition's lock released twice.)
    finished = _thread.allocate_lock()
    finished.acquire()

    def work() -> None:
        try:
            outcome.append((True, call()))
        except BaseException as error:  # noqa: B902 - handed to the waiting thread
            outcome.append((False, error))
        finally:
            finished.release()

    worker = threading.Thread(target=work, name="quodrel call")
    interrupted: Optional[BaseException] = None
    while not outcome:
        try:
            if worker.ident is None:
                worker.start()
            finished.acquire()
        except BaseException as error:  # noqa: B902 - a signal handler's, told to the call
            if interrupted is None:
                interrupted = error
                stop(error)
            if worker.ident is None:
                raise  # it never started
    if interrupted is not None:
        raise interrupted
    done, value = outcome[0]
    if not done:
        raise value
    return value  # type: ignore[no-any-return]


def _enum(kind: Type[enum.IntEnum], value: int) -> Any:
    try:
        return kind(value)
    except ValueError:  # a value a later library added
        return value


@dataclass(frozen=True)
class Entry:
    """One entry of an archive: a folder or a file, at `index` in the archive's order.
    `path` is written as the quodrel program lists it; `refusal` is WRITTEN unless
    extraction on this system would refuse the entry."""

    index: int
    path: str
    size: int
    is_folder: bool
    refusal: Refusal


@dataclass(frozen=True)
class Event:
    """One thing an operation tells (quodrel_event): its `kind`, the entry `index`
    (None when it is about none), the `path` (below `folder` when that is set), and
    the counts; `text` is the event in the quodrel program's own words ("" where
    the program prints nothing)."""

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


class Error(Exception):
    """Every failure the module reports. `code` is the library's error, `path` the
    file, folder or entry it concerns (or None), and `problems` the REFUSED and
    FAILED events the operation told before it ended."""

    code = ErrorCode.ARGUMENT

    def __init__(
        self,
        message: str,
        path: Optional[str] = None,
        problems: Sequence[Event] = (),
        code: Optional[ErrorCode] = None,
    ):
        super().__init__(message)
        self.path = path
        self.problems: List[Event] = list(problems)
        if code is not None:
            self.code = code


class ArgumentError(Error, ValueError, TypeError):
    code = ErrorCode.ARGUMENT


class OpenError(Error, OSError):
    code = ErrorCode.OPEN


class DamagedError(Error):
    """The archive's table is damaged (cut short, a bad name length, too deep)."""


class TableCutShortError(DamagedError):
    code = ErrorCode.TABLE_CUT_SHORT


class BadNameLengthError(DamagedError):
    code = ErrorCode.BAD_NAME_LENGTH


class TooDeepError(DamagedError):
    code = ErrorCode.TOO_DEEP


class NoMemoryError(Error, MemoryError):
    code = ErrorCode.NO_MEMORY


class NotFoundError(Error, KeyError):
    code = ErrorCode.NOT_FOUND

    def __str__(self) -> str:  # KeyError would quote the message
        return str(self.args[0])


class NotAFileError(Error):
    code = ErrorCode.NOT_A_FILE


class RefusedError(Error):
    """Extraction refuses the entry: `entry` is the refused entry that tells why
    (the entry itself, or the refused folder it lies in), `refusal` its refusal."""

    code = ErrorCode.REFUSED
    entry: Optional[Entry] = None

    @property
    def refusal(self) -> Refusal:
        return self.entry.refusal if self.entry else Refusal.WRITTEN


class ReadError(Error, OSError):
    code = ErrorCode.READ


class IncompleteError(Error):
    """The operation went through, but something was refused, left out or not
    written: `problems` tells what, `summary` what was done."""

    code = ErrorCode.INCOMPLETE
    summary: Optional[Summary] = None


class CancelledError(Error):
    """on_event asked to stop: nothing half-written is left, an existing archive is kept."""

    code = ErrorCode.CANCELLED


class DestinationError(Error, OSError):
    code = ErrorCode.DESTINATION


class CreateError(Error, OSError):
    code = ErrorCode.CREATE


class WriteError(Error, OSError):
    code = ErrorCode.WRITE


class ChangedError(Error):
    code = ErrorCode.CHANGED


class LimitError(Error):
    code = ErrorCode.LIMIT


class NotAnArchiveError(Error):
    code = ErrorCode.NOT_AN_ARCHIVE


class DescriptorsError(Error, OSError):
    code = ErrorCode.DESCRIPTORS


class NotUpdatedError(Error):
    """The archive is not sound (damage, or an entry extraction refuses): it is left
    as it is."""

    code = ErrorCode.NOT_UPDATED


_ERRORS: Dict[int, Type[Error]] = {
    cls.code: cls
    for cls in (
        ArgumentError,
        OpenError,
        TableCutShortError,
        BadNameLengthError,
        TooDeepError,
        NoMemoryError,
        NotFoundError,
        NotAFileError,
        RefusedError,
        ReadError,
        IncompleteError,
        CancelledError,
        DestinationError,
        CreateError,
        WriteError,
        ChangedError,
        LimitError,
        NotAnArchiveError,
        DescriptorsError,
        NotUpdatedError,
    )
}


def _error(
    code: int, path: Optional[str], problems: Sequence[Event] = (), detail: str = ""
) -> Error:
    kind = _ERRORS.get(code, Error)
    known = _enum(ErrorCode, code)
    words = known.text if isinstance(known, ErrorCode) else f"error {code}"
    message = f"{words}: {path}" if path else words
    if detail:
        message += f" ({detail})"
    elif problems and problems[0].text:
        message += f" ({problems[0].text.strip()})"
    return kind(message, path, problems, code=known if isinstance(known, ErrorCode) else None)


def _event(raw: "_native.Event") -> Event:
    length = lib.quodrel_event_text(ctypes.byref(raw), None, 0)
    buffer = ctypes.create_string_buffer(length + 1)
    lib.quodrel_event_text(ctypes.byref(raw), buffer, length + 1)
    return Event(
        kind=_enum(EventKind, raw.kind),
        operation=_enum(Operation, raw.operation),
        index=None if raw.index == NO_INDEX else raw.index,
        path=_text(raw.path or b""),
        folder=None if raw.folder is None else os.fsdecode(raw.folder),
        bytes=raw.bytes,
        refusal=_enum(Refusal, raw.refusal),
        error=_enum(ErrorCode, raw.error),
        system_error=raw.system_error,
        entries_done=raw.entries_done,
        entries_total=raw.entries_total,
        bytes_done=raw.bytes_done,
        bytes_total=raw.bytes_total,
        files=raw.files,
        folders=raw.folders,
        data_offset=raw.data_offset,
        difference=_enum(Difference, raw.difference),
        differences=raw.differences,
        text=buffer.raw[:length].decode("utf-8", "replace"),
    )


OnEvent = Callable[[Event], Optional[bool]]


# The events an operation's result is made of, made into Events even when no on_event
# wants them.
_KEPT = frozenset((EventKind.REFUSED, EventKind.FAILED, EventKind.DIFFERENCE, EventKind.END))


class _Run:
    """One operation's events: handed to on_event, and kept where the result needs
    them (problems, differences, the totals). on_event returning true, or raising,
    cancels the operation; what it raised is raised again when the call returns."""

    def __init__(self, on_event: Optional[OnEvent], threads: int, archive: Optional["Archive"] = None):
        _whole(threads, "threads", 0xFFFFFFFF)
        if on_event is not None and not callable(on_event):
            raise _argument(f"on_event must be callable, not {on_event!r}")
        self.on_event = on_event
        self.reader = archive._reader if archive is not None else None
        self.problems: List[Event] = []
        self.differences: List[Event] = []
        self.end: Optional[Event] = None
        self.raised: Optional[BaseException] = None
        self.cancelled = False
        self.callback = _native.ON_EVENT(self._told)
        self.options = _native.Options(
            ctypes.sizeof(_native.Options), min(threads, 1 << 20), self.callback, None, None
        )

    def _told(self, _context: Any, raw: Any) -> int:
        try:
            if self.raised is not None or (self.reader and self.reader.interrupt):
                return 1
            told = raw.contents
            if self.on_event is None and told.kind not in _KEPT:
                return 0  # (progress and entries: one of each per entry, wanted by no one)
            event = _event(told)
            if event.kind in (EventKind.REFUSED, EventKind.FAILED):
                self.problems.append(event)
            elif event.kind == EventKind.DIFFERENCE:
                self.differences.append(event)
            elif event.kind == EventKind.END:
                self.end = event
            if self.on_event is not None and self.on_event(event):
                self.cancelled = True
                return 1
            return 0
        except BaseException as raised:  # noqa: B902 - it must not cross the C call
            self.raised = raised
            return 1

    def stop(self, error: BaseException) -> None:
        if self.raised is None:
            self.raised = error

    def call(self, function: Callable[[], int]) -> int:
        """Runs the library's call with this run's callback (see _off_main)."""
        return _off_main(function, self.stop)

    def summary(self) -> Summary:
        end = self.end
        return Summary(end.files, end.folders, end.bytes_done) if end else Summary(0, 0, 0)

    def finish(self, code: int, path: Optional[str], allowed: Sequence[int] = ()) -> Summary:
        """Raises what the operation's result says, or gives its totals."""
        if self.reader is not None:
            self.reader.raise_interrupt()
        if self.raised is not None:
            raise self.raised
        if code == ErrorCode.OK or code in allowed:
            return self.summary()
        where = path
        failed = [event for event in self.problems if event.kind == EventKind.FAILED]
        if failed and code != ErrorCode.INCOMPLETE:
            first = failed[0]
            where = os.path.join(first.folder, first.path) if first.folder else first.path
        error = _error(code, where, self.problems)
        if isinstance(error, IncompleteError):
            error.summary = self.summary()
        raise error


def _plain_file(stream: Any) -> bool:
    """Whether the object reads a regular file through its descriptor as it is (not a
    decompressing or otherwise transforming stream over one)."""
    raw = stream.raw if isinstance(stream, (io.BufferedReader, io.BufferedRandom)) else stream
    try:
        return isinstance(raw, io.FileIO) and stat.S_ISREG(os.fstat(raw.fileno()).st_mode)
    except (OSError, ValueError):
        return False


class _Reader:
    """A binary file object as an archive. A plain file is read at offsets through a
    descriptor of the archive's own (a copy: the caller may close theirs); anything else
    by seek and read under a lock (the library may read from several threads at once).
    A read that fails, or gives more than was asked or no bytes, is a failed read; an
    interrupt (KeyboardInterrupt, SystemExit) inside one is raised after the call."""

    def __init__(self, stream: IO[bytes]):
        self.stream = stream
        self.lock = threading.Lock()
        self.fd: Optional[int] = None
        self.interrupt: Optional[BaseException] = None
        self.failure: Optional[Exception] = None
        if _plain_file(stream):
            self.fd = os.dup(stream.fileno())
            self.size = os.fstat(self.fd).st_size
        else:
            try:
                with self.lock:
                    self.size = stream.seek(0, io.SEEK_END)
            except (OSError, ValueError, AttributeError) as error:
                raise _argument(f"the file object cannot seek ({error}): an archive is read at offsets") from None
        self.callback = _native.READ_AT(self._read_at)

    def _read_at(self, _context: Any, buffer: int, size: int, offset: int) -> int:
        try:
            if self.interrupt is not None:
                return -1
            if self.fd is not None:
                data: Any = os.pread(self.fd, size, offset)
            else:
                with self.lock:
                    self.stream.seek(offset)
                    data = self.stream.read(size)
            view = memoryview(data).cast("B")  # bytes or any bytes-like object; not a str
            if len(view) > size:
                raise ValueError(f"the file object gave {len(view)} bytes where {size} were asked")
            ctypes.memmove(buffer, view.tobytes() if not isinstance(data, bytes) else data, len(view))
            return len(view)
        except Exception as error:  # noqa: B902 - the library is told the read failed
            self.failure = error
            return -1
        except BaseException as error:  # noqa: B902 - raised again after the call
            self.interrupt = error
            return -1

    def stop(self, error: BaseException) -> None:
        if self.interrupt is None:
            self.interrupt = error

    def raise_interrupt(self) -> None:
        error, self.interrupt = self.interrupt, None
        if error is not None:
            raise error

    def close(self) -> None:
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


class Archive:
    """An open archive: its entries in the archive's order (iterate, index, len),
    find, read and open its files. Close it (or use `with`) when done; calls after
    close raise ArgumentError. Reads may run on many threads at once."""

    def __init__(self, source: Source, *, require_magic: bool = False):
        self._lock = threading.Lock()
        self._users = 0
        self._closing = False
        self._keep: Any = None
        self._reader: Optional[_Reader] = None
        self._handle: Optional[int] = None
        flags = 1 if require_magic else 0
        handle = _native.ARCHIVE()
        if isinstance(source, (bytes, bytearray, memoryview)):
            try:
                view = memoryview(source).cast("B")
            except TypeError as error:
                raise _argument(f"the archive's bytes: {error}") from None
            if isinstance(source, bytes) or view.readonly:
                data = bytes(view) if not isinstance(source, bytes) else source
                pointer = ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p)
                self._keep = data
            else:  # the caller's buffer itself, held by ctypes (it cannot be resized)
                holder = (ctypes.c_char * len(view)).from_buffer(view)
                pointer = ctypes.cast(holder, ctypes.c_void_p)
                self._keep = holder
            self.name = "archive"
            code = lib.quodrel_open_memory(pointer, len(view), None, flags, ctypes.byref(handle))
        elif hasattr(source, "read") and hasattr(source, "seek"):
            reader = _Reader(source)  # type: ignore[arg-type]
            self._reader = reader
            self.name = str(getattr(source, "name", "archive"))
            try:
                code = _off_main(
                    lambda: int(
                        lib.quodrel_open_reader(
                            reader.callback, reader.size, None, None, flags, ctypes.byref(handle)
                        )
                    ),
                    reader.stop,
                )
                reader.raise_interrupt()
            except BaseException:
                reader.close()
                raise
            if code != ErrorCode.OK:
                reader.close()
                failed = _error(code, self.name)
                failed.__cause__ = reader.failure
                raise failed
        else:
            self.name = os.fsdecode(source)
            code = lib.quodrel_open(_fs(source), flags, ctypes.byref(handle))
        if code != ErrorCode.OK:
            raise _error(code, self.name)
        self._handle = handle.value

    # An archive is closed only when no call on it runs: close() during a read (on
    # another thread) waits for nothing, and the last call out closes it.
    def _enter(self) -> int:
        with self._lock:
            if self._closing or self._handle is None:
                raise _error(ErrorCode.ARGUMENT, self.name, detail="the archive is closed")
            self._users += 1
            return self._handle

    def _leave(self) -> None:
        with self._lock:
            self._users -= 1
            if self._closing and self._users == 0:
                self._release()

    def _release(self) -> None:
        handle, self._handle = self._handle, None
        if handle is not None:
            lib.quodrel_close(handle)
            if self._reader is not None:
                self._reader.close()
            self._keep = None  # a bytearray given is the caller's to resize again

    def _reading(self, call: Callable[[], int]) -> int:
        """A call that may read the archive: through a file object's reader, off the
        main thread (see _off_main), with an interrupt in a read raised after it."""
        reader = self._reader
        if reader is None:
            return call()
        code = _off_main(call, reader.stop)
        reader.raise_interrupt()
        return code

    def close(self) -> None:
        with self._lock:
            self._closing = True
            if self._users == 0:
                self._release()

    @property
    def closed(self) -> bool:
        return self._closing

    def __enter__(self) -> "Archive":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None) is not None and self._users == 0:
            self._release()

    def __repr__(self) -> str:
        state = "closed" if self._closing else f"{len(self)} entries"
        return f"<quodrel.Archive {self.name!r}, {state}>"

    @property
    def has_magic(self) -> bool:
        """Whether the archive starts as an archive does (its magic)."""
        handle = self._enter()
        try:
            return bool(lib.quodrel_has_magic(handle))
        finally:
            self._leave()

    def __len__(self) -> int:
        handle = self._enter()
        try:
            return int(lib.quodrel_entry_count(handle))
        finally:
            self._leave()

    def _entry(self, handle: int, index: int) -> Entry:
        buffer = ctypes.create_string_buffer(1024)
        length = lib.quodrel_entry_path(handle, index, buffer, len(buffer))
        if length >= len(buffer):
            buffer = ctypes.create_string_buffer(length + 1)
            lib.quodrel_entry_path(handle, index, buffer, len(buffer))
        return Entry(
            index=index,
            path=_text(buffer.raw[:length]),
            size=int(lib.quodrel_entry_size(handle, index)),
            is_folder=bool(lib.quodrel_entry_is_folder(handle, index)),
            refusal=_enum(Refusal, lib.quodrel_entry_refusal(handle, index)),
        )

    def __getitem__(self, index: int) -> Entry:
        if isinstance(index, bool) or not isinstance(index, int):
            raise _argument(f"an entry's index is a whole number, not {index!r}")
        handle = self._enter()
        try:
            count = lib.quodrel_entry_count(handle)
            if index < 0:
                index += count
            if not 0 <= index < count:
                raise IndexError(f"entry {index} of {count}")
            return self._entry(handle, index)
        finally:
            self._leave()

    def __iter__(self) -> Iterator[Entry]:
        return iter(self.entries)

    @property
    def entries(self) -> List[Entry]:
        """Every entry, folders included, in the archive's order."""
        handle = self._enter()
        try:
            return [self._entry(handle, index) for index in range(lib.quodrel_entry_count(handle))]
        finally:
            self._leave()

    def find(self, path: Union[str, bytes]) -> Optional[Entry]:
        """The entry extraction writes at `path` (one trailing "/" finds only a
        folder), or None when no entry has that path. Raises RefusedError when
        extraction refuses what stands there, with the entry that tells why."""
        handle = self._enter()
        try:
            index = ctypes.c_size_t(NO_INDEX)
            code = lib.quodrel_find(handle, _name(path), ctypes.byref(index))
            if code == ErrorCode.NOT_FOUND:
                return None
            if code == ErrorCode.REFUSED:
                error = _error(code, _text(_name(path)))
                assert isinstance(error, RefusedError)
                error.entry = self._entry(handle, index.value)
                raise error
            if code != ErrorCode.OK:
                raise _error(code, _text(_name(path)))
            return self._entry(handle, index.value)
        finally:
            self._leave()

    def _file(self, item: Union[str, bytes, Entry, int]) -> Entry:
        if isinstance(item, (Entry, int)) and not isinstance(item, bool):
            # (an Entry as this archive has it, whatever the object says)
            index = item.index if isinstance(item, Entry) else item
            try:
                entry = self[index]
            except IndexError as error:
                raise _argument(str(error), self.name) from None
        elif isinstance(item, (str, bytes)):
            found = self.find(item)
            if found is None:
                raise _error(ErrorCode.NOT_FOUND, _text(_name(item)))
            entry = found
        else:
            raise _argument(f"a file is named by its path, Entry or index, not {item!r}")
        if entry.is_folder:
            raise _error(ErrorCode.NOT_A_FILE, entry.path)
        return entry

    def read_into(self, item: Union[str, bytes, Entry, int], offset: int, buffer: Any) -> int:
        """Reads file bytes from `offset` into a writable buffer; returns how many
        (fewer only at the file's end)."""
        entry = self._file(item)
        try:
            view = memoryview(buffer).cast("B")
        except TypeError as error:
            raise _argument(f"the buffer: {error}", entry.path) from None
        return self._read_into(entry, offset, view)

    def _read_into(self, entry: Entry, offset: int, view: Optional[memoryview]) -> int:
        """Reads into `view` (None: reads nothing, but the library checks the entry)."""
        _whole(offset, "the offset")
        if view is not None and view.readonly:
            raise _argument("the buffer is read-only", entry.path)
        target = (ctypes.c_char * len(view)).from_buffer(view) if view else None
        got = ctypes.c_size_t(0)
        handle = self._enter()
        try:
            code = self._reading(
                lambda: int(
                    lib.quodrel_read(
                        handle, entry.index, offset, target, len(view) if view else 0, ctypes.byref(got)
                    )
                )
            )
        finally:
            self._leave()
            del target
        if code != ErrorCode.OK:
            error = _error(code, entry.path)
            if isinstance(error, RefusedError):
                error.entry = entry
            if self._reader is not None and code == ErrorCode.READ:
                error.__cause__ = self._reader.failure
            raise error
        return got.value

    def read(
        self, item: Union[str, bytes, Entry, int], offset: int = 0, size: Optional[int] = None
    ) -> bytes:
        """A file's bytes (from `offset`, at most `size` of them): by path, as
        extraction writes it, or by Entry or index, whatever its refusal. Raises
        NotFoundError, NotAFileError, RefusedError or ReadError."""
        entry = self._file(item)
        _whole(offset, "the offset")
        if size is not None:
            _whole(size, "the size")
        self._read_into(entry, offset, None)  # refused, or unreadable, before any memory is taken
        left = max(entry.size - offset, 0)
        want = left if size is None else min(size, left)
        buffer = bytearray(want)
        got = self._read_into(entry, offset, memoryview(buffer)) if want else 0
        if got < want:
            del buffer[got:]
        return bytes(buffer)

    def open(self, item: Union[str, bytes, Entry, int], buffer_size: int = 256 * 1024) -> io.BufferedReader:
        """A file of the archive as a readable, seekable binary file object that reads
        the archive as it goes, so a large file streams in small memory."""
        entry = self._file(item)
        self._read_into(entry, 0, None)
        return io.BufferedReader(_EntryFile(self, entry), _whole(buffer_size, "the buffer size", 1 << 30) or 1)

    def check(self) -> List[Entry]:
        """The entries extraction on this system would refuse (empty: it would write
        every entry)."""
        return [entry for entry in self.entries if entry.refusal]

    def extract(
        self,
        folder: PathLike,
        paths: Optional[Sequence[Union[str, bytes]]] = None,
        *,
        threads: int = 0,
        on_event: Optional[OnEvent] = None,
    ) -> Summary:
        """quodrel.extract of this archive."""
        return extract(self, folder, paths, threads=threads, on_event=on_event)


class _EntryFile(io.RawIOBase):
    def __init__(self, archive: Archive, entry: Entry):
        super().__init__()
        self._archive = archive
        self._entry = entry
        self._position = 0
        self.name = entry.path

    def readable(self) -> bool:
        return True

    def seekable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> int:
        if self.closed:
            raise ValueError("I/O operation on closed file")
        got = self._archive._read_into(self._entry, self._position, memoryview(buffer).cast("B"))
        self._position += got
        return got

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        if self.closed:
            raise ValueError("I/O operation on closed file")
        base = {io.SEEK_SET: 0, io.SEEK_CUR: self._position, io.SEEK_END: self._entry.size}
        if whence not in base:
            raise ValueError(f"invalid whence ({whence})")
        position = base[whence] + offset
        if position < 0:
            raise ValueError(f"negative seek position {position}")
        self._position = position
        return position

    def tell(self) -> int:
        return self._position


def open(source: Source, *, require_magic: bool = False) -> Archive:  # noqa: A001
    """Opens an archive: a path, the archive's bytes (bytes, bytearray, memoryview),
    or a binary file object that is read at offsets. With require_magic, a file that
    does not start as an archive does raises NotAnArchiveError. A damaged table
    raises a DamagedError; a file that cannot be opened OpenError."""
    return Archive(source, require_magic=require_magic)


def _paths(paths: Optional[Sequence[Union[str, bytes]]]) -> Any:
    if paths is None:
        return None, 0
    if isinstance(paths, (str, bytes)):
        paths = [paths]
    try:
        given = list(paths)
    except TypeError:
        raise _argument(f"paths is a list of paths, not {paths!r}") from None
    chosen = [_name(path) for path in given]
    if not chosen:
        raise _error(ErrorCode.ARGUMENT, None, detail="no paths chosen (None extracts everything)")
    return (ctypes.c_char_p * len(chosen))(*chosen), len(chosen)


def extract(
    archive: Union[Archive, PathLike],
    folder: PathLike,
    paths: Optional[Sequence[Union[str, bytes]]] = None,
    *,
    threads: int = 0,
    on_event: Optional[OnEvent] = None,
) -> Summary:
    """Extracts an archive (an open Archive, or a path) into `folder` as `quodrel -e`
    does, or only the entries `paths` name, as `-x` does (a folder takes all inside
    it; "*" and "?" match within one part). Nothing is written outside `folder` and
    nothing half-written stays. Raises IncompleteError when an entry was refused or
    not written or a path matched nothing (its `problems` say which)."""
    run = _Run(on_event, threads, archive if isinstance(archive, Archive) else None)
    chosen, count = _paths(paths)
    destination = _fs(folder)
    if isinstance(archive, Archive):
        handle = archive._enter()
        try:
            code = run.call(
                lambda: int(
                    lib.quodrel_extract_archive(handle, destination, chosen, count, ctypes.byref(run.options))
                )
            )
        finally:
            archive._leave()
        name = archive.name
    else:
        source = _fs(archive)
        code = run.call(
            lambda: int(lib.quodrel_extract(source, destination, chosen, count, ctypes.byref(run.options)))
        )
        name = os.fsdecode(archive)
    where = os.fsdecode(folder) if code == ErrorCode.DESTINATION else name
    return run.finish(code, where)


def create(
    folder: PathLike, archive: PathLike, *, threads: int = 0, on_event: Optional[OnEvent] = None
) -> Summary:
    """Packs the tree below `folder` into a new archive at `archive`, as `quodrel -c`
    does (the same bytes), put in place only when complete. Raises IncompleteError
    when the archive was written but something was left out."""
    run = _Run(on_event, threads)
    source, target = _fs(folder), _fs(archive)
    code = run.call(lambda: int(lib.quodrel_create(source, target, ctypes.byref(run.options))))
    where = os.fsdecode(folder) if code in (ErrorCode.OPEN, ErrorCode.LIMIT) else os.fsdecode(archive)
    return run.finish(code, where)


def update(
    archive: PathLike, folder: PathLike, *, threads: int = 0, on_event: Optional[OnEvent] = None
) -> Summary:
    """Updates the archive at `archive` from the tree below `folder`, as `quodrel -u`
    does: the folder's files replace or join the archive's, the rest stays. Raises
    NotUpdatedError (the archive left as it is) when the archive is not sound."""
    run = _Run(on_event, threads)
    target, source = _fs(archive), _fs(folder)
    code = run.call(lambda: int(lib.quodrel_update(target, source, ctypes.byref(run.options))))
    where = os.fsdecode(folder) if code == ErrorCode.OPEN else os.fsdecode(archive)
    return run.finish(code, where)


def compare(
    archive: Union[Archive, PathLike],
    folder: PathLike,
    *,
    threads: int = 0,
    on_event: Optional[OnEvent] = None,
) -> List[Event]:
    """Compares an archive with the tree below `folder` as `quodrel -d` does, writing
    nothing: the DIFFERENCE events, one per path where they differ (empty when they
    are the same). Raises IncompleteError when something could not be compared."""
    if isinstance(archive, Archive):
        opened, name = archive, archive.name
    else:  # a path, also as bytes (as extract takes it), never the archive's bytes
        name = os.fsdecode(_fs(archive))
        opened = Archive(name)
    run = _Run(on_event, threads, opened)
    source = _fs(folder)
    try:
        handle = opened._enter()
        try:
            code = run.call(lambda: int(lib.quodrel_compare(handle, source, ctypes.byref(run.options))))
        finally:
            opened._leave()
    finally:
        if opened is not archive:
            opened.close()
    where = os.fsdecode(folder) if code == ErrorCode.OPEN else name
    run.finish(code, where, allowed=(ErrorCode.DIFFERENT,))
    return run.differences


__all__ = [
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
    "compare",
    "create",
    "extract",
    "open",
    "update",
]
