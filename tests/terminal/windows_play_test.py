#!/usr/bin/env python3
"""The Windows build played with real key presses on wine's console, in tmux:
a helper (keypress.exe) on the game's own wine desktop presses the keys with
SendInput, the game's GetAsyncKeyState polls see them, and the screen is read
back from tmux. Also Ctrl-C, and the zip package unpacked and played.

Key presses reach every program on the desktop of a wine prefix, so the
caller gives this suite a prefix of its own in WINEPREFIX.

Usage: python3 -m tests.terminal.windows_play_test WINE-RUN BLOCKFALL.EXE KEYPRESS.EXE BUILD-DIR"""

import contextlib
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

from tests.terminal.harness import (FLOOR_ROW, GAME_OVER_ROW, PROMPT, RATE_ROW, SCORE_ROW,
                                    SLEEP_ROW, WELL_WIDTH, run_suite, shape, start_game,
                                    well_cells)

WINE_RUN = GAME = KEYPRESS = BUILD = None
STATUS_CONTROL_C_EXIT = 0xC000013A
BOTTOM = FLOOR_ROW - 1  # the well's lowest row
INSIDE = WELL_WIDTH - 2  # the cells of a row between the walls
keypress = None  # the helper, started once for the whole suite
# Each wait is on the screen, and ends as soon as it shows what is awaited;
# its limit only ends a game that never gets there, however slowly wine runs
# on a loaded machine.
LIMIT = 120


