#!/usr/bin/env bash
# Packs fuzz seeds into the archive the fuzz build unpacks, one per target.
#
#   tools/pack-fuzz-seeds.sh [-c] [-f folder] target ...
#
# Each target's archive, fuzz/corpus/<target>_seed_corpus.zip, receives the
# files of the plain folder fuzz/corpus/<target>/ (a new target's seeds, or
# seeds added by hand), which is then removed: the archive holds them. Inputs
# already in the archive stay; a file of the same name is replaced.
#   -c  the campaign archive, fuzz/campaign-corpus/<target>_campaign_corpus.zip,
#       and its plain folder fuzz/campaign-corpus/<target>/
#   -f  take the files of this folder instead (one target only); the folder
#       is left as it is
# An archive whose inputs would not change is not rewritten, so the tree
# stays clean. Needs only cmake.
set -euo pipefail
cd "$(dirname "$0")/.."

kind=corpus
suffix=seed_corpus
from=
while getopts "cf:" opt; do
  case $opt in
    c) kind=campaign-corpus; suffix=campaign_corpus ;;
    f) from=$(cd "$OPTARG" && pwd) ;;
    *) sed -n '2,14p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -eq 0 ] || { [ -n "$from" ] && [ $# -ne 1 ]; }; then
  sed -n '2,14p' "$0"
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for t in "$@"; do
  archive=$PWD/fuzz/$kind/${t}_$suffix.zip
  src=${from:-$PWD/fuzz/$kind/$t}
  if [ ! -d "$src" ]; then
    echo "$t: no folder $src to pack" >&2
    exit 1
  fi
  rm -rf "$work/old" "$work/new"
  mkdir -p "$work/old" "$work/new"
  if [ -f "$archive" ]; then
    (cd "$work/old" && cmake -E tar xf "$archive")
    cp -R -p "$work/old/." "$work/new/"
  fi
  find "$src" -maxdepth 1 -type f -exec cp -t "$work/new/" {} +
  if [ -f "$archive" ] && diff -r -q "$work/old" "$work/new" > /dev/null; then
    echo "$t: $(ls "$work/new" | wc -l) inputs, archive unchanged"
  else
    # Sorted names and a fixed time keep the listing stable between packs.
    (cd "$work/new" && LC_ALL=C ls | LC_ALL=C sort > "$work/list" &&
      cmake -E tar cf "$work/out.zip" --format=zip --mtime=1970-01-01 --files-from="$work/list")
    mkdir -p "$(dirname "$archive")"
    mv "$work/out.zip" "$archive"
    echo "$t: $(ls "$work/new" | wc -l) inputs packed into ${archive#"$PWD"/}"
  fi
  if [ -z "$from" ]; then
    rm -rf "$src"
  fi
done
