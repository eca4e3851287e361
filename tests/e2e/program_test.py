#!/usr/bin/env python3
"""The real programs, in one table. The scenarios that every build shares are run by each
runner: the Linux program on a terminal and at a desktop, the Windows program under Wine on a
virtual X display. Beside them, what one program alone does is run by the runner that shows
it: the Linux program's command line (unattended), its cancels, its terminal prompts and the
links and names of a Linux disk; the Windows program's switches, the names and things it
refuses, and its deepest tree. See harness.run_table for the form of a row.

A medium that tools/make-medium.sh made is mounted (fuseiso) and its programs are run from it
by the medium- runners, its Linux program also in a minimal Debian 12 without GTK (chroot-).

usage: program_test.py RUNNER[,RUNNER...] PROGRAM   (CTest gives Wine's prefix and loader,
       through tests/wine/wine_run.sh --host)
       RUNNER: terminal desktop unattended wine; medium-terminal medium-unattended medium-wine
       chroot-terminal chroot-unattended, whose PROGRAM is the medium's image
"""
import contextlib
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from harness import (SKIPPED, Display, TerminalRun, assert_arrived_writable, drive_c, exchanging,
                     files_under, read, run_table, snapshot, writable, write_files)

RUNNER, PROGRAM = sys.argv.pop(1), os.path.abspath(sys.argv.pop(1))
TERMINAL, DESKTOP, UNATTENDED, WINE = ("terminal",), ("desktop",), ("unattended",), ("wine",)
EVERY, SWAPS = TERMINAL + DESKTOP + WINE, TERMINAL + WINE
# Names in many scripts, with spaces and leading dots, read-only and writable, in subfolders.
SAMPLE = {"model.ini": (b"scale=1.0\n", True), "textures/checker.pbm": (b"P1\n", True),
          "read me.txt": (b"read me", False), "モデル/立方体.mdl": ("立方体".encode(), True),
          "Ελληνικά.txt": (b"el", False), "кириллица.ini": (b"ru", True),
          "עברית.dat": (b"he", True), "emoji 😀.dat": (b"3", False), ".profile": (b"4", True),
          ".cache/kept.bin": (b"6", True)}


def sample(w):
    write_files(w.model, SAMPLE)


def files(medium, destination):
    """Files on the medium and at the destination (see write_files)."""
    return lambda w: (write_files(w.model, medium), write_files(w.dest, destination))


def holds(files):
    """The files are at the destination with their content, writable."""
    return lambda test, w, run: assert_arrived_writable(test, w.dest, files)


def arrived(test, w, run):
    test.assertEqual(files_under(w.dest), sorted(os.fsencode(f) for f in SAMPLE))
    assert_arrived_writable(test, w.dest, SAMPLE)


def nothing_made(test, w, run):
    test.assertFalse(os.path.exists(w.tolvex))


# ---- The scenarios that every build shares

# A folder of the user's stands where a file of the medium goes.
FOLDER_IN_THE_WAY = files({"thing": (b"medium", False), "fine.txt": (b"fine", True)},
                          {"thing/inside": (b"the user's", False)})
KEPT = {"thing/inside": (b"the user's", False), "fine.txt": (b"fine", True)}


def kept(test, w, run):
    holds(KEPT)(test, w, run)
    test.assertFalse([f for f in files_under(w.tolvex) if b".pellatrix-tmp-" in f])


def unreadable(w):
    w.unprivileged = True  # root reads it all the same
    write_files(w.model, {"model.ini": (b"m", True), "mesh.dat": (b"vertices", False)})
    os.chmod(os.path.join(w.model, "mesh.dat"), 0)


def retry_once_readable(w, run):
    run.choose("retry", lambda: os.chmod(os.path.join(w.model, "mesh.dat"), 0o644))


def another_copy_running(w):
    sample(w)
    os.makedirs(w.tolvex)
    w.first = os.open(w.tolvex, os.O_RDONLY)
    fcntl.flock(w.first, fcntl.LOCK_EX)  # as the first copy holds it


def wait_for_it(w, run):
    run.choose("retry")  # wait
    time.sleep(0.5)  # a copy that did not wait would be under way
    w.copied_meanwhile = os.path.exists(w.dest)
    os.close(w.first)


