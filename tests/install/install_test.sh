#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the result as a
# distribution would: the file list, desktop-file-validate, appstreamcli, the
# manual pages through man's warnings, the bash completion, and the installed
# zelvic-cli run from there.
#   install_test.sh BUILD_DIR APP_ID VERSION
set -uo pipefail
build=$1
id=$2
version=$3
here="$(cd "$(dirname "$0")" && pwd)"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# expect NAME WANTED GOT
expect() {
  if [[ "$2" != "$3" ]]; then
    fail "$1"$'\n'"--- wanted:"$'\n'"$2"$'\n'"--- got:"$'\n'"$3"
  fi
}

for tool in desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
done
((failures == 0)) || exit 1
if ! cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log" >&2
  fail "cmake --install failed"
  exit 1
fi

echo "== the files" >&2
sizes=(16 22 24 32 48 64 128 256)
wanted=(bin/zelvic bin/zelvic-cli "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
        "share/icons/hicolor/scalable/apps/$id.svg" share/man/man1/zelvic.1 share/man/man1/zelvic-cli.1
        share/bash-completion/completions/zelvic-cli)
for size in "${sizes[@]}"; do wanted+=("share/icons/hicolor/${size}x${size}/apps/$id.png"); done
expect "installed files" "$(printf '%s\n' "${wanted[@]}" | sort)" "$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)"
for program in zelvic zelvic-cli; do
  [[ -x "$prefix/bin/$program" ]] || fail "bin/$program is not executable"
done
# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in "${sizes[@]}"; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [[ -f "$png" ]] || continue
  expect "size of the ${size}x${size} icon" "$size $size" "$(od -An -tu1 -j16 -N8 "$png" |
    awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }')"
done

echo "== the desktop entry and the metainfo" >&2
desktop="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
# Hints too: one about the categories means the entry shows in two menus.
report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate failed"
expect "desktop-file-validate's report" "" "$report"
appstreamcli validate --no-net "$metainfo" >"$tmp/appstream.log" 2>&1 || { cat "$tmp/appstream.log" >&2; fail "appstreamcli validate"; }
# The tree check also matches the metainfo against the installed entry and icons.
appstreamcli validate-tree --no-net "$prefix" >"$tmp/tree.log" 2>&1 || { cat "$tmp/tree.log" >&2; fail "appstreamcli validate-tree"; }
grep -qx "Exec=zelvic" "$desktop" || fail "the desktop entry does not start zelvic"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

echo "== the manual pages" >&2
for page in zelvic zelvic-cli; do
  file="$prefix/share/man/man1/$page.1"
  # UTF-8: the pages name the window's Japanese labels.
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >"$tmp/$page.txt") || fail "man $page failed"
  expect "man --warnings $page" "" "$warnings"
  grep -q "Zelvic $version" "$tmp/$page.txt" || fail "$page(1) is not for Zelvic $version"
done

echo "== the installed zelvic-cli" >&2
cli="$prefix/bin/zelvic-cli"
cd "$tmp"
usage=$("$cli" --help)
status=$?
expect "--help's status" 0 "$status"
[[ "$usage" == "usage: zelvic-cli search FOLDER"* ]] || fail "--help prints no usage: $usage"
# Every option the usage names is in the manual page and the completion.
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$usage" | sort -u); do
  grep -q -- "${option//-/\\\\-}" "$prefix/share/man/man1/zelvic-cli.1" || fail "zelvic-cli(1) does not name $option"
  grep -q -- "$option" "$prefix/share/bash-completion/completions/zelvic-cli" || fail "the completion does not offer $option"
done
for words in "" "frobnicate" "search" "search pictures --mode bogus" "search pictures --depth 4" \
             "signature --engine other x.bmp" "cache"; do
  # shellcheck disable=SC2086 # the words are split on purpose
  "$cli" $words >"$tmp/out" 2>"$tmp/err"
  status=$?
  expect "status of zelvic-cli $words" 2 "$status"
  [[ -s "$tmp/err" && ! -s "$tmp/out" ]] || fail "zelvic-cli $words: the usage belongs on standard error alone"
done

