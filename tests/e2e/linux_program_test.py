#!/usr/bin/env python3
"""What only the Linux program does: its command line, the cancel by Ctrl-C, SIGTERM and the
progress window, the terminal's own prompts and the desktop's fallback to them, and the links,
names and other copies that a Linux disk and its users bring.

usage: linux_program_test.py PROGRAM
"""
import fcntl
import os
import signal
import sys
import time
import unittest

from harness import (DesktopRun, Display, TerminalRun, UnattendedRun, Workspace,
                     assert_arrived_writable, exchanging, files_under, read, snapshot,
                     writable, write_files)

PROGRAM = os.path.abspath(sys.argv.pop(1))
SAMPLE = {"model.ini": (b"scale=1.0\n", True), "textures/checker.pbm": (b"P1\n", True)}
USAGE, TRY_HELP = b"Usage: pellatrix [--yes]\n", b"Try 'pellatrix --help' for more information.\n"


def sample(w):
    write_files(w.model, SAMPLE)
    return SAMPLE


def blocked(w):
    """A file of the user's stands where the medium's folder "blocked" goes."""
    write_files(w.model, {"blocked/inner": (b"x", False), "fine.txt": (b"fine", True)})
    write_files(w.dest, {"blocked": (b"the user's", False)})
    return {"blocked": (b"the user's", False), "fine.txt": (b"fine", True)}


def removed(w):
    """The current directory is removed as the program starts."""
    w.options = {"preexec_fn": lambda: os.rmdir(w.medium)}
    return {}


def full(w):
    """Standard output is a full disk."""
    w.options = {"stdout": w.cleanup.enter_context(open("/dev/full", "wb"))}
    return sample(w)


# arguments, medium, exit status, standard output (its start), parts of standard error (None:
# it stays empty), whether the medium's files arrive (else no destination is made).
COMMAND_LINES = [
    (["--help"], sample, 0, USAGE, None, False),
    (["--yes", "--help"], sample, 0, USAGE, None, False),
    (["--version"], sample, 0, b"pellatrix 1.05\n", None, False),
    (["--version"], full, 3, b"", [b"pellatrix: write error"], False),
    (["--yes"], sample, 0, b"", None, True),
    (["-y"], blocked, 2, b"", [b'Tolvex: Could not copy "~/', b"blocked", b"skipped"], True),
    (["--yes"], removed, 3, b"", [b"Tolvex: ", b"current directory"], False),
    ([], sample, 3, b"", [b"neither a terminal nor a display"], False),
    (["--bogus"], sample, 4, b"", [b"pellatrix: unrecognized option '--bogus'\n" + TRY_HELP], False),
    (["-yx"], sample, 4, b"", [b"pellatrix: invalid option -- 'x'\n" + TRY_HELP], False),
    (["--yes=now"], sample, 4, b"", [b"option '--yes' doesn't allow an argument\n" + TRY_HELP],
     False),
    (["-y", "Model"], sample, 4, b"", [b"pellatrix: extra operand 'Model'\n" + TRY_HELP], False),
]


def long_copy(w):
    """A copy that takes seconds: one read-only file allocated but never written, under many
    names. It is made at once and takes little disk; the copy reads and writes every block
    (a sparse file would copy at once, its holes kept)."""
    os.makedirs(w.model)
    first = os.path.join(w.model, "part00.bin")
    with open(first, "wb") as part:
        os.posix_fallocate(part.fileno(), 0, 256 << 20)
    os.chmod(first, 0o444)
    for index in range(1, 32):
        os.link(first, os.path.join(w.model, f"part{index:02}.bin"))


