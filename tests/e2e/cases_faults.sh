# Faults around a run: a full disk, a target file held open by another
# program, read-only targets, an unzip directory that cannot be made and a
# setup program that cannot be started. Each case checks the message the user
# sees, the exit code, and that nothing that existed before the run is lost.
#
# The disk and the read-only folder are small tmpfs mounts (root only); a
# disk is mapped as a Wine drive letter for the run. Where mounting is not
# permitted, the cases fall back to a file-size limit and to a folder without
# write permission, and they check first that the fault is real.
# SFX_FAULTS_NO_MOUNT=1 takes the fallbacks on purpose.

fault_setup_bin="$SFX_WIN32_BIN/sfxsetup.exe"

# Non-silent run to an unzip directory: the progress dialog, so a failed
# extraction is reported in a message box.
fault_progress=(ShowMain=0 ShowProgress=1 ShowFin=0 WaitForSetup=1 Verbose=1)
# Silent run: no dialog and no extraction message.
fault_silent=(ShowMain=0 ShowProgress=0 ShowFin=0 WaitForSetup=1 Verbose=1)

# fault_pack OUT.exe CONFIG DIR [sfxpack options...]
fault_pack() {
  local out=$1 cfg=$2 dir=$3
  shift 3
  "$SFX_PACK" create -q -o "$out" --stub "$stub" --config "$cfg" "$@" "$dir" >/dev/null
}

# fault_tree DIR: a small tree, entries in this order: docs/, docs/notes.txt,
# readme.txt.
fault_tree() {
  mkdir -p "$1/docs"
  printf 'notes of the fault cases\r\n' >"$1/docs/notes.txt"
  printf 'readme of the fault cases, as packed\r\n' >"$1/readme.txt"
}

# fault_expect_box EXE CODE BOXTEXT [ARGS...]: runs EXE through the driver,
# waits for the "Error" box, stores its text in BOXTEXT, presses OK and
# checks the exit code.
fault_expect_box() {
  local exe=$1 code=$2 boxtext=$3
  shift 3
  local args="" a
  for a in "$@"; do args+=" '$a'"; done
  drive "run '$(winpath "$exe")'$args" "wait-window Error" "text Error 65535" \
    "press Error 1" "wait-gone Error" "wait-exit" "exit-code $code" >"$boxtext" ||
    fail "driver run failed; box text: $(cat "$boxtext")"
  tr -d '\r' <"$boxtext" >"$boxtext.tmp" && mv "$boxtext.tmp" "$boxtext"
}

# fault_box_has FILE TEXT...: each TEXT is a whole line of the box text,
# indentation aside.
fault_box_has() {
  local file=$1 t
  shift
  for t in "$@"; do
    sed 's/^ *//' "$file" | grep -qxF -- "$t" || fail "message lacks '$t':"$'\n'"$(cat "$file")"
  done
}

fault_log_lf() { tr -d '\r' <"$1" >"$1.lf"; }

# Unmounts and unmaps what a case set up; registered with trap.
fault_mounts=()
fault_links=()
fault_pids=()
fault_cleanup() {
  local p m l
  for p in "${fault_pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  for l in "${fault_links[@]}"; do rm -f "$l"; done
  for m in "${fault_mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" || true; done
  fault_pids=() fault_links=() fault_mounts=()
}

# fault_can_mount: true when this run may mount file systems.
fault_can_mount() {
  [ "${SFX_FAULTS_NO_MOUNT:-0}" != 1 ] || return 1
  [ "$(id -u)" = 0 ] || return 1
  local probe="$SFX_WORK/mount-probe"
  mkdir -p "$probe"
  mount -t tmpfs -o size=16k tmpfs "$probe" 2>/dev/null || return 1
  umount "$probe"
  rmdir "$probe"
}

# fault_mount_small DIR SIZE: a tmpfs of SIZE at DIR, unmounted at exit.
fault_mount_small() {
  mkdir -p "$1"
  mount -t tmpfs -o "size=$2" tmpfs "$1" || fail "cannot mount a tmpfs at $1"
  fault_mounts+=("$1")
  trap fault_cleanup EXIT
}

