#!/usr/bin/env python3
"""The real game in a real terminal (tmux): what it draws, how it answers
the keys, and that it leaves the terminal as it found it.

Usage: python3 -m tests.terminal.terminal_test PATH-TO-BLOCKFALL"""

import os
import subprocess
import sys
import time
import unittest

from tests.terminal.harness import (BLOCK, FLOOR_ROW, GAME_OVER_ROW, PANEL_COLUMN, PREVIEW_ROWS,
                                    PROMPT, RATE_ROW, SCORE_ROW, SLEEP_ROW, WALL, WELL_WIDTH,
                                    PtyTerminal, Session, check_answers, leading_number,
                                    prompt_shown, run_suite, shape, start_game, walls_intact,
                                    well_cells, well_whole)
from tests.terminal.harness import EMULATOR, piece_in_well, proc_status

BINARY = None
DROP = ["setpriv", "--bounding-set=-all", "--inh-caps=-all"] if os.geteuid() == 0 else []


SQUARE = frozenset({(0, 0), (0, 1), (1, 0), (1, 1)})


class Refusals(unittest.TestCase):
    """Places the game cannot be played: one clear line, status 1. And the
    command line, answered without a terminal."""

    def test_command_line_answers(self):
        check_answers(self, BINARY)
        # An answer that could not be written is no success.
        for arguments in (["--help"], ["--version"]):
            with self.subTest(arguments=arguments), open("/dev/full", "w") as full:
                run = subprocess.run([*BINARY, *arguments], stdout=full,
                                     stderr=subprocess.PIPE, text=True, timeout=10)
                self.assertEqual(run.returncode, 1)
                self.assertIn("standard output", run.stderr)

    def test_input_not_a_terminal(self):
        run = subprocess.run(BINARY, stdin=subprocess.DEVNULL, capture_output=True,
                             text=True, timeout=10)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stdout, "")
        self.assertEqual(len(run.stderr.strip().splitlines()), 1, run.stderr)
        self.assertIn("terminal", run.stderr)

    def test_output_not_a_terminal(self):
        s = Session(BINARY, shell='{ "$@" 2>{dir}/err; echo $? > {dir}/rc; } | cat > {dir}/out')
        self.addCleanup(s.close)
        self.assertEqual(s.read("rc").strip(), "1")
        self.assertEqual(s.read("out"), "")
        err = s.read("err")
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertIn("terminal", err)

    def test_terminal_too_small(self):
        s = Session(BINARY, width=24, height=12, shell='"$@" 2>{dir}/err')
        self.addCleanup(s.close)
        self.assertEqual(s.status(10), 1)
        self.assertTrue(s.stty_unchanged())
        err = s.read("err")
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertIn("26 columns by 21 rows", err)
        self.assertTrue(all(not row.strip() for row in s.screen()), "nothing drawn")

    def test_size_not_known_yet(self):
        # A terminal window may start the game on a pty of 0x0 and set its
        # size a moment later: too small is then refused, large enough plays,
        # and one that never says plays at its description's size.
        for width, height, status in ((58, 15, 1), (26, 40, None), (0, 0, None)):
            with self.subTest(size=(width, height)), \
                    PtyTerminal(BINARY, False, width=0, height=0) as t:
                time.sleep(0.2)
                t.resize(width, height)
                if status is None:
                    t.wait(lambda: well_whole(t.screen.display), 5)
                    self.assertEqual(t.leave(), 0)
                else:
                    self.assertEqual(t.exit_status(), status)
                    self.assertIn(b"26 columns by 21 rows", t.raw)
                    self.assertNotIn(b"\x1b[?1049h", t.raw, "the terminal was taken over")

    def test_unknown_terminal_type(self):
        s = Session(BINARY, shell='TERM=no-such-terminal "$@" 2>{dir}/err')
        self.addCleanup(s.close)
        self.assertEqual(s.status(10), 1)
        self.assertIn("no-such-terminal", s.read("err"))


