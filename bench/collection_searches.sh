#!/usr/bin/env bash
# Whole searches of a generated collection of 100,000 pictures cut from real
# photographs, with the signature cache, side by side in one run:
#
#   bench/collection_searches.sh [FOLDER [COUNT]]
#
# 1. Makes the collection (bench/photo_collection.sh) unless FOLDER holds it,
#    and reads every picture once so that the searches meet a warm page cache.
# 2. A cold search (identical, middle) fills a new, empty cache: its time and
#    fill rate.
# 3. Warm searches in every mode and level (the picture-size search twice: the
#    first keeps the header sizes), each with its wall time, peak memory and
#    the cache's hits; every picture must come from the cache.
# 4. The cache's size per picture, and whether the warm identical middle
#    search printed exactly what the cold one did.
#
# Targets: each warm search under 15 s on two cores, peak memory under 1 GB,
# the cache under 2 KB a picture. The machine is shared: uptime is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-/work/photos100k-v2}
count=${2:-100000}

source bench/photo_collection.sh
install_missing time
make_collection "$folder" "$count"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cache=$work/signatures.sqlite
find "$folder" -maxdepth 1 -name 'pic_*.jpg' -print0 | xargs -0 cat >/dev/null

# search NAME MODE LEVEL: runs one search, prints its line of the table.
search() {
  local name=$1 mode=$2 level=$3
  /usr/bin/time -f "%e %M" -o "$work/time" \
    build/zelvic-cli search "$folder" --mode "$mode" --level "$level" --jobs 2 --json --cache "$cache" \
    >"$work/$name.json" 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  read -r seconds peak <"$work/time"
  local hits
  hits=$(grep -o '"cache":{"hits":[0-9]*,"misses":[0-9]*}' "$work/$name.json" || echo "no cache")
  printf "  %-22s %7.2f s  %5d MB  %s\n" "$name" "$seconds" $((peak / 1024)) "$hits"
}

uptime
echo "cold: an empty cache"
search cold-identical-middle identical middle
read -r seconds _ <"$work/time"
awk -v n="$count" -v s="$seconds" 'BEGIN { printf "  fill rate %.0f pictures/s\n", n / s }'
echo "warm"
for level in strict middle loose; do
  search "identical-$level" identical "$level"
done
for level in strict middle loose; do
  search "similar-$level" similar "$level"
done
search size size strict
search dims-first dims strict
search dims dims strict
uptime
bytes=$(stat -c %s "$cache")
[[ -f $cache-wal ]] && bytes=$((bytes + $(stat -c %s "$cache-wal")))
awk -v b="$bytes" -v n="$count" 'BEGIN { printf "cache: %d bytes, %.0f bytes a picture (target < 2048)\n", b, b / n }'
strip() { sed -e 's/,"elapsed_seconds":[0-9.e+-]*//' -e 's/,"cache":{[^}]*}//' "$1"; }
if cmp -s <(strip "$work/cold-identical-middle.json") <(strip "$work/identical-middle.json"); then
  echo "cold and warm identical middle searches printed the same: yes"
else
  echo "cold and warm identical middle searches printed the same: NO"
  exit 1
fi