# fault_map_drive DIR: maps DIR as a free Wine drive letter, removed at
# exit; the letter goes into fault_drive.
fault_drive=""
fault_map_drive() {
  local devices="${WINEPREFIX:-$HOME/.wine}/dosdevices" letter
  for letter in r s t u v w x y; do
    if [ ! -e "$devices/$letter:" ] && [ ! -L "$devices/$letter:" ]; then
      ln -s "$1" "$devices/$letter:" || fail "cannot map drive $letter:"
      fault_links+=("$devices/$letter:")
      trap fault_cleanup EXIT
      fault_drive=${letter^^}
      return
    fi
  done
  fail "no free Wine drive letter among R: to Y:"
}

case_disk_full() {
  # A 1 MiB file of random bytes on a 256 KiB disk: the write fails, the
  # message names it, the run ends with 1, "Unzip complete" is not logged,
  # no half-written file stays and a file that was on the disk before stays
  # as it was. The entry after the big one is not reached.
  local src="$SFX_WORK/src" disk="$SFX_WORK/disk" log="$SFX_WORK/run.log"
  mkdir -p "$src"
  head -c 1048576 /dev/urandom >"$src/a_big.bin"
  echo "after the big file" >"$src/z_after.txt"
  config "$SFX_WORK/c.xml" "${fault_progress[@]}"
  fault_pack "$SFX_WORK/a.exe" "$SFX_WORK/c.xml" "$src" --chunk-size 65536
  local target limit=""
  if fault_can_mount; then
    fault_mount_small "$disk" 256k
    fault_map_drive "$disk"
    target="$fault_drive:\\out"
  else
    # Fallback: a file-size limit of 256 KiB on the run, with the signal it
    # raises ignored, so that the write fails with an error instead.
    mkdir -p "$disk"
    target=$(winpath "$disk/out")
    limit=256
  fi
  mkdir -p "$disk/out"
  echo "was here before" >"$disk/out/existing.txt"
  if [ -n "$limit" ]; then
    (
      trap '' XFSZ
      ulimit -f "$limit"
      head -c $((limit * 1024 + 1)) /dev/zero >"$disk/probe" 2>/dev/null &&
        fail "the file-size limit does not hold"
      rm -f "$disk/probe"
      fault_expect_box "$SFX_WORK/a.exe" 1 "$SFX_WORK/box.txt" -unzipDir "$target" \
        -log "$(winpath "$log")"
    )
  else
    fault_expect_box "$SFX_WORK/a.exe" 1 "$SFX_WORK/box.txt" -unzipDir "$target" \
      -log "$(winpath "$log")"
  fi
  fault_box_has "$SFX_WORK/box.txt" "Failed to write file data."
  # On a real disk the write that finds no room names the reason.
  [ -n "$limit" ] || fault_box_has "$SFX_WORK/box.txt" "WindowsErrorCode: 0x70"
  fault_log_lf "$log"
  expect_lines "$log.lf" "Final unzip dir: [$target]..." "(file) a_big.bin" "exitCode = 1"
  grep -q "Unzip complete" "$log.lf" && fail "a failed write logged as complete"
  [ ! -e "$disk/out/a_big.bin" ] || fail "a half-written file stayed on a full disk"
  [ ! -e "$disk/out/z_after.txt" ] || fail "extraction went on after a failed write"
  [ "$(cat "$disk/out/existing.txt")" = "was here before" ] || fail "a file that existed was changed"
  fault_cleanup
}

