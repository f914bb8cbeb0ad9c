# The integrity record under Wine: a self-extractor with one bit flipped
# inside a file's data (a stored chunk, an encrypted chunk, a deflated chunk
# that still inflates) shows the damaged-download message, ends with 2,
# starts no setup program and leaves nothing of its run behind. The same
# damage in a payload packed with --no-integrity (as an older packer wrote
# it) extracts as it always did: exit 0, the setup program runs, the file
# holds the damaged bytes.

integrity_setup="$SFX_WIN32_BIN/sfxsetup.exe"

# integrity_stage: $SFX_WORK/in holds a text file, a folder and the setup
# program; zz.txt, the last entry, is the file that gets damaged.
integrity_stage() {
  rm -rf "$SFX_WORK/in"
  mkdir -p "$SFX_WORK/in/docs"
  printf 'first file\r\n' >"$SFX_WORK/in/docs/a.txt"
  cp "$integrity_setup" "$SFX_WORK/in/sfxsetup.exe"
  seq 1 3000 | sed 's/$/ lines of a text that compresses well/' >"$SFX_WORK/in/zz.txt"
}

# integrity_flip EXE OFFSET_FROM_END BIT OUT: OUT is EXE with that bit of the
# byte OFFSET_FROM_END bytes before its end flipped.
integrity_flip() {
  local exe=$1 back=$2 bit=$3 out=$4 at byte
  cp "$exe" "$out"
  at=$(($(stat -c %s "$exe") - back))
  byte=$(od -An -tu1 -j "$at" -N1 "$exe" | tr -d ' ')
  # shellcheck disable=SC2059
  printf "$(printf '\\%03o' $((byte ^ (1 << bit))))" |
    dd of="$out" bs=1 seek="$at" conv=notrunc status=none
}

# integrity_run EXE CODE BOXFILE: a run in the progress mode with the run
# log; with CODE 2 the error box is read into BOXFILE and closed.
integrity_run() {
  local exe=$1 code=$2 box=$3
  shift 3
  rm -rf "$SFX_WORK/out" "$SFX_WORK/setup.txt" "$SFX_WORK/run.log"
  local run="run '$(winpath "$exe")' -unzipDir '$(winpath "$SFX_WORK/out")' -log '$(winpath "$SFX_WORK/run.log")'$*"
  if [ "$code" = 2 ]; then
    drive "$run" "wait-window Error" "text Error 65535" "press Error 1" \
      "wait-gone Error" "wait-exit" "exit-code 2" >"$box" ||
      fail "driver run failed: $(cat "$box")"
    tr -d '\r' <"$box" >"$box.tmp" && mv "$box.tmp" "$box"
  else
    drive "$run" "wait-exit" "exit-code $code" >/dev/null || fail "run of $exe did not end with $code"
  fi
  tr -d '\r' <"$SFX_WORK/run.log" >"$SFX_WORK/run.log.lf"
}

