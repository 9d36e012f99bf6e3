#!/usr/bin/env bash
# The Search page at the scale of a large collection: BASES bases of DOCS
# generated documents each (vamugen, then vamubase build, as an operator makes
# them), served by vamuserver, beside SQLite FTS5 over the same documents in
# the same run (count only, as the page's first step counts the hits).
#
# Reported:
#   - per base: build wall time, processor time and peak memory of vamubase
#     build, the sizes of the base and of its word positions file;
#   - the server: time to listen, the first search (the catalogue and the table
#     of acts are loaded), memory after the queries;
#   - Search page cache misses by class (a single word, "I", a prefix, a
#     phrase, BLISKO; forms1 and forms2: one word and two words joined by "I"
#     with all forms of the words and fragments, Formy=1&Fragmenty=1, beside
#     FTS5 given the same forms): median and p99 of the wall time seen by the client and
#     of the processor time the whole server spent (all its threads), beside
#     FTS5's wall time for the same query over the same documents.
# Each request carries a field of its own that the pages ignore, so that the
# Search page's result cache never answers it; the first request of each query
# is left out of the figures (it warms the file cache, not the index).
#
# The bases (and the FTS5 database) are made once in DIR and reused by later
# runs while DIR/made says they were made for the same DOCS and BASES; their
# build figures are kept in DIR/build.txt and shown again. The generated
# documents are removed once a base is built.
#
#   bench/scale_bench.sh [--build DIR] [--dir DIR] [--docs 60000] [--bases 3] [--runs 30] [--jobs N] [--remake]
#
# The build directory must hold bin/vamugen, bin/vamubase, bin/vamuserver and
# lib/libportico.so. Needs python3 (its sqlite3 module, with FTS5) and curl.
set -euo pipefail

SOURCE=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$SOURCE/build
DIR=${TMPDIR:-/tmp}/vamu_scale_bench
DOCS=60000
BASES=3
RUNS=30
JOBS=$(nproc)
REMAKE=no
while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD=$2; shift 2 ;;
    --dir) DIR=$2; shift 2 ;;
    --docs) DOCS=$2; shift 2 ;;
    --bases) BASES=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --jobs) JOBS=$2; shift 2 ;;
    --remake) REMAKE=yes; shift ;;
    *) sed -n '/^#   bench/p' "$0" >&2; exit 2 ;;
  esac
done
BUILD=$(cd "$BUILD" && pwd)
VAMUGEN=$BUILD/bin/vamugen
VAMUBASE=$BUILD/bin/vamubase
for f in "$VAMUGEN" "$VAMUBASE" "$BUILD/bin/vamuserver" "$BUILD/lib/libportico.so"; do
  [ -e "$f" ] || { echo "scale_bench: $f is missing (build the runtime targets and vamugen)" >&2; exit 1; }
done
command -v curl >/dev/null || { echo "scale_bench: curl is missing" >&2; exit 1; }
python3 -c 'import sqlite3; c = sqlite3.connect(":memory:"); c.execute("create virtual table t using fts5(x)")' ||
  { echo "scale_bench: python3's sqlite3 has no FTS5" >&2; exit 1; }
mkdir -p "$DIR"
DIR=$(cd "$DIR" && pwd)
STARTED=$(date +%s)

# --- the bases, made once ---
MADE="docs=$DOCS bases=$BASES"
if [ $REMAKE = yes ] || [ ! -f "$DIR/made" ] || [ "$(cat "$DIR/made")" != "$MADE" ]; then
  rm -rf "$DIR/bases" "$DIR/fts.db" "$DIR/made" "$DIR/build.txt" "$DIR/gen" "$DIR/cache"
  mkdir -p "$DIR/bases"
  python3 "$SOURCE/bench/scale_search.py" create "$DIR/fts.db"
  for b in $(seq 1 "$BASES"); do
    rm -rf "$DIR/gen"
    "$VAMUGEN" --first $(( (b - 1) * DOCS )) --count "$DOCS" --out "$DIR/gen" > /dev/null
    # Wall, processor (user + system) seconds and peak resident memory of the build.
    /usr/bin/time -f '%e %U %S %M' -o "$DIR/time.txt" \
      "$VAMUBASE" build -q --jobs "$JOBS" --keys "$DIR/gen/keys.txt" "$DIR/bases/base$b.vq" "$DIR/gen/acts" "$DIR/gen/rulings"
    read -r wall user sys peak < "$DIR/time.txt"
    fts=$(python3 "$SOURCE/bench/scale_search.py" add "$DIR/fts.db" "$DIR/gen/acts" "$DIR/gen/rulings")
    printf 'base%s %s %s %s %s %s\n' "$b" "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN {print u + s}')" \
      "$peak" "$(du -sm "$DIR/gen" | cut -f1)" "$fts" >> "$DIR/build.txt"
  done
  rm -rf "$DIR/gen" "$DIR/time.txt"
  echo "$MADE" > "$DIR/made"
  echo "scale_bench: bases made in $(( $(date +%s) - STARTED )) s"
