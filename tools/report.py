#!/usr/bin/env python3
"""Prints what one launcher run under Wine did, for people to read: from the
folder of a run of the end-to-end harness (tests/e2e/lib.sh) and the facts
the main job gathered after it."""
import argparse
import hashlib
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import e2e  # noqa: E402  (the harness's readers of what the driver and servers recorded)


def section(title):
    print(f"\n== {title}")


def der_signature(raw):
    """r and s side by side, as the launcher keeps them, in the DER form the
    openssl tool reads (an ASN.1 SEQUENCE of two INTEGERs)."""
    def integer(value):
        value = value.lstrip(b"\0") or b"\0"
        if value[0] & 0x80:
            value = b"\0" + value
        return b"\x02" + bytes([len(value)]) + value
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


def verify_release(install, release, key):
    """The signed manifest the launcher kept: its signature checked again with
    the openssl tool, and every file it names in the install folder hashed."""
    manifest = os.path.join(install, "release_manifest")
    signature = os.path.join(install, "release_manifest.sig")
    if not os.path.exists(manifest) or not os.path.exists(signature):
        print("  NOT verified: the launcher kept no signed manifest")
        return
    raw = open(signature, "rb").read()
    with tempfile.NamedTemporaryFile(suffix=".der") as der:
        der.write(der_signature(raw) if len(raw) == 64 else b"")
        der.flush()
        check = subprocess.run(["openssl", "dgst", "-sha256", "-verify", key, "-signature", der.name,
                                manifest], capture_output=True, text=True)
    print(f"  signature of release_manifest by {key}: {check.stdout.strip() or check.stderr.strip()}")
    same_as_served = open(manifest, "rb").read() == open(os.path.join(release, "release_manifest"), "rb").read()
    print(f"  release_manifest is the one the server published: {'yes' if same_as_served else 'NO'}")
    matched, checked = 0, 0
    for line in open(manifest, "rb").read().decode("ascii").splitlines()[1:]:
        digest, size, path = line.split(" ", 2)
        local = os.path.join(install, path)
        if path == "patcher_version" or not os.path.exists(local):
            continue  # the local record keeps its own second number; unchanged files were not fetched
        checked += 1
        data = open(local, "rb").read()
        if hashlib.sha256(data).hexdigest() == digest and len(data) == int(size):
            matched += 1
    print(f"  files in the install folder matching the signed manifest: {matched} of {checked}")
    verified = check.returncode == 0 and same_as_served and matched == checked
    print(f"  the release was {'verified' if verified else 'NOT verified'}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True, help="the run's folder (driver.jsonl, requests.txt, links.jsonl)")
    parser.add_argument("--install", required=True, help="the install folder, Unix path")
    parser.add_argument("--install-name", required=True, help="the install folder, Windows path")
    parser.add_argument("--registry", required=True, help="the recorded Path, empty for none")
    parser.add_argument("--exit-code", required=True)
    parser.add_argument("--screenshot", required=True)
    parser.add_argument("--release", help="the served release tree, when it was signed")
    parser.add_argument("--release-key", help="the public key the launcher was built with")
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

    if args.release_key:
        section("signed release (launcher built with the DEMO key deploy/demo-key, never for real releases)")
        verify_release(args.install, args.release, args.release_key)


if __name__ == "__main__":
    main()
