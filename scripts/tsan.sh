#!/usr/bin/env bash
# The ThreadSanitizer pass of test.sh: builds the library's unit tests (with
# kvrdevserver and the in-process stand-in they start, and nothing else)
# with -fsanitize=thread into build-tsan/, runs them, and fails on any
# report, also one from a kvrdevserver that a test started.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-tsan
cmake -S . -B "$build" -G Ninja -DKOVRA_TESTS=ON -DKOVRA_TSAN=ON \
  -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=8 >/dev/null
cmake --build "$build" -j2 --target lib_tests
reports="$PWD/$build/tsan-reports"
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="log_path=$reports/tsan:second_deadlock_stack=1"
# Each test in a process of its own, as in the other passes (the in-process
# machine exists once per process).
failed=0
ctest --test-dir "$build" -L '^lib_tests$' --output-on-failure --timeout 600 -j2 || failed=1
if [ -n "$(ls -A "$reports")" ]; then
  echo "ThreadSanitizer reports:" >&2
  cat "$reports"/* >&2
  exit 1
fi
[ "$failed" -eq 0 ] || exit 1
echo "ThreadSanitizer pass: no reports."
