#!/usr/bin/env python3
"""The arcade: packaging/arcade/serve on a free loopback port, played through
the real ssh client in tmux, what its account is refused, and two arcades
behind HAProxy (packaging/arcade/balance). Root only.

Usage: python3 -m tests.terminal.arcade_test PATH-TO-BLOCKFALL"""

import os
import pwd
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


def games():
    """The arcade's games and their idle watchers."""
    found = subprocess.run(["pgrep", "-u", "play", "-x", "blockfall|seat"], capture_output=True,
                           text=True).stdout.split()
    return {int(p) for p in found}


def as_user(user, *command, **options):
    """command run as user (root's groups dropped), its output and status."""
    return subprocess.run(["setpriv", f"--reuid={user}", f"--regid={pwd.getpwnam(user).pw_gid}",
                           "--clear-groups", *command], capture_output=True, text=True, timeout=30,
                          **options)


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
        """The games of this arcade alone: each runs its own copy."""
        def started_here(pid):
            try:
                return os.readlink(f"/proc/{pid}/exe").startswith(self.state)
            except OSError:  # gone meanwhile, or a watcher's
                return False
        return set(filter(started_here, games()))

    def play(self, test, source="127.0.0.1", port=None, host=None):
        """A game in tmux, from the source address given, once its well shows."""
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

# What another local user, the account itself outside the arcade's server,
# or a second start, must be refused: (what, user, command line with
# {state}, {seat}, {game}, {bait} and {serve} filled in, what it shows).
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
    ("a second start on the running arcade's folder", "root",
     ("{serve}", "--port", "1", "--idle", "5", "--state", "{state}", "--game", "{game_file}"),
     "already running"),
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

    def test_refused_on_the_host(self):
        self.arcade.play(self, source="127.0.0.4")
        game = max(self.arcade.games())
        bait = made(tempfile.mkdtemp(prefix="blockfall-bait-") + "/bait", mode=0o777)
        self.addCleanup(shutil.rmtree, os.path.dirname(bait))
        for name in ("run", "flock"):  # BASH_ENV's script, and a flock first on PATH
            with open(os.open(f"{bait}/{name}", os.O_CREAT | os.O_WRONLY, 0o755), "w") as f:
                f.write(f"#!/bin/sh\ntouch {bait}/ran\n")
        names = dict(state=self.arcade.state, seat=pwd.getpwnam("play").pw_shell, game=game,
                     bait=bait, serve=SERVE, game_file=GAME)
        for what, user, command, shown in LOCAL:
            with self.subTest(what):
                done = as_user(user, *(word.format(**names) for word in command),
                               stdin=subprocess.DEVNULL)
                self.assertIn(shown, done.stdout + done.stderr)
                self.assertFalse("uid=" in done.stdout or "traced" in done.stdout
                                 or os.path.exists(f"{bait}/ran"))
        with open(f"{self.arcade.state}/arcade.conf") as f:
            self.assertIn("idle=600\n", f.read())  # the second start changed nothing

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


# A state folder that someone other than root could change: (what, how it
# is made in a root-owned folder, what serve's one line says).
def made(path, owner=0, mode=0o755, link=None):
    """path made a folder (or a link to link), and returned."""
    if link:
        os.symlink(link, path)
    else:
        os.mkdir(path)
        os.chown(path, owner, owner)
        os.chmod(path, mode)
    return path


PLANTED = (
    ("a folder of another user's", lambda d: made(d + "/state", owner=65534),
     "belongs to uid 65534"),
    ("a folder above it of another user's",
     lambda d: made(made(d + "/above", owner=65534) + "/state"), "the folder above it"),
    ("a link for a file serve writes",
     lambda d: made(made(d + "/state") + "/arcade.conf", link=d + "/victim")[:-12],
     "is a symbolic link"),
    ("a link for the seats", lambda d: made(made(d + "/state") + "/seats", link=d + "/shut")[:-6],
     "is a symbolic link"),
    ("a folder itself a link", lambda d: made(d + "/state", link=d + "/shut"), "is a symbolic link"),
    ("a folder in it others may write",
     lambda d: made(made(d + "/state") + "/seats", mode=0o777)[:-6],
     "may be written by group or others"),
)


class Limits(unittest.TestCase):
    def test_planted_state_refused(self):
        for what, plant, shown in PLANTED:
            with self.subTest(what):
                top = tempfile.mkdtemp(prefix="blockfall-planted-")
                self.addCleanup(shutil.rmtree, top)
                os.chmod(top, 0o755)
                os.close(os.open(top + "/victim", os.O_CREAT | os.O_WRONLY, 0o600))
                made(top + "/shut", mode=0o700)
                done = subprocess.run([SERVE, "--setup", "--players", "1", "--state", plant(top)],
                                      capture_output=True, text=True, timeout=60)
                self.assertEqual((done.returncode, len(done.stderr.splitlines())), (1, 1),
                                 done.stderr)
                self.assertIn(shown, done.stderr)
                self.assertEqual((os.stat(top + "/victim").st_size, os.listdir(top + "/shut"),
                                  [os.stat(top + n).st_mode & 0o777 for n in ("/victim", "/shut")]),
                                 (0, [], [0o600, 0o700]))

    def test_idle_player_let_go(self):
        arcade = Arcade(self.addCleanup, players=1, idle=1)
        # The next row's game shows that the row before freed the one seat.
        for what, keys in (("silence", ()), ("an XOFF, then silence", ("C-s",))):
            with self.subTest(what):
                s = arcade.play(self)
                game = max(arcade.games())
                s.keys(*keys)
                began = time.monotonic()  # the limit, an 8-second block, a second's grace
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
        self.assertTrue(poll(lambda: not games(), 5), games())


@unittest.skipUnless(shutil.which("haproxy"), "haproxy is not installed")
class Balanced(unittest.TestCase):
    def test_two_hosts_behind_haproxy(self):
        """One seat each on 127.0.0.2 and 127.0.0.3, the same keys, HAProxy on 127.0.0.1."""
        keys = tempfile.mkdtemp(prefix="blockfall-keys-")
        self.addCleanup(shutil.rmtree, keys)
        port, front = free_port(), free_port()
        hosts = [Arcade(self.addCleanup, players=1, idle=600, listen=address, port=port,
                        options=("--per-address", "0", "--keys", keys))
                 for address in ("127.0.0.2", "127.0.0.3")]
        with open(hosts[0].dir + "/haproxy.cfg", "w") as f:
            subprocess.run([os.path.join(ARCADE, "balance"), "--listen", f"127.0.0.1:{front}",
                            "--admin", hosts[0].dir + "/admin.sock",
                            *(f"{h.listen}:{port}:1" for h in hosts)], stdout=f, check=True)
        balancer = subprocess.Popen(["haproxy", "-db", "-f", hosts[0].dir + "/haproxy.cfg"],
                                    stderr=subprocess.DEVNULL)
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
            and os.access("/usr/sbin/sshd", os.X_OK))


if __name__ == "__main__":
    run_suite(sys.modules[__name__], "the arcade", ("GAME",), needs=ready,
              missing="not root, or sshd, ssh or tmux is missing (packaging/deps arcade test)")
