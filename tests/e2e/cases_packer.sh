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
    # The salted scheme; a low count except at 256 bits, whose one
    # derivation in the stub runs at the default count.
    [ "$bits" = 256 ] || bits_opt+=(--kdf-iterations 1000)
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

# A setup run made with flags only: no configuration document is written by
# hand. The program gets its arguments, is waited for (its exit code is the
# stub's), and cleanup removes what was unzipped.
case_packer_flags_setup() {
  mkdir -p "$SFX_WORK/in/docs"
  cp "$SFX_WIN32_BIN/sfxsetup.exe" "$SFX_WORK/in/"
  printf 'hello\r\n' >"$SFX_WORK/in/docs/readme.txt"
  local rec="$SFX_WORK/rec.txt" out="$SFX_WORK/out"
  "$SFX_PACK" create -q -o "$SFX_WORK/f.exe" --stub "$stub" --silent \
    --unzip-dir "$(winpath "$out")" --run sfxsetup.exe \
    --run-args "--out $(winpath "$rec") --exit 7 \"two words\"" --wait --cleanup "$SFX_WORK/in"
  drive "run '$(winpath "$SFX_WORK/f.exe")'" "wait-gone Error 0" "wait-exit" "exit-code 7"
  grep -qxF $'arg: two words\r' "$rec" || fail "setup arguments: $(cat "$rec")"
  grep -qxF "cwd: $(winpath "$out")"$'\r' "$rec" || fail "setup folder: $(cat "$rec")"
  [ ! -e "$out/docs/readme.txt" ] && [ ! -e "$out/sfxsetup.exe" ] ||
    fail "cleanup left: $(cd "$out" && find .)"
}

# The title and the dialog texts given as flags are the dialogs' texts.
case_packer_flags_title() {
  local title="Flag Title Ünï" target="$SFX_WORK/target"
  pack "$SFX_WORK/t.exe" --title "$title" --default-dir "$(winpath "$target")" \
    --finish-notice --finish-title "All done" --finish-text "Finished by flags"
  drive "run '$(winpath "$SFX_WORK/t.exe")'" \
    "wait-window '$title'" \
    "press '$title' 1001" \
    "wait-window 'All done'" \
    "expect-text 'All done' 1014 'Finished by flags'" \
    "press 'All done' 1015" \
    "wait-gone 'All done'" \
    "close '$title'" \
    "wait-exit" \
    "exit-code 0"
  [ -f "$target/readme.txt" ] || fail "nothing extracted to $target"
}

# --password alone: the archive asks for the password, refuses a wrong one
# and accepts the right one.
case_packer_password_alone() {
  local target="$SFX_WORK/target"
  pack "$SFX_WORK/pw.exe" --password "right one" --kdf-iterations 1000 --unzip-dir "$(winpath "$target")" --progress-only
  drive "run '$(winpath "$SFX_WORK/pw.exe")'" \
    "wait-window 'Enter Password'" \
    "type 'Enter Password' 1007 wrong" \
    "key 'Enter Password' enter" \
    "wait-window Error" \
    "expect-text Error 65535 'Incorrect password.'" \
    "press Error 1" \
    "wait-window 'Enter Password'" \
    "type 'Enter Password' 1007 'right one'" \
    "press 'Enter Password' 1" \
    "wait-gone 'Enter Password'" \
    "wait-exit" \
    "exit-code 0"
  cmp -s "$here/../../examples/hello/readme.txt" "$target/readme.txt" || fail "not extracted with the right password"
}

# --silent: no window at any time. The setup program sleeps, so the stub is
# looked at while it runs (made with --progress-only the same archive shows
# its progress dialog then).
case_packer_silent() {
  local target="$SFX_WORK/target"
  mkdir -p "$SFX_WORK/in"
  cp "$SFX_WIN32_BIN/sfxsetup.exe" "$SFX_WORK/in/"
  printf 'silent\r\n' >"$SFX_WORK/in/readme.txt"
  "$SFX_PACK" create -q -o "$SFX_WORK/s.exe" --stub "$stub" --silent \
    --unzip-dir "$(winpath "$target")" --run sfxsetup.exe --run-args "--sleep 3000 --exit 5" \
    --wait "$SFX_WORK/in"
  drive "run '$(winpath "$SFX_WORK/s.exe")'" "sleep 1500" "list" "wait-exit" "exit-code 5" \
    >"$SFX_WORK/windows.txt"
  ! grep -q '#32770' "$SFX_WORK/windows.txt" || fail "a silent run showed a window: $(cat "$SFX_WORK/windows.txt")"
  cmp -s "$SFX_WORK/in/readme.txt" "$target/readme.txt" || fail "not extracted"
}