# integrity_case KIND PACK_OPTIONS...: packs twice (with and without the
# record), finds a flip inside zz.txt's data that sfxpack test reports as a
# difference from the record (so the chunk still decodes), and runs both.
integrity_case() {
  local kind=$1
  shift
  integrity_stage
  local cfg="$SFX_WORK/c.xml" pwd=() stub_pwd=""
  config "$cfg" ShowMain=0 ShowProgress=1 ShowFin=0 WaitForSetup=1 \
    SetupExe=sfxsetup.exe "SetupExeArgs=--out $(winpath "$SFX_WORK/setup.txt")" \
    "$([ "$kind" = encrypted ] && echo Encryption=1 || echo Verbose=1)"
  if [ "$kind" = encrypted ]; then
    pwd=(--password integrity)
    stub_pwd=" -pwd integrity"
  fi
  local low=()
  [ "$kind" = encrypted ] && low=(--kdf-iterations 1000)
  "$SFX_PACK" create -q -o "$SFX_WORK/with.exe" --stub "$stub" --config "$cfg" "$@" "${pwd[@]}" \
    "${low[@]}" "$SFX_WORK/in" >/dev/null
  "$SFX_PACK" create -q -o "$SFX_WORK/without.exe" --stub "$stub" --config "$cfg" "$@" "${pwd[@]}" \
    "${low[@]}" --no-integrity "$SFX_WORK/in" >/dev/null

  # zz.txt's chunks end 9 bytes before the end (its terminator and the end
  # of archive); try bits further back until one still decodes.
  local back bit found="" report
  for back in 40 57 75 101 150 211 300; do
    for bit in 0 3 6; do
      integrity_flip "$SFX_WORK/with.exe" "$back" "$bit" "$SFX_WORK/bad.exe"
      report=$("$SFX_PACK" test "$SFX_WORK/bad.exe" "${pwd[@]}" 2>&1) && fail "sfxpack test passed a damaged file"
      if grep -q "entry .* 'zz.txt' is damaged: its \(crc\|size\) differs" <<<"$report"; then
        found="$back $bit"
        break 2
      fi
    done
  done
  [ -n "$found" ] || fail "$kind: no flip in zz.txt that still decodes"
  read -r back bit <<<"$found"
  grep -q "1 entry differs from the integrity record: the self-extractor is damaged" <<<"$report" ||
    fail "$kind: sfxpack test: $report"

  # With the record: the message names the file, exit 2, no setup program,
  # nothing left (the unzip directory was made by the run and goes too).
  integrity_run "$SFX_WORK/bad.exe" 2 "$SFX_WORK/box.txt" "$stub_pwd"
  [ "$(cat "$SFX_WORK/box.txt")" = "Cannot extract zz.txt because this self-extractor is damaged. Please download it again." ] ||
    fail "$kind: message: $(cat "$SFX_WORK/box.txt")"
  grep -qxF "self-extractor is damaged, download it again: [zz.txt]" "$SFX_WORK/run.log.lf" ||
    fail "$kind: run log:"$'\n'"$(cat "$SFX_WORK/run.log.lf")"
  grep -q "Unzip complete" "$SFX_WORK/run.log.lf" && fail "$kind: a damaged unpack logged as complete"
  [ ! -e "$SFX_WORK/setup.txt" ] || fail "$kind: the setup program ran"
  [ ! -e "$SFX_WORK/out" ] || fail "$kind: left behind: $(find "$SFX_WORK/out")"

  # The same flip without the record: as before, the damage goes unseen.
  integrity_flip "$SFX_WORK/without.exe" "$back" "$bit" "$SFX_WORK/bad-old.exe"
  integrity_run "$SFX_WORK/bad-old.exe" 0 "" "$stub_pwd"
  [ -e "$SFX_WORK/setup.txt" ] || fail "$kind, --no-integrity: the setup program did not run"
  cmp -s "$SFX_WORK/in/zz.txt" "$SFX_WORK/out/zz.txt" &&
    fail "$kind, --no-integrity: the damage did not reach the file (the flip missed)"
  cmp -s "$SFX_WORK/in/docs/a.txt" "$SFX_WORK/out/docs/a.txt" ||
    fail "$kind, --no-integrity: the undamaged file differs"

  # Undamaged, with and without the record: the packed tree.
  local exe
  for exe in with without; do
    integrity_run "$SFX_WORK/$exe.exe" 0 "" "$stub_pwd"
    rm -f "$SFX_WORK/out/setup.txt"
    diff -r "$SFX_WORK/in" "$SFX_WORK/out" >/dev/null ||
      fail "$kind, $exe the record: extracted another tree"
  done
}

case_integrity_stored_chunk() { integrity_case stored --level 0; }
case_integrity_encrypted_chunk() { integrity_case encrypted --level 0; }
case_integrity_deflated_chunk() { integrity_case deflated --level 6; }

case_integrity_existing_files_kept() {
  # A damaged run into a folder that holds files: what was there stays,
  # what the run made (a new folder and a file extracted before the damaged
  # one) goes.
  integrity_stage
  config "$SFX_WORK/c.xml" ShowMain=0 ShowProgress=0 ShowFin=0
  "$SFX_PACK" create -q -o "$SFX_WORK/with.exe" --stub "$stub" --config "$SFX_WORK/c.xml" \
    --level 0 "$SFX_WORK/in" >/dev/null
  integrity_flip "$SFX_WORK/with.exe" 40 0 "$SFX_WORK/bad.exe"
  rm -rf "$SFX_WORK/out"
  mkdir -p "$SFX_WORK/out"
  printf 'kept\r\n' >"$SFX_WORK/out/other.txt"
  drive "run '$(winpath "$SFX_WORK/bad.exe")' -unzipDir '$(winpath "$SFX_WORK/out")'" \
    "wait-exit" "exit-code 2" >/dev/null || fail "the damaged run did not end with 2"
  [ "$(cat "$SFX_WORK/out/other.txt")" = $'kept\r' ] || fail "a file that was there changed"
  [ -e "$SFX_WORK/out/docs" ] && fail "a folder the run made stayed: $(find "$SFX_WORK/out")"
  [ -e "$SFX_WORK/out/zz.txt" ] && fail "the damaged file stayed"
  [ -d "$SFX_WORK/out" ] || fail "the unzip directory, which existed, was removed"
}
