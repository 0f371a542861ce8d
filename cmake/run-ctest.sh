#!/usr/bin/env bash
# Runs CTest and then says how many tests ran, failed and were skipped, and why each skipped
# test was skipped (its own message), read from CTest's JUnit report. The exit status is CTest's.
#   run-ctest.sh LABEL REPORT.xml [CTEST ARGS...]
set -uo pipefail
label=$1
report=$(mkdir -p "$(dirname "$2")" && cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
rm -f "$report"
ctest "$@" --output-junit "$report"
status=$?
python3 "$(dirname "$0")/test-summary.py" "$label" "$report" || true
exit $status
