#!/usr/bin/env python3
"""Measures the real binary in a real terminal: start-up time, bytes on the
wire against the least possible, system calls, CPU share and wake-ups per
frame, heap allocations per second of play, peak resident size, and the
pace with the other core kept busy. Prints a Markdown table.

Usage, from the top of the source tree:
    python3 -m bench.terminal_measure PATH-TO-BLOCKFALL [--quick]

Needs tmux, strace, valgrind and python3-pyte. Takes about four minutes
(--quick: under a minute, with shorter runs)."""

import os
import re
import select
import statistics
import subprocess
import sys
import time

from tests.terminal.harness import (RATE_ROW, SLEEP_ROW, WALL, WELL_WIDTH, piece_in_well,
                                    proc_status, spawn_on_pty, start_game, start_on_pty,
                                    syscall_counts)


def start_up(binary, runs):
    """Milliseconds from fork and exec to the whole well on the terminal.
    The well goes out in one write, top row first, so the floor's twenty
    wall glyphs arriving mean all of it has. The raw bytes are searched, not
    parsed, so that the measuring costs next to nothing."""
    floor = (WALL * WELL_WIDTH).encode("utf-8")
    times = []
    for _ in range(runs):
        began = time.monotonic()
        pid, fd = spawn_on_pty(binary)
        raw = b""
        while floor not in raw:
            if time.monotonic() - began > 5:
                raise RuntimeError("no well within 5 s")
            if select.select([fd], [], [], 1)[0]:
                raw += os.read(fd, 65536)
        times.append((time.monotonic() - began) * 1000)
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        os.close(fd)
    return statistics.median(times)


def least_bytes(before, after):
    """The least a terminal update could send for these changes: per run of
    changed cells in a row, one absolute cursor move and the glyphs."""
    total = 0
    for r, (old, new) in enumerate(zip(before, after)):
        c = 0
        while c < len(new):
            if old[c] == new[c]:
                c += 1
                continue
            run_start = c
            while c < len(new) and old[c] != new[c]:
                c += 1
            total += len("\x1b[%d;%dH" % (r + 1, run_start + 1))
            total += len(new[run_start:c].encode("utf-8"))
    return total


