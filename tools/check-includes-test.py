#!/usr/bin/env python3
"""The include check (tools/check-includes.py) on a small checkout of its
own, once as laid out and once with each fault planted."""
import contextlib
import importlib.util
import io
import os
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
script = importlib.util.spec_from_file_location("check_includes",
                                                os.path.join(HERE, "check-includes.py"))
check = importlib.util.module_from_spec(script)
script.loader.exec_module(check)

TABLE = """# folder, then what it may include
base/
low/    base/
high/   low/ base/one.h
"""
README = """# A checkout

## Layout

| Folder | What it holds | Includes |
|---|---|---|
| `base/` | the ground | nothing of ours |
| `low/` | a | b | `base/` |
| `high/` | the top | `low/`, `base/one.h` |
| `docs/` | prose | |

## Building
"""
FILES = {
    check.TABLE: TABLE,
    check.README: README,
    "base/one.h": "",
    "base/two.h": "",
    "low/low.h": '#include "base/two.h"\n',
    "high/local.h": "",
    "high/high.cpp": '#include "low/low.h"\n#include "base/one.h"\n#include "local.h"\n',
    "docs/notes.md": '#include "high/local.h"\n',
}


class IncludeCheckTest(unittest.TestCase):
    def run_check(self, planted, *options):
        with tempfile.TemporaryDirectory() as root:
            for path, text in {**FILES, **planted}.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w", encoding="utf-8") as out:
                    out.write(text)
            faults = io.StringIO()
            with contextlib.redirect_stderr(faults), contextlib.redirect_stdout(io.StringIO()):
                status = check.main(["--root", root, *options])
            with open(os.path.join(root, check.README), encoding="utf-8") as readme:
                return status, faults.getvalue(), readme.read()

    def test_a_checkout_as_laid_out_passes(self):
        self.assertEqual(self.run_check({})[:2], (0, ""))

    def test_each_planted_fault_fails_it_by_name(self):
        cases = [
            ("a lower folder includes a higher one",
             {"low/up.cpp": '// below\n  #  include "high/local.h"\n'},
             "low/up.cpp:2: includes high/local.h"),
            ("a path beside the source reaches into another folder",
             {"low/beside.cpp": '#include "../high/local.h"\n'},
             "low/beside.cpp:1: includes ../high/local.h"),
            ("a header of a folder of which only another may be included",
             {"high/more.h": '#include "base/two.h"\n'},
             "high/more.h:1: includes base/two.h"),
            ("a template configured into a source",
             {"base/made.h.in": '#include "low/low.h"\n'},
             "base/made.h.in:1: includes low/low.h"),
            ("a folder with sources and no line",
             {"extra/x.cpp": ""},
             "extra/ holds sources but has no line"),
            ("a table that lets folders include each other in a circle",
             {check.TABLE: TABLE.replace("base/\n", "base/   high/\n")},
             "in a circle: base/ -> high/ -> base/"),
            ("a table line naming what is not there",
             {check.TABLE: TABLE.replace("base/one.h", "base/none.h")},
             "high/ may include base/none.h, which is no folder or file"),
            ("a README that shows other includes",
             {check.README: README.replace("`low/`, `base/one.h`", "`low/`")},
             "high/ shows the includes '`low/`'"),
            ("a README without a folder's row",
             {check.README: README.replace("| `base/` | the ground | nothing of ours |\n", "")},
             "the Layout table has no row for base/"),
        ]
        for what, planted, fault in cases:
            with self.subTest(what):
                status, faults, _ = self.run_check(planted)
                self.assertEqual(status, 1)
                self.assertIn(fault, faults)

    def test_the_readme_is_written_from_the_table(self):
        drifted = README.replace("`low/`, `base/one.h`", "any").replace("| prose | |", "| prose | x |")
        status, faults, readme = self.run_check({check.README: drifted}, "--write-readme")
        self.assertEqual((status, faults, readme), (0, "", README))


if __name__ == "__main__":
    unittest.main()