# Hostile Linux names: refused with every path listed; with --rename the
# archive extracts under Wine to exactly the reported names.
case_packer_hostile_names() {
  local in="$SFX_WORK/in" n
  mkdir -p "$in/CON" "$in/dir."
  for n in 'a:b.txt' 'back\slash.txt' $'new\nline.txt' 'CON.txt' 'nul' 'lpt1.log' 'trail ' \
    'q?.txt' 'w*.txt' 'p|ipe' 'lt<' 'gt>' 'quo"te' $'ctl\x01' 'Case.txt' 'CASE.txt' \
    'CON/inner.txt' 'dir./inner.txt' 'fine.txt'; do
    printf '%s' "$n" >"$in/$n"
  done
  if "$SFX_PACK" create -o "$SFX_WORK/bad.exe" --stub "$stub" --silent --temp "$in" 2>"$SFX_WORK/err.txt"; then
    fail "hostile names were packed"
  fi
  [ ! -e "$SFX_WORK/bad.exe" ] || fail "an archive was written"
  grep -q "17 names cannot be stored" "$SFX_WORK/err.txt" || fail "$(cat "$SFX_WORK/err.txt")"
  "$SFX_PACK" create -q -o "$SFX_WORK/ren.exe" --stub "$stub" --rename --silent \
    --unzip-dir "$(winpath "$SFX_WORK/out")" "$in" 2>"$SFX_WORK/map.txt"
  drive "run '$(winpath "$SFX_WORK/ren.exe")'" "wait-gone Error 0" "wait-exit" "exit-code 0"
  # Each reported new name holds the data of its old name; nothing else
  # appears.
  local expected=0 old new
  while IFS= read -r line; do
    old=$(sed -E "s/^sfxpack: renamed '(.*)' to '(.*)': .*/\1/" <<<"$line")
    new=$(sed -E "s/^sfxpack: renamed '(.*)' to '(.*)': .*/\2/" <<<"$line")
    [ -e "$SFX_WORK/out/$new" ] || fail "reported name $new not extracted: $(cd "$SFX_WORK/out" && find .)"
  done <"$SFX_WORK/map.txt"
  for n in a_b.txt back_slash.txt newline.txt _CON.txt _nul _lpt1.log trail_ q_.txt w_.txt p_ipe lt_ gt_ \
    quo_te ctl_ CASE.txt Case~2.txt _CON/inner.txt dir_/inner.txt fine.txt; do
    [ -f "$SFX_WORK/out/$n" ] || fail "$n missing: $(cd "$SFX_WORK/out" && find .)"
    expected=$((expected + 1))
  done
  [ "$(find "$SFX_WORK/out" -type f | wc -l)" = "$expected" ] ||
    fail "other files extracted: $(cd "$SFX_WORK/out" && find .)"
  [ "$(cat "$SFX_WORK/out/Case~2.txt")" = Case.txt ] && [ "$(cat "$SFX_WORK/out/CASE.txt")" = CASE.txt ] ||
    fail "names equal but for case overwrote each other"
}

# list, test and extract on archive paths holding characters Windows refuses:
# a user's POSIX path is used as it is.
case_packer_archive_paths() {
  local c dir
  for c in ':' '?' '*' '|' '<' '>' '"' '\'; do
    dir="$SFX_WORK/d${c}x"
    mkdir -p "$dir"
    pack "$dir/a${c}b.exe"
    "$SFX_PACK" list "$dir/a${c}b.exe" | grep -q ' readme.txt$' || fail "list with '$c'"
    "$SFX_PACK" test "$dir/a${c}b.exe" >/dev/null || fail "test with '$c'"
    "$SFX_PACK" extract "$dir/a${c}b.exe" -C "$dir/out${c}put" || fail "extract with '$c'"
    [ -f "$dir/out${c}put/readme.txt" ] || fail "extract with '$c': not below $dir/out${c}put"
  done
}

