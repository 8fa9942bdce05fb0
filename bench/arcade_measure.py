#!/usr/bin/env python3
"""Measures the arcade under a crowd: for 25, 50 and 100 players at once,
each a real ssh client on its own pty (and its own loopback address, as
players on the internet have theirs) connected to packaging/arcade/serve
on a loopback port, it reports every game's frame rate after 12 s of play,
the CPU and memory the arcade takes per player (sshd's two processes, the
game and its idle watcher; the clients apart), and the time from starting
ssh to the whole well on the player's screen. Prints a Markdown table.

Usage, as root from the top of the source tree:
    python3 -m bench.arcade_measure PATH-TO-BLOCKFALL [COUNT ...] [--seconds S]
        [--hosts N] [--flood N]

--hosts N: N arcades on 127.0.0.2 and on, behind HAProxy on 127.0.0.1
(packaging/arcade/balance), HAProxy's own CPU and memory counted in.
--flood N: while the crowd plays, one address (127.0.0.9) opens N `ssh -N`
connections and N TCP connections that never say a word, all at once; the
table says how many of each were still open 5 s into the crowd's play.

Needs sshd, ssh, python3-pyte (and haproxy for --hosts). Every connection
goes to 127.0.0.0/8 only, and every loop is bounded in count and time. The
clients run on the same machine, so their own CPU is counted apart and
reported too. Takes about a minute a count."""

import os
import select
import shlex
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

from tests.terminal.harness import RATE_ROW, WALL, WELL_WIDTH, PtyTerminal, leading_number

SERVE = os.path.join(os.path.dirname(__file__), "..", "packaging", "arcade", "serve")
CLIENT = ["ssh", "-F", "/dev/null", "-o", "StrictHostKeyChecking=no",
          "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR", "-o", "BatchMode=yes",
          "-o", "SendEnv=LANG LC_*", "-tt"]
FLOOR = (WALL * WELL_WIDTH).encode("utf-8")
TICKS = os.sysconf("SC_CLK_TCK")
# sshd lets this many connections log in at once before it starts turning
# some away, and a burst of a hundred key exchanges would take the two
# cores from the games already playing: players arrive as a steady stream.
ARRIVALS_PER_SECOND = 20
# Players who join one at a time once the crowd plays: the time a player
# waits, with the key exchanges of a crowd's arrival out of the way.
JOINS = 5


def processes():
    """{pid: (parent, name, user and system seconds)} of every process."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                head, tail = f.read().rsplit(")", 1)
        except OSError:
            continue
        fields = tail.split()
        found[int(entry)] = (int(fields[1]), head.split("(", 1)[1],
                             (int(fields[11]) + int(fields[12])) / TICKS)
    return found


def under(root, table):
    """The pids below root in the process table."""
    kept, grown = {root}, True
    while grown:
        grown = False
        for pid, (parent, _, _) in table.items():
            if parent in kept and pid not in kept:
                kept.add(pid)
                grown = True
    return kept - {root}


def proportional_kib(pid):
    """The process's proportional set size: its private memory and its share
    of what it shares, so that a hundred copies of sshd add up right."""
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def kind(name):
    return ("game" if name == "blockfall" else "watcher" if name == "seat"
            else "haproxy" if name == "haproxy" else "sshd")


def source(i):
    """The ith player's own loopback address: 127.0.1.1 and on."""
    return f"127.0.{1 + i // 250}.{1 + i % 250}"


