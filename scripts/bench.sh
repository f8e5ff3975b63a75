#!/usr/bin/env bash
# Every benchmark in one run, and one table of their figures: LZARI throughput and
# ratio (against gzip -9 and xz -9), payload extraction against cp and lzari decode,
# the exit cleanup against rm -rf, and the launcher's start-up against an empty
# program. Each benchmark's own output stays in build/bench/; the table also goes to
# docs/benchmarks.md with the date and the machine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${CINE_BUILD:-$root/build}"
out="$build/bench"
mkdir -p "$out"
load="$(cut -d' ' -f1-3 /proc/loadavg)"

echo "LZARI throughput and ratio..."
"$build/host/tests/lzari_bench" --benchmark_out="$out/lzari.json" --benchmark_out_format=json \
  >"$out/lzari.txt" 2>&1
echo "payload extraction (64 MiB stored, 64 MiB compressed)..."
"$root/scripts/bench-payload.sh" >"$out/payload.txt" 2>&1
echo "cleanup of 1,000 abandoned work folders..."
"$root/scripts/bench-cleanup.sh" >"$out/cleanup.txt" 2>&1
echo "launcher start-up..."
"$root/scripts/bench-startup.sh" >"$out/startup.txt" 2>&1

python3 "$root/scripts/bench_table.py" "$out" >"$out/table.md"
echo
cat "$out/table.md"

{
  echo "# Benchmarks"
  echo
  echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores of" \
    "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
    "$(uname -sr)."
  echo "Windows figures: the shipped PE32 build (build/win32) under 32-bit" \
    "$("${CINE_WINE:-$root/scripts/wine32}" --version 2>/dev/null), chrooted into the i386 root."
  echo "Each ratio compares two figures taken side by side in the same run."
  echo "Load average at the start: $load. The in-process LZARI rates are CPU time; every other"
  echo "time is wall-clock time, which other work on the machine stretches."
  echo "Reproduce with \`./run bench\`; each benchmark's own output is kept in \`build/bench/\`."
  echo
  cat "$out/table.md"
} >"$root/docs/benchmarks.md"
echo
echo "written: docs/benchmarks.md"
