#!/usr/bin/env bash
# Builds the fuzz preset and runs every target for a bounded number of inputs,
# starting from its seed corpus. Any crash, sanitizer report or failed check
# fails the script; the input that did it is kept under build/fuzz/artifacts.
# New inputs found on the way go to a scratch folder, not into the repo.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"

# Runs per target, sized so the three fit in about a minute on a shared
# 2-core machine; the time cap keeps a slow machine from running on.
declare -A runs=([command_line]=150000 [font_table]=150000 [uninstall]=25000)
summary=""
status=0
for target in command_line font_table uninstall; do
    mkdir -p "$scratch/$target"
    options=(-runs="${runs[$target]}" -max_total_time=25 -timeout=10 -rss_limit_mb=2048
             -print_final_stats=1 -artifact_prefix="$artifacts/$target-")
    [[ -f tests/fuzz/$target.dict ]] && options+=(-dict="tests/fuzz/$target.dict")
    log="$scratch/$target.log"
    echo "== $target"
    if build/fuzz/tests/fuzz/${target}_fuzz "${options[@]}" "$scratch/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
        grep -E "check failed|ERROR|SUMMARY|Test unit written|Seed:" "$log" || tail -30 "$log"
    fi
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    seconds=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    seed=$(sed -n 's/.*Seed: \([0-9]*\).*/\1/p' "$log" | head -1)
    summary+=$(printf '%-13s %-6s runs=%-8s exec/s=%-7s seed=%s' "$target" "$result" "${executed:-?}" "${seconds:-?}" "$seed")$'\n'
done
printf '%s' "$summary"
exit $status
