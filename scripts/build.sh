#!/usr/bin/env bash
# Configures and builds the builds: host (tools, tests) and win32 (the shipped PE32).
# A build that fails stops here with the compiler's message and a non-zero exit.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# CINE_BUILD names another build root (default build/), so parallel work can build apart.
build="${CINE_BUILD:-$root/build}"
jobs="${JOBS:-$(nproc)}"
configure() {  # build dir, extra cmake arguments
  local name="$1" dir="$build/$1"; shift
  if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  fi
  local log="$dir/build.log" status=0
  cmake --build "$dir" -j "$jobs" >"$log" 2>&1 || status=$?
  # Progress lines are noise; warnings and errors are not.
  grep -vE '^\[ *[0-9]+%\]|^Consolidate|^Scanning|^Built target' "$log" || true
  if ((status != 0)); then
    echo "build of $name failed (exit $status)" >&2
    exit "$status"
  fi
}
configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
configure host
