#!/usr/bin/env bash
# Makes the Debian package from a build directory whose programs are built:
# the demo bases from demo/corpus into BUILD/package/demo, then cpack.
# Prints the path of the package. usage: packaging/make-deb.sh BUILD_DIR
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
out=$build/package
mkdir -p "$out"
bash "$top/demo/build-demo.sh" "$build/bin" "$out/demo" >"$out/demo.log" 2>&1 || { cat "$out/demo.log" >&2; exit 1; }
rm -f "$out"/vamu_*.deb
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; exit 1; }
ls "$out"/vamu_*.deb
