# Sizes past 4 GiB through the stub, where 32-bit arithmetic would wrap: a
# file over 4 GiB, files that together pass 4 GiB, and chunk size words near
# 2^32 in a hostile payload. The sources are sparse files; the extracted
# files are real and are deleted at the end of each case.

large_prog_title="Unzipping..."

# large_need_space GIB: fails unless the scratch folder's disk has GIB free.
large_need_space() {
  local free_kib
  free_kib=$(df -Pk "$SFX_WORK" | awk 'NR == 2 { print $4 }')
  [ "$free_kib" -ge $(($1 * 1024 * 1024)) ] ||
    fail "needs $1 GiB free in $SFX_WORK, has $((free_kib / 1024 / 1024)) GiB"
}

# large_source FILE SIZE: a sparse file of SIZE bytes with marks written at
# 2^32 - 6 (straddling the 4 GiB boundary when SIZE passes it) and at its
# end.
large_source() {
  local file=$1 size=$2
  truncate -s "$size" "$file"
  if [ "$size" -gt 4294967296 ]; then
    printf 'MID-4GiB-MARK' | dd of="$file" bs=1 seek=$((4294967296 - 6)) conv=notrunc status=none
  fi
  local mark="END-MARK-${file##*/}"
  printf '%s' "$mark" | dd of="$file" bs=1 seek=$((size - ${#mark})) conv=notrunc status=none
}

# large_same SOURCE EXTRACTED: same size, same bytes at the marks.
large_same() {
  local src=$1 out=$2 size
  [ -f "$out" ] || fail "$out was not extracted"
  size=$(stat -c %s "$src")
  [ "$(stat -c %s "$out")" = "$size" ] ||
    fail "$out holds $(stat -c %s "$out") bytes, not $size"
  [ "$(tail -c 64 "$out" | od -An -tx1)" = "$(tail -c 64 "$src" | od -An -tx1)" ] ||
    fail "$out ends differently: $(tail -c 64 "$out" | od -c | head -n 4)"
  if [ "$size" -gt 4294967296 ]; then
    [ "$(dd if="$out" bs=1 skip=$((4294967296 - 6)) count=13 status=none)" = MID-4GiB-MARK ] ||
      fail "$out lacks the mark across the 4 GiB boundary"
  fi
}

# large_extract EXE OUT: runs EXE with the progress dialog into OUT; the
# setup program named in its configuration is missing, so that boxes (the
# shell's, then the stub's) hold the progress dialog open when the
# extraction is done: its bar must be at 100 there (read where the test
# driver can read bars). Exit code 0.
large_extract() {
  local exe=$1 out=$2 script="$SFX_WORK/large.txt" progress=()
  if grep -aq expect-progress "$driver"; then
    progress=("expect-progress '$large_prog_title' 1008 100 100")
  else
    echo "note: this test driver cannot read progress bars; the bar is not checked"
  fi
  local expected="Failed to run missing.exe, working dir = $(winpath "$out") (check to see if this file is in the EXE)"
  printf '%s\n' "run '$(winpath "$exe")'" "wait-window Error" "${progress[@]}" \
    "press Error 1" "wait-text Error 65535 '$expected'" "press Error 1" \
    "wait-exit" "exit-code 4" >"$script"
  local t0=$SECONDS
  wine "$driver" -t 1200000 -f "$(winpath "$script")" >"$SFX_WORK/large.out" 2>&1 ||
    fail "the run did not end as expected: $(cat "$SFX_WORK/large.out")"$'\n'"extracted: $(ls -l "$out" 2>&1)"
  echo "extracted in $((SECONDS - t0)) s"
}

# large_pack EXE OUT SOURCE...: packs the sources with a configuration of
# the progress dialog, unzip directory OUT and a missing setup program.
large_pack() {
  local exe=$1 out=$2
  shift 2
  config "$SFX_WORK/c.xml" ShowMain=0 ShowProgress=1 ShowFin=0 WaitForSetup=1 \
    "UnzipDir=$(winpath "$out")" SetupExe=missing.exe
  "$SFX_PACK" create -q -o "$exe" --stub "$stub" --config "$SFX_WORK/c.xml" \
    --level 1 --chunk-size 2000000 "$@" >/dev/null || fail "sfxpack failed"
}

case_file_over_4gib() {
  large_need_space 5
  trap 'rm -rf "$SFX_WORK/out"' EXIT
  mkdir -p "$SFX_WORK/src"
  large_source "$SFX_WORK/src/big.bin" $((4294967296 + 1048576 + 7))
  large_pack "$SFX_WORK/big.exe" "$SFX_WORK/out" "$SFX_WORK/src"
  large_extract "$SFX_WORK/big.exe" "$SFX_WORK/out"
  large_same "$SFX_WORK/src/big.bin" "$SFX_WORK/out/big.bin"
  echo "a file of $(stat -c %s "$SFX_WORK/out/big.bin") bytes extracted whole at its marks"
}

case_total_over_4gib() {
  large_need_space 5
  trap 'rm -rf "$SFX_WORK/out"' EXIT
  mkdir -p "$SFX_WORK/src"
  large_source "$SFX_WORK/src/a.bin" $((2147483648 + 3))
  large_source "$SFX_WORK/src/b.bin" $((2147483648 + 1048576))
  large_source "$SFX_WORK/src/c.bin" 100
  large_pack "$SFX_WORK/total.exe" "$SFX_WORK/out" "$SFX_WORK/src"
  large_extract "$SFX_WORK/total.exe" "$SFX_WORK/out"
  local f
  for f in a b c; do large_same "$SFX_WORK/src/$f.bin" "$SFX_WORK/out/$f.bin"; done
  echo "three files of $(du -cb --apparent-size "$SFX_WORK/out"/*.bin | tail -n 1 | cut -f1) bytes in all extracted"
}

# large_hostile OUT.exe WORD: a payload whose file entry "big.bin" has one
# chunk with size word WORD (and only a few bytes after it), after a whole
# file "first.txt".
large_hostile() {
  local cfg="<SfxConfig><ShowMain>0</ShowMain><ShowProgress>1</ShowProgress><ShowFin>0</ShowFin></SfxConfig>"
  {
    cat "$stub"
    printf '\x07\xd2\x6c\xbf\x21\x59\xab\xaa\x01\x00\x00\x00\x00\x02'
    le 9 2
    printf 'xmlConfig'
    le ${#cfg} 2
    printf '%s' "$cfg"
    le 0 2
    names_file first.txt first
    printf '\x9b\xe5\x27\x6d\x02'
    le 7 2
    printf 'big.bin'
    printf '\x80\xc0\x48\x58\x28\x3d\xda\x01\x20\x00\x00\x00'
    le "$2" 4
    printf 'sixteen bytes...'
    le 0 4
    printf '\x9b\xe5\x27\x6d\x00'
  } >"$1"
}

case_chunk_sizes_near_2_32() {
  # A size word at or past the chunk limit (2,048,576 bytes) fails the entry
  # with "Too much data." (exit code 1, in the error box), whether bit 31 is
  # set or not and however near 2^32 the size is: no wrap to a small size,
  # no allocation of it, nothing written of the entry. One byte below the
  # limit the size is taken, and the payload is too short for it.
  local -a words=(0xFFFFFFFF='Too much data.' 0xFFFFFFF0='Too much data.'
    0xFFFFFFFC='Too much data.' 0x7FFFFFFF='Too much data.' 0x7FFFFFF0='Too much data.'
    0x801F4240='Too much data.' 0x001F4240='Too much data.'
    0x801F423F='Failed to read compressed data.')
  local pair word n=0 out size
  for pair in "${words[@]}"; do
    word=${pair%%=*}
    n=$((n + 1))
    out="$SFX_WORK/h$n/out"
    mkdir -p "$out"
    large_hostile "$SFX_WORK/h$n.exe" $((word))
    fault_expect_box "$SFX_WORK/h$n.exe" 1 "$SFX_WORK/h$n.txt" -unzipDir "$(winpath "$out")"
    grep -qF -- "${pair#*=}" "$SFX_WORK/h$n.txt" || fail "$word: the box lacks '${pair#*=}': $(cat "$SFX_WORK/h$n.txt")"
    [ "$(cat "$out/first.txt" 2>/dev/null)" = first ] || fail "$word: the entry before it is missing"
    size=$(stat -c %s "$out/big.bin" 2>/dev/null || echo 0)
    [ "$size" = 0 ] || fail "$word: big.bin was written with $size bytes"
  done
  echo "chunk size words near 2^32 and at the limit: $n refused"
}
