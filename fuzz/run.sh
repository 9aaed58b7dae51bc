#!/bin/sh
# Runs fuzz_unpack, fuzz_options and fuzz_safety side by side for SECONDS each:
#   fuzz/run.sh BINDIR [SECONDS]
# Each starts from a copy of its seed corpus in fuzz/corpus/, so the
# repository's corpus is left as it is; what they add, their logs and any
# failing input go to BINDIR/work/. Prints each fuzzer's final coverage and
# statistics; fails when either fuzzer found a fault.
set -eu
bin=$1
seconds=${2:-60}
corpus=$(cd "$(dirname "$0")" && pwd)/corpus
work=$bin/work
rm -rf "$work"
mkdir -p "$work/artifacts"

for name in unpack options safety; do
  mkdir -p "$work/$name"
  cp "$corpus/$name"/* "$work/$name/"
done

"$bin/fuzz_unpack" -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/unpack-" "$work/unpack" >"$work/unpack.log" 2>&1 &
unpack=$!
"$bin/fuzz_options" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/options-" "$work/options" >"$work/options.log" 2>&1 &
options=$!
"$bin/fuzz_safety" -max_total_time="$seconds" -max_len=256 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/safety-" "$work/safety" >"$work/safety.log" 2>&1 &
safety=$!

status=0
wait "$unpack" || status=1
wait "$options" || status=1
wait "$safety" || status=1

for name in unpack options safety; do
  echo "fuzz_$name:"
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::' "$work/$name.log" || true
done
if [ "$status" -ne 0 ]; then
  echo "a fuzzer failed; see $work/*.log and $work/artifacts/" >&2
  for name in unpack options safety; do tail -n 40 "$work/$name.log" >&2; done
fi
exit "$status"
