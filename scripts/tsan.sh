#!/usr/bin/env bash
# The ThreadSanitizer pass of test.sh: builds the library's unit tests, the
# threads test and the TLS test (with kvrdevserver and the in-process
# stand-in they start)
# with -fsanitize=thread into build-tsan/, runs them, and fails on any report,
# also one from a kvrdevserver that a test started.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-tsan
tests=(lib_threads_tests lib_connection_tests lib_c_interface_tests lib_list_tests lib_tindra_tests
  lib_tls_tests)
cmake -S . -B "$build" -G Ninja -DKOVRA_TESTS=ON -DKOVRA_TSAN=ON >/dev/null
cmake --build "$build" -j2 --target "${tests[@]}"
reports="$PWD/$build/tsan-reports"
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="log_path=$reports/tsan:second_deadlock_stack=1"
failed=0
for test in "${tests[@]}"; do
  "$build/bin/$test" || failed=1
done
if [ -n "$(ls -A "$reports")" ]; then
  echo "ThreadSanitizer reports:" >&2
  cat "$reports"/* >&2
  exit 1
fi
[ "$failed" -eq 0 ] || exit 1
echo "ThreadSanitizer pass: no reports."
