#!/usr/bin/env bash
# Builds the install-check benchmark (preset bench: Release, no sanitizers)
# and runs it; arguments go to it (--files N --bytes B --runs R).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
readonly TIME_LIMIT_SECONDS=600
(cd "$repo" && cmake --preset bench && cmake --build --preset bench --target install_check_bench) >/dev/null
exec timeout "$TIME_LIMIT_SECONDS" "$repo/build/bench/bench/install_check_bench" "$@"
