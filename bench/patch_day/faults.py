#!/usr/bin/env python3
"""The patch-day simulation with a faulty host, driven by
bench/patch_day/faults.sh (which publishes the releases and runs the
servers): players whose launcher is built for host A, a signed release that
names host B as its mirror, and one fault on A per run. The builds, the
installs, the player processes and the reading of a player's files are
simulate.py's.

  faults.py builds DIR
      simulate.py's build folders A, B and C, and D: C with a 32 MiB
      world.pak added, for the resume run.
  faults.py damage TREE PATH...
      flips bytes of each PATH below TREE in place, keeping its size and
      modification time: a host's copy gone bad.
  faults.py run OPTIONS
      one run: the installs, every player started once, the accounting;
      see --help.
  faults.py table SUMMARY.json...
      the runs against the targets, and the resume run.
"""
import argparse
import collections
import json
import os
import random
import shutil
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import simulate as sim

RESUME_FILE = "world.pak"
RESUME_BYTES = 32 << 20
RESUME_TIME = sim.BUILD_TIMES["C"] + 86_400
# One byte in this many of a damaged file is flipped.
DAMAGE_STRIDE = 64 << 10
# The signed players' targets: every one's patcher started with no box,
# and the p99 of the time the fault added to a start at most this.
TARGET_P99_SECONDS = {"F2": 12.0}
DEFAULT_TARGET_P99_SECONDS = 3.0
TARGET_RESUME_SHARE = 1.02
MIB = 1 << 20


def make_builds(folder):
    sim.make_builds(folder)
    resume = os.path.join(folder, "D")
    shutil.copytree(os.path.join(folder, "C"), resume)
    sim.write(os.path.join(resume, RESUME_FILE), random.Random(2).randbytes(RESUME_BYTES),
              RESUME_TIME)


def damage(tree, paths):
    for path in paths:
        path = os.path.join(tree, path)
        stat = os.stat(path)
        with open(path, "r+b") as f:
            data = bytearray(f.read())
            for at in range(0, len(data), DAMAGE_STRIDE):
                data[at] ^= 0xFF
            f.seek(0)
            f.write(data)
        os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))


def host_answers(path):
    """What a host's access log says it answered: requests, body bytes, by
    status, and by path (requests, body bytes). No log: no server ran."""
    statuses = collections.Counter()
    paths = {}
    if os.path.exists(path):
        for request, status, sent in sim.log_answers(path):
            statuses[status] += 1
            served = request.split()[1].removeprefix("/UploadData/")
            entry = paths.setdefault(served, [0, 0])
            entry[0] += 1
            entry[1] += sent
    return {"requests": sum(statuses.values()), "body_bytes": sum(e[1] for e in paths.values()),
            "statuses": dict(statuses), "paths": paths}


def start_seconds(results):
    """Each player's start in a results file: from its launch to its end."""
    return {os.path.basename(root): (end - begun) / 1000
            for root, (_, begun, end) in sim.read_results(results).items()}


