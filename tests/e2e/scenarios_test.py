#!/usr/bin/env python3
"""The scenarios that every build shares, one table run by each runner: the Linux program on a
terminal and at a desktop (as "nobody" when the tests run as root), the Windows program under
Wine on a virtual X display.

usage: scenarios_test.py terminal|desktop|wine PROGRAM   (under Wine, CTest gives the prefix)
"""
import os
import shutil
import subprocess
import sys
import unittest

from harness import (DesktopRun, Display, TerminalRun, WineRun, Workspace, assert_arrived_writable,
                     drive_c, exchanging, files_under, prepare_wine, read, snapshot,
                     writable, write_files)

RUNNER, PROGRAM = sys.argv.pop(1), os.path.abspath(sys.argv.pop(1))
# Names in many scripts, with spaces and leading dots, read-only and writable, in subfolders.
SAMPLE = {"model.ini": (b"scale=1.0\n", True), "textures/checker.pbm": (b"P1\n", True),
          "read me.txt": (b"read me", False), "モデル/立方体.mdl": ("立方体".encode(), True),
          "Ελληνικά.txt": (b"el", False), "кириллица.ini": (b"ru", True), "עברית.dat": (b"he", True),
          "emoji 😀.dat": (b"3", False), ".profile": (b"4", True), ".cache/kept.bin": (b"6", True)}


def sample(w):
    write_files(w.model, SAMPLE)


def linked(w):
    """C:\\Tolvex is a link to a folder elsewhere."""
    sample(w)
    os.makedirs(w.outside)
    os.symlink(w.outside, w.tolvex)


def folder_in_the_way(w):
    """A folder of the user's stands where a file of the medium goes."""
    write_files(w.model, {"thing": (b"medium", False), "fine.txt": (b"fine", True)})
    write_files(w.dest, {"thing/inside": (b"the user's", False)})


def unreadable(w):
    write_files(w.model, {"model.ini": (b"m", True), "mesh.dat": (b"vertices", False)})
    os.chmod(os.path.join(w.model, "mesh.dat"), 0)


def immutable(w):
    """A read-only file of the user's at the destination whose attributes nobody may change."""
    sample(w)
    write_files(w.dest, {"locked.txt": (b"the user's", True)})
    locked = os.path.join(w.dest, "locked.txt")
    if subprocess.run(["chattr", "+i", locked], capture_output=True).returncode:
        raise unittest.SkipTest("no immutable flag here (it needs root and a file system with it)")
    w.cleanup.callback(subprocess.run, ["chattr", "-i", locked])


def swapped(relative):
    """Read-only files at the destination and nothing on the medium; C:\\relative is to be
    swapped with a link to an outside copy of itself (see swap)."""
    def prepare(w):
        os.makedirs(w.model)
        write_files(w.dest, {f"sub{i:02}/f{j:02}": (b"dest", True) for i in range(30) for j in range(30)})
        shutil.copytree(os.path.join(w.c, relative), w.outside, symlinks=True)
        w.swap = os.path.join(w.c, relative), os.path.join(w.c, "swapped-in")
        os.symlink(w.outside, w.swap[1])
        w.cleanup.callback(os.unlink, w.swap[1])
        w.before = snapshot(w.outside)
    return prepare


def swap(w, run):
    """Swaps back and forth from the moment the walk begins (a file of the first folder it
    lists is made writable) until the check."""
    first = os.path.join(w.dest, os.listdir(w.dest)[0])
    files = [os.path.join(first, name) for name in os.listdir(first)]
    w.cleanup.enter_context(exchanging(*w.swap, when=lambda: any(map(writable, files))))


def retry_once_readable(w, run):
    run.choose("retry", lambda: os.chmod(os.path.join(w.model, "mesh.dat"), 0o644))


def says(test, run, text, shown=True):
    """Whether the program showed text, where its dialogs can be read back."""
    if run.shown is not None:
        (test.assertIn if shown else test.assertNotIn)(text, run.shown)


def arrived(test, w, run):
    test.assertEqual(files_under(w.dest), sorted(os.fsencode(f) for f in SAMPLE))
    assert_arrived_writable(test, w.dest, SAMPLE)


def nothing_made(test, w, run):
    test.assertFalse(os.path.exists(w.tolvex))


