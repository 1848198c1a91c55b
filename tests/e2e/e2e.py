#!/usr/bin/env python3
"""Helpers of the end-to-end harness (tests/e2e/lib.sh) and of the main-job
report: turn what the driver, the servers and the stand-in patcher recorded
into plain lines that a scenario compares with what it expects.

  e2e.py dialogs FILE           one line per dialog from the driver's JSON lines
  e2e.py splash FILE            "x,y widthxheight" of the splash the driver saw
  e2e.py error-text FILE        the system's error text the driver read
  e2e.py requests FILE [SKIP]   "GET /path" per request after the first SKIP
                                lines of an nginx or test-server log
  e2e.py request-runs FILE SKIP the run id each of those requests carried, "-"
                                for none
  e2e.py run-log SEEN OUT ROOT... [-- WORD...]
                                writes to OUT the lines of the one run whose
                                id is not yet in the file SEEN (which it is
                                added to), from the launcher.log files below
                                the ROOTs; prints those that name a local path
                                or a WORD, in any letter case and in any
                                encoding Windows could write it in
  e2e.py record FILE            the stand-in patcher's record, one field a line
  e2e.py links FILE             one line per shell link read back by the driver
  e2e.py port-free PORT SECS    wait until 127.0.0.1:PORT can be bound
  e2e.py written-outside ROOT MARKER KEEP...
                                files below ROOT newer than MARKER, except
                                below the folders KEEP (relative to ROOT)
"""
import json
import os
import re
import socket
import sys
import time

POLL_SECONDS = 0.05
NGINX_REQUEST = re.compile(r'"(\w+) (\S+) HTTP/[\d.]+"')
NGINX_RUN = re.compile(r' run=(\S+)\s*$')
NO_RUN = "-"
SUPPORT_LOG_NAMES = ("launcher.log", "launcher.log.1")
LOG_RUN = re.compile(rb' run=([0-9a-f]+) ')
# A value's escapes as the launcher writes them.
LOG_ESCAPE = re.compile(rb'\\x([0-9a-f]{2})|\\(.)')
LOCAL_PATH = re.compile(rb'(?i)\b[a-z]:[\\/]|\\\\[a-z0-9]')
ENCODINGS = ("utf-8", "cp950", "utf-16-le")


def visible(text):
    """Line ends shown as \\r and \\n so a dialog stays on one line."""
    return text.replace("\r", "\\r").replace("\n", "\\n")


def json_lines(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line:
                yield json.loads(line)


def owner_of(dialog):
    if dialog.get("owner_is_splash"):
        return "splash"
    return dialog["owner_class"] or "none"


def dialog_lines(path):
    lines = []
    for entry in json_lines(path):
        if "error" in entry:
            lines.append(f"driver error: {entry['error']}")
        if "dialog" not in entry:
            continue
        d = entry["dialog"]
        buttons = ",".join(b["text"].replace("&", "") for b in d["buttons"])
        line = f"{d['caption']} | {visible(d['text'])} | owner: {owner_of(d)} | {buttons}"
        if "selection" in d:
            line += f" | selected: {d['selection']}"
        line += f" | {d['answer']}"
        if not d.get("scripted", True):
            line += " (unscripted)"
        lines.append(line)
    return lines


def splash_lines(path):
    for entry in json_lines(path):
        if "splash" in entry:
            s = entry["splash"]
            return [f"{s['x']},{s['y']} {s['width']}x{s['height']}"]
    return ["no splash seen"]


def error_text_lines(path):
    return [visible(entry["error_text"]["text"]) for entry in json_lines(path)
            if "error_text" in entry]


def logged_requests(path, skip):
    """("GET /path", run id or "-") per request after the first SKIP lines
    of an nginx or test-server log."""
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f):
            if number < skip or not line.strip():
                continue
            if line.startswith("{"):
                entry = json.loads(line)
                yield f"{entry['method']} {entry['target']}", entry.get("run", NO_RUN)
            else:
                request, run = NGINX_REQUEST.search(line), NGINX_RUN.search(line)
                yield (f"{request.group(1)} {request.group(2)}" if request else line.strip(),
                       run.group(1) if run else NO_RUN)


def request_lines(path, skip=0):
    return [request for request, _ in logged_requests(path, skip)]


def request_runs(path, skip):
    return [run for _, run in logged_requests(path, skip)]


