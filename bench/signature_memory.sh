#!/usr/bin/env bash
# Peak memory of `zelvic-cli signature` (both engines) and of a search of a
# folder holding the one picture, for the pictures whose decode holds more
# than a strip of rows (a progressive JPEG, run-length and platform-read
# bitmaps) and a baseline JPEG beside them:
#
#   bench/signature_memory.sh [FOLDER [JPEG_SIDE [BMP_SIDE]]]
#
# The pictures (JPEGs JPEG_SIDE square, default 12,000; bitmaps BMP_SIDE,
# default 11,000, as 12,000 is beyond the picture budget at four bytes a
# pixel) are written into FOLDER (default /tmp/zelvic-signature-memory) by
# make_signature_pictures unless they are there already. Prints
# one line a picture: the peak resident size in MB of each command, and the
# hash of each command's output, so that runs before and after a change can
# be compared byte for byte (the search's elapsed time left out). ZELVIC_CLI
# names another zelvic-cli to measure, one built before a change, say.
#
# A progressive JPEG stays over 200 MB from about 60 megapixels at 4:2:0:
# libjpeg holds its whole coefficient buffer, two bytes a coefficient, three
# bytes a pixel at 4:2:0 (six at 4:4:4, two in grey); 7,750 x 7,750 takes
# 192 MB. Bitmaps stream in a few rows whatever their size.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-/tmp/zelvic-signature-memory}
jpeg_side=${2:-12000}
bmp_side=${3:-11000}

cmake --build build --target zelvic-cli make_signature_pictures >&2
cli=${ZELVIC_CLI:-build/zelvic-cli}
if [[ ! -f "$folder/alpha.bmp.d/alpha.bmp" ]]; then
  build/make_signature_pictures "$folder" "$jpeg_side" "$bmp_side"
fi

peak() { # command...; prints "peak-MB output-hash"
  local out
  out=$(mktemp)
  /usr/bin/time -f %M -o "$out.time" "$@" > "$out" 2>/dev/null || true
  echo "$(( $(tail -1 "$out.time") / 1024 )) $(sed "s/\"elapsed_seconds\":[0-9.]*//" "$out" | md5sum | cut -c1-8)"
  rm -f "$out" "$out.time"
}

uptime
printf '%-18s %18s %18s %18s %18s\n' picture "identical MB/hash" "similar MB/hash" "search-id MB/hash" "search-sim MB/hash"
for name in baseline.jpg progressive.jpg rle8.bmp rle4.bmp rle8_topdown.bmp alpha.bmp; do
  file="$folder/$name.d/$name"
  printf '%-18s %18s %18s %18s %18s\n' "$name" \
    "$(peak "$cli" signature --engine identical "$file")" \
    "$(peak "$cli" signature --engine similar "$file")" \
    "$(peak "$cli" search "$folder/$name.d" --mode identical --no-cache --json --jobs 1)" \
    "$(peak "$cli" search "$folder/$name.d" --mode similar --no-cache --json --jobs 1)"
done
