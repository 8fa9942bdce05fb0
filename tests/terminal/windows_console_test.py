#!/usr/bin/env python3
"""The Windows build on wine's console, inside tmux: the console primitives
against a real console, and a whole game played to its end. And its command
line, answered without a console.

Usage: python3 -m tests.terminal.windows_console_test WINE-RUN CONSOLE_TESTS.EXE BLOCKFALL.EXE"""

import sys
import time
import unittest

from tests.terminal.harness import (BLOCK, FLOOR_ROW, GAME_OVER_ROW, PROMPT, SCORE_ROW, WALL,
                                    WELL_WIDTH, Session, check_answers, run_suite,
                                    start_game)

WINE_RUN = CONSOLE_TESTS = GAME = None  # set by run_suite


class WindowsConsole(unittest.TestCase):
    def test_console_primitives(self):
        s = Session([WINE_RUN, CONSOLE_TESTS, "--gtest_brief=1", "--gtest_color=no"])
        self.addCleanup(s.close)
        status = s.status(180)
        self.assertEqual(status, 0, "console tests failed; screen:\n" + "\n".join(s.screen()))

    def test_command_line_answers(self):
        check_answers(self, [WINE_RUN, GAME], timeout=120)

    def test_a_game_left_alone_ends_with_game_over(self):
        s = start_game([WINE_RUN, GAME], self, timeout=60, step=0.5)
        screen = s.screen()
        for r in range(FLOOR_ROW):
            self.assertEqual(screen[r][0], WALL, r)
            self.assertEqual(screen[r][WELL_WIDTH - 1], WALL, r)
        self.assertEqual(screen[FLOOR_ROW + 1][:WELL_WIDTH], " " * WELL_WIDTH,
                         "the row below the floor shows blank")
        # No key is ever down here: gravity stacks the pieces to the top.
        screen = s.wait_for(lambda sc: sc[GAME_OVER_ROW].startswith("Game Over"), 240, step=1.0)
        screen = s.wait_for(lambda sc: sc[GAME_OVER_ROW + 1].startswith(PROMPT), 5)
        self.assertTrue(any(BLOCK in row[1:WELL_WIDTH - 1] for row in screen[:FLOOR_ROW]))
        self.assertTrue(screen[SCORE_ROW].startswith("Score: "))
        time.sleep(0.5)
        s.keys("Enter")
        self.assertEqual(s.status(30), 0)


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "Windows console suite",
              arguments=("WINE_RUN", "CONSOLE_TESTS", "GAME"))
