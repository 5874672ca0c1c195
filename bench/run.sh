#!/usr/bin/env bash
# Builds Release into its own folder and prints the Performance table: every
# round-trip figure in two pinned placements (server and client on CPU 0;
# server on CPU 1, client on CPU 0), each the median of several repetitions
# with its spread, and ratios to the baselines measured in the same run.
# Then the end-to-end figure again through kvrbench_relay, the stand-in for a
# network link of 0.5 ms round trip (0.25 ms each way), everything on CPU 0,
# with a raw ping-pong through the relay as its baseline; and the importers
# with -b on at a 20 ms round trip (bench/import_link.py).
#   KOVRA_BENCH_BUILD  build folder (default build-bench)
#   KOVRA_BENCH_REPS   repetitions of every figure (default 5)
#   KOVRA_BENCH_E2E_REPS  repetitions of the end-to-end figure (default 3)
#   KOVRA_BENCH_LINK_REPS  repetitions of the end-to-end figure through the
#                      link (default 1: kvrdbri line by line alone is some
#                      54,000 round trips x 0.5 ms, about 30 s a repetition,
#                      plus as long again for the run that counts them)
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
link_reps=${KOVRA_BENCH_LINK_REPS:-1}
link_delay_us=250
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOVRA_BENCH=ON -DKOVRA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target kovrasc kvrdevserver kvrdbri kvrdbrigtm kvrdbrirsa kvrdbro kvrdbrorsa \
  kvrbench kvrbench_peer kvrbench_relay
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
    line=$(head -n 1 "$work/$name.out" 2>/dev/null || true)
    [[ $line == listening\ on\ 127.0.0.1:* ]] && break
    sleep 0.1
  done
  [[ $line == listening\ on\ 127.0.0.1:* ]] || { echo "$name did not start: $line" >&2; exit 1; }
  printf -v "port_$name" '%s' "${line##*:}"
}

# A root and a server certificate for 127.0.0.1, made for this run only.
tls=$work/tls
mkdir -p "$tls"
new_key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
openssl req -x509 "${new_key[@]}" -keyout "$tls/root.key" -out "$tls/root.pem" \
  -subj "/CN=Kovra Bench Root" -days 2 2>/dev/null
openssl req -new "${new_key[@]}" -keyout "$tls/server.key" -out "$tls/server.csr" \
  -subj "/CN=localhost" 2>/dev/null
echo "subjectAltName=DNS:localhost,IP:127.0.0.1" >"$tls/server.ext"
openssl x509 -req -in "$tls/server.csr" -CA "$tls/root.pem" -CAkey "$tls/root.key" \
  -CAcreateserial -days 2 -extfile "$tls/server.ext" -out "$tls/server.pem" 2>/dev/null

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
  start devserver_tls "$server_cpu" "$bin/kvrdevserver" --port 0 \
    --tls-cert "$tls/server.pem" --tls-key "$tls/server.key"
  taskset -c "$client_cpu" "$bin/kvrbench" \
    --pingpong="$port_pingpong" --reply="$port_reply" --bulk="$port_bulk" \
    --devserver="$port_devserver" --bytes="$bytes" \
    --tls-devserver="$port_devserver_tls" --tls-ca="$tls/root.pem" \
    --placement="$placement" --samples="$samples" \
    --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
    --benchmark_color=false
  taskset -c "$client_cpu" python3 "$root/bench/e2e.py" --bin "$bin" --port "$port_devserver" \
    --work "$work" --placement "$placement" --samples "$samples" --reps "$e2e_reps"
  stop_servers
done

echo "== link: ${link_delay_us} us each way through kvrbench_relay, everything on CPU 0"
start pingpong 0 "$bin/kvrbench_peer" pingpong
start devserver 0 "$bin/kvrdevserver" --port 0
start pingpong_link 0 "$bin/kvrbench_relay" "$port_pingpong" "$link_delay_us"
start devserver_link 0 "$bin/kvrbench_relay" "$port_devserver" "$link_delay_us"
taskset -c 0 "$bin/kvrbench" --pingpong="$port_pingpong_link" \
  --placement=link --samples="$samples" \
  --benchmark_repetitions="$reps" --benchmark_color=false
taskset -c 0 python3 "$root/bench/e2e.py" --bin "$bin" --port "$port_devserver_link" \
  --work "$work" --placement link --samples "$samples" --reps "$link_reps"
stop_servers

# Figure 7's import rows: the three importers with -b on at a 20 ms round
# trip (10 ms each way), on 600 real routines; it starts its own server and
# relay on CPU 0 and stops them.
import_rows=$work/import-link.md
taskset -c 0 python3 "$root/bench/import_link.py" --bin "$bin" --reps "$e2e_reps" --link-reps "$link_reps" \
  >"$import_rows"

table=$build/bench-table.md
{
  echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')), Linux $(uname -r); load average $start_load at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end; $reps repetitions ($e2e_reps end to end, $link_reps through the link)."
  echo
  python3 "$root/bench/table.py" "$samples"
  echo
  echo "Figure 7, imports with -b on at a 20 ms round trip:"
  echo
  cat "$import_rows"
} | tee "$table"
cp "$samples" "$build/bench-samples.tsv"
echo "Table written to $table"
