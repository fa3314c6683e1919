#!/usr/bin/env python3
"""Keeps the README and the guides in doc/ true.

- Every path of the repository they name (in backquotes, or as a link or image) exists.
- Every code block after "<!-- run -->" runs as shown: in a scratch folder holding a
  copy of examples/ and build/quodrel (the program under test), each line starting
  "$ " is a command run by bash, and the lines after it are what it prints (standard
  output and error together), compared byte for byte; it must exit 0. One scratch
  folder per document, so a block may use what an earlier one made.
- With --wine, only the blocks after "<!-- run windows -->" run, their commands that
  start with "quodrel" as quodrel.exe under Wine (the rest of a line as Windows
  arguments); without it those blocks are left alone.
- The routes named by quodrel(1)'s synopsis, by --help and by the README's cheat sheet
  are the same.

Usage: docs_check.py SOURCE QUODREL [--wine QUODREL.EXE WINE-PREFIX]
"""
import difflib
import glob
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

# Paths named in the documents that are not the repository's: where the packages and
# the zip put things, and what the build makes. Their first part is one of the
# repository's top folders, so they would be taken for its paths.
NOT_IN_REPOSITORY = re.compile(
    r"^(lib/(x86_64-linux-gnu|libquodrel\.(a|dll\.a)|quodrel\.lib)"
    r")/?$"
)
# Folders that the build makes, named in the documents but never committed.
BUILT = {"build", "build-windows", "build-web", "build-release", "build-coverage",
         "build-fuzz", "build-sanitized", "build-example", "dist", "demo"}

failures = []


def fail(where, message):
    failures.append(f"{where}: {message}")


def documents(source):
    names = ["README.md"] + sorted(
        os.path.join("doc", n) for n in os.listdir(os.path.join(source, "doc"))
        if n.endswith(".md") and n != "coverage.md")
    return names


def line_of(text, index):
    return text.count("\n", 0, index) + 1


def check_paths(source, name, text):
    top = {n for n in os.listdir(source) if not n.startswith(".")} - BUILT
    here = os.path.dirname(name)
    # Links and images: relative to the document.
    for match in re.finditer(r"\]\(([^)\s#]+)(#[^)]*)?\)|src=\"([^\"]+)\"", text):
        target = match.group(1) or match.group(3)
        if re.match(r"^[a-z]+:", target):
            continue
        path = os.path.normpath(os.path.join(source, here, target))
        if not os.path.exists(path):
            fail(f"{name}:{line_of(text, match.start())}", f"links to {target}, which is not there")
    # Paths in backquotes: from the repository's root.
    for match in re.finditer(r"`([^`\n]+)`", text):
        token = match.group(1)
        if not re.fullmatch(r"[A-Za-z0-9_.+-]+(/[A-Za-z0-9_.+#*-]*)*", token):
            continue
        first = token.split("/")[0]
        if first not in top or "/" not in token and not os.path.isdir(os.path.join(source, first)):
            continue
        if NOT_IN_REPOSITORY.match(token):
            continue
        found = glob.glob(os.path.join(source, token)) if "*" in token else \
            [token] if os.path.exists(os.path.join(source, token)) else []
        if not found:
            fail(f"{name}:{line_of(text, match.start())}", f"names {token}, which is not there")


def runnable_blocks(text, kind):
    """(line, [(command, expected output)]) of each block marked "<!-- run KIND -->"."""
    marker = "<!-- run -->" if kind == "" else f"<!-- run {kind} -->"
    lines = text.split("\n")
    blocks = []
    i = 0
    while i < len(lines):
        if lines[i].strip() != marker:
            i += 1
            continue
        start = i + 1
        while start < len(lines) and not lines[start].strip():
            start += 1
        if start >= len(lines) or not lines[start].startswith("```"):
            blocks.append((i + 1, None))
            i += 1
            continue
        end = start + 1
        while end < len(lines) and not lines[end].startswith("```"):
            end += 1
        steps = []
        for line in lines[start + 1:end]:
            if line.startswith("$ "):
                steps.append([line[2:], []])
            elif steps:
                steps[-1][1].append(line)
            else:
                steps.append([None, [line]])
        blocks.append((start + 1, [(c, "".join(o + "\n" for o in out)) for c, out in steps]))
        i = end + 1
    return blocks


def scratch_folder(source, quodrel):
    folder = tempfile.mkdtemp(prefix="quodrel-docs-")
    shutil.copytree(os.path.join(source, "examples"), os.path.join(folder, "examples"))
    os.mkdir(os.path.join(folder, "build"))
    os.symlink(quodrel, os.path.join(folder, "build", "quodrel"))
    return folder


