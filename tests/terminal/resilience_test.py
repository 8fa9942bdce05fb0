#!/usr/bin/env python3
"""Whatever happens to the game's terminal, it is given back as it was
found and no process is left behind.

Usage: python3 -m tests.terminal.resilience_test PATH-TO-BLOCKFALL"""

import os
import random
import shlex
import signal
import sys
import termios
import time
import unittest

from tests.terminal.harness import (PROMPT, RATE_ROW, SCORE_ROW, SLEEP_ROW, Session, alive,
                                    leading_number, poll, prompt_row, prompt_shown, run_suite,
                                    start_game, well_cells, well_whole)

BINARY = None


class TerminalGone(unittest.TestCase):
    def test_terminal_killed_under_the_game(self):
        s = start_game(BINARY, self)
        pid = s.game_pid()
        s.kill_server()
        deadline = time.monotonic() + 1.5
        while alive(pid) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertFalse(alive(pid), "the game outlived its terminal")


class JobControl(unittest.TestCase):
    def test_suspend_and_resume(self):
        s = Session(["bash", "--norc", "--noprofile", "-i"])
        self.addCleanup(s.close)
        d = shlex.quote(s.dir)
        s.keys(f"stty -g > {d}/shell-before", "Enter")
        time.sleep(0.3)
        s.keys(f"clear; {shlex.join(BINARY)}", "Enter")
        s.wait_for(well_whole, 5)
        s.keys("C-z")
        s.wait_for(lambda sc: any("Stopped" in row for row in sc), 3)
        s.keys(f"stty -g > {d}/shell-during", "Enter")
        self.assertEqual(s.read("shell-during"), s.read("shell-before"))
        s.keys("clear; fg", "Enter")
        s.wait_for(well_whole, 3)
        time.sleep(0.5)
        s.to_prompt().keys("Enter")
        time.sleep(0.3)
        s.keys(f"echo $? > {d}/game-status", "Enter")  # fg's status is the game's
        self.assertEqual(s.read("game-status").strip(), "0")
        s.keys(f"stty -g > {d}/shell-after", "Enter")
        self.assertEqual(s.read("shell-after"), s.read("shell-before"))


