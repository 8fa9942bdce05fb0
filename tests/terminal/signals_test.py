#!/usr/bin/env python3
"""Every signal whose default action ends the process ends the game as that
signal would (status 128+n) with the terminal given back: its modes as
found, the cursor shown, the alternate screen left. The crash signals too,
from their own handler. Its parent, waiting on it, sees it killed by that
signal, as a shell's loop must to stop on Ctrl-C.

Usage: python3 -m tests.terminal.signals_test PATH-TO-BLOCKFALL"""

import os
import shlex
import signal
import sys
import unittest

from tests.terminal.harness import (EMULATOR, Session, alive, run_suite, start_game, start_on_pty,
                                    well_whole)

BINARY = None

# Every signal that ends the game: those a terminal sends, the others whose
# default action ends a process, and the crash signals, handled on the spot.
ENDING = ("SIGINT", "SIGTERM", "SIGQUIT", "SIGHUP",
          "SIGUSR1", "SIGUSR2", "SIGALRM", "SIGVTALRM", "SIGPROF", "SIGPIPE", "SIGXCPU",
          "SIGXFSZ", "SIGPOLL", "SIGPWR", "SIGSTKFLT", "SIGRTMIN", "SIGRTMAX",
          "SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL", "SIGABRT", "SIGTRAP", "SIGSYS")


def on_this_system():
    """(name, number) of each ending signal this system has. Under qemu the
    host's first real-time signal is the emulator's own and never reaches
    the game."""
    return [(name, getattr(signal, name)) for name in ENDING
            if hasattr(signal, name) and not (EMULATOR and name == "SIGRTMIN")]


class Signals(unittest.TestCase):
    def test_each_signal_ends_the_game(self):
        # Sent during play; and more ways one comes: at the prompt, typed
        # (the terminal sends it), and while the game waits for a terminal
        # large enough.
        cases = [(name, sig, "play", None) for name, sig in on_this_system()]
        cases += [("SIGTERM at the prompt", signal.SIGTERM, "prompt", None),
                  ("Ctrl-C typed", signal.SIGINT, "play", "C-c"),
                  ("Ctrl-C typed, too small", signal.SIGINT, "small", "C-c")]
        for what, sig, where, typed in cases:
            # No core files from the crash signals.
            with self.subTest(what), start_game(BINARY, shell='ulimit -c 0; "$@"') as s:
                pid = s.game_pid()
                if where == "prompt":
                    s.to_prompt()
                elif where == "small":
                    s.resize(20, 15)
                    s.wait_for(lambda screen: "26x21" in screen[0], 1)
                if typed:
                    s.keys(typed)
                else:
                    os.kill(pid, sig)
                self.assertEqual(s.status(3), 128 + sig)
                self.assertTrue(s.stty_unchanged())
                self.assertTrue(s.restored())
                self.assertFalse(alive(pid))

    def test_each_signal_kills_the_game_as_its_parent_sees_it(self):
        # Killed by the signal, not an exit with 128+n: a shell's loop stops
        # only when its game dies by SIGINT, and bash says "Terminated".
        for name, sig in on_this_system():
            with self.subTest(signal=name):
                argv = ["sh", "-c", 'ulimit -c 0; exec "$@"', "sh", *BINARY]
                with start_on_pty(BINARY, argv=argv) as t:
                    os.kill(t.pid, sig)
                    self.assertEqual(t.exit_status(3), -sig)

    def test_ctrl_c_ends_a_shell_loop_of_games(self):
        s = Session(["bash", "--norc", "--noprofile", "-i"])
        self.addCleanup(s.close)
        d = shlex.quote(s.dir)
        s.keys(f"stty -g > {d}/before-loop; for i in 1 2 3; do echo $i >> {d}/started; "
               f"{shlex.join(BINARY)}; done", "Enter")
        s.wait_for(well_whole, 5)
        s.keys("C-c")
        s.wait_for(lambda screen: not well_whole(screen), 3)
        # Typed for the shell: a second game would take it as keys instead.
        s.keys(f"stty -g > {d}/after-loop", "Enter")
        self.assertEqual(s.read("after-loop"), s.read("before-loop"))
        self.assertEqual(s.read("started"), "1\n")
        self.assertTrue(s.restored())

    def test_a_signal_ignored_when_started_stays_ignored(self):
        # As under nohup: a hangup is not to end this game.
        s = start_game(BINARY, self, shell='trap "" HUP; "$@"')
        os.kill(s.game_pid(), signal.SIGHUP)
        self.assertIsNone(s.status(0.5))
        self.assertEqual(s.leave(), 0)


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "signals suite")
