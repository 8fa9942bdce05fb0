#!/usr/bin/env python3
"""Measures the arcade under a crowd: for 25, 50 and 100 players at once,
each a real ssh client on its own pty connected to packaging/arcade/serve
on a loopback port, it reports every game's frame rate after 12 s of play,
the CPU and memory the arcade takes per player (sshd's two processes, the
game and its idle watcher; the clients apart), and the time from starting
ssh to the whole well on the player's screen. Prints a Markdown table.

Usage, as root from the top of the source tree:
    python3 -m bench.arcade_measure PATH-TO-BLOCKFALL [COUNT ...] [--seconds S]

Needs sshd, ssh and python3-pyte. The clients run on the same machine, so
their own CPU is counted apart and reported too. Takes about a minute a
count."""

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
    return "game" if name == "blockfall" else "watcher" if name == "seat" else "sshd"


def crowd(binary, players, seconds):
    state = tempfile.mkdtemp(prefix="blockfall-arcade-bench-")
    os.chmod(state, 0o755)
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    log = open(os.path.join(state, "log"), "w")
    server = subprocess.Popen([SERVE, "--port", str(port), "--players", str(players + JOINS),
                               "--state",
                               os.path.join(state, "state"), "--game", binary],
                              stdout=log, stderr=subprocess.STDOUT)
    clients = []
    try:
        deadline = time.monotonic() + 60
        while "Server listening" not in open(os.path.join(state, "log")).read():
            if time.monotonic() > deadline or server.poll() is not None:
                raise RuntimeError("serve did not start")
            time.sleep(0.1)
        listener = next(pid for pid, (parent, _, _) in processes().items()
                        if parent == server.pid)
        argv = CLIENT + ["-p", str(port), "play@127.0.0.1"]
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

        for _ in range(players):
            c = PtyTerminal(None, False, argv=argv)
            began[c] = time.monotonic()
            clients.append(c)
            pump(time.monotonic() + 1 / ARRIVALS_PER_SECOND)
        last_arrived = time.monotonic()
        pump(last_arrived + 4)  # every game past its first seconds
        before, ours_before = processes(), os.times()
        window_began = time.monotonic()
        pump(last_arrived + seconds)
        after, ours_after = processes(), os.times()
        window = time.monotonic() - window_began
        rates = [leading_number(c.screen.display[RATE_ROW]) for c in clients]
        crowd_clients = list(clients)
        joined = []
        for _ in range(JOINS):
            c = PtyTerminal(None, False, argv=argv)
            began[c] = time.monotonic()
            clients.append(c)
            deadline = time.monotonic() + 10
            while c not in whole and time.monotonic() < deadline:
                pump(time.monotonic() + 0.01)
            joined.append(whole.get(c, float("inf")))
            c.close()
            clients.remove(c)
        arcade = under(listener, after)
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
        }
    finally:
        for c in clients:
            c.close()
        server.send_signal(signal.SIGTERM)
        server.wait(60)
        log.close()
        subprocess.run(["rm", "-rf", state])


def main():
    args = sys.argv[1:]
    if not args:
        sys.exit(__doc__)
    binary = os.path.abspath(args.pop(0))
    seconds = 12
    if "--seconds" in args:
        i = args.index("--seconds")
        seconds = float(args[i + 1])
        del args[i:i + 2]
    counts = [int(a) for a in args] or [25, 50, 100]
    with open("/proc/loadavg") as f:
        load = f.read().split()[:3]
    print(f"Load average before: {' '.join(load)}; {os.cpu_count()} cores; "
          f"{shlex.join(sys.argv)}\n")
    print("| Players | Games running | Frame rates after %g s (min / median / max; at 10 or more) "
          "| CPU per player, %% of a core (sshd + game + watcher) | Memory per player, PSS KiB "
          "(sshd + game + watcher) | ssh to the whole well, ms: arriving at %d a second "
          "(median / max); one at a time with the crowd playing (median of %d) "
          "| Clients' own CPU per player |" % (seconds, ARRIVALS_PER_SECOND, JOINS))
    print("|---|---|---|---|---|---|---|")
    for players in counts:
        r = crowd(binary, players, seconds)
        rates = [x if x is not None else 0 for x in r["rates"]]
        cpu, mem, wells = r["cpu"], r["memory"], r["wells"]
        total_cpu = sum(cpu.values())
        total_mem = sum(mem.values())
        print("| %d | %d | %d / %g / %d; %d of %d | %.2f (%.2f + %.3f + %.3f) | %d (%d + %d + %d) "
              "| %s; %.0f | %.2f |" % (
                  players, r["games"], min(rates), statistics.median(rates), max(rates),
                  sum(1 for x in rates if x >= 10), players, total_cpu, cpu.get("sshd", 0),
                  cpu.get("game", 0), cpu.get("watcher", 0), total_mem, mem.get("sshd", 0),
                  mem.get("game", 0), mem.get("watcher", 0),
                  "%.0f / %.0f (%d wells)" % (statistics.median(wells), max(wells), len(wells))
                  if wells else "none", statistics.median(r["joins"]), r["clients"]))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
