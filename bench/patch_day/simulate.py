#!/usr/bin/env python3
"""The patch-day simulation's players, publish and accounting, driven by
bench/patch_day/simulate.sh (which builds the programs, publishes the first
releases and runs the servers).

  simulate.py builds DIR
      three build folders DIR/A, DIR/B, DIR/C for velkaris-publish: B changes
      the patcher and the two locales files of A; C changes the patcher, the
      two locales files and big.pak (4 MiB), which A and B leave alone.
  simulate.py snapshot TREE DIR
      a copy of the release TREE serves now (record, list, patcher, listed
      files, signed manifest) in DIR, with DIR/release.json: what each of its
      files holds.
  simulate.py run OPTIONS -- PUBLISH_COMMAND...
      one run: the players' installs at release A, the storm with the publish
      of C in its middle, every player once more, the accounting; see --help.
  simulate.py table SUMMARY.json...
      the result table of the runs.
"""
import argparse
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import time

RECORD = "patcher_version"
LIST = "patcher_files_version"
PATCHER = "VelkarisPatcher32.vke"
MANIFEST = ("release_manifest", "release_manifest.sig")
# The server's record as the last verified start kept it: the release an
# install was on, and with it the floor no older record goes below.
KEPT_RECORD = "release_record"
LAUNCHER = "VelkarisLauncher.exe"
INSTALL = os.path.join("C", "Games", "Velkaris")
BOXES = "boxes.txt"
BIG_FILE = "big.pak"
BIG_BYTES = 4 << 20
SMALL_BYTES = 16 << 10
PATCHER_BYTES = 256 << 10
# The builds' files get these times (seconds after the epoch), one build
# after the other: the validators nginx derives from time and size differ
# between releases as they do between real builds.
BUILD_TIMES = {"A": 1_700_000_000, "B": 1_700_086_400, "C": 1_700_172_800}
# Files an install gets as copies of its own: the launcher rewrites them in
# place. The others are renamed over (or never touched) and are shared links.
REWRITTEN = (RECORD, "locales/zh_TW.txt", "locales/en_US.txt", BIG_FILE)
# Every wait is bounded.
ROUND_SECONDS = 240  # a signed launcher may wait 2 minutes for a switch
PUBLISH_SECONDS = 180
GATE_SECONDS = 3.0  # for every player process to be up before the start
EXIT_NAMES = {0: "patcher started", 1: "stopped with a box", 255: "ended (-1) after a box"}
PERCENTILES = (0.50, 0.99)


def outcome_fields(lines, boxes, states):
    """How the players' processes ended, the boxes they met, and what each
    harmed player was left with."""
    return {
        "exits": {EXIT_NAMES.get(c, f"exit {c}"): sum(1 for v in lines.values() if v[0] == c)
                  for c in sorted({v[0] for v in lines.values()})},
        "box_kinds": sorted({b for r in boxes for b in boxes[r]}),
        "harmed": {os.path.basename(r): s[3] for r, s in states.items() if s[3]},
    }


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest()


def write(path, data, when):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (when, when))


# ---- builds and releases ----

def make_builds(folder):
    rng = random.Random(1)
    for name, when in BUILD_TIMES.items():
        build = os.path.join(folder, name)
        def put(path, data):
            write(os.path.join(build, path), data, when)
        put(PATCHER, f"patcher of release {name}\n".encode() + rng.randbytes(PATCHER_BYTES))
        # A signed release must carry the launcher; no release changes it.
        put(LAUNCHER, b"launcher of every release\n")
        put("readme.txt", b"Velkaris: read me.\r\n")
        for locale in ("zh_TW", "en_US"):
            put(f"locales/{locale}.txt", f"{locale} of {name}\r\n".encode() + rng.randbytes(SMALL_BYTES))
        # Zeros until C: an install holds it as a sparse file at no cost.
        put(BIG_FILE, rng.randbytes(BIG_BYTES) if name == "C" else bytes(BIG_BYTES))


def read_record(path):
    with open(path, "rb") as f:
        text = f.read().split(b"\x1a")[0].decode("ascii", "replace")
    return int(text.split("\r\n")[0])


