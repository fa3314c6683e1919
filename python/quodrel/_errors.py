"""The module's exceptions: one base class, quodrel.Error, and a subclass per error the
library reports, each also the built-in exception a Python caller would catch for it
(OSError with errno, KeyError, ValueError and TypeError, MemoryError)."""

from __future__ import annotations

import os
import reprlib
from typing import Any, Dict, List, Optional, Sequence, Type, Union

from ._values import Entry, ErrorCode, Event, Refusal, Summary, error_text, known


class Error(Exception):
    """Every failure the module reports. `code` is the library's error (a plain int
    for one a later library added), `path` the file, folder or entry it concerns (or
    None), and `problems` the REFUSED and FAILED events the operation told before it
    ended. Where the system gave an error number, `errno` and `strerror` hold it (so
    `error.errno == errno.ENOENT` works), and `filename` is the path."""

    code: Union[ErrorCode, int] = ErrorCode.ARGUMENT
    # (int, str and a path, or None: typed as OSError's, with which they are shared)
    errno: Any
    strerror: Any
    filename: Any

    def __init__(
        self,
        message: str,
        path: Optional[str] = None,
        problems: Sequence[Event] = (),
        code: Union[ErrorCode, int, None] = None,
        system_error: int = 0,
    ):
        super().__init__(message)
        self.path = path
        self.problems: List[Event] = list(problems)
        if code is not None:
            self.code = code
        # (OSError's own fields on its subclasses, plain attributes on the others)
        self.errno = system_error or None
        self.strerror = os.strerror(system_error) if system_error else None
        self.filename = path

    def __str__(self) -> str:  # (OSError's would be "[Errno 2] ...", KeyError's quoted)
        return str(self.args[0]) if self.args else ""

    def __reduce__(self) -> Any:
        # Pickled (a process pool hands errors back so) with what this constructor takes:
        # OSError's own would drop errno, strerror and filename, which live in its slots.
        message = self.args[0] if self.args else ""
        return (type(self), (message, self.path, self.problems, self.code, self.errno or 0), self.__dict__)


class ArgumentError(Error, ValueError, TypeError):
    """A call the module cannot make as given: a wrong type or value, a closed archive."""

    code = ErrorCode.ARGUMENT


class _IndexError(ArgumentError, IndexError):
    """An entry index past the last (an IndexError too, as sequences raise)."""


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
    """No entry has that path (a KeyError too, as zipfile's getinfo raises)."""

    code = ErrorCode.NOT_FOUND


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


class LockedError(Error):
    """Another run is replacing the archive: nothing was done, nothing waited for."""

    code = ErrorCode.LOCKED


class ReplacedError(Error):
    """Another program put a file at the archive's path, or took it away, while the new
    archive was written: both are kept, the new one beside the other under the name the
    error's problems tell."""

    code = ErrorCode.REPLACED


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
        LockedError,
        ReplacedError,
    )
}


def error(
    code: int,
    path: Optional[str],
    problems: Sequence[Event] = (),
    detail: str = "",
    system_error: int = 0,
) -> Error:
    """The exception for the library's `code` about `path`: its words, then what the
    system said, a detail, or the first problem told."""
    message = f"{error_text(code)}: {path}" if path else error_text(code)
    if detail:
        message += f" ({detail})"
    elif system_error:
        message += f" ({os.strerror(system_error)})"
    elif problems and problems[0].text:
        message += f" ({problems[0].text.strip()})"
    kind = _ERRORS.get(code, Error)
    return kind(message, path, problems, code=known(ErrorCode, code), system_error=system_error)


_SHORT = reprlib.Repr()
_SHORT.maxstring = _SHORT.maxother = 60


def shortly(value: object) -> str:
    """A value a caller gave, as a message shows it: its repr, cut short."""
    return _SHORT.repr(value)


def argument(detail: str, path: Optional[str] = None) -> Error:
    return error(ErrorCode.ARGUMENT, path, detail=detail)


def index_error(detail: str) -> Error:
    return _IndexError(f"{ErrorCode.ARGUMENT.text} ({detail})")
