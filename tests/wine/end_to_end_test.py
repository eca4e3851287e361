#!/usr/bin/env python3
"""The real Pellatrix.exe under Wine on a virtual X display, its dialogs answered with xdotool
and its results read from the Wine prefix's drive_c.

usage: end_to_end_test.py PELLATRIX_EXE   (WINEPREFIX names the test run's prefix)
With PELLATRIX_SCREENSHOTS set to a folder, the question and "Processing end" are saved there.
"""

import os
import pathlib
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

from wine_session import Display, WineRun, require_wine, use_virtual_desktop

EXE = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else None
SOURCE_ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE_MEDIUM = SOURCE_ROOT / "examples" / "medium"


class Run(WineRun):
    """One start of the program with its current directory on a medium; with
    PELLATRIX_SCREENSHOTS set, the dialogs named for it are saved before they are answered."""

    def __init__(self, medium, arguments=()):
        super().__init__(EXE, medium, arguments)

    def answer(self, window, key="Return", screenshot=None):
        if screenshot and os.environ.get("PELLATRIX_SCREENSHOTS"):
            folder = pathlib.Path(os.environ["PELLATRIX_SCREENSHOTS"])
            folder.mkdir(parents=True, exist_ok=True)
            subprocess.run(["import", "-window", "root", str(folder / screenshot)], check=True)
        super().answer(window, key)


def tree(folder):
    """{relative path: content} of every file under folder, None for each folder."""
    result = {}
    for path in sorted(pathlib.Path(folder).rglob("*")):
        result[path.relative_to(folder).as_posix()] = None if path.is_dir() else path.read_bytes()
    return result


def make_read_only(path):
    path.chmod(path.stat().st_mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))


class EndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.drive_c = pathlib.Path(os.environ["WINEPREFIX"]) / "drive_c"
        cls.destination = cls.drive_c / "Tolvex" / "Model"
        # Wine's virtual desktop draws the windows' title bars, which Xvfb alone (with no
        # window manager) would leave out of the screenshots.
        use_virtual_desktop()

    def setUp(self):
        self.workspace = pathlib.Path(tempfile.mkdtemp(prefix="pellatrix-wine-"))
        self.medium = self.workspace / "medium"
        self.clear_destination()

    def tearDown(self):
        self.clear_destination()
        for path in self.workspace.rglob("*"):
            if not path.is_symlink():
                path.chmod(path.stat().st_mode | stat.S_IWUSR)
        shutil.rmtree(self.workspace)

    def clear_destination(self):
        tolvex = self.drive_c / "Tolvex"
        if tolvex.is_symlink() or tolvex.is_file():
            tolvex.unlink()
        elif tolvex.exists():
            for path in tolvex.rglob("*"):
                if not path.is_symlink():
                    path.chmod(path.stat().st_mode | stat.S_IWUSR)
            shutil.rmtree(tolvex)

    def model_with(self, files):
        """A medium whose Model folder holds files ({relative path: bytes})."""
        for relative, content in files.items():
            path = self.medium / "Model" / relative
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)
        (self.medium / "Model").mkdir(parents=True, exist_ok=True)

    def run_answering_yes(self, screenshots=False):
        run = Run(self.medium)
        run.answer(run.next_dialog(), "Return", "question.png" if screenshots else None)
        run.answer(run.next_dialog(), "Return", "processing-end.png" if screenshots else None)
        return run.status()

    def assert_all_writable(self, folder):
        for path in pathlib.Path(folder).rglob("*"):
            if path.is_file():
                self.assertTrue(path.stat().st_mode & stat.S_IWUSR, f"{path} is read-only")

    def test_yes_copies_the_sample_medium_and_leaves_every_file_writable(self):
        shutil.copytree(SAMPLE_MEDIUM, self.medium)
        for path in (self.medium / "Model").rglob("*"):
            if path.is_file():
                make_read_only(path)
        self.assertEqual(self.run_answering_yes(screenshots=True), 0)
        self.assertEqual(tree(self.destination), tree(self.medium / "Model"))
        self.assert_all_writable(self.destination)

    def test_no_copies_nothing(self):
        self.model_with({"a.txt": b"a"})
        run = Run(self.medium)
        run.answer(run.next_dialog(), "n")  # the No button's access key
        self.assertEqual(run.status(), 1)
        self.assertFalse((self.drive_c / "Tolvex").exists())

    def test_a_model_folder_with_a_single_file_arrives_as_a_folder(self):
        self.model_with({"only.mdl": b"one"})
        self.assertEqual(self.run_answering_yes(), 0)
        self.assertEqual(tree(self.destination), {"only.mdl": b"one"})

    def test_a_model_folder_with_a_single_folder_keeps_it(self):
        self.model_with({"textures/checker.pbm": b"P1"})
        (self.drive_c / "Tolvex").mkdir()
        self.assertEqual(self.run_answering_yes(), 0)
        self.assertEqual(tree(self.destination),
                         {"textures": None, "textures/checker.pbm": b"P1"})

    def test_names_in_japanese_and_other_scripts(self):
        files = {
            "モデル/立方体.mdl": "立方体".encode(),
            "説明書.txt": b"read me",
            "Ελληνικά.txt": b"el",
            "кириллица.ini": b"ru",
            "עברית.dat": b"he",
            "emoji 😀.txt": b"smile",
        }
        self.medium = self.workspace / "メディア ディスク"  # the current directory too
        self.model_with(files)
        make_read_only(self.medium / "Model" / "モデル" / "立方体.mdl")
        self.assertEqual(self.run_answering_yes(), 0)
        self.assertEqual({k: v for k, v in tree(self.destination).items() if v is not None}, files)
        self.assert_all_writable(self.destination)

    def test_a_linked_destination_is_refused_with_status_3(self):
        self.model_with({"a.txt": b"a"})
        elsewhere = self.workspace / "elsewhere"
        elsewhere.mkdir()
        (self.drive_c / "Tolvex").symlink_to(elsewhere)
        run = Run(self.medium)
        run.answer(run.next_dialog(), "Return")
        run.answer(run.next_dialog(), "Return")  # the error report
        self.assertEqual(run.status(), 3)
        self.assertEqual(list(elsewhere.iterdir()), [])

    def test_switches(self):
        """/? shows the usage, /S (also -s) installs showing nothing, anything else is ignored."""
        asked = ["May I copy the Model file?", "Processing end"]
        files = {"model.ini": b"scale", "textures/checker.pbm": b"P1"}
        # arguments, medium, exit statuses, message boxes (their starts), whether Model arrives
        cases = [
            (["/?"], "sample", (0,), ["Pellatrix 1.05\n\nPellatrix.exe [/S]"], False),
            (["/S"], "sample", (0,), [], True),
            (["-s"], "sample", (0,), [], True),
            # Wine's shell copy returns 0 for a missing source, where Windows' reports 2.
            (["/S"], "no Model", (0, 2), [], False),
            # A file where the destination folder goes is refused before anything is copied.
            (["/S"], "one file, and a file in place of C:\\Tolvex\\Model", (3,), [], False),
            (["/x", "--help", "S", "/Silent"], "sample", (0,), asked, True),
        ]
        for arguments, medium, statuses, messages, arrives in cases:
            with self.subTest(arguments=arguments, medium=medium):
                self.clear_destination()
                self.medium = pathlib.Path(tempfile.mkdtemp(dir=self.workspace))
                if medium == "sample":
                    self.model_with(files)
                    make_read_only(self.medium / "Model" / "model.ini")
                elif medium != "no Model":
                    self.model_with({"only.mdl": b"one"})
                    (self.drive_c / "Tolvex").mkdir()
                    self.destination.write_bytes(b"in the way")
                run = Run(self.medium, arguments)
                for _ in messages:
                    run.answer_next()
                self.assertIn(run.status(), statuses)
                shown = run.messages()
                self.assertEqual([text[:len(start)] for text, start in zip(shown, messages)],
                                 messages)
                self.assertEqual(len(shown), len(messages), shown)
                if arrives:
                    self.assertEqual({k: v for k, v in tree(self.destination).items() if v},
                                     files)
                    self.assert_all_writable(self.destination)
                else:
                    self.assertFalse(self.destination.is_dir())


if __name__ == "__main__":
    if EXE is None or "WINEPREFIX" not in os.environ:
        sys.exit(__doc__)
    require_wine()
    os.environ.setdefault("WINEDEBUG", "-all")
    os.environ.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    with Display() as display:
        os.environ["DISPLAY"] = display.name
        unittest.main(verbosity=2)
