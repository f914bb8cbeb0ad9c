#!/usr/bin/env bash
# Regenerates the dialog screenshots of docs/dialogs.md: every dialog of the
# stub under Wine on an X virtual frame buffer, at 96 and 192 DPI (the
# LogPixels setting of the Wine prefix), with its built-in texts and with
# long ones, taken with sfxdriver's snapshot.
#
#   tools/dialog_screenshots/dialog_screenshots.sh [BEFORE_STUB]
#
# Needs the win32 build (sfxstub.exe, sfxdriver.exe) and the native-release
# build (sfxpack). BEFORE_STUB, a stub of an earlier version, adds the
# picture docs/screenshots/dialog-129-main-before.png: its main dialog with
# the long caption of the others.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)

if [ "${1:-}" != --inner ]; then
  # shellcheck source=/dev/null
  source "$repo/scripts/env.sh"
  wine_select
  xvfb_start
  trap xvfb_stop EXIT
  wine_stage bash "$repo/tools/dialog_screenshots/dialog_screenshots.sh" --inner "${1:-}"
  exit
fi

before=${2:-}
pack_bin="$repo/build/native-release/bin/sfxpack"
bin="$repo/build/win32/bin"
work="$repo/build/dialog-screenshots"
shots="$repo/docs/screenshots"
rm -rf "$work"
mkdir -p "$work/payload" "$shots"
echo "Read me first." >"$work/payload/readme.txt"
main_title="Marlith Zip Self-Extractor"

winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

config() {  # config OUT KEY=VALUE...
  local out=$1 kv
  shift
  {
    echo '<?xml version="1.0" encoding="utf-8" ?>'
    echo '<SfxConfig>'
    for kv in "$@"; do echo "  <${kv%%=*}>${kv#*=}</${kv%%=*}>"; done
    echo '</SfxConfig>'
  } >"$out"
}

pack() {  # pack NAME STUB PAYLOAD [sfxpack options...] -- KEY=VALUE...
  local name=$1 stub=$2 payload=$3
  shift 3
  local -a opts=()
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  config "$work/$name.xml" "$@"
  "$pack_bin" create -q -o "$work/$name.exe" --stub "$stub" --config "$work/$name.xml" \
    "${opts[@]}" "$payload" >/dev/null
}

drive() {
  printf '%s\n' "$@" >"$work/script.txt"
  wine "$bin/sfxdriver.exe" -t 120000 -f "$(winpath "$work/script.txt")" >/dev/null
}

# shot NAME: the bitmap NAME.bmp of the work folder as docs/screenshots/NAME.png.
shot() {
  python3 "$repo/tools/dialog_screenshots/bmp_to_png.py" "$work/$1.bmp" "$shots/$1.png"
  echo "docs/screenshots/$1.png"
}

set_dpi() {
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n\n[HKEY_CURRENT_CONFIG\\Software\\Fonts]\n"LogPixels"=dword:%08x\n' \
    "$1" "$1" >"$work/dpi.reg"
  wine regedit /S "$(winpath "$work/dpi.reg")"
}
trap 'set_dpi 96; clear_shown_dir' EXIT

long_caption="Please choose where Acme Photo Studio should be installed. The setup copies about 300 MB of program files, sample images and colour profiles into that folder and creates shortcuts on the desktop and in the start menu. Close all other programs before continuing."
long_main=("MainCaption=$long_caption"
  "MainUnzipLabel=Install Acme Photo Studio into this folder (it is created when it does not exist yet):"
  "MainUnzipBtn=Install now" "MainCloseBtn=Cancel setup" "MainBrowseBtn=Choose another folder…")
long_pw=("PwCaption=Enter the password printed on the back of the Acme Photo Studio box. It has sixteen letters and digits in four groups, for example ABCD-1234-EFGH-5678."
  "PwdOkBtn=Unlock the archive" "PwdCancelBtn=Give up")
long_fin=("FinTitle=Setup complete" "FinCaption=Acme Photo Studio was installed. $long_caption"
  "FinOkBtn=Close and start Acme Photo Studio")

shown_dir='C:\Program Files\Acme Photo Studio'
clear_shown_dir() { rm -rf "$WINEPREFIX/drive_c/Program Files/Acme Photo Studio"; }

