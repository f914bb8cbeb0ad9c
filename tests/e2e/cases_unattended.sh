# Unattended runs as a deployment tool makes them: no window ever (a box
# would block the driver's bounded wait-exit), an exit code per failure, a
# run log that says why and never holds the password; the command line read
# as Unicode with the quote rule; waiting for what the setup step started;
# and no half-written file after a failed entry.

unattended_setup="$SFX_WIN32_BIN/sfxsetup.exe"
# A box would keep the stub alive: every unattended run must end within
# this (generous: emulated Wine starts each program in seconds).
unattended_wait_ms=90000

# unattended_tree DIR: readme.txt, docs/notes.txt and the setup program.
unattended_tree() {
  mkdir -p "$1/docs"
  printf 'readme of the unattended cases\r\n' >"$1/readme.txt"
  printf 'notes\r\n' >"$1/docs/notes.txt"
  cp "$unattended_setup" "$1/sfxsetup.exe"
}

# unattended_run EXE CODE ARGS...: runs EXE with the given arguments (each a
# driver word, quoted by the caller) and checks that it ends with CODE, with
# no window in the way.
unattended_run() {
  local exe=$1 code=$2
  shift 2
  drive "run '$(winpath "$exe")' $*" "wait-exit $unattended_wait_ms" "exit-code $code" \
    >"$SFX_WORK/drive.out" 2>&1 ||
    fail "run of $exe $* did not end with $code (a window?): $(cat "$SFX_WORK/drive.out")"
}

unattended_lf() { tr -d '\r' <"$1" >"$1.lf"; }

case_unattended_never_shows_a_window() {
  local src="$SFX_WORK/src" out="$SFX_WORK/out" log="$SFX_WORK/run.log"
  unattended_tree "$src"
  # A silent encrypted archive whose setup program is not in the payload.
  "$SFX_PACK" create -q -o "$SFX_WORK/u.exe" --stub "$stub" --silent \
    --run missing.exe --cleanup --password 'right one' "$src" >/dev/null

  # No password, then a wrong one: exit 3, nothing extracted, no dialog.
  unattended_run "$SFX_WORK/u.exe" 3 -unattended "-unzipDir '$(winpath "$out")'" \
    "-log '$(winpath "$log")'"
  unattended_lf "$log"
  expect_lines "$log.lf" "Unattended run..." "no password given (-pwd)" \
    "error: This archive needs a password: give it with -pwd." "Password is incorrect." \
    "exitCode = 3"
  unattended_run "$SFX_WORK/u.exe" 3 -unattended "-unzipDir '$(winpath "$out")'" \
    "-pwd wrongguess -log '$(winpath "$log")'"
  unattended_lf "$log"
  expect_lines "$log.lf" "command line: -unattended -unzipDir $(winpath "$out") -pwd ******** -log $(winpath "$log")" \
    "-pwd ********" "error: Incorrect password." "Password is incorrect." "exitCode = 3"
  grep -q wrongguess "$log" && fail "the run log holds the password"
  [ ! -e "$out/readme.txt" ] || fail "files were extracted without the password"

  # The right password, the setup program missing: exit 4, cleanup ran, and
  # the reason is in the log (the shell shows no box of its own either).
  unattended_run "$SFX_WORK/u.exe" 4 -unattended "-unzipDir '$(winpath "$out")'" \
    "-pwd 'right one' -log '$(winpath "$log")' -bogus"
  unattended_lf "$log"
  expect_lines "$log.lf" "ignored unknown switch: -bogus" "Password verified..." \
    "Unzip complete..." "failed to run: [missing.exe]" \
    "error: Failed to run missing.exe, working dir = $(winpath "$out") (check to see if this file is in the EXE)" \
    "exitCode = 4"
  grep -q "right one" "$log" && fail "the run log holds the password"
  [ ! -e "$out/readme.txt" ] || fail "cleanup did not run"

  # An unzip folder that cannot be made (below a file), without -log: exit
  # 1, and the reason in sfxErrorLog.txt beside the executable.
  "$SFX_PACK" create -q -o "$SFX_WORK/plain.exe" --stub "$stub" --unattended "$src" >/dev/null
  printf 'a file\r\n' >"$SFX_WORK/blocker"
  rm -f "$SFX_WORK/sfxErrorLog.txt"
  unattended_run "$SFX_WORK/plain.exe" 1 "-unzipDir '$(winpath "$SFX_WORK/blocker/sub")'"
  grep -qF "error: Failed to ensure dir exists: $(winpath "$SFX_WORK/blocker/sub")" \
    "$SFX_WORK/sfxErrorLog.txt" || fail "error file: $(cat "$SFX_WORK/sfxErrorLog.txt" 2>&1)"
}

case_unicode_command_line_and_quotes() {
  # A folder in Cyrillic and CJK with an apostrophe, a run log in a CJK
  # folder, a password with letters outside the ANSI page and an apostrophe
  # (packed with the same --password), setup arguments in Cyrillic.
  local src="$SFX_WORK/src" base="$SFX_WORK/Проекты" logdir="$SFX_WORK/项目"
  local out="$base/Bob's Files 项目" log="$logdir/run.log" pw="пароль Bob's"
  unattended_tree "$src"
  mkdir -p "$base" "$logdir"
  "$SFX_PACK" create -q -o "$SFX_WORK/u.exe" --stub "$stub" --silent --unattended \
    --run sfxsetup.exe --password "$pw" "$src" >/dev/null
  local outw logw setupw
  outw=$(winpath "$out")
  logw=$(winpath "$log")
  setupw=$(winpath "$logdir/setup.txt")
  # The driver quotes each argument that holds a space; the apostrophes
  # are written as "'" parts of the same word.
  unattended_run "$SFX_WORK/u.exe" 0 -unattended \
    "-unzipDir '${outw%%\'*}'\"'\"'${outw#*\'}'" \
    "-log '$logw'" \
    "-pwd \"$pw\"" \
    "-ap '--out $setupw аргумент'"
  [ -f "$out/readme.txt" ] || fail "nothing in $out: $(find "$SFX_WORK" -maxdepth 3)"
  cmp -s "$src/docs/notes.txt" "$out/docs/notes.txt" || fail "docs/notes.txt differs"
  unattended_lf "$log"
  expect_lines "$log.lf" "-pwd ********" "Password verified..." "Final unzip dir: [$outw]..." \
    "Unzip complete..." "exitCode = 0"
  grep -q "пароль" "$log" && fail "the run log holds the password"
  tr -d '\r' <"$logdir/setup.txt" | grep -qxF "arg: аргумент" ||
    fail "setup arguments: $(cat "$logdir/setup.txt")"
}

