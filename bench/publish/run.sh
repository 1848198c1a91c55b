#!/usr/bin/env bash
# Publish benchmark: velkaris-publish (a Release build as the operators'
# preset "release" makes it, here from the preset bench) against the floor of what any publish must do, in the same
# run: `openssl dgst -sha256` over the build's files plus `cp` of them into a
# new tree (and that floor with one `sync -f` of the tree, the disk flush
# the tool makes before it switches files into place).
#   - first publish of a build into an empty tree;
#   - no-change re-publish of the same build.
# Usage: bash bench/publish/run.sh [--files N] [--file-kib N] [--big-mib N]
#        [--rounds N] [--temp DIR]
# Needs about 3 x (N x KiB + big MiB) of space in the temporary folder
# (1.9 GiB by default), removed at the end.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
files=2000 file_kib=64 big_mib=500 rounds=3 temp=${TMPDIR:-/tmp}
while [ $# -gt 0 ]; do
  case $1 in
    --files) files=$2 ;;
    --file-kib) file_kib=$2 ;;
    --big-mib) big_mib=$2 ;;
    --rounds) rounds=$2 ;;
    --temp) temp=$2 ;;
    *) echo "run.sh: unknown option $1" >&2 && exit 2 ;;
  esac
  shift 2
done
readonly TIME_LIMIT_SECONDS=600

(cd "$repo" && cmake --preset bench && cmake --build --preset bench --target velkaris-publish) >/dev/null
tool=$repo/build/bench/publish/velkaris-publish

work=$(mktemp -d "$temp/velkaris-publish-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
build=$work/build tree=$work/UploadData floor=$work/floor

# The build: the patcher, N accompanying files of pseudo-random bytes (half
# of them in locales/) and one large file.
python3 - "$build" "$files" "$file_kib" "$big_mib" <<'PY'
import os, sys
build, files, kib, big = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
os.makedirs(os.path.join(build, "locales"))
rand = os.urandom(kib * 1024 + files)
def write(path, data):
    with open(os.path.join(build, path), "wb") as f:
        f.write(data)
write("VelkarisPatcher32.vke", os.urandom(4 << 20))
for i in range(files):
    write(("locales/" if i % 2 else "") + "f%05d.dat" % i, rand[i:i + kib * 1024])
with open(os.path.join(build, "big.pak"), "wb") as f:
    for _ in range(big):
        f.write(os.urandom(1 << 20))
PY
bytes=$(du -sb "$build" | cut -f1)
count=$(find "$build" -type f | wc -l)

now() { echo "$EPOCHREALTIME"; }
seconds() { python3 -c "print(f'{$2 - $1:.3f}')"; }

floor_run() {  # prints: hash+copy seconds, with the sync
  rm -rf "$floor"
  local start mid end
  start=$(now)
  (cd "$build" && find . -type f -print0 | xargs -0 openssl dgst -sha256 >/dev/null)
  cp -r "$build" "$floor"
  mid=$(now)
  sync -f "$floor"
  end=$(now)
  echo "$(seconds "$start" "$mid") $(seconds "$start" "$end")"
}
publish_run() {  # prints: seconds
  local start end
  start=$(now)
  timeout "$TIME_LIMIT_SECONDS" "$tool" "$build" "$tree" --quiet
  end=$(now)
  seconds "$start" "$end"
}

echo "publish benchmark: $count files, $((bytes >> 20)) MiB, $rounds rounds; $(nproc) cores"
echo "round  floor(dgst+cp)  floor+sync  first-publish  no-change"
results=$work/results
for round in $(seq 1 "$rounds"); do
  rm -rf "$tree" "$tree.publish-manifest"
  if [ $((round % 2)) = 1 ]; then
    f=$(floor_run); rm -rf "$tree" "$tree.publish-manifest"; p=$(publish_run)
  else
    rm -rf "$floor"; p=$(publish_run); f=$(floor_run)
  fi
  n=$(publish_run)
  cmp "$build/big.pak" "$tree/big.pak"
  echo "$round      $f  $p  $n" | awk '{printf "%-6s %14s %11s %14s %10s\n", $1, $2, $3, $4, $5}'
  echo "$f $p $n" >>"$results"
done
python3 - "$results" <<'PY'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1])]
for name, pick in (("best", min), ("median", statistics.median)):
    floor, floor_sync, first, again = (pick([r[i] for r in rows]) for i in range(4))
    print(f"{name} of {len(rows)}: floor {floor:.3f} s, floor with sync {floor_sync:.3f} s, "
          f"first publish {first:.3f} s, no-change re-publish {again:.3f} s")
    print(f"  first publish / floor: {first / floor:.2f} (with sync: {first / floor_sync:.2f}); "
          f"no-change re-publish / floor: {again / floor:.2f}; target 1.0 or less")
PY
