#!/usr/bin/env bash
# A fuzz campaign in one command: every fuzz target (or the ones named) runs
# for a chosen time, a few at once, with the options its CTest run uses
# (fuzz/<name>.cmake through qel_fuzz: max_len, dictionary, limits). Corpora
# are kept between campaigns in the output folder and merged at the end; a
# table of the results is printed.
#
#   tools/fuzz-campaign.sh [-t seconds] [-j parallel] [-T seconds] [-b build dir] [-o out dir] [-u|-U] [target ...]
#
#   -t  seconds per target (default 1800)
#   -j  targets run at once (default 3; each takes one core)
#   -T  seconds one input may take before it counts as a hang (default: the
#       target's own, 10 s; raise it on a machine busy with other work,
#       where a starved process is not a hung one)
#   -b  the fuzz build (default build/fuzz; configured and built when missing)
#   -o  output folder (default build/fuzz-campaign): corpus/<t> (kept and
#       grown), bin/ (copies of the programs, so rebuilding does not disturb
#       a run), logs/<t>.log (time-stamped), artifacts/<t>/ (crashing inputs),
#       table.txt
#   -u  afterwards, add to the seed archive fuzz/corpus/<t>_seed_corpus.zip
#       the inputs of the campaign's corpus that raise coverage over the
#       committed seeds (libFuzzer merge), ready to commit. CI runs every
#       target over all of its seeds before its timed fuzzing, so a slow
#       target's additions belong in the campaign archive instead:
#   -U  the same into fuzz/campaign-corpus/<t>_campaign_corpus.zip, which
#       only campaigns read, over the committed seeds and earlier finds
#   Seeds and finds are read from the fuzz build, which unpacks the archives
#   (fuzz/README.md); tools/pack-fuzz-seeds.sh writes them.
#
# Table columns: seconds run, inputs executed, edges covered (cov) and
# features (ft) at the end, corpus size after the merge, seconds into the run
# of the last coverage gain, and the result (ok, or what ended the run and
# the input that did).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=1800
parallel=3
build=build/fuzz
out=build/fuzz-campaign
update=
input_timeout=
while getopts "t:j:T:b:o:uU" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    j) parallel=$OPTARG ;;
    T) input_timeout=$OPTARG ;;
    b) build=$OPTARG ;;
    o) out=$OPTARG ;;
    u) update=seeds ;;
    U) update=campaign ;;
    *) sed -n '2,33p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQEL_FUZZ=ON -DQEL_TESTS=OFF -DQEL_BENCH=OFF || exit 1
