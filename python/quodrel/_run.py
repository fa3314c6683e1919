"""Running one of the library's operations from Python: its options and events (handed
to on_event, kept where the result needs them), cancelling, and Ctrl+C."""

from __future__ import annotations

import ctypes
import os
import queue
import threading
import weakref
import _thread
from typing import Any, Callable, List, Optional, Sequence, TypeVar

from . import _native
from ._errors import IncompleteError, argument, error, shortly
from ._native import NO_INDEX, lib
from ._paths import text, whole
from ._values import (
    CANCEL,
    Difference,
    ErrorCode,
    Event,
    EventKind,
    OnEvent,
    Operation,
    Refusal,
    Summary,
    known,
)

_T = TypeVar("_T")


class _Worker:
    """The thread that makes the main thread's calls for off_main: one, started when
    first wanted (again in a forked child, which has none), taking calls in turn. (A
    thread started per call cost more than a small file's read.)"""

    def __init__(self) -> None:
        self.forget()

    def forget(self) -> None:
        """No thread yet (so in a forked child, which has not its parent's), no calls."""
        self.calls: "queue.SimpleQueue[Callable[[], None]]" = queue.SimpleQueue()
        self.thread: Optional[threading.Thread] = None

    def _serve(self) -> None:
        # (Signals stay unblocked here: what on_event starts, a process, inherits the
        # mask. One the kernel hands this thread still trips Python's handler, run on
        # the main thread when its wait next wakes.)
        while True:
            self.calls.get()()

    def start(self) -> None:
        """Starts the thread where it runs not (a start an interrupt stopped half-way
        is made again: at worst, two serve the calls)."""
        if self.thread is None or not self.thread.is_alive():
            thread = threading.Thread(target=self._serve, name="quodrel calls", daemon=True)
            thread.start()
            self.thread = thread


_worker = _Worker()
if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_worker.forget)


def off_main(call: Callable[[], _T], stop: Callable[[BaseException], None]) -> _T:
    """Runs a library call that calls back into Python. Python runs signal handlers
    (Ctrl+C's KeyboardInterrupt) on the main thread, at any line, also inside a
    callback, where ctypes would swallow the exception and hand the library a garbage
    result. So on the main thread the call runs on the module's worker thread while
    the main thread waits: an exception a handler raises there stops the call through
    `stop` (the callbacks then cancel, or fail the read), and is raised once it has
    returned."""
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
        except BaseException as raised:  # noqa: B902 - handed to the waiting thread
            outcome.append((False, raised))
        finally:
            finished.release()

    interrupted: Optional[BaseException] = None
    queued = False
    while not outcome:
        try:
            if not queued:
                _worker.start()
                # (No signal handler runs between these two lines: once `queued` is
                # set, the call is queued, and is waited for whatever is raised.)
                queued = True
                _worker.calls.put(work)
            # (Waking now and then: a signal that came just before the wait began
            # interrupts no wait, and its handler would run only once the call ended.)
            finished.acquire(timeout=0.02)
        except BaseException as raised:  # noqa: B902 - a signal handler's, told to the call
            if not queued:
                raise  # never queued: nothing runs
            if interrupted is None:
                interrupted = raised
                stop(raised)
    if interrupted is not None:
        raise interrupted
    done, value = outcome[0]
    if not done:
        raise value
    return value  # type: ignore[no-any-return]


def make_event(raw: "_native.Event") -> Event:
    """An event as the module hands it out: a copy, with its text."""
    length = lib.quodrel_event_text(ctypes.byref(raw), None, 0)
    buffer = ctypes.create_string_buffer(length + 1)
    lib.quodrel_event_text(ctypes.byref(raw), buffer, length + 1)
    return Event(
        kind=known(EventKind, raw.kind),
        operation=known(Operation, raw.operation),
        index=None if raw.index == NO_INDEX else raw.index,
        path=text(raw.path or b""),
        folder=None if raw.folder is None else os.fsdecode(raw.folder),
        bytes=raw.bytes,
        refusal=known(Refusal, raw.refusal),
        error=known(ErrorCode, raw.error),
        system_error=raw.system_error,
        entries_done=raw.entries_done,
        entries_total=raw.entries_total,
        bytes_done=raw.bytes_done,
        bytes_total=raw.bytes_total,
        files=raw.files,
        folders=raw.folders,
        data_offset=raw.data_offset,
        difference=known(Difference, raw.difference),
        differences=raw.differences,
        text=buffer.raw[:length].decode("utf-8", "replace"),
    )


