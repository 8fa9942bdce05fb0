"""The real binary in a real terminal: a private tmux server per session,
keys sent with send-keys, the screen read with capture-pane."""

import os
import shutil
import subprocess
import tempfile
import time

WALL = "\u2593"
BLOCK = "\u2588"


def have_tmux():
    return shutil.which("tmux") is not None


class Session:
    """One game (or any command) running in its own tmux server.

    The command runs under a small shell that records `stty -g` before and
    after it and its exit status, then waits, so the final screen stays
    readable."""

    def __init__(self, command, width=80, height=24, env=None):
        """command may name the session's scratch folder as {dir}."""
        self.dir = tempfile.mkdtemp(prefix="blockfall-tmux-")
        command = command.replace("{dir}", self.dir)
        self.socket = "blockfall-test-%d-%s" % (os.getpid(), os.path.basename(self.dir))
        d = self.dir
        # The shell keeps its own handlers for the signals a terminal sends
        # the whole foreground group, so that it outlives the game and can
        # report how it ended.
        script = (
            f"trap : INT QUIT TERM; "
            f"stty -g > {d}/before; {command}; echo $? > {d}/status.tmp; "
            f"mv {d}/status.tmp {d}/status; stty -g > {d}/after; sleep 600"
        )
        environment = dict(os.environ)
        environment.update({"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
        environment.pop("TMUX", None)
        if env:
            environment.update(env)
        self._tmux(
            "-f", "/dev/null", "new-session", "-d", "-x", str(width), "-y", str(height),
            "sh", "-c", script, env=environment,
        )

    def _tmux(self, *args, env=None):
        return subprocess.run(
            ["tmux", "-L", self.socket] + list(args),
            check=True, capture_output=True, text=True, env=env,
        ).stdout

    def keys(self, *keys):
        self._tmux("send-keys", "-t", "0", *keys)

    def resize(self, width, height):
        self._tmux("resize-window", "-t", "0", "-x", str(width), "-y", str(height))

    def kill_server(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)

    def game_pid(self, name="blockfall", timeout=5.0):
        """The pid of the game under the pane's shell."""
        shell = self._tmux("display", "-p", "-t", "0", "#{pane_pid}").strip()
        deadline = time.monotonic() + timeout
        while True:
            found = subprocess.run(["pgrep", "-P", shell, "-f", name], capture_output=True,
                                   text=True).stdout.split()
            if found:
                return int(found[0])
            if time.monotonic() > deadline:
                raise AssertionError("no game process under the pane")
            time.sleep(0.05)

    def screen(self):
        """The visible screen as a list of rows, padded with spaces."""
        out = self._tmux("capture-pane", "-p", "-t", "0")
        rows = out.split("\n")
        width = int(self._tmux("display", "-p", "-t", "0", "#{pane_width}").strip())
        height = int(self._tmux("display", "-p", "-t", "0", "#{pane_height}").strip())
        rows = (rows + [""] * height)[:height]
        return [r.ljust(width) for r in rows]

    def wait_for(self, predicate, timeout, step=0.1):
        """Polls the screen until predicate(screen) holds; returns the screen."""
        deadline = time.monotonic() + timeout
        while True:
            s = self.screen()
            if predicate(s):
                return s
            if time.monotonic() > deadline:
                raise AssertionError("timed out; screen was:\n" + "\n".join(s))
            time.sleep(step)

    def status(self, timeout=5.0):
        """Exit status of the command, once it has ended."""
        path = os.path.join(self.dir, "status")
        deadline = time.monotonic() + timeout
        while not os.path.exists(path):
            if time.monotonic() > deadline:
                return None
            time.sleep(0.05)
        with open(path) as f:
            return int(f.read().strip())

    def read(self, name, timeout=5.0):
        """A file the command wrote into the scratch folder."""
        path = os.path.join(self.dir, name)
        deadline = time.monotonic() + timeout
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.1)
        with open(path) as f:
            return f.read()

    def stty_unchanged(self):
        self.status()
        time.sleep(0.2)
        with open(os.path.join(self.dir, "before")) as b, open(os.path.join(self.dir, "after")) as a:
            return b.read() == a.read()

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)
        shutil.rmtree(self.dir, ignore_errors=True)


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie is gone for our purposes.
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return True


def well_whole(screen):
    return walls_intact(screen) and screen[13][:20] == WALL * 20


def well_cells(screen):
    """(row, column) of every block cell inside the well."""
    return {(r, c) for r in range(13) for c in range(1, 19) if screen[r][c] == BLOCK}


def walls_intact(screen):
    return all(screen[r][0] == WALL and screen[r][19] == WALL for r in range(13))


def leading_number(text):
    digits = ""
    for ch in text:
        if ch.isdigit() or (ch == "-" and not digits):
            digits += ch
        else:
            break
    return int(digits) if digits not in ("", "-") else None


def run_suite(module, what):
    """The command line of every suite: the binary's path first, then
    unittest's own arguments; exit 77 (skipped) where tmux is missing."""
    import sys
    import unittest
    if len(sys.argv) < 2:
        sys.exit(module.__doc__)
    module.BINARY = os.path.abspath(sys.argv.pop(1))
    if not have_tmux():
        print(f"tmux is not installed: {what} skipped")
        sys.exit(77)
    unittest.main(module=module, verbosity=2)