def waited(test, w, run):
    test.assertFalse(w.copied_meanwhile, "copied while the first copy ran")
    if run.shown is not None:
        test.assertIn("another copy is writing into this folder", run.shown)
    arrived(test, w, run)


def swapped(relative, medium=0):
    """Read-only files at the destination, and medium files on the medium, each in a folder of
    its own (long to count and copy); C:\\relative is to be swapped with a link to an outside
    copy of itself (see swap)."""
    def prepare(w):
        w.files = {"d%04d/f" % i: (b"%d" % i, False) for i in range(medium)}
        write_files(w.model, w.files)
        write_files(w.dest, {f"sub{n // 30:02}/f{n % 30:02}": (b"dest", True) for n in range(900)})
        shutil.copytree(os.path.join(w.c, relative), w.outside, symlinks=True)
        w.swap = os.path.join(w.c, relative), os.path.join(w.c, "swapped-in")
        os.symlink(w.outside, w.swap[1])
        w.cleanup.callback(os.unlink, w.swap[1])
        w.before = snapshot(w.outside)
    return prepare


def swap(w, run):
    """Swaps back and forth from the moment the walk begins (a file of the first folder it
    lists is made writable) until the check."""
    first = os.path.join(w.dest, os.listdir(w.dest)[0])
    files = [os.path.join(first, name) for name in os.listdir(first)]
    w.cleanup.enter_context(exchanging(*w.swap, when=lambda: any(map(writable, files))))


def swap_while_copying(w, run):
    """Swaps back and forth, pausing, from the moment the copy begins until the check."""
    run.expect(b"Copying")  # the start-up check is behind it
    w.cleanup.enter_context(exchanging(*w.swap, pauses=(0.01, 0.001)))


def nothing_outside(test, w, run):
    """Nothing outside changed; unless the program refused to go on, the walk went on through
    the folders it holds, wherever they were moved, and the medium's files arrived. (A
    subfolder swapped for a link between its listing and its opening is refused below the
    program: the Linux and the Win32 platform tests show it.)"""
    w.cleanup.close()
    test.assertEqual(snapshot(w.outside), w.before)
    if run.returncode == 0:
        dest = os.fsencode(w.dest)
        test.assertTrue(all(writable(os.path.join(dest, f)) for f in files_under(dest)))
        assert_arrived_writable(test, w.dest, w.files)


# ---- The Linux program alone

USAGE = b"Usage: pellatrix [--yes] [--log=FILE]\n"
TRY_HELP = b"Try 'pellatrix --help' for more information.\n"


def removed(w):
    """The current directory is removed as the program starts."""
    w.options = {"preexec_fn": lambda: os.rmdir(w.medium)}


def full(w):
    """Standard output is a full disk."""
    w.options = {"stdout": w.cleanup.enter_context(open("/dev/full", "wb"))}


def command(*arguments, medium=sample):
    return lambda w: (setattr(w, "arguments", arguments), medium(w))


def prints(output, *errors, holding=None):
    """Standard output starts with output; standard error holds each of errors (or nothing);
    the destination holds these files, or was not made."""
    def check(test, w, run):
        test.assertTrue(run.output.startswith(output) and (output or not run.output), run.output)
        for part in errors:
            test.assertIn(part, run.errors)
        test.assertTrue(errors or not run.errors, run.errors)
        (holds(holding) if holding else nothing_made)(test, w, run)
    return check


def logged(switch, *arguments, medium=sample):
    """The arguments, then switch and the path of a log in the workspace (w.log; as Windows
    names it after "/")."""
    def prepare(w):
        w.log = os.path.join(w.root, "install.log")
        path = "Z:" + w.log.replace("/", "\\") if switch.startswith("/") else w.log
        command(*arguments, switch + path, medium=medium)(w)
    return prepare


STAMP = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ "  # the UTC time that begins each line of a log


def log_says(*lines):
    """The log holds lines matching lines, in order, each after its UTC time."""
    return lambda test, w, run: test.assertRegex(
        read(w.log).decode(), "(?s)" + ".*".join(STAMP + line for line in lines))


