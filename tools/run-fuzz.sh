#!/usr/bin/env bash
# Builds the fuzzers of the version-file readers and the release manifest's
# reader with clang and runs each for a short, bounded time; fails on a
# crash, a broken property or a sanitizer report.
#   FUZZ_SECONDS   seconds per fuzzer (default 20)
#   FUZZ_BUILD_DIR build folder (default build/fuzz)
# New inputs go to the build folder; the seeds in tests/fuzz/corpus stay as
# they are.
set -euo pipefail

repo_root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$repo_root/build/fuzz}
seconds=${FUZZ_SECONDS:-20}
compiler=${FUZZ_CXX:-clang++-14}
# Lists longer than the reader's 4 KiB chunks must be tried too.
max_len=16384

cmake -S "$repo_root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2

for fuzzer in version_record_fuzzer file_versions_fuzzer release_manifest_fuzzer; do
  corpus=$build/corpus/$fuzzer
  mkdir -p "$corpus"
  echo "== $fuzzer: $seconds s"
  "$build/$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/$fuzzer-" \
    "$corpus" "$repo_root/tests/fuzz/corpus/$fuzzer"
done
