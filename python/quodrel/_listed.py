"""Creating an archive from entries given in memory (zipfile's writestr, tarfile's
addfile): quodrel_create_listed, with the caller's bytes and file objects as the
sources and a file or a binary file object as the sink."""

from __future__ import annotations

import ctypes
import errno
import os
import secrets
import stat
from typing import TYPE_CHECKING, Any, Iterable, List, Mapping, Optional, Tuple, Union, overload

from . import _native
from ._archive import _plain_file, binary, stream_size
from ._errors import Error, argument, error, shortly
from ._native import lib
from ._paths import PathLike, fs, name, shown
from ._run import Interruptible, Run, callback
from ._values import ErrorCode, OnEvent, Summary

if TYPE_CHECKING:
    from typing_extensions import Protocol

    from ._archive import Readable

    class Writable(Protocol):
        """A binary file object the archive is written to: any with write()."""

        def write(self, __data: bytes) -> object: ...

# A file's bytes (bytes, a bytearray or memoryview, or a binary file object read
# from its start to its end), or None for a folder.
Data = Union[bytes, bytearray, memoryview, "Readable", None]
Listed = Union[Mapping[Any, Data], Iterable[Tuple[Any, Data]]]


class _Bytes:
    """A file's bytes in memory, read in place (bytes, a writable buffer) or copied
    once (any other buffer)."""

    def __init__(self, data: Any):
        view = memoryview(data).cast("B")
        self.size = len(view)
        if isinstance(data, bytes):
            self.keep: Any = data
            self.address = ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value or 0
        elif not view.readonly and self.size:
            self.keep = (ctypes.c_char * self.size).from_buffer(view)
            self.address = ctypes.addressof(self.keep)
        else:
            self.keep = bytes(view)
            self.address = ctypes.cast(ctypes.c_char_p(self.keep), ctypes.c_void_p).value or 0

    def read_at(self, buffer: int, size: int, offset: int) -> int:
        got = max(min(size, self.size - offset), 0)
        ctypes.memmove(buffer, self.address + offset, got)
        return got

    def close(self) -> None:
        self.keep = None  # (a bytearray given can be resized again)


class _Stream:
    """A file's bytes from a binary file object, from its start: a regular file's
    through a descriptor of its own, at offsets; any other's by seek and read."""

    def __init__(self, stream: Any):
        self.stream = stream
        self.fd: Optional[int] = None
        if _plain_file(stream):
            self.fd = os.dup(stream.fileno())
            self.size = os.fstat(self.fd).st_size
            return
        binary(stream, "an entry's data is read from")
        self.size = stream_size(stream, "its size is told first")
        stream.seek(0)

    def read_at(self, buffer: int, size: int, offset: int) -> int:
        if self.fd is not None:
            data: Any = os.pread(self.fd, size, offset)
        else:
            if self.stream.tell() != offset:
                self.stream.seek(offset)
            data = self.stream.read(size)
        view = memoryview(data).cast("B")
        if len(view) > size:
            raise ValueError(f"the file object gave {len(view)} bytes where {size} were asked")
        ctypes.memmove(buffer, view.tobytes() if not isinstance(data, bytes) else data, len(view))
        return len(view)

    def close(self) -> None:
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


