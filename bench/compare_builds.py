#!/usr/bin/env python3
"""Plays two or more builds of the game in turn, as alike as one run can
make it, and prints what a frame costs each: CPU time per frame (with the
share of a core and the frames a second) over 30 s of play, system calls
per frame of steady play (20 s) and per idle frame (10 s), heap allocations
in 20 s of play, and peak resident size. Prints a Markdown table.

Everything is counted from outside the game: the CPU time from /proc, the
system calls by strace attached to it, the allocations by uprobes on the C
library's malloc, calloc and realloc (perf), so that a build that confines
itself is measured as it plays (valgrind, which bench.terminal_measure
uses, runs the game unconfined).

Usage, as root from the top of the source tree:
    python3 -m bench.compare_builds BLOCKFALL BLOCKFALL...

Needs tmux, strace, perf and python3-pyte. Takes about a minute and a half
a build."""

import os
import signal
import subprocess
import sys
import time

from bench.terminal_measure import (idle_syscalls_per_frame, keep_playing, play_in_tmux,
                                    syscalls_per_frame)
from tests.terminal.harness import start_game

LIBC = "/lib/%s-linux-gnu/libc.so.6" % os.uname().machine
ALLOCATORS = ("malloc", "calloc", "realloc")


def allocations(binary, seconds):
    """Calls to the C library's allocators in seconds of play, once started."""
    with start_game(binary) as s:
        events = ",".join("probe_libc:" + f for f in ALLOCATORS)
        stat = subprocess.Popen(["perf", "stat", "-x,", "-e", events, "-p", str(s.game_pid())],
                                stderr=subprocess.PIPE, text=True)
        time.sleep(0.3)
        keep_playing(s, seconds)
        stat.send_signal(signal.SIGINT)
        report = stat.communicate()[1]
    counts = [line.split(",")[0] for line in report.splitlines() if "probe_libc" in line]
    if len(counts) != len(ALLOCATORS):
        raise RuntimeError("perf counted no allocations:\n" + report)
    return sum(int(n) for n in counts)


def calls_text(per_frame, calls):
    return "%.2f (%s)" % (per_frame, ", ".join(
        "%s %d" % kv for kv in sorted(calls.items(), key=lambda kv: -kv[1])))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    builds = [os.path.abspath(path) for path in sys.argv[1:]]
    probe = ["perf", "probe", "-q", "-x", LIBC]
    for f in ALLOCATORS:
        probe += ["--add", f]
    subprocess.run(probe, check=True)
    try:
        print("| Build | CPU per frame (share of a core, frames a second) "
              "| System calls per frame, steady play | Per idle frame "
              "| Allocations in 20 s of play | Peak resident size |")
        print("|---|---|---|---|---|---|")
        for path in builds:
            binary = [path]  # the argument list that starts it
            share, _, _, peak, fps = play_in_tmux(binary, 30)
            busy = calls_text(*syscalls_per_frame(binary, 20))
            idle, _ = idle_syscalls_per_frame(binary, 10)
            print("| %s | %.1f µs (%.3f %%, %.1f FPS) | %s | %.2f | %d | %d KiB |" % (
                path, share / fps * 1e6, share * 100, fps, busy, idle,
                allocations(binary, 20), peak))
    finally:
        subprocess.run(["perf", "probe", "-q", "-d", "probe_libc:*"], check=False)


if __name__ == "__main__":
    main()
