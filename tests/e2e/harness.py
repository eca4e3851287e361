"""The one harness for the real programs: the Linux program on a terminal, at a desktop and
unattended, the Windows program under Wine, each started on the medium of a workspace of its
own. Every run offers the same steps: yes(), no(), choose() for the copy's Retry / Skip /
Cancel, ok() for the closing message or the error report, and status(). Standard library only.
"""
import atexit
import contextlib
import ctypes
import fcntl
import functools
import glob
import itertools
import os
import pty
import pwd
import re
import select
import shutil
import signal
import stat
import subprocess
import tempfile
import termios
import time

TITLE = "Tolvex"
WAIT = 60  # seconds for a window, a text or an exit to come; Wine's first start is slow
SKIPPED = 77  # the exit status CTest counts as a skipped test
IS_ROOT = os.geteuid() == 0
LEAK_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                 "lsan_suppressions.txt")
LIBC = ctypes.CDLL(None, use_errno=True)


# ---- Files

def write_files(folder, files):
    """files: relative path (str or bytes) -> (content, read_only), written below folder."""
    os.makedirs(folder, exist_ok=True)
    for relative, (content, read_only) in files.items():
        path = os.path.join(os.fsencode(folder), os.fsencode(relative))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        if read_only:
            os.chmod(path, 0o444)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def writable(path):
    return bool(os.stat(path).st_mode & stat.S_IWUSR)


def entries(folder):
    """{path relative to folder: (path, lstat)} of everything below folder, paths in bytes."""
    top = os.fsencode(folder)
    return {os.path.relpath(path, top): (path, os.lstat(path)) for parent, dirs, names in
            os.walk(top) for path in (os.path.join(parent, name) for name in dirs + names)}


def files_under(folder):
    """Every file and link below folder, relative to it (bytes), sorted."""
    return sorted(name for name, (_, st) in entries(folder).items() if not stat.S_ISDIR(st.st_mode))


def content(path, st):
    """A file's content, a link's target, None for a folder."""
    return (os.readlink(path) if stat.S_ISLNK(st.st_mode) else
            None if stat.S_ISDIR(st.st_mode) else read(path))


def snapshot(folder):
    """Modes, contents and link targets of everything below folder."""
    return {name: (st.st_mode, content(path, st)) for name, (path, st) in entries(folder).items()}


def assert_arrived_writable(test, folder, files):
    """Every file of files (see write_files) is below folder with its content, writable."""
    for relative, (expected, _) in files.items():
        path = os.path.join(os.fsencode(folder), os.fsencode(relative))
        test.assertEqual(read(path), expected, relative)
        test.assertTrue(writable(path), f"{relative!r} is still read-only")


def remove_tree(root):
    """Removes a folder, read-only and unreadable entries too, at any depth; a link or a file
    in its place is removed, never followed."""
    if os.path.islink(root) or os.path.isfile(root):
        os.unlink(root)
    elif os.path.exists(root):
        subprocess.run(["chmod", "-R", "u+rwx", root], stderr=subprocess.DEVNULL)
        subprocess.run(["rm", "-rf", root], check=True)


class Workspace:
    """A medium (its folder name in two scripts and with a space), the folder that stands for
    C: (under Wine the prefix's drive_c), the destination and an outside folder."""

    def __init__(self, drive_c=None):
        self.root = tempfile.mkdtemp(prefix="pellatrix-")
        os.chmod(self.root, 0o755)  # "nobody" may pass
        self.medium = os.path.join(self.root, "メディア disk")
        self.model = os.path.join(self.medium, "Model")
        self.c = drive_c or os.path.join(self.root, "data")
        self.tolvex = os.path.join(self.c, "Tolvex")
        self.dest = os.path.join(self.tolvex, "Model")
        self.outside = os.path.join(self.root, "outside")
        self.cleanup = contextlib.ExitStack()  # what a scenario started and must stop
        # How the program is to be started (see start_linux; Popen's options when unattended),
        # and the program itself when not the one under test.
        self.arguments, self.environment, self.unprivileged, self.options = (), {}, False, {}
        self.program = None
        os.makedirs(self.medium)
        os.makedirs(self.c, exist_ok=True)
        remove_tree(self.tolvex)

    def close(self):
        self.cleanup.close()
        remove_tree(self.tolvex)
        remove_tree(self.root)


