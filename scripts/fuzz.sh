#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ (clang, ASan, UBSan) and runs them side by side:
#   scripts/fuzz.sh short        10 s each (part of ./run test)
#   scripts/fuzz.sh long [RUNS]  RUNS inputs each, 10,000,000 unless given
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${CINE_BUILD:-$root/build}/fuzz"
limit=-max_total_time=10
[[ "${1:-short}" == long ]] && limit=-runs="${2:-10000000}"
cmake -S "$root/tests/fuzz" -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=None >/dev/null
cmake --build "$out" -j "${JOBS:-$(nproc)}" >"$out/build.log" 2>&1 || { tail -40 "$out/build.log"; exit 1; }
fuzz() {
  local name=$1 start=$(date +%s)
  mkdir -p "$out/$name.corpus"  # the corpus and any crash input stay beside the build
  "$out/$name" "$limit" -print_final_stats=1 -artifact_prefix="$out/$name-" "$out/$name.corpus" \
    >"$out/$name.log" 2>&1 || { tail -40 "$out/$name.log"; return 1; }
  echo "$name: $(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$name.log") inputs in $(( $(date +%s) - start )) s"
}
pids=() status=0
for source in "$root"/tests/fuzz/*_fuzz.cpp; do fuzz "$(basename "$source" .cpp)" & pids+=($!); done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
