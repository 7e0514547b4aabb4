#!/usr/bin/env bash
# Searches for turned and mirrored copies against plain searches, on real
# photographs, without the signature cache (every picture decoded):
#
#   bench/turned_searches.sh [COPIES]
#
# 1. Takes the photographs of Debian's wallpaper packages (installs the
#    missing ones), and writes each into a work folder beside COPIES (default
#    3) copies of it turned or mirrored by jpegtran (-trim: the partial blocks
#    at the edges are dropped), the transforms taken in turn so that every
#    orientation occurs. The pictures are never part of the repository.
# 2. Reads every file once so that the searches meet a warm page cache.
# 3. For the identical and the similar mode (middle level, two jobs): the wall
#    time, processor time and peak memory of a plain search and of the same
#    search with --turned, their pairs, and the ratios of the times (the
#    processor time's ratio says more on a busy machine).
#
# Target: a --turned search at most 3 x the plain one. The machine is shared:
# uptime is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
copies=${1:-3}

source bench/photo_collection.sh
install_missing time libjpeg-turbo-progs desktop-base ukui-wallpapers mate-backgrounds
cmake --build build --target zelvic-cli >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/photos"
transforms=("-rotate 90" "-flip horizontal" "-transpose" "-rotate 180" "-transverse" "-rotate 270" "-flip vertical")
n=0 t=0
while IFS= read -r -d '' photo; do
  n=$((n + 1))
  cp "$photo" "$work/photos/p${n}.jpg"
  for ((c = 0; c < copies; c++)); do
    # shellcheck disable=SC2086 # the transform is two words
    jpegtran -trim ${transforms[t % 7]} -outfile "$work/photos/p${n}_t$c.jpg" "$photo"
    t=$((t + 1))
  done
done < <(find /usr/share/backgrounds /usr/share/wallpapers /usr/share/desktop-base -iname '*.jpg' -size +100k \
  -print0 2>/dev/null | sort -z)
files=$(find "$work/photos" -type f | wc -l)
echo "$n photographs and $((n * copies)) turned copies: $files files, $(du -sh "$work/photos" | cut -f1)"
find "$work/photos" -type f -print0 | xargs -0 cat >/dev/null

# search NAME ARGS...: one search without the cache; prints its line and
# leaves its seconds in $seconds.
search() {
  local name=$1
  shift
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" \
    build/zelvic-cli search "$work/photos" --level middle --jobs 2 --no-cache --json "$@" \
    >"$work/$name.json" 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  local peak user system pairs turned
  read -r seconds peak user system <"$work/time"
  cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
  pairs=$(grep -o '"pairs":[0-9]*' "$work/$name.json" | head -1 | cut -d: -f2)
  turned=$(grep -o '"orientations":\[[^]]*\]' "$work/$name.json" | sed 's/^"orientations"://' | grep -o '"[a-z0-9-]*"' \
    | grep -vc '"upright"' || true)
  printf "  %-18s %7.2f s (cpu %7.2f s)  %5d MB  %4d pairs  %4s turned\n" "$name" "$seconds" "$cpu" \
    $((peak / 1024)) "$pairs" \
    "$( [[ $name == *turned* ]] && echo "$turned" || echo -)"
}

uptime
for mode in identical similar; do
  echo "$mode"
  search "$mode-plain" --mode "$mode"
  plain=$seconds plainCpu=$cpu
  search "$mode-turned" --mode "$mode" --turned
  awk -v p="$plain" -v t="$seconds" -v pc="$plainCpu" -v tc="$cpu" \
    'BEGIN { printf "  ratio %.2f, of processor time %.2f (target <= 3)\n", t / p, tc / pc }'
done
uptime