def read_list(path):
    entries = {}
    with open(path, "rb") as f:
        for line in f.read().decode("ascii", "replace").split("\r\n"):
            if line.strip():
                name, number = line.rsplit(" ", 1)
                entries[name] = int(number)
    return entries


def server_path(name):
    return name.replace("\\", "/")


def snapshot(tree, folder):
    """Copies what TREE serves now and describes it in folder/release.json."""
    names = [RECORD, LIST, PATCHER] + [m for m in MANIFEST if os.path.exists(os.path.join(tree, m))]
    entries = read_list(os.path.join(tree, LIST))
    names += [server_path(name) for name in entries]
    for name in names:
        target = os.path.join(folder, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(tree, name), target)
    release = {
        "record": read_record(os.path.join(folder, RECORD)),
        "list": sha256(os.path.join(folder, LIST)),
        "patcher": sha256(os.path.join(folder, PATCHER)),
        "files": {name: [number, sha256(os.path.join(folder, server_path(name)))]
                  for name, number in entries.items()},
        "names": names,
    }
    with open(os.path.join(folder, "release.json"), "w") as f:
        json.dump(release, f)


def load_release(folder):
    with open(os.path.join(folder, "release.json")) as f:
        return json.load(f)


# ---- players ----

def make_installs(releases_dir, installed):
    """A machine for each root of INSTALLED whose install folder holds the
    release named there as installed; a signed one as kept by the last
    verified start."""
    names, zeros = {}, {}
    for name in set(installed.values()):
        folder = os.path.join(releases_dir, name)
        names[name] = load_release(folder)["names"]
        with open(os.path.join(folder, BIG_FILE), "rb") as f:
            zeros[name] = not any(f.read())
    for root, name in installed.items():
        folder = os.path.join(releases_dir, name)
        install = os.path.join(root, INSTALL)
        os.makedirs(os.path.join(install, "locales"))
        for file in names[name]:
            source, target = os.path.join(folder, file), os.path.join(install, file)
            if file == BIG_FILE and zeros[name]:
                with open(target, "wb") as f:
                    f.truncate(os.path.getsize(source))  # as a hole
            elif file in REWRITTEN:
                shutil.copyfile(source, target)
            else:
                os.link(source, target)
        if MANIFEST[0] in names[name]:
            shutil.copyfile(os.path.join(folder, RECORD), os.path.join(install, KEPT_RECORD))


