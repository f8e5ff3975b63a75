#!/usr/bin/env bash
# The launcher's own cost with no payload: a projector whose cine.dll (beside it)
# returns at once, against an empty Windows program, each started RUNS times by
# 32-bit Wine in the same Wine session. Prints the medians and their difference.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${CINE_BUILD:-$root/build}"
runs="${RUNS:-30}"
source "$root/scripts/wine-session.sh"
if [[ -z "${DISPLAY:-}" || ! -f "$WINEPREFIX/system.reg" ]]; then start_wine_session; fi
wine="$CINE_WINE"

bench="$WINEPREFIX/drive_c/bench_startup"
rm -rf "$bench" && mkdir -p "$bench"
cp "$build/win32/launcher.exe" "$bench/MOVIE.EXE"
cp "$build/win32/runtime/test/cine.dll" "$bench/cine.dll"
cp "$build/win32/tests/empty_program.exe" "$bench/EMPTY.EXE"

once_us() {  # program: wall time of one start, in microseconds
  local start end
  start=$(date +%s%N)
  "$wine" "$1" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(( (end - start) / 1000 ))
}
median_ms() { sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] / 1000 }'; }

# Warm up, then alternate the two so that a busy moment of the machine hits both alike.
once_us 'C:\bench_startup\EMPTY.EXE' >/dev/null
once_us 'C:\bench_startup\MOVIE.EXE' >/dev/null
empty_times=() launcher_times=()
for ((i = 0; i < runs; i++)); do
  empty_times+=("$(once_us 'C:\bench_startup\EMPTY.EXE')")
  launcher_times+=("$(once_us 'C:\bench_startup\MOVIE.EXE')")
done
empty=$(printf '%s\n' "${empty_times[@]}" | median_ms)
launcher=$(printf '%s\n' "${launcher_times[@]}" | median_ms)
rm -rf "$bench"
awk -v e="$empty" -v l="$launcher" -v n="$runs" 'BEGIN {
  printf "startup (median of %d runs each, alternated, under 32-bit Wine): empty program %.1f ms, launcher to runtime and back %.1f ms, overhead %.1f ms (%.2fx)\n", n, e, l, l - e, l / e }'