def setUpModule():
    global keypress
    keypress = subprocess.Popen([WINE_RUN, KEYPRESS], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
    # The first answer comes once the prefix is made and wine is up, which
    # the first run in a new prefix takes a while to do; the games start
    # after it.
    command("up escape")


def tearDownModule():
    keypress.stdin.close()
    keypress.wait(30)


def command(line):
    keypress.stdin.write(line + "\n")
    keypress.stdin.flush()
    answer = keypress.stdout.readline().strip()
    if answer != "ok":
        raise AssertionError(f"keypress: {line!r} answered {answer!r}")


def tap(key):
    # Shorter than a frame: the poll sees it as pressed since its last poll.
    command(f"tap {key} 20")


@contextlib.contextmanager
def held(key):
    command(f"down {key}")
    try:
        yield
    finally:
        command(f"up {key}")


def turned(form):
    """A quarter turn clockwise, as the game turns its 5x5 grid."""
    return shape({(c, -r) for r, c in form})[0]


def resting(cells, landed):
    return any(r == BOTTOM or (r + 1, c) in landed for r, c in cells)


class Game:
    """The game under wine in tmux, with the landed cells known to the test:
    the falling piece is what the screen shows besides them."""

    def __init__(self, test, exe):
        self.session = start_game([WINE_RUN, exe], test, timeout=LIMIT, step=0.3)
        self.landed = set()
        self.screen = self.session.screen()

    def wait(self, predicate, timeout=LIMIT):
        self.screen = self.session.wait_for(predicate, timeout)
        return self.screen

    def piece(self, screen=None):
        return well_cells(screen or self.screen) - self.landed

    def next_piece(self):
        """Waits for the next piece to show whole on the board, pushing it
        down a row at a time to come into view sooner. (Held, Down could
        land it: the game starts at a faster pace than it settles to.)"""
        def whole(sc):
            return len(self.piece(sc)) == 4
        self.wait(lambda sc: whole(sc) or tap("down"))
        self.wait(lambda sc: whole(sc) and not resting(self.piece(sc), self.landed))
        return self.piece()

    def steer(self, key, moved):
        """Taps key and waits until the piece has moved as moved(before, after)
        says; the piece meanwhile may fall a row."""
        before = self.piece()
        tap(key)
        self.wait(lambda sc: self.piece(sc) != before and len(self.piece(sc)) == 4)
        after = self.piece()
        if not moved(shape(before), shape(after)):
            # A gravity step may have shown first; the move follows.
            self.wait(lambda sc: len(self.piece(sc)) == 4
                      and moved(shape(before), shape(self.piece(sc))))
        return self.piece()

    def shift_to(self, column):
        """Moves the piece sideways until its grid's left column is column:
        the key held (a column a frame) until the screen shows it there or
        past, then a tap at a time, as a key let go late carries it on. A
        tap at a time all the way, on a loaded machine, can take longer than
        the piece takes to land."""
        def left(sc):
            return shape(self.piece(sc))[1][1]
        start = left(self.screen)
        if start != column:
            with held("left" if start > column else "right"):
                self.wait(lambda sc: len(self.piece(sc)) == 4
                          and (left(sc) - column) * (start - column) <= 0)
        self.wait(lambda sc: len(self.piece(sc)) == 4)
        while left(self.screen) != column:
            dc = -1 if left(self.screen) > column else 1
            self.steer("left" if dc < 0 else "right", shifted(1, dc))

    def drop(self, board=None, hold=False):
        """Pushes the piece down until it lands; the landed cells take it in.
        Where the landing clears rows, board is the landed cells expected
        after it. Down is tapped a row at a time unless hold: held, a key
        let go late on a loaded machine pushes the next piece down after it,
        where it may land unseen."""
        # Where it comes to rest, known before it falls: held Down brings the
        # next piece in within a frame, so the moment it rests alone on the
        # screen may pass between two looks. Known from a look at the whole
        # piece: one between two frames' drawing may show part of it.
        self.wait(lambda sc: len(self.piece(sc)) == 4)
        rows = self.room()
        rest = {(r + rows, c) for r, c in self.piece()}
        def landed(sc):
            if board is not None:  # below where the next piece comes in
                return {(r, c) for r, c in well_cells(sc) if r > 5} == board
            return rest <= well_cells(sc)
        if hold:
            with held("down"):
                self.wait(landed)
        else:
            self.wait(lambda sc: landed(sc) or tap("down"))
        self.landed = board if board is not None else self.landed | rest

    def room(self):
        """Rows the piece can still fall before it rests."""
        cells = self.piece()
        assert len(cells) == 4, self.screen
        rows = 0
        while not resting({(r + rows, c) for r, c in cells}, self.landed):
            rows += 1
        return rows

    def park(self):
        """Lands the piece against the right wall, clear of where the next
        pieces come in (Right held moves it a column every frame)."""
        with held("right"):
            self.wait(lambda sc: len(self.piece(sc)) == 4 and max(c for _, c in self.piece(sc)) == INSIDE)
        self.drop()

    def fall_time(self, rows):
        """Seconds the piece takes to fall that many rows further. Asked of
        a piece with less room than that, the wait would miss it as it
        lands, and with Down held the next pieces would follow it."""
        room = self.room()
        assert rows < room, (rows, room)
        top = shape(self.piece())[1][0]
        start = time.monotonic()
        self.wait(lambda sc: len(self.piece(sc)) == 4 and shape(self.piece(sc))[1][0] >= top + rows)
        return time.monotonic() - start

    def rate(self):
        """Frames a second, as the game last reported them."""
        return float(self.session.screen()[RATE_ROW].split("FPS")[0])

    def cursor_shown(self):
        return self.session._tmux("display", "-p", "#{cursor_flag}").strip() == "1"

    def end(self, prompt_row):
        self.wait(lambda sc: sc[prompt_row].startswith(PROMPT))
        time.sleep(0.3)
        self.session.keys("Enter")
        return self.session.status(30)


def shifted(dr_max, dc):
    return lambda b, a: a[0] == b[0] and a[1][1] - b[1][1] == dc and 0 <= a[1][0] - b[1][0] <= dr_max


class Keys(unittest.TestCase):
    def test_arrows_move_and_turn_the_piece_and_escape_ends_the_game(self):
        game = Game(self, GAME)
        before = shape(game.next_piece())
        self.assertEqual(game.screen[FLOOR_ROW + 1][:WELL_WIDTH], " " * WELL_WIDTH,
                         "the row below the floor shows blank")
        after = shape(game.steer("left", shifted(1, -1)))
        self.assertEqual(after[1][1], before[1][1] - 1)
        after = shape(game.steer("right", shifted(1, +1)))
        self.assertEqual(after[1][1], before[1][1])

        # Up: a quarter turn clockwise; the square does not turn, so the
        # turn is tried on the first piece that is not one.
        while shape(game.piece())[0] == turned(shape(game.piece())[0]):
            square = game.piece()
            with held("up"):
                time.sleep(0.5)  # several even frames, where Up is polled
            self.assertEqual(shape(game.piece())[0], shape(square)[0], "the square turned")
            game.park()
            game.next_piece()
        form = shape(game.piece())[0]
        after = game.steer("up", lambda b, a: a[0] != b[0])
        self.assertEqual(shape(after)[0], turned(form))

        # Down: a row every frame while it is held, where gravity gives one
        # every tenth frame. The two are compared on one fresh piece with
        # the well below it clear, and Down is timed all the way to the
        # landing, so that one slow read of the screen weighs little. Each
        # is counted in the game's frames, at the rate it reports for the
        # while, so that a machine whose load slows one of the two more
        # than the other does not decide.
        game.park()
        game.next_piece()
        game.fall_time(1)
        gravity = game.fall_time(2) / 2 * game.rate()
        rows = game.room()
        start = time.monotonic()
        game.drop(hold=True)
        pushed = (time.monotonic() - start) / rows * game.rate()
        self.assertLess(pushed, gravity / 2, (pushed, gravity, rows))

        tap("escape")
        # The prompt follows the sleep line, on the row below it.
        self.assertEqual(game.end(SLEEP_ROW + 1), 0)

    def test_a_row_filled_by_steering_is_cleared_and_scored(self):
        game = Game(self, GAME)
        filled = 0  # the bottom row is filled from the left, up to this column
        spares = 0  # pieces that fit nowhere in the row, put on its filled part
        while filled < INSIDE:
            piece = game.next_piece()
            width, form = self.flat_form(piece, INSIDE - filled)
            if form is not None:
                target = filled + 1
                while shape(game.piece())[0] != form:
                    game.steer("up", lambda b, a: a[0] != b[0])
            else:
                target = 1 + 4 * (spares % 4)
                spares += 1
            game.shift_to(target)
            if filled + width < INSIDE:
                game.drop()
                filled += width
                self.assertEqual({c for r, c in game.landed if r == BOTTOM}, set(range(1, filled + 1)))
                continue
            # The last piece fills the row, which is cleared as it lands:
            # everything above drops by one.
            height = max(r for r, _ in form)
            whole = game.landed | {(BOTTOM - height + r, target + c) for r, c in form}
            game.drop({(r + 1, c) for r, c in whole if 5 <= r < BOTTOM})
            filled = INSIDE
        # Shown from the next gravity frame on (timed to the frame by the
        # simulation suite, not here).
        game.wait(lambda sc: sc[SCORE_ROW].startswith("Score: 18"))
        tap("escape")
        self.assertEqual(game.end(SLEEP_ROW + 1), 0)

    @staticmethod
    def flat_form(piece, room):
        """The widest turn of the piece whose bottom row is whole and fits
        the room left in the bottom row, leaving no room of one (only a bar could
        fill that); None where no turn does (the piece is then put on the
        filled part)."""
        form = shape(piece)[0]
        best = (0, None)
        for _ in range(4):
            height = max(r for r, _ in form)
            width = max(c for _, c in form) + 1
            fits = width <= room and room - width != 1
            if fits and all((height, c) in form for c in range(width)) and best[0] < width:
                best = (width, form)
            form = turned(form)
        return best


class WaysOut(unittest.TestCase):
    def test_ctrl_c_gives_the_cursor_back_and_ends_as_interrupted(self):
        game = Game(self, GAME)
        self.assertFalse(game.cursor_shown())
        game.session.keys("C-c")
        # wine hands the unix shell the low byte of the status.
        self.assertEqual(game.session.status(30), STATUS_CONTROL_C_EXIT & 0xFF)
        self.assertTrue(game.cursor_shown())

    def test_the_zip_package_unpacked_plays_to_game_over(self):
        out = tempfile.mkdtemp(prefix="blockfall-zip-")
        self.addCleanup(shutil.rmtree, out, True)
        subprocess.run(["cpack", "-G", "ZIP", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                        "-B", out], check=True, capture_output=True)
        packages = glob.glob(os.path.join(out, "blockfall-*-win64.zip"))
        self.assertEqual(len(packages), 1, os.listdir(out))
        with zipfile.ZipFile(packages[0]) as z:
            names = {n.split("/", 1)[1] for n in z.namelist() if not n.endswith("/")}
            self.assertEqual(names, {"blockfall.exe", "README.md", "LICENSE"})
            z.extractall(out)
        exe = glob.glob(os.path.join(out, "*", "blockfall.exe"))[0]
        game = Game(self, exe)
        with held("down"):  # stacks the pieces up quickly
            game.wait(lambda sc: sc[GAME_OVER_ROW].startswith("Game Over"), 4 * LIMIT)
        self.assertEqual(game.end(GAME_OVER_ROW + 1), 0)


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "Windows play suite",
              arguments=("WINE_RUN", "GAME", "KEYPRESS", "BUILD"))
