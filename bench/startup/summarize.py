#!/usr/bin/env python3
"""Summarises the starts timed by bench/startup/run.sh: one line a start,
"LABEL SPAWNED_NS {"times":{...}}", with the driver's file times (100 ns
since 1601; null when the driver had none) and the moment the shell started
the program (ns since 1970). Warm-up starts are left out. A time that
cannot belong to its start (outside the watch, which the driver's time-out
bounds) is refused and counts as missing.
Usage: summarize.py STARTS_FILE WATCH_TIMEOUT_MS"""
import json
import statistics
import sys

EPOCH_DIFFERENCE_100NS = 116444736000000000  # 1601-01-01 to 1970-01-01
NS_PER_100NS = 100
MS_PER_100NS = 1e-4
UNITS_100NS_PER_MS = 10000

FIGURES = [
    ("spawn -> process created", "spawned", "created"),
    ("process created -> window ready", "created", "window_ready"),
    ("spawn -> window ready", "spawned", "window_ready"),
    ("process created -> patcher created", "created", "patcher_created"),
    ("spawn -> patcher created", "spawned", "patcher_created"),
]
WANTED_MINIMAL = ("created", "window_ready")
WANTED_LAUNCHER = WANTED_MINIMAL + ("patcher_created",)


def refuse_impossible(times, limit):
    """Removes the times that cannot belong to their start and names them.
    Each lies between the spawn and the end of the watch; a process is
    created before its window stands and before the patcher it starts."""
    refused = []
    end = times["spawned"] + limit
    for name, after in (("created", "spawned"), ("window_ready", "created"),
                        ("patcher_created", "created")):
        earliest = times.get(after) or times["spawned"]
        if times.get(name) is not None and not earliest <= times[name] <= end:
            refused.append(f"{name} {times[name]}")
            times[name] = None
    return refused


def main(path, watch_timeout_ms):
    limit = int(watch_timeout_ms) * UNITS_100NS_PER_MS
    starts = {}
    incomplete = []
    refused = []
    for line in open(path):
        label, spawned, rest = line.split(" ", 2)
        kind, round_ = label.split("-", 1)
        if round_ == "warm-up":
            continue
        times = json.loads(rest).get("times") or {}
        times["spawned"] = int(spawned) // NS_PER_100NS + EPOCH_DIFFERENCE_100NS
        refused += [f"{label} {wrong}" for wrong in refuse_impossible(times, limit)]
        wanted = WANTED_LAUNCHER if kind == "launcher" else WANTED_MINIMAL
        if any(times.get(name) is None for name in wanted):
            incomplete.append(label)
        starts.setdefault(kind, []).append(times)
    print(f"{'milliseconds (median, min-max)':40} {'minimal window':>22} {'launcher':>22}")
    for name, start, end in FIGURES:
        cells = []
        for kind in ("minimal", "launcher"):
            values = [(t[end] - t[start]) * MS_PER_100NS for t in starts.get(kind, [])
                      if t.get(end) is not None and t.get(start) is not None]
            cells.append(f"{statistics.median(values):7.0f} ({min(values):.0f}-{max(values):.0f})"
                         if values else "-")
        print(f"{name:40} {cells[0]:>22} {cells[1]:>22}")
    counts = ", ".join(f"{kind} {len(values)}" for kind, values in starts.items())
    print(f"starts: {counts}; with a time missing: {', '.join(incomplete) or 'none'}")
    if refused:
        print(f"refused as impossible, so missing: {'; '.join(refused)}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
