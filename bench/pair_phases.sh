#!/usr/bin/env bash
# The pair phases at 100,000 pictures, side by side with the generated-signature
# benchmarks:
#
#   bench/pair_phases.sh [FOLDER [COUNT]]
#
# 1. Installs the wallpaper packages whose photographs the collection is cut
#    from (only those missing).
# 2. Writes COUNT pictures (default 100,000) into FOLDER (default
#    /work/photos100k-v2) with make_photo_collection, unless FOLDER already
#    holds them. The pictures are never part of the repository.
# 3. Computes both engines' signatures once into FOLDER.sigs (kept for the
#    next run), then times the pair phases in every mode and level on two
#    threads with pair_phase_bench, the literal loop over the first 3,000
#    pictures beside each.
# 4. Runs the pair parts of identical_bench and similar_bench on their
#    generated signatures.
#
# The machine is shared: note its load (uptime is printed) with the numbers.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-/work/photos100k-v2}
count=${2:-100000}

source bench/photo_collection.sh
make_collection "$folder" "$count"
cmake --build build --target pair_phase_bench identical_bench similar_bench

uptime
build/pair_phase_bench "$folder" "$folder.sigs" --jobs 2 --check 3000
uptime
build/identical_bench --skip-search --signatures 100000
build/similar_bench - 20000 quick all photos
uptime