case_target_in_use() {
  # readme.txt exists in the target and another program holds it open
  # without sharing. With cleanup on, the run fails with the in-use message
  # and 1; the held file keeps its content, what this run extracted before
  # it is taken away again and a folder that existed stays.
  local src="$SFX_WORK/src" out="$SFX_WORK/out"
  fault_tree "$src"
  config "$SFX_WORK/c.xml" "${fault_progress[@]}" Cleanup=1
  fault_pack "$SFX_WORK/a.exe" "$SFX_WORK/c.xml" "$src"
  mkdir -p "$out"
  printf 'held content\r\n' >"$out/readme.txt"
  trap fault_cleanup EXIT
  wine "$fault_setup_bin" --hold "$(winpath "$out/readme.txt")" \
    --out "$(winpath "$SFX_WORK/holding.txt")" --sleep 60000 &
  fault_pids+=($!)
  local i
  for ((i = 0; i < 200; i++)); do
    [ -e "$SFX_WORK/holding.txt" ] && break
    sleep 0.1
  done
  [ -e "$SFX_WORK/holding.txt" ] || fail "the holding program did not start"
  fault_expect_box "$SFX_WORK/a.exe" 1 "$SFX_WORK/box.txt" -unzipDir "$(winpath "$out")" \
    -log "$(winpath "$SFX_WORK/run.log")"
  [ "$(cat "$SFX_WORK/box.txt")" = "Cannot overwrite readme.txt because it is currently in use" ] ||
    fail "message: $(cat "$SFX_WORK/box.txt")"
  fault_log_lf "$SFX_WORK/run.log"
  expect_lines "$SFX_WORK/run.log.lf" "(file) docs/notes.txt" "(file) readme.txt" \
    "processing undo list..." "(deleteFile) docs/notes.txt" "(deleteDir) docs" "exitCode = 1"
  fault_cleanup
  [ "$(cd "$out" && find . | sort | tr '\n' ' ')" = ". ./readme.txt " ] ||
    fail "after the run: $(cd "$out" && find . | sort | tr '\n' ' ')"
  [ "$(cat "$out/readme.txt")" = $'held content\r' ] || fail "the held file was changed"
}

case_read_only_target_file() {
  # An existing read-only readme.txt is made writable and replaced: the run
  # succeeds and the file has the packed content and is writable again.
  local src="$SFX_WORK/src" out="$SFX_WORK/out"
  fault_tree "$src"
  config "$SFX_WORK/c.xml" "${fault_silent[@]}"
  fault_pack "$SFX_WORK/a.exe" "$SFX_WORK/c.xml" "$src"
  mkdir -p "$out"
  echo "old read-only content" >"$out/readme.txt"
  chmod a-w "$out/readme.txt"  # how Wine shows the read-only attribute
  drive "run '$(winpath "$SFX_WORK/a.exe")' -unzipDir '$(winpath "$out")'" \
    "wait-gone Error 0" "wait-exit" "exit-code 0"
  cmp -s "$src/readme.txt" "$out/readme.txt" || fail "the read-only file was not replaced"
  [ "$(stat -c %A "$out/readme.txt" | cut -c3)" = w ] || fail "the replaced file is still read-only"
  diff -r "$src" "$out" >/dev/null || fail "extracted tree differs"
}

