#!/usr/bin/env python3
"""The Windows build on wine's console, inside tmux: the console primitives
against a real console, and a whole game played to its end.

Usage: windows_test.py WINE-RUN CONSOLE_TESTS.EXE BLOCKFALL.EXE"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmuxgame import BLOCK, WALL, Session, have_tmux  # noqa: E402

WINE_RUN = CONSOLE_TESTS = GAME = None


class WindowsConsole(unittest.TestCase):
    def test_console_primitives(self):
        s = Session(f"{WINE_RUN} {CONSOLE_TESTS} --gtest_brief=1 --gtest_color=no")
        self.addCleanup(s.close)
        status = s.status(180)
        self.assertEqual(status, 0, "console tests failed; screen:\n" + "\n".join(s.screen()))

    def test_a_game_left_alone_ends_with_game_over(self):
        s = Session(f"{WINE_RUN} {GAME}")
        self.addCleanup(s.close)
        screen = s.wait_for(lambda sc: sc[13][:20] == WALL * 20, 60, step=0.5)
        for r in range(13):
            self.assertEqual(screen[r][0], WALL, r)
            self.assertEqual(screen[r][19], WALL, r)
        self.assertEqual(screen[14][:20], " " * 20, "the row below the floor shows blank")
        # No key is ever down here: gravity stacks the pieces to the top.
        screen = s.wait_for(lambda sc: sc[16].startswith("Game Over"), 240, step=1.0)
        screen = s.wait_for(lambda sc: sc[17].startswith("Kilepeshez nyomjon ENTER-t"), 5)
        self.assertTrue(any(BLOCK in row[1:19] for row in screen[:13]))
        self.assertTrue(screen[15].startswith("Score: "))
        time.sleep(0.5)
        s.keys("Enter")
        self.assertEqual(s.status(30), 0)


def run_windows_suite(module, names, what):
    """The command line of the Windows suites: paths, taken in the order of
    names into the module's globals, then unittest's own arguments; exit 77
    (skipped) where tmux is missing."""
    if len(sys.argv) <= len(names):
        sys.exit(module.__doc__)
    for name in names:
        setattr(module, name, os.path.abspath(sys.argv.pop(1)))
    if not have_tmux():
        print(f"tmux is not installed: {what} skipped")
        sys.exit(77)
    unittest.main(module=module, verbosity=2)


if __name__ == "__main__":
    run_windows_suite(sys.modules[__name__], ["WINE_RUN", "CONSOLE_TESTS", "GAME"],
                      "Windows console suite")
