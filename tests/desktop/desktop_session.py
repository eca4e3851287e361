"""A private X display (Xvfb) with the program running on it, and xdotool to find its windows
and press their buttons. Used by the desktop tests; standard library only."""
import os
import pathlib
import pwd
import shutil
import subprocess
import tempfile
import time

WINDOW_TIMEOUT = 20  # seconds to wait for a window to appear or go
LEAK_SUPPRESSIONS = pathlib.Path(__file__).resolve().parent / "lsan_suppressions.txt"


def require_tools():
    missing = [tool for tool in ("Xvfb", "xdotool") if shutil.which(tool) is None]
    if missing:
        raise RuntimeError("the desktop tests need " + " and ".join(missing) +
                           " (Debian packages xvfb and xdotool)")


class VirtualDisplay:
    """An Xvfb server on a display number it picks itself (-displayfd), stopped on close."""

    def __init__(self):
        require_tools()
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            self.server.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number

    def close(self):
        self.server.terminate()
        try:
            self.server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.server.kill()
            self.server.wait()

    def xdotool(self, *arguments, check=True):
        result = subprocess.run(["xdotool", *arguments], env=dict(os.environ, DISPLAY=self.name),
                                capture_output=True, text=True, timeout=WINDOW_TIMEOUT)
        if check and result.returncode != 0:
            raise RuntimeError(f"xdotool {' '.join(arguments)}: {result.stderr.strip()}")
        return result.stdout

    def visible_windows(self, title):
        """Ids of the mapped windows whose title is exactly title."""
        output = self.xdotool("search", "--onlyvisible", "--name", f"^{title}$", check=False)
        return [line for line in output.split() if line]

    def wait_for_window(self, title, besides=()):
        """The id of a visible window titled title that is not one of besides."""
        deadline = time.monotonic() + WINDOW_TIMEOUT
        while time.monotonic() < deadline:
            found = [w for w in self.visible_windows(title) if w not in besides]
            if found:
                return found[0]
            time.sleep(0.05)
        raise AssertionError(f'no window titled "{title}" appeared')

    def wait_until_gone(self, window):
        deadline = time.monotonic() + WINDOW_TIMEOUT
        while time.monotonic() < deadline:
            if window not in self.xdotool("search", "--onlyvisible", "--name", ".", check=False):
                return
            time.sleep(0.05)
        raise AssertionError(f"window {window} is still shown")

    def press(self, window, keys):
        """Gives window the keyboard and presses keys (e.g. "Return", "alt+n") on it."""
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("key", "--clearmodifiers", keys)

    def screenshot(self, name):
        """Saves the screen to $PELLATRIX_SCREENSHOTS/name.png when that folder is given."""
        folder = os.environ.get("PELLATRIX_SCREENSHOTS")
        if folder and shutil.which("import"):
            os.makedirs(folder, exist_ok=True)
            subprocess.run(["import", "-display", self.name, "-window", "root",
                            os.path.join(folder, name + ".png")], check=False, timeout=30)


class ProgramRun:
    """The program started from a medium folder with its own data folder (C:) and home.

    When the tests run as root, the program runs as "nobody", so that file permissions apply
    to it as they do to a person at a desktop. It then runs from a copy in its own home, since
    the build folder may be out of that user's reach."""

    def __init__(self, program, display, medium, data_home, environment=None):
        self.unprivileged = os.geteuid() == 0
        home = tempfile.mkdtemp(prefix="pellatrix-home-")
        self.home = pathlib.Path(home)
        suppressions = LEAK_SUPPRESSIONS
        command = [program]
        if self.unprivileged:
            program = shutil.copy(program, self.home / "pellatrix")
            suppressions = shutil.copy(LEAK_SUPPRESSIONS, self.home / LEAK_SUPPRESSIONS.name)
            nobody = pwd.getpwnam("nobody")
            for folder in (home, data_home):
                os.chown(folder, nobody.pw_uid, nobody.pw_gid)
            command = ["setpriv", f"--reuid={nobody.pw_uid}", f"--regid={nobody.pw_gid}",
                       "--clear-groups", str(program)]
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": home,
            "XDG_DATA_HOME": str(data_home),
            "XDG_CONFIG_HOME": os.path.join(home, "config"),
            "XDG_CACHE_HOME": os.path.join(home, "cache"),
            "NO_AT_BRIDGE": "1",  # no accessibility bus to wait for
            "GSETTINGS_BACKEND": "memory",
            "LANG": "C.UTF-8",
        }
        # Sanitizer builds: the desktop libraries' lifetime caches are not the program's leaks.
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        env["LSAN_OPTIONS"] = f"suppressions={suppressions}:print_suppressions=0"
        if display is not None:
            env["DISPLAY"] = display
        env.update(environment or {})
        # No terminal: standard input is empty and there is no controlling terminal.
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(command, cwd=medium, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=self.errors,
                                        start_new_session=True)

    def wait(self, timeout=WINDOW_TIMEOUT):
        """The exit status, and the program's standard error."""
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            raise
        self.errors.seek(0)
        errors = self.errors.read().decode(errors="replace")
        self.stop()
        return self.process.returncode, errors

    def running(self):
        return self.process.poll() is None

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.home, ignore_errors=True)
        self.errors.close()


def make_readable_tree(folder):
    """Lets "nobody" read the test's folders under the (private) temporary folder."""
    for root, dirs, _ in os.walk(folder):
        os.chmod(root, 0o755)