class _FileSink:
    """The archive's file: written without a name (O_TMPFILE) where the system allows,
    else under a temporary name beside its place, and put in place only when complete
    (taking the mode of the archive it replaces); a link at the path stays a link,
    its target replaced. As create, it replaces only an archive it may write: never a
    folder, a device or a FIFO. Discarded, it leaves nothing."""

    def __init__(self, target: bytes):
        real = os.path.realpath(target)
        self.base = os.path.basename(real)
        self.name: Optional[bytes] = None
        self.fd = -1
        # The folder, held: every name below is made in it (linkat needs a folder's
        # descriptor to follow /proc's link to the unnamed file).
        self.folder = os.open(os.path.dirname(real) or b".", os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            self._there()
            if hasattr(os, "O_TMPFILE") and os.path.isdir("/proc/self/fd"):
                try:
                    self.fd = os.open(".", os.O_TMPFILE | os.O_WRONLY | os.O_CLOEXEC, 0o666, dir_fd=self.folder)
                except OSError:
                    pass  # (a file system without unnamed files: a named one)
            if self.fd < 0:
                self.name = self._fresh()
                self.fd = os.open(
                    self.name, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666, dir_fd=self.folder
                )
        except BaseException:
            self.discard()
            raise

    @staticmethod
    def _fresh() -> bytes:
        return b".quodrel-" + secrets.token_hex(8).encode()

    def write(self, view: memoryview) -> None:
        while view:
            view = view[os.write(self.fd, view) :]

    def _there(self) -> Optional[os.stat_result]:
        """What stands at the archive's place (None: nothing), or the OSError of a
        thing that is no archive to replace."""
        try:
            old = os.stat(self.base, dir_fd=self.folder)
        except FileNotFoundError:
            return None
        if stat.S_ISDIR(old.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR))
        if not stat.S_ISREG(old.st_mode):
            raise OSError(0, "not a regular file")  # (no number of the system's)
        if not os.access(self.base, os.W_OK, dir_fd=self.folder):
            raise PermissionError(errno.EACCES, os.strerror(errno.EACCES))
        return old

    def commit(self) -> None:
        try:
            old = self._there()
            if old is not None:
                os.fchmod(self.fd, stat.S_IMODE(old.st_mode))
            if self.name is None:
                unnamed = f"/proc/self/fd/{self.fd}"
                if old is None:
                    try:
                        os.link(unnamed, self.base, dst_dir_fd=self.folder, follow_symlinks=True)
                        return
                    except FileExistsError:
                        self._there()  # (one appeared meanwhile: replaced as any other)
                self.name = self._fresh()
                os.link(unnamed, self.name, dst_dir_fd=self.folder, follow_symlinks=True)
            os.replace(self.name, self.base, src_dir_fd=self.folder, dst_dir_fd=self.folder)
            self.name = None
        finally:
            self.discard()

    def discard(self) -> None:
        if self.fd >= 0:
            os.close(self.fd)
            self.fd = -1
        if self.name is not None:
            try:
                os.unlink(self.name, dir_fd=self.folder)
            except FileNotFoundError:
                pass  # (put in place just before an interrupt stopped the commit)
            self.name = None
        if self.folder >= 0:
            os.close(self.folder)
            self.folder = -1


class _StreamSink:
    """The caller's binary file object, written in order (a copy of each piece: the
    object may keep what it is given)."""

    def __init__(self, stream: Any):
        binary(stream, "the archive goes to")
        self.stream = stream

    def write(self, view: memoryview) -> None:
        data = view.tobytes()
        while data:
            written = self.stream.write(data)
            if written is None:
                raise BlockingIOError(errno.EAGAIN, "the file object took nothing")
            data = data[written:]

    def commit(self) -> None:
        pass

    def discard(self) -> None:
        pass


class _Listing(Interruptible):
    """The entries as the library takes them, and the callbacks that read their bytes
    and write the archive. What a callback raised is kept: an interrupt is raised
    after the call, any other exception becomes the cause of the error the library
    reports (OPEN for a read, WRITE for a write)."""

    def __init__(self, entries: Listed):
        items = entries.items() if isinstance(entries, Mapping) else entries
        try:
            listed = list(items)
        except TypeError:
            raise argument(f"entries are (path, data) pairs or a mapping of them, not {shortly(entries)}") from None
        self.sources: List[Any] = []
        self.array = (_native.ListedEntry * max(len(listed), 1))()
        self.count = len(listed)
        self.failure: Optional[BaseException] = None
        self.sink: Union[_FileSink, _StreamSink, None] = None
        try:
            for index, item in enumerate(listed):
                try:
                    path, data = item
                except (TypeError, ValueError):
                    raise argument(f"an entry is a (path, data) pair, not {shortly(item)}") from None
                entry = self.array[index]
                raw = name(path)
                if data is None:
                    # A folder named as namelist() and zipfile name one, "sub/", is "sub".
                    entry.path = raw[:-1] if raw.endswith(b"/") and len(raw) > 1 else raw
                    entry.is_folder = 1
                    continue
                entry.path = raw
                if isinstance(data, (bytes, bytearray, memoryview)):
                    source: Any = _Bytes(data)
                elif hasattr(data, "read"):
                    source = _Stream(data)
                else:
                    raise argument(f"an entry's data is bytes, a binary file object or None, not {shortly(data)}")
                self.sources.append(source)
                entry.size = source.size
                entry.context = len(self.sources)  # (from 1: a NULL context reads as None)
        except BaseException:
            self.close()
            raise
        self.read_callback = callback(_native.READ_AT, self._read_at, -1)
        self.write_callback = callback(_native.WRITE, self._write, errno.EIO)

    def _read_at(self, context: Any, buffer: int, size: int, offset: int) -> int:
        try:
            if self.interrupt is not None or self.failure is not None:
                return -1
            return int(self.sources[context - 1].read_at(buffer, size, offset))
        except Exception as failed:  # noqa: B902 - the library is told the read failed
            self.failure = failed
            return -1
        except BaseException as raised:  # noqa: B902 - raised again after the call
            self.stop(raised)
            return -1

    def _write(self, _context: Any, data: int, size: int) -> int:
        try:
            if self.interrupt is not None:
                return errno.EINTR
            assert self.sink is not None
            self.sink.write(memoryview((ctypes.c_char * size).from_address(data)).cast("B"))
            return 0
        except OSError as failed:
            self.failure = failed
            return failed.errno or errno.EIO
        except Exception as failed:  # noqa: B902 - the library is told the write failed
            self.failure = failed
            return errno.EIO
        except BaseException as raised:  # noqa: B902 - raised again after the call
            self.stop(raised)
            return errno.EINTR

    def close(self) -> None:
        for source in self.sources:
            source.close()


