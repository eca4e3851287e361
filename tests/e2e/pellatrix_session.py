"""Running the real Linux program in a pseudo-terminal, and the folders it works on."""
import atexit
import os
import pty
import select
import shutil
import signal
import stat
import tempfile
import time

QUESTION = b"Yes / No [Yes]: "
CLOSING = b"OK [Enter]: "
RETRY_SKIP_CANCEL = b"Retry / Skip / Cancel [Retry]: "
TEMPORARY_PREFIX = ".pellatrix-tmp-"


def environment_without_display(data_home):
    """No display, C: in data_home, and the home folder the workspace that holds it."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["XDG_DATA_HOME"] = data_home
    env["HOME"] = os.path.dirname(data_home)
    return env


def reachable_copy(program):
    """A copy of the program that any user may run: the checkout may lie in a folder of
    root's (/root is 0700) that an unprivileged user cannot enter. Removed when the tests end."""
    folder = tempfile.mkdtemp(prefix="pellatrix-program-")
    os.chmod(folder, 0o755)
    atexit.register(shutil.rmtree, folder, True)
    return shutil.copy(program, folder)


class Session:
    """The program running on a pseudo-terminal as its controlling terminal."""

    def __init__(self, program, cwd, data_home, user=None, arguments=()):
        env = environment_without_display(data_home)
        if user is not None:
            program = reachable_copy(program)
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                os.chdir(cwd)
                if user is not None:  # drop root, so that permissions apply to the program
                    os.setgroups([])
                    os.setgid(user)
                    os.setuid(user)
                os.execve(program, [program, *arguments], env)
            finally:
                os._exit(127)  # never go on running the test suite in the child
        self.screen = b""
        self.matched = 0  # where the next expect starts looking

    def expect(self, text, timeout=20):
        """Waits until text appears after what the previous expect matched."""
        deadline = time.monotonic() + timeout
        while self.screen.find(text, self.matched) < 0:
            remaining = deadline - time.monotonic()
            ready = remaining > 0 and select.select([self.fd], [], [], remaining)[0]
            if not ready:
                raise AssertionError(f"{text!r} not shown; screen was:\n{self.screen.decode(errors='replace')}")
            try:
                self.screen += os.read(self.fd, 65536)
            except OSError:  # the program ended
                raise AssertionError(f"{text!r} not shown; screen was:\n{self.screen.decode(errors='replace')}")
        self.matched = self.screen.find(text, self.matched) + len(text)

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

    def kill(self):
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        os.close(self.fd)

    def answer_yes_until_copy_error(self):
        """Yes to the question, then waits for the copy's Retry / Skip / Cancel question."""
        self.expect(QUESTION)
        self.type(b"\r")
        self.expect(RETRY_SKIP_CANCEL)

    def choose_and_close(self, choice):
        """Answers Retry / Skip / Cancel, then OK to the closing message; the exit status."""
        self.type(choice + b"\r")
        self.expect(CLOSING)
        self.type(b"\r")
        return self.status()

    def answer_yes_and_close(self, timeout=60):
        """Yes to the question, OK to "Processing end"; returns the exit status."""
        self.expect(QUESTION)
        self.type(b"\r")
        self.expect(CLOSING, timeout)
        self.type(b"\r")
        return self.status()


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


def make_medium(root, files):
    """A medium at root whose Model folder holds files (see write_files)."""
    write_files(os.path.join(root, "Model"), files)


def assert_arrived_writable(test, destination, files):
    """Every file of files (see write_files) is below destination with its content, writable."""
    for relative, (content, _) in files.items():
        path = os.path.join(os.fsencode(destination), os.fsencode(relative))
        with open(path, "rb") as f:
            test.assertEqual(f.read(), content, relative)
        test.assertTrue(os.lstat(path).st_mode & stat.S_IWUSR, f"{relative!r} still read-only")


def snapshot(folder):
    """Contents, modes and link targets of everything below folder."""
    state = {}
    for parent, dirs, names in os.walk(os.fsencode(folder)):
        for name in dirs + names:
            path = os.path.join(parent, name)
            st = os.lstat(path)
            if stat.S_ISLNK(st.st_mode):
                state[path] = ("link", os.readlink(path))
            elif stat.S_ISDIR(st.st_mode):
                state[path] = ("dir", st.st_mode)
            else:
                with open(path, "rb") as f:
                    state[path] = ("file", st.st_mode, f.read())
    return state


def files_under(folder):
    """Every file (and link) below folder, as paths relative to it (bytes)."""
    found = []
    for parent, dirs, names in os.walk(os.fsencode(folder)):
        found += [os.path.relpath(os.path.join(parent, n), os.fsencode(folder)) for n in names]
        found += [os.path.relpath(os.path.join(parent, d), os.fsencode(folder)) for d in dirs
                  if os.path.islink(os.path.join(parent, d))]
    return sorted(found)


def remove_tree(root):
    """Removes a test's folder, read-only and unreadable entries too; a link or a file in its
    place is removed, never followed."""
    if os.path.islink(root) or os.path.isfile(root):
        os.unlink(root)
        return
    for folder, dirs, names in os.walk(root):
        for name in dirs + names + [""]:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                try:
                    os.chmod(path, 0o700)
                except OSError:
                    pass
    shutil.rmtree(root, ignore_errors=True)


class Workspace:
    """A medium, a data home (C:) and an outside folder under one temporary folder."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="pellatrix-e2e-")
        os.chmod(self.root, 0o755)
        self.medium = os.path.join(self.root, "medium")
        self.data = os.path.join(self.root, "data")
        self.dest = os.path.join(self.data, "Tolvex", "Model")
        os.makedirs(self.medium)
        os.makedirs(self.data)
