"""The one harness of the terminal suites and the measurements: the game's
screen as a player reads it (glyphs, layout, the prompt), a game in a private
tmux server, a game on a pty with pyte as its screen, and the command line
every suite shares.

Run from the top of the source tree as a module, which needs no path set:
    python3 -m tests.terminal.terminal_test build/default/blockfall"""

import fcntl
import os
import pty
import re
import select
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest

try:
    import pyte
except ImportError:  # a Python of its own beside Debian's packages
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import pyte
    except ImportError:
        pyte = None

# ---- The screen as the player reads it ----------------------------------

WALL = "\u2593"
BLOCK = "\u2588"
CHECKERBOARD = "\u2592"  # the line-drawing set's 'a', as read back by attributes()
PROMPT = "Kilepeshez nyomjon ENTER-t"
WELL_WIDTH = 20  # columns 0 and 19 are walls
FLOOR_ROW = 13  # rows 0 to 12 are played in; the row below the floor shows blank
PANEL_COLUMN = WELL_WIDTH + 1  # "Next:" on row 0, the preview under it
PREVIEW_ROWS = range(2, 7)
SCORE_ROW, GAME_OVER_ROW, RATE_ROW, SLEEP_ROW = 15, 16, 18, 19


# The prefix that runs a game built for another machine here (qemu-aarch64-static),
# as the tests of a cross-built tree set it: its words as CMake lists them,
# separated by semicolons, so that a path in it may hold spaces.
EMULATOR = [word for word in os.environ.get("BLOCKFALL_EMULATOR", "").split(";") if word]


def poll(ask, seconds, step=0.05):
    """ask()'s first true answer within seconds (it is asked at least
    once), else its last answer."""
    deadline = time.monotonic() + seconds
    while True:
        answer = ask()
        if answer or time.monotonic() > deadline:
            return answer
        time.sleep(step)


def have_tmux():
    return shutil.which("tmux") is not None


# ---- A game in tmux -----------------------------------------------------


class Closing:
    """Closed at the end of a `with` block."""

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


