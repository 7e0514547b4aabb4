#!/bin/bash
# Writes the same COUNT photographs in every format a search can read, for
# format_floor:
#
#   bench/make_format_photos.sh FOLDER [COUNT [WIDTH HEIGHT]]
#
# The photographs are crops of WIDTH x HEIGHT (default 100 of 1600 x 1200)
# from the real photographs of Debian's wallpaper packages
# (bench/install_wallpapers.sh installs them): the JPEGs of at least 100 KB
# under /usr/share/backgrounds, /usr/share/wallpapers and
# /usr/share/desktop-base, taken in turn, each turn cropping at another place
# (a source smaller than the crop is enlarged first). Each crop is kept as a
# PNG and saved from it by each format's own Debian tool, one folder a kind:
#   png/            ImageMagick, 8-bit RGB
#   webp-lossless/  cwebp -lossless
#   webp-q90/       cwebp -q 90
#   tiff/           ImageMagick, LZW
#   gif/            ImageMagick, 256 colours
#   heic/           heif-enc -q 80 (x265 preset ultrafast: a camera's
#                   encoder is fast too, and the slow presets take minutes)
#   avif/           avifenc, constant quality 20 (of 63), speed 9
#   jxl/            cjxl, distance 1 (its default)
# Files already there are kept, so an interrupted run resumes. Never commit
# the pictures.
set -euo pipefail

folder=${1:?usage: make_format_photos.sh FOLDER [COUNT [WIDTH HEIGHT]]}
count=${2:-100}
width=${3:-1600}
height=${4:-1200}
convert=/usr/bin/convert # ImageMagick itself, not a stand-in earlier on PATH

for tool in "$convert" cwebp heif-enc avifenc cjxl identify; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install imagemagick webp libheif-examples libavif-bin libjxl-tools)" >&2; exit 1; }
done

mapfile -t sources < <(find /usr/share/backgrounds /usr/share/wallpapers /usr/share/desktop-base \
  -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) -size +100k 2>/dev/null | sort)
if ((${#sources[@]} == 0)); then
  echo "no wallpaper photographs: run bench/install_wallpapers.sh" >&2
  exit 1
fi

mkdir -p "$folder"/{source,png,webp-lossless,webp-q90,tiff,gif,heic,avif,jxl}

# save TARGET COMMAND...: runs COMMAND unless TARGET is there already.
save() {
  local target=$1
  shift
  [[ -s $target ]] || nice "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; rm -f "$target"; return 1; }
}

for ((i = 0; i < count; i++)); do
  name=$(printf 'photo_%03d' "$i")
  crop=$folder/source/$name.png
  if [[ ! -s $crop ]]; then
    source=${sources[i % ${#sources[@]}]}
    turn=$((i / ${#sources[@]}))
    read -r w h < <(identify -format '%w %h\n' "$source" 2>/dev/null | head -1)
    scale=""
    if ((w < width || h < height)); then
      scale="-resize ${width}x${height}^"
      # The enlarged sides, as ImageMagick rounds them.
      if ((w * height > h * width)); then w=$((w * height / h)); h=$height; else h=$((h * width / w)); w=$width; fi
    fi
    x=$(((turn * 397 + 131) % (w - width + 1)))
    y=$(((turn * 211 + 71) % (h - height + 1)))
    # shellcheck disable=SC2086 # scale is options or nothing
    nice "$convert" "$source" $scale -crop "${width}x${height}+$x+$y" +repage -strip -colorspace sRGB -type TrueColor \
      -depth 8 "PNG24:$crop"
  fi
  save "$folder/png/$name.png" cp "$crop" "$folder/png/$name.png"
  save "$folder/webp-lossless/$name.webp" cwebp -quiet -lossless "$crop" -o "$folder/webp-lossless/$name.webp"
  save "$folder/webp-q90/$name.webp" cwebp -quiet -q 90 "$crop" -o "$folder/webp-q90/$name.webp"
  save "$folder/tiff/$name.tif" "$convert" "$crop" -compress LZW "$folder/tiff/$name.tif"
  save "$folder/gif/$name.gif" "$convert" "$crop" -colors 256 "$folder/gif/$name.gif"
  save "$folder/heic/$name.heic" heif-enc -q 80 -p preset=ultrafast "$crop" -o "$folder/heic/$name.heic"
  save "$folder/avif/$name.avif" avifenc -j 1 -s 9 --min 0 --max 63 -a end-usage=q -a cq-level=20 "$crop" \
    "$folder/avif/$name.avif"
  save "$folder/jxl/$name.jxl" cjxl "$crop" "$folder/jxl/$name.jxl"
  echo "$name"
done
du -sh "$folder"/*
