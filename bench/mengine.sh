#!/usr/bin/env bash
# The "M engine" figure: builds kvrbench_mengine (Release) into the bench
# build folder and runs bench/mengine.py, which prints the CPU time of each
# workload for kvrdevserver's engine and, when fis-gtm is installed, for
# GT.M with the ratio of the two.
#   KOVRA_BENCH_BUILD  build folder (default build-bench)
#   KOVRA_BENCH_REPS   repetitions of every figure (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/${KOVRA_BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOVRA_BENCH=ON -DKOVRA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target kvrbench_mengine
python3 "$root/bench/mengine.py" --bin "$build/bin/kvrbench_mengine" --reps "${KOVRA_BENCH_REPS:-3}"