def long_copy(*arguments):
    """A copy that takes seconds: one read-only file allocated but never written, under many
    names. It is made at once and takes little disk; the copy reads and writes every block
    (a sparse file would copy at once, its holes kept)."""
    def prepare(w):
        w.arguments = arguments
        os.makedirs(w.model)
        first = os.path.join(w.model, "part00.bin")
        with open(first, "wb") as part:
            os.posix_fallocate(part.fileno(), 0, 256 << 20)
        os.chmod(first, 0o444)
        for index in range(1, 32):
            os.link(first, os.path.join(w.model, f"part{index:02}.bin"))
    return prepare


def typed(text, after=TerminalRun.QUESTION):
    """Types text on the terminal once after is shown."""
    return lambda w, run: run.answer(after, text)


def terminate(w, run):
    while not (os.path.isdir(w.dest) and os.listdir(w.dest)):
        time.sleep(0.01)
    run.process.send_signal(signal.SIGTERM)


def cancel_button(w, run):
    run.display.press(run.dialog("Copying"), "alt+c")


def interrupt(title):
    return lambda w, run: (run.dialog(title), run.process.send_signal(signal.SIGINT))


def stopped(shown=None):
    """Whole files only (none where the copy's error question was answered by the interrupt),
    each made writable by the walk; what the program shows matches shown."""
    def check(test, w, run):
        if shown:
            test.assertRegex(run.shown, shown)
        copied = files_under(w.tolvex)
        test.assertLess(len(copied), 32, "the copy went on to the end")
        for name in copied:
            test.assertRegex(name, rb"^Model/part\d\d\.bin$")
            path = os.path.join(os.fsencode(w.tolvex), name)
            test.assertEqual(os.path.getsize(path), 256 << 20)
            test.assertTrue(writable(path))
    return check


def on_display(name, alone=False):
    """A display named; alone: the program copied without the dialogs' module beside it."""
    def prepare(w):
        w.environment = {"DISPLAY": name}
        w.program = shutil.copy(PROGRAM, w.root) if alone else None
    return prepare


def asks_saying(note):
    """The question on the terminal, after one line that says why there are no dialogs."""
    return lambda test, w, run: test.assertRegex(
        run.shown, rf"pellatrix: {note}.*\r?\n(?s:.*)May I copy the Model file")


# Shown raw, the name would clear the screen and draw a false closing message.
ESCAPING = "blocked\x1b[2J\x1b[HProcessing end"


def escaped_and_kept(test, w, run):
    test.assertIn("Please answer Yes or No.", run.shown)
    test.assertIn('"~/メディア disk/Model/blocked\\033[2J\\033[HProcessing end"', run.shown)
    test.assertNotIn("\x1b[2J", run.shown)
    test.assertEqual(read(os.path.join(w.dest, ESCAPING)), b"the user's")


LINKS = {"a": "b", "b": "a", "self": ".", "parent": ".."}
ODD_FILES = {b"caf\xe9/\xff\xfe.bin": (b"latin-1", True), "file.txt": (b"medium", True),
             "dir/inner.txt": (b"medium", True), "dir/new.txt": (b"medium", True)}


def links_and_odd_names(w):
    """Links in the medium, loops too, names that are not UTF-8, and links at the destination
    that lead outside."""
    write_files(w.model, ODD_FILES)
    for name, target in LINKS.items():
        os.symlink(target, os.path.join(w.model, name))
    write_files(w.outside, {"file.txt": (b"outside", True), "dir/inner.txt": (b"out", True)})
    os.makedirs(w.dest)
    for name in ("file.txt", "dir"):
        os.symlink(os.path.join(w.outside, name), os.path.join(w.dest, name))
    w.before = snapshot(w.outside)


def copied_as_links_and_replaced(test, w, run):
    test.assertEqual(snapshot(w.outside), w.before)
    assert_arrived_writable(test, w.dest, ODD_FILES)
    for name, target in LINKS.items():
        test.assertEqual(os.readlink(os.path.join(w.dest, name)), target)


# ---- The Windows program alone

