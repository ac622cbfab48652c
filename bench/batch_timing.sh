#!/usr/bin/env bash
# Times `lumora --batch EXAMPLE --optimize` (start-up included) on fresh copies of the
# bundled examples and prints the median wall time, the goal evaluations and the time
# per evaluation. Usage: bench/batch_timing.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${2:-7}"
lumora="$build/src/app/lumora"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for example in "$root"/examples/*.xlsx; do
  name="$(basename "$example")"
  times=()
  for ((i = 0; i < runs; i++)); do
    cp "$example" "$work/$name"
    start=$(date +%s.%N)
    "$lumora" --batch "$work/$name" --optimize --json >"$work/out.txt" 2>"$work/err.txt" || true
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
  done
  median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  json=$(tail -n 1 "$work/out.txt")
  evals=$(echo "$json" | sed -n 's/.*"evaluations":\([0-9]*\).*/\1/p')
  iters=$(echo "$json" | sed -n 's/.*"iterations":\([0-9]*\).*/\1/p')
  secs=$(echo "$json" | sed -n 's/.*"seconds":\([0-9.e-]*\).*/\1/p')
  per=$(awk -v s="$secs" -v e="$evals" 'BEGIN { print (e > 0 ? s * 1000 / e : 0) }')
  printf '%-24s median wall %.3f s over %d runs; %s iterations, %s goal evaluations, %.3f ms each\n' \
    "$name" "$median" "$runs" "$iters" "$evals" "$per"
done