def support_log_files(roots):
    for root in roots:
        for folder, dirs, files in os.walk(root):
            dirs[:] = [d for d in dirs if d.lower() != "windows"]
            for name in files:
                if name.lower() in SUPPORT_LOG_NAMES:
                    yield os.path.join(folder, name)


def run_log(seen_path, roots):
    """The new run's lines (bytes) as the file holding most of them has
    them: the install folder's log holds the whole run, the temporary
    folder's its beginning."""
    seen = set(open(seen_path).read().split()) if os.path.exists(seen_path) else set()
    runs = {}
    for path in support_log_files(roots):
        with open(path, "rb") as f:
            for line in f:
                match = LOG_RUN.search(line)
                if match and match.group(1).decode() not in seen:
                    runs.setdefault(match.group(1).decode(), {}).setdefault(path, []).append(line)
    if len(runs) != 1:
        print(f"{len(runs)} new runs in the support logs below {' '.join(roots)}", file=sys.stderr)
        return 1, []
    run, files = runs.popitem()
    with open(seen_path, "a") as f:
        f.write(run + "\n")
    return 0, max(files.values(), key=len)


def unescaped(line):
    return LOG_ESCAPE.sub(lambda m: bytes([int(m.group(1), 16)]) if m.group(1) else m.group(2),
                          line)


def private_lines(lines, words):
    forms = [w.lower().encode(e) for w in words if w for e in ENCODINGS
             if w.lower().encode(e, errors="ignore") == w.lower().encode(e, errors="replace")]
    found = []
    for line in lines:
        raw = unescaped(line.rstrip(b"\r\n"))
        if LOCAL_PATH.search(raw) or any(form in raw.lower() for form in forms):
            found.append(line.decode("latin-1").rstrip("\r\n"))
    return found


def record_lines(path):
    """The stand-in writes UTF-16 fields, each ended by a NUL: the command
    line (shown in brackets: its end matters), the current directory, then
    the arguments."""
    fields = open(path, "rb").read().decode("utf-16-le").split("\0")[:-1]
    lines = [f"command line: [{fields[0]}]", f"directory: {fields[1]}"]
    lines += [f"argument {i}: {arg}" for i, arg in enumerate(fields[2:])]
    return lines


def link_lines(path):
    lines = []
    for entry in json_lines(path):
        link = entry.get("link")
        if link is None:
            continue
        if not link["exists"]:
            lines.append(f"{link['path']}: missing")
        elif not link["readable"]:
            lines.append(f"{link['path']}: unreadable")
        else:
            lines.append(f"{link['path']}: target {link['target']} | description "
                         f"{link['description']} | icon {link['icon']},{link['icon_index']} | "
                         f"arguments '{link['arguments']}' | folder '{link['working_directory']}'")
    return lines


def wait_port_free(port, seconds):
    deadline = time.monotonic() + seconds
    while True:
        with socket.socket() as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind(("127.0.0.1", port))
                return 0
            except OSError:
                pass
        if time.monotonic() >= deadline:
            print(f"port {port} still taken after {seconds} s")
            return 1
        time.sleep(POLL_SECONDS)


def written_outside(root, marker, keep):
    since = os.stat(marker).st_mtime_ns
    kept = [os.path.join(root, k) for k in keep]
    found = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) not in kept]
        for name in files:
            path = os.path.join(folder, name)
            if os.lstat(path).st_mtime_ns > since:
                found.append(os.path.relpath(path, root))
    return sorted(found)


def main(argv):
    command, args = argv[1], argv[2:]
    if command == "port-free":
        return wait_port_free(int(args[0]), float(args[1]))
    if command == "dialogs":
        lines = dialog_lines(args[0])
    elif command == "splash":
        lines = splash_lines(args[0])
    elif command == "error-text":
        lines = error_text_lines(args[0])
    elif command == "requests":
        lines = request_lines(args[0], int(args[1]) if len(args) > 1 else 0)
    elif command == "request-runs":
        lines = request_runs(args[0], int(args[1]))
    elif command == "run-log":
        roots, words = (args[2:args.index("--")], args[args.index("--") + 1:]) if "--" in args \
            else (args[2:], [])
        status, run = run_log(args[0], roots)
        if status:
            return status
        with open(args[1], "wb") as out:
            out.writelines(run)
        lines = private_lines(run, words)
    elif command == "record":
        lines = record_lines(args[0])
    elif command == "links":
        lines = link_lines(args[0])
    elif command == "written-outside":
        lines = written_outside(args[0], args[1], args[2:])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for line in lines:
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
