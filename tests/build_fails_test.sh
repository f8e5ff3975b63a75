#!/usr/bin/env bash
# A build that does not compile stops scripts/build.sh with the compiler's message and a
# non-zero exit, so that ./run (under `set -e`) never tests the previous build's binaries.
# Shown on a scratch copy of the sources with one line that does not compile.
set -uo pipefail
source="$(cd "$(dirname "$0")/.." && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$source" && git ls-files -co --exclude-standard -z |
  xargs -0 cp --parents -t "$scratch" 2>/dev/null
echo 'int this_does_not_compile = ;' >>"$scratch/base/paths.cpp"
output=$(cd "$scratch" && CINE_BUILD="$scratch/build" timeout 600 scripts/build.sh 2>&1)
status=$?
fail() { echo "$1"; echo "$output" | tail -20; exit 1; }
((status != 0)) || fail "scripts/build.sh exited 0 on a build that does not compile"
grep -q "paths.cpp.*error" <<<"$output" || fail "the compiler's message was not shown"
grep -q "build of win32 failed" <<<"$output" || fail "the failed build was not named"
echo "scripts/build.sh stopped with exit $status at the compiler's error"
