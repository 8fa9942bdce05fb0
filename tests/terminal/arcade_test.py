#!/usr/bin/env python3
"""The arcade: packaging/arcade/serve on a free loopback port, played through
the real ssh client in tmux, what its account is refused, and two arcades
behind HAProxy (packaging/arcade/balance). Root only.

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
ARCADE = os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "arcade")
SERVE = os.path.join(ARCADE, "serve")
CLIENT = ("-F", "/dev/null", "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
          "-o", "LogLevel=ERROR", "-o", "BatchMode=yes", "-o", "SendEnv=LANG LC_*")


def games(name="blockfall|seat"):
    """The arcades' games and their idle watchers."""
    found = subprocess.run(["pgrep", "-u", "play", "-x", name], capture_output=True,
                           text=True).stdout.split()
    return {int(p) for p in found}


def as_user(user, *command, **options):
    """command run as user (root's groups dropped), its output and status."""
    group = subprocess.run(["id", "-gn", user], capture_output=True, text=True).stdout.strip()
    return subprocess.run(["setpriv", f"--reuid={user}", f"--regid={group}", "--clear-groups",
                           *command], capture_output=True, text=True, timeout=30, **options)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Arcade:
    """serve, running on its own port and state folder until close()."""

    def __init__(self, cleanup, players, idle, listen="127.0.0.1", port=None, options=()):
        self.dir = tempfile.mkdtemp(prefix="blockfall-arcade-")
        os.chmod(self.dir, 0o755)  # the account reaches its shell through it
        self.state = os.path.join(self.dir, "state")
        self.port, self.listen = port or free_port(), listen
        self.log = open(os.path.join(self.dir, "log"), "w")
        self.server = subprocess.Popen(
            [SERVE, "--port", str(self.port), "--listen", listen, "--players", str(players),
             "--idle", str(idle), "--state", self.state, "--game", GAME, *options],
            stdout=self.log, stderr=subprocess.STDOUT)
        cleanup(self.close)
        assert poll(lambda: "Server listening" in self.read_log() or self.server.poll() is not None,
                    60, 0.1), "serve did not start"
        assert self.server.poll() is None, self.read_log()

    def read_log(self):
        with open(os.path.join(self.dir, "log")) as f:
            return f.read()

    def command(self, *args, program="ssh", port=None):
        return [program, *CLIENT, "-P" if program == "sftp" else "-p", str(port or self.port),
                *args]

    def games(self):
        """The games of this arcade alone."""
        parent = {}
        for entry in os.listdir("/proc"):
            try:
                with open(f"/proc/{entry}/stat") as f:
                    parent[int(entry)] = int(f.read().rsplit(")", 1)[1].split()[1])
            except (OSError, ValueError):
                pass

        def ours(pid):
            while pid > 1 and pid != self.server.pid:
                pid = parent.get(pid, 0)
            return pid == self.server.pid
        return {p for p in games("blockfall") if ours(p)}

    def play(self, test, source="127.0.0.1", port=None, host=None):
        """A game in tmux, from the source address given, once its whole
        well shows."""
        return start_game(self.command("-tt", "-b", source, f"play@{host or self.listen}",
                                       port=port), test, timeout=15)

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
    ("a connection that opens no session", ("-N", "play@127.0.0.1"), "", "closed by remote host"),
    ("a second game from one address", ("-tt", "-b", "127.0.0.5", "play@127.0.0.1"), "",
     "the most games it takes from one address (1)"),
)

# What another local user, or the account itself outside the arcade's
# server, must be refused: (what, user, command line with {state}, {seat}
# and {game} filled in, what its output shows).
LOCAL = (
    ("su to the account", "nobody", ("su", "play", "-c", "id"), "Authentication failure"),
    ("a seat locked by another user", "nobody", ("flock", "-n", "{state}/seats/1", "true"),
     "Permission denied"),
    ("the seat started with a hostile environment", "play",
     ("env", "-i", "BASH_ENV={bait}/run", "PATH={bait}:/usr/bin:/bin", "POSIXLY_CORRECT=1",
      "BASH_FUNC_flock%%=() {{ touch {bait}/ran; }}", "{seat}", "-c", "{state}"),
     "needs a terminal"),
    ("a game's memory map read by the account", "play", ("cat", "/proc/{game}/maps"),
     "Permission denied"),
    ("a game traced by the account", "play",
     ("/usr/bin/python3", "-c", "import ctypes, os; c = ctypes.CDLL(None, use_errno=True); "
      "print(c.ptrace(16, {game}, 0, 0) or 'traced', os.strerror(ctypes.get_errno()))"),
     "Operation not permitted"),
)