class Session(Closing):
    """One game (or any command) running in its own tmux server.

    The command runs under a small shell that records `stty -g` before and
    after it and its exit status, then waits, so the final screen stays
    readable."""

    def __init__(self, command, width=80, height=24, env=None, record=False, shell='"$@"'):
        """command is an argument list (the game, its emulator first), never
        a shell line: shell is the line that runs it, as "$@", and may name
        the session's scratch folder as {dir}. With record, every byte the
        pane is sent is kept (see output())."""
        if isinstance(command, str):
            raise TypeError("a command is an argument list, not a shell line")
        self.dir = tempfile.mkdtemp(prefix="blockfall-tmux-")
        d = shlex.quote(self.dir)
        shell = shell.replace("{dir}", d)
        self.socket = "blockfall-test-%d-%s" % (os.getpid(), os.path.basename(self.dir))
        # The shell keeps its own handlers for the signals a terminal sends
        # the whole foreground group, so that it outlives the game and can
        # report how it ended. A recorded command waits for the recording.
        wait = f"while [ ! -e {d}/go ]; do sleep 0.02; done; " if record else ""
        script = (
            f"trap : INT QUIT TERM; {wait}"
            f"stty -g > {d}/before; {shell}; echo $? > {d}/status.tmp; "
            f"mv {d}/status.tmp {d}/status; stty -g > {d}/after; sleep 600"
        )
        environment = dict(os.environ)
        environment.update({"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
        environment.pop("TMUX", None)
        if env:
            environment.update(env)
        self._tmux(
            "-f", "/dev/null", "new-session", "-d", "-x", str(width), "-y", str(height),
            "sh", "-c", script, "sh", *command, env=environment,
        )
        if record:
            self._tmux("pipe-pane", "-t", "0", f"cat > {d}/output")
            open(os.path.join(self.dir, "go"), "w").close()

    def _tmux(self, *args, env=None):
        return subprocess.run(
            ["tmux", "-L", self.socket] + list(args),
            check=True, capture_output=True, text=True, env=env,
        ).stdout

    def keys(self, *keys):
        self._tmux("send-keys", "-t", "0", *keys)

    def paste(self, data):
        """Pastes the bytes into the pane, as a player pastes text."""
        path = os.path.join(self.dir, "paste")
        with open(path, "wb") as f:
            f.write(data)
        self._tmux("load-buffer", path)
        self._tmux("paste-buffer", "-t", "0")

    def resize(self, width, height):
        self._tmux("resize-window", "-t", "0", "-x", str(width), "-y", str(height))

    def kill_server(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)

    def game_pid(self, name="blockfall", timeout=5.0):
        """The pid of the game under the pane's shell."""
        shell = self._tmux("display", "-p", "-t", "0", "#{pane_pid}").strip()
        found = poll(lambda: subprocess.run(["pgrep", "-P", shell, "-f", name],
                                            capture_output=True, text=True).stdout.split(), timeout)
        if not found:
            raise AssertionError("no game process under the pane")
        return int(found[0])

    def screen(self):
        """The visible screen as a list of rows, padded with spaces."""
        return self._padded(self._tmux("capture-pane", "-p", "-t", "0").split("\n"))

    def _padded(self, rows):
        width = int(self._tmux("display", "-p", "-t", "0", "#{pane_width}").strip())
        height = int(self._tmux("display", "-p", "-t", "0", "#{pane_height}").strip())
        rows = (rows + [""] * height)[:height]
        return [r.ljust(width) for r in rows]

    def attributes(self):
        """The visible screen with what its cells were drawn in read back: a
        cell in the line-drawing set as that set's glyph (its 'a' as
        CHECKERBOARD, any other letter as itself, a stray), a reverse-video
        space as BLOCK."""
        out = self._tmux("capture-pane", "-e", "-p", "-t", "0")
        rows, line_drawing, reverse = [], False, False
        for line in out.split("\n"):
            row = ""
            for m in re.finditer(r"\x1b\[([0-9;]*)m|\x1b.|[\x0e\x0f]|.", line):
                token = m.group(0)
                if m.group(1) is not None:
                    for p in token[2:-1].split(";"):
                        reverse = {"": False, "0": False, "7": True, "27": False}.get(p, reverse)
                elif token in "\x0e\x0f":
                    line_drawing = token == "\x0e"
                elif not token.startswith("\x1b"):
                    if line_drawing and token == "a":
                        token = CHECKERBOARD
                    row += BLOCK if reverse and token == " " else token
            rows.append(row)
        return self._padded(rows)

    def restored(self):
        """The cursor shown and the alternate screen left."""
        return self._tmux("display", "-p", "-t", "0", "#{cursor_flag} #{alternate_on}").split() \
            == ["1", "0"]

    def cursor(self):
        """The cursor's (column, row)."""
        return tuple(int(n) for n in self._tmux("display", "-p", "-t", "0",
                                                "#{cursor_x} #{cursor_y}").split())

    def output(self):
        """Every byte the pane was sent, when the session records."""
        with open(os.path.join(self.dir, "output"), "rb") as f:
            return f.read()

    def wait_for(self, predicate, timeout, step=0.1, screen=None):
        """Polls the screen (read by screen, self.screen when None) until
        predicate(screen) holds; returns the screen."""
        last = None
        def look():
            nonlocal last
            last = (screen or self.screen)()
            return predicate(last)
        if not poll(look, timeout, step):
            raise AssertionError("timed out; screen was:\n" + "\n".join(last))
        return last

    def status(self, timeout=5.0):
        """Exit status of the command, once it has ended."""
        path = os.path.join(self.dir, "status")
        if not poll(lambda: os.path.exists(path), timeout):
            return None
        with open(path) as f:
            return int(f.read().strip())

    def read(self, name, timeout=5.0):
        """A file the command wrote into the scratch folder."""
        path = os.path.join(self.dir, name)
        poll(lambda: os.path.exists(path), timeout)
        # Whole once it ends a line, or once it has stood a second unchanged
        # (an empty answer): a shell's redirection makes the file before the
        # command writes it, which on a loaded machine can be a while.
        seen, since, end = None, time.monotonic(), time.monotonic() + timeout
        while True:
            with open(path) as f:
                text = f.read()
            now = time.monotonic()
            if text != seen:
                seen, since = text, now
            if text.endswith("\n") or now - since >= 1 or now > end:
                return text
            time.sleep(0.05)

    def leave(self):
        """Escape, then Enter at the prompt; the game's exit status."""
        self.to_prompt()
        self.keys("Enter")
        return self.status()

    def to_prompt(self):
        """Escape, and the prompt shown; the session."""
        self.keys("Escape")
        self.wait_for(prompt_shown, 3)
        return self

    def stty_unchanged(self):
        self.status()
        time.sleep(0.2)
        with open(os.path.join(self.dir, "before")) as b, open(os.path.join(self.dir, "after")) as a:
            return b.read() == a.read()

    def close(self):
        # Whatever still runs in the pane goes too, even where hangups are
        # ignored (the pane's shell and its children share its group).
        try:
            group = os.getpgid(int(self._tmux("display", "-p", "-t", "0", "#{pane_pid}")))
            if group != os.getpgrp():
                os.killpg(group, signal.SIGKILL)
        except (subprocess.CalledProcessError, ValueError, OSError):
            pass
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)
        shutil.rmtree(self.dir, ignore_errors=True)



def started(game, test, ready):
    """The game (a Session or a PtyTerminal) once ready() has returned; it is
    closed when the test ends, when given, or else by `with`."""
    if test is not None:
        test.addCleanup(game.close)
    try:
        ready()
    except BaseException:
        game.close()
        raise
    return game


def start_game(command, test=None, timeout=5, step=0.1, **options):
    """A Session running command (an argument list, see Session), once the
    whole well shows."""
    s = Session(command, **options)
    return started(s, test, lambda: s.wait_for(well_whole, timeout, step))


# ---- A game on a pty, with pyte as the terminal ----------------------------


def spawn_on_pty(binary, width=80, height=24, argv=None):
    """Starts the binary (its argument list, see run_suite, or its path; or
    argv, a command that runs it) on a new pty of the given size, as the
    pty's session leader; returns (pid, fd)."""
    argv = list(argv or ([binary] if isinstance(binary, str) else binary))
    pid, fd = pty.fork()
    if pid == 0:
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", height, width, 0, 0))
        env = dict(os.environ, TERM="xterm-256color", LANG="C.UTF-8", LC_ALL="C.UTF-8")
        # As a shell starts it: Python ignores these two for itself.
        for sig in (signal.SIGPIPE, signal.SIGXFSZ):
            signal.signal(sig, signal.SIG_DFL)
        os.execvpe(argv[0], argv, env)
    return pid, fd


QUERY, ATTRIBUTES = b"\x1b[?u", b"\x1b[c"


class PtyTerminal(Closing):
    """A terminal that answers the game's device-attributes request, and the
    keyboard-protocol query too when answers_protocol is set."""

    def __init__(self, binary, answers_protocol, argv=None, width=80, height=24):
        """width and height are the pty's; the screen read stays 80x24."""
        self.answers_protocol = answers_protocol
        self.raw = b""
        self.answered = 0  # how far the output has been searched for queries
        self.screen = pyte.Screen(80, 24)
        self.stream = pyte.ByteStream(self.screen)
        self.pid, self.fd = spawn_on_pty(binary, width, height, argv=argv)

    def send(self, data):
        os.write(self.fd, data)

    def resize(self, width, height):
        """The pty's size set, as a terminal window sets it."""
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", height, width, 0, 0))

    def pump(self, seconds):
        """Reads the game's output for a while, answering its queries."""
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return
            ready, _, _ = select.select([self.fd], [], [], left)
            if not ready:
                return
            try:
                data = os.read(self.fd, 65536)
            except OSError:
                return
            if not data:
                return
            self.raw += data
            self.stream.feed(data)
            self._answer()

    def _answer(self):
        pending = self.raw[self.answered:]
        if QUERY in pending and self.answers_protocol:
            self.send(b"\x1b[?0u")
        if ATTRIBUTES in pending:
            self.send(b"\x1b[?62;22c")
            self.answered = len(self.raw)

    def wait(self, predicate, seconds):
        deadline = time.monotonic() + seconds
        while not predicate():
            if time.monotonic() > deadline:
                raise AssertionError("timed out; screen:\n" + "\n".join(self.screen.display))
            self.pump(0.05)

    def cells(self, first_column=1, last_column=WELL_WIDTH - 2):
        rows = self.screen.display
        return {(r, c) for r in range(FLOOR_ROW) for c in range(first_column, last_column + 1)
                if rows[r][c] == BLOCK}

    def leave(self, escape=b"\x1b"):
        """Escape as this terminal sends it, then Enter at the prompt; the
        game's exit status."""
        self.send(escape)
        self.wait(lambda: prompt_shown(self.screen.display), 3)
        self.send(b"\r")
        return self.exit_status()

    def exit_status(self, seconds=5):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.pump(0.05)
            done, status = os.waitpid(self.pid, os.WNOHANG)
            if done:
                return os.waitstatus_to_exitcode(status)
        return None

    def hang_up(self):
        """The terminal goes away: its side of the pty is closed."""
        os.close(self.fd)
        self.fd = None

    def close(self):
        try:
            os.kill(self.pid, 9)
            os.waitpid(self.pid, 0)
        except (ProcessLookupError, ChildProcessError):
            pass
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


def start_on_pty(binary, test=None, answers_protocol=False, argv=None, ready=None):
    """A PtyTerminal running the game (or argv), once ready(screen) holds,
    by default the whole well."""
    t = PtyTerminal(binary, answers_protocol, argv)
    return started(t, test, lambda: t.wait(lambda: (ready or well_whole)(t.screen.display), 5))


# ---- The game as a process ----------------------------------------------------


# A system without /proc (macOS, the BSDs) tells the same through ps(1).
PROC = "/proc"
PS_KEYWORDS = {"voluntary_ctxt_switches": "nvcsw"}


def proc_status(pid, key):
    """A number from /proc/PID/status, such as voluntary_ctxt_switches."""
    if not os.path.isdir(PROC):
        shown = subprocess.run(["ps", "-o", PS_KEYWORDS[key] + "=", "-p", str(pid)],
                               capture_output=True, text=True).stdout.strip()
        return int(shown) if shown else 0
    with open(f"{PROC}/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def syscall_counts(pid, act, seconds):
    """The system calls of the process, by name, while act(seconds) runs
    (strace -c attached to it)."""
    trace = subprocess.Popen(["strace", "-c", "-f", "-p", str(pid)], stderr=subprocess.PIPE,
                             text=True)
    time.sleep(0.3)  # attached
    act(seconds)
    trace.send_signal(2)
    report = trace.communicate()[1]
    calls = {}
    for line in report.splitlines():
        parts = line.split()
        if len(parts) >= 5 and parts[-1].isidentifier() and parts[3].isdigit():
            calls[parts[-1]] = int(parts[3])
    calls.pop("total", None)
    return calls


# ---- Reading the screen ----------------------------------------------------


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie is gone for our purposes.
    if not os.path.isdir(PROC):
        state = subprocess.run(["ps", "-o", "stat=", "-p", str(pid)], capture_output=True,
                               text=True).stdout.strip()
        return state != "" and not state.startswith("Z")
    try:
        with open(f"{PROC}/{pid}/stat") as f:
            return f.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return True


def floor_drawn(screen):
    return screen[FLOOR_ROW][:WELL_WIDTH] == WALL * WELL_WIDTH


def well_whole(screen):
    return walls_intact(screen) and floor_drawn(screen)


def piece_in_well(screen):
    return well_whole(screen) and bool(well_cells(screen))


def well_cells(screen):
    """(row, column) of every block cell inside the well."""
    return {(r, c) for r in range(FLOOR_ROW) for c in range(1, WELL_WIDTH - 1)
            if screen[r][c] == BLOCK}


def walls_intact(screen):
    return all(screen[r][0] == WALL and screen[r][WELL_WIDTH - 1] == WALL
               for r in range(FLOOR_ROW))


def shape(cells):
    """The cells moved to the top-left corner, and where they were moved
    from: (form, (top, left))."""
    top = min(r for r, _ in cells)
    left = min(c for _, c in cells)
    return frozenset((r - top, c - left) for r, c in cells), (top, left)


def prompt_row(screen):
    """The row the prompt shows on, None before it does."""
    return next((i for i, row in enumerate(screen) if row.startswith(PROMPT)), None)


def prompt_shown(screen):
    return prompt_row(screen) is not None


def leading_number(text):
    digits = ""
    for ch in text:
        if ch.isdigit() or (ch == "-" and not digits):
            digits += ch
        else:
            break
    return int(digits) if digits not in ("", "-") else None


# ---- The game's own command line -----------------------------------------


SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def project_version():
    """The version the build gives the game: the project's, in CMakeLists.txt."""
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        return re.search(r"project\(blockfall VERSION (\S+)", f.read()).group(1)


# What each argument is answered with, without a terminal and on every
# platform: (arguments, status, what standard output shows).
ANSWERS = (
    (("--help",), 0, "usage"),
    (("-h",), 0, "usage"),
    (("--version",), 0, "version"),
    (("--bogus",), 2, ""),
    (("--help", "--bogus"), 2, ""),
)


def manual_keys():
    """The manual's KEYS section as the reader sees it: (keys, what they do)."""
    with open(os.path.join(SOURCE, "docs", "blockfall.6")) as f:
        section = f.read().split(".SH KEYS\n", 1)[1].split("\n.PP\n", 1)[0]
    text = re.sub(r"\\f[BIRP]", "", section).replace("\\-", "-")
    entries = [entry.strip().split("\n") for entry in re.split(r"^\.TP.*$", text, flags=re.M)]
    return [(tag.removeprefix(".B "), " ".join(body)) for tag, *body in entries if tag]


def check_key_help(test, usage):
    """What --help says of the keys (from "Keys:" to the blank line) is what
    the README's Keys table and the manual say, row for row."""
    section = usage.split("\nKeys:\n", 1)[1].split("\n\n", 1)[0]
    rows = [re.split(r"  +", line.strip(), maxsplit=1) for line in section.splitlines()]
    test.assertGreaterEqual(len(rows), 4, usage)
    with open(os.path.join(SOURCE, "README.md")) as f:
        readme = f.read().splitlines()
    table = readme[readme.index("| Key | Does |") + 2:]
    table = table[:table.index("")]
    test.assertEqual(table, [f"| {keys} | {does} |" for keys, does in rows])
    test.assertEqual(manual_keys(), [(keys, does[0].upper() + does[1:] + ".") for keys, does in rows])


def check_answers(test, command, timeout=10):
    """Checks every row of ANSWERS: the game started by command (a list)
    with the row's arguments, and no terminal."""
    for arguments, status, shown in ANSWERS:
        with test.subTest(arguments=arguments):
            done = subprocess.run([*command, *arguments], stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, timeout=timeout)
            code, out, err = done.returncode, done.stdout, done.stderr
            test.assertEqual(code, status, err)
            if shown == "usage":
                test.assertTrue(out.startswith("Usage: blockfall"), out)
                test.assertIn("128+n", out)
                check_key_help(test, out)
            elif shown == "version":
                test.assertEqual(out, f"blockfall {project_version()}\n")
            else:
                test.assertEqual(out, "")
                test.assertEqual(len(err.splitlines()), 1, err)
                test.assertIn("--help", err)
            if status == 0:
                test.assertEqual(err, "")


# ---- The command line -------------------------------------------------------


def run_suite(module, what, arguments=("BINARY",), needs=have_tmux,
              missing="tmux is not installed (packaging/deps test)"):
    """The command line of every suite: the paths it names first (absolute,
    set on the module by name), then unittest's own arguments. Exits 77
    (skipped) when needs() says a tool is missing.

    BINARY is the game's argument list: its path, after EMULATOR where a
    game built for another machine runs under one."""
    if len(sys.argv) <= len(arguments):
        sys.exit(module.__doc__)
    for name in arguments:
        path = os.path.abspath(sys.argv.pop(1))
        if name == "BINARY":
            path = [*EMULATOR, path]
        setattr(module, name, path)
    if not needs():
        print(f"{missing}: {what} skipped")
        sys.exit(77)
    unittest.main(module=module, verbosity=2)
