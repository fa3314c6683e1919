"""The Python module against the library it loads (a build tree's through
QUODREL_LIBRARY, or an unpacked package's), and against the quodrel program that
QUODREL_EXE names: what the module gives must be what the program does."""

import array
import copy
import ctypes
import enum
import errno
import gc
import gzip
import hashlib
import io
import mmap
import os
import pathlib
import pickle
import re
import resource
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import unittest.mock
import warnings
import weakref

import quodrel

PROGRAM = os.environ["QUODREL_EXE"]


def archive_bytes(records, count=None, data_offset=None, data=b""):
    """An archive laid out by hand: records are (offset, size, listing, children,
    name, name_length or None for the padded length)."""
    table = b""
    for offset, size, listing, children, name, length in records:
        length = len(name) // 4 * 4 + 4 if length is None else length
        table += struct.pack("<5i", offset, size, listing, children, length)
        table += name.ljust(max(length, 0), b"\0")[: max(length, 0)]
    count = len(records) if count is None else count
    data_offset = 16 + len(table) if data_offset is None else data_offset
    return b"CHELALIC" + struct.pack("<2i", count, data_offset) + table + data


def hostile_archive():
    """A folder and file extraction writes, one escaping the destination, one whose
    data lies past the archive's end, and a clash."""
    return archive_bytes(
        [
            (0, 0, 0, 1, b"ok", None),
            (0, 3, 0, 0, b"fine.txt", None),
            (3, 4, 0, 0, b"../evil", None),
            (7, 1000, 0, 0, b"cut.bin", None),
            (0, 0, 0, 0, b"ok", None),
        ],
        data=b"abcEVIL",
    )


def cancel(_event):
    return quodrel.CANCEL


def run(*arguments, cwd=None):
    return subprocess.run([PROGRAM, *arguments], capture_output=True, check=False, cwd=cwd)


def without_banner(printed):
    """The program's output after its banner line and the blank line below it."""
    first, blank, rest = printed.split("\n", 2)
    assert first.startswith("Quodrel ") and blank == "", printed
    return rest


