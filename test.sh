#!/usr/bin/env bash
# Installs what the build needs (on Debian, as root or through sudo), builds
# everything into build/ and runs the whole test suite; then builds it all
# again with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/
# and runs the suite there, failing on any sanitizer report (also one from a
# utility or kvrdevserver that a test started); last, the library's unit
# tests and its threads test under ThreadSanitizer (scripts/tsan.sh).
set -euo pipefail
cd "$(dirname "$0")"
. ./scripts/deps.sh
kovra_install_deps

# The tests use ephemeral ports and their own temporary folders, so two of
# them can run at once.
cmake -S . -B build -G Ninja -DKOVRA_TESTS=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure --timeout 600 -j2

cmake -S . -B build-asan -G Ninja -DKOVRA_TESTS=ON -DKOVRA_SANITIZE=ON
cmake --build build-asan -j2
reports="$PWD/build-asan/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# Every report also lands in a file, so one from a child process whose exit
# status a test does not look at still fails the run.
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-asan --output-on-failure --timeout 900 -j2
if [ -n "$(ls -A "$reports")" ]; then
  echo "Sanitizer reports:" >&2
  cat "$reports"/* >&2
  exit 1
fi
echo "Sanitizer pass: no reports."

./scripts/tsan.sh