def bytes_on_the_wire(binary, seconds):
    """Plays a scripted game on a pty and compares every chunk the game
    wrote with the least that would have shown the same change."""
    t = start_on_pty(binary, ready=piece_in_well)
    written = least = 0
    idle = []
    keys = [b"\x1b[D", b"\x1b[C", b"\x1b[A", b"\x1b[B", b"\x1b[B"]
    began = time.monotonic()
    step = 0
    import select
    while time.monotonic() - began < seconds:
        if step % 4 == 0:
            os.write(t.fd, keys[(step // 4) % len(keys)])
        step += 1
        ready, _, _ = select.select([t.fd], [], [], 0.05)
        if not ready:
            continue
        data = os.read(t.fd, 65536)
        before = list(t.screen.display)
        t.stream.feed(data)
        after = list(t.screen.display)
        t.raw += data
        t._answer()
        written += len(data)
        minimum = least_bytes(before, after)
        least += minimum
        changed_rows = [r for r in range(len(after)) if before[r] != after[r]]
        if changed_rows == [SLEEP_ROW]:
            idle.append(len(data))
    t.close()
    return written, least, statistics.median(idle) if idle else None


def proc_times(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime, in clock ticks


def keep_playing(s, seconds, sample=None):
    """Sends a key every 0.2 s (pieces pushed to either side, so the game
    goes on), calling sample(screen) once a second."""
    began = time.monotonic()
    last = 0
    while time.monotonic() - began < seconds:
        s.keys("Left" if int((time.monotonic() - began) / 4) % 2 == 0 else "Right")
        time.sleep(0.2)
        if sample and int(time.monotonic() - began) != last:
            last = int(time.monotonic() - began)
            sample(s.screen())


def fps_of(screen):
    m = re.match(r"(\d+)FPS", screen[RATE_ROW])
    return int(m.group(1)) if m else None


def play_in_tmux(binary, seconds):
    """CPU share, wake-ups per frame and peak resident size over a game."""
    with start_game(binary) as s:
        pid = s.game_pid()
        ticks = os.sysconf("SC_CLK_TCK")
        cpu0 = proc_times(pid)
        voluntary0 = proc_status(pid, "voluntary_ctxt_switches")
        involuntary0 = proc_status(pid, "nonvoluntary_ctxt_switches")
        began = time.monotonic()
        rates = []
        keep_playing(s, seconds, lambda sc: rates.append(fps_of(sc) or 0))
        wall = time.monotonic() - began
        cpu = (proc_times(pid) - cpu0) / ticks
        # A wake-up is the game going to sleep and being woken: a voluntary
        # switch. Involuntary ones are preemptions, counted apart.
        voluntary = proc_status(pid, "voluntary_ctxt_switches") - voluntary0
        involuntary = proc_status(pid, "nonvoluntary_ctxt_switches") - involuntary0
        peak = proc_status(pid, "VmHWM")
        frames = max(sum(rates), 1)
        return cpu / wall, voluntary / frames, involuntary / frames, peak, frames / wall


def syscalls_per_frame(binary, seconds):
    with start_game(binary) as s:
        calls = syscall_counts(s.game_pid(), lambda t: keep_playing(s, t), seconds)
    # A frame is one pause: the wait on the terminal (with nothing typed, one
    # select; a key typed during it adds one). The first measurements came
    # before that, when the pause was a sleep.
    frames = sum(calls.get(name, 0) for name in ("clock_nanosleep", "nanosleep"))
    if frames == 0:
        frames = sum(v for k, v in calls.items() if k in ("select", "pselect6")) - calls.get("read", 0)
    return sum(calls.values()) / max(frames, 1), calls


def idle_syscalls_per_frame(binary, seconds):
    """Idle frames only: no key typed."""
    with start_game(binary) as s:
        calls = syscall_counts(s.game_pid(), time.sleep, seconds)
    frames = sum(calls.get(name, 0) for name in ("clock_nanosleep", "nanosleep", "select",
                                                   "pselect6"))
    return sum(v for k, v in calls.items() if k != "restart_syscall") / max(frames, 1), calls


def heap_allocations(binary, seconds):
    log = f"/tmp/blockfall-valgrind-{os.getpid()}-{seconds}.log"
    with start_game(["valgrind", f"--log-file={log}", *binary], timeout=30) as s:
        keep_playing(s, seconds)
        s.keys("Escape")
        time.sleep(1.0)
        s.keys("Enter")
        s.status(30)
    with open(log) as f:
        text = f.read()
    os.unlink(log)
    m = re.search(r"total heap usage: ([\d,]+) allocs", text)
    return int(m.group(1).replace(",", ""))


def pace_under_load(binary, seconds):
    busy = subprocess.Popen([sys.executable, "-c", "while True: pass"])
    try:
        rates = []
        with start_game(binary) as s:
            keep_playing(s, seconds, lambda sc: rates.append(fps_of(sc)))
    finally:
        busy.kill()
    return rates[len(rates) // 2:]


def main():
    binary = [os.path.abspath(sys.argv[1])]  # the argument list that starts it
    quick = "--quick" in sys.argv
    rows = []
    rows.append(("Start-up to the whole well (median of 20)", "%.1f ms" % start_up(binary, 20)))
    written, least, idle = bytes_on_the_wire(binary, 10 if quick else 30)
    rows.append(("Bytes written / least possible", "%d / %d = %.2f" % (written, least,
                                                                     written / least)))
    rows.append(("Bytes for an idle frame (median)", "%s" % idle))
    share, wakeups, preempted, peak, fps = play_in_tmux(binary, 15 if quick else 60)
    rows.append(("CPU share of one core", "%.3f %%" % (share * 100)))
    rows.append(("Wake-ups per frame (voluntary switches)", "%.2f" % wakeups))
    rows.append(("Preemptions per frame (involuntary switches)", "%.2f" % preempted))
    rows.append(("Peak resident size", "%d KiB" % peak))
    rows.append(("Frames per second over the run", "%.1f" % fps))
    per_frame, calls = syscalls_per_frame(binary, 10 if quick else 30)
    rows.append(("System calls per frame", "%.2f (%s)" % (per_frame, ", ".join(
        "%s %d" % kv for kv in sorted(calls.items(), key=lambda kv: -kv[1])))))
    per_frame, calls = idle_syscalls_per_frame(binary, 10)
    rows.append(("System calls per idle frame", "%.2f (%s)" % (per_frame, ", ".join(
        "%s %d" % kv for kv in sorted(calls.items(), key=lambda kv: -kv[1])))))
    short, long_ = (2, 12) if quick else (3, 33)
    a_short = heap_allocations(binary, short)
    a_long = heap_allocations(binary, long_)
    rows.append(("Heap allocations per second of play", "%.2f (%d in %d s, %d in %d s)" % (
        (a_long - a_short) / (long_ - short), a_short, short, a_long, long_)))
    rates = pace_under_load(binary, 15 if quick else 40)
    rows.append(("FPS line with the other core busy (second half)", " ".join(map(str, rates))))
    print("| Measure | Value |\n|---|---|")
    for name, value in rows:
        print("| %s | %s |" % (name, value))


if __name__ == "__main__":
    main()
