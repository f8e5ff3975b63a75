#!/usr/bin/env bash
# Builds and runs every libFuzzer target in tests/fuzz/ with ASan and UBSan (clang).
# Each target names the sources it needs in a line "// fuzz-sources: a.cpp b.cpp".
#   scripts/fuzz.sh short        a few seconds each (part of ./run test)
#   scripts/fuzz.sh long [SECS]  longer runs, default 600 s each
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${CINE_BUILD:-$root/build}/fuzz"
mode="${1:-short}"
seconds=20
[[ "$mode" == long ]] && seconds="${2:-600}"
mkdir -p "$out"
shopt -s nullglob
for target in "$root"/tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$target" .cpp)
  sources=$(sed -n 's|^// fuzz-sources:||p' "$target")
  srcs=()
  for s in $sources; do srcs+=("$root/$s"); done
  clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" "$target" "${srcs[@]}" -o "$out/$name"
  mkdir -p "$out/$name.corpus"
  echo "fuzzing $name for ${seconds}s"
  # Crash inputs go beside the fuzzer's build, never into the source tree.
  "$out/$name" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$out/$name-" \
    "$out/$name.corpus" \
    >"$out/$name.log" 2>&1 || { tail -40 "$out/$name.log"; exit 1; }
  grep -E "^Done|stat::number_of_executed_units" "$out/$name.log" | tail -1 || true
done