def callback(kind: Any, method: Callable[..., Any], gone: Any) -> Any:
    """A ctypes callback of `kind` that calls a bound method without holding its object
    (the object keeps the callback for the library: holding the object back would make
    a cycle that only the cyclic collector frees, late or never, keeping what the object
    holds: the caller's file objects, buffers and on_event). While the library may call
    it, the object is held by the call that gave it; `gone` answers if it is not."""
    weak = weakref.WeakMethod(method)

    def called(*arguments: Any) -> Any:
        target = weak()
        return gone if target is None else target(*arguments)

    return kind(called)


# The events an operation's result is made of, made into Events even when no on_event
# wants them.
_KEPT = frozenset((EventKind.REFUSED, EventKind.FAILED, EventKind.DIFFERENCE, EventKind.END))


class Interruptible:
    """A source of callbacks besides the events (an archive's reader, a listed tree's
    reads and writes): what it caught that must stop the call is raised after it."""

    interrupt: Optional[BaseException] = None

    def stop(self, raised: BaseException) -> None:
        if self.interrupt is None:
            self.interrupt = raised

    def raise_interrupt(self) -> None:
        raised, self.interrupt = self.interrupt, None
        if raised is not None:
            raise raised


class Run:
    """One operation's events: handed to on_event, and kept where the result needs
    them (problems, differences, the totals). on_event returning CANCEL, or raising,
    cancels the operation; what it raised is raised again when the call returns."""

    def __init__(self, on_event: Optional[OnEvent], threads: int, source: Optional[Interruptible] = None):
        whole(threads, "threads", 0xFFFFFFFF)
        if on_event is not None and not callable(on_event):
            raise argument(f"on_event must be callable, not {shortly(on_event)}")
        self.on_event = on_event
        self.source = source
        self.problems: List[Event] = []
        self.differences: List[Event] = []
        self.end: Optional[Event] = None
        self.raised: Optional[BaseException] = None
        self.callback = callback(_native.ON_EVENT, self._told, 1)
        self.options = _native.Options()
        lib.quodrel_options_init(ctypes.byref(self.options))
        self.options.threads = min(threads, 1 << 20)
        self.options.on_event = self.callback

    def _told(self, _context: Any, raw: Any) -> int:
        try:
            if self.raised is not None or (self.source is not None and self.source.interrupt is not None):
                return 1
            told = raw.contents
            if self.on_event is None and told.kind not in _KEPT:
                return 0  # (progress and entries: one of each per entry, wanted by no one)
            event = make_event(told)
            if event.kind in (EventKind.REFUSED, EventKind.FAILED):
                self.problems.append(event)
            elif event.kind == EventKind.DIFFERENCE:
                self.differences.append(event)
            elif event.kind == EventKind.END:
                self.end = event
            if self.on_event is not None and self.on_event(event) is CANCEL:
                return 1
            return 0
        except BaseException as raised:  # noqa: B902 - it must not cross the C call
            self.raised = raised
            return 1

    def stop(self, raised: BaseException) -> None:
        if self.raised is None:
            self.raised = raised
        if self.source is not None:
            self.source.stop(raised)

    def call(self, function: Callable[[], int]) -> int:
        """Runs the library's call with this run's callback (see off_main)."""
        return off_main(function, self.stop)

    def summary(self) -> Summary:
        end = self.end
        return Summary(end.files, end.folders, end.bytes_done) if end else Summary(0, 0, 0)

    def finish(self, code: int, path: Optional[str], allowed: Sequence[int] = ()) -> Summary:
        """Raises what the operation's result says, or gives its totals. The error
        names the file the FAILED event of the same error names, with the system's
        error number, or else `path` (the archive, or the folder a destination error
        concerns)."""
        if self.source is not None:
            self.source.raise_interrupt()
        if self.raised is not None:
            raise self.raised
        if code == ErrorCode.OK or code in allowed:
            return self.summary()
        where, system_error = path, 0
        if code != ErrorCode.INCOMPLETE:
            told = [event for event in self.problems if event.kind == EventKind.FAILED and event.error == code]
            if told:
                first = told[0]
                where = os.path.join(first.folder, first.path) if first.folder else first.path
                system_error = first.system_error
        failed = error(code, where, self.problems, system_error=system_error)
        if isinstance(failed, IncompleteError):
            failed.summary = self.summary()
        raise failed
