#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test: the plain build,
# the AddressSanitizer+UndefinedBehaviorSanitizer build, the ThreadSanitizer
# build of the threaded tests, and time-bounded runs of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

jobs=$(nproc)
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
# Tests print their failures; CTest's closing summary is what CI reads.
export GTEST_COLOR=no

stage() { echo; echo "=== $* ==="; }

# Line tables are enough for sanitizer reports and backtraces, and full debug
# information is most of the compile and link time on CI's two cores.
lines_only=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
            -DCMAKE_CXX_FLAGS_DEBUG="-g1" -DCMAKE_C_FLAGS_DEBUG="-g1")

stage "release build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lines_only[@]}"
cmake --build build/release -j"$jobs"
ctest --test-dir build/release -j"$jobs" --output-on-failure

stage "release tests as an unprivileged user"
# CI runs as root, and root writes into read-only folders and files: every
# test program runs again as nobody, from a copy of the programs that user
# owns (some tests write next to their program), so the tests that skip
# themselves as root run too.
if [ "$(id -u)" = 0 ]; then
  unpriv=$(mktemp -d /tmp/qel-unprivileged.XXXXXX)
  # Some programs read fixtures of the source tree and plug-ins of the build
  # tree by absolute path: let nobody pass through the folders above the
  # checkout (search permission only; nothing becomes listable or writable).
  d=$PWD
  while [ "$d" != / ]; do chmod o+x "$d" 2>/dev/null || true; d=$(dirname "$d"); done
  (cd build/release && find tests -type f -perm -u+x ! -name '*.*' -print0 | xargs -0 cp --parents -t "$unpriv")
  mkdir -p "$unpriv/home" "$unpriv/tmp"
  chown -R 65534:65534 "$unpriv"
  chmod 0755 "$unpriv"
  mapfile -t progs < <(cd "$unpriv" && find tests -type f -perm -u+x | sort)
  failed=0
  for prog in "${progs[@]}"; do
    if ! (cd "$(dirname "$unpriv/$prog")" && setpriv --reuid=65534 --regid=65534 --clear-groups \
          env HOME="$unpriv/home" TMPDIR="$unpriv/tmp" XDG_RUNTIME_DIR= "$unpriv/$prog" --gtest_brief=1 \
          >"$unpriv/out.txt" 2>&1); then
      echo "FAILED as nobody: $prog"
      cat "$unpriv/out.txt"
      failed=1
    fi
  done
  rm -rf "$unpriv"
  if [ "$failed" != 0 ]; then exit 1; fi
  echo "${#progs[@]} test programs passed as nobody"
else
  echo "not root: the release stage ran every test unprivileged already"
fi

stage "ASan+UBSan build"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=ON -DQEL_BENCH=OFF "${lines_only[@]}"
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -j"$jobs" --output-on-failure

stage "TSan build (threaded tests)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_TSAN=ON -DQEL_BENCH=OFF "${lines_only[@]}"
# Only the programs of threaded tests (<folder>_<unit>_mt) are built here.
mapfile -t mt_targets < <(ninja -C build/tsan -t targets all | sed -n 's/^\([A-Za-z0-9_]*_mt\): phony$/\1/p' | grep -v '^cmake_')
cmake --build build/tsan -j"$jobs" --target "${mt_targets[@]}"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -j"$jobs" -L threads --output-on-failure --no-tests=ignore

# Each target runs QEL_FUZZ_SECONDS (15 s) over its seeds, two at a time on
# CI's 2 cores: about 5 minutes for 33 targets (docs/ARCHITECTURE.md, "Fuzz
# targets", says how to budget new ones). Undefined behaviour, memory faults
# and objects left alive by an input fail the run.
stage "fuzz targets (time-bounded runs)"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQEL_FUZZ=ON -DQEL_TESTS=OFF -DQEL_BENCH=OFF "${lines_only[@]}"
cmake --build build/fuzz -j"$jobs"
ctest --test-dir build/fuzz -j"$jobs" -L fuzz --output-on-failure --no-tests=ignore
