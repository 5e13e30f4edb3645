#!/usr/bin/env python3
"""Times programs in alternating rounds and compares each with the last.

    alternating_runs.py [--accept CODES] [--export FILE] ROUNDS OUTPUT NAME=COMMAND... BASE_NAME=COMMAND

First every command runs once, untimed, to bring the programs and their
files into the page cache and to make OUTPUT at its full size. Then each
round runs every command once, in turn, in the opposite order every other
round, its standard output going to OUTPUT. A run that exits with a code not
in CODES (by default 0; diff exits 1 for saves that differ) stops the
measurement: a program that failed must not be timed as a fast one.

Printed: one line for each command but the last, with its median wall time,
the last command's median wall time, the ratio of the two medians and the
median of the rounds' own ratios. --export FILE writes every run's time in
seconds as JSON, {"NAME": [...], ...}.

Why not hyperfine's runs one program after the other: on the 2-core machine
these figures come from, the machine's own pace drifts over seconds (the host
lends it cores, other work comes and goes, freed memory is handed back), so a
program timed in one stretch and the one it is compared with in the next are
timed under different weather. Programs in alternation share it.

OUTPUT is opened without truncation: a program that writes gigabytes
overwrites the pages the run before left, as every other command in the
comparison does. Truncating would time the system freeing and allocating
those pages again, which spreads single runs by a factor of three and has
nothing to do with the program.
"""
import json
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
    accepted, export = {0}, None
    while arguments[:1] in (["--accept"], ["--export"]) and len(arguments) > 1:
        if arguments[0] == "--accept":
            accepted = {int(code) for code in arguments[1].split(",")}
        else:
            export = arguments[1]
        arguments = arguments[2:]
    if len(arguments) < 4 or not arguments[0].isdigit() or int(arguments[0]) < 1 or \
            any("=" not in item for item in arguments[2:]):
        sys.exit(__doc__)
    rounds, output = int(arguments[0]), arguments[1]
    named = [item.split("=", 1) for item in arguments[2:]]
    commands = [shlex.split(command) for _, command in named]
    for command in commands:
        timed_run(command, output, accepted)
    times = [[] for _ in named]
    for number in range(rounds):
        order = range(len(named)) if number % 2 == 0 else reversed(range(len(named)))
        for index in order:
            times[index].append(timed_run(commands[index], output, accepted))
    if export:
        with open(export, "w", encoding="utf-8") as file:
            json.dump({name: runs for (name, _), runs in zip(named, times)}, file)
    base_name, base = named[-1][0], times[-1]
    base_median = statistics.median(base)
    for (name, _), runs in zip(named[:-1], times[:-1]):
        median = statistics.median(runs)
        ratios = [run / base_run for run, base_run in zip(runs, base)]
        print(f"{name}: {median * 1000:.1f} ms against {base_name} {base_median * 1000:.1f} ms, "
              f"{median / base_median:.2f}x (median of the rounds' ratios {statistics.median(ratios):.2f}x; "
              f"{rounds} rounds, {min(runs) * 1000:.1f} to {max(runs) * 1000:.1f} ms against "
              f"{min(base) * 1000:.1f} to {max(base) * 1000:.1f} ms)")


if __name__ == "__main__":
    main(sys.argv[1:])
