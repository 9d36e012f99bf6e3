#!/usr/bin/env bash
# Builds the demo installation from demo/corpus into OUT:
#   OUT/bases/acts.vq, rulings.vq   the main catalogue ("biblion")
#   OUT/bases/spis.vq               the contents catalogue ("TOC")
#   OUT/site/                       the installation directory (the static site)
#   OUT/registry.reg                the registry file naming all of them
#   OUT/cache/                      the state directory (the server's cache files)
# usage: demo/build-demo.sh [--site-only] BIN_DIR OUT   (BIN_DIR holds vamudemo and vamubase)
#   --site-only  only refresh OUT/site from site/ (the bases and the registry stay)
set -euo pipefail
site_only=no
if [ "${1:-}" = "--site-only" ]; then site_only=yes; shift; fi
if [ $# -ne 2 ]; then
  echo "usage: $0 [--site-only] BIN_DIR OUT" >&2
  exit 2
fi
bin=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
stage=$out/stage

# The site: the files an installation serves (not the tools beside them).
copy_site() {
  rm -rf "$out/site.new"
  mkdir -p "$out/site.new"
  for f in "$top"/site/*; do
    case "$f" in *.htm|*.js|*.css|*.gif|*.jpg|*.ico) cp "$f" "$out/site.new/" ;; esac
  done
  rm -rf "$out/site"
  mv "$out/site.new" "$out/site"
}
# The state directory: the server's cache files (the table of acts). A demo
# registry written before it existed gets the value added.
state_dir() {
  mkdir -p "$out/cache"
  if [ -f "$out/registry.reg" ] && ! grep -q '"CacheDir"=' "$out/registry.reg"; then
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup]\r\n"CacheDir"="%s"\r\n' "$out/cache" \
      >> "$out/registry.reg"
  fi
}
if [ $site_only = yes ]; then
  copy_site
  state_dir
  exit 0
fi

rm -rf "$stage"
mkdir -p "$stage" "$out/bases"
"$bin/vamudemo" --corpus "$top/demo/corpus" --out "$stage"
# The image item of the base (shown on the home page through portico.dll?Image&SCHEMAT).
cp "$top/demo/images/SCHEMAT.JPG" "$stage/acts/"
echo SCHEMAT.JPG >> "$stage/acts.list"

# One base per list, the documents in the order of the list.
build_base() {  # build_base LIST BASE
  local list=$1 base=$2 files=()
  while IFS= read -r name; do files+=("$stage/$list/$name"); done < "$stage/$list.list"
  rm -f "$base.new" "$base.newp"
  "$bin/vamubase" build -q --keys "$stage/keys.txt" "$base.new" "${files[@]}"
  local report
  if ! report=$("$bin/vamubase" verify "$base.new" 2>&1); then echo "$report" >&2; exit 1; fi
  # The word positions file beside the base (its name + "p") goes with it.
  mv "$base.newp" "${base}p"
  mv "$base.new" "$base"
}
build_base acts "$out/bases/acts.vq"
build_base rulings "$out/bases/rulings.vq"
build_base toc "$out/bases/spis.vq"

copy_site

# Windows-1250 text like every registry file of the system (the Polish texts are
# converted; the paths stay the bytes the file system has).
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server]\r\n"Counter"=dword:00000000\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup]\r\n"Dir"="%s"\r\n"CacheDir"="%s"\r\n\r\n' \
    "$out/site" "$out/cache"
  printf '[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Commercials]\r\n'
  printf '"Commercial1"="reklama1.gif;Vamu Qad - Dz.U. i M.P. w jednym miejscu"\r\n'
  printf '"Commercial2"="reklama2.gif;Orzeczenia przy artykułach"\r\n' | iconv -f UTF-8 -t CP1250
  printf '"Commercial3"="reklama3.gif;Drzewo aktów"\r\n\r\n' | iconv -f UTF-8 -t CP1250
  printf '[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Publisher]\r\n'
  printf '"Notice"="Vamu Qad - baza demonstracyjna z tekstów publicznych"\r\n' | iconv -f UTF-8 -t CP1250
  printf '"Address"="Home.htm"\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion]\r\n"1"="%s"\r\n"2"="%s"\r\n\r\n' \
    "$out/bases/acts.vq" "$out/bases/rulings.vq"
  printf '[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\TOC]\r\n"1"="%s"\r\n' "$out/bases/spis.vq"
} > "$out/registry.reg.new"
mv "$out/registry.reg.new" "$out/registry.reg"
state_dir
rm -rf "$stage"
echo "demo: bases, site and registry in $out"
