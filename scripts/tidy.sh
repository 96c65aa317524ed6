#!/usr/bin/env bash
# scripts/tidy.sh BUILD_DIR: clang-tidy, with the project's .clang-tidy, on
# every source file changed since the last release tag (all of shared/,
# engine/, platform/ and configtool/ where no tag is there). Prints each
# finding and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
folders=(shared engine platform configtool)
if tag=$(git describe --tags --abbrev=0 2>/dev/null); then
    mapfile -t files < <(git diff --name-only --diff-filter=d "$tag" -- "${folders[@]/%//*.cpp}")
else
    mapfile -t files < <(git ls-files -- "${folders[@]/%//*.cpp}")
fi
[[ ${#files[@]} -eq 0 ]] && exit 0
tidy=$(command -v run-clang-tidy-14 || command -v run-clang-tidy)
# The compiler's own warnings are the build's to judge (with -Werror there);
# clang, which compiles here, would make them errors of its own.
findings=$("$tidy" -p "$build_dir" -quiet -j "$(nproc)" -extra-arg=-Wno-error "${files[@]/#/$PWD/}" 2>/dev/null |
    grep -E '(warning|error): ' | sed 's/\x1b\[[0-9;]*m//g' | sort -u || true)
if [[ -n "$findings" ]]; then
    echo "$findings"
    echo "clang-tidy: $(wc -l <<<"$findings") finding(s) in ${#files[@]} file(s)" >&2
    exit 1
fi
echo "clang-tidy: no finding in ${#files[@]} file(s)"
