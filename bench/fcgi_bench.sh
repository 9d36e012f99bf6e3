#!/usr/bin/env bash
# FastCGI benchmark: the Topic page of the largest act with its ruling
# markers, through nginx and vamufcgi (the installed set-up: the site file
# that setup installs, the host on a Unix socket) against the standalone
# vamuserver, in the same run, with wrk.
#
#   bench/fcgi_bench.sh [BUILD_DIR] [SECONDS] [CONNECTIONS]
#
# BUILD_DIR must hold bin/vamuserver, bin/vamufcgi, lib/libportico.so and
# bin/portico_bench_site (configure with bench and host), which makes the
# same site as bench/portico_bench.sh. Needs wrk, nginx and curl (Debian
# packages "wrk", "nginx", "curl").
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
SECONDS_RUN=${2:-10}
CONNECTIONS=${3:-32}
THREADS=2
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
CORPUS=${VAMU_CORPUS:-$SOURCE/demo/corpus}

BENCH_NAME=fcgi_bench
source "$SOURCE/bench/wrk_common.sh"

# The site of the page benchmark; the largest act that rulings refer to.
"$BUILD/bin/portico_bench_site" "$CORPUS" "$WORK" > "$WORK/acts.txt"
read -r _ INDEX NAME BYTES RULINGS < <(awk '$5 > 0' "$WORK/acts.txt" | sort -k4,4nr | head -1)
echo "page: item $INDEX $NAME ($BYTES bytes, $RULINGS rulings)"
EXT=(--registry "$WORK/registry.reg" --log /dev/null --extension "$BUILD/lib/libportico.so")

"$BUILD/bin/vamuserver" --port 0 "${EXT[@]}" > "$WORK/server.out" 2> "$WORK/server.err" &
PIDS+=($!)
"$BUILD/bin/vamufcgi" --socket "$WORK/fcgi.sock" --socket-mode 0666 "${EXT[@]}" > "$WORK/fcgi.out" 2> "$WORK/fcgi.err" &
PIDS+=($!)
for _ in $(seq 100); do
  PORT=$(sed -n 's/.*listening on .*:\([0-9]*\).*/\1/p' "$WORK/server.out")
  [ -n "$PORT" ] && [ -S "$WORK/fcgi.sock" ] && break
  sleep 0.1
done
[ -n "$PORT" ] && [ -S "$WORK/fcgi.sock" ] || { echo "fcgi_bench: a host did not start" >&2; cat "$WORK"/*.err >&2; exit 1; }

# nginx with the site file setup installs, pointed at this site and socket.
NGINX_PORT=$(free_port)
mkdir -p "$WORK/nginx/temp"
cp /etc/nginx/fastcgi_params "$WORK/nginx/"
sed -e "s|listen %WebPort%;|listen 127.0.0.1:$NGINX_PORT;|" -e '/listen \[::\]/d' \
    -e "s|%FcgiSocket%|$WORK/fcgi.sock|" -e "s|%SiteDir%|$WORK/site|" \
    "$SOURCE/setup/config/vamu-nginx.conf" > "$WORK/nginx/vamu.conf"
cat > "$WORK/nginx/nginx.conf" <<CONF
worker_processes 2;
pid $WORK/nginx.pid;
error_log $WORK/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_requests 1000000;
  include /etc/nginx/mime.types;
  client_body_temp_path $WORK/nginx/temp;
  fastcgi_temp_path $WORK/nginx/temp;
  proxy_temp_path $WORK/nginx/temp;
  uwsgi_temp_path $WORK/nginx/temp;
  scgi_temp_path $WORK/nginx/temp;
  include $WORK/nginx/vamu.conf;
}
CONF
"$NGINX" -e "$WORK/nginx/error.log" -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf"
sleep 0.3

DIRECT="http://127.0.0.1:$PORT/portico.dll?Topic&$INDEX"
THROUGH="http://127.0.0.1:$NGINX_PORT/portico.dll?Topic&$INDEX"
curl -sf -o "$WORK/direct.html" "$DIRECT"
curl -sf -o "$WORK/through.html" "$THROUGH" || { echo "fcgi_bench: nginx + vamufcgi do not serve the page" >&2; cat "$WORK/nginx/error.log" >&2; exit 1; }
cmp -s "$WORK/direct.html" "$WORK/through.html" || { echo "fcgi_bench: the two hosts send different pages" >&2; exit 1; }
echo "response: $(stat -c %s "$WORK/direct.html") bytes, the same from both hosts"

echo "wrk: $THREADS threads, $CONNECTIONS connections, ${SECONDS_RUN}s per run; both hosts with 8 request threads"
run_wrk "vamuserver Topic page" "$DIRECT"; OURS=$RESULT
run_wrk "nginx + vamufcgi Topic page" "$THROUGH"; FCGI=$RESULT
awk -v a="$FCGI" -v b="$OURS" 'BEGIN { printf "ratio nginx + vamufcgi / vamuserver: %.2f\n", a / b }'
