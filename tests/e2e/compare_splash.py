#!/usr/bin/env python3
"""Checks a screenshot of the splash against the picture it should show.

The splash pixels, composited over the black root window of Xvfb, must match
the picture with its alpha applied: opaque artwork in the middle, nothing on
the transparent rim, and partly transparent pixels blended in between (soft
edges). Inputs are binary PPM files made by ImageMagick.
"""
import sys


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", "expected an 8-bit P6 PPM"
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:]


def main(shot_path, expected_path, alpha_path):
    w, h, shot = read_ppm(shot_path)
    ew, eh, expected = read_ppm(expected_path)
    aw, ah, alpha = read_ppm(alpha_path)
    assert (w, h) == (ew, eh) == (aw, ah), f"sizes differ: {(w, h)} {(ew, eh)} {(aw, ah)}"
    diffs = {"opaque": [], "soft": [], "clear": []}
    for i in range(0, w * h * 3, 3):
        a = alpha[i]
        kind = "clear" if a == 0 else "opaque" if a == 255 else "soft"
        diffs[kind].append(sum(abs(shot[i + c] - expected[i + c]) for c in range(3)) / 3)
    report = {k: (len(v), sum(v) / len(v) if v else 0.0) for k, v in diffs.items()}
    for kind, (count, mean) in report.items():
        print(f"{kind}: {count} pixels, mean difference {mean:.2f}")
    ok = all(count > 0 for count, _ in report.values()) and all(
        mean <= 12.0 for _, mean in report.values())
    print("splash pixels match the picture" if ok else "splash pixels do NOT match the picture")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