# Three 16 x 16 pictures: a.bmp and its copy sub/b.BMP, and c.bmp of other colours.
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
bmp() {
  local file=$1 shift=$2 x y pixels=
  for ((y = 0; y < 16; y++)); do
    for ((x = 0; x < 16; x++)); do
      pixels+=$(printf '\\x%02x\\x%02x\\x%02x' $(((x * 16 + shift) & 255)) $((y * 16)) $(((x * y + shift * 3) & 255)))
    done
  done
  printf "BM$(le32 822)$(le32 0)$(le32 54)$(le32 40)$(le32 16)$(le32 16)\\x01\\x00\\x18\\x00$(le32 0)$(le32 768)$(le32 2835)$(le32 2835)$(le32 0)$(le32 0)$pixels" >"$file"
}
mkdir -p pictures/sub
bmp pictures/a.bmp 0
cp pictures/a.bmp pictures/sub/b.BMP
bmp pictures/c.bmp 40
export XDG_CACHE_HOME="$tmp/cache"
for mode in size dims identical similar; do
  expect "a $mode search" "$tmp/pictures/a.bmp"$'\n'"$tmp/pictures/sub/b.BMP" \
         "$("$cli" search pictures --depth 1 --mode "$mode" --no-cache 2>/dev/null)"
done
expect "a search of the top folder alone" "" "$("$cli" search pictures --mode identical 2>/dev/null)"
[[ -f "$tmp/cache/zelvic/signatures.sqlite" ]] || fail "the search kept no signature cache in XDG_CACHE_HOME"
expect "the cache's records" "records: 2" "$("$cli" cache stats | grep '^records:')"
expect "the first character of an identical signature" "{" "$("$cli" signature --engine identical pictures/a.bmp | head -c1)"
expect "two folders, one inside the other" "$tmp/pictures/a.bmp"$'\n'"$tmp/pictures/sub/b.BMP" \
       "$("$cli" search pictures pictures/sub --mode identical --no-cache 2>/dev/null)"
expect "an excluded folder" "" "$("$cli" search pictures --depth 1 --exclude '*/sub' --mode identical --no-cache 2>/dev/null)"

echo "== the bash completion" >&2
completion="$prefix/share/bash-completion/completions/zelvic-cli"
expect "complete -p" "complete -F _zelvic_cli zelvic-cli" "$(bash -c 'source "$1" && complete -p zelvic-cli' - "$completion" 2>&1)"
touch pictures/notes.txt pictures/d.JPG
# replies WORD...: the replies, sorted, for the last word, as bash splits the
# line (an "=" is a word of its own). compopt works only inside a completion.
replies() {
  bash -c 'compopt() { :; }; source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
           _zelvic_cli; printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' - "$completion" zelvic-cli "$@"
}
expect "commands" "search"$'\n'"signature" "$(replies s)"
expect "search options" "--"$'\n'"--cache"$'\n'"--csv"$'\n'"--depth"$'\n'"--exclude"$'\n'"--formats"$'\n'"--jobs"$'\n'"--json"$'\n'"--keep"$'\n'"--level"$'\n'"--mode"$'\n'"--no-cache"$'\n'"--null"$'\n'"--plan"$'\n'"--reference"$'\n'"--screen"$'\n'"--show-marked"$'\n'"--turned"$'\n'"--verbose" \
       "$(replies search pictures --)"
expect "keep rules" "path"$'\n'"pixels" "$(replies search pictures --keep p)"
expect "apply options" "--dry-run" "$(replies apply plan.json --d)"
expect "clean-up commands" "apply" "$(replies a)"
expect "cache options" "--cache"$'\n'"--verbose" "$(replies cache --)"
expect "not-same actions" "remove" "$(replies not-same r)"
expect "like options" "--level" "$(replies like pictures/a.bmp pictures --le)"
expect "like turned" "--turned" "$(replies like pictures/a.bmp pictures --tu)"
expect "like's picture after an option" "pictures/a.bmp" "$(replies like --mode identical pictures/a.)"
expect "modes" "dims"$'\n'"identical"$'\n'"similar"$'\n'"size" "$(replies search pictures --mode '')"
expect "a mode after =" "similar"$'\n'"size" "$(replies search pictures --mode = si)"
expect "levels" "loose" "$(replies search --level l)"
expect "folders to search" "pictures/sub" "$(replies search pictures/)"
expect "a folder after a folder" "pictures/sub" "$(replies search pictures pictures/)"
expect "no names for a pattern" "" "$(replies search pictures --exclude pic)"
expect "pictures for a signature" "pictures/a.bmp"$'\n'"pictures/c.bmp"$'\n'"pictures/d.JPG"$'\n'"pictures/sub" \
       "$(replies signature --engine similar pictures/)"
expect "a folder after --" "pictures" "$(replies search -- pic)"
expect "cache actions" "stats" "$(replies cache st)"
expect "nothing after the cache action" "" "$(replies cache stats '')"

if ((failures)); then
  echo "$failures failures" >&2
  exit 1
fi
echo "all install checks passed" >&2