fi
cmake --build "$build" -j"$parallel" || exit 1

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < <(ls "$build"/fuzz/*.options | xargs -n1 basename | sed 's/\.options$//' | sort)
fi

mkdir -p "$out/bin" "$out/logs"
for t in "${targets[@]}"; do
  [ -x "$build/fuzz/$t" ] || { echo "no fuzz target $t in $build/fuzz" >&2; exit 1; }
  cp "$build/fuzz/$t" "$build/fuzz/$t.options" "$out/bin/"
  mkdir -p "$out/corpus/$t" "$out/artifacts/$t"
done

option_of() { sed -n "s/^$2=//p" "$out/bin/$1.options"; }

run_one() {
  local t=$1 opts seeds finds start
  opts=$(option_of "$t" options)
  # libFuzzer takes the last of repeated flags.
  [ -n "$input_timeout" ] && opts="$opts -timeout=$input_timeout"
  seeds=$(option_of "$t" seeds)
  # Inputs an earlier campaign found but CI does not read (their first pass
  # alone would outlast the target's CI time) join the start.
  finds=$(option_of "$t" campaign)
  [ -n "$finds" ] && seeds="$seeds $finds"
  start=$(date +%s)
  echo "start $t ($(date -u +%H:%M:%S) UTC)"
  # shellcheck disable=SC2086
  ( cd "$out/artifacts/$t" &&
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "../../bin/$t" $opts -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$PWD/" "../../corpus/$t" $seeds 2>&1 ) |
    while IFS= read -r line; do printf -v now "%(%s)T" -1; printf "%s %s\n" "$((now - start))" "$line"; done > "$out/logs/$t.log"
  echo "${PIPESTATUS[0]}" > "$out/logs/$t.rc"
  echo "end   $t ($(date -u +%H:%M:%S) UTC)"
}

running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
wait

# The inputs of the campaign's corpus that raise coverage over the committed
# seeds (and, into the campaign archive, over the earlier finds too) are
# added to the target's archive.
write_back() {
  local t=$1 opts seeds finds base
  opts=$(option_of "$t" options)
  seeds=$(option_of "$t" seeds)
  finds=$(option_of "$t" campaign)
  base="$out/write-back/$t"
  rm -rf "$base" && mkdir -p "$base/known" "$base/new"
  [ -n "$seeds" ] && cp -R "$seeds/." "$base/known/"
  [ "$update" = campaign ] && [ -n "$finds" ] && cp -R "$finds/." "$base/known/"
  ls "$base/known" | LC_ALL=C sort > "$base/before"
  # shellcheck disable=SC2086
  "$out/bin/$t" $opts -merge=1 "$base/known" "$out/corpus/$t" > "$out/logs/$t.seeds.log" 2>&1 || {
    echo "$t: merge into the committed seeds failed, see $out/logs/$t.seeds.log" >&2
    return 1
  }
  LC_ALL=C comm -13 "$base/before" <(ls "$base/known" | LC_ALL=C sort) |
    (cd "$base/known" && xargs -r cp -t "$base/new")
  if [ -z "$(ls "$base/new")" ]; then
    echo "$t: nothing new for the $update archive"
  elif [ "$update" = campaign ]; then
    tools/pack-fuzz-seeds.sh -c -f "$base/new" "$t"
  else
    # A target still on a plain seed folder moves to its archive first.
    [ -d "fuzz/corpus/$t" ] && tools/pack-fuzz-seeds.sh "$t"
    tools/pack-fuzz-seeds.sh -f "$base/new" "$t"
  fi
}

# Merge: the kept corpus shrinks to the inputs that matter; -u and -U write
# back what the committed archives lack.
for t in "${targets[@]}"; do
  opts=$(option_of "$t" options)
  rm -rf "$out/merged-$t" && mkdir -p "$out/merged-$t"
  # shellcheck disable=SC2086
  "$out/bin/$t" $opts -merge=1 "$out/merged-$t" "$out/corpus/$t" > "$out/logs/$t.merge.log" 2>&1 &&
    rm -rf "$out/corpus/$t" && mv "$out/merged-$t" "$out/corpus/$t"
  if [ -n "$update" ]; then
    write_back "$t"
  fi
done

{
  printf '%-24s %7s %11s %7s %8s %7s %9s  %s\n' target seconds execs cov ft corpus last_gain result
  for t in "${targets[@]}"; do
    log="$out/logs/$t.log"
    rc=$(cat "$out/logs/$t.rc" 2>/dev/null || echo "?")
    ran=$(tail -n 1 "$log" | cut -d' ' -f1)
    execs=$(sed -n 's/.*stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    [ -n "$execs" ] || execs=$(grep -o '^[0-9]* #[0-9]*' "$log" | tail -n 1 | sed 's/.*#//')
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    gain=$(grep -E '^[0-9]+ #[0-9]+[[:space:]]+NEW' "$log" | tail -n 1 | cut -d' ' -f1)
    size=$(ls "$out/corpus/$t" | wc -l)
    if [ "$rc" = 0 ]; then
      result=ok
    else
      what=$(grep -o -m1 -E 'ERROR: AddressSanitizer: [a-z-]+|runtime error: .{0,50}|==qel== [0-9]+ reference-counted|ERROR: libFuzzer: [a-z-]+|ERROR: LeakSanitizer' "$log" | head -n 1)
      input=$(grep -o -m1 "Test unit written to .*" "$log" | sed 's/Test unit written to //')
      result="FAILED rc=$rc: ${what:-see log} ${input}"
    fi
    printf '%-24s %7s %11s %7s %8s %7s %9s  %s\n' "$t" "${ran:-0}" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$size" "${gain:--}" "$result"
  done
} | tee "$out/table.txt"