def storm_plan(args):
    """The storm's processes, each (edge, [(root, start ms)]), and the
    release each player holds. Each process's first player is one version
    behind and starts at once: the first wave, every process updating at
    the same moment. The others start spread over the storm, most of them
    up to date until the publish, a few behind (BEHIND_SHARE): the list is
    asked for far less often than the record, as on a real patch day."""
    rng = random.Random(args.seed)
    processes_per_edge = max(1, args.at_once // len(args.edge))
    plan, installed = [], {}
    for edge in range(len(args.edge)):
        mine = [os.path.join(args.players_dir, f"p{i:05d}")
                for i in range(edge, args.players, len(args.edge))]
        for slot in range(processes_per_edge):
            players = mine[slot::processes_per_edge]
            if not players:
                continue
            starts = [(players[0], 0)] + sorted(
                ((root, rng.uniform(0, args.spread * 1000)) for root in players[1:]),
                key=lambda p: p[1])
            installed[players[0]] = "A"
            for root in players[1:]:
                installed[root] = "A" if rng.random() < args.behind_share else "B"
            plan.append((edge, starts))
    return plan, installed


def second_start_plan(plan, behind):
    """Every player once more, back to back in the same number of processes
    per edge; the players still behind dealt out first, so that the first
    wave is as many updates at once as there are processes."""
    again = []
    for edge in sorted({e for e, _ in plan}):
        batches = [[] for e, _ in plan if e == edge]
        players = [root for e, starts in plan if e == edge for root, _ in starts]
        players.sort(key=lambda root: root not in behind)
        for i, root in enumerate(players):
            batches[i % len(batches)].append((root, 0))
        again += [(edge, batch) for batch in batches]
    return again


class Releases:
    """What each release's files hold, to tell the age of a player's files."""

    def __init__(self, folders):
        self.order = [load_release(folder) for folder in folders]
        self.by_record = {r["record"]: i for i, r in enumerate(self.order)}
        self.by_list = {r["list"]: i for i, r in enumerate(self.order)}
        self.by_patcher = {r["patcher"]: i for i, r in enumerate(self.order)}
        self.numbers = {}  # (name, sha256) -> number
        for r in self.order:
            for name, (number, digest) in r["files"].items():
                self.numbers[(name, digest)] = number

    def state(self, root):
        """(release index of the record, of the list, of the patcher, harms)."""
        install = os.path.join(root, INSTALL)
        harms = []
        def release_of(table, path, reader=sha256):
            try:
                return table.get(reader(path))
            except (OSError, ValueError, IndexError):
                return None
        record = release_of(self.by_record, os.path.join(install, RECORD), read_record)
        listed = release_of(self.by_list, os.path.join(install, LIST))
        patcher = release_of(self.by_patcher, os.path.join(install, PATCHER))
        if listed is None:
            harms.append("list unknown")
            entries = {}
        else:
            entries = self.order[listed]["files"]
        for name, (number, _) in entries.items():
            path = os.path.join(install, server_path(name))
            if not os.path.exists(path):
                harms.append(f"{name} missing")
                continue
            held = self.numbers.get((name, sha256(path)))
            if held is None:
                harms.append(f"{name} unknown bytes")
            elif held < number:
                harms.append(f"{name} {held} < list {number}")
        if record is None:
            harms.append("record unknown")
        elif listed is not None and record > listed:
            harms.append(f"record {self.order[record]['record']} newer than list of "
                         f"{self.order[listed]['record']}")
        return record, listed, patcher, harms


def run_round(binary, signed, edges, batches, results):
    """Every batch (edge index, [(root, start ms)]) in a process of its own,
    all from one common start; returns the results' lines by root."""
    start = time.monotonic_ns() + int(GATE_SECONDS * 1e9)
    env = dict(os.environ, PATCH_DAY_START=str(start))
    for key in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"):
        env.pop(key, None)
    processes = []
    for edge, players in batches:
        command = [binary] + (["--signed"] if signed else []) + [edges[edge], results]
        command += [f"{root}@{int(ms)}" for root, ms in players]
        processes.append(subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL))
    return processes, start


def wait_all(processes, deadline):
    for process in processes:
        try:
            process.wait(timeout=max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return [p.returncode for p in processes if p.returncode != 0]


def read_results(path):
    lines = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                root, code, begun, ended = line.split()
                lines[root] = (int(code), float(begun), float(ended))
    return lines


def take_boxes(roots):
    seen = {}
    for root in roots:
        path = os.path.join(root, BOXES)
        if os.path.exists(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                seen[root] = [line.rstrip("\n") for line in f]
            os.remove(path)
    return seen


def peak_at_once(intervals):
    events = sorted([(b, 1) for b, _ in intervals] + [(e, -1) for _, e in intervals])
    now = peak = 0
    for _, step in events:
        now += step
        peak = max(peak, now)
    return peak


def percentile(values, share):
    if not values:
        return 0.0
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * (len(ordered) - 1) + 0.5))]


def log_answers(path):
    """(request, status, body bytes) of each line of an nginx access log
    whose fields from the request on are '"REQUEST" STATUS BYTES ...'."""
    with open(path, errors="replace") as f:
        for line in f:
            request, rest = line.split('"', 1)[1].split('" ', 1)
            status, body = rest.split()[:2]
            yield request, status, int(body)


def log_totals(path):
    """(requests, body bytes, 304 answers) of an nginx access log."""
    answers = list(log_answers(path))
    return (len(answers), sum(body for _, _, body in answers),
            sum(1 for _, status, _ in answers if status == "304"))


