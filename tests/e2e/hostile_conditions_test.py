#!/usr/bin/env python3
"""The real Linux program under the conditions that real media, disks and people produce: it
loses nothing, leaves no half-written file and touches nothing outside its destination.
Usage: hostile_conditions_test.py PROGRAM"""
import fcntl
import os
import stat
import subprocess
import sys
import threading
import time
import unittest

from pellatrix_session import (CLOSING, QUESTION, RETRY_SKIP_CANCEL, TEMPORARY_PREFIX, Session,
                               Workspace, assert_arrived_writable, files_under, make_medium,
                               remove_tree, snapshot, write_files)

PROGRAM = None
NOBODY = 65534
IS_ROOT = os.geteuid() == 0

# Another process: once told (a byte on its input), it exchanges two names again and again,
# each time in one atomic step (renameat2 with RENAME_EXCHANGE), leaving them exchanged ten
# times as long as not.
EXCHANGE_LOOP = r"""
import ctypes, os, sys, time
libc = ctypes.CDLL(None, use_errno=True)
a, b = (os.fsencode(p) for p in sys.argv[1:3])
sys.stdin.read(1)
while True:
    for pause in (0.01, 0.001):
        if libc.renameat2(-100, a, -100, b, 2) != 0:
            raise OSError(ctypes.get_errno(), "renameat2")
        time.sleep(pause)
"""


class Conditions(unittest.TestCase):
    def setUp(self):
        self.w = Workspace()
        self.medium, self.data, self.dest = self.w.medium, self.w.data, self.w.dest

    def tearDown(self):
        remove_tree(self.w.root)

    def start(self, user=None):
        return Session(PROGRAM, self.medium, self.data, user=user)

    def assert_no_temporaries(self):
        for relative in files_under(self.data):
            self.assertFalse(os.path.basename(relative).startswith(os.fsencode(TEMPORARY_PREFIX)), relative)


class MediumConditions(Conditions):
    def test_a_medium_read_only_throughout_as_on_a_cd(self):
        files = {"a.txt": (b"a", True), "sub/b.txt": (b"b", True), "sub/deeper/c.txt": (b"c", True)}
        make_medium(self.medium, files)
        for parent, dirs, _ in os.walk(self.medium):
            for d in dirs:
                os.chmod(os.path.join(parent, d), 0o555)
        self.assertEqual(self.start().answer_yes_and_close(), 0)
        assert_arrived_writable(self, self.dest, files)
        with open(os.path.join(self.dest, "sub", "new"), "w") as f:
            f.write("the copied folders are writable")

    def test_empty_model_copies_nothing_and_succeeds(self):
        os.makedirs(os.path.join(self.medium, "Model"))
        self.assertEqual(self.start().answer_yes_and_close(), 0)
        self.assertFalse(os.path.exists(self.dest))

    def test_no_model_or_a_model_that_is_a_file_is_reported(self):
        for make in (lambda: None, lambda: open(os.path.join(self.medium, "Model"), "w").close()):
            make()
            s = self.start()
            s.answer_yes_until_copy_error()
            self.assertIn(b"Model", s.screen)
            self.assertEqual(s.choose_and_close(b"c"), 2)
            self.assertFalse(os.path.exists(self.dest))

    @unittest.skipUnless(hasattr(os, "setuid"), "needs setuid")
    def test_unreadable_files_in_the_middle_of_the_tree_are_skipped_and_reported(self):
        files = {"a.txt": (b"a", False), "mid/secret.bin": (b"s", False), "z.txt": (b"z", False)}
        make_medium(self.medium, files)
        secret = os.path.join(self.medium, "Model", "mid", "secret.bin")
        os.chmod(secret, 0)
        user = None
        if IS_ROOT:  # root reads everything: run the program as nobody
            user = NOBODY
            for parent, dirs, names in os.walk(self.w.root):
                for name in dirs + names + [""]:
                    os.lchown(os.path.join(parent, name), NOBODY, NOBODY)
        s = self.start(user)
        s.answer_yes_until_copy_error()
        self.assertIn(b"secret.bin", s.screen)
        self.assertIn(b"Permission denied", s.screen)
        self.assertEqual(s.choose_and_close(b"skip"), 2)
        del files["mid/secret.bin"]
        assert_arrived_writable(self, self.dest, files)
        self.assertFalse(os.path.exists(os.path.join(self.dest, "mid", "secret.bin")))

    def test_names_in_every_script_and_names_that_are_not_utf8(self):
        files = {
            "with space.txt": (b"1", True), "\u30e2\u30c7\u30eb/\u30c7\u30fc\u30bf.bin": (b"2", True),
            "emoji \U0001F600.dat": (b"3", False), ".hidden-folder/.profile": (b"4", True),
            b"caf\xe9/\xff\xfe.bin": (b"5", True),
        }
        make_medium(self.medium, files)
        self.assertEqual(self.start().answer_yes_and_close(), 0)
        assert_arrived_writable(self, self.dest, files)

    def test_a_hundred_thousand_files_in_one_folder(self):
        folder = os.path.join(self.medium, "Model", "flat")
        os.makedirs(folder)
        for i in range(100000):
            fd = os.open(os.path.join(folder, "f%06d" % i), os.O_WRONLY | os.O_CREAT, 0o444)
            os.close(fd)
        self.assertEqual(self.start().answer_yes_and_close(timeout=300), 0)
        copied = os.listdir(os.path.join(self.dest, "flat"))
        self.assertEqual(len(copied), 100000)
        read_only = [n for n in copied if not os.stat(os.path.join(self.dest, "flat", n)).st_mode & stat.S_IWUSR]
        self.assertEqual(read_only, [])

    def test_a_link_loop_in_the_source_is_copied_as_links(self):
        model = os.path.join(self.medium, "Model")
        make_medium(self.medium, {"real.txt": (b"r", False)})
        os.symlink("b", os.path.join(model, "a"))
        os.symlink("a", os.path.join(model, "b"))
        os.symlink(".", os.path.join(model, "self"))
        os.symlink("..", os.path.join(model, "parent"))
        self.assertEqual(self.start().answer_yes_and_close(), 0)
        for name, target in (("a", "b"), ("b", "a"), ("self", "."), ("parent", "..")):
            self.assertEqual(os.readlink(os.path.join(self.dest, name)), target)


