#!/usr/bin/env python3
"""Held keys: the test plays the terminal on a pty, with pyte as its screen.
One terminal answers the keyboard-protocol query and reports presses,
repeats and releases; the other answers only the device-attributes request.

Usage: python3 -m tests.terminal.held_keys_test PATH-TO-BLOCKFALL"""

import sys
import time
import unittest

from tests.terminal.harness import WELL_WIDTH, piece_in_well, pyte, run_suite, start_on_pty

BINARY = None
PUSH, POP = b"\x1b[>3u", b"\x1b[<u"


def rightmost(cells):
    return max(c for _, c in cells)


class HeldKeys(unittest.TestCase):
    def columns_moved_by_a_press(self, t):
        """A Right pressed and not yet repeated, and half a second of play."""
        start = rightmost(t.cells())
        t.send(b"\x1b[C")
        t.pump(0.5)
        return rightmost(t.cells()) - start

    def test_protocol_terminal_holds_keys_down(self):
        t = start_on_pty(BINARY, self, answers_protocol=True, ready=piece_in_well)
        # The flags are pushed once the answer has been read, which on a
        # slow machine is a frame or more after the first piece shows.
        t.wait(lambda: PUSH in t.raw, 5)
        # Press and hold: no repeat yet, yet the piece moves on every frame.
        self.assertGreaterEqual(self.columns_moved_by_a_press(t), 3)
        # The terminal's repeats, then the release, after two seconds.
        held = time.monotonic()
        while time.monotonic() - held < 1.5:
            t.send(b"\x1b[1;1:2C")
            t.pump(0.03)
        self.assertEqual(rightmost(t.cells()), WELL_WIDTH - 2)
        t.send(b"\x1b[1;1:3C")
        # Released: the next piece stays where it comes in. Every landed cell
        # lies by the right wall, so what shows left of it is the new piece.
        t.wait(lambda: t.cells(1, 12), 30)
        t.pump(1.0)
        self.assertTrue(all(3 <= c <= 6 for _, c in t.cells(1, 12)), t.cells(1, 12))
        # Escape (press and release): the prompt, with the flags popped.
        self.assertEqual(t.leave(b"\x1b[27u\x1b[27;1:3u"), 0)
        self.assertIn(POP, t.raw[t.raw.index(PUSH):])

    def test_legacy_terminal_moves_once_per_press(self):
        t = start_on_pty(BINARY, self, ready=piece_in_well)
        self.assertEqual(self.columns_moved_by_a_press(t), 1)
        self.assertEqual(t.leave(), 0)
        self.assertNotIn(PUSH, t.raw)


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "held-key suite", needs=lambda: pyte is not None,
              missing="pyte is not installed (packaging/deps test)")
