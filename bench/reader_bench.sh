#!/usr/bin/env bash
# The page without frames of the largest act of the demo bases (the Kodeks
# postępowania cywilnego, /eli/DU/1964/296), served by vamuserver with the
# extension, against nginx serving the very same response bytes as a static
# file, in the same run, with wrk. Also the page made for every request
# (VAMU_PAGE_CACHE_MB=0), which is what a first visit costs. Besides the
# rates, the CPU time each server spent per request, which the other work
# on a shared machine disturbs less.
#
#   bench/reader_bench.sh [BUILD_DIR] [SECONDS] [CONNECTIONS] [ADDRESS]
#
# BUILD_DIR must hold bin/vamuserver, bin/vamudemo, bin/vamubase and
# lib/libportico.so. Needs wrk and nginx.
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
SECONDS_RUN=${2:-10}
CONNECTIONS=${3:-32}
ADDRESS=${4:-/eli/DU/1964/296}
THREADS=2
SOURCE=$(cd "$(dirname "$0")/.." && pwd)

BENCH_NAME=reader_bench
source "$SOURCE/bench/wrk_common.sh"

bash "$SOURCE/demo/build-demo.sh" "$BUILD/bin" "$WORK/demo" > /dev/null

start_server() { start_vamuserver "$WORK/demo/registry.reg" "$@"; }
stop_server() { stop_vamuserver; }

start_server
URL="http://127.0.0.1:$PORT$ADDRESS"
mkdir -p "$WORK/static"
chmod 755 "$WORK/static"
curl -sf -o "$WORK/static/page.html" "$URL"
echo "page: $ADDRESS, $(stat -c %s "$WORK/static/page.html") bytes, $(grep -c '<section class="art"' "$WORK/static/page.html") articles"

start_static_nginx "$WORK/static"
cmp -s <(curl -sf "http://127.0.0.1:$NGINX_PORT/page.html") "$WORK/static/page.html" ||
  { echo "reader_bench: nginx does not serve the page" >&2; exit 1; }

echo "wrk: $THREADS threads, $CONNECTIONS connections, ${SECONDS_RUN}s per run"
run_wrk "vamuserver page without frames" "$URL" "${PIDS[-1]}"; OURS=$RESULT OURS_CPU=$RESULT_CPU
stop_server
start_server VAMU_PAGE_CACHE_MB=0
run_wrk "vamuserver, page made every time" "http://127.0.0.1:$PORT$ADDRESS" "${PIDS[-1]}"; UNCACHED=$RESULT UNCACHED_CPU=$RESULT_CPU
stop_server
NGINX_PIDS=("$(cat "$WORK/nginx.pid")")
mapfile -t -O 1 NGINX_PIDS < <(pgrep -P "${NGINX_PIDS[0]}")
run_wrk "nginx static copy" "http://127.0.0.1:$NGINX_PORT/page.html" "${NGINX_PIDS[@]}"; PEER=$RESULT PEER_CPU=$RESULT_CPU

awk -v a="$OURS" -v b="$PEER" -v d="$UNCACHED" -v ac="$OURS_CPU" -v bc="$PEER_CPU" -v dc="$UNCACHED_CPU" 'BEGIN {
  printf "ratio vamuserver / nginx: %.2f (target at least 0.50)\n", a / b;
  printf "ratio with the page made for every request (first visits): %.3f\n", d / b;
  printf "CPU time per request, nginx / vamuserver: %.2f; with the page made every time: %.3f\n", bc / ac, bc / dc }'
