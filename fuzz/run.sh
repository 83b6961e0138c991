#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) and runs each for
# the given number of seconds (default 60), starting from the seed corpora in
# fuzz/corpus/<target>. New inputs go to build/fuzz/corpus/<target>; a crash
# leaves its input in build/fuzz/artifacts/ and makes the script fail.
#   fuzz/run.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(receive arrayfile corrtable)

scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_receive fuzz_arrayfile fuzz_corrtable

out=$PWD/build/fuzz
mkdir -p "$out/artifacts"
status=0
for t in "${targets[@]}"; do
  mkdir -p "$out/corpus/$t"
  echo "== fuzz_$t for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$out/bin/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$out/artifacts/$t-" "$out/corpus/$t" "$PWD/fuzz/corpus/$t" 2>"$out/fuzz_$t.log"; then
    status=1
    tail -40 "$out/fuzz_$t.log"
  fi
  grep -E "stat::number_of_executed_units|stat::new_units_added" "$out/fuzz_$t.log" || true
done
exit $status
