"""The operations on folders, as the quodrel program runs them: extract into a folder
(-e, -x), create from a folder (-c), update from one (-u), compare with one (-d)."""

from __future__ import annotations

import ctypes
import os
from typing import Any, Iterable, List, Optional, Union

from ._archive import Archive
from ._native import lib
from ._paths import PathLike, chosen_paths, fs, shown
from ._run import Run
from ._values import ErrorCode, Event, OnEvent, Summary


def extract(
    archive: Union[Archive, PathLike],
    folder: PathLike,
    paths: Optional[Iterable[Any]] = None,
    *,
    threads: int = 0,
    on_event: Optional[OnEvent] = None,
) -> Summary:
    """Extracts an archive (an open Archive, or a path) into `folder` as `quodrel -e`
    does, or only the entries `paths` name, as `-x` does (a folder takes all inside
    it; "*" and "?" match within one part; a path is a str, bytes, a PurePath or an
    Entry). Nothing is written outside `folder` and nothing half-written stays.
    Raises IncompleteError when an entry was refused or not written or a path matched
    nothing (its `problems` say which), DestinationError (naming `folder`) when the
    folder cannot be made."""
    chosen = chosen_paths(paths)
    destination = fs(folder)
    if isinstance(archive, Archive):
        return archive._extract(destination, chosen, threads, on_event)
    run = Run(on_event, threads)
    source = fs(archive)
    array = (ctypes.c_char_p * len(chosen))(*chosen) if chosen else None
    count = len(chosen) if chosen else 0
    code = run.call(lambda: int(lib.quodrel_extract(source, destination, array, count, ctypes.byref(run.options))))
    return run.finish(code, shown(folder) if code == ErrorCode.DESTINATION else shown(archive))


def create(folder: PathLike, archive: PathLike, *, threads: int = 0, on_event: Optional[OnEvent] = None) -> Summary:
    """Packs the tree below `folder` into a new archive at `archive`, as `quodrel -c`
    does (the same bytes), put in place only when complete. Raises IncompleteError
    when the archive was written but something was left out. (create_listed packs
    entries given in memory.)"""
    run = Run(on_event, threads)
    source, target = fs(folder), fs(archive)
    code = run.call(lambda: int(lib.quodrel_create(source, target, ctypes.byref(run.options))))
    return run.finish(code, shown(folder) if code in (ErrorCode.OPEN, ErrorCode.LIMIT) else shown(archive))


def update(archive: PathLike, folder: PathLike, *, threads: int = 0, on_event: Optional[OnEvent] = None) -> Summary:
    """Updates the archive at `archive` from the tree below `folder`, as `quodrel -u`
    does: the folder's files replace or join the archive's, the rest stays. Raises
    NotUpdatedError (the archive left as it is) when the archive is not sound,
    LockedError when another run is replacing it."""
    run = Run(on_event, threads)
    target, source = fs(archive), fs(folder)
    code = run.call(lambda: int(lib.quodrel_update(target, source, ctypes.byref(run.options))))
    return run.finish(code, shown(folder) if code == ErrorCode.OPEN else shown(archive))


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
    opened = archive if isinstance(archive, Archive) else Archive(fs(archive))
    source = fs(folder)
    try:
        run = Run(on_event, threads, opened._reader)
        handle = opened._enter()
        try:
            code = run.call(lambda: int(lib.quodrel_compare(handle, source, ctypes.byref(run.options))))
        finally:
            opened._leave()
    finally:
        if opened is not archive:
            opened.close()
    run.finish(code, os.fsdecode(source) if code == ErrorCode.OPEN else opened.name, allowed=(ErrorCode.DIFFERENT,))
    return run.differences