# A stored file large enough to keep the progress dialog up for a picture.
head -c 100000000 /dev/zero >"$work/big.bin"
mkdir -p "$work/bigload" && mv "$work/big.bin" "$work/bigload/"

if [ -n "$before" ]; then
  set_dpi 96
  pack before "$before" "$work/payload" -- ShowMain=1 "MainCaption=$long_caption" \
    MainWidth=640 MainHeight=260 "UnzipDir=$shown_dir"
  drive "run $(winpath "$work/before.exe")" "wait-window '$main_title'" "sleep 1000" \
    "snapshot '$main_title' $(winpath "$work/dialog-129-main-before.bmp")" \
    "close '$main_title'" "wait-exit"
  shot dialog-129-main-before
fi

for dpi in 96 192; do
  set_dpi "$dpi"
  # The folder the pictures show, and where they unzip into the prefix.
  local_out=$shown_dir
  # Built-in main, password with long texts, built-in finished.
  pack builtin "$bin/sfxstub.exe" "$work/payload" --password secret -- ShowMain=1 ShowFin=1 \
    Encryption=1 "UnzipDir=$local_out" "${long_pw[@]}"
  clear_shown_dir
  drive "run $(winpath "$work/builtin.exe")" "wait-window '$main_title'" "sleep 1000" \
    "snapshot '$main_title' $(winpath "$work/dialog-129-main-$dpi.bmp")" \
    "press '$main_title' 1001" "wait-window 'Enter Password'" "sleep 1000" \
    "snapshot 'Enter Password' $(winpath "$work/dialog-130-password-long-$dpi.bmp")" \
    "type 'Enter Password' 1007 secret" "press 'Enter Password' 1" \
    "wait-window Finished." "sleep 1000" \
    "snapshot Finished. $(winpath "$work/dialog-139-finished-$dpi.bmp")" \
    "press Finished. 1015" "wait-exit"
  shot "dialog-129-main-$dpi"; shot "dialog-130-password-long-$dpi"; shot "dialog-139-finished-$dpi"
  # Long main, built-in password, long finished.
  pack long "$bin/sfxstub.exe" "$work/payload" --password secret -- ShowMain=1 ShowFin=1 \
    Encryption=1 "UnzipDir=$local_out" "${long_main[@]}" "${long_fin[@]}"
  clear_shown_dir
  drive "run $(winpath "$work/long.exe")" "wait-window '$main_title'" "sleep 1000" \
    "snapshot '$main_title' $(winpath "$work/dialog-129-main-long-$dpi.bmp")" \
    "press '$main_title' 1001" "wait-window 'Enter Password'" "sleep 1000" \
    "snapshot 'Enter Password' $(winpath "$work/dialog-130-password-$dpi.bmp")" \
    "type 'Enter Password' 1007 secret" "press 'Enter Password' 1" \
    "wait-window 'Setup complete'" "sleep 1000" \
    "snapshot 'Setup complete' $(winpath "$work/dialog-139-finished-long-$dpi.bmp")" \
    "press 'Setup complete' 1015" "wait-exit"
  shot "dialog-129-main-long-$dpi"; shot "dialog-130-password-$dpi"; shot "dialog-139-finished-long-$dpi"
  # The progress dialog while a 100 MB file is written, built-in and long.
  for kind in builtin long; do
    local_caption=()
    name="dialog-140-progress-$dpi"
    if [ "$kind" = long ]; then
      local_caption=("ProgressCaption=$long_caption")
      name="dialog-140-progress-long-$dpi"
    fi
    pack "progress-$kind" "$bin/sfxstub.exe" "$work/bigload" --level 0 -- ShowMain=0 \
      ShowProgress=1 ShowFin=0 "UnzipDir=$(winpath "$work/out-$dpi-$kind")" "${local_caption[@]}"
    drive "run $(winpath "$work/progress-$kind.exe")" "wait-window 'Unzipping...'" \
      "sleep 1500" "snapshot 'Unzipping...' $(winpath "$work/$name.bmp")" "wait-exit"
    shot "$name"
  done
done
