#!/usr/bin/env python3
"""The Linux program at a desktop: the real program on a private Xvfb display, its dialogs found
by title and answered with xdotool, the results read from the disk.

Usage: desktop_program_test.py PROGRAM [unittest arguments, e.g. a test class]
Set PELLATRIX_SCREENSHOTS to a folder to keep a screenshot of each dialog there."""
import os
import pathlib
import pty
import shutil
import signal
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_session import (LEAK_SUPPRESSIONS, ProgramRun, VirtualDisplay,  # noqa: E402
                             make_readable_tree)

PROGRAM = None
TITLE = "Tolvex"
PROGRESS_TITLE = "Copying"
COPY_ERROR_TITLE = "Cannot Copy File"

EXIT_COPIED, EXIT_DECLINED, EXIT_COPY_FAILED, EXIT_ERROR = 0, 1, 2, 3


class DesktopTestCase(unittest.TestCase):
    """A display, a medium holding Model, and an empty data folder standing for C:."""

    def setUp(self):
        self.display = VirtualDisplay()
        self.addCleanup(self.display.close)
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="pellatrix-desktop-"))
        self.addCleanup(shutil.rmtree, self.root, True)
        self.medium = self.root / "medium"
        self.model = self.medium / "Model"
        self.model.mkdir(parents=True)
        self.data = self.root / "data"
        self.data.mkdir()
        self.destination = self.data / "Tolvex" / "Model"

    def write(self, relative, text, mode=0o644):
        path = self.model / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
        os.chmod(path, mode)
        return path

    def start(self):
        make_readable_tree(self.root)
        run = ProgramRun(PROGRAM, self.display.name, self.medium, self.data)
        self.addCleanup(run.stop)
        return run

    def answer_question(self, keys):
        """Waits for the question, presses keys on it; returns the question's window."""
        question = self.display.wait_for_window(TITLE)
        self.display.screenshot("question")
        self.display.press(question, keys)
        self.display.wait_until_gone(question)
        return question

    def close_processing_end(self, run, question):
        """The closing message is up while the program waits on it; OK ends the program."""
        closing = self.display.wait_for_window(TITLE, besides=[question])
        self.display.screenshot("processing_end")
        time.sleep(0.2)
        self.assertTrue(run.running(), "the program must wait on its closing message")
        self.display.press(closing, "Return")
        return run.wait()

    def copied_names(self):
        return sorted(str(p.relative_to(self.destination)) for p in self.destination.rglob("*"))


class QuestionTest(DesktopTestCase):
    def test_enter_answers_yes_copies_walks_and_ok_ends(self):
        self.write("model.ini", "[model]\n")
        locked = self.write("textures/checker.pbm", "P1 1 1 0\n", mode=0o444)
        run = self.start()
        question = self.answer_question("Return")
        status, errors = self.close_processing_end(run, question)
        self.assertEqual(status, EXIT_COPIED, errors)
        self.assertEqual(self.copied_names(), ["model.ini", "textures", "textures/checker.pbm"])
        self.assertEqual((self.destination / "model.ini").read_text(), "[model]\n")
        copied = self.destination / "textures" / "checker.pbm"
        self.assertEqual(copied.read_text(), locked.read_text())
        self.assertTrue(copied.stat().st_mode & 0o200, "the walk makes read-only copies writable")

    def test_no_copies_nothing(self):
        self.write("model.ini", "[model]\n")
        run = self.start()
        self.answer_question("alt+n")
        status, errors = run.wait()
        self.assertEqual(status, EXIT_DECLINED, errors)
        self.assertFalse((self.data / "Tolvex").exists())


class ProgressWindowTest(DesktopTestCase):
    # One file allocated but never written, under many names: instant to make, little disk
    # taken, and the copy reads and writes every block of every name (a sparse file would copy
    # at once, its holes kept), which takes seconds.
    LARGE_FILES = 32
    LARGE_SIZE = 256 * 1024 * 1024

    def cancel_during_copy(self, cancel):
        """Starts a long copy, calls cancel(run, progress window), then checks the outcome."""
        first = self.model / "part00.bin"
        with open(first, "wb") as part:
            os.posix_fallocate(part.fileno(), 0, self.LARGE_SIZE)
        for index in range(1, self.LARGE_FILES):
            os.link(first, self.model / f"part{index:02d}.bin")
        run = self.start()
        question = self.answer_question("alt+y")
        progress = self.display.wait_for_window(PROGRESS_TITLE)
        self.display.screenshot("progress")
        cancel(run, progress)
        self.display.wait_until_gone(progress)
        status, errors = self.close_processing_end(run, question)
        self.assertEqual(status, EXIT_COPY_FAILED, errors)
        names = self.copied_names()
        self.assertLess(len(names), self.LARGE_FILES, "the copy went on to the end")
        for name in names:
            # Whole files only: the one being written when the cancel came is not left behind.
            self.assertRegex(name, r"^part\d\d\.bin$")
            self.assertEqual((self.destination / name).stat().st_size, self.LARGE_SIZE)

    def test_cancel_stops_the_copy_and_the_walk_and_closing_message_follow(self):
        self.cancel_during_copy(lambda run, progress: self.display.press(progress, "alt+c"))

    def test_interrupt_cancels_as_cancel_does(self):
        # Ctrl-C on the terminal the program was started from.
        self.cancel_during_copy(lambda run, progress: run.process.send_signal(signal.SIGINT))


