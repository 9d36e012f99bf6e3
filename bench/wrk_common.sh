# Shared by the page benchmarks (portico_bench.sh, fcgi_bench.sh), sourced
# after BUILD, SECONDS_RUN, CONNECTIONS, THREADS and BENCH_NAME are set: checks
# the tools, makes the work directory (removed at exit with the servers
# started into PIDS and the nginx of $WORK/nginx.pid), and measures a URL.

for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "$BENCH_NAME: $tool is missing" >&2; exit 1; }
done
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$NGINX" ] || { echo "$BENCH_NAME: nginx is missing" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vamuXXXXXX")
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null || true
  sleep 0.3
  rm -rf "$WORK"
}
trap cleanup EXIT
chmod 755 "$WORK"  # nginx's workers may run as another user

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# run_wrk LABEL URL: one warm-up pass, then the measured run; prints
# requests/s and latency percentiles and leaves requests/s in RESULT.
run_wrk() {
  local out rps p50 p75 p90 p99 errors
  wrk -t"$THREADS" -c"$CONNECTIONS" -d2s "$2" > /dev/null
  out=$(wrk -t"$THREADS" -c"$CONNECTIONS" -d"${SECONDS_RUN}s" --latency "$2")
  rps=$(awk '/^Requests\/sec/ {print $2}' <<< "$out")
  p50=$(awk '$1=="50%" {print $2}' <<< "$out")
  p75=$(awk '$1=="75%" {print $2}' <<< "$out")
  p90=$(awk '$1=="90%" {print $2}' <<< "$out")
  p99=$(awk '$1=="99%" {print $2}' <<< "$out")
  errors=$(awk '/Non-2xx|Socket errors/ {print}' <<< "$out" | tr '\n' ' ')
  printf '%-34s %10s req/s   p50 %-9s p75 %-9s p90 %-9s p99 %-9s %s\n' "$1" "$rps" "$p50" "$p75" "$p90" "$p99" "$errors"
  RESULT=$rps
}