class Tree(unittest.TestCase):
    """A scratch folder with a tree in it and the program's archive of that tree."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="quodrel-python-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.tree = self.path("tree")
        self.files = {
            "a.txt": b"hello\n",
            "sub/b.bin": bytes(range(256)) * 300,
            "sub/deeper/c.map": b"level",
            "\u00e9t\u00e9/\u65e5\u672c.txt": "UTF-8 names".encode(),
        }
        for name, data in self.files.items():
            self.write(os.path.join("tree", name), data)
        os.makedirs(self.path("tree/empty folder"))
        self.archive = self.path("tree.dat")
        self.assertEqual(run("-c", self.tree, self.archive, "-s").returncode, 0)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def write(self, name, data):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as out:
            out.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as stream:
            return stream.read()


class Reading(Tree):
    def test_entries_are_the_programs_listing(self):
        listing = run("-l", self.archive).stdout.decode()
        with quodrel.open(self.archive) as archive:
            entries = list(archive)
            self.assertEqual(len(archive), len(entries))
            self.assertTrue(archive.has_magic)
        # Every entry's path and size appear in the program's list, in its order.
        at = 0
        for entry in entries:
            at = listing.index(entry.path, at)
        files = {entry.path: entry.size for entry in entries if not entry.is_folder}
        self.assertEqual(files, {name: len(data) for name, data in self.files.items()})
        folders = {entry.path for entry in entries if entry.is_folder}
        self.assertEqual(folders, {"sub", "sub/deeper", "empty folder", "\u00e9t\u00e9"})
        self.assertFalse(any(entry.refusal for entry in entries))
        self.assertEqual(entries[-1], quodrel.open(self.archive)[-1])

    def test_every_source_reads_the_same(self):
        data = self.read("tree.dat")

        def mapped():
            with open(self.archive, "rb") as stream:
                return mmap.mmap(stream.fileno(), 0, access=mmap.ACCESS_READ)

        sources = [  # what opens it, what it opens
            ("path", quodrel.open, lambda: self.archive),
            ("pathlib", quodrel.open, lambda: pathlib.Path(self.archive)),
            ("bytes path", quodrel.open, lambda: os.fsencode(self.archive)),
            ("descriptor", quodrel.open, lambda: os.open(self.archive, os.O_RDONLY)),
            ("file", quodrel.open, lambda: open(self.archive, "rb")),  # noqa: SIM115 - the archive reads it
            ("BytesIO", quodrel.open, lambda: io.BytesIO(data)),
            ("mmap as a file", quodrel.open, mapped),  # (its seek() gave None before Python 3.13)
            ("bytes", quodrel.open_bytes, lambda: data),
            ("bytearray", quodrel.open_bytes, lambda: bytearray(data)),
            ("memoryview", quodrel.open_bytes, lambda: memoryview(data)),
            ("mmap", quodrel.open_bytes, mapped),
            ("array", quodrel.open_bytes, lambda: array.array("B", data)),
            ("every other byte", quodrel.open_bytes, lambda: memoryview(bytes(b for x in data for b in (x, 0)))[::2]),
        ]
        for name, opening, make in sources:
            with self.subTest(source=name):
                source = make()
                with opening(source) as archive:
                    self.assertEqual([e.path for e in archive], [e.path for e in quodrel.open_bytes(data)])
                    for path, expected in self.files.items():
                        self.assertEqual(archive.read(path), expected)
                if hasattr(source, "close"):
                    source.close()
                elif isinstance(source, int):
                    os.close(source)  # (the archive read a copy of it)

    def test_reads_at_offsets(self):
        data = self.files["sub/b.bin"]
        rows = [  # offset, size, expected
            (0, None, data),
            (10, 20, data[10:30]),
            (len(data) - 5, 100, data[-5:]),
            (len(data), 10, b""),
            (len(data) + 100, None, b""),
            (7, 0, b""),
        ]
        with quodrel.open(self.archive) as archive:
            for offset, size, expected in rows:
                with self.subTest(offset=offset, size=size):
                    self.assertEqual(archive.read("sub/b.bin", offset, size), expected)
            buffer = bytearray(16)
            self.assertEqual(archive.read_into("sub/b.bin", 250, buffer), 16)
            self.assertEqual(bytes(buffer), data[250:266])
            entry = archive.find("sub/b.bin")
            self.assertEqual(archive.read(entry, 1, 2), archive.read(entry.index, 1, 2))

    def test_file_object_reads_seeks_and_lines(self):
        data = self.files["sub/b.bin"]
        with quodrel.open(self.archive) as archive, archive.open("sub/b.bin") as stream:
            self.assertTrue(stream.readable() and stream.seekable())
            self.assertEqual(stream.name, "sub/b.bin")
            moves = [  # offset, whence, position, read size
                (100, io.SEEK_SET, 100, 7),
                (-7, io.SEEK_CUR, 100, 3),
                (-10, io.SEEK_END, len(data) - 10, 100),
                (5, io.SEEK_END, len(data) + 5, 1),
            ]
            for offset, whence, position, size in moves:
                with self.subTest(offset=offset, whence=whence):
                    self.assertEqual(stream.seek(offset, whence), position)
                    self.assertEqual(stream.read(size), data[position : position + size])
            stream.seek(0)
            self.assertEqual(stream.read(), data)
            with self.assertRaises(ValueError):
                stream.seek(-1)
        with quodrel.open(self.archive) as archive:
            with archive.open("a.txt") as text:
                self.assertEqual(list(io.TextIOWrapper(text)), ["hello\n"])

    def test_a_large_file_streams_in_flat_memory(self):
        size = 300 << 20
        os.makedirs(self.path("large"))
        with open(self.path("large/zeros.bin"), "wb") as out:
            out.truncate(size)
        with open(self.path("large/tail.bin"), "wb") as out:
            out.write(b"end")
        self.assertEqual(run("-c", self.path("large"), self.path("large.dat"), "-s").returncode, 0)
        os.remove(self.path("large/zeros.bin"))
        gc.collect()
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        digest = hashlib.sha256()
        with quodrel.open(self.path("large.dat")) as archive, archive.open("zeros.bin") as stream:
            while chunk := stream.read(1 << 20):
                digest.update(chunk)
        grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before  # KiB
        self.assertEqual(digest.hexdigest(), hashlib.sha256(bytes(size)).hexdigest())
        self.assertLess(grown, 32 << 10, "memory grew with the file")

    def test_reads_run_on_many_threads_and_close_waits_for_them(self):
        archive = quodrel.open(self.archive)
        failures = []

        def reader():
            try:
                for _ in range(200):
                    if archive.read("sub/b.bin", 3, 300) != self.files["sub/b.bin"][3:303]:
                        failures.append("wrong bytes")
            except quodrel.ArgumentError:
                pass  # closed under it: refused cleanly, never a crash
            except Exception as error:  # noqa: BLE001 - any other is a fault
                failures.append(repr(error))

        threads = [threading.Thread(target=reader) for _ in range(4)]
        for thread in threads:
            thread.start()
        archive.close()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [])
        self.assertTrue(archive.closed)
        with self.assertRaises(quodrel.ArgumentError):
            archive.read("a.txt")

    def test_what_the_caller_gave_is_let_go(self):
        # Without the cyclic collector (which may run late, or never), what a call was
        # given is let go when it returns or the archive closes: a bytearray can be
        # resized again, a file object is freed (and so closed and flushed).
        if gc.isenabled():
            gc.disable()
            self.addCleanup(gc.enable)
        unclosed = warnings.catch_warnings()  # (file objects are left unclosed on purpose)
        unclosed.__enter__()
        self.addCleanup(unclosed.__exit__, None, None, None)
        warnings.simplefilter("ignore", ResourceWarning)
        data = self.read("tree.dat")

        class OnEvent:
            def __call__(self, event):
                return None

        def damaged(opening, source):
            with self.assertRaises(quodrel.DamagedError):
                opening(source)

        objects = [  # what is given, what is done with it
            (lambda: open(self.archive, "rb"), lambda stream: quodrel.open(stream).close()),  # noqa: SIM115
            (lambda: open(self.archive, "rb"), lambda stream: quodrel.open(stream).read("a.txt")),  # noqa: SIM115
            (lambda: io.BytesIO(data[:40]), lambda stream: damaged(quodrel.open, stream)),
            (OnEvent, lambda told: quodrel.extract(self.archive, self.path("out"), on_event=told)),
            (OnEvent, lambda told: quodrel.open(io.BytesIO(data)).extractall(self.path("out"), on_event=told)),
            (io.BytesIO, lambda sink: quodrel.create_listed({"a": b"x"}, sink)),
            (lambda: io.BytesIO(b"x"), lambda source: quodrel.create_listed({"a": source}, io.BytesIO())),
        ]
        for number, (make, use) in enumerate(objects):
            with self.subTest(row=number):
                given = make()
                use(given)
                freed = weakref.ref(given)
                del given
                self.assertIsNone(freed())
        buffers = [  # the bytes in a bytearray, what is done with it
            (data, lambda buffer: quodrel.open_bytes(buffer).close()),
            (data, lambda buffer: quodrel.open_bytes(buffer).read("a.txt")),
            (data[:40], lambda buffer: damaged(quodrel.open_bytes, buffer)),
            (data, lambda buffer: quodrel.create_listed({"a": buffer}, io.BytesIO())),
        ]
        for number, (held, use) in enumerate(buffers):
            with self.subTest(buffer=number):
                buffer = bytearray(held)
                use(buffer)
                buffer.extend(b"more")  # (BufferError while the module holds it)
        # An archive written to a file object nobody closes is whole once it is freed.
        quodrel.create_listed({"a.txt": b"hello\n"}, open(self.path("made.dat"), "wb"))  # noqa: SIM115
        self.assertEqual(quodrel.open(self.path("made.dat")).read("a.txt"), b"hello\n")


class LikeZipfileAndTarfile(Tree):
    """The calls zipfile.ZipFile and tarfile.TarFile share, as their documentation
    describes them, on an archive of the tree."""

    FOLDERS = ["sub/", "sub/deeper/", "empty folder/", "\u00e9t\u00e9/"]

    def written(self, folder):
        """The files below a folder, by their paths there, with their bytes."""
        found = {}
        for parent, _, names in os.walk(self.path(folder)):
            for name in names:
                path = os.path.join(parent, name)
                found[os.path.relpath(path, self.path(folder))] = self.read(path)
        return found

    def test_names_and_infos(self):
        with quodrel.open(self.archive) as archive:
            names = archive.namelist()  # every member, a folder's name ending in "/"
            self.assertEqual(sorted(names), sorted([*self.files, *self.FOLDERS]))
            self.assertEqual(archive.getnames(), [name.rstrip("/") for name in names])
            self.assertEqual([info.filename for info in archive.infolist()], names)
            self.assertEqual(archive.getmembers(), archive.infolist())
            b_bin = archive.infolist()[names.index("sub/b.bin")]
            rows = [  # a member as it is named, its path, its size, a folder
                ("sub/b.bin", "sub/b.bin", len(self.files["sub/b.bin"]), False),
                (b"sub/b.bin", "sub/b.bin", len(self.files["sub/b.bin"]), False),
                (pathlib.PurePosixPath("sub/b.bin"), "sub/b.bin", len(self.files["sub/b.bin"]), False),
                (pathlib.PureWindowsPath("sub\\b.bin"), "sub/b.bin", len(self.files["sub/b.bin"]), False),
                (b_bin, "sub/b.bin", len(self.files["sub/b.bin"]), False),
                ("\u00e9t\u00e9/\u65e5\u672c.txt", "\u00e9t\u00e9/\u65e5\u672c.txt", 11, False),
                ("sub", "sub", 0, True),
                ("sub/deeper/", "sub/deeper", 0, True),
            ]
            for member, path, size, folder in rows:
                with self.subTest(member=member):
                    info = archive.getinfo(member)
                    self.assertEqual((info.path, info.size, info.file_size, info.is_dir()), (path, size, size, folder))
                    self.assertEqual((info.name, info.isdir(), info.isfile()), (path, folder, not folder))
                    self.assertIn(member, archive)
                    self.assertEqual(archive[member], info)
                    self.assertEqual(archive.getmember(member), info)
            elsewhere = quodrel.Entry(0, "elsewhere.txt", 3, False, quodrel.Refusal.WRITTEN)  # another archive's
            for absent in ["nothing", "a.txt/", "sub/b", b"SUB/B.BIN", pathlib.PurePosixPath("sub/x"), "", elsewhere]:
                with self.subTest(absent=absent):
                    with self.assertRaises(KeyError) as raised:
                        archive.getinfo(absent)
                    self.assertIsInstance(raised.exception, quodrel.NotFoundError)
                    self.assertNotIn(absent, archive)
                    self.assertRaises(KeyError, lambda: archive[absent])
            self.assertEqual(archive[-1], archive.infolist()[-1])
            self.assertEqual(archive[1:3], archive.infolist()[1:3])
            for index in (len(archive), -len(archive) - 1):
                with self.assertRaises(IndexError) as raised:
                    archive[index]
                self.assertIsInstance(raised.exception, quodrel.Error)
                self.assertIn(f"(entry {index} of {len(archive)})", str(raised.exception))

    def test_a_refused_member_is_there_and_refused(self):
        with quodrel.open(self.write("hostile.dat", hostile_archive())) as archive:
            self.assertEqual(archive.namelist(), ["ok/", "ok/fine.txt", "../evil", "cut.bin", "ok/"])
            refused = [("cut.bin", quodrel.Refusal.DATA_CUT_SHORT), ("../evil", quodrel.Refusal.UNSAFE_NAME)]
            for member, refusal in refused:
                with self.subTest(member=member):
                    self.assertIn(member, archive)
                    self.assertEqual(archive.getinfo(member).refusal, refusal)
                    with self.assertRaises(quodrel.RefusedError):
                        archive.extract(member, self.path("out"))
            self.assertEqual(archive.getinfo("ok").index, 0)  # the folder extraction writes
        self.assertFalse(os.path.exists(self.path("out")))

    def test_extract_and_extractall(self):
        with quodrel.open(self.archive) as archive:
            rows = [  # the member, the files it writes
                ("sub/b.bin", ["sub/b.bin"]),
                (pathlib.PurePosixPath("a.txt"), ["a.txt"]),
                (archive.getinfo("sub/deeper/c.map"), ["sub/deeper/c.map"]),
                ("sub", ["sub/b.bin", "sub/deeper/c.map"]),  # a folder, with all inside it
            ]
            for number, (member, paths) in enumerate(rows):
                with self.subTest(member=member):
                    out = self.path(f"one-{number}")
                    where = archive.extract(member, out)
                    self.assertEqual(where, os.path.join(out, archive.getinfo(member).path))
                    self.assertEqual(self.written(f"one-{number}"), {path: self.files[path] for path in paths})
            os.makedirs(self.path("here"))
            os.chdir(self.path("here"))
            self.addCleanup(os.chdir, os.path.dirname(self.work))
            self.assertEqual(archive.extract("a.txt"), os.path.join(self.path("here"), "a.txt"))
            self.assertEqual(self.written("here"), {"a.txt": b"hello\n"})
            everything = quodrel.Summary(4, 4, sum(map(len, self.files.values())))
            self.assertEqual(archive.extractall(self.path("all")), everything)
            self.assertEqual(self.written("all"), self.files)
            self.assertEqual(
                archive.extractall(self.path("some"), members=["a.txt", archive.getinfo("sub/deeper")]).files, 2
            )
            self.assertEqual(self.written("some"), {name: self.files[name] for name in ["a.txt", "sub/deeper/c.map"]})
            # Calls in the order of this module's older extract(folder, paths) fail
            # loudly and write nothing.
            for call in [
                lambda: archive.extract(self.path("older")),
                lambda: archive.extract(self.path("older"), ["a.txt"]),
                lambda: archive.extractall(self.path("older"), ["a.txt", "nothing"]),
                lambda: archive.extractall(self.path("older"), ["*.txt"]),
            ]:
                with self.assertRaises(KeyError):
                    call()
            self.assertFalse(os.path.exists(self.path("older")))

    def test_open_and_extractfile(self):
        with quodrel.open(self.archive) as archive:
            for mode in ("r", "rb"):
                with archive.open("sub/b.bin", mode) as stream:
                    self.assertEqual(stream.read(), self.files["sub/b.bin"])
            self.assertEqual(archive.extractfile("a.txt").read(), b"hello\n")
            self.assertEqual(archive.extractfile(archive.getinfo("a.txt")).read(), b"hello\n")
            self.assertIsNone(archive.extractfile("sub"))
            for mode in ("w", "a", 1024):  # (1024: a buffer size where the mode now stands)
                with self.subTest(mode=mode), self.assertRaises(quodrel.ArgumentError):
                    archive.open("a.txt", mode)

    def test_is_archive(self):
        data = self.read("tree.dat")
        self.write("empty", b"")
        self.write("text.txt", b"plain text, not an archive at all")
        rows = [  # what is asked about, the answer
            (self.archive, True),
            (os.fsencode(self.archive), True),
            (pathlib.Path(self.archive), True),
            (io.BytesIO(data), True),
            (self.path("text.txt"), False),
            (self.path("empty"), False),
            (self.path("missing.dat"), False),
            (self.tree, False),
            (io.BytesIO(data[:40]), False),  # the magic, but its table cut short
        ]
        for source, answer in rows:
            with self.subTest(source=source):
                if isinstance(source, io.BytesIO):
                    source.seek(3)
                self.assertIs(quodrel.is_archive(source), answer)
                if isinstance(source, io.BytesIO):
                    self.assertEqual(source.tell(), 3)
        with open(self.archive, "rb") as stream:
            self.assertTrue(quodrel.is_archive(stream))
            self.assertTrue(quodrel.is_archive(stream.fileno()))
        self.assertRaises(quodrel.ArgumentError, quodrel.is_archive, 1.5)

    def test_mypy_strict_takes_what_runs_and_refuses_misuse(self):
        # A program as a zipfile or tarfile user writes it, type-checked against the
        # module (its copy beside the program): what runs passes, misuse is refused.
        program = """