# The Debian package: installed into a throw-away root with dpkg -x, its
# sfxpack packs with its built-in stub and the result extracts under Wine.
case_packer_deb() {
  local build arch=x86
  build=$(cd "$(dirname "$SFX_PACK")/.." && pwd)
  [ "$mingw" = x86_64-w64-mingw32 ] && arch=x64
  (cd "$SFX_WORK" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$SFX_WORK/pkg" >/dev/null) ||
    fail "cpack failed"
  dpkg -x "$SFX_WORK"/pkg/*.deb "$SFX_WORK/root"
  local sfxpack="$SFX_WORK/root/usr/bin/sfxpack"
  "$sfxpack" --version | grep -q "^built-in $arch stub: version" || fail "no built-in $arch stub"
  "$sfxpack" create -q -o "$SFX_WORK/d.exe" --arch "$arch" --silent \
    --unzip-dir "$(winpath "$SFX_WORK/out")" "$here/../../examples/hello"
  drive "run '$(winpath "$SFX_WORK/d.exe")'" "wait-gone Error 0" "wait-exit" "exit-code 0"
  diff -r "$here/../../examples/hello" "$SFX_WORK/out" || fail "extracted tree differs"
}

# The password schemes in the stub, beside the round trips above (the
# salted scheme at each key length): an archive of the earlier scheme
# (--legacy-encryption) still opens with -pwd; a salted one with several
# chunks per file gives the same files with 1 and with 3 decoders and
# refuses a wrong -pwd (the dialog asks again); a kdf argument no reader
# may trust fails the silent run with its reason in the run log before any
# password dialog; sfxpack info names each scheme.
case_packer_kdf() {
  local in="$SFX_WORK/in"
  mkdir -p "$in/sub"
  head -c 300000 /dev/urandom >"$in/sub/noise.bin"
  seq 1 60000 >"$in/count.txt"
  cp "$in/count.txt" "$in/sub/copy.txt"
  local n
  for n in legacy 1 3; do
    config "$SFX_WORK/c$n.xml" ShowMain=0 ShowProgress=0 ShowFin=0 Encryption=1 \
      DecoderThreads=${n/legacy/0}
  done
  "$SFX_PACK" create -q -o "$SFX_WORK/legacy.exe" --stub "$stub" --config "$SFX_WORK/clegacy.xml" \
    --password 'pw one' --key-bits 192 --legacy-encryption "$in"
  for n in 1 3; do
    "$SFX_PACK" create -q -o "$SFX_WORK/salted$n.exe" --stub "$stub" --config "$SFX_WORK/c$n.xml" \
      --password 'pw one' --key-bits 128 --kdf-iterations 1000 --chunk-size 65536 "$in"
  done
  "$SFX_PACK" info "$SFX_WORK/legacy.exe" | grep -qxF 'encryption: AES-192, key from the password by unsalted MD5 (legacy)' ||
    fail "info of the legacy archive: $("$SFX_PACK" info "$SFX_WORK/legacy.exe" | grep encryption)"
  "$SFX_PACK" info "$SFX_WORK/salted1.exe" |
    grep -qxF 'encryption: AES-128, key from the password by pbkdf2-hmac-sha256, 1000 iterations' ||
    fail "info of the salted archive: $("$SFX_PACK" info "$SFX_WORK/salted1.exe" | grep encryption)"
  for n in legacy 1 3; do
    local exe="$SFX_WORK/${n/[13]/salted$n}.exe"
    drive "run '$(winpath "$exe")' -unzipDir '$(winpath "$SFX_WORK/out-$n")' -pwd 'pw one'" \
      "wait-gone Error 0" "wait-exit" "exit-code 0"
    diff -r "$in" "$SFX_WORK/out-$n" >/dev/null || fail "$n: the extracted tree differs"
  done
  drive "run '$(winpath "$SFX_WORK/salted3.exe")' -unzipDir '$(winpath "$SFX_WORK/out-wrong")' -pwd 'pw two'" \
    "wait-window 'Enter Password'" \
    "press 'Enter Password' 2" \
    "wait-exit" \
    "exit-code 1"
  [ ! -e "$SFX_WORK/out-wrong" ] || fail "a wrong password created the directory"
  # 999 iterations: the argument's value one byte shorter (58 becomes 57).
  perl -0777 -pe 's/kdf\x3a\x001:pbkdf2-hmac-sha256:1000:/kdf\x39\x001:pbkdf2-hmac-sha256:999:/' \
    "$SFX_WORK/salted1.exe" >"$SFX_WORK/range.exe"
  "$SFX_PACK" info "$SFX_WORK/range.exe" | grep -qF 'key derivation refused: The key-derivation iteration count is out of range' ||
    fail "info of the refused archive"
  drive "run '$(winpath "$SFX_WORK/range.exe")' -unzipDir '$(winpath "$SFX_WORK/out-range")' -pwd 'pw one' -log '$(winpath "$SFX_WORK/run.log")'" \
    "wait-exit" \
    "exit-code 1"
  tr -d '\r' <"$SFX_WORK/run.log" | grep -qxF 'The key-derivation iteration count is out of range (1000 to 100000000).' ||
    fail "run log: $(tr -d '\r' <"$SFX_WORK/run.log" | tail -5)"
  [ ! -e "$SFX_WORK/out-range" ] || fail "a refused archive created the directory"
}
