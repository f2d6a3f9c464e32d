#!/usr/bin/env bash
# The installed package, as a user meets it: `cmake --install` into a scratch prefix, then
#   - the C++ client example built with find_package(Ordalis) and with pkg-config creates every
#     class by its identifier, and its script_events program prints a script's events as it runs;
#   - the greeter plug-in example built with find_package and with pkg-config is found and
#     called by the installed `ordalis run`;
#   - the installed bash and zsh completion complete commands, subcommands and options;
#   - the installed `ordalis run` runs a script on the installed demo plug-in;
#   - the Python module imports from the prefix and runs a script;
#   - with --deb: the .deb CPack makes, unpacked with `dpkg -x` into a scratch root, does the same;
#     its binaries are stripped, their debug information is in the -dbgsym package, and it
#     installs in no more than 20 MB.
# Usage: check_install.sh SOURCE_DIR BUILD_DIR [--deb]
set -euo pipefail
source_dir=$1
build_dir=$2
mode=${3:-}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ordalis_package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export ORDALIS_MACHINE_SETTINGS=$scratch/machine.json ORDALIS_USER_SETTINGS=$scratch/user.json
unset ORDALIS_PLUGIN_PATH
step() { echo "== $*"; }

if [ "$mode" = "--deb" ]; then
  step "cpack -G DEB"
  (cd "$scratch" && cpack -G DEB -B "$scratch/deb" --config "$build_dir/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log"; exit 1; }
  deb=$(ls "$scratch"/deb/ordalis_*.deb)
  dpkg-deb --info "$deb" | grep -E "Package|Version|Depends"
  step "dpkg -x $(basename "$deb")"
  dpkg -x "$deb" "$scratch/root"
  prefix=$scratch/root/usr
  step "stripped binaries, debug information in the -dbgsym package"
  unstripped=$(find "$scratch/root" -type f -exec file {} + | grep ELF | grep -v ', stripped' || true)
  [ -z "$unstripped" ] || { echo "not stripped in the package:"; echo "$unstripped"; exit 1; }
  ddeb=$(ls "$scratch"/deb/ordalis-dbgsym_*.ddeb 2>/dev/null || true)
  [ -n "$ddeb" ] || { echo "no ordalis-dbgsym package beside the .deb"; ls "$scratch/deb"; exit 1; }
  debug_files=$(dpkg-deb --contents "$ddeb" | grep -c '/usr/lib/debug/.build-id/.*\.debug$' || true)
  [ "$debug_files" -gt 0 ] || { echo "no debug files in $(basename "$ddeb")"; exit 1; }
  echo "debug files: $debug_files"
  installed_kb=$(du -sk "$scratch/root" | cut -f1)
  echo "installed size: $installed_kb KB"
  [ "$installed_kb" -le $((20 * 1024)) ] || { echo "the package installs $installed_kb KB, over 20 MB"; exit 1; }
else
  step "cmake --install"
  cmake --install "$build_dir" --prefix "$scratch/prefix" >/dev/null
  prefix=$scratch/prefix
fi

for file in bin/ordalis include/ordalis/component.h lib/cmake/Ordalis/OrdalisConfig.cmake \
            lib/pkgconfig/ordalis.pc lib/ordalis/plugins/demo.so share/man/man1/ordalis.1 \
            share/doc/ordalis/docs/plugins.md share/bash-completion/completions/ordalis \
            share/zsh/vendor-completions/_ordalis; do
  [ -e "$prefix/$file" ] || { echo "missing: $file"; exit 1; }
done
soname=$(objdump -p "$prefix"/lib/libordalis.so.4 | awk '/SONAME/ {print $2}')
[ "$soname" = "libordalis.so.4" ] || { echo "soname is '$soname'"; exit 1; }

step "bash completion"
completed=$(bash -c 'source "$1"; COMP_WORDS=(ordalis check --form); COMP_CWORD=2; _ordalis
                     echo "${COMPREPLY[*]}"' - "$prefix/share/bash-completion/completions/ordalis")
[ "$completed" = "--format" ] || { echo "bash completion of 'ordalis check --form': '$completed'"; exit 1; }
step "bash and zsh completion of commands, subcommands and options"
"$source_dir/tests/package/check_completion.sh" "$prefix/share/bash-completion/completions/ordalis" \
  "$prefix/share/zsh/vendor-completions"

step "ordalis run on the demo plug-in"
cp "$source_dir/examples/power_supply.odl" "$scratch/"
"$prefix/bin/ordalis" testers | grep -q "module: *$prefix/.*lib/ordalis/plugins/demo.so" ||
  { echo "the installed ordalis does not use the installed demo plug-in"; "$prefix/bin/ordalis" testers; exit 1; }
"$prefix/bin/ordalis" run --quiet "$scratch/power_supply.odl"

if [ "$mode" = "--deb" ]; then
  if [ -d "$prefix/lib/python3/dist-packages/ordalis" ]; then
    step "Python module from the package, on the package's libordalis.so"
    objdump -p "$prefix"/lib/python3/dist-packages/ordalis/_ordalis*.so | grep -q 'NEEDED *libordalis\.so\.4' ||
      { echo "the Python module does not use libordalis.so.4"; exit 1; }
    PYTHONPATH=$prefix/lib/python3/dist-packages /usr/bin/python3 -c "
import ordalis, sys
result = ordalis.run(sys.argv[1])
assert result.passed, result
print('python: passed', result.results_path)" "$scratch/power_supply.odl"
  fi
  exit 0
fi

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
step "C++ client with find_package"
cmake -S "$source_dir/examples/client" -B "$scratch/client" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/client" >/dev/null
"$scratch/client/client"
step "C++ client following a script's events"
cp "$source_dir/examples/hello.odl" "$scratch/"
"$scratch/client/script_events" "$scratch/hello.odl" >"$scratch/events.txt"
for line in "event  Started" "log    (cleared)" "event  Executed item" "hello.odl: Passed"; do
  grep -qF "$line" "$scratch/events.txt" || { echo "no '$line' among the events:"; cat "$scratch/events.txt"; exit 1; }
done
step "C++ client with pkg-config"
# shellcheck disable=SC2046
g++ -std=c++20 "$source_dir/examples/client/client.cpp" $(pkg-config --cflags --libs ordalis) \
  -Wl,-rpath,"$(pkg-config --variable=libdir ordalis)" -o "$scratch/client-pc"
"$scratch/client-pc" >/dev/null

step "greeter plug-in with find_package and with pkg-config"
cmake -S "$source_dir/docs/examples/greeter" -B "$scratch/greeter" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/greeter" >/dev/null
mkdir "$scratch/greeter-pc"
# shellcheck disable=SC2046
g++ -std=c++20 -shared -fPIC -fvisibility=hidden $(pkg-config --cflags ordalis) \
  "$source_dir/docs/examples/greeter/greeter.cpp" -o "$scratch/greeter-pc/greeter.so"
printf 'g = new greeter("Hello")\ng.Greet("world")\n' > "$scratch/greet.odl"
for dir in "$scratch/greeter" "$scratch/greeter-pc"; do
  ORDALIS_PLUGIN_PATH=$dir "$prefix/bin/ordalis" run --quiet "$scratch/greet.odl"
done