class Served(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.arcade = Arcade(cls.addClassCleanup, players=2, idle=600,
                            options=("--per-address", "1"))

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
        self.arcade.play(self, source="127.0.0.5")
        for what, args, given, shown in REFUSED:
            with self.subTest(what):
                sftp = what == "sftp"
                command = self.arcade.command(*args, program="sftp" if sftp else "ssh")
                done = subprocess.run(command, input=given, capture_output=True, text=True,
                                      timeout=30, env=dict(os.environ, TERM="bogus-term"))
                out = done.stdout + done.stderr
                self.assertNotEqual(done.returncode, 0, out)
                self.assertIn(shown, out)
                self.assertNotIn("uid=", out)
                self.assertNotIn("arcade-42", out)

    def test_refused_to_local_users(self):
        self.arcade.play(self, source="127.0.0.4")
        game = max(self.arcade.games())
        bait = tempfile.mkdtemp(prefix="blockfall-bait-")
        self.addCleanup(shutil.rmtree, bait)
        os.chmod(bait, 0o777)
        for name in ("run", "flock"):
            with open(os.path.join(bait, name), "w") as f:
                f.write(f"#!/bin/sh\ntouch {bait}/ran\n")
            os.chmod(os.path.join(bait, name), 0o755)
        seat = subprocess.run(["getent", "passwd", "play"], capture_output=True,
                              text=True).stdout.strip().split(":")[-1]
        for what, user, command, shown in LOCAL:
            with self.subTest(what):
                done = as_user(user, *(word.format(state=self.arcade.state, seat=seat, game=game,
                                                   bait=bait) for word in command),
                               stdin=subprocess.DEVNULL)
                self.assertIn(shown, done.stdout + done.stderr)
                self.assertNotIn("uid=", done.stdout)
                self.assertNotIn("traced", done.stdout)
                self.assertFalse(os.path.exists(os.path.join(bait, "ran")))

    def test_second_start_changes_nothing(self):
        conf = os.path.join(self.arcade.state, "arcade.conf")
        with open(conf) as f:
            before = f.read()
        done = subprocess.run([SERVE, "--port", str(free_port()), "--idle", "5", "--state",
                               self.arcade.state, "--game", GAME], capture_output=True, text=True,
                              timeout=60)
        self.assertEqual(done.returncode, 1)
        self.assertIn("already running", done.stderr)
        with open(conf) as f:
            self.assertEqual(f.read(), before)

    def test_full_then_a_seat_frees(self):
        held = [self.arcade.play(self, source=a) for a in ("127.0.0.1", "127.0.0.2")]
        full = subprocess.run(self.arcade.command("-tt", "-b", "127.0.0.3", "play@127.0.0.1"),
                              capture_output=True, text=True, timeout=30, stdin=subprocess.DEVNULL)
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


# A state folder that someone other than root could change: (what, how the
# folder is made under a root-owned one, what serve's one line says).
def link(path, to):
    os.symlink(to, path)
    return path


PLANTED = (
    ("a folder of another user's", lambda d: os.chown(mkdir(d, "state"), 65534, 65534),
     "belongs to uid 65534"),
    ("a folder above it of another user's",
     lambda d: (os.chown(mkdir(d, "above"), 65534, 65534), mkdir(d, "above/state")),
     "the folder above it"),
    ("a link for a file serve writes", lambda d: link(mkdir(d, "state") + "/arcade.conf", d + "/victim"),
     "is a symbolic link"),
    ("a link for the seats", lambda d: link(mkdir(d, "state") + "/seats", d + "/shut"),
     "is a symbolic link"),
    ("a folder itself a link", lambda d: link(d + "/state", d + "/shut"), "is a symbolic link"),
    ("a folder in it others may write", lambda d: os.chmod(mkdir(d, "state/seats"), 0o777),
     "may be written by group or others"),
)


def mkdir(top, path):
    os.makedirs(os.path.join(top, path), mode=0o755)
    return os.path.join(top, path)


class Limits(unittest.TestCase):
    def test_planted_state_refused(self):
        for what, plant, shown in PLANTED:
            with self.subTest(what):
                top = tempfile.mkdtemp(prefix="blockfall-planted-")
                self.addCleanup(shutil.rmtree, top)
                os.chmod(top, 0o755)
                os.close(os.open(top + "/victim", os.O_CREAT | os.O_WRONLY, 0o600))
                os.mkdir(top + "/shut", 0o700)
                plant(top)
                state = os.path.join(top, "above/state" if "above" in what else "state")
                done = subprocess.run([SERVE, "--setup", "--players", "1", "--state", state],
                                      capture_output=True, text=True, timeout=60)
                self.assertEqual((done.returncode, len(done.stderr.splitlines())), (1, 1),
                                 done.stderr)
                self.assertIn(shown, done.stderr)
                self.assertEqual(os.stat(top + "/victim").st_size, 0)
                self.assertEqual(os.listdir(top + "/shut"), [])
                self.assertEqual([oct(os.stat(top + n).st_mode & 0o777) for n in ("/victim", "/shut")],
                                 ["0o600", "0o700"])

    def test_idle_player_let_go(self):
        arcade = Arcade(self.addCleanup, players=1, idle=1)
        # The next row's game shows that the row before freed the one seat.
        for what, keys in (("silence", ()), ("an XOFF, then silence", ("C-s",))):
            with self.subTest(what):
                s = arcade.play(self)
                game = max(arcade.games())
                s.keys(*keys)
                began = time.monotonic()
                # The limit, the terminal's 8-second blocks and the game's
                # second to give the terminal back.
                self.assertTrue(poll(lambda: not alive(game), 1 + 8 + 1 + 3), "the seat is held")
                self.assertGreaterEqual(time.monotonic() - began, 1)
                if not keys:
                    s.wait_for(lambda sc: not well_whole(sc), 5)
                    self.assertIsNotNone(s.status())
                    self.assertTrue(s.stty_unchanged() and s.restored())
        arcade.play(self)

    def test_stopped_arcade_gives_terminals_back(self):
        arcade = Arcade(self.addCleanup, players=2, idle=600)
        sessions = [arcade.play(self) for _ in range(2)]
        arcade.server.send_signal(signal.SIGINT)
        self.assertEqual(arcade.server.wait(30), 0)
        for s in sessions:
            self.assertTrue(s.stty_unchanged() and s.restored())
        self.assertEqual(games(), set())


class Balanced(unittest.TestCase):
    """Two arcades of one seat each, on 127.0.0.2 and 127.0.0.3, with the same
    host keys, behind HAProxy on 127.0.0.1."""

    def test_two_hosts_behind_haproxy(self):
        keys = tempfile.mkdtemp(prefix="blockfall-keys-")
        self.addCleanup(shutil.rmtree, keys)
        port, front = free_port(), free_port()
        hosts = [Arcade(self.addCleanup, players=1, idle=600, listen=address, port=port,
                        options=("--per-address", "0", "--keys", keys))
                 for address in ("127.0.0.2", "127.0.0.3")]
        config = os.path.join(hosts[0].dir, "haproxy.cfg")
        with open(config, "w") as f:
            subprocess.run([os.path.join(ARCADE, "balance"), "--listen", f"127.0.0.1:{front}",
                            "--admin", os.path.join(hosts[0].dir, "admin.sock"),
                            *(f"{h.listen}:{port}:1" for h in hosts)], stdout=f, check=True)
        with open(os.path.join(hosts[0].dir, "haproxy.log"), "w") as log:
            balancer = subprocess.Popen(["haproxy", "-db", "-f", config], stdout=log, stderr=log)
        self.addCleanup(balancer.wait, 10)
        self.addCleanup(balancer.terminate)
        self.assertTrue(poll(lambda: subprocess.run(["ss", "-Hltn", f"sport = :{front}"],
                                                    capture_output=True, text=True).stdout, 10))
        scans = [subprocess.run(["ssh-keyscan", "-p", str(port), "-t", "ed25519", h.listen],
                                capture_output=True, text=True).stdout.split()[1:] for h in hosts]
        self.assertEqual(scans[0], scans[1])
        for _ in hosts:
            hosts[0].play(self, port=front, host="127.0.0.1")
        self.assertEqual([len(h.games()) for h in hosts], [1, 1])
        full = subprocess.run(hosts[0].command("-tt", "play@127.0.0.1", port=front),
                              capture_output=True, text=True, timeout=30, stdin=subprocess.DEVNULL)
        self.assertIn("The blockfall arcade is full", full.stdout)


def ready():
    # sshd runs the game itself, with no emulator before it.
    return (not EMULATOR and os.geteuid() == 0 and have_tmux() and shutil.which("ssh") is not None
            and os.access("/usr/sbin/sshd", os.X_OK) and shutil.which("haproxy") is not None)


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "the arcade", ("GAME",), needs=ready,
              missing="not root, or sshd, ssh, haproxy or tmux is missing")
