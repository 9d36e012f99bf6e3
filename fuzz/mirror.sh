#!/usr/bin/env bash
# mirror.sh SOURCE DEST: a copy of the source tree for the clang build of the
# fuzzers. The libraries with Polish text are compiled by g++ with
# -fexec-charset=CP1250; clang has no such option but passes the bytes of a
# literal through as they stand, so the copy holds every C++ file converted
# to windows-1250 and clang compiles the same bytes into the program.
# Characters outside windows-1250 can only stand in comments (g++ would
# refuse them in literals); they are transliterated. Files whose copy is
# current are left alone, so a rebuild compiles only what changed.
set -euo pipefail
src=$(cd "$1" && pwd)
dst=$2
mkdir -p "$dst"
cd "$src"
dirs=(platform kasten concorda biblion portico setup tools fuzz)
find CMakeLists.txt "${dirs[@]}" -type f ! -path 'fuzz/corpus/*' ! -path 'fuzz/regressions/*' ! -path 'fuzz/open/*' |
while read -r f; do
  out=$dst/$f
  [ "$out" -nt "$f" ] && continue
  mkdir -p "$(dirname "$out")"
  case $f in
    *.cpp|*.h) iconv -f UTF-8 -t CP1250//TRANSLIT "$f" > "$out.tmp" && mv "$out.tmp" "$out" ;;
    *) cp "$f" "$out" ;;
  esac
done
# Files removed from the source leave the copy too.
(cd "$dst" && find "${dirs[@]}" CMakeLists.txt -type f 2>/dev/null) | while read -r f; do
  [ -e "$src/$f" ] || rm -f "$dst/$f"
done