def boxes(*starts, arrives=True):
    """The message boxes shown start with starts, and the medium's files arrive or not."""
    def check(test, w, run):
        test.assertEqual([text[:len(start)] for text, start in zip(run.messages(), starts)],
                         list(starts))
        test.assertEqual(len(run.messages()), len(starts), run.messages())
        (arrived if arrives else nothing_made)(test, w, run)
    return check


def state(w):
    return [snapshot(folder) for folder in (w.medium, w.outside, w.tolvex)] + [
        os.path.lexists(w.dest)]


def planted(name, top="medium"):
    """A name on the medium that the shell would copy as another (Wine's copied Model\\..\\esc.txt
    from beside the Model folder, left the other names out, and reported success); with top
    "tolvex", one at the destination that would lead the walk out of its folder, or that no path
    can open, and nothing on the medium."""
    def plant(w):
        os.makedirs(w.model)
        write_files(getattr(w, top), {"Model/" + name: (b"odd", True),
                                      "esc.txt": (b"beside Model", True)})
        if top == "medium":
            write_files(w.model, {"a.txt": (b"a", True)})  # nothing arrives, this neither
        w.before = state(w)
    return plant


NEAR_DEVICES = {"console.txt": (b"1", True), "com10": (b"2", False), "lpt/nul0": (b"3", True),
                ".con": (b"4", False)}


def at_model(what):
    """A link at C:\\Tolvex\\Model, to a folder (its read-only file would be made writable),
    a file or nowhere: Wine shows a link to a file as that file and leaves a link that leads
    nowhere out of listings."""
    def plant(w):
        write_files(w.model, {"a.txt": (b"a", True)})
        write_files(w.outside, {"target.txt": (b"user's", False), "folder/ro.txt": (b"", True)})
        os.makedirs(w.tolvex)
        os.symlink(os.path.join(w.outside, what), w.dest)
        w.before = state(w)
    return plant


def reported(named):
    """The error report names named; nothing changed, nothing was copied."""
    def check(test, w, run):
        test.assertIn(named, run.messages()[-1])
        test.assertNotIn("Processing end", run.messages())
        test.assertEqual(state(w), w.before)
    return check


DEEP = ["L" * 250] * 17 + ["d"] * 4000


def deep_tree(w):
    """4,000 levels: with a 2 MiB stack the walk ran out of it at about 2,570 levels (3,050 in
    the 32-bit build), in a crash with no report. The first 17 names are long, so that Wine's
    own path lookups stay quick: they give up past Linux's 4,096-byte path limit, and are slow
    below it in deep trees."""
    write_files(w.model, {"a.txt": (b"a", True)})
    os.makedirs(w.dest)
    folder = nest(w, w.dest, DEEP)
    os.close(os.open("deep.txt", os.O_CREAT | os.O_WRONLY, 0o444, dir_fd=folder))
    w.deepest = f"/proc/self/fd/{folder}/deep.txt"


def too_deep_medium(w):
    """The deep tree on the medium, and below it long names past any Windows path."""
    os.makedirs(w.model)
    nest(w, w.model, DEEP + ["L" * 250] * 100)


def too_deep_reported(test, w, run):
    """/S reports on standard error, which the trace holds: the path past the deep folders."""
    report = read(run.trace)
    test.assertRegex(report, rb"Could not copy .*\\d\\L{250}\\.*too long")
    nothing_made(test, w, run)


def nest(w, top, names):
    """Folders one in the other below top, named names in turn, each made from the one above:
    their paths pass Linux's limit. Returns the deepest, open until the run ends."""
    folder = os.open(top, os.O_RDONLY)
    for name in names:
        os.mkdir(name, dir_fd=folder)
        inner = os.open(name, os.O_RDONLY, dir_fd=folder)
        os.close(folder)
        folder = inner
    w.cleanup.callback(os.close, folder)
    return folder


# ---- The programs on a medium

MEDIUM_TERMINAL, MEDIUM_UNATTENDED = ("medium-terminal", "chroot-terminal"), (
    "medium-unattended", "chroot-unattended")