else
  echo "scale_bench: reusing the bases in $DIR ($MADE)"
fi

echo
echo "build ($JOBS jobs; FTS5: the same documents into one table, in python3's sqlite3)"
printf '%-6s %9s %9s %9s %10s %10s %10s %10s\n' base "wall s" "CPU s" "peak MB" "docs MB" "base MB" "positions" "FTS5 s"
while read -r name wall cpu peak docs fts; do
  printf '%-6s %9.1f %9.1f %9.0f %10s %10.0f %10.0f %10.1f\n' "$name" "$wall" "$cpu" "$(( peak / 1024 ))" "$docs" \
    "$(du -m "$DIR/bases/$name.vq" | cut -f1)" "$(du -m "$DIR/bases/$name.vqp" | cut -f1)" "$fts"
done < "$DIR/build.txt"

# --- the server ---
BENCH_NAME=scale_bench
source "$SOURCE/bench/server_common.sh"
# The table of acts' cache is kept with the bases: the first run shows the
# first search of a server that builds the table, later runs one that reads it.
mkdir -p "$WORK/site" "$DIR/cache"
TABLE_CACHE=$( [ -n "$(ls -A "$DIR/cache")" ] && echo "read from its cache" || echo "built, no cache yet")
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup]\r\n"Dir"="%s"\r\n"CacheDir"="%s"\r\n\r\n' \
    "$WORK/site" "$DIR/cache"
  printf '[HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion]\r\n'
  for b in $(seq 1 "$BASES"); do printf '"%s"="%s"\r\n' "$b" "$DIR/bases/base$b.vq"; done
} > "$WORK/registry.reg"
START_NS=$(date +%s%N)
start_vamuserver "$WORK/registry.reg"
SERVER=${PIDS[-1]}
LISTEN_MS=$(( ($(date +%s%N) - START_NS) / 1000000 ))
URL="http://127.0.0.1:$PORT/portico.dll"
FIRST_MS=$(curl -sf -o /dev/null -w '%{time_total}' "$URL?Search&Pattern=ustawa" |
  awk '{printf "%.0f", $1 * 1000}')

# The queries by class: the page's pattern (URL-encoded windows-1250) and the
# same query for FTS5 (UTF-8). The words are of the generated documents.
cat > "$WORK/queries" <<'EOF'
single	s%B9d	sąd
single	wierzyciel	wierzyciel
single	grzywny	grzywny
I	s%B9d+I+post%EApowania	sąd AND postępowania
I	wierzyciel+I+d%B3u%BFnik	wierzyciel AND dłużnik
prefix	zobowi%B9z*	zobowiąz*
prefix	nieruch*	nieruch*
prefix	kasac*	kasac*
phrase	%22skargi+kasacyjnej%22	"skargi kasacyjnej"
phrase	%22odpowiedzialno%9Cci+karnej%22	"odpowiedzialności karnej"
phrase	%22kodeks+pracy%22	"kodeks pracy"
BLISKO	s%B9d+BLISKO%2F5+pow%F3dztwo	NEAR(sąd powództwo, 5)
BLISKO	%22skargi+kasacyjnej%22+BLISKO%2F10+s%B9d	NEAR("skargi kasacyjnej" sąd, 10)
forms1	umowa&Formy=1&Fragmenty=1	umowa OR umowach OR umowami OR umowie OR umowy OR umową OR umowę OR umów
forms1	s%B9d&Formy=1&Fragmenty=1	sąd OR sądach OR sądami OR sądem OR sądom OR sądowi OR sądu OR sądy OR sądzie OR sądów
forms1	wierzyciel&Formy=1&Fragmenty=1	wierzyciel OR wierzyciela OR wierzycielami OR wierzyciele OR wierzycielem OR wierzycieli OR wierzycielom OR wierzycielowi OR wierzycielu
forms2	umowa+I+najem&Formy=1&Fragmenty=1	(umowa OR umowach OR umowami OR umowie OR umowy OR umową OR umowę OR umów) AND (najem OR najmie OR najmu)
forms2	wierzyciel+I+d%B3u%BFnik&Formy=1&Fragmenty=1	(wierzyciel OR wierzyciela OR wierzycielami OR wierzyciele OR wierzycielem OR wierzycieli OR wierzycielom OR wierzycielowi OR wierzycielu) AND (dłużnicy OR dłużnik OR dłużnika OR dłużnikami OR dłużnikiem OR dłużnikom OR dłużnikowi OR dłużników)
forms2	s%B9d+I+post%EApowanie&Formy=1&Fragmenty=1	(sąd OR sądach OR sądami OR sądem OR sądom OR sądowi OR sądu OR sądy OR sądzie OR sądów) AND (postępowania OR postępowaniach OR postępowaniami OR postępowanie OR postępowaniem OR postępowaniu OR postępowań OR postępował OR postępować OR postępuje)
EOF
# The first search with all forms builds the lemma and fold tables of every
# base (kept in memory from then on): its time is shown on its own.
FORMS_FIRST_MS=$(curl -sf -o /dev/null -w '%{time_total}' "$URL?Search&Pattern=przepis&Formy=1&Fragmenty=1" |
  awk '{printf "%.0f", $1 * 1000}')
