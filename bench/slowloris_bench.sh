#!/usr/bin/env bash
# Slow clients against vamuserver with its default limits (256 connections,
# 32 per address, 10 s for a request head): 300 connections that send their
# heads a byte a second, from the readers' own address, from one other
# address and from 300 addresses, while five readers fetch the Topic page of
# the largest act every few seconds. Prints how many reader requests were
# answered; every one should be.
#
#   bench/slowloris_bench.sh [BUILD_DIR] [SECONDS]
#
# BUILD_DIR must hold bin/vamuserver, lib/libportico.so, bin/portico_bench_site
# and bin/slowloris_bench; the tools of bench/wrk_common.sh.
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
SECONDS_RUN=${2:-30}
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
CORPUS=${VAMU_CORPUS:-$SOURCE/demo/corpus}

THREADS=2
CONNECTIONS=1
BENCH_NAME=slowloris_bench
source "$SOURCE/bench/wrk_common.sh"
ulimit -n 4096

"$BUILD/bin/portico_bench_site" "$CORPUS" "$WORK" > "$WORK/acts.txt"
read -r _ INDEX _ < <(sort -k4,4nr "$WORK/acts.txt" | head -1)

run() {  # label sources [server options...]
  local label=$1 sources=$2
  shift 2
  start_vamuserver "$WORK/registry.reg" "$@"
  printf '%-44s ' "$label"
  "$BUILD/bin/slowloris_bench" "$PORT" "/portico.dll?Topic&$INDEX" 300 "$sources" "$SECONDS_RUN" || true
  stop_vamuserver
}

echo "300 slow connections for ${SECONDS_RUN}s; readers: 5 at a time, 7 rounds"
run "defaults, slow from the readers' address" 0
run "defaults, slow from one other address" 1
run "defaults, slow from 300 addresses" 300
run "no per-address limit, 30 s header timeout" 300 --max-per-address 0 --header-timeout 30
