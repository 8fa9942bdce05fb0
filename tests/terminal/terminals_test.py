#!/usr/bin/env python3
"""The game on each common terminal type, in a UTF-8 and in the C locale,
at the smallest size it plays in: the well in the glyphs that type and
locale call for, a piece moved, the whole exit prompt, status 0 and the
terminal as found.

tmux is the terminal throughout, whatever TERM the game is told: it
understands every sequence these types' descriptions use (SO/SI with the
G1 designation, ESC ( 0, delays aside), so its screen read back with
attributes shows what such a terminal would. What it cannot show is a
delay written as text and then overwritten, so the bytes the game sent are
kept and searched for that too.

Usage: python3 -m tests.terminal.terminals_test PATH-TO-BLOCKFALL"""

import sys
import unittest

from tests.terminal.harness import (BLOCK, CHECKERBOARD, PROMPT, SLEEP_ROW, WALL, Session,
                                    run_suite, well_cells, well_whole)

BINARY = None

TYPES = ("xterm-256color", "tmux-256color", "screen", "linux", "vt100", "vt220")
# The locale, and the glyphs of the walls and the blocks in it.
LOCALES = (("C.UTF-8", WALL, BLOCK), ("C", CHECKERBOARD, BLOCK))


class TerminalTypes(unittest.TestCase):
    def test_each_type_in_each_locale(self):
        for term in TYPES:
            for locale, wall, block in LOCALES:
                with self.subTest(term=term, locale=locale):
                    self.play(term, locale, wall, block)

    def play(self, term, locale, wall, block):
        s = Session(f"TERM={term} LC_ALL={locale} {BINARY}", width=26, height=21, record=True)
        try:
            self.check(s, locale, wall, block)
        finally:
            s.close()

    def check(self, s, locale, wall, block):
        def read():
            """The screen in the harness's glyphs, whatever this locale's are."""
            return [r.replace(wall, WALL).replace(block, BLOCK) for r in s.attributes()]

        screen = s.wait_for(lambda sc: well_whole(sc) and len(well_cells(sc)) == 4, 5, 0.05,
                            screen=read)
        left = min(c for _, c in well_cells(screen))
        s.keys("Left")
        s.wait_for(lambda sc: well_whole(sc) and min(c for _, c in well_cells(sc)) == left - 1,
                   2, 0.05, screen=read)
        s.keys("Escape")
        # At 26 columns the prompt fills its row to the bottom-right cell.
        s.wait_for(lambda sc: sc[SLEEP_ROW + 1] == PROMPT, 3, screen=read)
        s.keys("Enter")
        self.assertEqual(s.status(), 0)
        self.assertTrue(s.stty_unchanged())
        self.assertTrue(s.restored())
        sent = s.output()
        self.assertNotIn(b"$<", sent, "a delay sent as text")
        if locale == "C":
            self.assertTrue(all(b < 0x80 for b in sent), "UTF-8 sent in the C locale")


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "terminal types suite")