def make_minimal_debian(system):
    """A minimal Debian 12 without GTK in system, made once and kept; where mmdebstrap cannot
    make it (no way to Debian's package registry) the test is skipped, saying so."""
    if os.path.exists(os.path.join(system, "etc/debian_version")):
        return
    shutil.rmtree(system + ".part", ignore_errors=True)
    with open(system + ".log", "wb") as log:
        if subprocess.run(["mmdebstrap", "--variant=minbase", "bookworm", system + ".part"],
                          stdout=log, stderr=log).returncode:
            print(f"skipped: mmdebstrap could not make a minimal Debian 12 (is Debian's package "
                  f"registry reachable?); see {system}.log")
            sys.exit(SKIPPED)
    os.makedirs(system + ".part/media/cdrom")
    os.rename(system + ".part", system)


@contextlib.contextmanager
def mounted_medium(image):
    """The medium mounted, and (root, program, C:) for the runners: the mount's own Linux
    program; under chroot- a minimal Debian 12 (made once beside the image) that holds the mount
    and C:; under medium-wine the mount as drive D:, the program D:\\Pellatrix.exe."""
    if not os.path.exists(image):
        print(f"skipped: no medium at {image}: the linux preset's tests make it")
        sys.exit(SKIPPED)
    system = os.path.join(os.path.dirname(image), "bookworm")
    if RUNNER.startswith("chroot"):
        make_minimal_debian(system)
        root, c = os.path.join(system, "media/cdrom"), os.path.join(system, "tmp/pellatrix-c")
    else:
        root = tempfile.mkdtemp(prefix="pellatrix-cdrom-")
        c = drive_c() if "wine" in RUNNER else None
    subprocess.run(["fuseiso", image, root], check=True)
    try:
        program = os.path.join(root, "pellatrix")
        if RUNNER.startswith("chroot"):
            program = os.path.join(os.path.dirname(image), "in-minimal-debian.sh")
            with open(program, "w") as wrapper:  # C: and the program as the chroot sees them
                wrapper.write(f'#!/bin/sh\nXDG_DATA_HOME=/tmp/pellatrix-c exec chroot {system} '
                              '/bin/sh -c \'cd /media/cdrom && exec ./pellatrix "$@"\' sh "$@"\n')
            os.chmod(program, 0o755)
        elif "wine" in RUNNER:
            subprocess.run(["ln", "-sfn", root, os.environ["WINEPREFIX"] + "/dosdevices/d:"])
            program = "D:\\Pellatrix.exe"
        yield root, program, c
    finally:
        subprocess.run(["fusermount", "-u", root], check=True)
        RUNNER.startswith("medium") and os.rmdir(root)


def from_medium(*arguments):
    """The program on the mounted medium, started in its root."""
    def prepare(w):
        w.medium, w.program, _ = MEDIUM
        w.model, w.arguments = os.path.join(w.medium, "Model"), arguments
    return prepare


def copied_from_medium(test, w, run):
    """The destination holds the medium's Model, each file made writable: on the medium every
    file is read-only, as on a CD."""
    model = os.fsencode(w.model)
    names = files_under(model)
    test.assertEqual(files_under(w.dest), names)
    test.assertFalse([n for n in names if writable(os.path.join(model, n))])
    assert_arrived_writable(test, w.dest, {n: (read(os.path.join(model, n)), True) for n in names})


