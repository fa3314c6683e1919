"""An open archive (quodrel.open, open_bytes): its entries as zipfile and tarfile show
theirs, reading its files, extracting them; and is_archive."""

from __future__ import annotations

import ctypes
import errno
import io
import os
import stat
import threading
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, List, Optional, Sequence, Union, cast, overload

from . import _native
from ._errors import Error, NotFoundError, RefusedError, argument, error, index_error, shortly
from ._native import NO_INDEX, lib
from ._paths import Member, PathLike, fs, member, members, name, text, whole
from ._run import Interruptible, Run, callback, off_main
from ._values import Entry, ErrorCode, OnEvent, Refusal, Summary, known

if TYPE_CHECKING:
    from _typeshed import ReadableBuffer as Buffer  # (bytes, bytearray, memoryview, mmap, array, ...)
    from typing_extensions import Protocol

    class Readable(Protocol):
        """A binary file object read at offsets, as the module uses one: any with these
        two (an open file, BytesIO, a gzip stream, mmap, ...), not only typing.IO's."""

        def read(self, __size: int = ...) -> bytes: ...

        def seek(self, __offset: int, __whence: int = ...) -> object: ...

else:
    Buffer = Union[bytes, bytearray, memoryview]
# What quodrel.open takes: a path, a descriptor of a file, or a binary file object.
Source = Union[PathLike, int, "Readable"]


def _plain_file(stream: Any) -> bool:
    """Whether the object reads a regular file through its descriptor as it is (not a
    decompressing or otherwise transforming stream over one)."""
    raw = stream.raw if isinstance(stream, (io.BufferedReader, io.BufferedRandom)) else stream
    try:
        return isinstance(raw, io.FileIO) and stat.S_ISREG(os.fstat(raw.fileno()).st_mode)
    except (OSError, ValueError):
        return False


def binary(stream: Any, what: str) -> None:
    """Refuses a text file object where bytes are read or written."""
    if isinstance(stream, io.TextIOBase):
        raise argument(f"{what} a binary file object, not a text one")


def stream_size(stream: Any, why: str) -> int:
    """The size of a binary file object read at offsets: where seek() to its end
    leaves it (tell() says where seek() gives no number, as mmap's did before Python
    3.13), checked, since the library reads within it."""
    try:
        size = stream.seek(0, io.SEEK_END)
        if size is None:
            size = stream.tell()
    except (OSError, ValueError, AttributeError, TypeError) as failed:
        raise argument(f"the file object cannot seek ({failed}): {why}") from None
    return whole(size, "the file object's size (where seek() to its end leaves it)")


class _Reader(Interruptible):
    """A descriptor or a binary file object as an archive. A regular file is read at
    offsets through a descriptor of the archive's own (a copy: the caller may close
    theirs); any other object by seek and read under a lock (the library may read from
    several threads at once). A read that fails, or gives more than was asked or no
    bytes, is a failed read; an interrupt (KeyboardInterrupt, SystemExit) inside one
    is raised after the call."""

    def __init__(self, stream: Any, descriptor: Optional[int] = None):
        self.stream = stream
        self.lock = threading.Lock()
        self.fd: Optional[int] = None
        self.failure: Optional[Exception] = None
        if descriptor is not None:
            try:
                if not stat.S_ISREG(os.fstat(descriptor).st_mode):
                    raise argument(f"descriptor {descriptor} is not a regular file: an archive is read at offsets")
                self.fd = os.dup(descriptor)
            except OSError as failed:
                raise argument(f"descriptor {descriptor}: {failed.strerror}") from None
            self.size = os.fstat(self.fd).st_size
        elif _plain_file(stream):
            assert stream is not None
            self.fd = os.dup(stream.fileno())
            self.size = os.fstat(self.fd).st_size
        else:
            binary(stream, "an archive is read from")
            with self.lock:
                self.size = stream_size(stream, "an archive is read at offsets")
        self.callback = callback(_native.READ_AT, self._read_at, -1)

    def _read_at(self, _context: Any, buffer: int, size: int, offset: int) -> int:
        try:
            if self.interrupt is not None:
                return -1
            if self.fd is not None:
                data: Any = os.pread(self.fd, size, offset)
            else:
                assert self.stream is not None
                with self.lock:
                    self.stream.seek(offset)
                    data = self.stream.read(size)
            view = memoryview(data).cast("B")  # bytes or any bytes-like object; not a str
            if len(view) > size:
                raise ValueError(f"the file object gave {len(view)} bytes where {size} were asked")
            ctypes.memmove(buffer, view.tobytes() if not isinstance(data, bytes) else data, len(view))
            return len(view)
        except Exception as failed:  # noqa: B902 - the library is told the read failed
            self.failure = failed
            return -1
        except BaseException as raised:  # noqa: B902 - raised again after the call
            self.stop(raised)
            return -1

    def close(self) -> None:
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