case_read_only_target_dir() {
  # A target folder that refuses new files (a read-only mount; without
  # mounting, a folder without write permission for a user other than
  # root): the first entry that needs a new file or folder fails with its
  # message and 1, and the file that was there stays as it was.
  local -a rows=(
    "dir|Failed to ensure directory exists."  # the tree starts with docs/
    "file|Failed to open file."               # one file only
  )
  local row kind message ro="$SFX_WORK/ro" mounted=0
  if fault_can_mount; then
    fault_mount_small "$ro" 64k
    mounted=1
  elif [ "$(id -u)" != 0 ]; then
    mkdir -p "$ro"
  else
    fail "cannot make a folder that refuses new files: no mount and running as root"
  fi
  echo "was here before" >"$ro/existing.txt"
  if [ $mounted = 1 ]; then
    mount -o remount,ro "$ro" || fail "cannot remount $ro read-only"
  else
    chmod a-w "$ro"
  fi
  (: >"$ro/probe") 2>/dev/null && fail "the folder still takes new files"
  for row in "${rows[@]}"; do
    IFS='|' read -r kind message <<<"$row"
    local src="$SFX_WORK/src-$kind"
    if [ "$kind" = dir ]; then
      fault_tree "$src"
    else
      mkdir -p "$src"
      echo "one file" >"$src/new.txt"
    fi
    config "$SFX_WORK/c.xml" "${fault_progress[@]}"
    fault_pack "$SFX_WORK/$kind.exe" "$SFX_WORK/c.xml" "$src"
    fault_expect_box "$SFX_WORK/$kind.exe" 1 "$SFX_WORK/box-$kind.txt" -unzipDir "$(winpath "$ro")"
    fault_box_has "$SFX_WORK/box-$kind.txt" "$message"
    [ "$(ls -A "$ro")" = existing.txt ] || fail "$kind: the folder now holds $(ls -A "$ro")"
    [ "$(cat "$ro/existing.txt")" = "was here before" ] || fail "$kind: a file that existed was changed"
  done
  [ $mounted = 1 ] || chmod u+w "$ro"
  fault_cleanup
}

case_unzip_dir_not_created() {
  # An unzip directory that cannot be made: below an existing file, or with
  # a character Windows refuses in names. The existence check takes an
  # invalid name for an existing directory (only "not found" errors mean
  # missing), so that run fails one step later, when it enters the
  # directory. Either way a silent run shows the message with the path and
  # ends with 1; nothing is created and the file stays.
  local src="$SFX_WORK/src" base
  fault_tree "$src"
  config "$SFX_WORK/c.xml" "${fault_silent[@]}"
  fault_pack "$SFX_WORK/a.exe" "$SFX_WORK/c.xml" "$src"
  mkdir -p "$SFX_WORK/t"
  echo "a file, not a folder" >"$SFX_WORK/t/file.txt"
  base=$(winpath "$SFX_WORK/t")
  local -a rows=(
    "$base\\file.txt\\sub|Failed to ensure dir exists: |failed to ensure dir exists: "
    "$base\\bad<name>\\sub|Failed to set current dir: |failed to set current dir: "
  )
  local row dir message line
  for row in "${rows[@]}"; do
    IFS='|' read -r dir message line <<<"$row"
    rm -f "$SFX_WORK/run.log"
    fault_expect_box "$SFX_WORK/a.exe" 1 "$SFX_WORK/box.txt" -unzipDir "$dir" \
      -log "$(winpath "$SFX_WORK/run.log")"
    [ "$(cat "$SFX_WORK/box.txt")" = "$message$dir" ] || fail "message: $(cat "$SFX_WORK/box.txt")"
    fault_log_lf "$SFX_WORK/run.log"
    expect_lines "$SFX_WORK/run.log.lf" "Check/create extract dir: [$dir]" "${line}[$dir]" \
      "InitInstance failed."
    grep -q "(file)" "$SFX_WORK/run.log.lf" && fail "extracted after a failed directory step"
    [ "$(cd "$SFX_WORK/t" && find . | sort | tr '\n' ' ')" = ". ./file.txt " ] ||
      fail "created: $(cd "$SFX_WORK/t" && find . | sort | tr '\n' ' ')"
    [ "$(cat "$SFX_WORK/t/file.txt")" = "a file, not a folder" ] || fail "the file was changed"
  done
}

