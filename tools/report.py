#!/usr/bin/env python3
"""Prints what one launcher run under Wine did, for people to read: from the
folder of a run of the end-to-end harness (tests/e2e/lib.sh) and the facts
the main job gathered after it."""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import e2e  # noqa: E402  (the harness's readers of what the driver and servers recorded)


def section(title):
    print(f"\n== {title}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True, help="the run's folder (driver.jsonl, requests.txt, links.jsonl)")
    parser.add_argument("--install", required=True, help="the install folder, Unix path")
    parser.add_argument("--install-name", required=True, help="the install folder, Windows path")
    parser.add_argument("--registry", required=True, help="the recorded Path, empty for none")
    parser.add_argument("--exit-code", required=True)
    parser.add_argument("--screenshot", required=True)
    args = parser.parse_args()
    driver = os.path.join(args.run, "driver.jsonl")

    section("splash window")
    print(f"  {e2e.splash_lines(driver)[0]} (x,y widthxheight)")
    print(f"  screenshot taken while it showed: {args.screenshot}")

    section("dialogs, in order (caption | text | owner | buttons | answer)")
    dialogs = e2e.dialog_lines(driver)
    for number, line in enumerate(dialogs, 1):
        print(f"  {number}. {line}")
    if not dialogs:
        print("  none")

    section("requests to the download server")
    for line in open(os.path.join(args.run, "requests.txt")):
        print("  " + line.rstrip("\n"))

    section(f"files in the install folder {args.install_name}")
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

    section("registry: HKLM\\Software\\Velkaris_TW, Path")
    print(f"  {args.registry or '(none)'}")

    section("shortcuts, read back through IShellLinkW")
    for line in e2e.link_lines(os.path.join(args.run, "links.jsonl")):
        print("  " + line)

    section("patcher (the stand-in's record)")
    record = os.path.join(args.install, "stand_in_record.bin")
    if os.path.exists(record):
        for line in e2e.record_lines(record):
            print("  " + line)
    else:
        print("  not started")

    section("exit code")
    print(f"  {args.exit_code}")


if __name__ == "__main__":
    main()
