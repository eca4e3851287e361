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
import hashlib
import os
import random
import sys
import unittest

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
        name = ("." if rng.random() < 0.1 else "") + name
        name += rng.choice(EXTENSIONS) if extension else ""
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
            bits = rng.choice([HIDDEN, SYSTEM, HIDDEN | SYSTEM])
            os.setxattr(path, DOS_ATTRIBUTE, b"0x%x" % bits)
    for folder in list(folders)[1:]:
        if rng.random() < 0.15:
            os.chmod(folder, 0o555)


def comparable(folder):
    """What both programs must agree on below folder: each entry's attribute bits and a digest
    of its content, without what Wine is known to do differently from Windows. Wine's shell
    copy makes each folder afresh, so a copied folder loses its hidden and system bits;
    Windows' shell copy keeps them, and so does the Linux program."""
    return {path: (bits & ~(HIDDEN | SYSTEM) if bits & DIRECTORY else bits,
                   content and hashlib.sha1(content).hexdigest())
            for path, (bits, content) in windows_view(folder).items()}


class Differential(unittest.TestCase):
    maxDiff = None  # every entry that differs
    def test_both_programs_leave_the_same_destination(self):
        for seed in range(TREES):
            with self.subTest(tree=seed):
                windows, linux = Workspace(drive_c()), Workspace()
                try:
                    for w in (windows, linux):
                        draw_medium(seed, w.medium)
                    windows.arguments, linux.arguments = ["/S"], ["--yes"]
                    self.assertEqual(WineRun(EXE, windows, DISPLAY).status(), 0)
                    self.assertEqual(UnattendedRun(LINUX_PROGRAM, linux).status(), 0)
                    expected = comparable(windows.dest)
                    self.assertEqual(set(expected), set(windows_view(windows.model)), "lost")
                    self.assertEqual(comparable(linux.dest), expected)
                finally:
                    windows.close()
                    linux.close()


if __name__ == "__main__":
    EXE, LINUX_PROGRAM = (os.path.abspath(path) for path in sys.argv[1:3])
    TREES = int(sys.argv[3]) if len(sys.argv) > 3 else 50
    del sys.argv[1:]
    if not os.access(LINUX_PROGRAM, os.X_OK):
        print(f"the Linux program {LINUX_PROGRAM} is not built (the linux preset builds it)")
        sys.exit(SKIPPED)
    prepare_wine()
    DISPLAY = Display()
    try:
        unittest.main(verbosity=2)
    finally:
        DISPLAY.close()
