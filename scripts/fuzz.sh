#!/bin/bash
# The fuzzing benchmark: builds the native fuzz targets (tests/fuzz, clang's
# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each one for SECONDS (default 60) on its corpus, one after the other, then
# prints per target: runs, executions per second, coverage (edges and
# features), corpus size (entries/bytes), findings and the machine's load
# average (1 minute) when it ended.
#   bash scripts/fuzz.sh [SECONDS] [--keep] [--only TARGET[,TARGET...]]
# New corpus entries go to a work directory outside the repository
# ($QEB_FUZZ_WORK, default /tmp/qeb-fuzz); with --keep they are merged into
# tests/fuzz/corpus/<target> (only inputs that add coverage). A finding
# (crash, sanitizer report, failed check, leak, time-out) is left in
# $QEB_FUZZ_WORK/findings/ and makes the exit code 1.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$QEB_ROOT"

seconds=60 keep=0 only=""
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=1 ;;
    --only) only="$2"; shift ;;
    [0-9]*) seconds="$1" ;;
    *) echo "usage: fuzz.sh [SECONDS] [--keep] [--only TARGET,...]" >&2; exit 2 ;;
  esac
  shift
done

out="$QEB_ROOT/build/fuzz"
make -s -C tests/fuzz OUT="$out" -j2 >&2
work="${QEB_FUZZ_WORK:-/tmp/qeb-fuzz}"
mkdir -p "$work/findings"
targets=$(cat "$out/targets.txt")
[ -z "$only" ] || targets=$(tr ',' '\n' <<<"$only")

echo "fuzz: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) at the start, ${seconds} s per target"
failed=0
summary=()
for t in $targets; do
  corpus="$QEB_ROOT/tests/fuzz/corpus/$t"
  new="$work/corpus/$t"
  mkdir -p "$new" "$corpus"
  log="$work/$t.log"
  before=$(ls "$work/findings" | grep -c "^$t-" || true)
  set +e
  # New inputs go to the first directory (outside the repository).
  "$out/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/findings/$t-" "$new" "$corpus" >"$log" 2>&1
  rc=$?
  set -e
  after=$(ls "$work/findings" | grep -c "^$t-" || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | grep -E 'cov: ' | tail -1)
  edges=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$last")
  findings=$((after - before))
  [ "$rc" = 0 ] || [ "$findings" -gt 0 ] || findings=1  # stopped for another reason: look at the log
  line=$(printf '%-22s runs=%-10s exec/s=%-8s edges=%-5s features=%-6s corpus=%-12s findings=%s load=%s' \
         "$t" "${runs:-?}" "${rate:-?}" "${edges:-?}" "${features:-?}" "${corp:-?}" "$findings" \
         "$(cut -d' ' -f1 /proc/loadavg)")
  echo "fuzz: $line"
  summary+=("$line")
  if [ "$findings" -gt 0 ]; then
    failed=1
    grep -E 'check failed|ERROR: |runtime error|SUMMARY' -A1 "$log" | head -6 | sed 's/^/    /'
  fi
  if [ "$keep" = 1 ]; then
    "$out/$t" -merge=1 "$corpus" "$new" >"$work/$t.merge.log" 2>&1 || true
  fi
done
echo "fuzz: load $(cut -d' ' -f1-3 /proc/loadavg) at the end; logs and new inputs in $work"
exit $failed