import gzip, io, mmap, pathlib, shutil
from typing import List, Optional
import quodrel

with quodrel.open("tree.dat") as archive:
    names: List[str] = archive.namelist()
    size: int = archive.getinfo("a.txt").file_size
    entry: quodrel.Entry = archive[pathlib.PurePosixPath("a.txt")]
    found: bool = b"a.txt" in archive and entry in archive
    where: str = archive.extract(entry, pathlib.Path("out"))
    archive.extractall("out", [entry, "sub/", pathlib.PurePosixPath("sub")], on_event=lambda event: True)
    with archive.open("a.txt") as stream, open("copy", "wb") as copy:
        shutil.copyfileobj(stream, copy)
        text: str = io.TextIOWrapper(stream, encoding="utf-8").read()
with gzip.open("tree.dat.gz") as unpacked, open("tree.dat", "rb") as raw:
    quodrel.open(unpacked).close()
    quodrel.open(raw).close()
    quodrel.open_bytes(mmap.mmap(raw.fileno(), 0, access=mmap.ACCESS_READ)).close()
    quodrel.create_listed({"a": unpacked, "b": b"x", "c": None}, gzip.open("made.dat.gz", "wb"))
quodrel.create("tree", b"made.dat", on_event=lambda event: quodrel.CANCEL)
try:
    quodrel.open(3)
except quodrel.OpenError as error:
    number: Optional[int] = error.errno
