#!/usr/bin/env bash
# What the costliest requests a reader can write cost the server: hostile
# Search patterns (thousands of wildcard terms, a phrase of half a million
# words) and a rulings page with thousands of pairs, sent to vamuserver over
# the demo bases, beside an ordinary search as the peer. The figure is the
# processor time the whole server spent on the request (all its threads, from
# /proc/PID/task/*/schedstat, nanoseconds) for the first request and the
# median of the next ones, and the size and text of the answer. Each request
# carries a field of its own that the pages ignore, so that none is answered
# from the result cache of the Search page; what the index caches itself
# (the documents of a wildcard pattern) serves the later requests.
#
#   bench/query_cost.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR must hold bin/vamuserver, bin/vamudemo, bin/vamubase and
# lib/libportico.so. The demo bases are made into a temporary directory.
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-5}
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
command -v curl >/dev/null || { echo "query_cost: curl is missing" >&2; exit 1; }

BENCH_NAME=query_cost
source "$SOURCE/bench/server_common.sh"

"$SOURCE/demo/build-demo.sh" "$BUILD/bin" "$WORK/demo" > /dev/null
start_vamuserver "$WORK/demo/registry.reg" --max-header 1048576
SERVER=${PIDS[-1]}
BASE="http://127.0.0.1:$PORT/portico.dll"
curl -sf -o /dev/null "$BASE?Search&Pattern=ustawa"  # the catalogue is loaded

# CPU nanoseconds of every thread of the server so far.
server_cpu() { cat /proc/"$SERVER"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%.0f", s}'; }

# fetch QUERY-FILE N: requests the page (the address may be larger than a
# command line allows), writes it to $WORK/answer and prints its size.
fetch() {
  python3 - "$PORT" "$1" "$2" "$WORK/answer" <<'PY'
import http.client, sys
port, query_file, n, answer = sys.argv[1:]
query = open(query_file).read()
c = http.client.HTTPConnection("127.0.0.1", int(port), timeout=120)
c.request("GET", "/portico.dll?%s&Unique=%s" % (query, n))
body = c.getresponse().read()
open(answer, "wb").write(body)
print(len(body))
PY
}

REQUEST=0
# measure LABEL QUERY-FILE: CPU of the first request and the median of the
# next RUNS, and the answer.
measure() {
  local label=$1 file=$2 times=() before after bytes first
  for run in $(seq 0 "$RUNS"); do
    REQUEST=$((REQUEST + 1))
    before=$(server_cpu)
    bytes=$(fetch "$file" "$REQUEST")
    after=$(server_cpu)
    if [ "$run" = 0 ]; then first=$(( (after - before) / 1000 )); else times+=("$(( (after - before) / 1000 ))"); fi
  done
  local median says
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  says=$(iconv -f CP1250 -t UTF-8 < "$WORK/answer" | sed 's/<[^>]*>//g' | tr -s ' \r\n' ' ' | cut -c1-60)
  printf '%-40s %8.1f %8.1f %9s  %s\n' "$label" "$(awk -v u="$first" 'BEGIN {print u / 1000}')" \
    "$(awk -v u="$median" 'BEGIN {print u / 1000}')" "$bytes" "$says"
}

python3 - "$WORK" <<'PY'
import sys
w = sys.argv[1]
def put(name, text):
    open(f"{w}/{name}", "w").write(text)
put("plain", "Search&Pattern=ustawa")
put("phrase", "Search&Pattern=%22kodeks+pracy%22")
put("stars", "Search&Pattern=" + "+".join(["*e*"] * 3700))
put("anyword", "Search&Pattern=" + "+".join(["%3F*"] * 3700))
put("distinct", "Search&Pattern=" + "+".join("*%s*" % chr(c) for c in range(ord('a'), ord('z') + 1)))
put("longphrase", "Search&Pattern=%22" + "+".join(["a"] * 500000) + "%22")
pairs = ["%d&SENT" % (65536 + i % 12) for i in range(3500)]
put("partor", "PartOr&" + "&".join(pairs))
put("partor512", "PartOr&" + "&".join(pairs[:512]))
PY

echo "query_cost: vamuserver over the demo bases; server CPU ms of the first request and the median of $RUNS more"
printf '%-40s %8s %8s %9s  %s\n' "request" "first" "median" "bytes" "answer"
measure "Search: ustawa (peer)" "$WORK/plain"
measure "Search: \"kodeks pracy\" (peer)" "$WORK/phrase"
measure "Search: *e* x 3700 (15 KB)" "$WORK/stars"
measure "Search: ?* x 3700" "$WORK/anyword"
measure "Search: *a* ... *z* (26 table scans)" "$WORK/distinct"
measure "Search: phrase of 500000 words (1 MB)" "$WORK/longphrase"
measure "PartOr: 3500 pairs (14 KB)" "$WORK/partor"
measure "PartOr: 512 pairs (the bound)" "$WORK/partor512"
