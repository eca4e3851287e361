"""Running the real Pellatrix.exe under Wine on a virtual X display, answering its message
boxes with xdotool, and reading files as Windows shows them."""
import os
import re
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from pellatrix_session import (assert_arrived_writable, remove_tree, snapshot,  # noqa: E402,F401
                               write_files)  # shared with the Linux tests

TITLE = "Tolvex"
WAIT = 60  # seconds; Wine's first start in a prefix is slow

# File attribute bits as Windows shows them.
READ_ONLY, HIDDEN, SYSTEM, DIRECTORY, ARCHIVE, REPARSE_POINT = 1, 2, 4, 16, 32, 1024
DOS_ATTRIBUTE = "user.DOSATTRIB"


SKIPPED = 77  # the exit status CTest counts as a skipped test
NO_32_BIT = "this kernel runs no 32-bit code: the 32-bit Windows build is built but not tested"


def wine_loader():
    """The Wine loader for the build under test (PELLATRIX_WINE, set by CMake)."""
    return os.environ.get("PELLATRIX_WINE", "wine")


def require_wine():
    """Ends the test run as skipped, saying why, when the loader cannot start here."""
    try:
        started = subprocess.run([wine_loader(), "--version"], capture_output=True).returncode == 0
    except OSError:
        started = False
    if not started:
        print(NO_32_BIT)
        sys.exit(SKIPPED)


def wine_environment():
    os.environ.setdefault("WINEDEBUG", "-all")
    os.environ.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    return os.environ


def use_virtual_desktop():
    """Puts the prefix's windows on Wine's virtual desktop. On a bare Xvfb, with no window
    manager, Wine waits two seconds for every closed top-level window to be withdrawn; inside
    the virtual desktop a message box closes at once (a run takes 0.4 s instead of 4.5 s)."""
    for key, name, value in [(r"HKCU\Software\Wine\Explorer", "Desktop", "Default"),
                             (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "1024x768")]:
        subprocess.run([wine_loader(), "reg", "add", key, "/v", name, "/d", value, "/f"],
                       env=wine_environment(), check=True, capture_output=True)


class Display:
    """An Xvfb server on a free display number, stopped when the run ends."""

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=[write_end], stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            self.name = ":" + pipe.readline().strip()
        return self

    def __exit__(self, *error):
        self.server.terminate()
        self.server.wait()


def xdotool(*arguments):
    result = subprocess.run(["xdotool", *arguments], capture_output=True, text=True)
    return result.stdout.split()


class WineRun:
    """One start of the program under Wine with its current directory on a medium."""

    def __init__(self, exe, medium, arguments=()):
        self.seen = set()
        # Wine's message box trace tells the text of every message box the program shows.
        self.trace = tempfile.TemporaryFile()
        self.process = subprocess.Popen([wine_loader(), str(exe), *arguments], cwd=medium,
                                        env=dict(wine_environment(), WINEDEBUG="-all,+msgbox"),
                                        stdout=subprocess.DEVNULL, stderr=self.trace)

    def messages(self):
        """The texts of the message boxes shown so far, in order."""
        self.trace.seek(0)
        found = re.findall(r'MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"', self.trace.read().decode(errors="replace"))
        return [text.encode().decode("unicode_escape") for text in found]

    def next_dialog(self):
        """The next message box of the program that has not been answered yet."""
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            for window in xdotool("search", "--onlyvisible", "--name", f"^{TITLE}$"):
                if window not in self.seen:
                    self.seen.add(window)
                    time.sleep(0.3)  # let Wine finish drawing it
                    return window
            if self.process.poll() is not None:
                raise AssertionError(f"the program ended ({self.process.returncode}) "
                                     "without showing a dialog")
            time.sleep(0.1)
        raise AssertionError("no dialog appeared")

    def answer(self, window, key="Return"):
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "--clearmodifiers", key)

    def answer_next(self, key="Return"):
        self.answer(self.next_dialog(), key)

    def status(self):
        try:
            return self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("the program did not end")

    def yes_and_close(self):
        """Yes to the question, OK to the closing message (or the error report)."""
        self.answer_next()
        self.answer_next()
        return self.status()


def dos_attributes(path):
    """The hidden and system bits kept in user.DOSATTRIB ("0x" and hexadecimal digits)."""
    try:
        value = os.getxattr(path, DOS_ATTRIBUTE, follow_symlinks=False)
    except OSError:
        return 0
    try:
        return int(value.rstrip(b"\0").decode("ascii"), 16) & (HIDDEN | SYSTEM)
    except ValueError:
        return 0


def windows_attributes(path):
    """The attribute bits Windows (and Wine) show for a file on a Linux disk."""
    st = os.lstat(path)
    if stat.S_ISLNK(st.st_mode):
        bits = REPARSE_POINT | (DIRECTORY if os.path.isdir(path) else 0)
    else:
        bits = DIRECTORY if stat.S_ISDIR(st.st_mode) else ARCHIVE
        if not st.st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH):
            bits |= READ_ONLY
    return bits | dos_attributes(path)


def windows_view(folder):
    """{relative path: (attributes, content or None)} of everything below folder."""
    view = {}
    for parent, dirs, names in os.walk(folder):
        for name in dirs + names:
            path = os.path.join(parent, name)
            content = None
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    content = f.read()
            view[os.path.relpath(path, folder)] = (windows_attributes(path), content)
    return view