def run(args):
    releases_dir = args.releases
    plan, installed = storm_plan(args)
    make_installs(releases_dir, installed)
    roots = sorted(installed)
    releases = Releases([os.path.join(releases_dir, n) for n in ("A", "B")])
    summary = {"label": args.label, "players": len(roots), "processes": len(plan),
               "behind": sum(1 for n in installed.values() if n == "A"),
               "fresh": args.fresh, "settle": args.settle, "signed": args.signed}
    outcome = {}
    for round_name in ("storm", "again"):
        results = os.path.join(args.out, f"{round_name}.results")
        before = {root: releases.state(root)[0] for root in roots}
        if round_name == "again":
            newest = len(releases.order) - 1
            plan = second_start_plan(plan, {r for r in roots if before[r] != newest})
        processes, start = run_round(args.player, args.signed, args.edge, plan, results)
        deadline = time.monotonic() + ROUND_SECONDS
        if round_name == "storm":
            publish_at = start / 1e9 + args.publish_at
            time.sleep(max(0.0, publish_at - time.monotonic()))
            begun = time.monotonic()
            subprocess.run(args.publish, check=True, timeout=PUBLISH_SECONDS,
                           stdout=subprocess.DEVNULL)
            published = time.monotonic()
            summary["publish_began_s"] = round(begun - start / 1e9, 1)
            summary["publish_seconds"] = round(published - begun, 1)
            snapshot(args.tree, os.path.join(releases_dir, "C"))
            releases = Releases([os.path.join(releases_dir, n) for n in ("A", "B", "C")])
        failed = wait_all(processes, deadline)
        if round_name == "storm":
            # Once the publish is done: no edge holds a copy from before it.
            time.sleep(max(0.0, published + args.fresh + 1 - time.monotonic()))
        lines = read_results(results)
        boxes = take_boxes(roots)
        states = {root: releases.state(root) for root in roots}
        newest = len(releases.order) - 1
        errors = sorted(r for r in roots if boxes.get(r) or lines.get(r, (0,))[0] != 0)
        # An update: a run that moved the record on, or one that saw an error.
        updates = {r: v for r, v in lines.items() if states[r][0] != before[r] or r in errors}
        times = [end - begin for root, (code, begin, end) in updates.items() if code == 0]
        outcome[round_name] = {
            "ran": len(lines),
            "missing": sorted(os.path.basename(r) for r in roots if r not in lines),
            "process_failures": len(failed),
            **outcome_fields(lines, boxes, states),
            "errors": [os.path.basename(r) for r in errors],
            "patcher_behind_record": sorted(os.path.basename(r) for r, s in states.items()
                                            if s[0] is not None and s[2] is not None and s[2] < s[0]),
            "on_new_release": sum(1 for s in states.values()
                                  if s[0] == newest and s[1] == newest and s[2] == newest and not s[3]),
            "updated": len(updates),
            "p50_ms": round(percentile(times, PERCENTILES[0])),
            "p99_ms": round(percentile(times, PERCENTILES[1])),
            "peak_at_once": peak_at_once([(v[1], v[2]) for v in updates.values()]),
            "seconds": round(max([v[2] for v in lines.values()] or [0]) / 1000, 1),
        }
    origin = log_totals(args.origin_log)
    edges = [log_totals(path) for path in args.edge_log]
    summary.update(outcome)
    summary["origin"] = {"requests": origin[0], "body_bytes": origin[1], "answered_304": origin[2]}
    summary["players_received"] = sum(e[1] for e in edges)
    summary["edge_requests"] = sum(e[0] for e in edges)
    summary["origin_share"] = round(origin[1] / max(1, summary["players_received"]), 4)
    with open(os.path.join(args.out, "summary.json"), "w") as f:
        json.dump(summary, f, indent=1)
    print_summary(summary)


