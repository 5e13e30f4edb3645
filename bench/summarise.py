#!/usr/bin/env python3
"""Summaries of the benchmark script's measurements (bench/run_benchmarks.sh).

    summarise.py hyperfine REFERENCES EXPORT...   medians of pooled hyperfine rounds,
                                                  as ratios to the REFERENCES (comma-separated)
    summarise.py benchmarks EXPORT                Google Benchmark medians, and loading's cost
                                                  in proportion to size
    summarise.py memory KIND SAVE_BYTES PEAK_BYTES  one save's peak memory against its bound
    summarise.py scale FOLDER KIND EXPORT...      whole runs of growing size: cost per MB
"""
import json
import os
import statistics
import sys


def hyperfine(argv):
    references = argv[0].split(",")
    times, user, system = {}, {}, {}
    for export in argv[1:]:
        for r in json.load(open(export))["results"]:
            times.setdefault(r["command"], []).extend(r["times"])
            user.setdefault(r["command"], []).extend(r["user"] for _ in r["times"])
            system.setdefault(r["command"], []).extend(r["system"] for _ in r["times"])
    median = {command: statistics.median(values) for command, values in times.items()}
    for command in times:
        ratios = ", ".join(f"{median[command] / median[reference]:.3f} x {reference}" for reference in references)
        print(f"  {command:>9}: median {median[command] * 1000:8.2f} ms of {len(times[command])} runs, {ratios}; "
              f"processor user {statistics.mean(user[command]) * 1000:.2f} + system "
              f"{statistics.mean(system[command]) * 1000:.2f} ms")


def benchmarks(argv):
    rows = [b for b in json.load(open(argv[0]))["benchmarks"]
            if b.get("aggregate_name", "median") == "median"]
    def name(b):
        return (b["run_name"] if "run_name" in b else b["name"]).removesuffix("/real_time")
    def per(b, key):
        return b["real_time"] / b[key] if key in b else None
    for b in rows:
        line = f"  {name(b):50} {b['real_time']:9.3f} {b['time_unit']} real, {b['cpu_time']:9.3f} {b['time_unit']} cpu"
        if "bytes_per_second" in b:
            line += f", {b['bytes_per_second'] / 1e9:6.2f} GB/s"
        if "items_per_second" in b:
            line += f", {1e9 / b['items_per_second']:8.1f} ns per item"
        print(line)
    # Loading in proportion to size: the time per MB of each mixed save's stream
    # (its time less that of the front alone) against the largest's, and the
    # time per level of each chain against the longest's.
    def seconds(b):
        return b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    def proportion(label, costs):
        if len(costs) < 2:
            return
        last = costs[-1][1]
        print(f"  {label} against {costs[-1][0]}: " + ", ".join(f"{n} {c / last:.2f}" for n, c in costs))
    front = next((b for b in rows if name(b) == "load/front_only"), None)
    if front is not None:
        mixed = [b for b in rows if name(b).startswith("load/mixed/")]
        costs = []
        for b in mixed:
            stream_mb = b["file_MB"] - front["file_MB"]
            costs.append((name(b).split("/")[-1], (seconds(b) - seconds(front)) / stream_mb))
        for n, c in costs:
            print(f"  load/mixed/{n}: {c * 1000:.3f} ms per MB of stream beyond the front alone")
        proportion("load/mixed: time per MB of stream", costs)
        # Per further MB from one size to the next: what a store's first pages
        # cost, whatever the size, drops out.
        steps = []
        for smaller, larger in zip(mixed, mixed[1:]):
            step = (seconds(larger) - seconds(smaller)) / (larger["file_MB"] - smaller["file_MB"])
            label = f"{name(smaller).split('/')[-1]} to {name(larger).split('/')[-1]}"
            steps.append((label, step))
            print(f"  load/mixed from {label}: {step * 1000:.3f} ms per further MB")
        proportion("load/mixed: per further MB", steps)
    chains = [b for b in rows if name(b).startswith("load/deep_chain/")]
    proportion("load/deep_chain: time per level", [(name(b).split("/")[-1], 1 / b["items_per_second"]) for b in chains])


