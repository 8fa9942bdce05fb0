#!/usr/bin/env python3
"""The exit prompt and the ways out: the prompt is a line edited as the
terminal's own line input edits it, a half sequence cannot hold up the
Enter after it, a paste cannot stall play, an idle frame is one wait and one
write, and every way out ends with its own status.

Usage: python3 -m tests.terminal.prompt_test PATH-TO-BLOCKFALL"""

import os
import shutil
import signal
import sys
import tempfile
import time
import unittest

from tests.terminal.harness import (PROMPT, proc_status, prompt_row, prompt_shown, pyte, run_suite,
                                    start_game, start_on_pty, syscall_counts, well_cells)

BINARY = None


class WaysOut(unittest.TestCase):
    def test_answers_at_the_prompt(self):
        # (what, keys typed at the prompt, status)
        cases = [
            ("Enter", [("Enter",)], 0),
            ("a half sequence, then Enter", [("-H", "1b", "5b", "0d", "0d")], 0),
            ("a half SS3, then Enter", [("-H", "1b", "4f", "0d")], 0),
            ("end of input on an empty line", [("C-d",)], 0),
            ("typed, taken back, end of input", [("-l", "ab"), ("BSpace",), ("BSpace",), ("C-d",)], 0),
        ]
        for what, typed, status in cases:
            with self.subTest(what):
                s = start_game(BINARY, self).to_prompt()
                for keys in typed:
                    s.keys(*keys)
                self.assertEqual(s.status(3), status)
                self.assertTrue(s.stty_unchanged())

    def test_enter_typed_during_play_answers_at_once(self):
        s = start_game(BINARY, self)
        s.keys("Enter")
        time.sleep(0.3)
        s.keys("Escape")
        self.assertEqual(s.status(2), 0)

    @unittest.skipIf(pyte is None, "pyte is not installed")
    def test_hangup_in_play_and_at_the_prompt(self):
        # The game is not the terminal's session leader, as under a shell: no
        # SIGHUP reaches it, only the terminal's silence.
        for prompt in (False, True):
            with self.subTest(at_prompt=prompt):
                folder = tempfile.mkdtemp(prefix="blockfall-hangup-")
                self.addCleanup(shutil.rmtree, folder, True)
                status = os.path.join(folder, "status")
                t = start_on_pty(BINARY, self, argv=[
                    "sh", "-c", 'trap : HUP; "$@"; echo $? > "$0"', status, *BINARY])
                if prompt:
                    t.send(b"\x1b")
                    t.wait(lambda: prompt_shown(t.screen.display), 3)
                t.hang_up()
                deadline = time.monotonic() + 3
                while not os.path.exists(status) and time.monotonic() < deadline:
                    time.sleep(0.05)
                time.sleep(0.1)
                with open(status) as f:
                    self.assertEqual(f.read().strip(), str(128 + signal.SIGHUP))


class TheLine(unittest.TestCase):
    def test_what_is_typed_shows_and_backspace_takes_it_back(self):
        s = start_game(BINARY, self).to_prompt()
        s.keys("-l", "h\u00e9llo")
        s.keys("BSpace", "BSpace")
        screen = s.wait_for(lambda sc: sc[prompt_row(sc)].rstrip() == PROMPT + "h\u00e9l", 2)
        self.assertEqual(screen[prompt_row(screen)].rstrip(), PROMPT + "h\u00e9l")
        s.keys("Enter")
        self.assertEqual(s.status(3), 0)

    def test_without_an_alternate_screen_the_shell_starts_a_new_line(self):
        for answer in ("Enter", "C-d"):
            with self.subTest(answer=answer):
                s = start_game(BINARY, self, shell='TERM=linux "$@"; printf shell-next').to_prompt()
                s.keys(answer)
                screen = s.wait_for(lambda sc: any("shell-next" in row for row in sc), 3)
                row = next(i for i, r in enumerate(screen) if "shell-next" in r)
                self.assertTrue(screen[row].startswith("shell-next"), screen[row])
                self.assertGreater(row, prompt_row(screen))

    def test_a_half_sequence_at_the_prompt_costs_no_wake_ups(self):
        s = start_game(BINARY, self).to_prompt()
        pid = s.game_pid()
        s.keys("-H", "1b", "5b")
        time.sleep(0.5)
        before = proc_status(pid, "voluntary_ctxt_switches")
        time.sleep(1.0)
        self.assertLessEqual(proc_status(pid, "voluntary_ctxt_switches") - before, 1)
        s.keys("Enter")
        self.assertEqual(s.status(3), 0)


class Frames(unittest.TestCase):
    def test_keys_after_a_paste_act_at_once(self):
        s = start_game(BINARY, self)
        start = min(c for _, c in well_cells(s.wait_for(well_cells, 5)))
        s.paste(b"x" * 65536)
        s.keys("Left")
        # Read 256 bytes a frame, this paste held the Left back 23 seconds.
        s.wait_for(lambda sc: well_cells(sc) and min(c for _, c in well_cells(sc)) < start, 3)

    # Attaching to a game, which is not dumpable, takes root's CAP_SYS_PTRACE.
    @unittest.skipIf(shutil.which("strace") is None or os.geteuid() != 0,
                     "strace is not installed, or this is not root")
    def test_an_idle_frame_is_one_wait_and_one_write(self):
        s = start_game(BINARY, self)
        calls = syscall_counts(s.game_pid(), time.sleep, 3)
        calls.pop("restart_syscall", None)  # the call strace found the game in
        waits = calls.get("select", 0) + calls.get("pselect6", 0)
        self.assertGreater(waits, 20, calls)
        self.assertNotIn("poll", calls)
        self.assertLessEqual(sum(calls.values()), 2 * waits, calls)


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "prompt suite")
