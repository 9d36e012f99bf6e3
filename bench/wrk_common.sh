# Shared by the page benchmarks (portico_bench.sh, fcgi_bench.sh), sourced
# after BUILD, SECONDS_RUN, CONNECTIONS, THREADS and BENCH_NAME are set: checks
# the tools, makes the work directory and starts servers (server_common.sh),
# and measures a URL.

for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "$BENCH_NAME: $tool is missing" >&2; exit 1; }
done
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$NGINX" ] || { echo "$BENCH_NAME: nginx is missing" >&2; exit 1; }

source "$(dirname "${BASH_SOURCE[0]}")/server_common.sh"

# make_bench_site: the site of the page benchmarks in WORK (acts.vq,
# registry.reg, site/), made by $BUILD's portico_bench_site from the corpus
# (VAMU_CORPUS, or demo/corpus); its acts listed in $WORK/acts.txt, its
# rulings in $WORK/rulings.txt.
make_bench_site() {
  local corpus=${VAMU_CORPUS:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/demo/corpus}
  "$BUILD/bin/portico_bench_site" "$corpus" "$WORK" > "$WORK/acts.txt"
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# cpu_ticks PID...: the user and system clock ticks the processes (all their
# threads) have used so far.
cpu_ticks() {
  local total=0 pid
  for pid in "$@"; do
    [ -r "/proc/$pid/stat" ] && total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat")))
  done
  echo "$total"
}

# run_wrk LABEL URL [PID...]: one warm-up pass, then the measured run; prints
# requests/s and latency percentiles and leaves requests/s in RESULT and the
# requests answered in both passes in RESULT_MADE. With
# the server's PIDs, also the CPU time it spent per request (microseconds,
# in RESULT_CPU), which other work on the machine disturbs less than the rate.
run_wrk() {
  local label=$1 url=$2 warm out rps p50 p75 p90 p99 errors before after requests cpu=""
  shift 2
  warm=$(wrk -t"$THREADS" -c"$CONNECTIONS" -d2s "$url")
  before=$(cpu_ticks "$@")
  out=$(wrk -t"$THREADS" -c"$CONNECTIONS" -d"${SECONDS_RUN}s" --latency "$url")
  after=$(cpu_ticks "$@")
  rps=$(awk '/^Requests\/sec/ {print $2}' <<< "$out")
  p50=$(awk '$1=="50%" {print $2}' <<< "$out")
  p75=$(awk '$1=="75%" {print $2}' <<< "$out")
  p90=$(awk '$1=="90%" {print $2}' <<< "$out")
  p99=$(awk '$1=="99%" {print $2}' <<< "$out")
  errors=$(awk '/Non-2xx|Socket errors/ {print}' <<< "$out" | tr '\n' ' ')
  RESULT_CPU=""
  if [ $# -gt 0 ]; then
    requests=$(awk '/requests in/ {print $1}' <<< "$out")
    RESULT_CPU=$(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v n="$requests" 'BEGIN {printf "%.1f", t * 1e6 / hz / n}')
    cpu="cpu ${RESULT_CPU} us/req"
  fi
  printf '%-34s %10s req/s   p50 %-9s p75 %-9s p90 %-9s p99 %-9s %s%s\n' "$label" "$rps" "$p50" "$p75" "$p90" "$p99" "$cpu" "$errors"
  RESULT=$rps
  RESULT_MADE=$(( $(awk '/requests in/ {print $1}' <<< "$warm") + $(awk '/requests in/ {print $1}' <<< "$out") ))
}

# start_static_nginx DIR: nginx serving the files of DIR on a free port
# (NGINX_PORT), as it would serve a static site.
start_static_nginx() {
  NGINX_PORT=$(free_port)
  mkdir -p "$WORK/nginx/logs"
  cat > "$WORK/nginx.conf" <<CONF
worker_processes 2;
pid $WORK/nginx.pid;
error_log $WORK/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  keepalive_requests 1000000;
  client_body_temp_path $WORK/nginx;
  proxy_temp_path $WORK/nginx;
  fastcgi_temp_path $WORK/nginx;
  uwsgi_temp_path $WORK/nginx;
  scgi_temp_path $WORK/nginx;
  types { text/html html; }
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $1;
  }
}
CONF
  "$NGINX" -p "$WORK/nginx" -c "$WORK/nginx.conf"
  sleep 0.3
}
