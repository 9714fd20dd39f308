#!/usr/bin/env bash
# Runs every fuzz target of a QM_FUZZ build for a bounded time on its corpus,
# as many at once as there are cores. A finding stops the run with the
# crashing input kept under <build>/fuzz-findings/.
# Every input has a time budget (-timeout); the parsers of page input also get
# inputs up to 1 MiB (four times what a page may send), so that one that is not
# linear in its input times out.
set -euo pipefail
build=${1:?usage: run-fuzz.sh <fuzz build dir> [seconds]}
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
mkdir -p "$build/fuzz-findings"

# fuzz_one TARGET: runs it; its output stays in fuzz-findings/<name>.log.
fuzz_one() {
  local target=$1 name limits=()
  name=$(basename "$target"); name=${name#fuzz_}
  local corpus="$root/fuzz/corpus/$name" work="$build/fuzz-work/$name"
  mkdir -p "$work" "$corpus"
  case "$name" in
    bridge|request_param|log_text|nim_room) limits=(-max_len=1048576) ;;
  esac
  if "$target" -max_total_time="$seconds" -timeout=10 "${limits[@]}" -rss_limit_mb=2048 \
      -artifact_prefix="$build/fuzz-findings/${name}-" -print_final_stats=0 "$work" "$corpus" \
      > "$build/fuzz-findings/$name.log" 2>&1; then
    echo "fuzz: $name ${seconds}s: $(grep -E "^#[0-9]+.*DONE" "$build/fuzz-findings/$name.log" | tail -1 || true)"
  else
    echo "fuzz: $name FAILED"; tail -40 "$build/fuzz-findings/$name.log"
    return 1
  fi
}

failed=0
running=0
for target in "$build"/fuzz/fuzz_*; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  fuzz_one "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
