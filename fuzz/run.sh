#!/usr/bin/env bash
# run.sh BIN SOURCE OUT SECONDS [TARGET...]: runs the fuzz harnesses built in
# BIN for SECONDS each, as many at once as there are cores (at most 2: the
# machines are shared). Each starts from its committed seeds
# (fuzz/corpus/T) and the inputs of fixed findings (fuzz/regressions/T),
# and keeps what it learns in OUT/corpus/T for the next run. An input that
# breaks a harness is kept as OUT/findings/T-crash-..., and the run fails.
# Prints one line per harness: executions, executions per second, result.
# VAMU_FUZZ_TIMEOUT (seconds, default 20) is how long one input may take in
# wall time; a run at low priority on a loaded machine needs more.
set -uo pipefail
bin=$1 src=$2 out=$3 seconds=$4
shift 4
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(sed -n 's/^vamu_fuzzer(\([a-z_]*\) .*/\1/p' "$src/fuzz/CMakeLists.txt")
fi
# VAMU_FUZZ_CI=1 (the test command): a harness with an open finding (an
# input in fuzz/open/T, a defect being mended elsewhere) would fail every
# run, so it is left out until the finding is fixed; `./vamu fuzz` runs it.
if [ "${VAMU_FUZZ_CI:-0}" = 1 ]; then
  kept=()
  for t in "${targets[@]}"; do
    if [ -n "$(ls -A "$src/fuzz/open/$t" 2>/dev/null)" ]; then
      echo "fuzz: $t left out: open findings in fuzz/open/$t"
    else
      kept+=("$t")
    fi
  done
  targets=("${kept[@]}")
fi
parallel=$(nproc 2>/dev/null || echo 1)
[ "$parallel" -gt 2 ] && parallel=2
mkdir -p "$out/findings" "$out/logs"

run_one() {
  local t=$1 dict=()
  mkdir -p "$out/corpus/$t"
  [ -f "$src/fuzz/dict/$t.dict" ] && dict=(-dict="$src/fuzz/dict/$t.dict")
  local seeds=()
  for d in "$src/fuzz/corpus/$t" "$src/fuzz/regressions/$t"; do [ -d "$d" ] && seeds+=("$d"); done
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$bin/$t" -max_total_time="$seconds" -timeout="${VAMU_FUZZ_TIMEOUT:-20}" -rss_limit_mb=2560 -max_len=16384 \
      -print_final_stats=1 -artifact_prefix="$out/findings/$t-" "${dict[@]}" \
      "$out/corpus/$t" "${seeds[@]}" >"$out/logs/$t.log" 2>&1
  echo $? >"$out/logs/$t.rc"
}

running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ $running -ge "$parallel" ]; then wait -n; running=$((running - 1)); fi
done
wait

status=0
printf '%-24s %14s %10s  %s\n' harness executions "per s" result
for t in "${targets[@]}"; do
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/logs/$t.log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out/logs/$t.log" | tail -1)
  rc=$(cat "$out/logs/$t.rc" 2>/dev/null || echo 1)
  result=ok
  if [ "$rc" != 0 ]; then
    result="FAILED (exit $rc; $out/logs/$t.log)"
    status=1
  fi
  printf '%-24s %14s %10s  %s\n' "$t" "${execs:-?}" "${rate:-?}" "$result"
done
exit $status
