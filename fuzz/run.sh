#!/usr/bin/env bash
# Builds the fuzz targets with clang++ (address and undefined-behaviour
# sanitizers) and runs each one for a bounded time, starting from the
# checked-in seed corpus. Fails on any finding: crash, sanitizer report,
# leak, timeout or out-of-memory.
#
#   bash fuzz/run.sh <seconds-per-target> [target...]
#
# Environment: ZPL_FUZZ_BUILD (build folder, default build-fuzz),
# ZPL_FUZZ_WORK (corpus and findings, default <build>/fuzz-work).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 <seconds-per-target> [target...]" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_page_loop fuzz_settings)

build=${ZPL_FUZZ_BUILD:-build-fuzz}
work=${ZPL_FUZZ_WORK:-$build/fuzz-work}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DZPL_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

# Per target: the largest input worth trying, and its dictionary.
declare -A max_len=([fuzz_page_loop]=16384 [fuzz_settings]=1024)
declare -A dict=([fuzz_page_loop]=fuzz/page_loop.dict)

status=0
for target in "${targets[@]}"; do
  corpus=$work/$target/corpus
  findings=$work/$target/findings
  log=$work/$target/fuzz.log
  mkdir -p "$corpus" "$findings"
  echo "== $target: $seconds s"
  # The new corpus goes first: libFuzzer adds what it finds there, and the
  # checked-in seeds stay as they are. Standard error of the target (its
  # PAGE and ERROR lines) is closed; libFuzzer's reports still show.
  extra=()
  [ -z "${dict[$target]:-}" ] || extra+=(-dict="${dict[$target]}")
  if "$build/fuzz/$target" "$corpus" "fuzz/corpus/$target" "${extra[@]}" \
      -max_total_time="$seconds" -max_len="${max_len[$target]:-4096}" \
      -timeout=25 -rss_limit_mb=2048 -close_fd_mask=2 -error_exitcode=77 \
      -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
  else
    status=1
    echo "FINDING in $target (log: $log, input: $findings/)" >&2
    grep -E -A40 '^==[0-9]+==ERROR|runtime error|^SUMMARY|ALARM|out-of-memory' "$log" | head -80 >&2 || tail -40 "$log" >&2
  fi
done
exit $status
