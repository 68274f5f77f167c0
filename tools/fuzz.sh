#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (address and undefined-behaviour
# sanitizers) in build/fuzz, and runs each for SECONDS (default 60) on its seed corpus
# and its regression inputs. Fails on any finding; a finding's input is left in
# build/fuzz/findings/<target>/: add it to fuzz/regressions/<target>/ once mended.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
targets=(arriving_rows frame_reader request_dispatch response_load)

bash tools/install-deps.sh
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQLX_FUZZ=ON > /dev/null
cmake --build build/fuzz --target "${targets[@]/#/fuzz_}" -- -j2

failed=()
for target in "${targets[@]}"; do
  work="build/fuzz/work/$target"
  findings="build/fuzz/findings/$target"
  mkdir -p "$work" "$findings" "fuzz/regressions/$target"
  echo "== $target: ${seconds} s"
  # New inputs go to the work directory; the corpus in the repository stays as it is.
  if ! QT_QPA_PLATFORM=offscreen "build/fuzz/bin/fuzz_$target" "$work" "fuzz/corpus/$target" "fuzz/regressions/$target" \
         -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
         -artifact_prefix="$findings/" -print_final_stats=1 2> "build/fuzz/$target.log"; then
    failed+=("$target")
    tail -n 40 "build/fuzz/$target.log"
  else
    grep -E "^(stat::number_of_executed_units|Done)" "build/fuzz/$target.log" || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in build/fuzz/findings/)" >&2
  exit 1
fi
echo "no findings"
