#!/usr/bin/env python3
"""Held keys: the test plays the terminal on a pty, with pyte as its screen.
One terminal answers the keyboard-protocol query and reports presses,
repeats and releases; the other answers only the device-attributes request.

Usage: protocol_test.py PATH-TO-BLOCKFALL"""

import fcntl
import os
import pty
import select
import struct
import sys
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

BINARY = None
WALL, BLOCK = "\u2593", "\u2588"
QUERY, ATTRIBUTES = b"\x1b[?u", b"\x1b[c"
PUSH, POP = b"\x1b[>3u", b"\x1b[<u"


class PtyTerminal:
    def __init__(self, answers_protocol):
        self.answers_protocol = answers_protocol
        self.raw = b""
        self.answered = 0  # how far the output has been searched for queries
        self.screen = pyte.Screen(80, 24)
        self.stream = pyte.ByteStream(self.screen)
        pid, fd = pty.fork()
        if pid == 0:
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
            env = dict(os.environ, TERM="xterm-256color", LANG="C.UTF-8", LC_ALL="C.UTF-8")
            os.execve(BINARY, [BINARY], env)
        self.pid, self.fd = pid, fd

    def send(self, data):
        os.write(self.fd, data)

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

    def cells(self, first_column=1, last_column=18):
        rows = self.screen.display
        return {(r, c) for r in range(13) for c in range(first_column, last_column + 1)
                if rows[r][c] == BLOCK}

    def exit_status(self, seconds=5):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.pump(0.05)
            done, status = os.waitpid(self.pid, os.WNOHANG)
            if done:
                return os.waitstatus_to_exitcode(status)
        return None

    def close(self):
        try:
            os.kill(self.pid, 9)
            os.waitpid(self.pid, 0)
        except (ProcessLookupError, ChildProcessError):
            pass
        os.close(self.fd)


def rightmost(cells):
    return max(c for _, c in cells)


class HeldKeys(unittest.TestCase):
    def start(self, answers_protocol):
        t = PtyTerminal(answers_protocol)
        self.addCleanup(t.close)
        t.wait(lambda: t.screen.display[13][:20] == WALL * 20, 5)
        t.wait(lambda: t.cells(), 5)
        return t

    def test_protocol_terminal_holds_keys_down(self):
        t = self.start(answers_protocol=True)
        self.assertIn(PUSH, t.raw)
        start = rightmost(t.cells())
        # Press and hold: no repeat yet, yet the piece moves on every frame.
        t.send(b"\x1b[C")
        t.pump(0.5)
        self.assertGreaterEqual(rightmost(t.cells()) - start, 3)
        # The terminal's repeats, then the release, after two seconds.
        held = time.monotonic()
        while time.monotonic() - held < 1.5:
            t.send(b"\x1b[1;1:2C")
            t.pump(0.03)
        self.assertEqual(rightmost(t.cells()), 18)
        t.send(b"\x1b[1;1:3C")
        # Released: the next piece stays where it comes in. Every landed cell
        # lies by the right wall, so what shows left of it is the new piece.
        t.wait(lambda: t.cells(1, 12), 30)
        t.pump(1.0)
        self.assertTrue(all(3 <= c <= 6 for _, c in t.cells(1, 12)), t.cells(1, 12))
        # Escape (press and release): the prompt, with the flags popped.
        t.send(b"\x1b[27u\x1b[27;1:3u")
        t.wait(lambda: any(row.startswith("Kilepeshez") for row in t.screen.display), 3)
        self.assertIn(POP, t.raw[t.raw.index(PUSH):])
        t.send(b"\r")
        self.assertEqual(t.exit_status(), 0)

    def test_legacy_terminal_moves_once_per_press(self):
        t = self.start(answers_protocol=False)
        self.assertNotIn(PUSH, t.raw)
        start = rightmost(t.cells())
        t.send(b"\x1b[C")
        t.pump(0.5)
        self.assertEqual(rightmost(t.cells()), start + 1)
        t.send(b"\x1b")
        t.wait(lambda: any(row.startswith("Kilepeshez") for row in t.screen.display), 3)
        t.send(b"\r")
        self.assertEqual(t.exit_status(), 0)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    BINARY = os.path.abspath(sys.argv.pop(1))
    if pyte is None:
        print("pyte (python3-pyte) is not installed: held-key suite skipped")
        sys.exit(77)
    unittest.main(verbosity=2)