# ---- Other processes

def exchange(a, b):
    """Swaps two names in one atomic step (renameat2 with RENAME_EXCHANGE)."""
    if LIBC.renameat2(-100, os.fsencode(a), -100, os.fsencode(b), 2) != 0:
        raise OSError(ctypes.get_errno(), "renameat2", a)


@contextlib.contextmanager
def exchanging(a, b, pauses=(0,), when=lambda: True):
    """Meanwhile another process swaps a and b again and again, from the moment when() is true
    on, pausing after each swap for the next of pauses in turn; afterwards they stand as they
    stood before."""
    before = os.lstat(a).st_ino
    child = os.fork()
    if child == 0:
        try:
            while not when():
                pass
            for pause in itertools.cycle(pauses):
                exchange(a, b)
                time.sleep(pause)
        finally:
            os._exit(1)  # never go on running the tests in the child
    try:
        yield
    finally:
        os.kill(child, signal.SIGKILL)
        os.waitpid(child, 0)
        if os.lstat(a).st_ino != before:
            exchange(a, b)


@functools.cache
def reachable_copy(path):
    """A copy of a file, and of the modules beside it that a program loads, that any user may
    read and run: the checkout may lie in a folder of root's that other users cannot enter
    (/root is 0700). Removed when the tests end."""
    folder = tempfile.mkdtemp(prefix="pellatrix-program-")
    os.chmod(folder, 0o755)
    atexit.register(shutil.rmtree, folder, True)
    for module in glob.glob(os.path.join(os.path.dirname(path), "*.so")):
        shutil.copy(module, folder)
    return shutil.copy(path, folder)


def start_linux(program, w, display=None, **options):
    """Starts the Linux program with w.arguments in w's medium with w's C:, w.environment and no
    display unless one is named, in a session of its own. With w.unprivileged, a test run as
    root starts it as "nobody", from a copy that user can reach, with w's C: made theirs: the
    permissions then apply to it as to a person."""
    program, suppressions = w.program or program, LEAK_SUPPRESSIONS
    if w.unprivileged and IS_ROOT:
        program, suppressions = reachable_copy(program), reachable_copy(suppressions)
        nobody = pwd.getpwnam("nobody")
        for parent, dirs, names in os.walk(w.c):
            for name in dirs + names + [""]:
                os.lchown(os.path.join(parent, name), nobody.pw_uid, nobody.pw_gid)
        os.chown(w.root, nobody.pw_uid, nobody.pw_gid)  # the home folder
        options.update(user=nobody.pw_uid, group=nobody.pw_gid, extra_groups=[])
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": w.root, "LANG": "C.UTF-8",
           "XDG_DATA_HOME": w.c, "NO_AT_BRIDGE": "1", "GSETTINGS_BACKEND": "memory",
           # The desktop libraries' lifetime caches are not the program's leaks.
           "LSAN_OPTIONS": f"suppressions={suppressions}:print_suppressions=0"}
    env.update({k: v for k, v in os.environ.items() if k in ("ASAN_OPTIONS", "UBSAN_OPTIONS")})
    env.update({"DISPLAY": display} if display else {}, **w.environment)
    return subprocess.Popen([program, *w.arguments], cwd=w.medium, env=env,
                            start_new_session=True, **options)


# ---- Windows on a private X display

