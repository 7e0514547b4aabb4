#!/usr/bin/env bash
# `zelvic-cli like` over a generated collection of 100,000 pictures cut from
# real photographs, warm, beside the whole search it stands for:
#
#   bench/like_collection.sh [FOLDER [COUNT]]
#
# 1. Makes the collection (bench/photo_collection.sh) unless FOLDER holds it,
#    and fills an empty cache with one search per engine.
# 2. For a few pictures of the collection, in both modes at the middle level:
#    the wall time and peak memory of `like`, and whether it named exactly the
#    files the warm search paired with that picture, with their scores.
#
# Target: each warm `like` under 1 s on two cores. The machine is shared:
# uptime is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-/work/photos100k-v2}
count=${2:-100000}

source bench/photo_collection.sh
install_missing time jq
make_collection "$folder" "$count"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cache=$work/signatures.sqlite
find "$folder" -maxdepth 1 -name 'pic_*.jpg' -print0 | xargs -0 cat >/dev/null

uptime
for mode in identical similar; do
  /usr/bin/time -f "%e" -o "$work/time" build/zelvic-cli search "$folder" --mode "$mode" --level middle --jobs 2 \
    --json --cache "$cache" >"$work/$mode.json" 2>/dev/null
  printf "search %-9s (fills the cache) %7.2f s\n" "$mode" "$(cat "$work/time")"
done
mapfile -t pictures < <(find "$folder" -maxdepth 1 -name 'pic_*.jpg' | sort | awk 'NR % 20011 == 1')
for mode in identical similar; do
  for picture in "${pictures[@]}"; do
    /usr/bin/time -f "%e %M" -o "$work/time" build/zelvic-cli like "$picture" "$folder" --mode "$mode" \
      --level middle --jobs 2 --cache "$cache" >"$work/like" 2>/dev/null
    read -r seconds peak <"$work/time"
    # The search's pairs with the picture, as like prints them: score, tab, path; best first.
    jq -r --arg p "$picture" '
      .files as $f | [.result_lines[] | {s: (.[0:4] | tonumber), a: (.[6:12] | tonumber), b: (.[14:20] | tonumber)}
        | select($f[.a].path == $p or $f[.b].path == $p)
        | {s, o: (if $f[.a].path == $p then .b else .a end)}] | sort_by(.s, .o)[] | "\(.s)\t\($f[.o].path)"' \
      "$work/$mode.json" >"$work/wanted"
    same=$(cmp -s "$work/like" "$work/wanted" && echo "same as the search" || echo "DIFFERS from the search")
    printf "like %-9s %s  %5.2f s  %5d MB  %3d files  %s\n" "$mode" "$(basename "$picture")" "$seconds" \
      $((peak / 1024)) "$(wc -l <"$work/like")" "$same"
  done
done
uptime
