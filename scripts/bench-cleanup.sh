#!/usr/bin/env bash
# Benchmark of the exit cleanup: 1,000 abandoned work folders (lock file, four files
# and a subfolder with one file each) removed by one cleanup under Wine, against
# `rm -rf` of an identical tree on the host. Prints the times and their ratio.
# Needs the builds (scripts/build.sh); starts its own Wine session unless ./run did.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${CINE_BUILD:-$root/build}"
folders="${FOLDERS:-1000}"
for f in "$build/win32/tests/workfolder_cleanup_timer.exe" "$build/win32/tests/probe.exe" \
         "$build/win32/launcher.exe" "$build/win32/runtime/test/cine.dll"; do
  [[ -f "$f" ]] || { echo "missing $f: run scripts/build.sh first" >&2; exit 1; }
done
source "$root/scripts/wine-session.sh"
if [[ -z "${DISPLAY:-}" || ! -f "$WINEPREFIX/system.reg" ]]; then start_wine_session; fi
wine="$CINE_WINE"

# On tmpfs by default, so that the figures show the cleanup's own cost rather than the
# disk's mood; BENCH_DIR=/some/disk/folder measures a real disk instead.
if [[ -z "${BENCH_DIR:-}" && -w /dev/shm ]]; then BENCH_DIR=/dev/shm/cine-bench-cleanup-$$; fi
bench="${BENCH_DIR:-$WINEPREFIX/drive_c/bench_cleanup}"
winbench="Z:${bench//\//\\}"
rm -rf "$bench" && mkdir -p "$bench/app" "$bench/tmp"
cp "$build/win32/launcher.exe" "$bench/app/MOVIE.EXE"
cp "$build/win32/runtime/test/cine.dll" "$bench/app/cine.dll"

now_ns() { date +%s%N; }
letters=abcdefghijklmnopqrstuvwxyz
make_tree() {  # parent folder
  local i name dir
  for ((i = 0; i < folders; i++)); do
    name="TempFolder.${letters:i/676%26:1}${letters:i/26%26:1}${letters:i%26:1}"
    dir="$1/$name"
    mkdir -p "$dir/plugins"
    : >"$dir/Quorvantix.lok"
    printf '%4096s' runtime >"$dir/cine.dll"
    printf '%2048s' movie >"$dir/movie.dat"
    printf '%512s' scenes >"$dir/scenes.dat"
    printf '%128s' text >"$dir/README.TXT"
    printf '%1024s' plugin >"$dir/plugins/one.dll"
  done
}
count() { find "$1" -mindepth 1 | wc -l; }
ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) / 1e6 }'; }

# The cleanup itself, timed inside the Windows process.
make_tree "$bench/tmp"
entries=$(count "$bench/tmp")
sync
timer=$("$wine" "$build/win32/tests/workfolder_cleanup_timer.exe" "$winbench\\tmp" | tr -d '\r')
cleanup_ms=$(sed -n 's/^milliseconds=//p' <<<"$timer")
left=$(count "$bench/tmp")

# The same tree removed on the host.
mkdir -p "$bench/host" && make_tree "$bench/host"
sync
start=$(now_ns); rm -rf "$bench/host"; end=$(now_ns)
rm_ms=$(ms "$start" "$end")

# One whole launcher run (no work folder of its own) with and without the folders:
# the difference is what its exit's cleanup cost.
run_launcher() {
  local start end
  start=$(now_ns)
  "$wine" "$build/win32/tests/probe.exe" run --tmp "$winbench\\tmp" \
    --env "CINE_REPORT=$winbench\\report.txt" "$winbench\\app\\MOVIE.EXE" >/dev/null
  end=$(now_ns)
  ms "$start" "$end"
}
run_launcher >/dev/null  # warm up
empty_ms=$(run_launcher)
make_tree "$bench/tmp"
sync
full_ms=$(run_launcher)
left_by_launcher=$(count "$bench/tmp")
rm -rf "$bench"

fs=$(df --output=fstype "$(dirname "$bench")" | tail -1)
awk -v dir="$bench" -v fs="$fs" -v n="$folders" -v e="$entries" -v c="$cleanup_ms" -v r="$rm_ms" -v left="$left" \
    -v full="$full_ms" -v empty="$empty_ms" -v left2="$left_by_launcher" 'BEGIN {
  printf "exit cleanup of %d abandoned work folders (%d files and folders) in %s (%s)\n", n, e, dir, fs
  printf "  cleanup under Wine, timed in-process:  %9.1f ms  (%d entries left)\n", c, left
  printf "  rm -rf of the same tree on the host:   %9.1f ms\n", r
  printf "  ratio cleanup / rm -rf:                %9.1f\n", c / r
  printf "  launcher run with the folders:         %9.1f ms  (%d entries left)\n", full, left2
  printf "  launcher run without them:             %9.1f ms\n", empty
  printf "  difference / rm -rf:                   %9.1f\n", (full - empty) / r
}'
