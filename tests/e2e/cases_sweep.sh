# Damaged payloads through sfxstub.exe: a small payload, plain and encrypted
# (the password given with -pwd), packed in small chunks, cut at byte offsets
# of its payload part and with single bits flipped. Every run is silent and
# automatic, with an unzip directory of its own. No run may crash, hang, or
# write outside its unzip directory. A run that ends with 0 must have
# extracted the packed tree; for a payload packed with --no-integrity, as
# older packers wrote them, unless the damage lies in a field that only the
# integrity record checks (arguments, entry type, name length, name, time,
# attributes, chunk length, chunk data). A cut run must fail, and what it extracted must
# be prefixes of packed files. A run may wait at a window (a start-up error
# box, the main or the password dialog) only when the damage lies before the
# entries (marker, header, arguments, verifier); it is then ended after a
# time-out and the window is recorded.
#
# By default a sample runs: every 17th cut and every 43rd bit. With
# SFX_SWEEP_FULL=1 every offset and every bit runs (this takes much longer
# than the time-out of the test; run e2e.sh directly, in shards with
# SFX_SWEEP_SHARD). SFX_SWEEP_STRIDE and SFX_SWEEP_BIT_STRIDE set other
# strides. The figures are printed at the end.

sweep_password=sweep
sweep_wait_ms=2000

# sweep_tree DIR: a folder, a file of three chunks and a small file.
sweep_tree() {
  mkdir -p "$1/d"
  printf 'The first line of the swept file.\r\nAnd the second one.\r\n' >"$1/d/f.txt"
  printf 'small\r\n' >"$1/e.txt"
}

