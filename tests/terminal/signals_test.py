#!/usr/bin/env python3
"""Every signal whose default action ends the process, beyond those a
terminal sends, ends the game as that signal would (status 128+n) with the
terminal given back: its modes as found, the cursor shown, the alternate
screen left. The crash signals too, from their own handler. Its parent,
waiting on it, sees it killed by that signal, as a shell's loop must to
stop on Ctrl-C.

Usage: python3 -m tests.terminal.signals_test PATH-TO-BLOCKFALL"""

import os
import signal
import sys
import unittest

from tests.terminal.harness import PtyTerminal, Session, alive, run_suite, well_whole

BINARY = None

ENDING = ("SIGUSR1", "SIGUSR2", "SIGALRM", "SIGVTALRM", "SIGPROF", "SIGPIPE", "SIGXCPU",
          "SIGXFSZ", "SIGPOLL", "SIGPWR", "SIGSTKFLT", "SIGRTMIN", "SIGRTMAX")
CRASH = ("SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL", "SIGABRT", "SIGTRAP", "SIGSYS")
SENT_BY_A_TERMINAL = ("SIGINT", "SIGTERM", "SIGQUIT", "SIGHUP")


class Signals(unittest.TestCase):
    def test_each_signal_during_play(self):
        for name in ENDING + CRASH:
            sig = getattr(signal, name, None)
            if sig is None:  # not on this system
                continue
            with self.subTest(signal=name):
                # No core files from the crash signals.
                s = Session(f"ulimit -c 0; {BINARY}")
                try:
                    self.end_by(s, sig)
                finally:
                    s.close()

    def test_each_signal_kills_the_game_as_its_parent_sees_it(self):
        # Killed by the signal, not an exit with 128+n: a shell's loop stops
        # only when its game dies by SIGINT, and bash says "Terminated".
        for name in SENT_BY_A_TERMINAL + ENDING + CRASH:
            sig = getattr(signal, name, None)
            if sig is None:
                continue
            with self.subTest(signal=name):
                t = PtyTerminal(BINARY, False, argv=["sh", "-c", f"ulimit -c 0; exec {BINARY}"])
                try:
                    t.wait(lambda: well_whole(t.screen.display), 5)
                    os.kill(t.pid, sig)
                    self.assertEqual(t.exit_status(3), -sig)
                finally:
                    t.close()

    def test_ctrl_c_ends_a_shell_loop_of_games(self):
        s = Session("bash --norc --noprofile -i")
        self.addCleanup(s.close)
        d = s.dir
        s.keys(f"stty -g > {d}/before-loop; for i in 1 2 3; do echo $i >> {d}/started; "
               f"{BINARY}; done", "Enter")
        s.wait_for(well_whole, 5)
        s.keys("C-c")
        s.wait_for(lambda screen: not well_whole(screen), 3)
        # Typed for the shell: a second game would take it as keys instead.
        s.keys(f"stty -g > {d}/after-loop", "Enter")
        self.assertEqual(s.read("after-loop"), s.read("before-loop"))
        self.assertEqual(s.read("started"), "1\n")
        self.assertTrue(s.restored())

    def end_by(self, s, sig):
        s.wait_for(well_whole, 5)
        pid = s.game_pid()
        os.kill(pid, sig)
        self.assertEqual(s.status(3), 128 + sig)
        self.assertTrue(s.stty_unchanged())
        self.assertTrue(s.restored())
        self.assertFalse(alive(pid))

    def test_a_signal_ignored_when_started_stays_ignored(self):
        # As under nohup: a hangup is not to end this game.
        s = Session(f"trap '' HUP; {BINARY}")
        self.addCleanup(s.close)
        s.wait_for(well_whole, 5)
        os.kill(s.game_pid(), signal.SIGHUP)
        self.assertIsNone(s.status(0.5))
        self.assertEqual(s.leave(), 0)


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "signals suite")