class DocumentedScreen(unittest.TestCase):
    """docs/playing.md shows a screen captured by this suite
    (screen-capture.txt beside the binary): it must still have the game's
    layout."""

    def test_documented_screen_has_the_layout_of_the_game(self):
        playing = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                               "playing.md")
        with open(playing, encoding="utf-8") as f:
            text = f.read()
        block = text.split("<!-- screen -->\n```\n", 1)[1].split("```", 1)[0]
        rows = [row.ljust(30) for row in block.split("\n")]
        for r in range(FLOOR_ROW):
            self.assertEqual((rows[r][0], rows[r][WELL_WIDTH - 1]), (WALL, WALL), r)
        self.assertEqual(rows[FLOOR_ROW][:WELL_WIDTH], WALL * WELL_WIDTH)
        self.assertEqual(rows[0][PANEL_COLUMN:].rstrip(), "Next:")
        self.assertTrue(rows[SCORE_ROW].startswith("Score: "))
        self.assertRegex(rows[RATE_ROW], r"^\d+FPS")
        self.assertRegex(rows[SLEEP_ROW], r"^ -?\d+")
        self.assertTrue(any(BLOCK in row[1:WELL_WIDTH - 1] for row in rows[:FLOOR_ROW]))


class Play(unittest.TestCase):
    def test_the_well_the_panel_and_the_pace(self):
        s = start_game(BINARY, self)
        screen = s.wait_for(lambda sc: sc[SCORE_ROW].startswith("Score: 0"), 5)
        for r in range(FLOOR_ROW):
            self.assertEqual(screen[r][0], WALL, r)
            self.assertEqual(screen[r][WELL_WIDTH - 1], WALL, r)
        self.assertEqual(screen[FLOOR_ROW][:WELL_WIDTH], WALL * WELL_WIDTH)
        self.assertEqual(screen[FLOOR_ROW + 1][:WELL_WIDTH], " " * WELL_WIDTH)
        self.assertEqual(screen[0][PANEL_COLUMN:].rstrip(), "Next:")
        self.assertTrue(any(screen[r][PANEL_COLUMN:].strip() for r in PREVIEW_ROWS), "preview drawn")
        # The governor starts fast and settles at about eleven frames a
        # second: awaited on the rate line (the limit only ends a game that
        # never settles). Pieces are pushed to either side meanwhile, so the
        # game does not end.
        s.wait_for(lambda sc: "FPS" in sc[RATE_ROW], 3)
        pushes = 0
        def settled(screen):
            nonlocal pushes
            s.keys("Left" if pushes // 20 % 2 == 0 else "Right")
            pushes += 1
            rate = leading_number(screen[RATE_ROW])
            return rate is not None and 10 <= rate <= 12
        s.wait_for(settled, 90, step=0.2)
        # The pace it holds, over five reports: on a loaded machine (two
        # cores shared with other builds, or the game under qemu) one second
        # may lose a frame or two, which the median does not.
        rates = []
        for _ in range(5):
            time.sleep(1.1)
            screen = s.screen()
            rates.append(leading_number(screen[RATE_ROW]) or 0)
            self.assertIn("FPS", screen[RATE_ROW])
            self.assertIsNotNone(leading_number(screen[SLEEP_ROW][1:]), screen[SLEEP_ROW])
        self.assertTrue(10 <= sorted(rates)[2] <= 12, rates)
        # A screen from the middle of a real game, for docs/playing.md.
        folder = os.path.dirname(BINARY[-1])
        with open(os.path.join(folder, "screen-capture.txt"), "w") as f:
            f.write("\n".join(row.rstrip() for row in screen[:20]).rstrip() + "\n")
        # Escape: the prompt below the sleep line; Enter: status 0.
        screen = s.to_prompt().screen()
        self.assertTrue(screen[SLEEP_ROW + 1].startswith(PROMPT))
        # A stray Escape at the prompt does not swallow the Enter after it.
        s.keys("Escape")
        time.sleep(0.3)
        s.keys("Enter")
        self.assertEqual(s.status(), 0)
        self.assertTrue(s.stty_unchanged())

    def test_confined_once_it_plays(self):
        # A filter (2), but under the emulator (which refuses it) or a sanitizer.
        s = start_game([*DROP, *BINARY], self)
        pid = s.wait_for(piece_in_well, 5) and s.game_pid()
        # (Read from the binary: its maps are its tracer's to read alone.)
        with open(BINARY[-1], "rb") as binary:
            unconfined = EMULATOR or b"__asan_init" in binary.read()
        for key, value in (("NoNewPrivs", 1), ("Seccomp", 0 if unconfined else 2)):
            self.assertEqual(proc_status(pid, key), value, key)
        # Not dumpable: a process of its own user and privileges (none: root's
        # are dropped for both) cannot read its environment.
        read = subprocess.run([*DROP, "cat", f"/proc/{pid}/environ"], capture_output=True)
        self.assertNotEqual(read.returncode, 0, "its environment was read")
        self.assertEqual(s.leave(), 0)

    def test_arrows_move_and_the_walls_stop_the_piece(self):
        s = start_game(BINARY, self)
        s.wait_for(lambda sc: len(well_cells(sc)) == 4, 5)
        for key, edge, column in (("Left", min, 1), ("Right", max, WELL_WIDTH - 2)):
            def side(sc):
                return edge(c for _, c in well_cells(sc))
            # Presses within one frame count once, so a slow frame costs a
            # move: pressed until the piece is at the wall, then three more,
            # which must not move it on.
            for _ in range(2 * WELL_WIDTH):
                if side(s.screen()) == column:
                    break
                s.keys(key)
                time.sleep(0.12)
            for _ in range(3):
                s.keys(key)
                time.sleep(0.3)
            screen = s.screen()
            self.assertEqual(side(screen), column, key)
            self.assertTrue(walls_intact(screen), key)
        self.assertEqual(s.leave(), 0)

    def test_arrows_in_both_cursor_key_modes(self):
        # Normal mode sends ESC [ D, application mode ESC O D; neither may be
        # taken for the Escape key.
        s = start_game(BINARY, self)
        screen = s.wait_for(lambda sc: well_cells(sc), 5)
        left = min(c for _, c in well_cells(screen))
        for arrows, column in (("1b5b44 1b4f44", left - 2), ("1b5b43 1b4f43 1b4f43", left + 1)):
            for arrow in arrows.split():
                s.keys("-H", arrow[0:2], arrow[2:4], arrow[4:6])
                time.sleep(0.3)
            screen = s.screen()
            self.assertEqual(min(c for _, c in well_cells(screen)), column, arrows)
        self.assertFalse(prompt_shown(screen))
        self.assertEqual(s.leave(), 0)

    def test_up_turns_the_piece(self):
        # The first piece is random; a square never turns, so start again
        # until it is something else (a new second deals a new piece).
        for _ in range(10):
            s = start_game(BINARY, self)
            screen = s.wait_for(lambda sc: len(well_cells(sc)) == 4, 5, step=0.05)
            before = shape(well_cells(screen))[0]
            if before == SQUARE:
                s.close()
                time.sleep(1.0)
                continue
            s.keys("Up")
            after = shape(well_cells(s.wait_for(
                lambda sc: len(well_cells(sc)) == 4 and shape(well_cells(sc))[0] != before, 2,
                step=0.02)))[0]
            self.assertEqual(len(after), 4)
            self.assertEqual(s.leave(), 0)
            return
        self.fail("ten squares in a row")

    def test_holding_down_stacks_pieces_until_game_over(self):
        s = start_game(BINARY, self)
        deadline = time.monotonic() + 120
        while "Game Over" not in s.screen()[GAME_OVER_ROW]:
            self.assertLess(time.monotonic(), deadline, "no game over")
            s.keys("Down", "Down", "Down")
            time.sleep(0.05)
        screen = s.wait_for(lambda sc: sc[GAME_OVER_ROW + 1].startswith(PROMPT), 3)
        self.assertTrue(screen[GAME_OVER_ROW].startswith("Game Over"))
        self.assertTrue(any(screen[0][c] == BLOCK for c in range(1, WELL_WIDTH - 1)))
        # Enters typed during play answer the prompt at once; either way the
        # program ends with status 0 on Enter.
        s.keys("Enter")
        self.assertEqual(s.status(), 0)
        self.assertTrue(s.stty_unchanged())


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "terminal suite")