class Damage(unittest.TestCase):
    def test_shrunk_and_restored(self):
        # Too small to be seen, the game stands still and says so in one
        # line; large enough again, it is drawn whole and goes on from the
        # same frame at the pace it had, once that has settled.
        s = start_game(BINARY, self, record=True)

        def pace(screen):
            return leading_number(screen[RATE_ROW]), leading_number(screen[SLEEP_ROW][1:])
        time.sleep(6)  # past the first second's partial count
        before = pace(s.wait_for(lambda sc: 9 <= (pace(sc)[0] or 99) <= 13, 40, step=0.5))
        for width, height in ((20, 15), (15, 8)):
            s.resize(width, height)
            small = s.wait_for(lambda sc: "26x21" in sc[0], 1.0, step=0.05)
            self.assertTrue(all(not row.strip() for row in small[1:]), small)
        time.sleep(0.3)
        sent = len(s.output())
        time.sleep(3)
        self.assertEqual(len(s.output()), sent, "the game played on while too small")
        s.resize(80, 24)
        after = s.wait_for(lambda sc: well_whole(sc) and sc[SCORE_ROW].startswith("Score"), 1.0,
                           step=0.05)
        # Within a second the governor moves the sleep down by five and up by
        # about five, so two looks a second apart in its phase may differ by
        # that much; a pace started anew would be tens off.
        self.assertLessEqual(abs(pace(after)[1] - before[1]), 5, (before, pace(after)))
        # The second the game stood in counts as a second of play, not a slow one.
        rates = []
        for _ in range(15):
            time.sleep(0.1)
            rates.append(pace(s.screen())[0])
        self.assertTrue(all(abs(r - before[0]) <= 2 for r in rates), (before, rates))
        # Escape still ends the game while it waits, and a line typed at the
        # prompt while it waits shows once it fits, the cursor after it; the
        # message stands alone meanwhile, at 25x24 too, where the game's rows
        # would be on the screen.
        for keys, line in (("Escape", ""), ("abc", "abc")):
            s.resize(25, 24)
            s.wait_for(lambda sc: "26x21" in sc[0], 1.0, step=0.05)
            s.keys(keys)
            time.sleep(0.5)
            small = s.screen()
            self.assertTrue(all(not row.strip() for row in small[1:]), (keys, small))
            s.resize(80, 24)
            row = prompt_row(s.wait_for(prompt_shown, 1.0, step=0.05))
            self.assertEqual(s.screen()[row].rstrip(), PROMPT + line, keys)
            self.assertEqual(s.cursor(), (len(PROMPT + line), row), keys)
        s.keys("Enter")
        self.assertEqual(s.status(), 0)
        self.assertTrue(s.stty_unchanged())

    def test_random_bytes_during_play(self):
        s = start_game(BINARY, self)
        pid = s.game_pid()
        rng = random.Random(1234)
        # Everything but the bytes the terminal itself turns into signals or
        # flow control (Ctrl-C, Ctrl-Z, Ctrl-\, Ctrl-Q, Ctrl-S).
        allowed = [b for b in range(256) if b not in (0x03, 0x1A, 0x1C, 0x11, 0x13)]
        fragments = [b"\x1b[", b"\x1bO", b"\x1b[1;", b"\x1b[?", b"\x1b[27;1:", b"\x1b[200~"]
        started = time.monotonic()
        while time.monotonic() - started < 10:
            chunk = bytearray(rng.choice(fragments))
            chunk += bytes(rng.choice(allowed) for _ in range(rng.randint(1, 12)))
            # An ESC standing alone at a pause is the Escape key, and two in a
            # row are Escape too; keep every ESC followed by something else.
            while chunk.endswith(b"\x1b"):
                chunk += b"x"
            chunk = chunk.replace(b"\x1b\x1b", b"\x1bx")
            s.keys("-H", *("%02x" % b for b in chunk))
            time.sleep(0.02)
        self.assertTrue(alive(pid))
        self.assertIsNone(s.status(0.1))
        # The noise held Enters, and an Enter typed during play answers the
        # prompt at once; otherwise the prompt waits for one.
        time.sleep(0.3)
        s.keys("Escape")
        if s.status(1.0) is None:
            s.wait_for(prompt_shown, 3)
            s.keys("Enter")
        self.assertEqual(s.status(), 0)
        self.assertTrue(s.stty_unchanged())


class HeldOutput(unittest.TestCase):
    def test_ctrl_s_is_a_key_and_a_held_write_ends_by_a_signal(self):
        # Ctrl-S does not stop play. A terminal that takes no more output (a
        # reader who stopped) holds the game in its write: SIGHUP or SIGTERM
        # ends it all the same, the modes given back as found.
        for sig in (signal.SIGHUP, signal.SIGTERM):
            with self.subTest(signal=sig.name), start_game(BINARY) as s:
                start = min(c for _, c in well_cells(s.wait_for(well_cells, 5)))
                s.keys("C-s", "Left")
                s.wait_for(lambda sc: min((c for _, c in well_cells(sc)), default=99) < start, 3)
                pid = s.game_pid()
                tty = os.open(s._tmux("display", "-p", "-t", "0", "#{pane_tty}").strip(),
                              os.O_RDWR | os.O_NOCTTY)
                termios.tcflow(tty, termios.TCOOFF)
                time.sleep(0.5)  # a frame or more: in its write by now
                os.kill(pid, sig)
                gone = poll(lambda: not alive(pid), 3)
                termios.tcflow(tty, termios.TCOON)  # the shell that reports writes too
                os.close(tty)
                self.assertTrue(gone, "the game waits in its write")
                self.assertEqual(s.status(), 128 + sig)
                self.assertTrue(s.stty_unchanged())

if __name__ == "__main__":
    run_suite(sys.modules[__name__], "resilience suite")
