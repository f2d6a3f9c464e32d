#!/bin/bash
# Compares `ordalis remote --run` of a trivial script (x = 1) against an `ordalis proxy` on the
# loop-back interface with a local `ordalis run` of the same script: whole processes, in
# paired, interleaved runs (local, remote, local, remote, ...), so a busy machine weighs on
# both alike.
#
# Usage: bench/remote_vs_local.sh [BUILD_DIR [RUNS [key|clear]]]   (default: build 20 key)
# "key" serves the proxy under the authenticated cipher (as a network server must be), "clear"
# with --insecure. Prints the median of each and the ratio remote / local.
set -u

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-20}
mode=${3:-key}
ordalis=$build/ordalis

if [ ! -x "$ordalis" ]; then
  echo "remote_vs_local: $ordalis not found; build the ordalis_cli target first" >&2
  exit 2
fi

work=$(mktemp -d)
proxy=""
finish() {
  if [ -n "$proxy" ]; then
    kill "$proxy" 2>/dev/null
    wait "$proxy" 2>/dev/null
  fi
  rm -rf "$work"
}
trap finish EXIT

printf 'x = 1\n' > "$work/trivial.odl"
if [ "$mode" = key ]; then
  proxy_options=(--key bench); remote_options=(--key bench)
else
  proxy_options=(--insecure); remote_options=()
fi

mkfifo "$work/proxy.out"
"$ordalis" proxy tcp 0 --bind 127.0.0.1 "${proxy_options[@]}" --results-dir "$work/remote" \
  --log-level severe > "$work/proxy.out" 2>&1 &
proxy=$!
exec 3<"$work/proxy.out"
port=""
while read -r line <&3; do
  case "$line" in *"listening on port"*) port=${line##* }; break ;; esac
done
if [ -z "$port" ]; then
  echo "remote_vs_local: the proxy did not start" >&2
  exit 1
fi
cat <&3 > /dev/null &

now() { date +%s.%N; }
local_times=(); remote_times=()
for _ in $(seq "$runs"); do
  t0=$(now)
  "$ordalis" run "$work/trivial.odl" --quiet --results-dir "$work/local" > /dev/null 2>&1
  t1=$(now)
  if ! "$ordalis" remote tcp "\"127.0.0.1\", $port" "${remote_options[@]}" --run "$work/trivial.odl" \
      --log-level severe > /dev/null 2>&1; then
    echo "remote_vs_local: a remote run failed" >&2
  fi
  t2=$(now)
  local_times+=("$(echo "$t1 - $t0" | bc)"); remote_times+=("$(echo "$t2 - $t1" | bc)")
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
local_median=$(median "${local_times[@]}")
remote_median=$(median "${remote_times[@]}")
echo "$mode, $runs paired runs: local run ${local_median} s, remote --run ${remote_median} s," \
  "ratio $(echo "scale=2; $remote_median / $local_median" | bc)"
