# Shared by the benchmarks that start vamuserver, sourced after BUILD and
# BENCH_NAME are set: makes the work directory WORK (removed at exit, with the
# servers started into PIDS and the nginx of $WORK/nginx.pid) and starts and
# stops $BUILD's vamuserver.

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

# start_vamuserver REGISTRY [VAR=value...] [OPTION...]: $BUILD's vamuserver
# with its extension over the registry file, on a free port (PORT), in that
# environment, with those options; its process is ${PIDS[-1]}.
start_vamuserver() {
  local registry=$1 log="$WORK/server.$RANDOM.out" envs=()
  shift
  while [ $# -gt 0 ] && [[ $1 == [A-Z]*=* ]]; do envs+=("$1"); shift; done
  env "${envs[@]}" "$BUILD/bin/vamuserver" --port 0 --registry "$registry" --log /dev/null \
    --extension "$BUILD/lib/libportico.so" "$@" > "$log" 2> "$WORK/server.err" &
  PIDS+=($!)
  for _ in $(seq 200); do
    PORT=$(sed -n 's/.*listening on .*:\([0-9]*\).*/\1/p' "$log")
    [ -n "$PORT" ] && return 0
    sleep 0.05
  done
  echo "$BENCH_NAME: vamuserver did not start" >&2; cat "$WORK/server.err" >&2; exit 1
}

# Stops the server started last.
stop_vamuserver() {
  kill "${PIDS[-1]}" 2>/dev/null || true
  wait "${PIDS[-1]}" 2>/dev/null || true
  unset 'PIDS[-1]'
}
