#!/usr/bin/env python3
"""Holds every `#include "..."` of ours to the layer table
(tools/include-layers.txt): a folder includes its own headers and what its
line names, nothing else. Also fails when the table lets folders include
each other in a circle, when a folder with sources has no line, and when
the README's Layout table shows other "Includes" than the table.

Usage: check-includes.py [--root DIR] [--write-readme]
  --root DIR      the checkout (default: this script's)
  --write-readme  write the table's "Includes" into the README first
Exit status 0 when everything holds, 1 with one line a fault on stderr."""
import argparse
import os
import re
import sys

TABLE = "tools/include-layers.txt"
README = "README.md"
README_SECTION = "## Layout"
SOURCE_ENDINGS = (".h", ".hpp", ".c", ".cc", ".cpp", ".rc")
TEMPLATE_ENDING = ".in"  # configured into the source named without it
SKIPPED_FOLDERS = {"build"}  # build output, third-party sources among it
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
# "| `folder/` | what it holds | includes |"; the middle cell may hold "|".
README_ROW = re.compile(r"^\| `([^`/]+/)` \|.*\|([^|]*)\|\s*$")
NOTHING_OURS = "nothing of ours"


def top_folder(path):
    return path.split("/", 1)[0] + "/"


def read_table(root):
    """The table as {folder: [entries]} in the file's order, and its faults."""
    table, faults = {}, []
    with open(os.path.join(root, TABLE), encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            where, folder, entries = f"{TABLE}:{number}", words[0], words[1:]
            if top_folder(folder) != folder:
                faults.append(f"{where}: {folder} is not a top-level folder ending in /")
            elif folder in table:
                faults.append(f"{where}: a second line for {folder}")
            else:
                table[folder] = entries
    for folder, entries in table.items():
        for entry in entries:
            if top_folder(entry) not in table or not os.path.exists(os.path.join(root, entry)):
                faults.append(f"{TABLE}: {folder} may include {entry}, which is no folder or "
                              f"file of a folder in the table")
    return table, faults


def find_circle(table):
    """Folders that the table lets include each other in a circle, or None."""
    edges = {folder: sorted({top_folder(e) for e in entries} - {folder})
             for folder, entries in table.items()}
    done = set()

    def visit(path):
        for following in edges.get(path[-1], []):
            if following in path:
                return path[path.index(following):] + [following]
            if following not in done:
                circle = visit(path + [following])
                if circle:
                    return circle
        done.add(path[-1])
        return None

    for folder in table:
        circle = None if folder in done else visit([folder])
        if circle:
            return circle
    return None


def sources(root):
    """Every source of ours, as a path relative to root with "/"."""
    for top in sorted(os.listdir(root)):
        if top.startswith(".") or top in SKIPPED_FOLDERS or not os.path.isdir(
                os.path.join(root, top)):
            continue
        for folder, subfolders, names in os.walk(os.path.join(root, top)):
            subfolders[:] = sorted(s for s in subfolders if not s.startswith("."))
            for name in sorted(names):
                stem = name[:-len(TEMPLATE_ENDING)] if name.endswith(TEMPLATE_ENDING) else name
                if stem.endswith(SOURCE_ENDINGS):
                    yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def included_path(root, source, text):
    """What an include names: a file beside the source, else a path from root
    (a header made at build time included by its folder's name)."""
    beside = os.path.normpath(os.path.join(os.path.dirname(source), text))
    if os.path.isfile(os.path.join(root, beside)):
        return beside.replace(os.sep, "/")
    return os.path.normpath(text).replace(os.sep, "/")


def may_include(table, folder, target):
    return top_folder(target) == folder or any(
        target == entry or (entry.endswith("/") and target.startswith(entry))
        for entry in table[folder])


def check_sources(root, table):
    faults, checked = [], 0
    unlisted = set()
    for source in sources(root):
        folder = top_folder(source)
        if folder not in table:
            unlisted.add(folder)
            continue
        checked += 1
        with open(os.path.join(root, source), encoding="utf-8", errors="replace") as lines:
            for number, line in enumerate(lines, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = included_path(root, source, match.group(1))
                if not may_include(table, folder, target):
                    faults.append(f"{source}:{number}: includes {match.group(1)}, which {folder} "
                                  f"may not ({TABLE})")
    faults += [f"{folder} holds sources but has no line in {TABLE}" for folder in sorted(unlisted)]
    return faults, checked


def shown_includes(entries):
    return ", ".join(f"`{entry}`" for entry in entries) if entries else NOTHING_OURS


def check_readme(root, table, write):
    """The Layout table's Includes against the table; rewritten when asked."""
    path = os.path.join(root, README)
    with open(path, encoding="utf-8") as readme:
        lines = readme.read().split("\n")
    faults, rows = [], set()
    in_layout = False
    for index, line in enumerate(lines):
        if line.startswith("## "):
            in_layout = line.strip() == README_SECTION
        match = README_ROW.match(line) if in_layout else None
        if not match:
            continue
        folder, shown = match.group(1), match.group(2).strip()
        rows.add(folder)
        wanted = shown_includes(table[folder]) if folder in table else ""
        if shown == wanted:
            continue
        if write:
            cell = f" {wanted} " if wanted else " "
            lines[index] = line[:match.start(2)] + cell + line[match.end(2):]
        else:
            faults.append(f"{README}:{index + 1}: {folder} shows the includes '{shown}', "
                          f"{TABLE} '{wanted}' (--write-readme writes them)")
    faults += [f"{README}: the Layout table has no row for {folder}"
               for folder in table if folder not in rows]
    if write:
        with open(path, "w", encoding="utf-8") as readme:
            readme.write("\n".join(lines))
    return faults


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--write-readme", action="store_true")
    args = parser.parse_args(argv)
    table, faults = read_table(args.root)
    circle = find_circle(table)
    if circle:
        faults.append(f"{TABLE} lets folders include each other in a circle: "
                      + " -> ".join(circle))
    faults += check_readme(args.root, table, args.write_readme)
    source_faults, checked = check_sources(args.root, table)
    faults += source_faults
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        return 1
    print(f"includes: {checked} sources keep to {TABLE}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