# sweep_fields PAYLOAD ENCRYPTED: one letter per payload byte on stdout:
# F framed (marker, header, verifier, entry markers, terminators), A
# arguments, T type, L name length, N name, M time, B attributes, C chunk
# length, D chunk data. Sets sweep_entries_at to the offset of the first
# entry.
sweep_fields() {
  local -a b
  mapfile -t b < <(od -An -v -tu1 "$1" | tr -s ' ' '\n' | sed '/^$/d')
  local n=${#b[@]} at=0 out="" len type size
  sweep_put() { # sweep_put LETTER COUNT
    local i
    for ((i = 0; i < $2; i++)); do out+=$1; done
    at=$((at + $2))
  }
  sweep_u16() { echo $((b[$1] | b[$1 + 1] << 8)); }
  sweep_u32() { echo $((b[$1] | b[$1 + 1] << 8 | b[$1 + 2] << 16 | b[$1 + 3] << 24)); }
  sweep_put F 14
  while :; do
    len=$(sweep_u16 $at)
    if [ "$len" = 0 ]; then
      sweep_put F 2
      break
    fi
    sweep_put A $((2 + len))
    len=$(sweep_u16 $at)
    sweep_put A $((2 + len))
  done
  if [ "$2" = 1 ]; then sweep_put F $((1 + b[at])); fi
  sweep_entries_at=$at
  while [ $at -lt "$n" ]; do
    type=${b[at + 4]}
    if [ "$type" = 0 ]; then
      sweep_put F 5
      break
    fi
    sweep_put F 4
    sweep_put T 1
    len=$(sweep_u16 $at)
    sweep_put L 2
    sweep_put N "$len"
    sweep_put M 8
    sweep_put B 4
    if [ "$type" = 2 ]; then
      while :; do
        size=$(sweep_u32 $at)
        if [ "$size" = 0 ]; then
          sweep_put F 4
          break
        fi
        sweep_put C 4
        sweep_put D $((size & 0x7FFFFFFF))
      done
    fi
  done
  [ ${#out} = "$n" ] || fail "field map covers ${#out} of $n payload bytes"
  sweep_map=$out
}

# sweep_prefixes OUT TREE: every file under OUT is a prefix of the file of
# the same name under TREE.
sweep_prefixes() {
  local f rel size
  while IFS= read -r -d '' f; do
    rel=${f#"$1"/}
    [ -f "$2/$rel" ] || return 1
    size=$(stat -c %s "$f")
    cmp -s -n "$size" "$f" "$2/$rel" || return 1
    [ "$size" -le "$(stat -c %s "$2/$rel")" ] || return 1
  done < <(find "$1" -type f -print0)
}

# sweep_offset INDEX: the payload offset item INDEX damages.
sweep_offset() {
  local kind k
  read -r kind k <<<"${sweep_items[$1]}"
  if [ "$kind" = flip ]; then echo $((k / 8)); else echo "$k"; fi
}

# sweep_batch FIRST END: runs items FIRST..END-1 in one driver invocation
# until the end or the first failure. An item damaged before the entries,
# where a window may come, is looked at after a moment (the driver lists the
# windows) before it is waited for. Appends "INDEX CODE" lines to
# $SFX_WORK/codes and sets sweep_next to the index to go on with. CODE is the
# exit code; for a run that did not end in time "window:TITLES" with the
# titles of its windows, or what sweep_recheck finds.
sweep_batch() {
  local first=$1 end=$2 i script="$SFX_WORK/batch.txt" pwd=""
  [ "$sweep_mode" = encrypted ] && pwd=" -pwd $sweep_password"
  : >"$script"
  for ((i = first; i < end; i++)); do
    printf "run '%s' -unzipDir '%s'%s\n" \
      "$(winpath "$SFX_WORK/m/$i.exe")" "$(winpath "$SFX_WORK/r/$i/out")" "$pwd" >>"$script"
    if [ "$(sweep_offset "$i")" -lt "$sweep_entries_at" ]; then
      printf 'sleep 600\nlist\n' >>"$script"
    fi
    printf 'wait-exit %d\nexit-code\n' "$sweep_wait_ms" >>"$script"
  done
  local rc=0
  wine "$driver" -v -f "$(winpath "$script")" >"$SFX_WORK/batch.out" 2>"$SFX_WORK/batch.err" || rc=$?
  cat "$SFX_WORK/batch.err" >>"$SFX_WORK/stderr.log"
  local -a pids
  mapfile -t pids < <(tr -d '\r' <"$SFX_WORK/batch.err" |
    sed -n 's/^sfxdriver: started pid \([0-9]*\).*/\1/p')
  local done_count=0 line listed=""
  while IFS= read -r line; do
    if [[ $line =~ ^[0-9]+$ ]]; then
      echo "$((first + done_count)) $line" >>"$SFX_WORK/codes"
      done_count=$((done_count + 1))
      listed=""
    else
      listed+="$line"$'\n'
    fi
  done < <(tr -d '\r' <"$SFX_WORK/batch.out")
  sweep_next=$((first + done_count))
  [ "$rc" = 0 ] && return
  grep -q 'wait-exit: the program is still running' "$SFX_WORK/batch.err" ||
    fail "driver: $(cat "$SFX_WORK/batch.err")"
  local windows
  windows=$(printf '%s' "$listed" |
    awk -v p="${pids[done_count]:-none}" 'NF > 3 && $2 == p { $1 = $2 = $3 = ""; sub(/^ +/, ""); print }' |
    sort -u | paste -sd ';')
  if [ -n "$windows" ]; then
    echo "$sweep_next window:$windows" >>"$SFX_WORK/codes"
  else
    echo "$sweep_next $(sweep_recheck "$sweep_next")" >>"$SFX_WORK/codes"
  fi
  sweep_next=$((sweep_next + 1))
}

# sweep_recheck INDEX: runs the item again and looks after a moment: prints
# "window:TITLES" with the titles of the windows its process shows (the
# driver then ends it), its exit code when it has ended by then or within
# 24 s more (a slow run), or "hang".
sweep_recheck() {
  local i=$1
  sweep_look "$i" 1000 1
  if [ -z "$sweep_windows" ] && [ -z "$sweep_code" ]; then
    # Neither: a slow run (on a busy machine) is given a long while, and
    # looked at once more on the way.
    sweep_look "$i" 4000 20000
    [ -n "$sweep_windows" ] || sweep_code=${sweep_code:-hang}
  fi
  if [ -n "$sweep_windows" ]; then
    echo "window:$sweep_windows"
  else
    echo "$sweep_code"
  fi
}

# sweep_look ITEM LOOK_MS WAIT_MS: runs damaged copy ITEM afresh, lists its
# windows after LOOK_MS and waits WAIT_MS more for its end. Sets
# sweep_windows (the titles, ";"-joined) and sweep_code (its exit code, or
# empty).
sweep_look() {
  local i=$1 look=$2 wait=$3 pwd="" pid
  [ "$sweep_mode" = encrypted ] && pwd=" -pwd $sweep_password"
  rm -rf "$SFX_WORK/r/$i"
  mkdir -p "$SFX_WORK/r/$i"
  wine "$driver" -v "run '$(winpath "$SFX_WORK/m/$i.exe")' -unzipDir '$(winpath "$SFX_WORK/r/$i/out")'$pwd" \
    "sleep $look" "list" "wait-exit $wait" "exit-code" >"$SFX_WORK/list.out" 2>"$SFX_WORK/list.err" || true
  cat "$SFX_WORK/list.err" >>"$SFX_WORK/stderr.log"
  pid=$(tr -d '\r' <"$SFX_WORK/list.err" | sed -n 's/^sfxdriver: started pid \([0-9]*\).*/\1/p')
  [ -n "$pid" ] || fail "recheck of item $i: $(cat "$SFX_WORK/list.err")"
  sweep_code=$(tr -d '\r' <"$SFX_WORK/list.out" | grep -xE '[0-9]+' || true)
  sweep_windows=$(tr -d '\r' <"$SFX_WORK/list.out" |
    awk -v p="$pid" 'NF > 3 && $2 == p { $1 = $2 = $3 = ""; sub(/^ +/, ""); print }' |
    sort -u | paste -sd ';')
}

# sweep_mutant INDEX STUB_SIZE: writes $SFX_WORK/m/INDEX.exe, the packed
# self-extractor with item INDEX's damage.
sweep_mutant() {
  local i=$1 stub_size=$2 kind k at byte
  read -r kind k <<<"${sweep_items[i]}"
  if [ "$kind" = cut ]; then
    head -c $((stub_size + k)) "$SFX_WORK/full.exe" >"$SFX_WORK/m/$i.exe"
  else
    cp "$SFX_WORK/full.exe" "$SFX_WORK/m/$i.exe"
    at=$((stub_size + k / 8))
    byte=$(od -An -tu1 -j "$at" -N1 "$SFX_WORK/full.exe" | tr -d ' ')
    # shellcheck disable=SC2059
    printf "$(printf '\\%03o' $((byte ^ (1 << (k % 8)))))" |
      dd of="$SFX_WORK/m/$i.exe" bs=1 seek="$at" conv=notrunc status=none
  fi
  mkdir -p "$SFX_WORK/r/$i"
}

# sweep_run MODE [RECORD]: MODE plain or encrypted; RECORD "without" packs
# with --no-integrity.
sweep_run() {
  sweep_mode=$1
  local record=${2:-with}
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
  local tree="$SFX_WORK/tree" pack_opts=(--chunk-size 24 --threads 1)
  [ "$record" = without ] && pack_opts+=(--no-integrity)
  sweep_tree "$tree"
  # A short configuration keeps the part before the entries small.
  local keys="<ShowMain>0</ShowMain><ShowProgress>0</ShowProgress><ShowFin>0</ShowFin>"
  if [ "$sweep_mode" = encrypted ]; then
    keys+="<Encryption>1</Encryption>"
    pack_opts+=(--password "$sweep_password" --key-bits 128 --kdf-iterations 1000)
  fi
  echo "<SfxConfig>$keys</SfxConfig>" >"$SFX_WORK/c.xml"
  "$SFX_PACK" create -q -o "$SFX_WORK/full.exe" --stub "$stub" --config "$SFX_WORK/c.xml" \
    "${pack_opts[@]}" "$tree" >/dev/null
  local stub_size total
  stub_size=$(stat -c %s "$stub")
  total=$(($(stat -c %s "$SFX_WORK/full.exe") - stub_size))
  tail -c "$total" "$SFX_WORK/full.exe" >"$SFX_WORK/payload.bin"
  sweep_fields "$SFX_WORK/payload.bin" "$([ "$sweep_mode" = encrypted ] && echo 1 || echo 0)"
  local chunks
  chunks=$(grep -o 'CCCC' <<<"$sweep_map" | wc -l)
  [ "$chunks" -ge 3 ] || fail "the sample holds $chunks chunks"
  # The undamaged payload, run the way every damaged one is, extracts the
  # packed tree: the outcomes below mean what they say.
  local pwd_args=()
  [ "$sweep_mode" = encrypted ] && pwd_args=(-pwd "$sweep_password")
  wine "$driver" -t 20000 "run '$(winpath "$SFX_WORK/full.exe")' -unzipDir '$(winpath "$SFX_WORK/whole")' ${pwd_args[*]}" \
    "wait-exit" "exit-code 0" || fail "the undamaged payload did not extract"
  diff -r "$tree" "$SFX_WORK/whole" >/dev/null || fail "the undamaged payload extracted another tree"

  local stride=${SFX_SWEEP_STRIDE:-17} bit_stride=${SFX_SWEEP_BIT_STRIDE:-43}
  if [ "${SFX_SWEEP_FULL:-0}" = 1 ]; then
    stride=1
    bit_stride=1
  fi
  # Items: "cut OFFSET" keeps OFFSET payload bytes; "flip BIT" flips bit
  # BIT % 8 of payload byte BIT / 8.
  sweep_items=()
  local k
  for ((k = 0; k < total; k += stride)); do sweep_items+=("cut $k"); done
  for ((k = 0; k < total * 8; k += bit_stride)); do sweep_items+=("flip $k"); done
  # SFX_SWEEP_SHARD=K/N keeps every Nth item from the Kth on, so that a full
  # sweep can run as N processes side by side (each with its own SFX_WORK).
  if [ -n "${SFX_SWEEP_SHARD:-}" ]; then
    local shard=${SFX_SWEEP_SHARD%/*} shards=${SFX_SWEEP_SHARD#*/} all=("${sweep_items[@]}")
    sweep_items=()
    for ((k = shard; k < ${#all[@]}; k += shards)); do sweep_items+=("${all[k]}"); done
  fi
  mkdir -p "$SFX_WORK/m" "$SFX_WORK/r"
  touch "$SFX_WORK/stamp"
  sleep 1
  # Mutants are made and run 100 at a time (each is a whole copy of the
  # stub).
  : >"$SFX_WORK/codes"
  local first end i
  for ((first = 0; first < ${#sweep_items[@]}; first += 100)); do
    end=$((first + 100 < ${#sweep_items[@]} ? first + 100 : ${#sweep_items[@]}))
    for ((i = first; i < end; i++)); do sweep_mutant "$i" "$stub_size"; done
    sweep_next=$first
    while [ "$sweep_next" -lt "$end" ]; do sweep_batch "$sweep_next" "$end"; done
    for ((i = first; i < end; i++)); do rm -f "$SFX_WORK/m/$i.exe"; done
  done

  # Outcomes, counted per kind: failed (1, or 2 for damage the integrity
  # record found), same tree (0), other tree (0,
  # unchecked field), window (waited, damage before the entries).
  declare -A count=()
  local code field off out findings="" windows kind k
  while read -r i code; do
    read -r kind k <<<"${sweep_items[i]}"
    off=$k
    [ "$kind" = flip ] && off=$((k / 8))
    field=${sweep_map:off:1}
    out="$SFX_WORK/r/$i/out"
    local what="$kind $k (payload byte $off, field $field)"
    [ "$(ls -A "$SFX_WORK/r/$i")" = "" ] || [ "$(ls -A "$SFX_WORK/r/$i")" = out ] ||
      findings+="$what: wrote beside its unzip directory: $(ls -A "$SFX_WORK/r/$i")"$'\n'
    case "$code" in
      hang)
        findings+="$what: still running after ${sweep_wait_ms} ms without a window"$'\n'
        ;;
      window:*)
        windows=${code#window:}
        if [ "$off" -ge "$sweep_entries_at" ]; then
          findings+="$what: waits at a window: $windows"$'\n'
        else
          count[$kind window]=$((${count[$kind window]:-0} + 1))
          echo "$what: window $windows" >>"$SFX_WORK/windows.txt"
        fi
        ;;
      1 | 2)
        if [ "$kind" = cut ] && [ -d "$out" ] && ! sweep_prefixes "$out" "$tree"; then
          findings+="$what: failed, but left files that are not prefixes of packed ones"$'\n'
        fi
        count[$kind failed]=$((${count[$kind failed]:-0} + 1))
        ;;
      0)
        if [ -d "$out" ] && diff -r "$tree" "$out" >/dev/null; then
          [ "$kind" = cut ] && findings+="$what: a cut payload extracted the whole tree"$'\n'
          count[$kind same]=$((${count[$kind same]:-0} + 1))
        elif [ "$kind" = flip ] && [ "$record" = without ] && [[ "$field" != F ]]; then
          count[$kind other]=$((${count[$kind other]:-0} + 1))
        else
          findings+="$what: exit 0 with a different tree"$'\n'
        fi
        ;;
      *)
        if [ "$code" -ge $((0xC0000000)) ] 2>/dev/null; then
          findings+="$what: crashed with $(printf '0x%X' "$code")"$'\n'
        else
          findings+="$what: exit code $code"$'\n'
        fi
        ;;
    esac
  done <"$SFX_WORK/codes"

  # Nothing but the runs' own folders changed since the mutants were made.
  local stray
  stray=$(cd "$SFX_WORK" && find . -newer stamp ! -path . ! -path './r/*' ! -path './r' \
    ! -path ./m ! -path './m/*.exe' ! -name 'batch.*' ! -name 'list.*' ! -name codes \
    ! -name windows.txt ! -name stderr.log | sort | tr '\n' ' ')
  [ -z "$stray" ] || findings+="written outside the unzip directories: $stray"$'\n'
  grep -qs -e 'page fault' -e winedbg -e 'Unhandled exception' "$SFX_WORK/stderr.log" &&
    findings+="Wine reported a crash"$'\n'

  local cuts=0 flips=0
  for i in "${sweep_items[@]}"; do
    case $i in cut*) cuts=$((cuts + 1)) ;; *) flips=$((flips + 1)) ;; esac
  done
  echo "stub sweep $sweep_mode, $record the integrity record: payload $total bytes," \
    "entries at $sweep_entries_at, $chunks chunks"
  echo "  cuts: $cuts runs (stride $stride): ${count[cut failed]:-0} failed," \
    "${count[cut window]:-0} waited at a window, ${count[cut same]:-0} whole tree"
  echo "  flips: $flips runs (bit stride $bit_stride): ${count[flip failed]:-0} failed," \
    "${count[flip window]:-0} waited at a window, ${count[flip same]:-0} packed tree," \
    "${count[flip other]:-0} other tree (unchecked field)"
  [ -f "$SFX_WORK/windows.txt" ] && sed 's/^.*: window /  window: /' "$SFX_WORK/windows.txt" | sort | uniq -c
  [ -z "$findings" ] || fail "stub sweep $sweep_mode ($record the record):"$'\n'"$findings"
}

case_stub_sweep_plain() { sweep_run plain; }
case_stub_sweep_encrypted() { sweep_run encrypted; }
case_stub_sweep_plain_no_integrity() { sweep_run plain without; }
case_stub_sweep_encrypted_no_integrity() { sweep_run encrypted without; }
