# Sourced by the collection benchmarks: make_collection FOLDER COUNT installs
# the wallpaper packages whose photographs the collection is cut from (only
# those missing), builds the tools, and writes COUNT pictures into FOLDER with
# make_photo_collection unless FOLDER already holds exactly that many (then
# it also removes FOLDER.sigs, which belongs to the old pictures). The
# pictures are never part of the repository.

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    local sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

make_collection() {
  local folder=$1 count=$2
  install_missing desktop-base lomiri-wallpapers ukui-wallpapers mate-backgrounds
  scripts/setup.sh
  cmake --build build --target make_photo_collection zelvic-cli
  local existing
  existing=$(find "$folder" -maxdepth 1 -name 'pic_*.jpg' 2>/dev/null | wc -l)
  if [[ $existing -ne $count ]]; then
    rm -f "$folder.sigs"
    build/make_photo_collection "$folder" "$count" /usr/share/backgrounds /usr/share/desktop-base
  fi
}
