#!/usr/bin/env bash
# One command for each everyday job on a fresh Debian 12 machine:
#   ./build.sh run    install what is missing, build, start the program
#   ./build.sh test   install what is missing, build, run every test
#   ./build.sh bench  install what is missing, build, run the benchmarks
set -euo pipefail
cd "$(dirname "$0")"

what=${1:-run}
build_dir=${BUILD_DIR:-build}

scripts/install-deps.sh
if [[ ! -f "$build_dir/build.ninja" ]]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir"

case "$what" in
run) exec "$build_dir/bin/corvale" ;;
test) ctest --test-dir "$build_dir" --output-on-failure ;;
bench) "$build_dir/bench/engine_bench" ;;
*)
    echo "usage: $0 run|test|bench" >&2
    exit 2
    ;;
esac
