#!/usr/bin/env python3
"""The real Linux program in a pseudo-terminal: the question, the copy, the walk, the closing
message, the exit statuses and the files and modes it leaves. Usage: terminal_program_test.py PROGRAM"""
import os
import pty
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM = None
QUESTION = b"Yes / No [Yes]: "
CLOSING = b"OK [Enter]: "


class Session:
    """The program running on a pseudo-terminal as its controlling terminal."""

    def __init__(self, cwd, data_home):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["XDG_DATA_HOME"] = data_home
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            os.execve(PROGRAM, [PROGRAM], env)
        self.screen = b""

    def expect(self, text, timeout=20):
        deadline = time.monotonic() + timeout
        while text not in self.screen:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"{text!r} not shown; screen was:\n{self.screen.decode(errors='replace')}")
            ready, _, _ = select.select([self.fd], [], [], remaining)
            if ready:
                try:
                    self.screen += os.read(self.fd, 65536)
                except OSError:
                    break
        if text not in self.screen:
            raise AssertionError(f"{text!r} not shown; screen was:\n{self.screen.decode(errors='replace')}")

    def type(self, text):
        os.write(self.fd, text)

    def status(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                ready, _, _ = select.select([self.fd], [], [], 0.1)
                if ready:
                    self.screen += os.read(self.fd, 65536)
            except OSError:
                pass
            pid, code = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                os.close(self.fd)
                return os.waitstatus_to_exitcode(code)
        os.kill(self.pid, signal.SIGKILL)
        raise AssertionError("the program did not end")


def make_medium(root, files):
    """files: relative path -> (content, read_only)."""
    for relative, (content, read_only) in files.items():
        path = os.path.join(root, "Model", relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        if read_only:
            os.chmod(path, 0o444)


SAMPLE = {
    "model.ini": (b"scale=1.0\n", True),
    "cube.mdl": (b"vertices=8\n", False),
    "textures/checker.pbm": (b"P1\n2 2\n1 0\n0 1\n", True),
    "read me.txt": (b"read me\n", False),
    "\u30c7\u30fc\u30bf.bin": (b"\x00\x01", True),
}


class TerminalProgramTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="pellatrix-e2e-")
        self.medium = os.path.join(self.root, "medium")
        self.data = os.path.join(self.root, "data")
        self.dest = os.path.join(self.data, "Tolvex", "Model")
        os.makedirs(self.medium)
        os.makedirs(self.data)

    def tearDown(self):
        for folder, _, names in os.walk(self.root):
            for name in names + [""]:
                path = os.path.join(folder, name)
                if not os.path.islink(path):
                    os.chmod(path, 0o700)
        shutil.rmtree(self.root)

    def start(self):
        return Session(self.medium, self.data)

    def assert_copied_and_writable(self, files):
        for relative, (content, _) in files.items():
            path = os.path.join(self.dest, relative)
            with open(path, "rb") as f:
                self.assertEqual(f.read(), content, relative)
            self.assertTrue(os.stat(path).st_mode & stat.S_IWUSR, f"{relative} is still read-only")

    def test_yes_copies_everything_and_makes_it_writable(self):
        make_medium(self.medium, SAMPLE)
        s = self.start()
        s.expect(b"Tolvex")
        s.expect(b"May I copy the Model file?")
        s.expect(QUESTION)
        s.type(b"\r")  # Enter chooses Yes
        s.expect(b"Processing end")
        s.expect(CLOSING)
        s.type(b"\r")
        self.assertEqual(s.status(), 0)
        self.assert_copied_and_writable(SAMPLE)
        self.assertEqual(sorted(os.listdir(self.dest)), sorted(["model.ini", "cube.mdl", "textures", "read me.txt", "\u30c7\u30fc\u30bf.bin"]))

    def test_no_and_end_of_input_copy_nothing(self):
        make_medium(self.medium, SAMPLE)
        for answer in (b"maybe\rNO\r", b"\x04"):
            s = self.start()
            s.expect(QUESTION)
            s.type(answer)
            self.assertEqual(s.status(), 1)
            self.assertNotIn(b"Processing end", s.screen)
            self.assertFalse(os.path.exists(os.path.join(self.data, "Tolvex")))

    def test_a_reply_that_is_not_an_answer_asks_again(self):
        make_medium(self.medium, SAMPLE)
        s = self.start()
        s.expect(QUESTION)
        s.type(b"maybe\r")
        s.expect(b"Please answer Yes or No.")
        s.type(b"y\r")
        s.expect(CLOSING)
        s.type(b"\r")
        self.assertEqual(s.status(), 0)

    def test_ctrl_c_cancels_the_copy_and_the_walk_and_closing_message_follow(self):
        files = {f"f{i // 500}/file{i}.dat": (b"x" * 2048, True) for i in range(20000)}
        make_medium(self.medium, files)
        s = self.start()
        s.expect(QUESTION)
        s.type(b"\r")
        s.expect(b"Copying")
        s.type(b"\x03")
        s.expect(b"Processing end", timeout=60)
        s.type(b"\r")
        self.assertEqual(s.status(), 2)
        copied = [os.path.join(folder, name) for folder, _, names in os.walk(self.dest) for name in names]
        self.assertLess(len(copied), len(files), "the copy stopped")
        for path in copied:
            self.assertFalse(os.path.basename(path).startswith(".pellatrix-tmp-"), path)
            self.assertTrue(os.stat(path).st_mode & stat.S_IWUSR, f"{path} was not walked")

    def test_a_failing_file_offers_retry_skip_and_cancel(self):
        make_medium(self.medium, {"blocked/inner": (b"x", False), "fine.txt": (b"fine", True)})
        os.makedirs(self.dest)
        with open(os.path.join(self.dest, "blocked"), "wb") as f:
            f.write(b"a file of the user's where the folder goes")
        s = self.start()
        s.expect(QUESTION)
        s.type(b"\r")
        s.expect(b"Retry / Skip / Cancel [Retry]: ")
        self.assertIn(b"blocked", s.screen)
        s.type(b"\r")  # Retry fails again
        s.expect(b"Retry / Skip / Cancel [Retry]: ")
        s.type(b"s\r")
        s.expect(CLOSING)
        s.type(b"\r")
        self.assertEqual(s.status(), 2)
        with open(os.path.join(self.dest, "blocked"), "rb") as f:
            self.assertEqual(f.read(), b"a file of the user's where the folder goes")
        self.assert_copied_and_writable({"fine.txt": (b"fine", True)})

    def test_a_link_in_place_of_the_destination_is_refused(self):
        make_medium(self.medium, SAMPLE)
        outside = os.path.join(self.root, "outside")
        os.makedirs(outside)
        os.symlink(outside, os.path.join(self.data, "Tolvex"))
        s = self.start()
        s.expect(QUESTION)
        s.type(b"\r")
        s.expect(b"Tolvex - Error")
        s.expect(b"link or junction")
        s.expect(CLOSING)
        s.type(b"\r")
        self.assertEqual(s.status(), 3)
        self.assertEqual(os.listdir(outside), [])

    def test_an_unreadable_current_directory_copies_nothing(self):
        make_medium(self.medium, SAMPLE)
        gone = os.path.join(self.root, "gone")
        os.makedirs(gone)
        env = dict(os.environ, XDG_DATA_HOME=self.data)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        result = subprocess.run(["sh", "-c", 'cd "$1" && rmdir "$1" && exec "$2"', "sh", gone, PROGRAM],
                                env=env, capture_output=True, start_new_session=True, timeout=30)
        self.assertEqual(result.returncode, 3)
        self.assertIn(b"current directory", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.data, "Tolvex")))

    def test_without_terminal_or_display_it_says_so_and_copies_nothing(self):
        make_medium(self.medium, SAMPLE)
        env = dict(os.environ, XDG_DATA_HOME=self.data)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        result = subprocess.run([PROGRAM], cwd=self.medium, env=env, capture_output=True,
                                stdin=subprocess.DEVNULL, start_new_session=True, timeout=30)
        self.assertEqual(result.returncode, 3)
        self.assertIn(b"neither a terminal nor a display", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.data, "Tolvex")))


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