quodrel.open(1.5)  # refused
quodrel.open(open("tree.dat"))  # refused
quodrel.open_bytes("tree.dat")  # refused
quodrel.create_listed({"a": "text"}, "made.dat")  # refused
quodrel.create_listed({"a": b"x"}, io.StringIO())  # refused
"""
        self.write("typed/program.py", program.encode())
        module = os.path.dirname(quodrel.__file__)
        shutil.copytree(module, self.path("typed/quodrel"), ignore=shutil.ignore_patterns("*.so*", "__pycache__"))
        checked = subprocess.run(
            ["/usr/bin/python3", "-m", "mypy", "--strict", "--cache-dir", self.path("typed/cache"), "program.py"],
            capture_output=True,
            text=True,
            check=False,
            cwd=self.path("typed"),
        )
        refused = {number for number, line in enumerate(program.split("\n"), 1) if line.endswith("# refused")}
        errors = {int(line.split(":")[1]) for line in checked.stdout.splitlines() if ": error:" in line}
        self.assertEqual((errors, checked.returncode), (refused, 1), checked.stdout + checked.stderr)


class Operations(Tree):
    def test_created_archives_are_the_programs_bytes(self):
        for threads in (0, 1, 3):
            with self.subTest(threads=threads):
                made = self.path(f"made-{threads}.dat")
                summary = quodrel.create(self.tree, made, threads=threads)
                self.assertEqual(self.read(f"made-{threads}.dat"), self.read("tree.dat"))
                self.assertEqual(summary, quodrel.Summary(len(self.files), 4, sum(map(len, self.files.values()))))

    def test_event_texts_are_the_programs_output(self):
        os.chdir(self.work)
        self.addCleanup(os.chdir, os.path.dirname(self.work))
        for operation, arguments in [
            ("extract", ("-e", "tree.dat", "by-program")),
            ("create", ("-c", "tree", "by-program.dat")),
        ]:
            with self.subTest(operation=operation):
                texts = []
                told = lambda event: texts.append(event.text)  # noqa: E731
                if operation == "extract":
                    quodrel.extract("tree.dat", "by-module", on_event=told, threads=1)
                else:
                    quodrel.create("tree", "by-program.dat", on_event=told)
                printed = run(*arguments).stdout.decode()
                self.assertEqual("".join(texts), without_banner(printed))

    def test_extracts_all_or_chosen_entries(self):
        rows = [  # chosen paths, the files written
            (None, set(self.files)),
            (["sub"], {"sub/b.bin", "sub/deeper/c.map"}),
            (["*.txt"], {"a.txt"}),
            (["sub/deeper/c.map", "a.txt"], {"a.txt", "sub/deeper/c.map"}),
            ("a.txt", {"a.txt"}),
            ([pathlib.PurePosixPath("sub/deeper"), b"a.txt"], {"a.txt", "sub/deeper/c.map"}),
            ([quodrel.open(self.archive).getinfo("sub/b.bin")], {"sub/b.bin"}),
        ]
        for number, (chosen, expected) in enumerate(rows):
            with self.subTest(chosen=chosen):
                out = self.path(f"out-{number}")
                with quodrel.open(self.archive) as archive:
                    quodrel.extract(archive, out, chosen, threads=2)
                written = {
                    os.path.relpath(os.path.join(folder, name), out)
                    for folder, _, names in os.walk(out)
                    for name in names
                }
                self.assertEqual(written, expected)
                for name in written:
                    self.assertEqual(self.read(os.path.join(f"out-{number}", name)), self.files[name])

    def test_compare_and_update(self):
        self.assertEqual(quodrel.compare(self.archive, self.tree), [])
        self.write("tree/a.txt", b"changed")
        self.write("tree/new.txt", b"new")
        differences = quodrel.compare(quodrel.open(self.archive), self.tree)
        self.assertEqual(
            [(event.path, event.difference) for event in differences],
            [("a.txt", quodrel.Difference.DIFFERS), ("new.txt", quodrel.Difference.ONLY_IN_FOLDER)],
        )
        self.assertEqual(differences[0].text, "Differs a.txt\n")
        update_folder = self.path("update")
        self.write("update/a.txt", b"changed")
        self.write("update/new.txt", b"new")
        quodrel.update(self.archive, update_folder)
        self.assertEqual(quodrel.compare(self.archive, self.tree), [])
        self.assertEqual(run("-c", self.tree, self.path("again.dat"), "-s").returncode, 0)
        self.assertEqual(self.read("tree.dat"), self.read("again.dat"))

    def test_on_event_cancels_only_with_cancel(self):
        # A progress bar's update() returns True when it redraws (tqdm does): that goes on.
        class Bar:
            count = 0

            def update(self, steps=1):
                self.count += steps
                return True

        for answer in [True, 1, "stop", object(), quodrel.CancelledError]:
            with self.subTest(answer=answer):
                bar = Bar()
                summary = quodrel.extract(
                    self.archive, self.path(f"out-{bar.count}-{id(answer)}"), on_event=lambda e: bar.update() and answer
                )
                self.assertEqual(summary.files, len(self.files))
                self.assertGreater(bar.count, len(self.files))
        with self.assertRaises(quodrel.CancelledError):
            quodrel.extract(self.archive, self.path("cancelled"), on_event=lambda e: quodrel.CANCEL)
        self.assertEqual(repr(quodrel.CANCEL), "quodrel.CANCEL")

    def test_on_event_cancels_and_nothing_is_lost(self):
        old = self.write("kept.dat", b"an older archive")

        class Stop(Exception):
            pass

        def raising(event):
            if event.kind == quodrel.EventKind.ENTRY:
                raise Stop()

        rows = [  # what on_event does, what the call raises
            (lambda event: quodrel.CANCEL if event.kind == quodrel.EventKind.ENTRY else None, quodrel.CancelledError),
            (raising, Stop),
        ]
        for on_event, raised in rows:
            with self.subTest(raised=raised.__name__):
                with self.assertRaises(raised):
                    quodrel.create(self.tree, old, on_event=on_event)
                self.assertEqual(self.read("kept.dat"), b"an older archive")
                with self.assertRaises(raised):
                    quodrel.extract(self.archive, self.path("cancelled"), on_event=on_event, threads=1)
                written = [name for _, _, names in os.walk(self.path("cancelled")) for name in names]
                self.assertLessEqual(len(written), 1)
                for name in written:  # a file that is there is whole
                    self.assertIn(name, {os.path.basename(path) for path in self.files})
        self.assertEqual(sorted(os.listdir(self.work)), sorted(["tree", "tree.dat", "kept.dat", "cancelled"]))


class CreatingFromMemory(Tree):
    """create_listed: entries given in memory make the archive -c makes of them on disk."""

    def sources(self):
        """The tree's files, each from another kind of source."""
        kinds = [bytes, bytearray, memoryview, io.BytesIO]
        listed = [(name, kinds[number % 4](data)) for number, (name, data) in enumerate(self.files.items())]
        return [*listed, ("empty folder", None), ("sub", None)]

    def test_listed_archives_are_the_programs_bytes(self):
        with open(self.path("tree/sub/b.bin"), "rb") as real_file:
            rows = {  # the entries given, where the archive goes
                "pairs to a path": (self.sources, lambda: self.path("made.dat")),
                "a mapping to a path": (lambda: {**self.files, "empty folder": None}, lambda: self.path("made.dat")),
                "PurePaths and a real file": (
                    lambda: [(pathlib.PurePosixPath(name), data) for name, data in self.files.items()]
                    + [("sub/b.bin", real_file), ("empty folder", None)],
                    lambda: self.path("made.dat"),
                ),
                "to a file object": (self.sources, io.BytesIO),
                "as infolist() names them": (
                    lambda: [
                        (info.filename, None if info.is_dir() else quodrel.open(self.archive).read(info))
                        for info in quodrel.open(self.archive).infolist()
                    ],
                    lambda: self.path("made.dat"),
                ),
            }
            for name, (entries, target) in rows.items():
                with self.subTest(name):
                    listed = entries()
                    if name == "PurePaths and a real file":
                        listed = [item for item in listed if item[0] != pathlib.PurePosixPath("sub/b.bin")]
                    archive = target()
                    summary = quodrel.create_listed(listed, archive)
                    made = archive.getvalue() if isinstance(archive, io.BytesIO) else self.read("made.dat")
                    self.assertEqual(made, self.read("tree.dat"))
                    self.assertEqual(summary, quodrel.Summary(len(self.files), 4, sum(map(len, self.files.values()))))

    def test_events_and_refusals_are_the_programs(self):
        self.write("odd/a:b", b"a name -c cannot store")
        self.write("odd/ok", b"fine")
        printed = run("-c", "odd", "odd.dat", cwd=self.work)
        self.assertEqual(printed.returncode, 1)
        expected = self.read("odd.dat")
        os.remove(self.path("odd.dat"))
        texts = []
        with self.assertRaises(quodrel.IncompleteError) as raised:
            quodrel.create_listed(
                {"a:b": b"a name -c cannot store", "ok": b"fine"},
                self.path("odd.dat"),
                on_event=lambda event: texts.append(event.text),
            )
        self.assertEqual(self.read("odd.dat"), expected)
        self.assertEqual([event.refusal for event in raised.exception.problems], [quodrel.Refusal.NAME_NOT_STORABLE])
        self.assertEqual(
            "".join(texts).replace(self.work + "/", ""),
            without_banner(printed.stdout.decode()).replace("odd/", ""),
        )

    def test_a_failed_creation_keeps_the_archive_there(self):
        old = self.write("kept.dat", b"an older archive")
        os.symlink("kept.dat", self.path("link.dat"))
        fifo = self.path("tree/fifo.dat")
        os.mkfifo(fifo)
        os.symlink("fifo.dat", self.path("tree/fifo-link.dat"))
        readonly = self.write("tree/readonly.dat", b"an older archive")
        os.chmod(readonly, 0o444)
        special = ["fifo.dat", "fifo-link.dat", "readonly.dat", "empty folder", "\u00e9t\u00e9"]

        class Failing(io.BytesIO):
            def read(self, size=-1):
                raise OSError(errno.EIO, "the medium failed")

        class Shrinking(io.BytesIO):  # gives 3 of its 8 bytes
            def read(self, size=-1):
                left = 3 - self.tell()
                return super().read(min(size, left)) if left > 0 else b""

        class Full(io.BytesIO):
            def write(self, data):
                raise OSError(errno.ENOSPC, "no space left")

        rows = [  # the entries, where they go, on_event, the error raised, its cause
            ([("a", Failing(b"12345"))], old, None, quodrel.OpenError, OSError),
            ([("a", Shrinking(b"12345678"))], old, None, quodrel.ChangedError, None),
            ([("a", b"x")], old, cancel, quodrel.CancelledError, None),
            ([("a", b"x")], self.path("link.dat"), cancel, quodrel.CancelledError, None),
            ([("a", b"x")], Full(), None, quodrel.WriteError, OSError),
            ([("a", b"x")], self.path("no/such/folder.dat"), None, quodrel.CreateError, None),
            # What -c does not replace by an archive: a folder, a FIFO (or a device), a
            # read-only archive (only as root may it be written, as -c lets it).
            ([("a", b"x")], self.path("tree/sub"), None, quodrel.CreateError, None),
            ([("a", b"x")], fifo, None, quodrel.CreateError, None),
            ([("a", b"x")], self.path("tree/fifo-link.dat"), None, quodrel.CreateError, None),
            *([([("a", b"x")], readonly, None, quodrel.CreateError, None)] if os.geteuid() != 0 else []),
        ]
        numbers = {  # the errno of a failed creation
            self.path("no/such/folder.dat"): errno.ENOENT,
            self.path("tree/sub"): errno.EISDIR,
            readonly: errno.EACCES,
        }
        for entries, target, on_event, kind, cause in rows:
            with self.subTest(kind=kind.__name__, target=target):
                with self.assertRaises(kind) as raised:
                    quodrel.create_listed(entries, target, on_event=on_event)
                if cause is not None:
                    self.assertIsInstance(raised.exception.__cause__, cause)
                if target in numbers:
                    self.assertEqual(raised.exception.errno, numbers[target])
                self.assertEqual(self.read("kept.dat"), b"an older archive")
                self.assertEqual(sorted(os.listdir(self.work)), ["kept.dat", "link.dat", "tree", "tree.dat"])
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))
        self.assertEqual(self.read("tree/readonly.dat"), b"an older archive")
        self.assertEqual(sorted(os.listdir(self.path("tree"))), sorted(["a.txt", "sub", *special]))
        # Complete, it replaces the link's target, and keeps its mode.
        os.chmod(old, 0o640)
        quodrel.create_listed(self.sources(), self.path("link.dat"))
        self.assertTrue(os.path.islink(self.path("link.dat")))
        self.assertEqual(self.read("kept.dat"), self.read("tree.dat"))
        self.assertEqual(stat.S_IMODE(os.stat(old).st_mode), 0o640)