# (One signature per form of `entries`: against their union, a type checker takes a
# mapping written out with data of several kinds for a Dict[str, object].)
@overload
def create_listed(
    entries: Mapping[Any, Data], archive: Union[PathLike, "Writable"], *, on_event: Optional[OnEvent] = None
) -> Summary: ...


@overload
def create_listed(
    entries: Iterable[Tuple[Any, Data]], archive: Union[PathLike, "Writable"], *, on_event: Optional[OnEvent] = None
) -> Summary: ...


def create_listed(
    entries: Listed, archive: Union[PathLike, "Writable"], *, on_event: Optional[OnEvent] = None
) -> Summary:
    """Packs entries given in memory into an archive, byte for byte what `quodrel -c`
    makes of a folder holding the same files and folders (the archive's order, the
    names it refuses). `entries` are (path, data) pairs, or a mapping of paths to
    data: a path as the archive lists it ("/" between parts, str, bytes or a
    PurePath; a folder's may end in "/", as namelist() gives it; the folders above
    it need not be listed), the data bytes, a bytearray, a memoryview or a binary
    file object (its bytes from its start), or None for a folder. `archive` is a
    path, written beside its place and put there only when complete (as create does:
    an existing archive is replaced only by a complete one, and a folder, a device, a
    FIFO or a read-only archive never), or a binary file object that receives the
    archive in order (what it received before an error is no archive). Raises IncompleteError when something was left
    out, OpenError (caused by what the data's read raised) or ChangedError when a
    file object gives fewer bytes than it held, WriteError when the archive cannot be
    written."""
    listing = _Listing(entries)
    try:
        run = Run(on_event, 0, listing)
        is_path = not hasattr(archive, "write")
        target = fs(archive) if is_path else None
        shown_name = shown(archive) if is_path else str(getattr(archive, "name", "archive"))
        try:
            sink: Union[_FileSink, _StreamSink] = _FileSink(target) if target is not None else _StreamSink(archive)
            listing.sink = sink
        except OSError as failed:
            raise error(ErrorCode.CREATE, shown_name, system_error=failed.errno or 0) from failed
        label = target if target is not None else None
        try:
            code = run.call(
                lambda: int(
                    lib.quodrel_create_listed(
                        listing.array,
                        listing.count,
                        listing.read_callback,
                        listing.write_callback,
                        None,
                        label,
                        ctypes.byref(run.options),
                    )
                )
            )
            if code in (ErrorCode.OK, ErrorCode.INCOMPLETE) and listing.interrupt is None and run.raised is None:
                try:
                    sink.commit()
                except OSError as failed:
                    raise error(ErrorCode.CREATE, shown_name, system_error=failed.errno or 0) from failed
        finally:
            sink.discard()
        try:
            return run.finish(code, shown_name)
        except Error as failed:
            if failed.__cause__ is None and listing.failure is not None:
                failed.__cause__ = listing.failure
            raise
    finally:
        listing.close()
