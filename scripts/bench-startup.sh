#!/usr/bin/env bash
# The launcher's own cost with no payload: a projector whose cine.dll (beside it)
# returns at once, against an empty Windows program, each started RUNS times by
# wine64 in the same Wine session. Prints the medians and their difference.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${CINE_BUILD:-$root/build}"
wine=/usr/lib/wine/wine64
runs="${RUNS:-20}"
source "$root/scripts/wine-session.sh"
if [[ -z "${DISPLAY:-}" || ! -f "$WINEPREFIX/system.reg" ]]; then start_wine_session; fi

bench="$WINEPREFIX/drive_c/bench_startup"
rm -rf "$bench" && mkdir -p "$bench"
cp "$build/win64/launcher.exe" "$bench/MOVIE.EXE"
cp "$build/win64/runtime/test/cine.dll" "$bench/cine.dll"
cp "$build/win64/tests/empty_program.exe" "$bench/EMPTY.EXE"

median_ms() {  # program: the median wall time of RUNS starts, in ms
  local times=() start end
  "$wine" "$1" >/dev/null 2>&1 || true  # warm up
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$wine" "$1" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] / 1000 }'
}
empty=$(median_ms 'C:\bench_startup\EMPTY.EXE')
launcher=$(median_ms 'C:\bench_startup\MOVIE.EXE')
rm -rf "$bench"
awk -v e="$empty" -v l="$launcher" -v n="$runs" 'BEGIN {
  printf "startup (median of %d runs under wine64): empty program %.1f ms, launcher to runtime and back %.1f ms, overhead %.1f ms (%.2fx)\n", n, e, l, l - e, l / e }'