def print_summary(s):
    print(f"== {s['label']}: {s['players']} players ({s['behind']} behind) in {s['processes']} processes; edges keep "
          f"copies {s['fresh']} s; publish {'--settle ' + str(s['settle']) if s['settle'] else 'without --settle'}"
          f"{', signed' if s['signed'] else ''}; publish began at {s['publish_began_s']} s "
          f"and took {s['publish_seconds']} s")
    for name in ("storm", "again"):
        r = s[name]
        harmed = ", ".join(f"{p} ({'; '.join(h)})" for p, h in sorted(r["harmed"].items())[:20])
        print(f"  {name}: {r['ran']} ran ({r['exits']}), {r['seconds']} s, at once at most "
              f"{r['peak_at_once']}; updated {r['updated']}: p50 {r['p50_ms']} ms, p99 {r['p99_ms']} ms")
        print(f"    harmed {len(r['harmed'])}{': ' + harmed if harmed else ''}")
        print(f"    saw an error {len(r['errors'])}{': ' + ', '.join(r['errors'][:20]) if r['errors'] else ''}")
        for box in r["box_kinds"]:
            print(f"      box: {box}")
        print(f"    on the new release {r['on_new_release']}; patcher older than record "
              f"{len(r['patcher_behind_record'])}; not run {len(r['missing'])}")
    o = s["origin"]
    print(f"  origin sent {o['body_bytes']} body bytes in {o['requests']} answers ({o['answered_304']} "
          f"x 304); players received {s['players_received']} in {s['edge_requests']}: "
          f"{100 * s['origin_share']:.2f} %")


def table(paths):
    rows = [json.load(open(p)) for p in paths]
    print("| run | edges keep copies | harmed (storm / end) | on C after the 2nd start "
          "| saw an error (storm / 2nd) | origin body bytes / players' | origin 304s "
          "| update p50 / p99 ms (storm) | (2nd start) | updating at once (storm / 2nd) |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for s in rows:
        a, b = s["storm"], s["again"]
        publish = f"--settle {s['settle']}" if s["settle"] else "no --settle"
        print(f"| {'signed' if s['signed'] else 'unsigned'}, {publish} | {s['fresh']} s | "
              f"{len(a['harmed'])} / {len(b['harmed'])} | {b['on_new_release']} / {s['players']} | "
              f"{len(a['errors'])} / {len(b['errors'])} | "
              f"{s['origin']['body_bytes'] / 2**20:.1f} MiB / {s['players_received'] / 2**20:.0f} MiB "
              f"({100 * s['origin_share']:.2f} %) | {s['origin']['answered_304']} | "
              f"{a['p50_ms']} / {a['p99_ms']} | {b['p50_ms']} / {b['p99_ms']} | "
              f"{a['peak_at_once']} / {b['peak_at_once']} |")


def main(argv):
    if len(argv) > 1 and argv[1] == "builds":
        return make_builds(argv[2])
    if len(argv) > 1 and argv[1] == "snapshot":
        return snapshot(argv[2], argv[3])
    if len(argv) > 1 and argv[1] == "table":
        return table(argv[2:])
    parser = argparse.ArgumentParser(prog="simulate.py run")
    parser.add_argument("command", choices=["run"])
    parser.add_argument("--label", required=True)
    parser.add_argument("--player", required=True, help="the patch_day_player program")
    parser.add_argument("--signed", action="store_true")
    parser.add_argument("--releases", required=True, help="snapshots A and B; C is made here")
    parser.add_argument("--tree", required=True, help="the origin's release tree")
    parser.add_argument("--players-dir", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--edge", action="append", required=True, help="an edge's base URL")
    parser.add_argument("--edge-log", action="append", required=True)
    parser.add_argument("--origin-log", required=True)
    parser.add_argument("--players", type=int, default=2000)
    parser.add_argument("--at-once", type=int, default=500, help="player processes")
    parser.add_argument("--spread", type=float, default=30, help="seconds the storm's starts span")
    parser.add_argument("--publish-at", type=float, default=15, help="seconds into the storm")
    parser.add_argument("--behind-share", type=float, default=0.04,
                        help="of the players after the first wave, those one version behind")
    parser.add_argument("--fresh", type=int, required=True, help="the edges' copy time")
    parser.add_argument("--settle", type=int, default=0)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("publish", nargs="+", help="after --: the publish of C")
    args = parser.parse_args(argv[1:])
    os.makedirs(args.out, exist_ok=True)
    run(args)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
