#!/usr/bin/env python3
"""Start-up of two or more builds of the game, taken in turn: the time from
fork and exec to the whole well on a pty (the suites' harness, as
bench.terminal_measure times it), and to the end of `--version` (no
terminal: fork, exec, the answer, exit). Fifteen runs each; prints the
medians as a Markdown table.

Usage, from the top of the source tree:
    python3 -m bench.start_up BLOCKFALL BLOCKFALL... [--runs N]

Needs python3-pyte."""

import os
import statistics
import subprocess
import sys
import time

from bench.terminal_measure import start_up


def version_time(binary):
    began = time.perf_counter()
    subprocess.run([binary, "--version"], capture_output=True, check=True)
    return (time.perf_counter() - began) * 1000


def main():
    args = sys.argv[1:]
    runs = 15
    if "--runs" in args:
        at = args.index("--runs")
        runs = int(args[at + 1])
        del args[at:at + 2]
    if not args:
        sys.exit(__doc__)
    taken = {os.path.abspath(b): ([], []) for b in args}
    for _ in range(runs):
        for binary, (well, version) in taken.items():
            well.append(start_up([binary], 1))
            version.append(version_time(binary))
    print("| Build | To the whole well | To the end of `--version` |\n|---|---|---|")
    for binary, (well, version) in taken.items():
        print("| %s | %.1f ms | %.1f ms |" % (binary, statistics.median(well),
                                             statistics.median(version)))


if __name__ == "__main__":
    main()