def run(args):
    names = sorted(os.listdir(args.releases))
    releases = sim.Releases([os.path.join(args.releases, name) for name in names])
    rng = random.Random(args.seed)
    held, shares = zip(*args.hold)
    roots = [os.path.join(args.players_dir, f"p{i:05d}") for i in range(args.players)]
    installed = {root: rng.choices(held, shares)[0] for root in roots}
    sim.make_installs(args.releases, installed)
    # Each process starts its players one after the other: AT_ONCE starts
    # in flight from the first moment to the last.
    processes = min(args.at_once, len(roots))
    batches = [(0, [(root, 0) for root in roots[slot::processes]]) for slot in range(processes)]
    results = os.path.join(args.out, "results")
    running, start = sim.run_round(args.player, args.signed, [args.host], batches, results)
    if args.touch_at is not None:
        seconds, path = args.touch_at
        time.sleep(max(0.0, start / 1e9 + float(seconds) - time.monotonic()))
        open(path, "w").close()
    failed = sim.wait_all(running, time.monotonic() + args.seconds)

    lines = sim.read_results(results)
    boxes = sim.take_boxes(roots)
    # Hashing every player's files takes most of the accounting; hashlib
    # lets other threads run meanwhile.
    with ThreadPoolExecutor(os.cpu_count()) as pool:
        states = dict(zip(roots, pool.map(releases.state, roots)))
    completed = [r for r in roots if r in lines and lines[r][0] == 0 and not boxes.get(r)]
    seconds = start_seconds(results)
    base = start_seconds(args.baseline) if args.baseline else {}
    added = [seconds[p] - base[p] for p in seconds if p in base]
    ends = collections.defaultdict(collections.Counter)
    for root in roots:
        record, listed, patcher, harms = states[root]
        whole = not harms and record is not None and record == listed == patcher
        ends[installed[root]][names[record] if whole else "mixed"] += 1
    summary = {
        "label": args.label, "fault": args.fault, "what": args.what, "signed": args.signed,
        "players": len(roots), "processes": processes,
        "held": dict(collections.Counter(installed.values())),
        "ran": len(lines), "process_failures": len(failed),
        "completed": len(completed),
        **sim.outcome_fields(lines, boxes, states),
        "ends_on": dict(sum(ends.values(), collections.Counter())),
        "ends_on_by_held": {name: dict(counts) for name, counts in sorted(ends.items())},
        "p50_s": round(sim.percentile(list(seconds.values()), 0.50), 2),
        "p99_s": round(sim.percentile(list(seconds.values()), 0.99), 2),
        "added_p50_s": round(sim.percentile(added, 0.50), 2) if added else None,
        "added_p99_s": round(sim.percentile(added, 0.99), 2) if added else None,
        "added_max_s": round(max(added), 2) if added else None,
        "seconds": round(max([v[2] for v in lines.values()] or [0]) / 1000, 1),
        "hosts": {name: host_answers(path) for name, path in args.host_log},
    }
    if args.resume_file:
        summary["resume_file"] = {"name": args.resume_file, "bytes": os.path.getsize(
            os.path.join(args.releases, names[-1], args.resume_file))}
    with open(os.path.join(args.out, "summary.json"), "w") as f:
        json.dump(summary, f, indent=1)
    print_summary(summary)


def print_summary(s):
    build = "signed" if s["signed"] else "unsigned"
    print(f"== {s['label']} ({s['what']}; {build}): {s['players']} players in {s['processes']} "
          f"processes, {s['seconds']} s; completed {s['completed']}, harmed {len(s['harmed'])}; "
          f"exits {s['exits']}")
    for box in s["box_kinds"]:
        print(f"    box: {box}")
    print(f"    held {s['held']}, ends on {s['ends_on_by_held']}")
    print(f"    start p50 {s['p50_s']} s, p99 {s['p99_s']} s; added p50 {s['added_p50_s']} s, "
          f"p99 {s['added_p99_s']} s, most {s['added_max_s']} s")
    for name, host in s["hosts"].items():
        print(f"    {name}: {host['requests']} answers {host['statuses']}, "
              f"{host['body_bytes'] / MIB:.1f} MiB")


def target_of(s):
    """(p99 limit, met) of a signed run with a fault; None otherwise."""
    if not s["signed"] or s["fault"] == "none":
        return None
    limit = TARGET_P99_SECONDS.get(s["fault"], DEFAULT_TARGET_P99_SECONDS)
    return limit, s["completed"] == s["players"] and s["added_p99_s"] <= limit


