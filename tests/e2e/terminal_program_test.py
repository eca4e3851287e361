#!/usr/bin/env python3
"""The real Linux program in a pseudo-terminal: the question, the copy, the walk, the closing
message, the exit statuses and the files and modes it leaves. Usage: terminal_program_test.py PROGRAM"""
import os
import stat
import subprocess
import sys
import unittest

from pellatrix_session import (CLOSING, assert_arrived_writable, QUESTION, RETRY_SKIP_CANCEL, Session, Workspace,
                               environment_without_display, make_medium, remove_tree, write_files)

PROGRAM = None


SAMPLE = {
    "model.ini": (b"scale=1.0\n", True),
    "cube.mdl": (b"vertices=8\n", False),
    "textures/checker.pbm": (b"P1\n2 2\n1 0\n0 1\n", True),
    "read me.txt": (b"read me\n", False),
    "\u30c7\u30fc\u30bf.bin": (b"\x00\x01", True),
}


class TerminalProgramTest(unittest.TestCase):
    def setUp(self):
        w = Workspace()
        self.root, self.medium, self.data, self.dest = w.root, w.medium, w.data, w.dest

    def tearDown(self):
        remove_tree(self.root)

    def start(self):
        return Session(PROGRAM, self.medium, self.data)

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
        assert_arrived_writable(self, self.dest, SAMPLE)
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
        self.assertEqual(s.answer_yes_and_close(), 0)

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

    def test_a_failing_file_offers_retry_skip_and_cancel_naming_it_safely(self):
        # The name would clear the screen and draw a false closing message if shown raw.
        blocked = "blocked\x1b[2J\x1b[HProcessing end"
        make_medium(self.medium, {blocked + "/inner": (b"x", False), "fine.txt": (b"fine", True)})
        write_files(self.dest, {blocked: (b"a file of the user's where the folder goes", False)})
        s = self.start()
        s.answer_yes_until_copy_error()
        self.assertIn(b'"~/medium/Model/blocked\\033[2J\\033[HProcessing end"', s.screen)
        s.type(b"\r")  # Retry fails again
        s.expect(RETRY_SKIP_CANCEL)
        self.assertEqual(s.choose_and_close(b"s"), 2)
        self.assertNotIn(b"\x1b[2J", s.screen)
        with open(os.path.join(self.dest, blocked), "rb") as f:
            self.assertEqual(f.read(), b"a file of the user's where the folder goes")
        assert_arrived_writable(self, self.dest, {"fine.txt": (b"fine", True)})

    def test_a_link_in_place_of_the_destination_is_refused(self):
        make_medium(self.medium, SAMPLE)
        outside = os.path.join(self.root, "outside")
        os.makedirs(outside)
        os.symlink(outside, os.path.join(self.data, "Tolvex"))
        s = self.start()
        s.expect(QUESTION)
        s.type(b"\r")
        s.expect(b"Tolvex - Error")
        s.expect(b'"~/data/Tolvex": it is a link or junction')
        s.expect(CLOSING)
        s.type(b"\r")
        self.assertEqual(s.status(), 3)
        self.assertEqual(os.listdir(outside), [])

    def test_an_unreadable_current_directory_copies_nothing(self):
        make_medium(self.medium, SAMPLE)
        gone = os.path.join(self.root, "gone")
        os.makedirs(gone)
        env = environment_without_display(self.data)
        result = subprocess.run(["sh", "-c", 'cd "$1" && rmdir "$1" && exec "$2"', "sh", gone, PROGRAM],
                                env=env, capture_output=True, start_new_session=True, timeout=30)
        self.assertEqual(result.returncode, 3)
        self.assertIn(b"current directory", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.data, "Tolvex")))

    def test_without_terminal_or_display_it_says_so_and_copies_nothing(self):
        make_medium(self.medium, SAMPLE)
        env = environment_without_display(self.data)
        result = subprocess.run([PROGRAM], cwd=self.medium, env=env, capture_output=True,
                                stdin=subprocess.DEVNULL, start_new_session=True, timeout=30)
        self.assertEqual(result.returncode, 3)
        self.assertIn(b"neither a terminal nor a display", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.data, "Tolvex")))


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
