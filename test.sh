#!/usr/bin/env bash
# Installs what the build needs (on Debian, as root or through sudo), builds
# everything into build/ and runs the whole test suite; then builds it all
# again with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/
# and runs the suite there, failing on any sanitizer report (also one from a
# utility or kvrdevserver that a test started); last, the library's unit
# tests and its threads test under ThreadSanitizer (scripts/tsan.sh). The
# sanitizer builds are -O1 with line tables only; ccache is used when it is
# installed (CCACHE_DISABLE=1 turns it off).
#
#   ./test.sh           every pass
#   ./test.sh --quick   the normal pass only
#   ./test.sh --verbose everything on the console as well as in the log
#
# The console shows one line per step, each failing test's output in full and
# the closing line of each pass; everything else goes to build/test.log.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD

quick=0 verbose=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    --verbose) verbose=1 ;;
    -h | --help) sed -n '11,13s/^#  *//p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown argument '$arg'" >&2; sed -n '11,13s/^#  *//p' "$0" >&2; exit 2 ;;
  esac
done

. ./scripts/deps.sh
# Test-only: an independent M implementation's shipped routines are the
# conformance corpus of kvrdevserver's M engine (the test skips without it).
kovra_packages+=(fis-gtm)
kovra_install_deps

# A compiler cache when there is one: a second run recompiles only what
# changed. Everything also holds without it.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
  export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
fi

mkdir -p build
log="$root/build/test.log"
: > "$log"
echo "Full log: $log"

# Runs a command with its output in the log (and on the console with
# --verbose); on failure shows the end of that output.
quietly() {
  local what=$1 start
  shift
  echo "== $what"
  start=$(wc -l < "$log")
  if [ "$verbose" = 1 ]; then
    "$@" 2>&1 | tee -a "$log"
    return "${PIPESTATUS[0]}"
  fi
  if ! "$@" >> "$log" 2>&1; then
    echo "-- $what failed; the last lines of its output:" >&2
    tail -n +"$((start + 1))" "$log" | tail -n 60 >&2
    return 1
  fi
}

# Runs ctest; prints the full output of each failing test and ctest's closing
# lines. ctest prints a finished test's output in one piece, so the output
# of a failure runs from its result line to the next result line.
# Arguments after the first three go to ctest.
run_tests() {
  local dir=$1 timeout=$2 jobs=${3:-2} out status=0
  shift 3 || shift $#
  echo "== tests in $dir${*:+ ($*)}"
  out=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure --timeout "$timeout" -j"$jobs" "$@" > "$out" 2>&1 || status=$?
  cat "$out" >> "$log"
  if [ "$verbose" = 1 ]; then
    cat "$out"
  else
    awk '
      /^ *[0-9]+\/[0-9]+ Test +#[0-9]+:/ { failing = ($0 !~ / Passed +[0-9.]+ sec$/) }
      /^[0-9]+% tests passed/ { failing = 0; closing = 1 }
      failing || closing { print }
    ' "$out"
  fi
  rm -f "$out"
  return "$status"
}

# Every tree is compiled in unity batches of eight sources: each header is
# read once a batch instead of once a source.
unity=(-DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=8)

quietly "configure build/" cmake -S . -B build -G Ninja -DKOVRA_TESTS=ON "${unity[@]}"
quietly "build build/" cmake --build build -j2
run_tests build 600 2

if [ "$quick" = 1 ]; then
  echo "Quick run: the sanitizer passes were left out ($SECONDS s in all)."
  exit 0
fi

# The utilities' end-to-end tests only run programs: rather than build them
# again, the sanitized pass runs those of build/ against its own programs.
quietly "configure build-asan/" cmake -S . -B build-asan -G Ninja -DKOVRA_TESTS=ON -DKOVRA_SANITIZE=ON \
  -DKOVRA_UTILITY_TESTS=OFF "${unity[@]}"
quietly "build build-asan/" cmake --build build-asan -j2
reports="$root/build-asan/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# Every report also lands in a file, so one from a child process whose exit
# status a test does not look at still fails the run.
# Freed memory waits in a quarantine of 64 MB rather than 256 before it is
# reused: still far more than a utility frees in its life, and each of the
# thousands of short-lived programs the tests start touches (and the kernel
# maps) a quarter of the memory, which halves the time of the pass.
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:abort_on_error=1:strict_string_checks=1:quarantine_size_mb=64"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"
# Sanitized, the end-to-end tests spend most of their time waiting for the
# programs they start, so three at a time keep two cores busy.
status=0
run_tests build-asan 900 3 || status=1
KVR_TEST_BIN_DIR="$root/build-asan/bin" \
  run_tests build 900 3 -L '^(import|export|import_export|utilities)_e2e_tests$' || status=1
if [ -n "$(ls -A "$reports")" ]; then
  echo "Sanitizer reports:" >&2
  cat "$reports"/* >&2
  exit 1
fi
[ "$status" -eq 0 ] || exit 1
echo "Sanitizer pass: no reports ($SECONDS s so far)."

quietly "ThreadSanitizer pass (build-tsan/)" ./scripts/tsan.sh
tail -n 1 "$log"
echo "Every pass passed in $SECONDS s."
