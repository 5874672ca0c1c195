#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# a bounded time (seconds, default 90) on a scratch copy of its seed corpus
# under fuzz/corpus/. Crashing inputs land in build-fuzz/findings/.
# Usage: fuzz/run.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-90}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reply_fuzz list_fuzz quote_fuzz mengine_fuzz)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKOVRA_TESTS=OFF -DKOVRA_FUZZ=ON
cmake --build build-fuzz -j2 --target "${targets[@]}"

max_len() {
  case $1 in
    list_fuzz) echo 32770 ;;  # two control bytes and one whole record
    quote_fuzz) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

mkdir -p build-fuzz/findings
status=0
for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t
  rm -rf "$work"
  mkdir -p "$work"
  echo "== $t: $seconds s"
  build-fuzz/bin/$t -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(max_len "$t")" -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/$t- "$work" fuzz/corpus/$t \
    2>&1 | grep -E '^(stat::|SUMMARY|==[0-9]+==ERROR)' || status=1
done
exit $status
