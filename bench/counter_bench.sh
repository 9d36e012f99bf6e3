#!/usr/bin/env bash
# The visit counter: the frameset page (Main), which counts every visit,
# against the document page (Topic) of the same small document, served by
# vamuserver in the same run, with wrk. The document is the smallest of
# the bench site (a ruling of a few kilobytes). Afterwards the counter
# must hold every Main request wrk made (the server writes it at most once a
# second and when it stops).
#
#   bench/counter_bench.sh [BUILD_DIR] [SECONDS] [CONNECTIONS]
#
# BUILD_DIR must hold bin/vamuserver, lib/libportico.so and
# bin/portico_bench_site; needs wrk, curl and nginx (bench/wrk_common.sh).
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd) SECONDS_RUN=${2:-10} CONNECTIONS=${3:-32} THREADS=2 BENCH_NAME=counter_bench
source "$(dirname "$0")/wrk_common.sh"

make_bench_site
read -r _ INDEX NAME BYTES _ < <(cat "$WORK/acts.txt" "$WORK/rulings.txt" | sort -k4,4n | head -1)
echo "page: item $INDEX $NAME ($BYTES bytes, the smallest document)"

counter() {
  local hex
  hex=$(sed -n 's/^"Counter"=dword:\([0-9a-fA-F]*\).*/\1/p' "$WORK/registry.reg" | head -1)
  echo $((16#${hex:-0}))
}

# wrk's connections and the scrape of /metrics all come from 127.0.0.1: room
# for them beyond the default limit of connections per address.
start_vamuserver "$WORK/registry.reg" --max-per-address 256
SERVER=${PIDS[-1]}
BEFORE=$(counter)
echo "wrk: $THREADS threads, $CONNECTIONS connections, ${SECONDS_RUN}s per run; load average $(cut -d' ' -f1-3 /proc/loadavg)"
run_wrk "Topic of a small document" "http://127.0.0.1:$PORT/portico.dll?Topic&$INDEX" "$SERVER"; TOPIC=$RESULT; TOPIC_CPU=$RESULT_CPU
# The server's figures, scraped in the middle of the measured Main run.
(sleep $((2 + SECONDS_RUN / 2)); curl -s "http://127.0.0.1:$PORT/metrics" > "$WORK/metrics.txt") &
SCRAPE=$!
run_wrk "Main (counts the visit)" "http://127.0.0.1:$PORT/portico.dll?Main&$INDEX" "$SERVER"; MAIN=$RESULT; MAIN_CPU=$RESULT_CPU
MADE=$RESULT_MADE
wait "$SCRAPE"
echo "/metrics during the Main run:"
grep -v -e '^#' -e '_bucket' "$WORK/metrics.txt" | sed 's/^/  /' 
stop_vamuserver
AFTER=$(counter)
awk -v a="$MAIN" -v b="$TOPIC" 'BEGIN { printf "ratio Main / Topic: %.2f (target at least 0.80)\n", a / b }'
awk -v a="$MAIN_CPU" -v b="$TOPIC_CPU" 'BEGIN { printf "server CPU per request Main / Topic: %.2f\n", a / b }'
# wrk leaves out the answers still on their way when it stops (up to one per
# connection and pass), which the server counted all the same.
echo "visits counted: $((AFTER - BEFORE)) for $MADE Main answers wrk received (at most $((2 * CONNECTIONS)) more may have been counted)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
