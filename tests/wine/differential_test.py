#!/usr/bin/env python3
"""The Windows program under Wine and the Linux program, each on its own copy of the same
generated medium: their destinations must agree file by file, in content and in the
attributes Windows shows (read through one function for both, since both are Linux folders).

usage: differential_test.py PELLATRIX_EXE LINUX_PROGRAM [TREES]   (WINEPREFIX names the prefix)
Exits 77 (skipped) when LINUX_PROGRAM has not been built.
"""
import os
import random
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from pellatrix_session import Session  # noqa: E402
from wine_session import (DIRECTORY, DOS_ATTRIBUTE, HIDDEN, SKIPPED, SYSTEM, Display,  # noqa: E402
                          WineRun, remove_tree, require_wine, use_virtual_desktop, windows_view)

TREES = 50

# Name parts the trees draw from: plain, spaced, Japanese, other scripts, emoji.
WORDS = ["model", "Texture", "data", "read me", "a b c", "モデル", "立方体", "説明書", "Ελληνικά",
         "кириллица", "café", "naïve", "emoji 😀", "🎲dice", "x", "Long name with several words"]
EXTENSIONS = ["", ".mdl", ".txt", ".ini", ".dat", ".tar.gz"]


def unique_name(rng, taken, folder):
    """A name not yet in taken, compared without case as Windows compares names."""
    while True:
        name = rng.choice(WORDS)
        if rng.random() < 0.5:
            name += " %d" % rng.randrange(100)
        if not folder:
            name += rng.choice(EXTENSIONS)
        if rng.random() < 0.15:
            name = "." + name  # dot names: dot folders are never entered by the walk
        if name.casefold() not in taken:
            taken.add(name.casefold())
            return name


def dos_bits(rng, chance):
    return rng.choice([HIDDEN, SYSTEM, HIDDEN | SYSTEM]) if rng.random() < chance else 0


def fill_folder(rng, folder, depth):
    taken = set()
    for _ in range(rng.randrange(1, 5)):
        path = os.path.join(folder, unique_name(rng, taken, folder=False))
        with open(path, "wb") as f:
            f.write(rng.randbytes(rng.randrange(0, 600)))
        bits = dos_bits(rng, 0.3)
        if bits:
            os.setxattr(path, DOS_ATTRIBUTE, b"0x%x" % bits)
        if rng.random() < 0.5:
            os.chmod(path, 0o444)
    if depth < 3:
        for _ in range(rng.randrange(0, 3)):
            path = os.path.join(folder, unique_name(rng, taken, folder=True))
            os.mkdir(path)
            fill_folder(rng, path, depth + 1)
            bits = dos_bits(rng, 0.2)  # hidden or system folders are not entered either
            if bits:
                os.setxattr(path, DOS_ATTRIBUTE, b"0x%x" % bits)


def make_medium(seed, medium):
    """The medium of one seed: the same tree every time for the same seed."""
    rng = random.Random(seed)
    os.makedirs(os.path.join(medium, "Model"))
    fill_folder(rng, os.path.join(medium, "Model"), 0)


def known_wine_differences(view):
    """Drops what Wine is known to do differently from Windows, and only that.

    Wine's shell copy makes each folder afresh with CreateDirectoryW, so a copied folder loses
    its hidden and system bits; Windows' shell copy keeps a folder's attributes, and so does
    the Linux program. Only those two bits of folders are left out of the comparison.
    """
    return {path: (attributes & ~(HIDDEN | SYSTEM) if attributes & DIRECTORY else attributes,
                   content)
            for path, (attributes, content) in view.items()}


def run_windows(exe, medium, drive_c):
    remove_tree(os.path.join(drive_c, "Tolvex"))
    status = WineRun(exe, medium).yes_and_close()
    return status, windows_view(os.path.join(drive_c, "Tolvex", "Model"))


def run_linux(program, medium, data_home):
    status = Session(program, medium, data_home).answer_yes_and_close()
    return status, windows_view(os.path.join(data_home, "Tolvex", "Model"))


def describe(expected, actual):
    lines = []
    for path in sorted(set(expected) | set(actual)):
        if expected.get(path) != actual.get(path):
            show = lambda entry: None if entry is None else (entry[0], entry[1] and len(entry[1]))
            lines.append(f"  {path}: Windows {show(expected.get(path))}, "
                         f"Linux {show(actual.get(path))}")
    return "\n".join(lines)


def main():
    if len(sys.argv) < 3 or "WINEPREFIX" not in os.environ:
        sys.exit(__doc__)
    require_wine()
    exe, linux_program = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    trees = int(sys.argv[3]) if len(sys.argv) > 3 else TREES
    if not os.access(linux_program, os.X_OK):
        print(f"SKIPPED: the Linux program {linux_program} is not built "
              "(build the linux preset first: tools/run-all-tests.sh does)")
        return SKIPPED
    drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c")
    failures = 0
    started = time.monotonic()
    with Display() as display:
        os.environ["DISPLAY"] = display.name
        use_virtual_desktop()
        for seed in range(trees):
            work = tempfile.mkdtemp(prefix="pellatrix-diff-")
            try:
                windows_medium = os.path.join(work, "windows medium")
                linux_medium = os.path.join(work, "linux medium")
                make_medium(seed, windows_medium)
                make_medium(seed, linux_medium)
                assert windows_view(windows_medium) == windows_view(linux_medium), "not seeded"
                windows_status, windows_result = run_windows(exe, windows_medium, drive_c)
                linux_status, linux_result = run_linux(linux_program, linux_medium,
                                                       os.path.join(work, "data"))
                expected = known_wine_differences(windows_result)
                actual = known_wine_differences(linux_result)
                if (windows_status, expected) != (linux_status, actual) or not expected:
                    failures += 1
                    print(f"tree {seed}: exit status Windows {windows_status}, "
                          f"Linux {linux_status}; {len(expected)} entries\n"
                          f"{describe(expected, actual)}")
                else:
                    print(f"tree {seed}: {len(expected)} entries agree")
            finally:
                remove_tree(work)
                remove_tree(os.path.join(drive_c, "Tolvex"))
    print(f"{trees - failures} passed, {failures} failed "
          f"({time.monotonic() - started:.0f} s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
