#!/usr/bin/env python3
"""The Windows program under Wine and the Linux program, each installing unattended from its own
copy of the same generated medium: their destinations must agree entry by entry, in content and
in the attributes Windows shows (read through one function for both, since both are Linux
folders). The media are drawn where the two could differ: up to a few hundred entries, some
folders read-only, hidden and system bits, names in many scripts, with spaces and leading dots.

usage: differential_test.py PELLATRIX_EXE LINUX_PROGRAM [TREES]   (CTest gives the Wine prefix)
TREES is 50 unless given (run 200 by hand for a longer look). Skipped where LINUX_PROGRAM is not
built (the linux preset builds it).
"""
import os
import random
import sys
import time

from harness import (DIRECTORY, DOS_ATTRIBUTE, HIDDEN, SKIPPED, SYSTEM, Display, UnattendedRun,
                     WineRun, Workspace, drive_c, prepare_wine, windows_view)

WORDS = ["model", "Texture", "read me", "a b c", "x", "モデル", "立方体 データ", "説明書", "数据",
         "모델 파일", "Ελληνικά", "кириллица", "Հայերեն", "ქართული", "العربية", "עברית", "हिन्दी",
         "ภาษาไทย", "café naïve", "Ærø Øst", "emoji 😀", "🎲dice", "Long name with several words"]
EXTENSIONS = ["", ".mdl", ".txt", ".ini", ".dat", ".tar.gz"]


def draw_name(rng, taken, extension=True):
    """A name not yet in taken, compared without case as Windows compares names."""
    while True:
        name = rng.choice(WORDS) + (" %d" % rng.randrange(1000) if rng.random() < 0.6 else "")
        name = ("." if rng.random() < 0.1 else "") + name + (rng.choice(EXTENSIONS) if extension else "")
        if name.casefold() not in taken:
            taken.add(name.casefold())
            return name


def draw_medium(seed, medium):
    """The medium of one seed, the same every time: files and folders added one at a time to
    folders drawn at random, up to a size drawn from 1 to 400 entries."""
    rng = random.Random(seed)
    folders = {os.path.join(medium, "Model"): set()}  # folder -> names taken in it
    os.makedirs(*folders)
    size = rng.choice([rng.randrange(1, 20), rng.randrange(20, 401)])
    for _ in range(size):
        parent = rng.choice(list(folders))
        path = os.path.join(parent, draw_name(rng, folders[parent], rng.random() < 0.75))
        if rng.random() < 0.25 and parent.count(os.sep) - medium.count(os.sep) < 6:
            os.mkdir(path)
            folders[path] = set()
        else:
            with open(path, "wb") as f:
                f.write(rng.randbytes(rng.randrange(0, 2000)))
            os.chmod(path, rng.choice([0o444, 0o644]))
        if rng.random() < 0.3:
            os.setxattr(path, DOS_ATTRIBUTE, b"0x%x" % rng.choice([HIDDEN, SYSTEM, HIDDEN | SYSTEM]))
    for folder in list(folders)[1:]:
        if rng.random() < 0.15:
            os.chmod(folder, 0o555)


def without_known_wine_differences(view):
    """Wine's shell copy makes each folder afresh, so a copied folder loses its hidden and
    system bits; Windows' shell copy keeps them, and so does the Linux program."""
    return {path: (bits & ~(HIDDEN | SYSTEM) if bits & DIRECTORY else bits, content)
            for path, (bits, content) in view.items()}


def main():
    exe, linux_program = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    trees = int(sys.argv[3]) if len(sys.argv) > 3 else 50
    if not os.access(linux_program, os.X_OK):
        print(f"the Linux program {linux_program} is not built (the linux preset builds it)")
        return SKIPPED
    prepare_wine()
    display, failures, started = Display(), 0, time.monotonic()
    try:
        for seed in range(trees):
            windows, linux = Workspace(drive_c()), Workspace()
            try:
                for w in (windows, linux):
                    draw_medium(seed, w.medium)
                windows.arguments, linux.arguments = ["/S"], ["--yes"]
                statuses = (WineRun(exe, windows, display).status(),
                            UnattendedRun(linux_program, linux).status())
                expected, actual = (without_known_wine_differences(windows_view(w.dest))
                                    for w in (windows, linux))
                entries = set(windows_view(windows.model))
                if statuses != (0, 0) or expected != actual or set(expected) != entries:
                    failures += 1
                    print(f"tree {seed}: exit status Windows {statuses[0]}, Linux {statuses[1]}; "
                          f"{len(entries)} entries on the medium")
                    for path in sorted(set(expected) | set(actual)):
                        if expected.get(path) != actual.get(path):
                            show = [e and (e[0], e[1] and len(e[1])) for e in
                                    (expected.get(path), actual.get(path))]
                            print(f"  {os.fsdecode(path)}: Windows {show[0]}, Linux {show[1]}")
                else:
                    print(f"tree {seed}: {len(entries)} entries agree")
            finally:
                windows.close()
                linux.close()
    finally:
        display.close()
    print(f"{trees - failures} passed, {failures} failed ({time.monotonic() - started:.0f} s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
