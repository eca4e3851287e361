#!/usr/bin/env python3
"""The real Linux program's command line: help, version, the unattended install and bad command
lines, with neither a terminal nor a display. Usage: command_line_test.py PROGRAM"""
import os
import signal
import subprocess
import sys
import time
import unittest

from pellatrix_session import (Session, Workspace, assert_arrived_writable,
                               environment_without_display, make_medium, remove_tree, write_files)

PROGRAM = None
SAMPLE = {"model.ini": (b"scale=1.0\n", True), "textures/checker.pbm": (b"P1\n", True)}
TRY_HELP = b"Try 'pellatrix --help' for more information.\n"


def sample(w):
    make_medium(w.medium, SAMPLE)
    return SAMPLE


def no_model(w):
    return {}


def blocked(w):
    """A file of the user's stands where the medium's folder "blocked" goes."""
    make_medium(w.medium, {"blocked/inner": (b"x", False), "fine.txt": (b"fine", True)})
    write_files(w.dest, {"blocked": (b"the user's", False)})
    return {"blocked": (b"the user's", False), "fine.txt": (b"fine", True)}


def linked(w):
    """C:\\Tolvex is a link to a folder elsewhere."""
    make_medium(w.medium, SAMPLE)
    os.makedirs(os.path.join(w.root, "outside"))
    os.symlink(os.path.join(w.root, "outside"), os.path.join(w.data, "Tolvex"))
    return {}


USAGE = b"Usage: pellatrix [--yes]\n"
# arguments, medium, exit status, standard output (its start), parts of standard error (none:
# it stays empty), whether the medium's files arrive (else no destination is made).
CASES = [
    (["--help"], sample, 0, USAGE, [], False),
    (["--yes", "--help"], sample, 0, USAGE, [], False),
    (["--version"], sample, 0, b"pellatrix 1.05\n", [], False),
    (["--yes"], sample, 0, b"", [], True),
    (["-y"], blocked, 2, b"", [b"Tolvex: Could not copy", b"blocked", b"skipped"], True),
    (["--yes"], no_model, 2, b"", [b"Model", b"No such file or directory"], False),
    (["--yes"], linked, 3, b"", [b"Tolvex: ", b"link or junction"], False),
    (["--bogus"], sample, 4, b"", [b"pellatrix: unrecognized option '--bogus'\n" + TRY_HELP], False),
    (["-yx"], sample, 4, b"", [b"pellatrix: invalid option -- 'x'\n" + TRY_HELP], False),
    (["--yes=now"], sample, 4, b"", [b"option '--yes' doesn't allow an argument\n" + TRY_HELP], False),
    (["-y", "Model"], sample, 4, b"", [b"pellatrix: extra operand 'Model'\n" + TRY_HELP], False),
]


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.w = Workspace()

    def tearDown(self):
        remove_tree(self.w.root)

    def run_program(self, arguments, stdout=subprocess.PIPE):
        return subprocess.run([PROGRAM, *arguments], cwd=self.w.medium,
                              env=environment_without_display(self.w.data), stdout=stdout,
                              stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                              start_new_session=True, timeout=60)

    def test_command_lines(self):
        for arguments, medium, status, output, error_parts, arrives in CASES:
            with self.subTest(arguments=arguments, medium=medium.__name__):
                remove_tree(self.w.root)
                self.w = Workspace()
                files = medium(self.w)
                result = self.run_program(arguments)
                self.assertEqual(result.returncode, status, result.stderr)
                if output:
                    self.assertTrue(result.stdout.startswith(output), result.stdout)
                else:
                    self.assertEqual(result.stdout, b"")
                for part in error_parts:
                    self.assertIn(part, result.stderr)
                if not error_parts:
                    self.assertEqual(result.stderr, b"")
                if arrives:
                    assert_arrived_writable(self, self.w.dest, files)
                else:
                    self.assertFalse(os.path.exists(self.w.dest))

    def test_a_version_that_cannot_be_written_is_an_error(self):
        with open("/dev/full", "wb") as full:
            result = self.run_program(["--version"], stdout=full)
        self.assertEqual(result.returncode, 3)
        self.assertIn(b"write error", result.stderr)

    def test_interrupt_and_terminate_cancel_the_copy_and_the_walk_still_runs(self):
        files = {f"f{i // 500}/file{i}.dat": (b"x" * 2048, True) for i in range(20000)}
        make_medium(self.w.medium, files)
        # Ctrl-C on a terminal, where the progress is shown on standard error.
        s = Session(PROGRAM, self.w.medium, self.w.data, arguments=["--yes"])
        s.expect(b"Copying: ")
        s.type(b"\x03")
        self.assertEqual(s.status(timeout=60), 2)
        self.assertIn(b"Copy cancelled.", s.screen)
        self.assertNotIn(b"Processing end", s.screen)
        self.assert_partly_copied_and_walked(len(files))
        # SIGTERM without a terminal, where no progress is shown.
        remove_tree(self.w.dest)
        process = subprocess.Popen([PROGRAM, "--yes"], cwd=self.w.medium,
                                   env=environment_without_display(self.w.data),
                                   stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   start_new_session=True)
        deadline = time.monotonic() + 30
        while not (os.path.isdir(self.w.dest) and os.listdir(self.w.dest)):
            self.assertLess(time.monotonic(), deadline, "the copy did not start")
            time.sleep(0.01)
        process.send_signal(signal.SIGTERM)
        _, error = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 2)
        self.assertEqual(error, b"Tolvex: Copy cancelled.\n")
        self.assert_partly_copied_and_walked(len(files))

    def assert_partly_copied_and_walked(self, total):
        copied = [os.path.join(folder, name) for folder, _, names in os.walk(self.w.dest)
                  for name in names]
        self.assertLess(len(copied), total, "the copy stopped")
        for path in copied:
            self.assertTrue(os.stat(path).st_mode & 0o200, f"{path} was not walked")


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
