#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset, clang) and runs each of them; SECONDS (default
# 60) is shared evenly between the targets. Starts from the corpus in tests/fuzz/corpus and
# keeps what the fuzzer learns in build/fuzz/corpus for the next run. Any finding (a crash,
# a sanitizer report, a failed check, a timeout or running out of memory) fails the script;
# the input that caused it is left in build/fuzz/findings/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: tools/run-fuzz.sh [SECONDS]   (a whole number of seconds, 1 or more)" >&2
  exit 2
fi

# target, its longest input, its dictionary
targets=(
  "settings 16384 tests/fuzz/settings.dict"
  "seed 4096 tests/fuzz/seed.dict"
)
share=$(( seconds / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target orvandel-fuzz-settings orvandel-fuzz-seed

failed=()
for entry in "${targets[@]}"; do
  read -r name maxLen dict <<<"$entry"
  work=build/fuzz/corpus/$name
  findings=build/fuzz/findings/$name/
  mkdir -p "$work" "$findings"
  echo "== fuzzing $name for ${share} s"
  if ! build/fuzz/tests/fuzz/orvandel-fuzz-"$name" "$work" "tests/fuzz/corpus/$name" \
      -max_total_time="$share" -max_len="$maxLen" -dict="$dict" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings" -print_final_stats=1 2>build/fuzz/$name.log; then
    failed+=("$name")
    tail -n 40 build/fuzz/$name.log >&2
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+.*DONE)' build/fuzz/$name.log || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs in build/fuzz/findings/)" >&2
  exit 1
fi
echo "fuzzing: no findings"
