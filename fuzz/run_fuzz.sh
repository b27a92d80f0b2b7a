#!/usr/bin/env bash
# Runs every fuzz target for a while, each from the seeds, the regression inputs and its own corpus of earlier
# runs. Usage: fuzz/run_fuzz.sh <build folder> <seconds per target> [target...]
# Fails when a target finds a crash, a leak, a hang or a runaway allocation; the input is left in
# <build folder>/artifacts/<target>/ for tests/fuzz_regressions/<target>/.
set -uo pipefail

build=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(qvb_map qvy curve palette relief projection_3d subtract_minimum video_parameters recent_folders movie_resume beat_cache settings_toml)
fi

"$build/bin/fuzz_make_seeds" "$build/seeds" || exit 1

failed=()
summary=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  inputs=("$corpus" "$build/seeds/$target")
  [ -d "$root/tests/fuzz_regressions/$target" ] && inputs+=("$root/tests/fuzz_regressions/$target")
  echo "== fuzz_$target for ${seconds}s"
  "$build/bin/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -malloc_limit_mb=2048 -artifact_prefix="$artifacts/" "${inputs[@]}" >"$log" 2>&1 &
  pid=$!
  wait $pid
  status=$?
  # A fuzzer stopped by a finding exits without its clean-up; its scratch folder is named after its process.
  rm -rf "/dev/shm/zoomreel-fuzz-$pid" "${TMPDIR:-/tmp}/zoomreel-fuzz-$pid"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  grep '^stat::' "$log"
  if [ $status -ne 0 ]; then
    failed+=("$target")
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5
    summary+=("$(printf '%-18s %12s runs %8s/s  FAILED (see %s)' "$target" "${runs:-?}" "${speed:-?}" "$log")")
  else
    summary+=("$(printf '%-18s %12s runs %8s/s  ok' "$target" "${runs:-?}" "${speed:-?}")")
  fi
done

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
