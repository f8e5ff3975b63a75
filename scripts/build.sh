#!/usr/bin/env bash
# Configures and builds the three builds: host, win32 (shipped PE32) and win64 (PE32+).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# CINE_BUILD names another build root (default build/), so parallel work can build apart.
build="${CINE_BUILD:-$root/build}"
jobs="${JOBS:-$(nproc)}"
configure() {  # build dir, extra cmake arguments
  local dir="$build/$1"; shift
  if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  fi
  cmake --build "$dir" -j "$jobs" 2>&1 | grep -vE '^\[ *[0-9]+%\]|^Consolidate|^Scanning|^Built target' || true
  test "${PIPESTATUS[0]}" -eq 0
}
configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
configure host
