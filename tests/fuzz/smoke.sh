#!/bin/bash
# One fuzz target as a test: every input of its corpus, then RUNS mutated
# inputs from a fixed seed (a few seconds; a regression in a parser, a
# sanitizer report or a failed check fails it). New inputs go to a
# temporary directory, a finding to FINDINGS_DIR.
#   smoke.sh FUZZ_BUILD_DIR TARGET CORPUS_DIR FINDINGS_DIR [RUNS]
set -euo pipefail
build="$1" target="$2" corpus="$3" findings="$4" runs="${5:-2000}"
if [ ! -x "$build/$target" ]; then
  echo "$build/$target is missing: scripts/test.sh builds it (make -C tests/fuzz OUT=$build)"
  exit 1
fi
mkdir -p "$findings"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
"$build/$target" -runs="$runs" -seed=1 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$findings/$target-" "$scratch" "$corpus" 2>&1 | grep -vE '^#[0-9]+.*(NEW|REDUCE) '