class LinuxProgramTest(unittest.TestCase):
    def setUp(self):
        self.w = Workspace()
        self.addCleanup(lambda: self.w.close())

    def test_command_lines(self):
        for arguments, medium, status, output, errors, arrives in COMMAND_LINES:
            with self.subTest(arguments=arguments, medium=medium.__name__):
                self.w.close()
                self.w = Workspace()
                files = medium(self.w)
                run = UnattendedRun(PROGRAM, self.w, arguments, **getattr(self.w, "options", {}))
                self.assertEqual(run.status(), status, run.errors)
                self.assertTrue(run.output.startswith(output) and (output or not run.output))
                for part in errors or []:
                    self.assertIn(part, run.errors)
                self.assertTrue(errors or not run.errors, run.errors)
                if arrives:
                    assert_arrived_writable(self, self.w.dest, files)
                else:
                    self.assertFalse(os.path.exists(self.w.dest))

    def test_ctrl_c_sigterm_and_cancel_stop_the_copy_and_the_walk_still_runs(self):
        display = Display()
        self.addCleanup(display.close)

        def ctrl_c(run):
            run.expect(b"Copying")
            run.type(b"\x03")

        def terminate(run):
            while not (os.path.isdir(self.w.dest) and os.listdir(self.w.dest)):
                time.sleep(0.01)
            run.process.send_signal(signal.SIGTERM)

        def cancel_button(run):
            display.press(run.dialog("Copying"), "alt+c")

        def interrupt(title):
            return lambda run: (run.dialog(title), run.process.send_signal(signal.SIGINT))

        def unreadable(w):
            write_files(w.model, {"part00.bin": (b"unreadable", False)})
            os.chmod(os.path.join(w.model, "part00.bin"), 0)

        terminal = lambda *arguments: lambda: TerminalRun(PROGRAM, self.w, arguments)
        desktop = lambda: DesktopRun(PROGRAM, self.w, display)
        cases = [  # the medium, how it runs, the steps, what it shows
            (long_copy, terminal(), ["yes", ctrl_c, "ok"], r"(?s)Copy cancelled\..*Processing end"),
            (long_copy, terminal("--yes"), [ctrl_c], r"Copy cancelled\.\r\n\Z"),
            (long_copy, lambda: UnattendedRun(PROGRAM, self.w, ["--yes"]), [terminate],
             r"\ATolvex: Copy cancelled\.\n\Z"),
            (long_copy, desktop, ["yes", cancel_button, "ok"], None),
            (long_copy, desktop, ["yes", interrupt("Copying"), "ok"], None),
            (unreadable, desktop, ["yes", interrupt("Cannot Copy File"), "ok"], None),
        ]
        for medium, start, steps, said in cases:
            with self.subTest(steps=[getattr(s, "__name__", s) for s in steps], said=said):
                self.w.close()
                self.w = Workspace()
                medium(self.w)
                run = start()
                for step in steps:
                    step(run) if callable(step) else getattr(run, step)()
                self.assertEqual(run.status(), 2)
                if said:
                    self.assertRegex(run.shown, said)
                # Whole files only (none where the error question was answered by the
                # interrupt), each made writable by the walk.
                copied = files_under(self.w.tolvex)
                self.assertLess(len(copied), 32, "the copy went on to the end")
                for name in copied:
                    self.assertRegex(name, rb"^Model/part\d\d\.bin$")
                    path = os.path.join(os.fsencode(self.w.tolvex), name)
                    self.assertEqual(os.path.getsize(path), 256 << 20)
                    self.assertTrue(writable(path))

    def test_a_display_that_cannot_be_opened_leaves_the_questions_to_the_terminal(self):
        for display in ({"DISPLAY": ":999"},
                        {"WAYLAND_DISPLAY": "no-such-display", "XDG_RUNTIME_DIR": self.w.root}):
            run = TerminalRun(PROGRAM, self.w, environment=display)
            run.no()
            self.assertEqual(run.status(), 1)
            self.assertIn("May I copy the Model file?", run.shown)

    def test_the_terminal_asks_again_and_shows_names_safely(self):
        # Shown raw, the name would clear the screen and draw a false closing message.
        name = "blocked\x1b[2J\x1b[HProcessing end"
        write_files(self.w.model, {name + "/inner": (b"x", False)})
        write_files(self.w.dest, {name: (b"the user's", False)})
        run = TerminalRun(PROGRAM, self.w)
        run.expect(run.QUESTION)
        run.type(b"maybe\r")
        run.expect(b"Please answer Yes or No.")
        run.yes()
        run.choose("r")  # it fails again and is asked again
        run.choose("s")
        run.ok()
        self.assertEqual(run.status(), 2)
        self.assertIn('"~/メディア disk/Model/blocked\\033[2J\\033[HProcessing end"', run.shown)
        self.assertNotIn("\x1b[2J", run.shown)
        self.assertEqual(read(os.path.join(self.w.dest, name)), b"the user's")
        run = TerminalRun(PROGRAM, self.w)
        run.expect(run.QUESTION)
        run.type(b"\x04")  # the end of input answers No
        self.assertEqual(run.status(), 1)

    def test_links_and_names_of_a_linux_disk(self):
        # Links in the medium arrive as links, loops too; names that are not UTF-8 arrive; links
        # at the destination are replaced, never written through.
        files = {b"caf\xe9/\xff\xfe.bin": (b"latin-1", True), "file.txt": (b"medium", True),
                 "dir/inner.txt": (b"medium", True), "dir/new.txt": (b"medium", True)}
        write_files(self.w.model, files)
        links = {"a": "b", "b": "a", "self": ".", "parent": ".."}
        for name, target in links.items():
            os.symlink(target, os.path.join(self.w.model, name))
        write_files(self.w.outside, {"file.txt": (b"outside", True), "dir/inner.txt": (b"out", True)})
        os.makedirs(self.w.dest)
        for name in ("file.txt", "dir"):
            os.symlink(os.path.join(self.w.outside, name), os.path.join(self.w.dest, name))
        before = snapshot(self.w.outside)
        run = TerminalRun(PROGRAM, self.w)
        run.yes()
        run.ok()
        self.assertEqual(run.status(), 0, run.shown)
        self.assertEqual(snapshot(self.w.outside), before)
        assert_arrived_writable(self, self.w.dest, files)
        for name, target in links.items():
            self.assertEqual(os.readlink(os.path.join(self.w.dest, name)), target)

    def test_c_tolvex_swapped_for_a_link_again_and_again_while_the_copy_runs(self):
        files = {"d%04d/f" % i: (b"%d" % i, False) for i in range(3000)}  # long to count
        write_files(self.w.model, files)
        os.makedirs(self.w.outside)
        os.makedirs(self.w.tolvex)
        os.symlink(self.w.outside, self.w.tolvex + "-link")
        run = TerminalRun(PROGRAM, self.w)
        run.yes()
        run.expect(b"Copying")  # the start-up check is behind it
        with exchanging(self.w.tolvex, self.w.tolvex + "-link", pauses=(0.01, 0.001)):
            run.ok()
            status = run.status()
        self.assertEqual(os.listdir(self.w.outside), [], "written through the link")
        if status == 0:  # nothing was refused: everything is in the real folder
            assert_arrived_writable(self, self.w.dest, files)

    def test_a_second_copy_into_the_same_folder_says_so_and_waits_for_the_first(self):
        write_files(self.w.model, SAMPLE)
        os.makedirs(self.w.tolvex)
        first = os.open(self.w.tolvex, os.O_RDONLY)
        fcntl.flock(first, fcntl.LOCK_EX)  # as the first copy holds it
        run = TerminalRun(PROGRAM, self.w)
        run.yes()
        run.choose("r", lambda: self.assertIn("another copy is writing into this folder",
                                              run.shown))
        time.sleep(0.5)  # a copy that did not wait would be under way
        self.assertFalse(os.path.exists(self.w.dest), "copied while the first copy ran")
        os.close(first)
        run.ok()
        self.assertEqual(run.status(), 0)
        assert_arrived_writable(self, self.w.dest, SAMPLE)


if __name__ == "__main__":
    unittest.main(verbosity=2)
