#!/usr/bin/env bash
# Installs the Debian packages Zelvic needs (only those missing), then
# configures and builds a Release build in build/. Quiet when all is present.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libjpeg62-turbo-dev libpng-dev libwebp-dev webp libgif-dev libtiff-dev libheif-dev libheif-examples libavif-bin libjxl-dev libjxl-tools imagemagick libsqlite3-dev zlib1g-dev libgtest-dev
          libbenchmark-dev fonts-ipafont-gothic nlohmann-json3-dev
          desktop-file-utils appstream man-db groff-base ccache pngcheck libjpeg-turbo-progs)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

source scripts/compiler_cache.sh
if [[ ! -f build/build.ninja ]]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >&2
fi
cmake --build build -j"$(nproc)" >&2
