#!/bin/sh
# One bounded fuzz run as CTest starts it: run-fuzz-test.sh <work folder>
# <seed folder or ""> <program> <libFuzzer options>...
# New inputs go to a work folder that starts empty and is removed afterwards;
# the committed seeds are only read. Undefined behaviour and leaks end the run.
set -u
work=$1
seeds=$2
shift 2
rm -rf "$work"
mkdir -p "$work"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
if [ -n "$seeds" ]; then
  "$@" "$work" "$seeds"
else
  "$@" "$work"
fi
rc=$?
rm -rf "$work"
exit $rc