class DestinationConditions(Conditions):
    def test_existing_files_read_only_and_writable_are_replaced(self):
        files = {"ro.txt": (b"new ro", True), "rw.txt": (b"new rw", False)}
        make_medium(self.medium, files)
        os.makedirs(self.dest)
        for name in files:
            with open(os.path.join(self.dest, name), "wb") as f:
                f.write(b"old")
        os.chmod(os.path.join(self.dest, "ro.txt"), 0o444)
        with open(os.path.join(self.dest, "users-own.txt"), "wb") as f:
            f.write(b"kept")
        self.assertEqual(self.start().answer_yes_and_close(), 0)
        assert_arrived_writable(self, self.dest, files)
        with open(os.path.join(self.dest, "users-own.txt"), "rb") as f:
            self.assertEqual(f.read(), b"kept")

    def test_a_folder_where_a_file_must_go_is_kept(self):
        make_medium(self.medium, {"thing": (b"file", False)})
        os.makedirs(os.path.join(self.dest, "thing"))
        with open(os.path.join(self.dest, "thing", "inside"), "wb") as f:
            f.write(b"users data")
        s = self.start()
        s.answer_yes_until_copy_error()
        self.assertEqual(s.choose_and_close(b"s"), 2)
        with open(os.path.join(self.dest, "thing", "inside"), "rb") as f:
            self.assertEqual(f.read(), b"users data")
        self.assert_no_temporaries()

    def test_links_at_the_destination_pointing_outside_change_nothing_outside(self):
        outside = os.path.join(self.w.root, "outside")
        os.makedirs(os.path.join(outside, "dir"))
        for name in ("file.txt", "dir/inner.txt"):
            with open(os.path.join(outside, name), "wb") as f:
                f.write(b"outside")
            os.chmod(os.path.join(outside, name), 0o444)
        make_medium(self.medium, {"file.txt": (b"medium", True), "dir/inner.txt": (b"medium", True),
                                  "dir/new.txt": (b"medium", True)})
        os.makedirs(self.dest)
        os.symlink(os.path.join(outside, "file.txt"), os.path.join(self.dest, "file.txt"))
        os.symlink(os.path.join(outside, "dir"), os.path.join(self.dest, "dir"))
        before = snapshot(outside)
        self.assertEqual(self.start().answer_yes_and_close(), 0)
        self.assertEqual(snapshot(outside), before)
        self.assertFalse(os.path.islink(os.path.join(self.dest, "dir")))
        with open(os.path.join(self.dest, "dir", "inner.txt"), "rb") as f:
            self.assertEqual(f.read(), b"medium")

    def test_tolvex_exchanged_with_a_link_again_and_again_while_the_copy_runs(self):
        # Many folders, so that counting them takes a while.
        files = {"d%04d/f" % i: (b"%d" % i, False) for i in range(3000)}
        make_medium(self.medium, files)
        outside = os.path.join(self.w.root, "outside")
        os.makedirs(outside)
        tolvex, swapped = os.path.join(self.data, "Tolvex"), os.path.join(self.data, "Tolvex-link")
        os.makedirs(tolvex)
        os.symlink(outside, swapped)
        exchanger = subprocess.Popen([sys.executable, "-c", EXCHANGE_LOOP, tolvex, swapped],
                                     stdin=subprocess.PIPE)
        try:
            s = self.start()
            s.expect(QUESTION)
            s.type(b"\r")
            s.expect(b"Copying")  # counting: the start-up check is behind us
            exchanger.stdin.write(b"x")
            exchanger.stdin.flush()
            s.expect(CLOSING, timeout=120)
            s.type(b"\r")
            status = s.status()
            self.assertIsNone(exchanger.poll(), "the exchanges stopped early")
        finally:
            exchanger.kill()
            exchanger.wait()
        self.assertEqual(os.listdir(outside), [], "written through the link")
        if status == 0:  # nothing was refused: everything is in the real folder, wherever it is now
            real = swapped if os.path.islink(tolvex) else tolvex
            for relative, (content, _) in files.items():
                with open(os.path.join(real, "Model", relative), "rb") as f:
                    self.assertEqual(f.read(), content, relative)

    def test_a_second_copy_into_the_same_folder_says_so_and_waits_for_the_first(self):
        files = {"a.txt": (b"a", False)}
        make_medium(self.medium, files)
        os.makedirs(os.path.join(self.data, "Tolvex"))
        first = os.open(os.path.join(self.data, "Tolvex"), os.O_RDONLY)
        fcntl.flock(first, fcntl.LOCK_EX)  # as the first copy holds it
        try:
            s = self.start()
            s.answer_yes_until_copy_error()
            self.assertIn(b"another copy is writing into this folder", s.screen)
            s.type(b"\r")  # Retry: wait
            time.sleep(0.5)
            self.assertFalse(os.path.exists(self.dest), "copied while the first copy ran")
        finally:
            os.close(first)
        s.expect(CLOSING)
        s.type(b"\r")
        self.assertEqual(s.status(), 0)
        assert_arrived_writable(self, self.dest, files)

    @unittest.skipUnless(IS_ROOT, "mounting a small file system needs root")
    def test_a_full_disk_keeps_the_old_files_and_leaves_no_temporaries(self):
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", self.data],
                                 capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("mounting a tmpfs is refused here: " + mounted.stderr.decode())
        try:
            make_medium(self.medium, {"a-small.txt": (b"small", False), "big.bin": (b"n" * (3 << 20), False)})
            write_files(self.dest, {"big.bin": (b"old big", False)})
            s = self.start()
            s.answer_yes_until_copy_error()
            self.assertIn(b"No space left on device", s.screen)
            self.assertEqual(s.choose_and_close(b"c"), 2)
            with open(os.path.join(self.dest, "big.bin"), "rb") as f:
                self.assertEqual(f.read(), b"old big")
            self.assert_no_temporaries()
        finally:
            subprocess.run(["umount", self.data])

    def test_killed_in_the_middle_of_a_large_file_then_the_next_run_completes(self):
        # A 2 GiB file allocated but never written (no holes, so the copy reads all of it):
        # instant to make, seconds to copy, so the kill lands inside it.
        make_medium(self.medium, {"small.txt": (b"s", True)})
        big = os.path.join(self.medium, "Model", "big.bin")
        with open(big, "wb") as f:
            os.posix_fallocate(f.fileno(), 0, 2 << 30)
            f.write(b"head")
            f.seek((2 << 30) - 4)
            f.write(b"tail")
        os.makedirs(self.dest)
        with open(os.path.join(self.dest, "big.bin"), "wb") as f:
            f.write(b"old big")
        s = self.start()
        s.expect(QUESTION)
        s.type(b"\r")
        s.expect(b"big.bin")
        time.sleep(0.3)
        s.kill()
        with open(os.path.join(self.dest, "big.bin"), "rb") as f:
            self.assertEqual(f.read(), b"old big", "the old file survives a killed copy")
        self.assertEqual(self.start().answer_yes_and_close(timeout=300), 0)
        copied = os.path.join(self.dest, "big.bin")
        self.assertEqual(os.path.getsize(copied), 2 << 30)
        with open(copied, "rb") as f:
            self.assertEqual(f.read(4), b"head")
            f.seek(-4, os.SEEK_END)
            self.assertEqual(f.read(4), b"tail")
        self.assert_no_temporaries()


