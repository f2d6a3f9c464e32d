#!/bin/sh
# Compares the parse speed of `ordalis check` with the Lua 5.4 compiler's parse-only mode on
# scripts of about 1 MB that hold the same statements in each language.
#
# Usage: bench/parse_vs_luac.sh [BUILD_DIR]    (default: build)
# Installs lua5.4 with apt-get when luac5.4 is missing. Prints the best of 5 runs of each and
# the ratio ordalis / luac, in wall time and in processor time.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
ordalis=$build/ordalis
runs=5

if [ ! -x "$ordalis" ]; then
  echo "parse_vs_luac: $ordalis not found; build the ordalis_cli target first" >&2
  exit 2
fi
if ! command -v luac5.4 >/dev/null 2>&1; then
  echo "parse_vs_luac: installing lua5.4" >&2
  if [ "$(id -u)" = 0 ]; then apt-get install -y -q lua5.4 >/dev/null
  else sudo apt-get install -y -q lua5.4 >/dev/null; fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One block of varied statements per iteration, written in both languages.
python3 - "$work" <<'PY'
import sys
out = sys.argv[1]
odl, lua = [], []
i = 0
size = 0
while size < 1_000_000:
    n = i
    odl.append(f"""# block {n}: arithmetic, calls, branches and loops
total{n} = {n} + 2 * count - (limit / 4)
name{n} = "item " "{n}"
values{n} = [1, 2.5, "three", [4, 5]]
if total{n} >= 3 and not done then
  meter.Measure(total{n}, "volts")
  result "step {n}" reading = meter.Read(1)
else
  total{n} = total{n} - 1
endif
while k < {n % 7 + 1} do
  k = k + 1
endwhile
function Helper{n}
  return values{n}[0] * 3
endfunction
Helper{n}()
""")
    lua.append(f"""-- block {n}: arithmetic, calls, branches and loops
total{n} = {n} + 2 * count - (limit / 4)
name{n} = "item " .. "{n}"
values{n} = {{1, 2.5, "three", {{4, 5}}}}
if total{n} >= 3 and not done then
  meter:Measure(total{n}, "volts")
  reading = meter:Read(1)
else
  total{n} = total{n} - 1
end
while k < {n % 7 + 1} do
  k = k + 1
end
function Helper{n}()
  return values{n}[1] * 3
end
Helper{n}()
""")
    size += len(odl[-1])
    i += 1
open(f"{out}/big.odl", "w").write("".join(odl))
open(f"{out}/big.lua", "w").write("".join(lua))
PY

"$ordalis" check --syntax "$work/big.odl"   # must be error-free
luac5.4 -p "$work/big.lua"

# Best of $runs runs of each: wall time, and processor time (user + system) of the child, which
# a busy machine disturbs less.
python3 - "$runs" "$ordalis" "$work" <<'PY'
import os, resource, subprocess, sys, time
runs, ordalis, work = int(sys.argv[1]), sys.argv[2], sys.argv[3]

def best(command):
    wall, cpu = [], []
    for _ in range(runs):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        wall.append(time.perf_counter() - start)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    return min(wall) * 1000, min(cpu) * 1000

odl = best([ordalis, "check", "--syntax", f"{work}/big.odl"])
lua = best(["luac5.4", "-p", f"{work}/big.lua"])
print(f"script size:   ordalis {os.path.getsize(f'{work}/big.odl')} bytes, "
      f"lua {os.path.getsize(f'{work}/big.lua')} bytes")
print(f"ordalis check --syntax: {odl[0]:7.1f} ms wall  {odl[1]:7.1f} ms cpu  (best of {runs})")
print(f"luac5.4 -p:    {lua[0]:7.1f} ms wall  {lua[1]:7.1f} ms cpu  (best of {runs})")
print(f"ratio:         {odl[0] / lua[0]:7.2f} wall      {odl[1] / max(lua[1], 0.001):7.2f} cpu")
PY