class Display:
    """An Xvfb server on a display number it picks itself; xdotool finds windows on it and
    presses keys on them (focus first, then XTEST: GTK ignores synthetic key events)."""

    def __init__(self):
        read_end, write_end = os.pipe()
        # -noreset: the server would otherwise reset as the last client goes, and refuse the
        # next program that connects meanwhile.
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                        "1024x768x24", "-nolisten", "tcp", "-noreset"],
                                       pass_fds=[write_end],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            self.name = ":" + numbers.readline().strip()

    def close(self):
        self.server.kill()
        self.server.wait()

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool", *arguments], env=dict(os.environ, DISPLAY=self.name),
                              capture_output=True, text=True, timeout=WAIT).stdout.split()

    def find(self, title, besides, process):
        """A shown window titled title and not one of besides, once it has been drawn."""
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            found = [w for w in self.xdotool("search", "--onlyvisible", "--name", f"^{title}$")
                     if w not in besides]
            if found:
                time.sleep(0.3)
                return found[0]
            if process.poll() is not None:
                raise AssertionError(f'the program ended ({process.returncode}) without "{title}"')
            time.sleep(0.05)
        raise AssertionError(f'no window titled "{title}"')

    def press(self, window, keys):
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("key", "--clearmodifiers", keys)


# ---- The runs

class Run:
    """One start of a program and the steps a person takes on it."""

    def status(self, timeout=WAIT):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise AssertionError("the program did not end")


