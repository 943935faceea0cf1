#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test: the plain build,
# the AddressSanitizer+UndefinedBehaviorSanitizer build (clang, whose
# libraries also serve the fuzz targets: time-bounded runs of each), and the
# ThreadSanitizer build of the threaded tests. Benchmarks build only on
# request (-DQEL_BENCH=ON), never here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

jobs=$(nproc)
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
# Tests print their failures; CTest's closing summary is what CI reads.
export GTEST_COLOR=no

stage() { echo; echo "=== $* ($(date -u +%H:%M:%S)) ==="; }

# The next stage's build runs beside the current stage's tests, at the lowest
# priority: the tests keep the cores whenever they want them, and the build
# takes what they leave idle (waits on threads, clocks and the GL driver).
# Its output goes to a log, shown when it is waited for, so CTest's summaries
# stay whole.
bg_pid=""
bg_log=""
build_behind() {
  bg_log=$1
  shift
  mkdir -p "$(dirname "$bg_log")"
  setsid nice -n 19 bash -c "$*" >"$bg_log" 2>&1 &
  bg_pid=$!
}
wait_build() {
  local rc=0
  wait "$bg_pid" || rc=$?
  bg_pid=""
  if [ "$rc" != 0 ]; then
    cat "$bg_log"
    echo "build failed: see above"
    exit "$rc"
  fi
  tail -n 2 "$bg_log"
}
stop_build() {
  # The whole group, or the process alone when it has not made its group yet.
  if [ -n "$bg_pid" ]; then kill -- -"$bg_pid" 2>/dev/null || kill "$bg_pid" 2>/dev/null || true; fi
}
trap stop_build EXIT

# Line tables are enough for sanitizer reports and backtraces, and full debug
# information is most of the compile and link time on CI's two cores.
lines_only=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
            -DCMAKE_CXX_FLAGS_DEBUG="-g1" -DCMAKE_C_FLAGS_DEBUG="-g1")

stage "release build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_BENCH=OFF "${lines_only[@]}"
cmake --build build/release -j"$jobs"

# One clang build serves two stages: its libraries carry AddressSanitizer,
# UndefinedBehaviorSanitizer and the fuzzer's coverage instrumentation, the
# test programs and the fuzz targets link the same objects. Libraries build
# at -O1 (the sanitizers' usual level: fuzz runs execute more inputs in their
# time than at -O0); test programs stay unoptimised (qel_test_compile_options).
build_behind build/asan.log "
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQEL_SANITIZE=ON -DQEL_FUZZ=ON -DQEL_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO='-O1 -g1' -DCMAKE_C_FLAGS_RELWITHDEBINFO='-O1 -g1' &&
  cmake --build build/asan -j$jobs"

stage "release tests"
ctest --test-dir build/release -j"$jobs" --output-on-failure

stage "release tests as an unprivileged user"
# CI runs as root, and root writes into read-only folders and files: every
# test program runs again as nobody, from a copy of the programs that user
# owns (some tests write next to their program), so the tests that skip
# themselves as root run too. Programs run $jobs at a time, each with a home
# and a temporary folder of its own.
if [ "$(id -u)" = 0 ]; then
  unpriv=$(mktemp -d /tmp/qel-unprivileged.XXXXXX)
  # Some programs read fixtures of the source tree and plug-ins of the build
  # tree by absolute path: let nobody pass through the folders above the
  # checkout (search permission only; nothing becomes listable or writable).
  d=$PWD
  while [ "$d" != / ]; do chmod o+x "$d" 2>/dev/null || true; d=$(dirname "$d"); done
  (cd build/release && find tests -type f -perm -u+x ! -name '*.*' -print0 | xargs -0 cp --parents -t "$unpriv")
  mapfile -t progs < <(cd "$unpriv" && find tests -type f -perm -u+x | sort)
  for prog in "${progs[@]}"; do
    mkdir -p "$unpriv/run/${prog//\//_}/home" "$unpriv/run/${prog//\//_}/tmp"
  done
  chown -R 65534:65534 "$unpriv"
  chmod 0755 "$unpriv"
  run_as_nobody() {
    local run="$unpriv/run/${1//\//_}"
    if ! (cd "$(dirname "$unpriv/$1")" && setpriv --reuid=65534 --regid=65534 --clear-groups \
          env HOME="$run/home" TMPDIR="$run/tmp" XDG_RUNTIME_DIR= "$unpriv/$1" --gtest_brief=1 \
          >"$run/out.txt" 2>&1); then
      echo "FAILED as nobody: $1"
      cat "$run/out.txt"
      return 1
    fi
  }
  export unpriv
  export -f run_as_nobody
  failed=0
  printf '%s\0' "${progs[@]}" | xargs -0 -n1 -P"$jobs" bash -c 'run_as_nobody "$1"' _ || failed=1
  rm -rf "$unpriv"
  if [ "$failed" != 0 ]; then exit 1; fi
  echo "${#progs[@]} test programs passed as nobody"
else
  echo "not root: the release stage ran every test unprivileged already"
fi

stage "ASan+UBSan build (tests and fuzz targets)"
wait_build

# Only the programs of threaded tests (<folder>_<unit>_mt) are built for
# ThreadSanitizer.
build_behind build/tsan.log "
  cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_TSAN=ON -DQEL_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 &&
  ninja -C build/tsan -t targets all | sed -n 's/^\([A-Za-z0-9_]*_mt\): phony\$/\1/p' | grep -v '^cmake_' >build/tsan-targets.txt &&
  cmake --build build/tsan -j$jobs --target \$(cat build/tsan-targets.txt)"

stage "ASan+UBSan tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -j"$jobs" -LE '^fuzz$' --output-on-failure

stage "TSan build (threaded tests)"
wait_build

stage "TSan tests"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -j"$jobs" -L threads --output-on-failure --no-tests=ignore

# Each target runs QEL_FUZZ_SECONDS (15 s) over its seeds, two at a time on
# CI's 2 cores: about 5 minutes for 33 targets (fuzz/README.md says how to
# budget new ones). Undefined behaviour, memory faults
# and objects left alive by an input fail the run.
stage "fuzz targets (time-bounded runs)"
ctest --test-dir build/asan -j"$jobs" -L '^fuzz$' --output-on-failure --no-tests=ignore

stage "done"
