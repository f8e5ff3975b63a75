#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ (clang, ASan, UBSan) and runs them side by side:
#   scripts/fuzz.sh short        10 s each (part of ./run test)
#   scripts/fuzz.sh long [RUNS]  RUNS inputs each, 10,000,000 unless given
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${CINE_BUILD:-$root/build}/fuzz"
limit=-max_total_time=10
[[ "${1:-short}" == long ]] && limit=-runs="${2:-10000000}"
cmake -S "$root/tests/fuzz" -B "$out" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cd "$out"
cmake --build . -j "${JOBS:-$(nproc)}" >build.log 2>&1 || { tail -40 build.log; exit 1; }
fuzz() {  # the corpus and any crash input stay beside the build
  local start=$SECONDS
  mkdir -p "$1.corpus"
  "./$1" "$limit" -print_final_stats=1 -artifact_prefix="$1-" "$1.corpus" >"$1.log" 2>&1 ||
    { tail -40 "$1.log"; return 1; }
  echo "$1: $(awk '/executed_units/ {print $2}' "$1.log") inputs in $((SECONDS - start)) s"
}
for source in "$root"/tests/fuzz/*_fuzz.cpp; do fuzz "$(basename "$source" .cpp)" & done
status=0
for job in $(jobs -p); do wait "$job" || status=1; done
exit $status