class Failures(Tree):
    def test_every_error_is_its_own_exception(self):
        hostile = self.write("hostile.dat", hostile_archive())
        self.write("not-an-archive.txt", b"plain text, not an archive at all")
        deep = [(0, 0, 0, 1, b"d", None)] * 256 + [(0, 0, 0, 0, b"d", None)]
        failing = io.BytesIO(self.read("tree.dat"))
        opened_failing = quodrel.open(failing)
        failing.read = None  # every read from now on fails
        closed = quodrel.open(self.archive)
        closed.close()
        with quodrel.open(self.archive) as archive:
            pass
        rows = [  # error class, what raises it, the path it names
            (quodrel.ArgumentError, lambda: quodrel.create(self.tree, self.path("x.dat"), threads=-1), None),
            (quodrel.ArgumentError, lambda: closed.read("a.txt"), self.archive),
            (quodrel.ArgumentError, lambda: archive.entries, self.archive),
            (quodrel.OpenError, lambda: quodrel.open(self.path("missing.dat")), self.path("missing.dat")),
            (quodrel.OpenError, lambda: quodrel.open(self.tree), self.tree),
            (quodrel.OpenError, lambda: quodrel.create(self.path("none"), self.path("x.dat")), self.path("none")),
            (quodrel.TableCutShortError, lambda: quodrel.open_bytes(self.read("tree.dat")[:40]), "archive"),
            (quodrel.BadNameLengthError, lambda: quodrel.open_bytes(archive_bytes([(0, 0, 0, 0, b"x", 300)])), None),
            (quodrel.TooDeepError, lambda: quodrel.open_bytes(archive_bytes(deep)), None),
            (quodrel.NotAnArchiveError, lambda: quodrel.open(self.path("not-an-archive.txt"), require_magic=True), None),
            (quodrel.NotFoundError, lambda: quodrel.open(self.archive).read("nothing/here"), "nothing/here"),
            (quodrel.NotAFileError, lambda: quodrel.open(self.archive).read("sub"), "sub"),
            (quodrel.NotAFileError, lambda: quodrel.open(self.archive).open("sub/"), "sub"),
            (quodrel.RefusedError, lambda: quodrel.open(hostile).read(3), "cut.bin"),
            (quodrel.ReadError, lambda: opened_failing.read("a.txt"), "a.txt"),
            (quodrel.IncompleteError, lambda: quodrel.extract(hostile, self.path("out")), hostile),
            (quodrel.IncompleteError, lambda: quodrel.extract(self.archive, self.path("o"), ["none"]), self.archive),
            (quodrel.CancelledError, lambda: quodrel.create(self.tree, self.path("x.dat"), on_event=cancel), None),
            (quodrel.DestinationError, lambda: quodrel.extract(self.archive, self.path("tree/a.txt/x")), None),
            (quodrel.CreateError, lambda: quodrel.create(self.tree, self.path("no/such/x.dat")), None),
            (quodrel.LimitError, lambda: quodrel.create(self.deep_tree(), self.path("x.dat")), None),
            (quodrel.NotUpdatedError, lambda: quodrel.update(hostile, self.tree), hostile),
            (quodrel.DescriptorsError, lambda: self.with_few_descriptors(), None),
            (quodrel.WriteError, lambda: self.with_a_full_disk(), None),
        ]
        for kind, call, path in rows:
            with self.subTest(kind=kind.__name__, path=path):
                with self.assertRaises(kind) as raised:
                    call()
                error = raised.exception
                self.assertIsInstance(error, quodrel.Error)
                self.assertEqual(error.code, kind.code)
                self.assertIn(error.code.text, str(error))
                if path is not None:
                    self.assertEqual(error.path, path)
        self.assertFalse(os.path.exists(self.path("x.dat")))
        self.assertFalse(os.path.exists(self.path("out/evil")) or os.path.exists(self.path("evil")))
        opened_failing.close()

    def test_errors_carry_what_the_system_said(self):
        self.write("dat.dat", b"")
        rows = [  # what raises, the error class, its errno, the path it names
            (lambda: quodrel.open(self.path("missing.dat")), quodrel.OpenError, errno.ENOENT, "missing.dat"),
            (lambda: quodrel.open(self.tree), quodrel.OpenError, errno.EISDIR, "tree"),
            (lambda: quodrel.open(self.path("tree/a.txt/x.dat")), quodrel.OpenError, errno.ENOTDIR, "tree/a.txt/x.dat"),
            (lambda: quodrel.create(self.path("none"), self.path("x.dat")), quodrel.OpenError, errno.ENOENT, "none"),
            (
                lambda: quodrel.create(self.tree, self.path("no/such/x.dat")),
                quodrel.CreateError,
                errno.ENOENT,
                "no/such/x.dat",
            ),
            (
                lambda: quodrel.extract(self.archive, self.path("tree/a.txt/x")),
                quodrel.DestinationError,
                errno.ENOTDIR,
                "tree/a.txt/x",
            ),
            (
                lambda: quodrel.extract(self.archive, self.path("no-parent/x"), ["nothing"]),
                quodrel.DestinationError,
                errno.ENOENT,
                "no-parent/x",
            ),
            (
                lambda: quodrel.open(self.archive).extractall(self.path("no-parent/x"), ["a.txt"]),
                quodrel.DestinationError,
                errno.ENOENT,
                "no-parent/x",
            ),
        ]
        for call, kind, number, path in rows:
            with self.subTest(kind=kind.__name__, path=path):
                with self.assertRaises(kind) as raised:
                    call()
                error = raised.exception
                self.assertIsInstance(error, OSError)
                self.assertEqual((error.errno, error.strerror), (number, os.strerror(number)))
                self.assertEqual((error.path, error.filename), (self.path(path), self.path(path)))
                self.assertIn(os.strerror(number), str(error))
                # Handed back by a process pool (pickled), it still tells the same.
                copied = pickle.loads(pickle.dumps(error))
                fields = ("errno", "strerror", "filename", "path", "code", "problems")
                self.assertEqual((type(copied), str(copied)), (type(error), str(error)))
                self.assertEqual([getattr(copied, f) for f in fields], [getattr(error, f) for f in fields])

    def deep_tree(self):
        deep = self.path("deep", *["d" * 200] * 3)
        os.makedirs(deep)
        return self.path("deep")

    def with_few_descriptors(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        lowest_free = os.dup(0)
        os.close(lowest_free)
        resource.setrlimit(resource.RLIMIT_NOFILE, (lowest_free + 1, hard))  # one more file
        try:
            quodrel.create(self.tree, self.path("x.dat"))
        finally:
            resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))

    def with_a_full_disk(self):
        # A file size limit makes writes fail as on a full disk (with the signal it
        # would send ignored, as the program's callers may have it).
        old_handler = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, hard))
        try:
            quodrel.create(self.tree, self.path("x.dat"))
        finally:
            resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
            signal.signal(signal.SIGXFSZ, old_handler)

    def test_a_hostile_archive_is_refused_entry_by_entry(self):
        hostile = self.write("hostile.dat", hostile_archive())
        with quodrel.open(hostile) as archive:
            refusals = {entry.path: entry.refusal for entry in archive}
            self.assertEqual(
                [(entry.path, entry.refusal) for entry in archive.check()],
                [
                    ("../evil", quodrel.Refusal.UNSAFE_NAME),
                    ("cut.bin", quodrel.Refusal.DATA_CUT_SHORT),
                    ("ok", quodrel.Refusal.NAME_CLASH),
                ],
            )
            self.assertEqual(refusals["ok/fine.txt"], quodrel.Refusal.WRITTEN)
            self.assertEqual(archive.read("ok/fine.txt"), b"abc")
            with self.assertRaises(quodrel.RefusedError) as raised:
                archive.find("cut.bin")
            self.assertEqual(raised.exception.refusal, quodrel.Refusal.DATA_CUT_SHORT)
            self.assertEqual(raised.exception.entry.index, 3)
            self.assertIsNone(archive.find("evil"))
        texts = []
        with self.assertRaises(quodrel.IncompleteError) as raised:
            quodrel.extract(hostile, self.path("out"), on_event=lambda event: texts.append(event.text))
        printed = run("-e", "hostile.dat", "out", cwd=self.work).stdout.decode()
        self.assertEqual("".join(texts).replace(self.work + "/", ""), without_banner(printed))
        self.assertEqual(
            [(event.path, event.refusal) for event in raised.exception.problems],
            [
                ("../evil", quodrel.Refusal.UNSAFE_NAME),
                ("cut.bin", quodrel.Refusal.DATA_CUT_SHORT),
                ("ok", quodrel.Refusal.NAME_CLASH),
            ],
        )
        self.assertEqual(raised.exception.summary, quodrel.Summary(1, 1, 3))
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["ok"])
        self.assertEqual(os.listdir(self.path("out/ok")), ["fine.txt"])


