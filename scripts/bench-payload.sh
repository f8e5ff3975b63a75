#!/usr/bin/env bash
# Start-to-runtime benchmark of payload extraction under Wine: projectors carrying 64 MiB
# of stored entries and 64 MiB of compressed ones, timed from the launcher's process
# creation to the test runtime's entry point, against cp and build/host/lzari decode of
# the same bytes on the same disk. One run each; prints the figures and the ratios.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${CINE_BUILD:-$root/build}"
source "$root/scripts/wine-session.sh"
# Reuse the session of ./run bench when there is one. (Called in a condition, a
# persistent wineserver that is already up does not end the script.)
own_session=0
if [[ -z "${DISPLAY:-}" || ! -f "$WINEPREFIX/system.reg" ]]; then
  start_wine_session || true
  own_session=1
fi

host="$build/host"
win="$build/win32"
work="$WINEPREFIX/drive_c/bench-payload"
winwork='C:\bench-payload'
mib=16
rm -rf "$work"
mkdir -p "$work/src" "$work/app" "$work/tmp" "$work/copy" "$work/decoded"
finish() {
  rm -rf "$work"
  if ((own_session)); then stop_wine_session; fi
}
trap finish EXIT

calc() { awk "BEGIN { printf \"%.1f\", $1 }"; }

# Stored: random bytes, as incompressible as runtime data gets. Compressed: the
# tools' own executables, machine code like the runtime's libraries.
for _ in $(seq 12); do cat "$win/cinepack.exe" "$win/tests/probe.exe"; done >"$work/code.bin"
for i in 1 2 3 4; do
  dd if=/dev/urandom of="$work/src/stored$i.bin" bs=1M count=$mib status=none
  tail -c +$((i * 4099)) "$work/code.bin" >"$work/src/packed$i.bin"
  truncate -s $((mib << 20)) "$work/src/packed$i.bin"
done
rm "$work/code.bin"
echo "MOVIE" >"$work/src/movie.dat"
cp "$win/runtime/test/cine.dll" "$work/src/cine.dll"

pack() {  # output, extract arguments...
  local out=$1; shift
  local args=()
  for e in "$@"; do args+=(--extract "$work/src/$e"); done
  "$host/cinepack" build --stub "$win/launcher.exe" --movie "$work/src/movie.dat" \
    "${args[@]}" -o "$work/app/$out" 2>/dev/null
}
pack EMPTY.EXE cine.dll
pack STORED.EXE cine.dll stored1.bin stored2.bin stored3.bin stored4.bin
pack PACKED.EXE cine.dll packed1.bin:compress packed2.bin:compress packed3.bin:compress \
  packed4.bin:compress
"$host/cinepack" verify "$work/app/PACKED.EXE" >/dev/null 2>&1

# Microseconds from process creation to CinemorphMain, as the test runtime reports it.
start_to_runtime() {
  local exe=$1
  rm -f "$work/report.txt"
  "$CINE_WINE" "$win/tests/probe.exe" run --tmp "$winwork\\tmp" \
    --env "CINE_REPORT=$winwork\\report.txt" --timeout 600000 "$winwork\\app\\$exe" >/dev/null
  local us
  us=$(sed -n 's/^since_start_us=\([0-9]*\).*/\1/p' "$work/report.txt" 2>/dev/null || true)
  if [[ -z "$us" ]]; then echo "bench-payload: $exe did not reach the runtime" >&2; exit 1; fi
  echo "$us"
}

start_to_runtime EMPTY.EXE >/dev/null  # warms Wine and the page cache
empty=$(start_to_runtime EMPTY.EXE)
stored=$(start_to_runtime STORED.EXE)
packed=$(start_to_runtime PACKED.EXE)

t0=$(date +%s%N)
cp "$work"/src/stored?.bin "$work/copy/"
t1=$(date +%s%N)
for i in 1 2 3 4; do "$host/lzari" encode "$work/src/packed$i.bin" "$work/src/packed$i.lz"; done
t2=$(date +%s%N)
for i in 1 2 3 4; do "$host/lzari" decode "$work/src/packed$i.lz" "$work/decoded/packed$i.bin"; done
t3=$(date +%s%N)
packedBytes=$(cat "$work"/src/packed?.lz | wc -c)
# The same streams decoded inside a PE32 process by the launcher's decoder and by the
# classic one, as the shipped code runs them.
"$CINE_WINE" "$win/tests/lzari_decode_timer.exe" "$winwork\\src\\packed"{1,2,3,4}.lz >"$work/timer.txt"
timer() { sed -n "s/^$1=//p" "$work/timer.txt" | tr -d '\r'; }

cp_ms=$(calc "($t1 - $t0) / 1000000")
decode_ms=$(calc "($t3 - $t2) / 1000000")
stored_extra=$(calc "($stored - $empty) / 1000")
packed_extra=$(calc "($packed - $empty) / 1000")
echo "payload extraction, start of the launcher to the runtime's entry point (one run each)"
printf '  %-52s %9s ms\n' "projector with only cine.dll to extract" "$(calc "$empty / 1000")"
printf '  %-52s %9s ms  (%s ms more)\n' "with 4 x $mib MiB stored entries" "$(calc "$stored / 1000")" "$stored_extra"
printf '  %-52s %9s ms\n' "cp of the same $((4 * mib)) MiB on the same disk" "$cp_ms"
printf '  %-52s %9s\n' "ratio, stored extraction to cp" "$(calc "$stored_extra / $cp_ms")"
printf '  %-52s %9s ms  (%s ms more)\n' "with 4 x $mib MiB compressed entries ($((packedBytes >> 20)) MiB packed)" \
  "$(calc "$packed / 1000")" "$packed_extra"
printf '  %-52s %9s ms\n' "build/host/lzari decode of the same streams" "$decode_ms"
printf '  %-52s %9s\n' "ratio, compressed extraction to lzari decode" "$(calc "$packed_extra / $decode_ms")"
printf '  %-52s %9s ms\n' "PE32 decoder, the same streams, in process" "$(timer decoder_ms)"
printf '  %-52s %9s ms\n' "PE32 classic decoder, the same streams" "$(timer classic_ms)"
printf '  %-52s %9s\n' "ratio, classic decoder to ours (PE32)" "$(calc "$(timer classic_ms) / $(timer decoder_ms)")"