class _Memory:
    """An archive's bytes, as open_bytes hands them to Archive."""

    def __init__(self, data: Buffer):
        self.data = data


def _system_error(path: bytes) -> int:
    """Why the file at `path` cannot be opened as an archive, as the system puts it (0
    where it gives no number): asked again, since the library tells only that it
    could not."""
    try:
        found = os.stat(path)
        if stat.S_ISDIR(found.st_mode):
            return errno.EISDIR
        if stat.S_ISREG(found.st_mode):
            os.close(os.open(path, os.O_RDONLY | os.O_CLOEXEC | os.O_NOCTTY))
    except OSError as failed:
        return failed.errno or 0
    return 0


class Archive:
    """An open archive: its entries in the archive's order (iterate, index, len, and
    zipfile's and tarfile's calls: namelist, getinfo, infolist, `in`, `[name]`, ...),
    read, open and extract its files. Close it (or use `with`) when done; calls after
    close raise ArgumentError. Reads may run on many threads at once."""

    def __init__(self, source: Union[Source, _Memory], *, require_magic: bool = False):
        self._lock = threading.Lock()
        self._users = 0
        self._closing = False
        self._keep: Any = None
        self._reader: Optional[_Reader] = None
        self._handle: Optional[int] = None
        self._by_path: Optional[Dict[str, int]] = None
        flags = 1 if require_magic else 0
        handle = _native.ARCHIVE()
        if isinstance(source, _Memory):
            view = memoryview(source.data)
            if not view.c_contiguous:  # (strided: copied into one piece)
                view = memoryview(view.tobytes())
            view = view.cast("B")
            # (Handed to the library as they are: a ctypes.cast of the holder would tie it
            # in a cycle, and the caller's bytearray would stay unresizable until the
            # cyclic collector ran.)
            if isinstance(source.data, bytes) or view.readonly:
                self._keep = source.data if isinstance(source.data, bytes) else bytes(view)
            else:  # the caller's buffer itself, held by ctypes (it cannot be resized)
                self._keep = (ctypes.c_char * len(view)).from_buffer(view)
            self.name = "archive"
            code = lib.quodrel_open_memory(self._keep, len(view), None, flags, ctypes.byref(handle))
            if code != ErrorCode.OK:
                self._keep = None
        elif isinstance(source, (bytearray, memoryview)):
            raise argument(
                "an archive's bytes open with quodrel.open_bytes; "
                "open takes a path, a descriptor or a binary file object"
            )
        elif (isinstance(source, int) and not isinstance(source, bool)) or hasattr(source, "read"):
            if isinstance(source, int):
                reader = _Reader(None, source)
                self.name = f"descriptor {source}"
            else:
                reader = _Reader(source)
                self.name = str(getattr(source, "name", "archive"))
            self._reader = reader
            try:
                code = off_main(
                    lambda: int(
                        lib.quodrel_open_reader(reader.callback, reader.size, None, None, flags, ctypes.byref(handle))
                    ),
                    reader.stop,
                )
                reader.raise_interrupt()
            except BaseException:
                reader.close()
                raise
            if code != ErrorCode.OK:
                reader.close()
                unread = error(code, self.name)
                unread.__cause__ = reader.failure
                raise unread
        else:
            path = fs(source)
            self.name = os.fsdecode(path)
            code = lib.quodrel_open(path, flags, ctypes.byref(handle))
            if code == ErrorCode.OPEN:
                raise error(code, self.name, system_error=_system_error(path))
        if code != ErrorCode.OK:
            raise error(code, self.name)
        self._handle = handle.value

    # An archive is closed only when no call on it runs: close() during a read (on
    # another thread) waits for nothing, and the last call out closes it.
    def _enter(self) -> int:
        with self._lock:
            if self._closing or self._handle is None:
                raise argument("the archive is closed", self.name)
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
        main thread (see off_main), with an interrupt in a read raised after it."""
        reader = self._reader
        if reader is None:
            return call()
        code = off_main(call, reader.stop)
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

    def __reduce_ex__(self, protocol: Any) -> Any:
        raise argument(
            "an Archive holds an open file and the library's handle: it cannot be pickled or "
            "copied (pickle its path, and open it again)",
            self.name,
        )

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
            path=text(buffer.raw[:length]),
            size=int(lib.quodrel_entry_size(handle, index)),
            is_folder=bool(lib.quodrel_entry_is_folder(handle, index)),
            refusal=known(Refusal, lib.quodrel_entry_refusal(handle, index)),
        )

    def _at(self, index: Any) -> Entry:
        if isinstance(index, bool) or not isinstance(index, int):
            raise argument(f"an entry's index is a whole number, not {shortly(index)}")
        handle = self._enter()
        try:
            count = lib.quodrel_entry_count(handle)
            at = index + count if index < 0 else index
            if not 0 <= at < count:
                raise index_error(f"entry {index} of {count}")  # (as the caller gave it)
            return self._entry(handle, at)
        finally:
            self._leave()

    @overload
    def __getitem__(self, key: int) -> Entry: ...

    @overload
    def __getitem__(self, key: slice) -> List[Entry]: ...

    @overload
    def __getitem__(self, key: Union[str, bytes, "os.PathLike[str]"]) -> Entry: ...

    def __getitem__(self, key: Any) -> Any:
        """archive[index] (negative from the end, an IndexError past the last),
        archive[start:stop], or archive[path] as getinfo gives it (a KeyError where
        no entry has that path)."""
        if isinstance(key, slice):
            return self.entries[key]
        if isinstance(key, int) and not isinstance(key, bool):
            return self._at(key)
        return self.getinfo(cast(Member, key))

    def __iter__(self) -> Iterator[Entry]:
        return iter(self.entries)

    def __contains__(self, item: Any) -> bool:
        """Whether the archive holds an entry at that path (as getinfo finds it), or
        that Entry."""
        try:
            if isinstance(item, Entry):
                return self._at(item.index) == item
            self.getinfo(item)
            return True
        except (NotFoundError, IndexError):
            return False

    @property
    def entries(self) -> List[Entry]:
        """Every entry, folders included, in the archive's order."""
        handle = self._enter()
        try:
            return [self._entry(handle, index) for index in range(lib.quodrel_entry_count(handle))]
        finally:
            self._leave()

    def infolist(self) -> List[Entry]:
        """Every entry in the archive's order (zipfile's name; tarfile's: getmembers)."""
        return self.entries

    getmembers = infolist

    def namelist(self) -> List[str]:
        """Every entry's path in the archive's order, a folder's ending in "/", as
        zipfile lists them (getnames: without the "/", as tarfile does)."""
        return [entry.filename for entry in self.entries]

    def getnames(self) -> List[str]:
        """Every entry's path in the archive's order, as tarfile lists them."""
        return [entry.path for entry in self.entries]

    def find(self, path: Union[str, bytes, "os.PathLike[str]"]) -> Optional[Entry]:
        """The entry extraction writes at `path` (one trailing "/" finds only a
        folder), or None when no entry has that path. Raises RefusedError when
        extraction refuses what stands there, with the entry that tells why."""
        wanted = name(path)
        handle = self._enter()
        try:
            index = ctypes.c_size_t(NO_INDEX)
            code = lib.quodrel_find(handle, wanted, ctypes.byref(index))
            if code == ErrorCode.NOT_FOUND:
                return None
            if code == ErrorCode.REFUSED:
                refused = error(code, text(wanted))
                assert isinstance(refused, RefusedError)
                refused.entry = self._entry(handle, index.value)
                raise refused
            if code != ErrorCode.OK:
                raise error(code, text(wanted))
            return self._entry(handle, index.value)
        finally:
            self._leave()

    def getinfo(self, name: Member) -> Entry:
        """The entry at that path (zipfile's name; tarfile's: getmember): the one
        extraction writes there, or else the first entry the archive holds at that
        path, refused (its `refusal` says why). Raises NotFoundError, a KeyError,
        where there is none. An Entry stands for the entry at its index, where this
        archive has that path (one of another archive is not there, as `in` tells)."""
        wanted = member(name)
        if isinstance(wanted, Entry):
            return self._same(wanted)
        try:
            found = self.find(wanted)
        except RefusedError:
            found = None
        if found is not None:
            return found
        path = text(wanted)
        folder_only = path.endswith("/")
        if self._by_path is None:  # (once: the entries a find does not give are rare)
            by_path: Dict[str, int] = {}
            for entry in self.entries:
                by_path.setdefault(entry.path, entry.index)
                if entry.is_folder:
                    by_path.setdefault(entry.path + "/", entry.index)
            self._by_path = by_path
        index = self._by_path.get(path)
        if index is None or (folder_only and not self._at(index).is_folder):
            raise error(ErrorCode.NOT_FOUND, path)
        return self._at(index)

    getmember = getinfo

    def _same(self, given: Entry) -> Entry:
        """This archive's entry at an Entry's index, as this archive has it (whatever
        the object says of its size or refusal); NotFoundError where this archive has
        another path there (an Entry of another archive, as `in` tells)."""
        try:
            entry = self._at(given.index)
        except IndexError:
            entry = None
        if entry is None or (entry.path, entry.is_folder) != (given.path, given.is_folder):
            raise error(ErrorCode.NOT_FOUND, given.path)
        return entry

    def _file(self, item: Union[Member, int]) -> Entry:
        """The file entry a read names: by path as extraction writes it, or by Entry
        or index whatever its refusal (an Entry as this archive has it, whatever the
        object says)."""
        if isinstance(item, Entry):
            entry = self._same(item)
        elif isinstance(item, int) and not isinstance(item, bool):
            try:
                entry = self._at(item)
            except IndexError as failed:
                raise argument(str(failed), self.name) from None
        else:
            wanted = name(item)
            found = self.find(wanted)
            if found is None:
                raise error(ErrorCode.NOT_FOUND, text(wanted))
            entry = found
        if entry.is_folder:
            raise error(ErrorCode.NOT_A_FILE, entry.path)
        return entry

    def read_into(self, item: Union[Member, int], offset: int, buffer: Any) -> int:
        """Reads file bytes from `offset` into a writable buffer; returns how many
        (fewer only at the file's end)."""
        entry = self._file(item)
        try:
            view = memoryview(buffer).cast("B")
        except TypeError as failed:
            raise argument(f"the buffer: {failed}", entry.path) from None
        return self._read_into(entry, offset, view)

    def _read_into(self, entry: Entry, offset: int, view: Optional[memoryview]) -> int:
        """Reads into `view` (None: reads nothing, but the library checks the entry)."""
        whole(offset, "the offset")
        if view is not None and view.readonly:
            raise argument("the buffer is read-only", entry.path)
        target = (ctypes.c_char * len(view)).from_buffer(view) if view else None
        got = ctypes.c_size_t(0)
        handle = self._enter()
        try:
            code = self._reading(
                lambda: int(
                    lib.quodrel_read(handle, entry.index, offset, target, len(view) if view else 0, ctypes.byref(got))
                )
            )
        finally:
            self._leave()
            del target
        if code != ErrorCode.OK:
            failed = error(code, entry.path)
            if isinstance(failed, RefusedError):
                failed.entry = entry
            if self._reader is not None and code == ErrorCode.READ:
                failed.__cause__ = self._reader.failure
            raise failed
        return got.value

    def read(self, name: Union[Member, int], offset: int = 0, size: Optional[int] = None) -> bytes:
        """A file's bytes (from `offset`, at most `size` of them): by path, as
        extraction writes it, or by Entry or index, whatever its refusal. Raises
        NotFoundError, NotAFileError, RefusedError or ReadError."""
        entry = self._file(name)
        whole(offset, "the offset")
        if size is not None:
            whole(size, "the size")
        self._read_into(entry, offset, None)  # refused, or unreadable, before any memory is taken
        left = max(entry.size - offset, 0)
        want = left if size is None else min(size, left)
        buffer = bytearray(want)
        got = self._read_into(entry, offset, memoryview(buffer)) if want else 0
        if got < want:
            del buffer[got:]
        return bytes(buffer)

    def open(  # noqa: A003 - zipfile's name
        self, name: Union[Member, int], mode: str = "r", *, buffer_size: int = 256 * 1024
    ) -> io.BufferedReader:
        """A file of the archive as a readable, seekable binary file object that reads
        the archive as it goes, so a large file streams in small memory. `mode` is
        "r" (or "rb"): an archive is never written in place."""
        if mode not in ("r", "rb"):
            raise argument(f"an archive's files open for reading only (mode 'r'), not {shortly(mode)}")
        entry = self._file(name)
        self._read_into(entry, 0, None)
        return io.BufferedReader(_EntryFile(self, entry), whole(buffer_size, "the buffer size", 1 << 30) or 1)

    def extractfile(self, member: Union[Member, int]) -> Optional[io.BufferedReader]:
        """tarfile's name for open(), which gives None for a folder."""
        if isinstance(member, Entry):
            entry: Optional[Entry] = self._same(member)
        elif isinstance(member, int):
            entry = self._at(member)
        else:
            entry = self.find(name(member))
            if entry is None:
                raise error(ErrorCode.NOT_FOUND, text(name(member)))
        assert entry is not None
        return None if entry.is_folder else self.open(entry)

    def check(self) -> List[Entry]:
        """The entries extraction on this system would refuse (empty: it would write
        every entry)."""
        return [entry for entry in self.entries if entry.refusal]

    def _extract(
        self, folder: bytes, chosen: Optional[Sequence[bytes]], threads: int, on_event: Optional[OnEvent]
    ) -> Summary:
        run = Run(on_event, threads, self._reader)
        array = (ctypes.c_char_p * len(chosen))(*chosen) if chosen else None
        handle = self._enter()
        try:
            code = run.call(
                lambda: int(
                    lib.quodrel_extract_archive(
                        handle, folder, array, len(chosen) if chosen else 0, ctypes.byref(run.options)
                    )
                )
            )
        finally:
            self._leave()
        return run.finish(code, os.fsdecode(folder) if code == ErrorCode.DESTINATION else self.name)

    def _members(self, items: Any) -> List[Entry]:
        """Members named as zipfile's extract takes them: each an entry the archive
        holds (NotFoundError, a KeyError, before anything is written) that extraction
        writes (RefusedError)."""
        found = [self.getinfo(item) for item in members(items)]
        for entry in found:
            if entry.refusal:
                refused = error(ErrorCode.REFUSED, entry.path)
                assert isinstance(refused, RefusedError)
                refused.entry = entry
                raise refused
        return found

    def extract(
        self,
        member: Member,
        path: Optional[PathLike] = None,
        *,
        threads: int = 0,
        on_event: Optional[OnEvent] = None,
    ) -> str:
        """Extracts one member (a file, or a folder with everything in it) below the
        folder `path` (None: the current folder; made when missing, one level only,
        where zipfile makes every missing parent) at its path in the archive, as
        zipfile's extract does, and returns where it was written. A member the archive
        does not hold raises NotFoundError (a KeyError), one extraction refuses
        RefusedError; as everywhere in the module, nothing is written outside the
        folder and nothing half-written stays."""
        entry = self._members([member])[0]
        folder = os.getcwd() if path is None else os.fsdecode(fs(path))
        self._extract(fs(folder), [name(entry.path)], threads, on_event)
        return os.path.join(folder, entry.path)

    def extractall(
        self,
        path: Optional[PathLike] = None,
        members: Optional[Any] = None,
        *,
        threads: int = 0,
        on_event: Optional[OnEvent] = None,
    ) -> Summary:
        """Extracts every entry, or only the `members` (paths or Entry objects, each
        as extract takes it), below the folder `path` (None: the current folder), as
        zipfile's and tarfile's extractall do; returns what was written. An entry
        refused on the way raises IncompleteError once the rest is written."""
        folder = fs(os.getcwd() if path is None else path)
        if members is None:
            return self._extract(folder, None, threads, on_event)
        chosen = [name(entry.path) for entry in self._members(members)]
        if not chosen:
            return Summary(0, 0, 0)
        return self._extract(folder, chosen, threads, on_event)


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
    """Opens an archive: a path (str, bytes or os.PathLike, as open() takes it), a
    descriptor of a regular file (the archive keeps a copy), or a binary file object
    that is read at offsets. With require_magic, a file that does not start as an
    archive does raises NotAnArchiveError. A damaged table raises a DamagedError; a
    file that cannot be opened OpenError, with the system's errno. An archive's bytes
    in memory open with open_bytes."""
    return Archive(source, require_magic=require_magic)


def open_bytes(data: Buffer, *, require_magic: bool = False) -> Archive:
    """Opens an archive held in memory: bytes (kept as they are), a bytearray or a
    writable buffer (read in place: it cannot be resized while the archive is open),
    or any other buffer (copied). Otherwise as open."""
    try:
        memoryview(data).release()
    except TypeError:
        raise argument(f"open_bytes takes bytes or another buffer (bytearray, mmap...), not {shortly(data)}") from None
    return Archive(_Memory(data), require_magic=require_magic)


def is_archive(source: Source) -> bool:
    """Whether the file (a path, a descriptor or a binary file object, as open takes
    them) is an archive: it starts as one does and its table reads. False for a file
    that cannot be opened, as zipfile.is_zipfile answers; a file object is left at
    the position it had."""
    position = source.tell() if hasattr(source, "tell") and not isinstance(source, (str, bytes, int)) else None
    try:
        with Archive(source, require_magic=True):
            return True
    except Error as failed:
        if failed.code in (ErrorCode.ARGUMENT, ErrorCode.NO_MEMORY):
            raise
        return False
    finally:
        if position is not None:
            source.seek(position)  # type: ignore[union-attr]
