#!/usr/bin/env bash
# Builds (tests/fuzz/CMakeLists.txt, clang with ASan and UBSan) and runs every libFuzzer
# target in tests/fuzz/.
#   scripts/fuzz.sh short        a few seconds each (part of ./run test)
#   scripts/fuzz.sh long [SECS]  longer runs, default 600 s each
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${CINE_BUILD:-$root/build}/fuzz"
mode="${1:-short}"
seconds=20
[[ "$mode" == long ]] && seconds="${2:-600}"
mkdir -p "$out"
if [[ ! -f "$out/CMakeCache.txt" ]]; then
  cmake -S "$root/tests/fuzz" -B "$out" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=None >/dev/null
fi
cmake --build "$out" -j "${JOBS:-$(nproc)}" >"$out/build.log" 2>&1 || { tail -40 "$out/build.log"; exit 1; }
shopt -s nullglob
for target in "$root"/tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$target" .cpp)
  mkdir -p "$out/$name.corpus"
  echo "fuzzing $name for ${seconds}s"
  # Crash inputs go beside the fuzzer's build, never into the source tree.
  "$out/$name" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$out/$name-" \
    "$out/$name.corpus" \
    >"$out/$name.log" 2>&1 || { tail -40 "$out/$name.log"; exit 1; }
  grep -E "^Done|stat::number_of_executed_units" "$out/$name.log" | tail -1 || true
done
