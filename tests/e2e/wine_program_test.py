#!/usr/bin/env python3
"""What only the Windows program does, under Wine on a virtual X display: its switches, the
names and the things at C:\\Tolvex\\Model that it refuses before it changes anything, and a
tree deeper than a usual stack holds.

usage: wine_program_test.py PELLATRIX_EXE   (CTest gives the Wine prefix)
"""
import os
import sys
import unittest

from harness import (Display, WineRun, Workspace, assert_arrived_writable, drive_c, prepare_wine,
                     snapshot, writable, write_files)

EXE = os.path.abspath(sys.argv.pop(1))
SAMPLE = {"model.ini": (b"scale", True), "textures/checker.pbm": (b"P1", True)}


def on_medium(name):
    """A name on the medium that the shell would copy as another (Wine's copied Model\\..\\esc.txt
    from beside the Model folder, left the other names out, and reported success)."""
    return lambda w: write_files(w.medium, {"Model/a.txt": (b"a", True), "Model/" + name: (b"odd", True),
                                            "esc.txt": (b"beside Model", False)})


def at_destination(name):
    """A name at the destination that would lead the walk out of its folder, or that no path
    can open; the medium holds nothing."""
    def plant(w):
        os.makedirs(w.model)
        write_files(w.tolvex, {"esc.txt": (b"outside Model", True), "Model/" + name: (b"odd", True)})
    return plant


def at_model(what):
    """What stands at C:\\Tolvex\\Model and is no folder: Wine shows a link to a file as that
    file and leaves a link that leads nowhere out of listings."""
    def plant(w):
        write_files(w.model, {"a.txt": (b"a", True)})
        write_files(w.outside, {"target.txt": (b"user's", False)})
        os.makedirs(w.tolvex)
        if what == "file":
            write_files(w.tolvex, {"Model": (b"user's", False)})
        else:
            os.symlink(os.path.join(w.outside, what), w.dest)
    return plant


class WineProgramTest(unittest.TestCase):
    def setUp(self):
        self.w = Workspace(drive_c())
        self.addCleanup(lambda: self.w.close())

    def fresh(self):
        self.w.close()
        self.w = Workspace(drive_c())

    def test_switches(self):
        # /? shows the usage, /S (-s too) installs showing nothing, anything else is ignored.
        for arguments, shown, arrives in [
                (["/?"], ["Pellatrix 1.05\n\nPellatrix.exe [/S]"], False), (["/S"], [], True),
                (["-s"], [], True),
                (["/x", "--help", "S", "/Silent"], ["May I copy the Model file?", "Processing end"],
                 True)]:
            with self.subTest(arguments=arguments):
                self.fresh()
                write_files(self.w.model, SAMPLE)
                run = WineRun(EXE, self.w, DISPLAY, arguments)
                for _ in shown:
                    run.ok()
                self.assertEqual(run.status(), 0)
                self.assertEqual([text[:len(start)] for text, start in zip(run.messages(), shown)],
                                 shown)
                self.assertEqual(len(run.messages()), len(shown), run.messages())
                if arrives:
                    assert_arrived_writable(self, self.w.dest, SAMPLE)
                else:
                    self.assertFalse(os.path.exists(self.w.dest))

    def test_what_cannot_be_copied_or_walked_safely_is_refused_and_nothing_changes(self):
        for plant, named in [
                (on_medium("..\\esc.txt"), '..\\esc.txt'), (on_medium("x."), "x."),
                (on_medium("y "), "y "), (on_medium("w*ld/inner.txt"), "w*ld"),
                (at_destination("..\\esc.txt"), '"..\\esc.txt" listed in "C:\\Tolvex\\Model"'),
                (at_destination("w*ld/in.txt"), '"C:\\Tolvex\\Model\\w*ld"'),
                (at_model("file"), "Tolvex\\Model"), (at_model("target.txt"), "Tolvex\\Model"),
                (at_model("nowhere"), "Tolvex\\Model")]:
            with self.subTest(named=named):
                self.fresh()
                plant(self.w)
                state = lambda: [snapshot(f) for f in (self.w.medium, self.w.outside, self.w.tolvex)] + [
                    os.path.lexists(self.w.dest)]
                before = state()
                run = WineRun(EXE, self.w, DISPLAY)
                run.yes()
                run.ok()
                self.assertEqual(run.status(), 3)
                self.assertIn(named, run.messages()[-1])
                self.assertNotIn("Processing end", run.messages())
                self.assertEqual(state(), before)

    def test_a_tree_deeper_than_a_usual_stack_holds_is_walked(self):
        # 4,000 levels: with a 2 MiB stack the walk ran out of it at about 2,570 levels (3,050 in
        # the 32-bit build), in a crash with no report. The first 17 names are long, so that
        # Wine's own path lookups stay quick: they give up past Linux's 4,096-byte path limit,
        # and are slow below it in deep trees.
        write_files(self.w.model, {"a.txt": (b"a", True)})
        os.makedirs(self.w.dest)
        folder = os.open(self.w.dest, os.O_RDONLY)
        try:
            for name in ["L" * 250] * 17 + ["d"] * 4000:
                os.mkdir(name, dir_fd=folder)
                inner = os.open(name, os.O_RDONLY, dir_fd=folder)
                os.close(folder)
                folder = inner
            os.close(os.open("deep.txt", os.O_CREAT | os.O_WRONLY, 0o444, dir_fd=folder))
            run = WineRun(EXE, self.w, DISPLAY)
            run.yes()
            run.ok()
            self.assertEqual(run.status(), 0)
            self.assertTrue(writable(f"/proc/self/fd/{folder}/deep.txt"))
        finally:
            os.close(folder)


if __name__ == "__main__":
    prepare_wine()
    DISPLAY = Display()
    try:
        unittest.main(verbosity=2)
    finally:
        DISPLAY.close()