case_setup_not_started() {
  # A setup program that is not in the payload, and one that is not a
  # program. The shell reports its own failure first (one box, pressed
  # away), then the stub's message names the program and the unzip
  # directory. The run ends with 4 (setup program not started), cleanup
  # removes what was extracted, and a file that was in the unzip directory
  # before stays.
  local src="$SFX_WORK/src" out="$SFX_WORK/out"
  fault_tree "$src"
  printf 'plain text, not a program\r\n' >"$src/notes.exe"
  local exe expected
  for exe in missing.exe notes.exe; do
    config "$SFX_WORK/c.xml" "${fault_silent[@]}" Cleanup=1 "SetupExe=$exe" "SetupExeArgs=--x"
    fault_pack "$SFX_WORK/a.exe" "$SFX_WORK/c.xml" "$src"
    rm -rf "$out" "$SFX_WORK/run.log"
    mkdir -p "$out"
    echo "was here before" >"$out/keep.txt"
    expected="Failed to run $exe, working dir = $(winpath "$out") (check to see if this file is in the EXE)"
    drive "run '$(winpath "$SFX_WORK/a.exe")' -unzipDir '$(winpath "$out")' -log '$(winpath "$SFX_WORK/run.log")'" \
      "wait-window Error" "text Error 65535" "press Error 1" "sleep 1500" \
      "wait-window Error" "expect-text Error 65535 '$expected'" "press Error 1" \
      "wait-exit" "exit-code 4" >"$SFX_WORK/shell-box.txt" ||
      fail "$exe: the shell's box and then the stub's were expected; first box: $(cat "$SFX_WORK/shell-box.txt")"
    fault_log_lf "$SFX_WORK/run.log"
    expect_lines "$SFX_WORK/run.log.lf" "Unzip complete..." "running exe: [$exe]" \
      "processing undo list..." "(deleteFile) readme.txt" "(deleteDir) docs" \
      "failed to run: [$exe]" "exitCode = 4"
    [ "$(cd "$out" && find . | sort | tr '\n' ' ')" = ". ./keep.txt " ] ||
      fail "$exe: after the run: $(cd "$out" && find . | sort | tr '\n' ' ')"
    [ "$(cat "$out/keep.txt")" = "was here before" ] || fail "$exe: a file that existed was changed"
  done
}

case_error_box_non_ascii_name() {
  # The extraction-failure box shows the log, which names the entry that
  # could not be written; a name outside ASCII (and outside the ANSI code
  # page) must read back exactly as packed.
  local src="$SFX_WORK/src" out="$SFX_WORK/out" name="Jösé Ωμέγα 中文.txt"
  mkdir -p "$src" "$out/$name"  # a directory where the file should go
  echo "cannot be written" >"$src/$name"
  config "$SFX_WORK/c.xml" "${fault_progress[@]}"
  fault_pack "$SFX_WORK/a.exe" "$SFX_WORK/c.xml" "$src"
  fault_expect_box "$SFX_WORK/a.exe" 1 "$SFX_WORK/box.txt" -unzipDir "$(winpath "$out")"
  grep -qF "$name" "$SFX_WORK/box.txt" || fail "the box lacks '$name':"$'\n'"$(cat "$SFX_WORK/box.txt")"
  fault_box_has "$SFX_WORK/box.txt" "Failed to open file."
}

case_packer_reads_paths_as_given() {
  # sfxpack's reader opens the path the user gave as it is: list, test and
  # extract work on a self-extractor whose path holds ': ? * | < > "' and a
  # backslash, and extract writes below a directory with such a name; only
  # the names taken from the payload would be repaired.
  local src="$SFX_WORK/src" odd="$SFX_WORK/a:b?c*d|e<f>g\"h"
  fault_tree "$src"
  mkdir -p "$odd"
  local exe="$odd/self\\extractor?.exe"
  config "$SFX_WORK/c.xml" "${fault_silent[@]}"
  fault_pack "$exe" "$SFX_WORK/c.xml" "$src"
  [ -f "$exe" ] || fail "the packer did not write $exe"
  local listing
  listing=$("$SFX_PACK" list "$exe") || fail "list failed: $listing"
  grep -q 'readme.txt' <<<"$listing" || fail "listing lacks readme.txt: $listing"
  "$SFX_PACK" test "$exe" >/dev/null || fail "test failed"
  "$SFX_PACK" extract "$exe" -C "$odd/out|put" >/dev/null || fail "extract failed"
  diff -r "$src" "$odd/out|put" >/dev/null || fail "extracted tree differs"
}