class CopyErrorTest(DesktopTestCase):
    """A file that cannot be read: Retry once it can be, or Skip it."""

    def start_with_unreadable_file(self):
        self.write("model.ini", "[model]\n")
        unreadable = self.write("mesh.dat", "vertices\n", mode=0o000)
        run = self.start()
        question = self.answer_question("Return")
        dialog = self.display.wait_for_window(COPY_ERROR_TITLE)
        self.display.screenshot("copy_error")
        return run, question, dialog, unreadable

    def test_retry_copies_the_file_once_it_can_be_read(self):
        run, question, dialog, unreadable = self.start_with_unreadable_file()
        os.chmod(unreadable, 0o644)
        self.display.press(dialog, "alt+r")
        status, errors = self.close_processing_end(run, question)
        self.assertEqual(status, EXIT_COPIED, errors)
        self.assertEqual(self.copied_names(), ["mesh.dat", "model.ini"])
        self.assertEqual((self.destination / "mesh.dat").read_text(), "vertices\n")

    def test_skip_leaves_the_file_out_and_copies_the_rest(self):
        run, question, dialog, _ = self.start_with_unreadable_file()
        self.display.press(dialog, "alt+s")
        status, errors = self.close_processing_end(run, question)
        self.assertEqual(status, EXIT_COPY_FAILED, errors)
        self.assertEqual(self.copied_names(), ["model.ini"])

    def test_interrupt_answers_cancel(self):
        run, question, dialog, _ = self.start_with_unreadable_file()
        run.process.send_signal(signal.SIGINT)
        self.display.wait_until_gone(dialog)
        status, errors = self.close_processing_end(run, question)
        self.assertEqual(status, EXIT_COPY_FAILED, errors)
        self.assertNotIn("mesh.dat", self.copied_names())


class ErrorReportTest(DesktopTestCase):
    def test_a_destination_that_is_a_link_is_reported_and_nothing_is_written(self):
        self.write("model.ini", "[model]\n")
        elsewhere = self.root / "elsewhere"
        elsewhere.mkdir()
        (self.data / "Tolvex").symlink_to(elsewhere)
        run = self.start()
        question = self.answer_question("Return")
        report = self.display.wait_for_window(TITLE, besides=[question])
        self.display.screenshot("error_report")
        self.display.press(report, "Return")
        status, errors = run.wait()
        self.assertEqual(status, EXIT_ERROR, errors)
        self.assertEqual(list(elsewhere.iterdir()), [])


class TerminalFallbackTest(unittest.TestCase):
    """A display that cannot be opened never stops the program: it asks on the terminal."""

    def ask_on_terminal(self, environment):
        root = tempfile.mkdtemp(prefix="pellatrix-fallback-")
        self.addCleanup(shutil.rmtree, root, True)
        os.makedirs(os.path.join(root, "medium", "Model"))
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": root,
               "XDG_DATA_HOME": os.path.join(root, "data"), "LANG": "C.UTF-8",
               "LSAN_OPTIONS": f"suppressions={LEAK_SUPPRESSIONS}", **environment}
        pid, terminal = pty.fork()
        if pid == 0:
            os.chdir(os.path.join(root, "medium"))
            os.execve(PROGRAM, [PROGRAM], env)
        shown = b""
        deadline = time.monotonic() + 20
        while b"Yes / No" not in shown and time.monotonic() < deadline:
            try:
                shown += os.read(terminal, 4096)
            except OSError:
                break
        os.write(terminal, b"no\n")
        _, status = os.waitpid(pid, 0)
        os.close(terminal)
        return shown.decode(errors="replace"), os.waitstatus_to_exitcode(status)

    def test_unreachable_x_display(self):
        unused = next(n for n in range(900, 1000) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        shown, status = self.ask_on_terminal({"DISPLAY": f":{unused}"})
        self.assertIn("May I copy the Model file?", shown)
        self.assertEqual(status, EXIT_DECLINED)

    def test_unreachable_wayland_display(self):
        shown, status = self.ask_on_terminal({"WAYLAND_DISPLAY": "pellatrix-no-such-display",
                                              "XDG_RUNTIME_DIR": tempfile.gettempdir()})
        self.assertIn("May I copy the Model file?", shown)
        self.assertEqual(status, EXIT_DECLINED)


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
