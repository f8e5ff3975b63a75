#!/usr/bin/env bash
# Start-to-runtime benchmark of payload extraction under Wine: projectors carrying 64 MiB
# of stored entries and 64 MiB of compressed ones, timed from the launcher's process
# creation to the test runtime's entry point, against cp and build/host/lzari decode of
# the same bytes on the same disk, and with the integrity record against without it.
# The projectors are started in turn, RUNS rounds (11 unless given); the medians are
# printed with the ratios, and the CRC-32's own time over the stored entries in process.
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
runs="${RUNS:-11}"
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

pack() {  # output, cinepack option or "", extract arguments...
  local out=$1 option=$2; shift 2
  local args=($option)
  for e in "$@"; do args+=(--extract "$work/src/$e"); done
  "$host/cinepack" build --stub "$win/launcher.exe" --movie "$work/src/movie.dat" \
    "${args[@]}" -o "$work/app/$out" 2>/dev/null
}
stored=(cine.dll stored1.bin stored2.bin stored3.bin stored4.bin)
packed=(cine.dll packed1.bin:compress packed2.bin:compress packed3.bin:compress
  packed4.bin:compress)
pack EMPTY.EXE "" cine.dll
pack STORED.EXE "" "${stored[@]}"
pack PACKED.EXE "" "${packed[@]}"
pack STORED0.EXE --no-integrity-record "${stored[@]}"
pack PACKED0.EXE --no-integrity-record "${packed[@]}"
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

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
projectors=(EMPTY STORED STORED0 PACKED PACKED0)
for exe in "${projectors[@]}"; do start_to_runtime $exe.EXE >/dev/null; done  # warms up
# Every other round in the reverse order: a run is slowed by the one before it (its 64 MiB
# just deleted), and no projector should always follow the same one.
declare -A times
for ((round = 0; round < runs; round++)); do
  order=("${projectors[@]}")
  if ((round % 2)); then order=(PACKED0 PACKED STORED0 STORED EMPTY); fi
  for exe in "${order[@]}"; do times[$exe]+="$(start_to_runtime $exe.EXE) "; done
done
for exe in "${projectors[@]}"; do
  declare "median_$exe=$(printf '%s\n' ${times[$exe]} | median)"
done
empty=$median_EMPTY stored=$median_STORED packed=$median_PACKED
stored0=$median_STORED0 packed0=$median_PACKED0

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
# The CRC-32 the record costs, over the stored entries' 64 MiB, in the same kind of process.
"$CINE_WINE" "$win/tests/crc32_timer.exe" "$winwork\\src\\stored"{1,2,3,4}.bin >"$work/crc.txt"
crc_ms=$(sed -n 's/^crc32_ms=//p' "$work/crc.txt" | tr -d '\r')

cp_ms=$(calc "($t1 - $t0) / 1000000")
decode_ms=$(calc "($t3 - $t2) / 1000000")
stored_extra=$(calc "($stored - $empty) / 1000")
packed_extra=$(calc "($packed - $empty) / 1000")
echo "payload extraction, start of the launcher to the runtime's entry point" \
  "(median of $runs runs each, in turn)"
printf '  %-52s %9s ms\n' "projector with only cine.dll to extract" "$(calc "$empty / 1000")"
printf '  %-52s %9s ms  (%s ms more)\n' "with 4 x $mib MiB stored entries" "$(calc "$stored / 1000")" "$stored_extra"
printf '  %-52s %9s ms\n' "cp of the same $((4 * mib)) MiB on the same disk" "$cp_ms"
printf '  %-52s %9s\n' "ratio, stored extraction to cp" "$(calc "$stored_extra / $cp_ms")"
printf '  %-52s %9s ms\n' "the same stored entries without the integrity record" \
  "$(calc "$stored0 / 1000")"
printf '  %-52s %9s %%\n' "cost of the integrity record, stored" \
  "$(calc "100 * ($stored - $stored0) / $stored0")"
printf '  %-52s %9s ms  (%s %% of the stored start to runtime)\n' \
  "PE32 CRC-32 of the same 64 MiB, in process" "$crc_ms" "$(calc "100 * $crc_ms * 1000 / $stored0")"
printf '  %-52s %9s ms  (%s ms more)\n' "with 4 x $mib MiB compressed entries ($((packedBytes >> 20)) MiB packed)" \
  "$(calc "$packed / 1000")" "$packed_extra"
printf '  %-52s %9s ms\n' "build/host/lzari decode of the same streams" "$decode_ms"
printf '  %-52s %9s\n' "ratio, compressed extraction to lzari decode" "$(calc "$packed_extra / $decode_ms")"
printf '  %-52s %9s ms\n' "the same compressed entries without the record" \
  "$(calc "$packed0 / 1000")"
printf '  %-52s %9s %%\n' "cost of the integrity record, compressed" \
  "$(calc "100 * ($packed - $packed0) / $packed0")"
printf '  %-52s %9s ms\n' "PE32 decoder, the same streams, in process" "$(timer decoder_ms)"
printf '  %-52s %9s ms\n' "PE32 classic decoder, the same streams" "$(timer classic_ms)"
printf '  %-52s %9s\n' "ratio, classic decoder to ours (PE32)" "$(calc "$(timer classic_ms) / $(timer decoder_ms)")"