YES = ["yes", "ok"]
TABLE = [  # name, runners, prepare(w), steps, exit status, check(test, w, run)
    ("yes", EVERY, sample, YES, 0, arrived),
    ("no", EVERY, sample, ["no"], 1, nothing_made),
    ("a copy error skipped", EVERY, FOLDER_IN_THE_WAY, ["yes", "skip", "ok"], 2, kept),
    ("a copy error retried once it is gone", TERMINAL + DESKTOP, unreadable,
     ["yes", retry_once_readable, "ok"], 0,
     holds({"model.ini": (b"m", True), "mesh.dat": (b"vertices", False)})),
    ("no Model, the copy cancelled", EVERY, lambda w: None, ["yes", "cancel", "ok"], 2,
     nothing_made),
    ("a second copy into the same folder waits for the first", TERMINAL + DESKTOP,
     another_copy_running, ["yes", wait_for_it, "ok"], 0, waited),
    ("C:\\Tolvex swapped in the walk", SWAPS, swapped("Tolvex"), [swap] + YES, 0, nothing_outside),
    ("C:\\Tolvex\\Model swapped in the walk", SWAPS, swapped("Tolvex/Model"), [swap] + YES, 0,
     nothing_outside),
    # The Linux program alone.
    ("--help", UNATTENDED, command("--help"), [], 0, prints(USAGE)),
    ("--yes --help", UNATTENDED, command("--yes", "--help"), [], 0, prints(USAGE)),
    ("--version", UNATTENDED, command("--version"), [], 0, prints(b"pellatrix 1.05\n")),
    ("--version to a full disk", UNATTENDED, command("--version", medium=full), [], 3,
     prints(b"", b"pellatrix: write error")),
    ("--yes", UNATTENDED, command("--yes"), [], 0, prints(b"", holding=SAMPLE)),
    ("-y and a copy error", UNATTENDED, command("-y", medium=FOLDER_IN_THE_WAY), [], 2,
     prints(b"", b'Tolvex: Could not copy "~/', b'thing": Is a directory; skipped.', holding=KEPT)),
    ("--yes --log and a copy error", UNATTENDED,
     logged("--log=", "--yes", medium=FOLDER_IN_THE_WAY), [], 2,
     log_says(r'Start: copy ".*/Model/\*\.\*" into "~/.*Tolvex/Model"\n',
              r'Skipped "~/.*/thing": Is a directory\n', "End: exit status 2\n")),
    ("a log that cannot be written", UNATTENDED, command("-y", "--log", "/nowhere/x.log"), [], 3,
     prints(b"", b'Tolvex: Could not write the log "/nowhere/x.log": No such file')),
    ("--yes, the current directory gone", UNATTENDED, command("--yes", medium=removed), [], 3,
     prints(b"", b"Tolvex: ", b"current directory")),
    ("no terminal, no display", UNATTENDED, command(), [], 3,
     prints(b"", b"neither a terminal nor a display")),
    ("--bogus", UNATTENDED, command("--bogus"), [], 4,
     prints(b"", b"pellatrix: unrecognized option '--bogus'\n" + TRY_HELP)),
    ("-y Model", UNATTENDED, command("-y", "Model"), [], 4,
     prints(b"", b"pellatrix: extra operand 'Model'\n" + TRY_HELP)),
    # The copy stopped, and the walk and (asked) the closing message still run.
    ("Ctrl-C", TERMINAL, long_copy(), ["yes", typed(b"\x03", after=b"Copying"), "ok"], 2,
     stopped(r"(?s)Copy cancelled\..*Processing end")),
    ("Ctrl-C, unattended on a terminal", TERMINAL, long_copy("--yes"),
     [typed(b"\x03", after=b"Copying")], 2, stopped(r"(?s)Copying.*Tolvex: Copy cancelled\.\s*\Z")),
    ("SIGTERM, unattended", UNATTENDED, long_copy("--yes"), [terminate], 2,
     stopped(r"\ATolvex: Copy cancelled\.\n\Z")),
    ("the progress window's Cancel", DESKTOP, long_copy(), ["yes", cancel_button, "ok"], 2,
     stopped()),
    ("Ctrl-C at the copy's error question", DESKTOP, unreadable,
     ["yes", interrupt("Cannot Copy File"), "ok"], 2, stopped()),
    ("a display that cannot be opened", TERMINAL, on_display(":999"), ["no"], 1,
     asks_saying("no desktop dialogs: GTK cannot open the display")),
    ("a display, and the dialogs' module missing", TERMINAL, on_display(":0", alone=True),
     ["no"], 1, asks_saying("no desktop dialogs: pellatrix-gtk.so is neither beside")),
    ("not an answer, a failing retry, a name shown safely", TERMINAL,
     files({ESCAPING + "/inner": (b"x", False)}, {ESCAPING: (b"the user's", False)}),
     [typed(b"maybe\r"), "yes", "retry", "skip", "ok"], 2, escaped_and_kept),
    ("the end of input answers No", TERMINAL, sample, [typed(b"\x04")], 1, nothing_made),
    ("links and names of a Linux disk", TERMINAL, links_and_odd_names, YES, 0,
     copied_as_links_and_replaced),
    ("C:\\Tolvex swapped for a link again and again during the copy", TERMINAL,
     swapped("Tolvex", medium=3000), ["yes", swap_while_copying, "ok"], (0, 2, 3), nothing_outside),
    # The Windows program alone. The shell copies by path, and Windows' path parser drops a
    # trailing dot or space and reads "..\" and wildcards as syntax: the medium's names are
    # checked before anything is copied.
    ("/? shows the usage", WINE, command("/?"), ["ok"], 0,
     boxes("Pellatrix 1.05\n\nPellatrix.exe [/S]", arrives=False)),
    ("-s, as /S, installs showing nothing, with no display", WINE, command(
        "-s", medium=lambda w: (sample(w), w.environment.update(DISPLAY=None))), [], 0, boxes()),
    # Wine's shell copy returns 0 for a missing source: the program knows it is missing.
    ("/S, no Model", WINE, command("/S", medium=lambda w: None), [], 2, boxes(arrives=False)),
    ("/S /LOG= with no Model", WINE, logged("/LOG=", "/S", medium=lambda w: None), [], 2,
     log_says(r'Start: ', r'No folder "Z:\\.*\\Model": nothing to copy\n', "End: exit status 2")),
    ("any other argument is ignored", WINE, command("/x", "--help", "S", "/Silent"), YES, 0,
     boxes("May I copy the Model file?", "Processing end")),
    *[(f"{name!r} on the medium", WINE, planted(name), YES, 3, reported(name.split("/")[0]))
      for name in ("..\\esc.txt", "x.", "y ", "w*ld/in.txt")],
    # The report is read from a trace that mangles the superscript: it names "lpt" there.
    *[(f"the device name {name!r} on the medium", WINE, planted(name), YES, 3,
       reported("\\Model\\" + name[:3]))
      for name in ("CON", "nul.txt", "Aux.tar.gz", "com1 .log", "LPT9", "lpt\u00b9.dat")],
    ("names that merely hold a device name", WINE, files(NEAR_DEVICES, {}), YES, 0,
     holds(NEAR_DEVICES)),
    ("..\\ at the destination", WINE, planted("..\\esc.txt", "tolvex"), YES, 3,
     reported('"..\\esc.txt" listed in "C:\\Tolvex\\Model"')),
    ("a wildcard at the destination", WINE, planted("w*ld/in.txt", "tolvex"), YES, 3,
     reported('"C:\\Tolvex\\Model\\w*ld"')),
    ("a link to a folder at Model", WINE, at_model("folder"), YES, 3, reported("Tolvex\\Model")),
    ("a link to a file at Model", WINE, at_model("target.txt"), YES, 3,
     reported("Tolvex\\Model")),
    ("a link to nowhere at Model", WINE, at_model("nowhere"), YES, 3, reported("Tolvex\\Model")),
    ("a tree deeper than a usual stack holds", WINE, deep_tree, YES, 0,
     lambda test, w, run: test.assertTrue(writable(w.deepest))),
    ("a medium deeper than a Windows path", WINE, command("/S", medium=too_deep_medium), [], 3,
     too_deep_reported),
    # The programs on a medium, run from it.
    ("from the medium", MEDIUM_TERMINAL, from_medium(), YES, 0, copied_from_medium),
    ("from the medium, --yes", MEDIUM_UNATTENDED, from_medium("--yes"), [], 0, copied_from_medium),
    ("from the medium as D:, /S", ("medium-wine",), from_medium("/S"), [], 0, copied_from_medium),
]


class ProgramTest(unittest.TestCase):
    def test_table(self):
        drive = MEDIUM[2] if MEDIUM else RUNNER.endswith("wine") and drive_c()
        run_table(self, TABLE, RUNNER.split(","), PROGRAM, DISPLAY, drive)


if __name__ == "__main__":
    DISPLAY = Display() if RUNNER.endswith(("desktop", "wine")) else None
    with contextlib.ExitStack() as medium:
        MEDIUM = RUNNER.startswith(("medium", "chroot")) and medium.enter_context(
            mounted_medium(PROGRAM))
        try:
            passed = unittest.main(verbosity=2, exit=False).result.wasSuccessful()
        finally:
            DISPLAY and DISPLAY.close()
    sys.exit(0 if passed else 1)
