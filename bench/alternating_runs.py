#!/usr/bin/env python3
"""Times programs in alternating rounds and compares each with the last.

    alternating_runs.py [--accept CODES] ROUNDS OUTPUT NAME=COMMAND... BASE_NAME=COMMAND

Each round runs every command once, in turn, in the opposite order every
other round, its standard output going to OUTPUT. A run that exits with a
code not in CODES (by default 0; diff exits 1 for saves that differ) stops
the measurement: a program that failed must not be timed as a fast one. Printed: each command's
median wall time, its range, and its ratio to the last command, both as the
ratio of the medians and as the median of the rounds' own ratios.

Why not hyperfine's runs one program after the other: on the 2-core machine
these figures come from, the machine's own pace drifts over seconds (the host
lends it cores, the page cache is written back and its memory handed back), so
a program timed in one stretch and its floor in the next are timed under
different weather. Programs in alternation share it.

OUTPUT is opened without truncation: a program that writes gigabytes
overwrites the pages of the file the round before left, as every other
command in the comparison does. Truncating would time the system freeing and
allocating those pages again, which spreads single runs by a factor of three
here and has nothing to do with the program. Make the file at its full size
before the first round, by running one of the commands into it.
"""
import os
import shlex
import statistics
import subprocess
import sys
import time


def timed_run(command, output, accepted):
    descriptor = os.open(output, os.O_WRONLY | os.O_CREAT, 0o644)
    try:
        started = time.perf_counter()
        finished = subprocess.run(command, stdout=descriptor, stderr=subprocess.PIPE, check=False)
        elapsed = time.perf_counter() - started
    finally:
        os.close(descriptor)
    if finished.returncode not in accepted:
        sys.exit(f"{shlex.join(command)} exited with {finished.returncode}: "
                 f"{finished.stderr.decode(errors='replace').strip()}")
    return elapsed


def main(arguments):
    accepted = {0}
    if arguments[:1] == ["--accept"] and len(arguments) > 1:
        accepted = {int(code) for code in arguments[1].split(",")}
        arguments = arguments[2:]
    if len(arguments) < 4 or not arguments[0].isdigit() or int(arguments[0]) < 1 or \
            any("=" not in item for item in arguments[2:]):
        sys.exit(__doc__)
    rounds, output = int(arguments[0]), arguments[1]
    named = [item.split("=", 1) for item in arguments[2:]]
    times = [[] for _ in named]
    for number in range(rounds):
        order = range(len(named)) if number % 2 == 0 else reversed(range(len(named)))
        for index in order:
            times[index].append(timed_run(shlex.split(named[index][1]), output, accepted))
    base_name, base = named[-1][0], times[-1]
    for (name, _), runs in zip(named, times):
        line = (f"{name}: median {statistics.median(runs) * 1000:.1f} ms "
                f"({min(runs) * 1000:.1f} to {max(runs) * 1000:.1f}, {rounds} runs)")
        if runs is not base:
            ratios = [run / base_run for run, base_run in zip(runs, base)]
            line += (f", {statistics.median(runs) / statistics.median(base):.2f}x {base_name}"
                     f" (median of the rounds' ratios {statistics.median(ratios):.2f}x)")
        print(line)


if __name__ == "__main__":
    main(sys.argv[1:])