class UnattendedRun(Run):
    """The Linux program with neither a terminal nor a display."""

    def __init__(self, program, w, display=None):
        options = dict(stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.process = start_linux(program, w, **dict(options, **w.options))

    def status(self, timeout=WAIT):
        output, self.errors = self.process.communicate(timeout=timeout)
        self.output, self.shown = output or b"", self.errors.decode(errors="replace")
        return self.process.returncode


class TerminalRun(Run):
    """The Linux program with a pseudo-terminal as its controlling terminal."""
    QUESTION, CLOSING = b"Yes / No [Yes]: ", b"OK [Enter]: "
    RETRY_SKIP_CANCEL = b"Retry / Skip / Cancel [Retry]: "

    def __init__(self, program, w, display=None):
        self.fd, terminal = pty.openpty()
        self.process = start_linux(program, w, stdin=terminal, stdout=terminal, stderr=terminal,
                                   preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(terminal)
        self.screen, self.matched = b"", 0  # all it showed; where the next expect looks

    def read(self, timeout):
        """Adds what the program shows within timeout to the screen; False once it has ended."""
        try:
            if select.select([self.fd], [], [], timeout)[0]:
                self.screen += os.read(self.fd, 65536)
            return True
        except OSError:
            return False

    def expect(self, text, timeout=WAIT):
        """Waits until text is shown after what the previous expect matched."""
        deadline = time.monotonic() + timeout
        while self.screen.find(text, self.matched) < 0:
            if time.monotonic() > deadline or not self.read(deadline - time.monotonic()):
                raise AssertionError(f"{text!r} not shown; the screen:\n{self.shown}")
        self.matched = self.screen.find(text, self.matched) + len(text)

    def answer(self, prompt, reply, meanwhile=lambda: None):
        self.expect(prompt)
        meanwhile()
        os.write(self.fd, reply)

    def yes(self):
        self.answer(self.QUESTION, b"\r")  # Enter chooses Yes

    def no(self):
        self.answer(self.QUESTION, b"No\r")  # answers are read without regard to case

    def choose(self, choice, meanwhile=lambda: None):
        # Enter chooses Retry; Skip and Cancel by their first letter.
        self.answer(self.RETRY_SKIP_CANCEL, choice[0].encode() * (choice != "retry") + b"\r",
                    meanwhile)

    def ok(self):
        self.answer(self.CLOSING, b"\r")

    def status(self, timeout=WAIT):
        deadline = time.monotonic() + timeout
        while self.read(0.1) and time.monotonic() < deadline:
            pass
        status = super().status(max(deadline - time.monotonic(), 1))
        os.close(self.fd)
        return status

    @property
    def shown(self):
        return self.screen.decode(errors="replace")


class WindowRun(Run):
    """A program whose dialogs are windows on a display."""
    NO_KEY = "alt+n"

    def dialog(self, title=TITLE):
        window = self.display.find(title, self.seen, self.process)
        self.seen.append(window)
        return window

    def yes(self):
        self.display.press(self.dialog(), "Return")

    def no(self):
        self.display.press(self.dialog(), self.NO_KEY)

    def choose(self, choice, meanwhile=lambda: None):
        window = self.dialog("Cannot Copy File")
        meanwhile()
        self.display.press(window, "alt+" + choice[0])

    def ok(self):
        window = self.dialog()
        if self.process.poll() is not None:
            raise AssertionError("the program did not wait on its message")
        self.display.press(window, "Return")


class DesktopRun(WindowRun):
    """The Linux program at a desktop, without a terminal: GTK dialogs on the display, whose
    texts cannot be read back (shown is None)."""
    shown = None

    def __init__(self, program, w, display):
        self.display, self.seen = display, []
        self.process = start_linux(program, w, display.name, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL)


def drive_c():
    return os.path.join(os.environ["WINEPREFIX"], "drive_c")


class WineRun(WindowRun):
    """The Windows program under Wine. Wine's shell copy asks nothing when a file cannot be
    copied (Windows' asks Retry / Skip / Cancel): there choose() has nothing to answer."""
    NO_KEY = "n"

    def __init__(self, exe, w, display):
        self.display, self.seen = display, []
        self.trace = os.path.join(w.root, "wine-trace")  # names every message box's text
        # w.environment may take DISPLAY away (None).
        env = {**os.environ, "DISPLAY": display.name, "WINEDEBUG": "-all,+msgbox", **w.environment}
        with open(self.trace, "wb") as trace:
            self.process = subprocess.Popen(
                [os.environ["PELLATRIX_WINE"], w.program or exe, *w.arguments], cwd=w.medium,
                stderr=trace, env={name: value for name, value in env.items() if value is not None})

    def choose(self, choice, meanwhile=None):
        pass

    def messages(self):
        """The texts of the message boxes shown so far, in order."""
        found = re.findall(r'MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"',
                           read(self.trace).decode(errors="replace"))
        return [text.encode().decode("unicode_escape") for text in found]

    @property
    def shown(self):
        return "\n".join(self.messages())


# ---- Tables of runs

RUNNERS = {"terminal": TerminalRun, "desktop": DesktopRun, "unattended": UnattendedRun,
           "wine": WineRun}


def run_table(test, table, runners, program, display=None, drive=None):
    """Runs each row of a table with each of the given runners that the row names, in a
    workspace of its own (C: in drive when given): a row is (name, runners, prepare(w), steps,
    exit status or a tuple of them, check(test, w, run)). A step is the name of one of a run's
    steps ("yes", "no", "ok"; "retry", "skip", "cancel" for choose), or a function of w and run.
    The runners are "terminal", "desktop", "unattended" (see start_linux) and "wine", also
    after a prefix that says where the program is ("medium-wine")."""
    for name, named, prepare, steps, status, check in table:
        for runner in (runner for runner in named if runner in runners):
            with test.subTest(name, runner=runner):
                w, run = Workspace(drive), None
                try:
                    prepare(w)
                    run = RUNNERS[runner.split("-")[-1]](program, w, display)
                    for step in steps:
                        if callable(step):
                            step(w, run)
                        elif step in ("retry", "skip", "cancel"):
                            run.choose(step)
                        else:
                            getattr(run, step)()
                    run.returncode = run.status()
                    allowed = set(status) if isinstance(status, tuple) else {status}
                    if runner == "wine" and {"skip", "cancel"} & set(steps):
                        allowed.add(0)  # Wine's shell copy reports success for what it skipped
                    test.assertIn(run.returncode, allowed, run.shown)
                    check(test, w, run)
                finally:
                    if run and run.process.poll() is None:  # a step failed: stop it
                        run.process.kill()
                    w.close()