def refused(test, w, run):
    test.assertEqual(os.listdir(w.outside), [])
    says(test, run, "Tolvex")


def kept(test, w, run):
    test.assertEqual(read(os.path.join(w.dest, "thing", "inside")), b"the user's")
    assert_arrived_writable(test, w.dest, {"fine.txt": (b"fine", True)})
    test.assertFalse([f for f in files_under(w.tolvex) if b".pellatrix-tmp-" in f])


def copied_once_readable(test, w, run):
    assert_arrived_writable(test, w.dest, {"model.ini": (b"m", True), "mesh.dat": (b"vertices", 0)})


def names_the_file(test, w, run):
    says(test, run, "locked.txt")
    says(test, run, "Processing end", shown=False)


def nothing_outside(test, w, run):
    """Nothing outside changed; the walk went on through the folders it holds, wherever they
    were moved, and left a subfolder that was a link when it was listed alone, or ended naming
    it when it was swapped between its listing and its opening."""
    w.cleanup.close()
    test.assertEqual(snapshot(w.outside), w.before)
    if run.returncode:
        says(test, run, os.path.basename(w.swap[0]))
    swapped = os.fsencode(os.path.relpath(w.swap[0], w.dest) + "/")
    test.assertTrue(run.returncode or all(writable(os.path.join(os.fsencode(w.dest), f))
                                          for f in files_under(w.dest) if not f.startswith(swapped)))


ALL, SWAPS = ("terminal", "desktop", "wine"), ("terminal", "wine")
SCENARIOS = [  # name, runners, prepare(w), steps, exit status, check(test, w, run)
    ("yes", ALL, sample, ["yes", "ok"], 0, arrived),
    ("no", ALL, sample, ["no"], 1, nothing_made),
    ("a linked destination is refused", ALL, linked, ["yes", "ok"], 3, refused),
    ("a copy error skipped", ALL, folder_in_the_way, ["yes", "skip", "ok"], 2, kept),
    ("a copy error retried once it is gone", ALL[:2], unreadable,
     ["yes", retry_once_readable, "ok"], 0, copied_once_readable),
    ("no Model, the copy cancelled", ALL, lambda w: None, ["yes", "cancel", "ok"], 2, nothing_made),
    ("a file whose attributes cannot change", ALL, immutable, ["yes", "ok"], 3, names_the_file),
    ("C:\\Tolvex swapped in the walk", SWAPS, swapped("Tolvex"), [swap, "yes", "ok"], 0,
     nothing_outside),
    ("C:\\Tolvex\\Model swapped in the walk", SWAPS, swapped("Tolvex/Model"),
     [swap, "yes", "ok"], 0, nothing_outside),
    ("a subfolder swapped in the walk", SWAPS, swapped("Tolvex/Model/sub07"),
     [swap, "yes", "ok"], (0, 3), nothing_outside),
]


class Scenarios(unittest.TestCase):
    def test_scenarios(self):
        for name, runners, prepare, steps, status, check in SCENARIOS:
            if RUNNER not in runners:
                continue
            with self.subTest(name):
                w = Workspace(drive_c() if RUNNER == "wine" else None)
                try:
                    self.run_scenario(w, prepare, steps, status, check)
                finally:
                    w.close()

    def run_scenario(self, w, prepare, steps, status, check):
        prepare(w)
        run = (TerminalRun(PROGRAM, w, unprivileged=True) if RUNNER == "terminal" else
               DesktopRun(PROGRAM, w, DISPLAY) if RUNNER == "desktop" else
               WineRun(PROGRAM, w, DISPLAY))
        for step in steps:
            if callable(step):
                step(w, run)
            elif step in ("skip", "cancel"):
                run.choose(step)
            else:
                getattr(run, step)()
        run.returncode = run.status()
        allowed = set(status) if isinstance(status, tuple) else {status}
        if RUNNER == "wine" and {"skip", "cancel"} & set(steps):
            allowed.add(0)  # Wine's shell copy reports success for what it did not copy
        self.assertIn(run.returncode, allowed, run.shown)
        check(self, w, run)


if __name__ == "__main__":
    if RUNNER == "wine":
        prepare_wine()
    DISPLAY = None if RUNNER == "terminal" else Display()
    try:
        unittest.main(verbosity=2)
    finally:
        DISPLAY and DISPLAY.close()