def memory(argv):
    kind, save_bytes, peak, bound = argv[0], int(argv[1]), int(argv[2]), 2 * int(argv[1]) + 16 * 2**20
    print(f"  {kind:>15}: save {save_bytes / 2**20:8.1f} MB, peak {peak / 2**20:7.1f} MB, "
          f"bound {bound / 2**20:7.1f} MB, peak/bound {peak / bound:.3f}")


def scale(argv):
    folder, kind = argv[0], argv[1]
    # Each command's runs pooled over the rounds: its median wall time, and its
    # mean user and system time.
    pooled = {}
    for export in argv[2:]:
        for r in json.load(open(export))["results"]:
            entry = pooled.setdefault(r["command"], {"times": [], "user": [], "system": []})
            entry["times"].extend(r["times"])
            entry["user"].append(r["user"])
            entry["system"].append(r["system"])
    results = {command: {"median": statistics.median(entry["times"]), "user": statistics.mean(entry["user"]),
                         "system": statistics.mean(entry["system"])}
               for command, entry in pooled.items()}
    front = results["front"]["median"]
    front_bytes = os.path.getsize(os.path.join(folder, "front.sav"))
    print(f"    front only ({front_bytes} bytes): median {front * 1000:.2f} ms")
    per_mb = {}
    # Wall time on a shared machine swings with the load; the processor time of
    # the run itself (user and system, means) swings less, so both are shown.
    def cpu(r):
        return r["user"] + r["system"]
    front_cpu = cpu(results["front"])
    print(f"    front only ({front_bytes} bytes): processor time {front_cpu * 1000:.2f} ms")
    per_mb_cpu = {}
    for name, r in results.items():
        if name == "front" or name.startswith("baseline_"):
            continue
        size_bytes = os.path.getsize(os.path.join(folder, f"{kind}_{name}.sav"))
        stream_mb = (size_bytes - front_bytes) / 2**20
        per_mb[name] = (r["median"] - front) / stream_mb * 1000
        per_mb_cpu[name] = (cpu(r) - front_cpu) / stream_mb * 1000
        line = (f"    {name:>4} MB ({size_bytes} bytes): median {r['median'] * 1000:9.2f} ms, "
                f"{per_mb[name]:.3f} ms per MB beyond the front; processor {cpu(r) * 1000:9.2f} ms, "
                f"{per_mb_cpu[name]:.3f} ms per MB")
        if f"baseline_{name}" in results:
            old = results[f"baseline_{name}"]
            line += f"; baseline median {old['median'] * 1000:.2f} ms, processor {cpu(old) * 1000:.2f} ms"
        print(line)
    largest = list(per_mb)[-1]
    for label, costs in (("wall", per_mb), ("processor", per_mb_cpu)):
        print(f"    {label} time per MB against the {largest} MB save: " +
              ", ".join(f"{name} MB {value / costs[largest]:.2f}" for name, value in costs.items()))
    # What each further MB costs from one size to the next: the fixed cost of a
    # run (the pictures, the start) drops out, and so does most of the noise
    # that a single small save's difference from the front alone carries.
    sizes = [name for name in per_mb]
    def stream_mb_of(name):
        return os.path.getsize(os.path.join(folder, f"{kind}_{name}.sav")) / 2**20
    steps = []
    for smaller, larger in zip(sizes, sizes[1:]):
        step = (results[larger]["median"] - results[smaller]["median"]) / (stream_mb_of(larger) - stream_mb_of(smaller))
        steps.append((f"{smaller} to {larger} MB", step))
        print(f"    from {smaller} to {larger} MB: {step * 1000:.3f} ms per further MB")
    if len(steps) >= 2:
        print("    per further MB against the last step: " +
              ", ".join(f"{label} {step / steps[-1][1]:.2f}" for label, step in steps))


if __name__ == "__main__":
    commands = {"hyperfine": hyperfine, "benchmarks": benchmarks, "memory": memory, "scale": scale}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        sys.exit(__doc__)
    commands[sys.argv[1]](sys.argv[2:])