def table(paths):
    rows = [json.load(open(p)) for p in paths]
    releases = sorted({n for s in rows if "resume_file" not in s
                       for n in list(s["held"]) + list(s["ends_on"]) if n != "mixed"})
    print(f"| fault | build | completed | harmed | ends on {' / '.join(releases)} (other) "
          "| added p50 / p99 s | target: all, p99 | host A / B sent MiB |")
    print("|---|---|---:|---:|---:|---:|---|---:|")
    resume = []
    for s in rows:
        if "resume_file" in s:
            resume.append(s)
            continue
        target = target_of(s)
        verdict = "-" if target is None else (
            f"≤ {target[0]:g} s: {'met' if target[1] else 'NOT met'}")
        ends = " / ".join(str(s["ends_on"].get(n, 0)) for n in releases)
        other = s["ends_on"].get("mixed", 0)
        added = ("-" if s["added_p50_s"] is None
                 else f"{s['added_p50_s']:.1f} / {s['added_p99_s']:.1f}")
        sent = " / ".join(f"{s['hosts'].get(h, {'body_bytes': 0})['body_bytes'] / MIB:.0f}"
                          for h in ("A", "B"))
        print(f"| {s['fault']}: {s['what']} | {'signed' if s['signed'] else 'unsigned'} | "
              f"{s['completed']} / {s['players']} | {len(s['harmed'])} | {ends} ({other}) | "
              f"{added} | {verdict} | {sent} |")
    for s in rows:
        if s["fault"] == "F6":
            ends = "; ".join(f"of the {s['held'][held]} on {held}, " + ", ".join(
                f"{n} on {end}" for end, n in sorted(counts.items()))
                for held, counts in s["ends_on_by_held"].items())
            print(f"\nF6, {'signed' if s['signed'] else 'unsigned'}: {ends}")
    for s in resume:
        name, size = s["resume_file"]["name"], s["resume_file"]["bytes"]
        link = s["hosts"]["A"]["paths"].get(name, [0, 0])
        share = link[1] / (size * s["players"])
        behind = s["hosts"].get("A-server", {"paths": {}})["paths"].get(name, [0, 0])
        print(f"\nresume: {s['players']} signed players fetched {name} ({size / MIB:.0f} MiB) over "
              f"{s['what']}: completed {s['completed']} / {s['players']}; the link passed "
              f"{link[1]} bytes of it in {link[0]} answers, {share:.4f} of its size per player "
              f"(target ≤ {TARGET_RESUME_SHARE}: {'met' if share <= TARGET_RESUME_SHARE else 'NOT met'}); "
              f"the server behind it sent {behind[1]} ({behind[1] / (size * s['players']):.4f}), "
              f"host B {s['hosts']['B']['paths'].get(name, [0, 0])[1]}")


def pair(text):
    name, _, value = text.partition("=")
    return name, value


def hold(text):
    name, _, share = text.partition(":")
    return name, float(share)


def main(argv):
    if len(argv) > 1 and argv[1] == "builds":
        return make_builds(argv[2])
    if len(argv) > 1 and argv[1] == "damage":
        return damage(argv[2], argv[3:])
    if len(argv) > 1 and argv[1] == "table":
        return table(argv[2:])
    parser = argparse.ArgumentParser(prog="faults.py run")
    parser.add_argument("command", choices=["run"])
    parser.add_argument("--label", required=True)
    parser.add_argument("--fault", required=True, help="none, F1 ... F6, or resume")
    parser.add_argument("--what", required=True, help="the fault in words, for the table")
    parser.add_argument("--player", required=True, help="the patch_day_player program")
    parser.add_argument("--signed", action="store_true")
    parser.add_argument("--releases", required=True, help="the snapshots, named in release order")
    parser.add_argument("--players-dir", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--host", required=True, help="the built-in host's base URL")
    parser.add_argument("--host-log", type=pair, action="append", default=[],
                        help="NAME=ACCESS_LOG of a server, to count what it sent")
    parser.add_argument("--players", type=int, default=2000)
    parser.add_argument("--at-once", type=int, default=250, help="player processes")
    parser.add_argument("--hold", type=hold, action="append", required=True,
                        help="RELEASE:SHARE, the share of players installed at RELEASE")
    parser.add_argument("--baseline", help="the results of the run without a fault")
    parser.add_argument("--touch-at", nargs=2, metavar=("SECONDS", "PATH"),
                        help="creates PATH this long after the start: a fault from then on")
    parser.add_argument("--resume-file", help="the file the resume run counts")
    parser.add_argument("--seconds", type=float, default=300, help="the round's bound")
    parser.add_argument("--seed", type=int, default=11)
    args = parser.parse_args(argv[1:])
    os.makedirs(args.out, exist_ok=True)
    run(args)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
