#!/usr/bin/env bash
# Builds the download benchmark in build/bench (Release, no sanitizers) and
# runs it; arguments go to the benchmark (--big-mib N --small-files N
# --runs N --temp DIR). Needs the curl command-line tool, about 4.5 GiB of
# free memory (4.0 GiB resident at the peak: the 1 GiB content, a copy for
# each of its two routes, the server's copy for each answer) and 1 GiB in
# the temporary folder.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$repo/build/bench"
# Long enough for the default run (about two minutes), short of forever.
readonly TIME_LIMIT_SECONDS=900

if ! command -v curl >/dev/null; then
  echo "run.sh: the curl command-line tool is missing (apt-get install curl)" >&2
  exit 2
fi
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_SANITIZE=OFF >/dev/null
cmake --build "$build" --target download_bench -j 2 >/dev/null
exec timeout "$TIME_LIMIT_SECONDS" "$build/bench/download_bench" "$@"