def start_arcades(top, binary, hosts, seats):
    """serve on a free port: once on 127.0.0.1, or on 127.0.0.2 and on behind
    HAProxy on 127.0.0.1. Returns (the players' port, the servers, the root
    processes to count, a list to close)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    addresses = ["127.0.0.1"] if not hosts else [f"127.0.0.{2 + i}" for i in range(hosts)]
    keys = os.path.join(top, "keys")
    os.mkdir(keys, 0o700)
    servers, logs = [], []
    for i, address in enumerate(addresses):
        log = os.path.join(top, f"log{i}")
        logs.append(log)
        with open(log, "w") as f:
            servers.append(subprocess.Popen(
                [SERVE, "--port", str(port), "--listen", address, "--players", str(seats),
                 "--state", os.path.join(top, f"state{i}"), "--keys", keys, "--game", binary,
                 *(["--per-address", "0"] if hosts else [])],
                stdout=f, stderr=subprocess.STDOUT))
        # The first makes the keys the others take.
        deadline = time.monotonic() + 60
        while "Server listening" not in open(log).read():
            if time.monotonic() > deadline or servers[-1].poll() is not None:
                raise RuntimeError("serve did not start: " + open(log).read())
            time.sleep(0.1)
    roots = [next(pid for pid, (parent, _, _) in processes().items() if parent == s.pid)
             for s in servers]
    if not hosts:
        return port, servers, roots
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        front = s.getsockname()[1]
    config = os.path.join(top, "haproxy.cfg")
    with open(config, "w") as f:
        subprocess.run([os.path.join(os.path.dirname(SERVE), "balance"), "--listen",
                        f"127.0.0.1:{front}", "--admin", os.path.join(top, "admin.sock"),
                        "--per-address", "8",
                        *(f"{a}:{port}:{seats}" for a in addresses)], stdout=f, check=True)
    balancer = subprocess.Popen(["haproxy", "-db", "-f", config], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    time.sleep(2)
    servers.append(balancer)
    return front, servers, roots + [balancer.pid]


def flood(count, port):
    """count `ssh -N` clients and count silent sockets, all from 127.0.0.9."""
    quiet = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.9", 0))
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        quiet.append(s)
    tunnels = [subprocess.Popen(CLIENT[:-1] + ["-N", "-b", "127.0.0.9", "-p", str(port),
                                               "play@127.0.0.1"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL) for _ in range(count)]
    return quiet, tunnels


def still_open(quiet, tunnels):
    """How many of the flood's connections the server still holds open."""
    held = 0
    for s in quiet:
        try:
            for _ in range(16):  # sshd's greeting, then nothing or the end
                if not s.recv(4096, socket.MSG_DONTWAIT):
                    break
        except BlockingIOError:
            held += 1
        except OSError:
            pass
    return held, sum(1 for t in tunnels if t.poll() is None)


def crowd(binary, players, seconds, hosts=0, flooding=0):
    state = tempfile.mkdtemp(prefix="blockfall-arcade-bench-")
    os.chmod(state, 0o755)
    seats = (players + JOINS + max(hosts, 1) - 1) // max(hosts, 1) + (JOINS if hosts else 0)
    clients, servers, quiet, tunnels = [], [], [], []
    try:
        port, servers, roots = start_arcades(state, binary, hosts, seats)
        argv_at = lambda i: CLIENT + ["-b", source(i), "-p", str(port), "play@127.0.0.1"]
        began, whole = {}, {}

        def pump(until):
            while True:
                left = until - time.monotonic()
                if left <= 0:
                    return
                ready, _, _ = select.select([c.fd for c in clients], [], [], left)
                for c in clients:
                    if c.fd not in ready:
                        continue
                    try:
                        data = os.read(c.fd, 65536)
                    except OSError:
                        data = b""
                    c.raw += data
                    c.stream.feed(data)
                    c._answer()
                    if c not in whole and FLOOR in c.raw:
                        whole[c] = (time.monotonic() - began[c]) * 1000

        for i in range(players):
            c = PtyTerminal(None, False, argv=argv_at(i))
            began[c] = time.monotonic()
            clients.append(c)
            pump(time.monotonic() + 1 / ARRIVALS_PER_SECOND)
        last_arrived = time.monotonic()
        if flooding:
            quiet, tunnels = flood(flooding, port)
        pump(last_arrived + 4)  # every game past its first seconds
        before, ours_before = processes(), os.times()
        window_began = time.monotonic()
        pump(last_arrived + 5)
        flooded = still_open(quiet, tunnels)
        pump(last_arrived + seconds)
        after, ours_after = processes(), os.times()
        window = time.monotonic() - window_began
        rates = [leading_number(c.screen.display[RATE_ROW]) for c in clients]
        crowd_clients = list(clients)
        joined = []
        for j in range(JOINS):
            c = PtyTerminal(None, False, argv=argv_at(players + j))
            began[c] = time.monotonic()
            clients.append(c)
            deadline = time.monotonic() + 10
            while c not in whole and time.monotonic() < deadline:
                pump(time.monotonic() + 0.01)
            joined.append(whole.get(c, float("inf")))
            c.close()
            clients.remove(c)
        arcade = set(roots[len(roots) - (1 if hosts else 0):])
        for root in roots:
            arcade |= under(root, after)
        cpu, memory = {}, {}
        for pid in arcade:
            parent, name, spent = after[pid]
            k = kind(name)
            was = before.get(pid)
            cpu[k] = cpu.get(k, 0) + spent - (was[2] if was and was[1] == name else 0)
            memory[k] = memory.get(k, 0) + proportional_kib(pid)
        client_cpu = sum(after[c.pid][2] - before[c.pid][2] for c in clients
                         if c.pid in after and c.pid in before)
        client_cpu += (ours_after.user + ours_after.system) - (ours_before.user + ours_before.system)
        return {
            "players": players,
            "games": sum(1 for pid in arcade if after[pid][1] == "blockfall"),
            "rates": rates,
            "wells": sorted(whole[c] for c in crowd_clients if c in whole),
            "joins": sorted(joined),
            "cpu": {k: v / window / players * 100 for k, v in cpu.items()},
            "memory": {k: v / players for k, v in memory.items()},
            "clients": client_cpu / window / players * 100,
            "flooded": flooded,
        }
    finally:
        for c in clients:
            c.close()
        for s in quiet:
            s.close()
        for t in tunnels:
            t.kill()
            t.wait()
        for server in servers:
            server.send_signal(signal.SIGTERM)
            server.wait(60)
        subprocess.run(["rm", "-rf", state])