class Misuse(Tree):
    """What a caller gets wrong, or a signal does, never acts on another path, gives
    other bytes or crashes: it raises."""

    def test_a_nul_in_a_path_is_refused_not_cut_short(self):
        archive = quodrel.open(self.archive)
        self.addCleanup(archive.close)
        rows = [  # the call, what must not exist after it
            (lambda: archive.read("a.txt\0x"), None),
            (lambda: archive.find(b"a.txt\0x"), None),
            (lambda: quodrel.open(self.archive + "\0x"), None),
            (lambda: quodrel.extract(self.archive, self.path("out") + "\0x"), "out"),
            (lambda: quodrel.extract(self.archive, self.path("chosen"), ["a.txt\0x"]), "chosen"),
            (lambda: quodrel.create(self.tree, self.path("new.dat") + "\0x"), "new.dat"),
            (lambda: quodrel.update(self.archive, self.tree + "\0x"), None),
            (lambda: quodrel.compare(self.archive, self.tree + "\0x"), None),
        ]
        for number, (call, absent) in enumerate(rows):
            with self.subTest(row=number):
                with self.assertRaises(quodrel.ArgumentError) as raised:
                    call()
                self.assertIn("NUL", str(raised.exception))
                if absent:
                    self.assertFalse(os.path.exists(self.path(absent)))

    def test_every_misuse_raises_a_quodrel_error(self):
        archive = quodrel.open(self.archive)
        self.addCleanup(archive.close)
        reading, writing = os.pipe()
        self.addCleanup(os.close, reading)
        self.addCleanup(os.close, writing)
        text = open(self.archive, encoding="latin-1")  # noqa: SIM115 - a text file object
        self.addCleanup(text.close)

        data = self.read("tree.dat")

        class Sized(io.BytesIO):  # a file object whose seek() tells `size`
            def __init__(self, size):
                super().__init__(data)
                self.size = size

            def seek(self, offset, whence=io.SEEK_SET):
                super().seek(offset, whence)
                return self.size

            def tell(self):
                return self.size

        class NoSeek:  # a socket's or a pipe's reading end
            def read(self, size=-1):
                return b""

        rows = [  # the call, the built-in exception it is as well
            (lambda: quodrel.open(bytearray(self.read("tree.dat"))), TypeError),
            (lambda: quodrel.open(1.5), TypeError),
            (lambda: quodrel.open(reading), ValueError),
            (lambda: quodrel.open_bytes(self.archive), TypeError),
            (lambda: pickle.dumps(archive), TypeError),
            (lambda: copy.copy(archive), TypeError),
            (lambda: archive[1.5], TypeError),
            (lambda: archive[10**6], IndexError),
            (lambda: 1.5 in archive, TypeError),
            (lambda: archive.extract(1.5), TypeError),
            (lambda: archive.extractall(self.path("x"), 7), TypeError),
            (lambda: archive.open("a.txt", "w"), ValueError),
            (lambda: quodrel.create_listed([("a", 1)], self.path("x.dat")), TypeError),
            (lambda: quodrel.create_listed([("a",)], self.path("x.dat")), ValueError),
            (lambda: quodrel.create_listed(5, self.path("x.dat")), TypeError),
            (lambda: quodrel.create_listed({"a": b"x"}, io.StringIO()), TypeError),
            (lambda: quodrel.create_listed({"a": open(reading, "rb", closefd=False)}, io.BytesIO()), ValueError),
            (lambda: quodrel.open(text), TypeError),
            (lambda: quodrel.create_listed({"a": text}, io.BytesIO()), TypeError),
            (lambda: quodrel.open(Sized(-5)), ValueError),
            (lambda: quodrel.open(Sized(2**64)), ValueError),
            (lambda: quodrel.open(Sized("16")), TypeError),
            (lambda: quodrel.create_listed({"a": Sized(-3)}, io.BytesIO()), ValueError),
            (lambda: quodrel.create_listed({"a": Sized(None)}, io.BytesIO()), TypeError),
            (lambda: quodrel.open(NoSeek()), ValueError),
        ]
        for number, (call, builtin) in enumerate(rows):
            with self.subTest(row=number):
                with self.assertRaises(quodrel.Error) as raised:
                    call()
                self.assertIsInstance(raised.exception, builtin)
                self.assertLess(len(str(raised.exception)), 400)
        with self.assertRaises(TypeError) as raised:
            pickle.dumps(archive)
        self.assertIn("cannot be pickled", str(raised.exception))
        with self.assertRaises(ValueError) as raised:
            quodrel.open(NoSeek())
        self.assertIn("cannot seek", str(raised.exception))
        self.assertFalse(os.path.exists(self.path("x.dat")) or os.path.exists(self.path("x")))

    def test_codes_a_later_library_adds_are_plain_ints(self):
        import quodrel._errors
        import quodrel._native
        import quodrel._run

        raw = quodrel._native.Event(size=ctypes.sizeof(quodrel._native.Event), kind=99, operation=42)
        raw.error, raw.refusal, raw.difference, raw.path = 77, 55, 9, b"x"
        event = quodrel._run.make_event(raw)
        told = (event.kind, event.operation, event.error, event.refusal, event.difference)
        self.assertEqual(told, (99, 42, 77, 55, 9))
        self.assertFalse(any(isinstance(value, enum.Enum) for value in told))
        unknown = quodrel._errors.error(77, "x.dat")
        self.assertIs(type(unknown), quodrel.Error)
        self.assertEqual((unknown.code, str(unknown)), (77, "unknown error: x.dat"))
        locked = quodrel._errors.error(22, "x.dat")
        self.assertIsInstance(locked, quodrel.LockedError)
        self.assertEqual(locked.code, quodrel.ErrorCode.LOCKED)
        self.assertEqual(str(locked), "another run is replacing the archive: x.dat")
        # The module names every code and kind the header does, by the same numbers.
        header = (pathlib.Path(__file__).resolve().parents[2] / "include/quodrel/quodrel.h").read_text()

        def listed(enum_name: str, pattern: str) -> list:
            body = header[header.index("typedef enum " + enum_name) : header.index("} " + enum_name + ";")]
            return re.findall(pattern, body, re.M)

        errors = listed("quodrel_error", r"^\s+QUODREL_(?:ERROR_)?([A-Z_]+)")
        self.assertEqual([code.name for code in quodrel.ErrorCode], errors)
        self.assertEqual([code.value for code in quodrel.ErrorCode], list(range(len(errors))))
        kinds = listed("quodrel_event_kind", r"^\s+QUODREL_EVENT_([A-Z_]+)")
        self.assertEqual([kind.name for kind in quodrel.EventKind], kinds)
        self.assertEqual([kind.value for kind in quodrel.EventKind], list(range(1, len(kinds) + 1)))
        self.assertIsInstance(quodrel._errors.error(23, "x.dat"), quodrel.ReplacedError)
        # The library in use knows every code and kind the module names.
        for code in quodrel.ErrorCode:
            self.assertNotEqual(code.text, "unknown error", code)
        for refusal in quodrel.Refusal:
            self.assertNotIn("unknown", refusal.text, refusal)

    def test_reads_never_give_other_bytes(self):
        hostile = quodrel.open_bytes(
            archive_bytes(
                [(0, 3, 0, 0, b"good", None), (3, -5, 0, 0, b"negative", None), (3, 1000, 0, 0, b"cut", None)],
                data=b"abcdefg",
            )
        )
        archive = quodrel.open(self.archive)
        a_txt = archive.find("a.txt")
        forged = quodrel.Entry(a_txt.index, "a.txt", 10**9, False, quodrel.Refusal.WRITTEN)
        elsewhere = quodrel.Entry(a_txt.index, "elsewhere.txt", 6, False, quodrel.Refusal.WRITTEN)  # another archive's
        rows = [  # the call, the error it raises (None: what it gives)
            (lambda: hostile.read(1), quodrel.RefusedError, None),
            (lambda: hostile.read(2, 2000), quodrel.RefusedError, None),
            (lambda: hostile.open(2), quodrel.RefusedError, None),
            (lambda: archive.read_into("a.txt", 2**64 + 1, bytearray(4)), quodrel.ArgumentError, None),
            (lambda: archive.read(a_txt, -1), quodrel.ArgumentError, None),
            (lambda: archive.read(2**64 + a_txt.index), quodrel.ArgumentError, None),
            (lambda: archive.read(True), quodrel.ArgumentError, None),
            (lambda: archive.read(1.0), quodrel.ArgumentError, None),
            (lambda: quodrel.extract(self.archive, self.path("x"), [1]), quodrel.ArgumentError, None),
            (lambda: quodrel.extract(self.archive, self.path("x"), on_event=1), quodrel.ArgumentError, None),
            (lambda: archive.read(forged), None, b"hello\n"),
            (lambda: archive.read(elsewhere), quodrel.NotFoundError, None),
            (lambda: archive.open(elsewhere), quodrel.NotFoundError, None),
            (lambda: archive.extractfile(elsewhere), quodrel.NotFoundError, None),
            (lambda: archive.extract(elsewhere, self.path("x")), quodrel.NotFoundError, None),
            (lambda: archive.extractall(self.path("x"), [elsewhere]), quodrel.NotFoundError, None),
            (lambda: quodrel.compare(os.fsencode(self.archive), self.tree), None, []),
        ]
        for number, (call, error, expected) in enumerate(rows):
            with self.subTest(row=number):
                if error is None:
                    self.assertEqual(call(), expected)
                else:
                    self.assertRaises(error, call)
        with self.assertRaises(quodrel.RefusedError) as raised:
            hostile.read(2)
        self.assertEqual(raised.exception.refusal, quodrel.Refusal.DATA_CUT_SHORT)
        self.assertFalse(os.path.exists(self.path("x")))

    def test_a_lying_reader_is_a_read_error_never_a_crash(self):
        readers = {  # what its read(n) gives
            "more than asked": "super().read(n) + bytes(100000)",
            "all the rest": "super().read()",
            "a str": "'x' * n",
            "raises": "1 / 0",
        }
        for name, body in readers.items():
            with self.subTest(reader=name):
                code = (
                    "import io, quodrel\n"
                    "class Lying(io.BytesIO):\n"
                    "    armed = False\n"
                    f"    def read(self, n=-1): return {body} if self.armed else super().read(n)\n"
                    f"source = Lying(open({self.archive!r}, 'rb').read())\n"
                    "archive = quodrel.open(source)\n"
                    "source.armed = True\n"
                    "try: archive.read('sub/b.bin')\n"
                    "except quodrel.ReadError: print('ReadError')\n"
                )
                done = subprocess.run([sys.executable, "-c", code], capture_output=True, check=False)
                self.assertEqual((done.returncode, done.stdout), (0, b"ReadError\n"), done.stderr[-300:])

    def test_a_file_object_is_read_as_it_reads(self):
        with open(self.archive, "rb") as stream:
            archive = quodrel.open(stream)
        self.addCleanup(archive.close)
        with open(self.write("other.dat", b"X" * len(self.read("tree.dat"))), "rb"):
            # (the caller's descriptor number is free again, and taken by another file)
            self.assertEqual(archive.read("a.txt"), b"hello\n")
        with open(self.write("tree.dat.gz", gzip.compress(self.read("tree.dat"))), "rb") as raw:
            with quodrel.open(gzip.open(raw)) as unpacked:
                self.assertEqual(unpacked.read("sub/b.bin"), self.files["sub/b.bin"])
        # Reads the main thread asks for are made off it (see Ctrl+C below), on a thread
        # kept for them: one started per read cost more than a small file's read.
        readers = set()

        class Telling(io.BytesIO):
            def read(self, size=-1):
                readers.add(threading.get_native_id())  # (Linux does not soon reuse one)
                return super().read(size)

        with quodrel.open(Telling(self.read("tree.dat"))) as told:
            for _ in range(50):
                self.assertEqual(told.read("a.txt"), b"hello\n")
        self.assertNotIn(threading.get_native_id(), readers)
        self.assertLessEqual(len(readers), 2)

    def test_an_interrupt_stops_the_call_and_is_raised(self):
        # Ctrl+C arrives while the library works (here: sent at its first event): the
        # call stops as a cancel does, and KeyboardInterrupt is raised when it has.
        old = self.write("kept.dat", b"an older archive")

        interrupted = threading.Event()

        def handler(*_):
            interrupted.set()
            raise KeyboardInterrupt

        # A handler runs on the main thread, at any line: never inside a callback the
        # library made (where ctypes would swallow its exception), so no callback runs
        # there.
        on_main_thread = []

        def interrupt_at_first_event():
            def told(event):
                on_main_thread.append(threading.current_thread() is threading.main_thread())
                if event.kind == quodrel.EventKind.BEGIN:
                    interrupted.clear()
                    os.kill(os.getpid(), signal.SIGINT)
                    interrupted.wait(10)  # (the main thread's handler has run)
                    time.sleep(0.05)

            return told

        class Interrupting(io.BytesIO):
            armed = False

            def read(self, n=-1):
                on_main_thread.append(threading.current_thread() is threading.main_thread())
                if self.armed:
                    raise KeyboardInterrupt
                return super().read(n)

        source = Interrupting(self.read("tree.dat"))
        from_stream = quodrel.open(source)
        self.addCleanup(from_stream.close)
        rows = [  # what is interrupted, the folder it writes
            (lambda: quodrel.create(self.tree, old, on_event=interrupt_at_first_event(), threads=1), None),
            (lambda: quodrel.extract(self.archive, self.path("out1"), on_event=interrupt_at_first_event()), "out1"),
            (lambda: from_stream.read("sub/b.bin"), None),
            (lambda: from_stream.extractall(self.path("out2"), threads=1), "out2"),
        ]
        self.addCleanup(signal.signal, signal.SIGINT, signal.signal(signal.SIGINT, handler))
        for number, (call, folder) in enumerate(rows):
            with self.subTest(row=number):
                source.armed = number >= 2
                with self.assertRaises(KeyboardInterrupt):
                    call()
                self.assertEqual(self.read("kept.dat"), b"an older archive")
                for parent, _, names in os.walk(self.path(folder or "nothing")):
                    for name in names:  # every file written is whole
                        path = os.path.join(parent, name)
                        self.assertEqual(self.read(path), self.files[os.path.relpath(path, self.path(folder))])
        self.assertTrue(on_main_thread)
        self.assertNotIn(True, on_main_thread)
        # Ctrl+C just as the commit has put the new archive in place: it stays, whole,
        # nothing is left beside it, and KeyboardInterrupt is what is raised.
        put_in_place = os.replace

        def interrupted_after(*arguments, **keywords):
            put_in_place(*arguments, **keywords)
            raise KeyboardInterrupt

        with unittest.mock.patch("os.replace", interrupted_after), self.assertRaises(KeyboardInterrupt):
            quodrel.create_listed({"a.txt": b"hello\n"}, old)
        self.assertEqual(quodrel.open(old).read("a.txt"), b"hello\n")
        self.assertEqual(sorted(os.listdir(self.work)), ["kept.dat", "out1", "out2", "tree", "tree.dat"])


if __name__ == "__main__":
    unittest.main()
