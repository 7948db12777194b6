#!/usr/bin/env bash
# Repeats the Wine test bed to show it does not fail now and then, while
# stress-ng keeps one core busy: the install and uninstall of the
# U+0001..U+00FF title TITLE_RUNS times, test_bad_input.py BAD_INPUT_RUNS
# times (pytest-repeat), then the whole `ctest --preset windows` until it
# fails, CTEST_RUNS times at most. Stops at the first failure; nothing is
# retried. Not part of the test command (it takes long).
#
#   bash scripts/repeat-e2e.sh [CTEST_RUNS (20)] [BAD_INPUT_RUNS (20)] [TITLE_RUNS (250)]
#   LOAD=0 to run without the load; E2E_WINEDEBUG=+process,+loaddll,+seh
#   to trace every Wine run (the failure report then carries the trace).
set -euo pipefail
cd "$(dirname "$0")/.."
ctest_runs=${1:-20}
bad_input_runs=${2:-20}
title_runs=${3:-250}

cmake --preset windows >/dev/null
cmake --build --preset windows -j 2 >/dev/null

if [ "${LOAD:-1}" != 0 ]; then
  # Bounded in time even if this script is killed.
  stress-ng --quiet --cpu 1 --timeout 4h &
  trap 'kill $! 2>/dev/null || true' EXIT
fi

export TYPELOADER_EXE=$PWD/build/windows/Typeloader.exe
export TLTEST_EXE=$PWD/build/windows/tests/e2e/tltest.exe
export E2E_WORK_DIR=$PWD/build/windows/e2e
pytest=(/usr/bin/python3 -m pytest -q -p no:cacheprovider -x --repeat-scope=session)

"${pytest[@]}" --count="$title_runs" tests/e2e/test_bad_input.py -k "every and unit"
"${pytest[@]}" --count="$bad_input_runs" tests/e2e/test_bad_input.py
ctest --preset windows --repeat until-fail:"$ctest_runs"
echo "repeat-e2e: $title_runs title runs, $bad_input_runs test_bad_input.py runs and $ctest_runs ctest runs, all green"
