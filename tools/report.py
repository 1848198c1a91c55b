#!/usr/bin/env python3
"""Prints what one launcher run under Wine did, for people to read."""
import argparse
import json
import os
import subprocess


def section(title):
    print(f"\n== {title}")


def main():
    parser = argparse.ArgumentParser()
    for name in ("splash", "dialogs", "requests", "install", "prefix", "exit-code", "screenshot"):
        parser.add_argument(f"--{name}", required=True)
    args = parser.parse_args()

    section("splash window")
    try:
        splash = json.load(open(args.splash)).get("splash", {})
        print(f"at x {splash['x']}, y {splash['y']}, {splash['width']} x {splash['height']} pixels")
    except (OSError, ValueError, KeyError):
        print("not seen")
    print(f"screenshot: {args.screenshot}")

    section("dialogs, in order, with the answer given")
    with open(args.dialogs, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            dialog = json.loads(line)["dialog"]
            text = dialog["text"].replace("\r\n", " / ").replace("\n", " / ")
            buttons = "/".join(b["text"].replace("&", "") for b in dialog["buttons"])
            print(f"{number}. [{dialog['caption']}] {text or '(folder browser)'}")
            print(f"   owner: {dialog['owner_class'] or 'none'}; buttons: {buttons}; "
                  f"answered: {dialog['answer']}")

    section("requests to the download server")
    with open(args.requests) as f:
        for line in f:
            print("  " + line.strip())

    section("install folder C:\\Corvane\\Velkaris")
    if os.path.isdir(args.install):
        for folder, _, files in sorted(os.walk(args.install)):
            for name in sorted(files):
                path = os.path.join(folder, name)
                print(f"  {os.path.relpath(path, args.install):32} {os.path.getsize(path):>9} bytes")
        version = os.path.join(args.install, "patcher_version")
        if os.path.exists(version):
            print(f"  patcher_version holds {open(version, 'rb').read()!r}")
    else:
        print("  not created")

    section("registry")
    wine = "/usr/lib/wine/wine"
    query = subprocess.run([wine, "reg", "query", "HKLM\\Software\\Velkaris_TW", "/v", "Path"],
                           capture_output=True, text=True, errors="replace", timeout=60)
    lines = [l.strip() for l in query.stdout.splitlines() if "Path" in l]
    print("  " + (lines[0] if lines else "HKLM\\Software\\Velkaris_TW has no Path"))

    section("shortcuts")
    found = False
    # The desktop of a Wine prefix is a link to the Unix home folder.
    for root, _, files in os.walk(os.path.join(args.prefix, "drive_c"), followlinks=True):
        for name in files:
            if name == "Velkaris.lnk":
                found = True
                print("  " + os.path.relpath(os.path.join(root, name), args.prefix))
    if not found:
        print("  none")

    section("patcher")
    # The stand-in patcher records, in UTF-16 with a NUL after each field,
    # its command line, its current directory and its arguments.
    record = os.path.join(args.install, "stand_in_record.bin")
    if os.path.exists(record):
        fields = open(record, "rb").read().decode("utf-16-le").split("\0")
        print(f"  command line: {fields[0]}")
        print(f"  current directory: {fields[1]}")
        print(f"  arguments: {[f for f in fields[2:] if f]}")
    else:
        print("  not started (no record of the stand-in patcher)")

    section("exit code")
    print(f"  {args.exit_code}")


if __name__ == "__main__":
    main()
