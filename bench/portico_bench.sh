#!/usr/bin/env bash
# Page serving benchmark: the Topic page of a large act with its ruling
# markers, served by vamuserver with the extension, against nginx serving the
# very same response bytes as a static file, in the same run, with wrk.
#
#   bench/portico_bench.sh [BUILD_DIR] [SECONDS] [CONNECTIONS]
#
# BUILD_DIR must hold bin/vamuserver, lib/libportico.so and
# bin/portico_bench_site (configure with bench and portico). Needs wrk and
# nginx (Debian packages "wrk" and "nginx"). Each server is also measured
# with heap compaction after every page switched off (VAMU_HEAP_TRIM=0), to
# show what compaction costs under concurrent load, and with the page cache
# switched off (VAMU_PAGE_CACHE_MB=0), to show what a first visit costs.
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
SECONDS_RUN=${2:-10}
CONNECTIONS=${3:-32}
THREADS=2
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
CORPUS=${VAMU_CORPUS:-$SOURCE/demo/corpus}

BENCH_NAME=portico_bench
source "$SOURCE/bench/wrk_common.sh"

"$BUILD/bin/portico_bench_site" "$CORPUS" "$WORK" > "$WORK/acts.txt"
# The largest act that rulings refer to; the largest act when none is referred to.
read -r _ INDEX NAME BYTES RULINGS < <(awk '$5 > 0' "$WORK/acts.txt" | sort -k4,4nr | head -1)
LARGEST=$(sort -k4,4nr "$WORK/acts.txt" | head -1)
echo "acts: $(wc -l < "$WORK/acts.txt"); page: item $INDEX $NAME ($BYTES bytes, $RULINGS rulings); largest act: $LARGEST"

start_server() { start_vamuserver "$WORK/registry.reg" "$@"; }
stop_server() { stop_vamuserver; }

# The page as the extension serves it; nginx serves exactly these bytes.
start_server
URL="http://127.0.0.1:$PORT/portico.dll?Topic&$INDEX"
mkdir -p "$WORK/static"
chmod 755 "$WORK/static"  # nginx workers run as another user
curl -sf -o "$WORK/static/topic.html" "$URL"
ICONS=$(grep -o 'orbmp[a-z]*\.gif' "$WORK/static/topic.html" | wc -l)
echo "response: $(stat -c %s "$WORK/static/topic.html") bytes with $ICONS ruling icons"

start_static_nginx "$WORK/static"
cmp -s <(curl -sf "http://127.0.0.1:$NGINX_PORT/topic.html") "$WORK/static/topic.html" ||
  { echo "portico_bench: nginx does not serve the page" >&2; exit 1; }

echo "wrk: $THREADS threads, $CONNECTIONS connections, ${SECONDS_RUN}s per run"
run_wrk "vamuserver Topic page" "$URL"; OURS=$RESULT
stop_server
start_server VAMU_HEAP_TRIM=0
run_wrk "vamuserver, no heap compaction" "http://127.0.0.1:$PORT/portico.dll?Topic&$INDEX"; UNTRIMMED=$RESULT
stop_server
start_server VAMU_PAGE_CACHE_MB=0
run_wrk "vamuserver, page made every time" "http://127.0.0.1:$PORT/portico.dll?Topic&$INDEX"; UNCACHED=$RESULT
stop_server
run_wrk "nginx static copy" "http://127.0.0.1:$NGINX_PORT/topic.html"; PEER=$RESULT

awk -v a="$OURS" -v b="$PEER" -v c="$UNTRIMMED" -v d="$UNCACHED" 'BEGIN {
  printf "ratio vamuserver / nginx: %.2f (target at least 0.50)\n", a / b;
  printf "ratio with the page made for every request (first visits): %.2f\n", d / b;
  printf "heap compaction costs: %.1f%% of throughput\n", 100 * (c - a) / c }'
