# Round trips through the packer and the real stub: a folder packed plain
# and encrypted at each key length comes back from sfxstub.exe under Wine
# byte for byte, with its files' modification times, and the same as
# "sfxpack extract" gives natively.

# packer_tree DIR: nested and empty folders, empty files, Unicode names, a
# path longer than 260 characters and a 50 MB file of mixed content, with
# whole-second times in winter and in summer.
packer_tree() {
  local in=$1
  mkdir -p "$in/nested/a/b" "$in/empty dir" "$in/ünïcödé/日本語"
  : >"$in/empty.txt"
  : >"$in/nested/a/b/empty.bin"
  printf 'hello\r\n' >"$in/nested/a/b/hello.txt"
  printf 'Grüße, 世界\n' >"$in/ünïcödé/日本語/名前.txt"
  local long=$in i
  for i in 1 2 3 4 5; do
    long=$long/directory-level-$i-with-a-rather-long-name-to-pass-the-old-limit
  done
  mkdir -p "$long"
  printf 'deep\n' >"$long/file-at-the-end-of-a-long-path.txt"
  {
    seq 1 2000000
    head -c $((16 << 20)) /dev/zero
    head -c $((12 << 20)) /dev/urandom
    seq 3000000 3800000
  } >"$in/nested/big.bin"
  truncate -s $((50 << 20)) "$in/nested/big.bin"
  touch -d '2021-01-05 08:09:10' "$in/nested/a/b/hello.txt" "$in/nested/big.bin"
  touch -d '2022-07-15 12:34:56' "$in/ünïcödé/日本語/名前.txt" "$in/empty.txt"
}

# packer_same_files EXPECTED ACTUAL: the same folders and files, the same
# bytes and the same modification times.
packer_same_files() {
  diff -r "$1" "$2" >/dev/null || fail "extracted tree differs:"$'\n'"$(diff -r "$1" "$2" | head -20)"
  local f
  while IFS= read -r f; do
    [ "$(stat -c %Y "$1/$f")" = "$(stat -c %Y "$2/$f")" ] ||
      fail "time of $f: $(stat -c %y "$2/$f"), expected $(stat -c %y "$1/$f")"
  done < <(cd "$1" && find . -type f)
}

# packer_round_trip none|128|192|256
packer_round_trip() {
  local bits=$1 pw="pass word $1"
  packer_tree "$SFX_WORK/in"
  local pw_opt=() bits_opt=() run_pw="" enc=0
  if [ "$bits" != none ]; then
    pw_opt=(--password "$pw")
    bits_opt=(--key-bits "$bits")
    run_pw=" -pwd '$pw'"
    enc=1
  fi
  config "$SFX_WORK/c.xml" ShowMain=0 ShowProgress=0 ShowFin=0 Encryption=$enc KeyLength=${bits/none/128}
  "$SFX_PACK" create -q -o "$SFX_WORK/rt.exe" --stub "$stub" --config "$SFX_WORK/c.xml" \
    "${pw_opt[@]}" "${bits_opt[@]}" "$SFX_WORK/in"
  "$SFX_PACK" test "$SFX_WORK/rt.exe" "${pw_opt[@]}" >/dev/null || fail "sfxpack test failed"
  "$SFX_PACK" extract "$SFX_WORK/rt.exe" -C "$SFX_WORK/native" "${pw_opt[@]}" ||
    fail "sfxpack extract failed"
  packer_same_files "$SFX_WORK/in" "$SFX_WORK/native"
  drive "run '$(winpath "$SFX_WORK/rt.exe")' -unzipDir '$(winpath "$SFX_WORK/wine")'$run_pw" \
    "wait-gone Error 0" \
    "wait-exit" \
    "exit-code 0"
  packer_same_files "$SFX_WORK/in" "$SFX_WORK/wine"
}

case_packer_round_trip_plain() { packer_round_trip none; }
case_packer_round_trip_aes128() { packer_round_trip 128; }
case_packer_round_trip_aes192() { packer_round_trip 192; }
case_packer_round_trip_aes256() { packer_round_trip 256; }