def option(args, name, default):
    if name not in args:
        return default
    i = args.index(name)
    value = float(args[i + 1])
    del args[i:i + 2]
    return value


def main():
    args = sys.argv[1:]
    if not args:
        sys.exit(__doc__)
    binary = os.path.abspath(args.pop(0))
    seconds = option(args, "--seconds", 12)
    hosts = int(option(args, "--hosts", 0))
    flooding = int(option(args, "--flood", 0))
    counts = [int(a) for a in args] or [25, 50, 100]
    with open("/proc/loadavg") as f:
        load = f.read().split()[:3]
    print(f"Load average before: {' '.join(load)}; {os.cpu_count()} cores; "
          f"{shlex.join(sys.argv)}\n")
    print("| Players | Arcades | Games running | Frame rates after %g s (min / median / max; at 10 "
          "or more) | CPU per player, %% of a core (sshd + game + watcher + HAProxy) "
          "| Memory per player, PSS KiB (sshd + game + watcher + HAProxy) "
          "| ssh to the whole well, ms: arriving at %d a second (median / max); one at a time "
          "with the crowd playing (median of %d) | Clients' own CPU per player "
          "| Flood from one address still open after 5 s: silent sockets, ssh -N |"
          % (seconds, ARRIVALS_PER_SECOND, JOINS))
    print("|---|---|---|---|---|---|---|---|---|")
    for players in counts:
        r = crowd(binary, players, seconds, hosts, flooding)
        rates = [x if x is not None else 0 for x in r["rates"]]
        cpu, mem, wells = r["cpu"], r["memory"], r["wells"]
        parts = ("sshd", "game", "watcher", "haproxy")
        print("| %d | %s | %d | %d / %g / %d; %d of %d | %.2f (%s) | %d (%s) | %s; %.0f | %.2f | %s |"
              % (players, f"{hosts} behind HAProxy" if hosts else "1", r["games"], min(rates),
                 statistics.median(rates), max(rates), sum(1 for x in rates if x >= 10), players,
                 sum(cpu.values()), " + ".join("%.3f" % cpu.get(k, 0) for k in parts),
                 sum(mem.values()), " + ".join("%d" % mem.get(k, 0) for k in parts),
                 "%.0f / %.0f (%d wells)" % (statistics.median(wells), max(wells), len(wells))
                 if wells else "none", statistics.median(r["joins"]), r["clients"],
                 "%d of %d, %d of %d" % (r["flooded"][0], flooding, r["flooded"][1], flooding)
                 if flooding else "-"))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