case_wait_for_all_and_cleanup_retries() {
  local src="$SFX_WORK/src" out="$SFX_WORK/out" log="$SFX_WORK/run.log"
  local probe="$SFX_WORK/probe.txt"
  unattended_tree "$src"
  printf '@echo off\r\nexit /b 0\r\n' >"$src/step.bat"
  # --wait-all: the setup program starts a child that sleeps and returns at
  # once (exit 7); cleanup waits for the child, which can still read the
  # files, and the exit code is the setup program's own.
  "$SFX_PACK" create -q -o "$SFX_WORK/all.exe" --stub "$stub" --silent --unattended \
    --run sfxsetup.exe --run-args "--exit 7 --child --sleep 3000 --probe readme.txt $(winpath "$probe")" \
    --wait --wait-all --cleanup "$src" >/dev/null
  unattended_run "$SFX_WORK/all.exe" 7 "-unzipDir '$(winpath "$out")'" "-log '$(winpath "$log")'"
  unattended_lf "$log"
  expect_lines "$log.lf" "GetExitCodeProcess: exitCode = 7" \
    "waiting for every process the setup EXE started..." \
    "all processes of the setup EXE have ended" "processing undo list..." "exitCode = 7"
  [ "$(tr -d '\r' <"$probe" 2>/dev/null)" = "probe: ok" ] ||
    fail "the child could not read its files: $(cat "$probe" 2>&1)"
  [ ! -e "$out" ] || fail "left behind: $(find "$out")"

  # Without it: the child holds readme.txt for a moment after the setup
  # program ended (the setup program gives it time to start); cleanup
  # retries until it can delete it.
  "$SFX_PACK" create -q -o "$SFX_WORK/hold.exe" --stub "$stub" --silent --unattended \
    --run sfxsetup.exe --run-args "--sleep 4000 --child --hold readme.txt --sleep 4000" \
    --cleanup "$src" >/dev/null
  unattended_run "$SFX_WORK/hold.exe" 0 "-unzipDir '$(winpath "$out")'" "-log '$(winpath "$log")'"
  unattended_lf "$log"
  # (The child's own program file is in use as long as it runs, too.)
  expect_lines "$log.lf" "processing undo list..." "exitCode = 0"
  grep -qE '^\(retryDelete\) (readme.txt|sfxsetup.exe)$' "$log.lf" ||
    fail "no cleanup retry logged: $(cat "$log.lf")"
  [ ! -e "$out" ] || fail "left behind after retries: $(find "$out")"

  # A .bat step with cleanup leaves no folder behind.
  "$SFX_PACK" create -q -o "$SFX_WORK/bat.exe" --stub "$stub" --silent --unattended \
    --run step.bat --cleanup "$src" >/dev/null
  unattended_run "$SFX_WORK/bat.exe" 0 "-unzipDir '$(winpath "$out")'" "-log '$(winpath "$log")'"
  [ ! -e "$out" ] || fail "the .bat step left: $(find "$out")"
}

case_failed_entry_leaves_no_partial_file() {
  # A download cut inside the last file, without the integrity record (as
  # an older packer wrote it): the file this run created is gone, a file
  # of that name that was there before keeps its content, exit 1.
  local src="$SFX_WORK/src" out="$SFX_WORK/out" log="$SFX_WORK/run.log"
  mkdir -p "$src"
  printf 'first\r\n' >"$src/a.txt"
  head -c 300000 /dev/urandom >"$src/zz.bin"
  "$SFX_PACK" create -q -o "$SFX_WORK/whole.exe" --stub "$stub" --silent --unattended \
    --no-integrity --chunk-size 65536 "$src" >/dev/null
  head -c $(($(stat -c %s "$SFX_WORK/whole.exe") - 100000)) "$SFX_WORK/whole.exe" >"$SFX_WORK/cut.exe"
  local existing
  for existing in no yes; do
    rm -rf "$out"
    mkdir -p "$out"
    [ "$existing" = no ] || printf 'old content\r\n' >"$out/zz.bin"
    unattended_run "$SFX_WORK/cut.exe" 1 "-unzipDir '$(winpath "$out")'" "-log '$(winpath "$log")'"
    unattended_lf "$log"
    grep -q "Failed to read compressed data." "$log.lf" || fail "run log: $(cat "$log.lf")"
    expect_lines "$log.lf" "Unattended run..." "exitCode = 1"
    if [ "$existing" = no ]; then
      [ ! -e "$out/zz.bin" ] || fail "a half-written file stayed ($(stat -c %s "$out/zz.bin") bytes)"
    else
      [ "$(cat "$out/zz.bin")" = $'old content\r' ] || fail "the existing file changed"
    fi
    cmp -s "$src/a.txt" "$out/a.txt" || fail "the whole entry before it is missing"
  done
}
