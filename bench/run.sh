#!/usr/bin/env bash
# Builds Release into its own folder and prints the Performance table: every
# round-trip figure in two pinned placements (server and client on CPU 0;
# server on CPU 1, client on CPU 0), each the median of several repetitions
# with its spread, and ratios to the baselines measured in the same run.
#   KOVRA_BENCH_BUILD  build folder (default build-bench)
#   KOVRA_BENCH_REPS   repetitions of every figure (default 5)
#   KOVRA_BENCH_E2E_REPS  repetitions of the end-to-end figure (default 3)
# Every server it starts binds 127.0.0.1 and is stopped by its pid at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. ./scripts/deps.sh
kovra_packages+=(python3 util-linux strace time)
kovra_install_deps

build=$root/${KOVRA_BENCH_BUILD:-build-bench}
reps=${KOVRA_BENCH_REPS:-5}
e2e_reps=${KOVRA_BENCH_E2E_REPS:-3}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOVRA_BENCH=ON -DKOVRA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target kovrasc kvrdevserver kvrdbri kvrdbro kvrdbrorsa kvrbench kvrbench_peer
bin=$build/bin
bytes=$((20 * 1024 * 1024))

work=$(mktemp -d "${TMPDIR:-/tmp}/kovra-bench.XXXXXX")
pids=()
stop_servers() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  pids=()
}
cleanup() {
  stop_servers
  rm -rf "$work"
}
trap cleanup EXIT

# start NAME CPU COMMAND...: starts a server pinned to CPU and sets port_NAME
# from its first line ("listening on 127.0.0.1:PORT").
start() {
  local name=$1 cpu=$2
  shift 2
  taskset -c "$cpu" "$@" >"$work/$name.out" 2>&1 &
  pids+=($!)
  local tries line=""
  for tries in $(seq 1 100); do
    line=$(head -n 1 "$work/$name.out")
    [[ $line == listening\ on\ 127.0.0.1:* ]] && break
    sleep 0.1
  done
  [[ $line == listening\ on\ 127.0.0.1:* ]] || { echo "$name did not start: $line" >&2; exit 1; }
  printf -v "port_$name" '%s' "${line##*:}"
}

start_load=$(cut -d' ' -f1-3 /proc/loadavg)
samples=$work/samples.tsv
: >"$samples"
placements=("same-cpu 0 0")
if [ "$(nproc)" -ge 2 ]; then placements+=("cross-cpu 1 0"); fi

for entry in "${placements[@]}"; do
  read -r placement server_cpu client_cpu <<<"$entry"
  echo "== $placement: servers on CPU $server_cpu, clients on CPU $client_cpu"
  start pingpong "$server_cpu" "$bin/kvrbench_peer" pingpong
  start reply "$server_cpu" "$bin/kvrbench_peer" reply
  start bulk "$server_cpu" "$bin/kvrbench_peer" bulk "$bytes"
  start devserver "$server_cpu" "$bin/kvrdevserver" --port 0
  taskset -c "$client_cpu" "$bin/kvrbench" \
    --pingpong="$port_pingpong" --reply="$port_reply" --bulk="$port_bulk" \
    --devserver="$port_devserver" --bytes="$bytes" \
    --placement="$placement" --samples="$samples" \
    --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
    --benchmark_color=false
  taskset -c "$client_cpu" python3 "$root/bench/e2e.py" --bin "$bin" --port "$port_devserver" \
    --work "$work" --placement "$placement" --samples "$samples" --reps "$e2e_reps"
  stop_servers
done

table=$build/bench-table.md
{
  echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')), Linux $(uname -r); load average $start_load at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end; $reps repetitions ($e2e_reps end to end)."
  echo
  python3 "$root/bench/table.py" "$samples"
} | tee "$table"
cp "$samples" "$build/bench-samples.tsv"
echo "Table written to $table"
