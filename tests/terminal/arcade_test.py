#!/usr/bin/env python3
"""The arcade: packaging/arcade/serve on a free loopback port, played through
the real ssh client in tmux, and what its account is refused. Root only.

Usage: python3 -m tests.terminal.arcade_test PATH-TO-BLOCKFALL"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from tests.terminal.harness import (EMULATOR, alive, have_tmux, piece_in_well, poll, run_suite,
                                    shape, start_game, well_cells, well_whole)

GAME = None
SERVE = os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "arcade", "serve")
CLIENT = ("-F", "/dev/null", "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
          "-o", "LogLevel=ERROR", "-o", "BatchMode=yes", "-o", "SendEnv=LANG LC_*")


def games():
    """The arcade's games and their idle watchers."""
    found = subprocess.run(["pgrep", "-u", "play", "-x", "blockfall|seat"], capture_output=True,
                           text=True).stdout.split()
    return {int(p) for p in found}


class Arcade:
    """serve, running on its own port and state folder until close()."""

    def __init__(self, cleanup, players, idle):
        self.dir = tempfile.mkdtemp(prefix="blockfall-arcade-")
        os.chmod(self.dir, 0o755)  # the account reaches its shell through it
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.log = open(os.path.join(self.dir, "log"), "w")
        self.server = subprocess.Popen(
            [SERVE, "--port", str(self.port), "--players", str(players), "--idle", str(idle),
             "--state", os.path.join(self.dir, "state"), "--game", GAME],
            stdout=self.log, stderr=subprocess.STDOUT)
        cleanup(self.close)
        assert poll(lambda: "Server listening" in self.read_log() or self.server.poll() is not None,
                    60, 0.1), "serve did not start"
        assert self.server.poll() is None, self.read_log()

    def read_log(self):
        with open(os.path.join(self.dir, "log")) as f:
            return f.read()

    def command(self, *args, program="ssh", port="-p"):
        return [program, *CLIENT, port, str(self.port), *args]

    def play(self, test):
        """A game in tmux, once its whole well shows."""
        return start_game(self.command("-tt", "play@127.0.0.1"), test, timeout=15)

    def close(self):
        if self.server.poll() is None:
            self.server.send_signal(signal.SIGTERM)
            self.server.wait(30)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


# What the account, or the server, must refuse: (what, command line, its
# standard input, what its output shows). Nothing may ever run a command:
# neither id's "uid=" nor the shell's sum may show.
REFUSED = (
    ("a command", ("play@127.0.0.1", "id"), "", "needs a terminal"),
    ("a shell", ("-T", "play@127.0.0.1"), "echo arcade-$((6*7))\nid\n", "needs a terminal"),
    ("a command on an unknown terminal", ("-tt", "play@127.0.0.1", "echo arcade-$((6*7)); id"),
     "", "'bogus-term' is not known here"),
    ("sftp", ("-b", "-", "play@127.0.0.1"), "ls /\n", "subsystem request failed"),
    ("a local forward", ("-W", "127.0.0.1:22", "play@127.0.0.1"), "", "stdio forwarding failed"),
    ("a remote forward", ("-N", "-o", "ExitOnForwardFailure=yes", "-R", "0:127.0.0.1:22",
                          "play@127.0.0.1"), "", "remote port forwarding failed"),
    ("root", ("root@127.0.0.1", "id"), "", "Permission denied"),
    ("another account", ("nobody@127.0.0.1", "id"), "", "Permission denied"),
)


class Served(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.arcade = Arcade(cls.addClassCleanup, players=2, idle=600)

    def test_a_game_played_through_ssh(self):
        s = self.arcade.play(self)
        first = s.wait_for(piece_in_well, 10)
        form, (top, left) = shape(well_cells(first))
        s.keys("Left")
        moved = s.wait_for(lambda sc: piece_in_well(sc) and shape(well_cells(sc))[1][1] != left, 3)
        self.assertEqual(shape(well_cells(moved))[1][1], left - 1)
        self.assertEqual(s.leave(), 0)
        self.assertTrue(s.stty_unchanged() and s.restored())

    def test_refused(self):
        for what, args, given, shown in REFUSED:
            with self.subTest(what):
                sftp = what == "sftp"
                command = self.arcade.command(*args, program="sftp" if sftp else "ssh",
                                              port="-P" if sftp else "-p")
                done = subprocess.run(command, input=given, capture_output=True, text=True,
                                      timeout=30, env=dict(os.environ, TERM="bogus-term"))
                out = done.stdout + done.stderr
                self.assertNotEqual(done.returncode, 0, out)
                self.assertIn(shown, out)
                self.assertNotIn("uid=", out)
                self.assertNotIn("arcade-42", out)

    def test_full_then_a_seat_frees(self):
        held = [self.arcade.play(self) for _ in range(2)]
        full = subprocess.run(self.arcade.command("-tt", "play@127.0.0.1"), capture_output=True,
                              text=True, timeout=30, stdin=subprocess.DEVNULL)
        self.assertEqual(full.returncode, 1)
        self.assertIn("The blockfall arcade is full: all 2 seats are taken. Please try again",
                      full.stdout)
        self.assertEqual(held[0].leave(), 0)
        self.arcade.play(None).close()

    def test_killed_client_leaves_no_game(self):
        before = games()
        s = self.arcade.play(self)
        self.assertTrue(poll(lambda: len(games() - before) == 2, 5), "no game and its watcher")
        played = games() - before
        os.kill(s.game_pid("ssh"), signal.SIGKILL)
        self.assertTrue(poll(lambda: not any(alive(p) for p in played), 10), "the game outlived it")


class Limits(unittest.TestCase):
    def test_idle_player_let_go(self):
        s = Arcade(self.addCleanup, players=1, idle=1).play(self)
        began = time.monotonic()
        s.wait_for(lambda sc: not well_whole(sc), 20)
        self.assertGreaterEqual(time.monotonic() - began, 1)
        self.assertIsNotNone(s.status())
        self.assertTrue(s.stty_unchanged() and s.restored())

    def test_stopped_arcade_gives_terminals_back(self):
        arcade = Arcade(self.addCleanup, players=2, idle=600)
        sessions = [arcade.play(self) for _ in range(2)]
        arcade.server.send_signal(signal.SIGINT)
        self.assertEqual(arcade.server.wait(30), 0)
        for s in sessions:
            self.assertTrue(s.stty_unchanged() and s.restored())
        self.assertEqual(games(), set())


def ready():
    # sshd runs the game itself, with no emulator before it.
    return (not EMULATOR and os.geteuid() == 0 and have_tmux() and shutil.which("ssh") is not None
            and os.access("/usr/sbin/sshd", os.X_OK))


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "the arcade", ("GAME",), needs=ready,
              missing="not root, or sshd, ssh or tmux is missing (packaging/deps arcade test)")