def compare(where, command, expected, completed):
    actual = completed.stdout.decode("utf-8", "backslashreplace")
    if actual != expected:
        diff = "".join(difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                            "as documented", "as run"))
        fail(where, f"`{command}` printed otherwise:\n{diff}")
    elif completed.returncode != 0:
        fail(where, f"`{command}` exited {completed.returncode}")


def commands(name, blocks):
    """Each command of the marked blocks with the output shown for it, as (where,
    command, expected); a block that is no such block is told as failing."""
    for line, steps in blocks:
        if steps is None:
            fail(f"{name}:{line}", "a run marker without a code block after it")
            continue
        for command, expected in steps:
            if command is None:
                fail(f"{name}:{line}", "output before any command")
                continue
            yield f"{name}:{line}", command, expected


def run_native(source, quodrel, name, text):
    blocks = runnable_blocks(text, "")
    if not blocks:
        return 0
    folder = scratch_folder(source, quodrel)
    env = dict(os.environ, LC_ALL="C.UTF-8")
    env.pop("QUODREL_THREADS", None)
    try:
        for where, command, expected in commands(name, blocks):
            completed = subprocess.run(["bash", "-c", command], cwd=folder, env=env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, timeout=120)
            compare(where, command, expected, completed)
    finally:
        shutil.rmtree(folder)
    return len(blocks)


def run_wine(source, quodrel, exe, prefix, name, text):
    blocks = runnable_blocks(text, "windows")
    if not blocks:
        return 0
    folder = scratch_folder(source, quodrel)
    env = dict(os.environ, WINEPREFIX=os.path.realpath(prefix), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    try:
        for where, command, expected in commands(name, blocks):
            words = shlex.split(command, posix=False)
            if words[0] not in ("quodrel", "quodrel.exe"):
                fail(where, f"`{command}` is no Windows line of quodrel")
                continue
            arguments = [w[1:-1] if len(w) > 1 and w[0] == w[-1] == '"' else w
                         for w in words[1:]]
            completed = subprocess.run(["wine", exe] + arguments, cwd=folder, env=env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, timeout=300)
            compare(f"{where} (Wine)", command, expected, completed)
    finally:
        shutil.rmtree(folder)
    return len(blocks)


def check_routes(source, quodrel):
    with open(os.path.join(source, "doc", "quodrel.1"), encoding="utf-8") as f:
        page = f.read()
    synopsis = page[page.index(".SH SYNOPSIS"):page.index(".SH DESCRIPTION")]
    manual = set(re.findall(r"^\.B quodrel \\-([a-z])$", synopsis, re.M))
    help_text = subprocess.run([quodrel, "--help"], stdout=subprocess.PIPE,
                               stdin=subprocess.DEVNULL, check=True).stdout.decode()
    helped = set(re.findall(r"^  quodrel -([a-z]) ", help_text, re.M))
    with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    cheat = set(re.findall(r"^\| `quodrel -([a-z]) ", readme, re.M))
    # The exit statuses of the reference's table and of the manual page.
    statuses = page[page.index('.SH "EXIT STATUS"'):page.index('.SH "ARCHIVE FORMAT"')]
    in_manual = set(re.findall(r"^\.BR? (\d+)", statuses, re.M))
    with open(os.path.join(source, "doc", "command-line.md"), encoding="utf-8") as f:
        reference = f.read()
    table = reference[reference.index("## Exit status"):]
    in_reference = set(re.findall(r"^\| (\d+)", table, re.M))
    if not in_manual or in_manual != in_reference:
        fail("exit statuses", f"quodrel(1) gives {sorted(in_manual)}, doc/command-line.md {sorted(in_reference)}")
    if not manual or manual != helped or manual != cheat:
        fail("routes", f"quodrel(1) names -{' -'.join(sorted(manual))}; --help -{' -'.join(sorted(helped))};"
                       f" the README's cheat sheet -{' -'.join(sorted(cheat))}")


def main(argv):
    if len(argv) not in (3, 6) or (len(argv) == 6 and argv[3] != "--wine"):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    source = os.path.realpath(argv[1])
    quodrel = os.path.realpath(argv[2])
    ran = 0
    for name in documents(source):
        with open(os.path.join(source, name), encoding="utf-8") as f:
            text = f.read()
        if len(argv) == 6:
            ran += run_wine(source, quodrel, os.path.realpath(argv[4]), argv[5], name, text)
        else:
            check_paths(source, name, text)
            ran += run_native(source, quodrel, name, text)
    if len(argv) == 3:
        check_routes(source, quodrel)
    if ran == 0:
        fail("documents", "no runnable block was found")
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        what = "the Windows blocks" if len(argv) == 6 else "paths, the runnable blocks and the routes"
        print(f"ok: {what} ({ran} blocks run) agree with the documents")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
