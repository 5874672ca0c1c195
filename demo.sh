#!/usr/bin/env bash
# A short session with the database utilities against a development server:
# installs what the build needs (Debian), builds, starts kvrdevserver on a
# free loopback port with a fresh database folder, runs the utilities and
# stops the server again.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
. ./scripts/deps.sh
kovra_install_deps

# The build is quiet: its output goes to a log that is shown only when the
# build fails.
mkdir -p build
build_log=$root/build/demo-build.log
echo "Building the library, the utilities and kvrdevserver into build/ (log: $build_log) ..."
if ! { cmake -S . -B build -G Ninja &&
  cmake --build build --target kovrasc kvrdevserver kvrdbexec kvrdblist kvrdbrfirst kvrdbcompile \
    kvrdbkill kvrdbri kvrdbro kvrdbrorsa kvrdbrostd kvrdbrirsa kvrdbrogtm kvrdbrigtm; } >"$build_log" 2>&1; then
  tail -n 40 "$build_log" >&2
  echo "The build failed; the whole log is $build_log" >&2
  exit 1
fi
bin=$root/build/bin

work=$(mktemp -d "${TMPDIR:-/tmp}/kovra-demo.XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The server's first line names its port; the rest of its output is drained.
mkfifo "$work/server.out"
"$bin/kvrdevserver" --port 0 --dir "$work/db" >"$work/server.out" &
server_pid=$!
exec 3<"$work/server.out"
read -r -t 20 -u 3 first_line || { echo "kvrdevserver did not start" >&2; exit 1; }
cat <&3 >/dev/null &
port=${first_line##*:}

# The utilities load the libkovrasc.so beside them and read ./kvrct.ini from
# where they run.
mkdir -p "$work/db" "$work/session"
cd "$work/session"
cat > kvrct.ini <<INI
[connection]
; the development server started above
server=127.0.0.1
port=$port
database=USER
INI

bold='' plain=''
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; fi
# Shows the command as one would type it, then runs it from build/bin.
show() {
  local shown="" word
  for word in "$@"; do
    if [[ $word =~ ^[A-Za-z0-9@._,/-]+$ ]]; then shown+=" $word"; else shown+=" '$word'"; fi
  done
  printf '\n%s$%s%s\n' "$bold" "$shown" "$plain"
  local tool=$1
  shift
  "$bin/$tool" "$@"
}

# M lines that store a routine file under ^ROUTINE, ^rMAC or ^rINC in the
# layout the utilities use: (name)="lines,characters", (name,0)=$h, lines.
store_lines() {
  local global=$1 name=$2 file=$3 i=0 chars=0 line
  while IFS= read -r line || [ -n "$line" ]; do
    i=$((i + 1))
    chars=$((chars + ${#line}))
    printf 's %s("%s",%d)="%s"\n' "$global" "$name" "$i" "${line//\"/\"\"}"
  done < "$file"
  printf 's %s("%s")="%d,%d",%s("%s",0)=$h\n' "$global" "$name" "$i" "$chars" "$global" "$name"
}

echo "kvrdevserver listening on 127.0.0.1:$port; session folder $work/session"
echo; echo "kvrct.ini:"; cat kvrct.ini

show kvrdbexec 'w "Hello from the server: 6*7=",6*7,!'

{
  store_lines '^ROUTINE' HELLO "$root/examples/HELLO.int"
  store_lines '^ROUTINE' DATES "$root/examples/DATES.int"
  store_lines '^rMAC' PATIENT "$root/examples/PATIENT.mac"
  store_lines '^rINC' PATDEF "$root/examples/PATDEF.inc"
} > store.m
echo; echo "store.m (M lines that store four routines):"; head -3 store.m; echo "..."
show kvrdbexec @store.m

show kvrdblist '*.INT,*.MAC,*.INC'
show kvrdbrfirst '*,*.mac'
show kvrdbexec 'd ^HELLO w "ADD^HELLO(2,3) = ",$$ADD^HELLO(2,3),!'
show kvrdbcompile '*,*.mac,*.inc'
show kvrdbexec 'd ADD^PATIENT(1,"Smith"),ADD^PATIENT(2,"Jones"),LIST^PATIENT'
show kvrdbkill 'DATES' </dev/null
show kvrdblist '*.INT,*.MAC,*.INC'

# Routine files: import the examples/ folder (include files first, then INT,
# then MAC, each compiled), then export every routine into a folder of its own.
in_folder() {
  mkdir -p "$work/$1"
  cp kvrct.ini "$work/$1/"
  cd "$work/$1"
  echo; echo "(in $work/$1)"
}
in_folder import
cp "$root"/examples/* .
show kvrdbri -m all '*.int,*.mac,*.inc'
in_folder export
show kvrdbro '*,*.mac,*.inc'
echo; ls -l --time-style=+%Y-%m-%d\ %H:%M:%S -- *.inc *.mac *.int
echo; echo "A second export in update mode skips the INT files that are current:"
show kvrdbro '*,*.mac,*.inc'

# Exchange formats: every routine into one routine-set file; HELLO deleted
# and brought back from that file (stored, then compiled); the INT routines
# in the ANSI layout and as GT.M files, and DATES brought back from its
# GT.M file.
in_folder formats
show kvrdbrorsa '*.INT,*.MAC,*.INC' all.rsa
echo; echo "all.rsa (the first lines):"; head -6 all.rsa
show kvrdbkill HELLO </dev/null
show kvrdbrirsa all.rsa
show kvrdbcompile HELLO
show kvrdbexec 'd ^HELLO'
show kvrdbrostd 'HELLO*' hello.std
echo; echo "hello.std (the first lines):"; head -4 hello.std
show kvrdbrogtm '*'
echo; ls -- *.m
show kvrdbkill DATES </dev/null
show kvrdbrigtm 'DATES.m'
show kvrdbrfirst 'DATES'
echo
echo "Done; stopping kvrdevserver (pid $server_pid)."