# Exchanges two paths atomically, over and over, until it is killed.
EXCHANGER = r"""
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
a, b = os.fsencode(sys.argv[1]), os.fsencode(sys.argv[2])
print("exchanging", flush=True)
while True:
    if libc.renameat2(-100, a, -100, b, 2) != 0:  # AT_FDCWD, RENAME_EXCHANGE
        sys.exit("renameat2: " + os.strerror(ctypes.get_errno()))
"""


class WalkConditions(Conditions):
    def test_the_destination_exchanged_with_a_link_while_the_walk_runs(self):
        # Another process swaps C:\Tolvex with a link to an outside copy of it while the walk
        # runs. The walk holds what it opened: it makes the real files writable or stops with
        # the error report, and never reaches the outside copy.
        files = {"d%03d/f%02d" % (i // 20, i % 20): (b"x", True) for i in range(3000)}
        outside = os.path.join(self.w.root, "outside")
        write_files(os.path.join(outside, "Model"), files)
        before = snapshot(outside)
        tolvex, swap = os.path.join(self.data, "Tolvex"), os.path.join(self.data, "Tolvex-swap")
        os.symlink(outside, swap)
        os.makedirs(os.path.join(self.medium, "Model"))  # nothing to copy: only the walk runs
        statuses = set()
        for _ in range(4):
            write_files(self.dest, files)
            s = self.start()
            s.expect(QUESTION)
            exchanger = subprocess.Popen([sys.executable, "-c", EXCHANGER, tolvex, swap],
                                         stdout=subprocess.PIPE)
            try:
                exchanger.stdout.readline()
                s.type(b"\r")
                s.expect(CLOSING, timeout=60)
            finally:
                exchanger.kill()
                exchanger.wait()
                if os.path.islink(tolvex):
                    subprocess.run([sys.executable, "-c", EXCHANGER.replace("while True:", "if True:"),
                                    tolvex, swap], check=True, stdout=subprocess.DEVNULL)
            s.type(b"\r")
            status = s.status()
            statuses.add(status)
            self.assertEqual(snapshot(outside), before)
            if status == 0:
                assert_arrived_writable(self, self.dest, files)
            else:
                self.assertEqual(status, 3)
                self.assertIn(b"Tolvex - Error", s.screen)
        print("exit statuses seen:", sorted(statuses), file=sys.stderr)

    @unittest.skipUnless(IS_ROOT, "making a file immutable needs root")
    def test_a_file_whose_attributes_cannot_change_ends_the_program_with_its_name(self):
        make_medium(self.medium, {"locked.txt": (b"new", True)})
        os.makedirs(self.dest)
        locked = os.path.join(self.dest, "locked.txt")
        with open(locked, "wb") as f:
            f.write(b"old")
        os.chmod(locked, 0o444)
        if subprocess.run(["chattr", "+i", locked], capture_output=True).returncode != 0:
            self.skipTest("this file system has no immutable flag")
        try:
            s = self.start()
            s.expect(QUESTION)
            s.type(b"\r")
            s.expect(RETRY_SKIP_CANCEL)  # the copy cannot replace it either
            s.type(b"s\r")
            s.expect(b"Tolvex - Error")
            s.expect(CLOSING)
            self.assertIn(b"locked.txt", s.screen)
            self.assertIn(b"Operation not permitted", s.screen)
            s.type(b"\r")
            self.assertEqual(s.status(), 3)
            self.assertNotIn(b"Processing end", s.screen)
        finally:
            subprocess.run(["chattr", "-i", locked])

    def test_a_folder_changed_by_another_process_during_the_walk(self):
        files = {"d%d/f%05d" % (i % 4, i): (b"x", True) for i in range(8000)}
        make_medium(self.medium, files)
        stop = threading.Event()

        # Another process adds read-only files to the destination meanwhile. (One that removed
        # files could remove one between its listing and its change, which is then reported.)
        def churn():
            n = 0
            while not stop.is_set():
                for d in range(4):
                    try:
                        path = os.path.join(self.dest, "d%d" % d, "churn%d" % n)
                        open(path, "w").close()
                        os.chmod(path, 0o444)
                    except OSError:
                        pass
                n += 1

        s = self.start()
        s.expect(QUESTION)
        worker = threading.Thread(target=churn)
        worker.start()
        try:
            s.type(b"\r")
            s.expect(CLOSING, timeout=120)
        finally:
            stop.set()
            worker.join()
        s.type(b"\r")
        self.assertEqual(s.status(), 0)
        assert_arrived_writable(self, self.dest, files)


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
