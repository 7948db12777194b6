#!/usr/bin/env bash
# Repeats the Wine test bed to show it does not fail now and then: TITLE_RUNS
# installs of the U+0001..U+00FF title in one prefix, the whole
# `ctest --preset windows` CTEST_RUNS times and test_bad_input.py
# BAD_INPUT_RUNS times, while a busy loop keeps
# another core loaded. Stops at the first failing or odd run and names it;
# nothing is retried. Not part of the test command (it takes long).
#
#   bash scripts/repeat-e2e.sh [CTEST_RUNS (20)] [BAD_INPUT_RUNS (20)] [TITLE_RUNS (250)]
#   LOAD=0 to run without the busy loop; E2E_WINEDEBUG=+process,+loaddll,+seh
#   to trace every Wine run (the failure report then carries the trace).
set -euo pipefail
cd "$(dirname "$0")/.."
ctest_runs=${1:-20}
bad_input_runs=${2:-20}
title_runs=${3:-250}
logs=build/windows/repeat-e2e
mkdir -p "$logs"

cmake --preset windows >/dev/null
cmake --build --preset windows -j 2 >/dev/null

load_pid=
stop_load() { if [ -n "$load_pid" ]; then kill "$load_pid" 2>/dev/null || true; wait "$load_pid" 2>/dev/null || true; fi; }
trap stop_load EXIT
if [ "${LOAD:-1}" != 0 ]; then
  # One busy process, bounded in time even if this script is killed.
  timeout 4h sh -c 'while :; do :; done' &
  load_pid=$!
fi

export TYPELOADER_EXE=$PWD/build/windows/Typeloader.exe
export TLTEST_EXE=$PWD/build/windows/tests/e2e/tltest.exe
export E2E_WORK_DIR=$PWD/build/windows/e2e

fail() { echo "repeat-e2e: $1; log: $2" >&2; tail -n 80 "$2" >&2; exit 1; }

log=$logs/title-install.log
/usr/bin/python3 scripts/repeat_title_install.py "$title_runs" >"$log" 2>&1 \
  || fail "the U+0001..U+00FF title install had an odd run" "$log"
cat "$log"

for i in $(seq 1 "$ctest_runs"); do
  log=$logs/ctest-$i.log
  start=$SECONDS
  ctest --preset windows --output-on-failure >"$log" 2>&1 || fail "ctest run $i of $ctest_runs failed" "$log"
  echo "ctest --preset windows: run $i of $ctest_runs green ($((SECONDS - start)) s)"
done

for i in $(seq 1 "$bad_input_runs"); do
  log=$logs/bad-input-$i.log
  start=$SECONDS
  /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/e2e/test_bad_input.py >"$log" 2>&1 \
    || fail "test_bad_input.py run $i of $bad_input_runs failed" "$log"
  echo "test_bad_input.py: run $i of $bad_input_runs green ($((SECONDS - start)) s)"
done

echo "repeat-e2e: $title_runs title installs, $ctest_runs ctest runs and $bad_input_runs test_bad_input.py runs, all green"
