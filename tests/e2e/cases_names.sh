# Entry names that try to leave the unzip directory, and names Windows would
# take as a stream or a device, through the real stub. The payloads are
# written here byte by byte (the packer never makes such names): a file
# before the named one, the named one, a file after it.

# le N WIDTH: N as WIDTH little-endian bytes.
le() {
  local n=$1 width=$2 i esc=""
  for ((i = 0; i < width; i++)); do esc+=$(printf '\\%03o' $(((n >> (8 * i)) & 255))); done
  printf "$esc"
}

# names_file NAME TEXT: a file entry holding TEXT in one stored chunk.
names_file() {
  printf '\x9b\xe5\x27\x6d\x02'
  le ${#1} 2
  printf '%s' "$1"
  printf '\x80\xc0\x48\x58\x28\x3d\xda\x01\x20\x00\x00\x00'
  le $((${#2} | 0x80000000)) 4
  printf '%s' "$2"
  le 0 4
}

# names_payload OUT.exe NAME [SHOW_PROGRESS]: the stub, then a configuration
# without the main and finished dialogs (with the progress dialog when
# SHOW_PROGRESS is 1, so that a failure is shown in a box) and the three
# files.
names_payload() {
  local cfg
  cfg="<SfxConfig><ShowMain>0</ShowMain><ShowProgress>${3:-0}</ShowProgress><ShowFin>0</ShowFin></SfxConfig>"
  {
    cat "$stub"
    printf '\x07\xd2\x6c\xbf\x21\x59\xab\xaa\x01\x00\x00\x00\x00\x02'
    le 9 2
    printf 'xmlConfig'
    le ${#cfg} 2
    printf '%s' "$cfg"
    le 0 2
    names_file before.txt before
    names_file "$2" named
    names_file after.txt after
    printf '\x9b\xe5\x27\x6d\x00'
  } >"$1"
}

# names_marks MARK OUT: every path named MARK* where an escaping name could
# land: below the scratch folder, the Wine prefix (drive C:) and the
# current folder, and directly in every folder from OUT up to the root (a
# ".." name, a rooted one). The search covers only these folders, so it
# does not depend on which other host folders are readable; when find
# cannot read one of them the case fails and says why.
names_marks() {
  local mark=$1 dir=$2 err="$SFX_WORK/find.err" rc=0 found
  local -a up=()
  while [ "$dir" != / ]; do
    dir=$(dirname "$dir")
    up+=("$dir")
  done
  found=$({
    find "$SFX_WORK" "$WINEPREFIX" "$PWD" -xdev -name "$mark*" -print &&
      find "${up[@]}" -maxdepth 1 -name "$mark*" -print
  } 2>"$err") || rc=$?
  [ "$rc" = 0 ] || fail "the search for $mark stopped (find exit $rc): $(cat "$err")"
  printf '%s' "$found"
}

case_hostile_names() {
  # An unsafe name fails its entry and ends the extraction (exit code 1,
  # the message and the name in the error box): the file before it is
  # there, the one after it is not, and no file of that name appears
  # anywhere. A stream name and device names are repaired and extracted
  # (exit code 0).
  local -a unsafe=('..\ESC' 'a/../../ESC' 'safe/..\..\ESC' '\ESC' 'C:\ESC' 'C:ESC'
    'C:..\ESC' '\\srv\s\ESC' '\\?\C:\ESC' '//?/ESC')
  local -a repaired=('a.txt:evil.exe=a.txt_evil.exe' 'CON=_CON' 'nul.txt=_nul.txt'
    'COM1.txt=_COM1.txt')
  local n=0 name mark out found
  for name in "${unsafe[@]}"; do
    n=$((n + 1))
    mark="esc_sfx_${n}_$$"
    out="$SFX_WORK/box$n/out"
    mkdir -p "$out"
    names_payload "$SFX_WORK/n$n.exe" "${name//ESC/$mark}" 1
    fault_expect_box "$SFX_WORK/n$n.exe" 1 "$SFX_WORK/box$n.txt" -unzipDir "$(winpath "$out")"
    fault_box_has "$SFX_WORK/box$n.txt" "Unsafe path in archive entry." \
      "filename: ${name//ESC/$mark}"
    [ "$(cat "$out/before.txt" 2>/dev/null)" = before ] || fail "$name: the entry before it is missing"
    [ ! -e "$out/after.txt" ] || fail "$name: extraction went on after an unsafe name"
    found=$(names_marks "$mark" "$out")
    [ -z "$found" ] || fail "$name: written outside the unzip directory: $found"
    [ "$(find "$out" -mindepth 1 | wc -l)" = 1 ] || fail "$name: $(find "$out")"
  done
  local pair
  for pair in "${repaired[@]}"; do
    n=$((n + 1))
    out="$SFX_WORK/box$n/out"
    mkdir -p "$out"
    names_payload "$SFX_WORK/n$n.exe" "${pair%%=*}"
    run_stub "$SFX_WORK/n$n.exe" 0 -unzipDir "$(winpath "$out")"
    [ "$(cat "$out/${pair#*=}" 2>/dev/null)" = named ] ||
      fail "${pair%%=*}: not extracted as ${pair#*=}: $(find "$out")"
    [ "$(cat "$out/after.txt" 2>/dev/null)" = after ] || fail "${pair%%=*}: the entry after it is missing"
  done
  echo "hostile names: ${#unsafe[@]} refused, ${#repaired[@]} repaired"
}
