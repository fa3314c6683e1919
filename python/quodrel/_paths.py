"""Paths as the library takes them: a path on disk (str, bytes or os.PathLike, as
open() takes it) and an entry's path inside an archive (str, bytes, a PurePath or an
Entry), both refused with an ArgumentError when they are neither."""

from __future__ import annotations

import os
import pathlib
from typing import Any, Iterable, List, Optional, Union

from ._errors import argument, shortly
from ._values import Entry

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
# An entry of an archive, named as zipfile and tarfile callers name their members.
Member = Union[str, bytes, pathlib.PurePath, Entry]
_MOST = (1 << 64) - 1  # the largest offset, index or count the C interface takes


def text(raw: bytes) -> str:
    """A name from the library: UTF-8, and one that is not (an older Windows writer's)
    still round-trips."""
    return raw.decode("utf-8", "surrogateescape")


def _no_nul(raw: bytes, given: Any) -> bytes:
    # C ends a string at its first NUL: a path holding one would name another path.
    if b"\0" in raw:
        raise argument(f"a path holding a NUL character: {shortly(given)}")
    return raw


def fs(path: Any) -> bytes:
    """A path on disk as the system takes it."""
    if isinstance(path, (str, bytes, os.PathLike)):
        try:
            raw = os.fsencode(path)
        except (TypeError, UnicodeEncodeError):
            raw = None
        if isinstance(raw, bytes):
            return _no_nul(raw, path)
    raise argument(f"a path is a str, bytes or os.PathLike, not {shortly(path)}")


def shown(path: Any) -> str:
    """A path on disk as errors name it."""
    return os.fsdecode(fs(path))


def name(item: Any) -> bytes:
    """An entry's path as the library takes it: UTF-8 (a str), bytes as they are, a
    PurePath with "/" between its parts."""
    if isinstance(item, pathlib.PurePath):
        item = item.as_posix()
    if isinstance(item, bytes):
        return _no_nul(item, item)
    if not isinstance(item, str):
        raise argument(f"an entry's path is a str, bytes or PurePath, not {shortly(item)}")
    try:
        return _no_nul(item.encode("utf-8", "surrogateescape"), item)
    except UnicodeEncodeError:
        raise argument(f"a path that UTF-8 cannot hold: {shortly(item)}") from None


def member(item: Any) -> Union[bytes, Entry]:
    """A member as zipfile and tarfile take one: an Entry, or its path (see name)."""
    return item if isinstance(item, Entry) else name(item)


def members(items: Any) -> List[Any]:
    """One member or an iterable of them, as a list of members."""
    if isinstance(items, (str, bytes, pathlib.PurePath, Entry)):
        return [member(items)]
    try:
        given = list(items)
    except TypeError:
        raise argument(f"members are a list of paths or Entry objects, not {shortly(items)}") from None
    return [member(item) for item in given]


def whole(value: Any, what: str, most: int = _MOST) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= most:
        raise argument(f"{what} must be a whole number from 0 to {most}, not {shortly(value)}")
    return int(value)


def chosen_paths(paths: Optional[Iterable[Any]]) -> Optional[List[bytes]]:
    """The paths an extraction chooses (None: everything), as -x takes them; an Entry
    stands for its path."""
    if paths is None:
        return None
    chosen = [name(item.path) if isinstance(item, Entry) else item for item in members(paths)]
    if not chosen:
        raise argument("no paths chosen (None extracts everything)")
    return chosen