cut -f1,2 "$WORK/queries" | python3 "$SOURCE/bench/scale_search.py" pages "$PORT" "$SERVER" "$RUNS" "$WORK/found" \
  > "$WORK/ours"
RSS=$(awk '/VmRSS/ {print int($2 / 1024)}' /proc/"$SERVER"/status)
HWM=$(awk '/VmHWM/ {print int($2 / 1024)}' /proc/"$SERVER"/status)
cut -f1,3 "$WORK/queries" | python3 "$SOURCE/bench/scale_search.py" query "$DIR/fts.db" "$RUNS" "$WORK/fts.counts" \
  > "$WORK/fts"

echo
echo "server: listening after $LISTEN_MS ms, first search $FIRST_MS ms (table of acts $TABLE_CACHE);"
echo "        first search with all forms and fragments $FORMS_FIRST_MS ms (builds the bases' lemma tables);"
echo "        after the queries RSS $RSS MB (peak $HWM MB)"
echo
echo "Search page cache misses over $((BASES * DOCS)) documents in $BASES bases, $RUNS runs a query (ms; load $(cut -d' ' -f1-3 /proc/loadavg))"
echo "  wall: the client's; CPU: the whole server's; FTS5: counting the hits in process (no page, no HTTP)"
printf '%-8s %19s %19s %19s %11s\n' class "wall p50 / p99" "CPU p50 / p99" "FTS5 p50 / p99" "CPU/FTS5"
for cls in single I prefix phrase BLISKO forms1 forms2; do
  python3 - "$cls" "$WORK/ours" "$WORK/fts" <<'PY'
import sys
cls, ours, fts = sys.argv[1:]
def pct(v, p):
    v = sorted(v)
    return v[min(len(v) - 1, int(p * (len(v) - 1) + 0.5))] if v else 0.0
wall, cpu, peer = [], [], []
for line in open(ours):
    c, w, u = line.split()
    if c == cls:
        wall.append(float(w)); cpu.append(float(u))
for line in open(fts):
    c, w = line.split()
    if c == cls:
        peer.append(float(w))
ratio = pct(cpu, .5) / pct(peer, .5) if peer and pct(peer, .5) > 0 else 0
print("%-8s %8.2f / %8.2f %8.2f / %8.2f %8.2f / %8.2f %11.2f" % (
    cls, pct(wall, .5), pct(wall, .99), pct(cpu, .5), pct(cpu, .99), pct(peer, .5), pct(peer, .99), ratio))
PY
done
echo
echo "answers: acts the page lists (the range selects acts of both journals); FTS5's count of every document"
paste <(cut -f1,3 "$WORK/queries") "$WORK/found" "$WORK/fts.counts" | while IFS=$'\t' read -r cls q found count; do
  printf '  %-8s %-34s page %8s   FTS5 %8s\n' "$cls" "$q" "$found" "$count"
done
echo
echo "scale_bench: $(( $(date +%s) - STARTED )) s in all"
