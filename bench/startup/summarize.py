#!/usr/bin/env python3
"""Summarises the starts timed by bench/startup/run.sh: one line a start,
"LABEL SPAWNED_NS {"times":{...}}", with the driver's file times (100 ns
since 1601) and the moment the shell started the program (ns since 1970).
Warm-up starts are left out."""
import json
import statistics
import sys

EPOCH_DIFFERENCE_100NS = 116444736000000000  # 1601-01-01 to 1970-01-01
NS_PER_100NS = 100
MS_PER_100NS = 1e-4

FIGURES = [
    ("spawn -> process created", "spawned", "created"),
    ("process created -> window ready", "created", "window_ready"),
    ("spawn -> window ready", "spawned", "window_ready"),
    ("process created -> patcher created", "created", "patcher_created"),
    ("spawn -> patcher created", "spawned", "patcher_created"),
]


def main(path):
    starts = {}
    incomplete = 0
    for line in open(path):
        label, spawned, rest = line.split(" ", 2)
        kind, round_ = label.split("-", 1)
        if round_ == "warm-up":
            continue
        times = json.loads(rest).get("times")
        if not times or not times["created"] or not times["window_ready"]:
            incomplete += 1
            continue
        times["spawned"] = int(spawned) // NS_PER_100NS + EPOCH_DIFFERENCE_100NS
        starts.setdefault(kind, []).append(times)
    print(f"{'milliseconds (median, min-max)':40} {'minimal window':>22} {'launcher':>22}")
    for name, start, end in FIGURES:
        cells = []
        for kind in ("minimal", "launcher"):
            values = [(t[end] - t[start]) * MS_PER_100NS for t in starts.get(kind, [])
                      if t.get(end) and t.get(start)]
            cells.append(f"{statistics.median(values):7.0f} ({min(values):.0f}-{max(values):.0f})"
                         if values else "-")
        print(f"{name:40} {cells[0]:>22} {cells[1]:>22}")
    counts = {kind: len(values) for kind, values in starts.items()}
    print(f"starts counted: {counts}; incomplete: {incomplete}")


if __name__ == "__main__":
    main(sys.argv[1])
