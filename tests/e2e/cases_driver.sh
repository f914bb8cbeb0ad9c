# The unzip-and-run driver: unzip directory rules, extraction, the setup
# program and its exit code, cleanup through the undo lists, passwords and a
# signed self-extractor. The setup program is tests/setup_program
# (sfxsetup.exe), packed into the payload.

setup_bin="$SFX_WIN32_BIN/sfxsetup.exe"
hello_dir="$here/../../examples/hello"

# stage: $SFX_WORK/payload holds the example folder and sfxsetup.exe.
stage() {
  rm -rf "$SFX_WORK/payload"
  cp -r "$hello_dir" "$SFX_WORK/payload"
  cp "$setup_bin" "$SFX_WORK/payload/sfxsetup.exe"
}

# pack_payload OUT.exe CONFIG [sfxpack options...]: packs the staged folder.
pack_payload() {
  local out=$1 cfg=$2
  shift 2
  "$SFX_PACK" create -q -o "$out" --stub "$stub" --config "$cfg" "$@" "$SFX_WORK/payload" >/dev/null
}

# run_stub EXE CODE [ARGS...]: runs a silent stub to its end and checks the
# exit code.
run_stub() {
  local exe=$1 code=$2
  shift 2
  local args="" a
  for a in "$@"; do args+=" '$a'"; done
  drive "run '$(winpath "$exe")'$args" "wait-gone Error 0" "wait-exit" "exit-code $code"
}

# lf FILE: the run log with LF line ends, in FILE.lf.
lf() { tr -d '\r' <"$1" >"$1.lf"; }

same_tree() {  # same_tree EXPECTED ACTUAL
  diff -r "$1" "$2" >/dev/null || fail "extracted tree differs:"$'\n'"$(diff -r "$1" "$2")"
}

# Silent and automatic once an unzip directory is known; the setup program is
# waited for. (A loaded configuration replaces the defaults: a key it lacks
# reads as 0.)
silent=(ShowMain=0 ShowProgress=0 ShowFin=0 WaitForSetup=1)

case_complete_run_log() {
  # A whole run: the setup program is started in the unzip directory with
  # its arguments, waited for, and its exit code is the stub's. The run log
  # holds the driver's lines in their order (variable parts masked).
  stage
  config "$SFX_WORK/c.xml" "${silent[@]}" Verbose=1 SetupExe=sfxsetup.exe \
    "SetupExeArgs=--out rec.txt --exit 3"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  local out="$SFX_WORK/out" log="$SFX_WORK/run.log"
  run_stub "$SFX_WORK/a.exe" 3 -unzipDir "$(winpath "$out")" -log "$(winpath "$log")"
  grep -qxF "cwd: $(winpath "$out")"$'\r' "$out/rec.txt" || fail "setup cwd: $(cat "$out/rec.txt")"
  grep -qxF $'arg: --exit\r' "$out/rec.txt" || fail "setup args: $(cat "$out/rec.txt")"
  rm "$out/rec.txt"
  same_tree "$SFX_WORK/payload" "$out"
  lf "$log"
  local work
  work=$(winpath "$SFX_WORK")
  sed -n '/^Automatically unzipping/,$p' "$log.lf" |
    sed -e "s|^Current working directory: .*|Current working directory: <CWD>|" \
      -e "s|$(sed 's/[\\.]/\\&/g' <<<"$work")|<WORK>|g" \
      -e "s|${work//\\//}|<WORK>|g" >"$SFX_WORK/actual.txt"
  cat >"$SFX_WORK/expected.txt" <<'LOG'
Automatically unzipping...
Not encrypted.
Current working directory: <CWD>
unzipDir = [<WORK>\out]
Check/create extract dir: [<WORK>\out]
created unzip dir: [<WORK>\out]
Final unzip dir: [<WORK>\out]...
Setting CWD [<WORK>\out]
(dir) docs
(file) docs/notes.txt
(file) readme.txt
(file) sfxsetup.exe
Unzip complete...
setup filename: [sfxsetup.exe]
setup args: [--out rec.txt --exit 3]
working dir: [<WORK>\out]
running exe: [sfxsetup.exe]
Current working directory: <CWD>
full path to auto-run EXE: [<WORK>\out\sfxsetup.exe]
unzipDir: [<WORK>\out]
waiting for setup EXE to complete...
GetExitCodeProcess: exitCode = 3
processing undo list...
processing undo list...
(deleteDir) <WORK>/out
(failedToDelete) <WORK>\out
Return from WinMain without entering message loop...
exitCode = 3
LOG
  diff "$SFX_WORK/expected.txt" "$SFX_WORK/actual.txt" >&2 || fail "run log differs"
}

case_decoder_threads_same_result() {
  # A file of many chunks (text, then random bytes, then text again) packed
  # once with --decoder-threads 1 and once with the default: both runs give
  # the same tree and the same run log, the unzip folder's name aside.
  stage
  mkdir -p "$SFX_WORK/payload/big"
  {
    for i in $(seq 1 3000); do echo "line $i of a text that compresses well"; done
    head -c 600000 /dev/urandom
    for i in $(seq 1 3000); do echo "line $i again"; done
  } >"$SFX_WORK/payload/big/mixed.bin"
  config "$SFX_WORK/c.xml" "${silent[@]}" Verbose=1
  local threads logs=()
  for threads in 1 default; do
    local opts=(--chunk-size 65536)
    [ "$threads" = default ] || opts+=(--decoder-threads "$threads")
    pack_payload "$SFX_WORK/t$threads.exe" "$SFX_WORK/c.xml" "${opts[@]}"
    local out="$SFX_WORK/out-$threads" log="$SFX_WORK/run-$threads.log"
    rm -rf "$out"
    run_stub "$SFX_WORK/t$threads.exe" 0 -unzipDir "$(winpath "$out")" -log "$(winpath "$log")"
    same_tree "$SFX_WORK/payload" "$out"
    lf "$log"
    sed -n '/^Automatically unzipping/,$p' "$log.lf" |
      sed -e "s|^Current working directory: .*|Current working directory: <CWD>|" \
        -e "s|out-$threads|<OUT>|g" >"$log.masked"
    grep -qxF "(file) big/mixed.bin" "$log.masked" || fail "run log lacks big/mixed.bin:"$'\n'"$(cat "$log.masked")"
    logs+=("$log.masked")
  done
  "$SFX_PACK" config "$SFX_WORK/t1.exe" | grep -qF "<DecoderThreads>1</DecoderThreads>" ||
    fail "the first archive lacks DecoderThreads 1: $("$SFX_PACK" config "$SFX_WORK/t1.exe")"
  diff "${logs[0]}" "${logs[1]}" >&2 || fail "the run logs differ"
}

case_setup_exit_codes() {
  # The setup program's exit code is handed on, 255 and above included.
  stage
  local code
  for code in 0 3 255 1000; do
    config "$SFX_WORK/c.xml" "${silent[@]}" SetupExe=sfxsetup.exe "SetupExeArgs=--exit $code"
    pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
    rm -rf "$SFX_WORK/out"
    run_stub "$SFX_WORK/a.exe" "$code" -unzipDir "$(winpath "$SFX_WORK/out")"
  done
}

case_failed_extraction_exit_code() {
  # A payload cut before its end: the automatic and the progress mode both
  # end with exit code 2, since the integrity record tells a cut download
  # from other failures ("download it again"); the files extracted before
  # the fault go with it.
  stage
  local mode
  for mode in automatic progress; do
    if [ $mode = automatic ]; then
      config "$SFX_WORK/c.xml" "${silent[@]}"
    else
      config "$SFX_WORK/c.xml" ShowMain=0 ShowProgress=1 ShowFin=0
    fi
    pack_payload "$SFX_WORK/full.exe" "$SFX_WORK/c.xml"
    local size
    size=$(stat -c %s "$SFX_WORK/full.exe")
    head -c $((size - 40)) "$SFX_WORK/full.exe" >"$SFX_WORK/cut.exe"
    rm -rf "$SFX_WORK/out"
    if [ $mode = automatic ]; then
      local log="$SFX_WORK/run.log"
      run_stub "$SFX_WORK/cut.exe" 2 -unzipDir "$(winpath "$SFX_WORK/out")" -log "$(winpath "$log")"
      lf "$log"
      expect_lines "$log.lf" "Automatically unzipping..." "processing undo list..." \
        "InitInstance failed." "exitCode = 2"
      grep -q "^self-extractor is damaged, download it again: \[" "$log.lf" ||
        fail "the cut download is not reported as damage"
      grep -q "Unzip complete" "$log.lf" && fail "a failed unpack logged as complete"
    else
      drive "run '$(winpath "$SFX_WORK/cut.exe")' -unzipDir '$(winpath "$SFX_WORK/out")'" \
        "wait-window Error" \
        "press Error 1" \
        "wait-exit" \
        "exit-code 2"
    fi
  done
}

case_unzip_dir_rules() {
  # Debug runs: the normalised directory is logged, but nothing is created,
  # nothing is started and the current directory stays.
  stage
  local base
  base="$(winpath "$SFX_WORK")\\base\\"
  local -a cases=(
    '%SFX_E2E_BASE%\app' "$(winpath "$SFX_WORK")\\base\\app"
    'C:/x//y' 'C:\x\y'
    '\\server\share' '\server\share'
    '%NOSUCHVAR%\x' '\x'
    '50%' '50%'
  )
  local i
  for ((i = 0; i < ${#cases[@]}; i += 2)); do
    config "$SFX_WORK/c.xml" "${silent[@]}" Debug=1 Verbose=1 "UnzipDir=${cases[i]}" \
      SetupExe=sfxsetup.exe "SetupExeArgs=--out $(winpath "$SFX_WORK")\\rec.txt"
    pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
    rm -f "$SFX_WORK/run.log"
    SFX_E2E_BASE=$base run_stub "$SFX_WORK/a.exe" 0 -log "$(winpath "$SFX_WORK/run.log")"
    lf "$SFX_WORK/run.log"
    expect_lines "$SFX_WORK/run.log.lf" "unzipDir = [${cases[i + 1]}]" \
      "Final unzip dir: [${cases[i + 1]}]..." "(file) readme.txt" "Unzip complete..."
    grep -q "Check/create" "$SFX_WORK/run.log.lf" && fail "a debug run created a directory"
  done
  [ ! -e "$SFX_WORK/base" ] || fail "a debug run created the unzip directory"
  [ ! -e "$SFX_WORK/rec.txt" ] || fail "a debug run started the setup program"
}

case_shell_setup() {
  # SetupExe "shell" in any case runs the command interpreter with /c and
  # the quoted arguments, in the unzip directory.
  stage
  config "$SFX_WORK/c.xml" "${silent[@]}" SetupExe=ShElL "SetupExeArgs=copy readme.txt copied.txt"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  run_stub "$SFX_WORK/a.exe" 0 -unzipDir "$(winpath "$SFX_WORK/out")"
  cmp "$SFX_WORK/out/readme.txt" "$SFX_WORK/out/copied.txt" || fail "the shell command did not run"
}

case_setup_in_subfolder() {
  # SetupExe sub//sfxsetup.exe is the unzip directory joined with
  # sub\sfxsetup.exe; it runs with the unzip directory as its working one.
  stage
  mkdir "$SFX_WORK/payload/sub"
  mv "$SFX_WORK/payload/sfxsetup.exe" "$SFX_WORK/payload/sub/"
  config "$SFX_WORK/c.xml" "${silent[@]}" SetupExe=sub//sfxsetup.exe "SetupExeArgs=--out rec.txt"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  local out="$SFX_WORK/out"
  run_stub "$SFX_WORK/a.exe" 0 -unzipDir "$(winpath "$out")" -log "$(winpath "$SFX_WORK/run.log")"
  lf "$SFX_WORK/run.log"
  expect_lines "$SFX_WORK/run.log.lf" "running exe: [sub\\sfxsetup.exe]" \
    "full path to auto-run EXE: [$(winpath "$out")\\sub\\sfxsetup.exe]"
  grep -qxF "cwd: $(winpath "$out")"$'\r' "$out/rec.txt" || fail "setup did not run in the unzip dir"
}

case_cleanup_after_setup() {
  # Cleanup with WaitForSetup: after the setup program ends every extracted
  # file goes, newest first, then the directories extraction made, then the
  # unzip directory and its parents that the run made.
  stage
  config "$SFX_WORK/c.xml" "${silent[@]}" Cleanup=1 Verbose=1 SetupExe=sfxsetup.exe \
    "SetupExeArgs=--out $(winpath "$SFX_WORK")\\rec.txt --exit 4"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  local out="$SFX_WORK/new/out" w
  w=$(winpath "$SFX_WORK")
  run_stub "$SFX_WORK/a.exe" 4 -unzipDir "$(winpath "$out")" -log "$w\\run.log"
  [ -e "$SFX_WORK/rec.txt" ] || fail "setup did not run"
  [ ! -e "$SFX_WORK/new" ] || fail "cleanup left: $(find "$SFX_WORK/new")"
  lf "$SFX_WORK/run.log"
  expect_lines "$SFX_WORK/run.log.lf" "created unzip dir: [$w\\new]" "cleanup is requested..." \
    "GetExitCodeProcess: exitCode = 4" "processing undo list..." \
    "(deleteFile) sfxsetup.exe" "(deleteFile) readme.txt" "(deleteFile) docs/notes.txt" \
    "(deleteDir) docs" "processing undo list..." \
    "(deleteDir) ${w//\\//}/new/out" "(deleteDir) ${w//\\//}/new"
}

case_cleanup_without_setup() {
  # Cleanup with no setup program: the files go right after extraction,
  # and the fresh temporary directory with them.
  stage
  config "$SFX_WORK/c.xml" "${silent[@]}" Cleanup=1 AutoTemp=1
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  run_stub "$SFX_WORK/a.exe" 0 -log "$(winpath "$SFX_WORK/run.log")"
  lf "$SFX_WORK/run.log"
  local dir
  dir=$(sed -n 's/^temp unzipDir = \[\(.*\)\]$/\1/p' "$SFX_WORK/run.log.lf")
  [[ $dir == *\\qz_???? ]] || fail "temporary directory name: $dir"
  expect_lines "$SFX_WORK/run.log.lf" "created unzip dir: [$dir]" "Unzip complete..."
  [ ! -e "$(wine winepath -u "$dir" 2>/dev/null)" ] || fail "temporary directory left: $dir"
}

case_cleanup_refused() {
  # Cleanup is off when the setup program is not waited for or AutoExit is
  # non-zero; the log says why and the files stay. AutoExit 2 does not end
  # the run early (the exit code is still handed on); AutoExit 1 ends it with
  # 0 right after the start.
  stage
  local -a runs=(
    "WaitForSetup=0|0|WaitForSetup if false, therefore cannot cleanup files.|NOT waiting for setup EXE to complete..."
    "AutoExit=2|5|AutoExit if true, therefore cannot cleanup files.|GetExitCodeProcess: exitCode = 5"
    "AutoExit=1|0|AutoExit if true, therefore cannot cleanup files.|running exe: [sfxsetup.exe]"
  )
  local r key code line1 line2
  for r in "${runs[@]}"; do
    IFS='|' read -r key code line1 line2 <<<"$r"
    # The first element of a key counts: "$key" goes before WaitForSetup=1.
    config "$SFX_WORK/c.xml" ShowMain=0 ShowProgress=0 ShowFin=0 Cleanup=1 "$key" \
      WaitForSetup=1 SetupExe=sfxsetup.exe \
      "SetupExeArgs=--sleep 1500 --exit 5"
    pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
    rm -rf "$SFX_WORK/out" "$SFX_WORK/run.log"
    run_stub "$SFX_WORK/a.exe" "$code" -unzipDir "$(winpath "$SFX_WORK/out")" \
      -log "$(winpath "$SFX_WORK/run.log")"
    lf "$SFX_WORK/run.log"
    expect_lines "$SFX_WORK/run.log.lf" "cleanup is requested..." "$line1" "Unzip complete..." "$line2"
    if [ "$key" = AutoExit=1 ]; then
      grep -q "waiting for setup" "$SFX_WORK/run.log.lf" && fail "AutoExit 1 waited"
    fi
    sleep 2  # the setup program ends before its folder is compared
    same_tree "$SFX_WORK/payload" "$SFX_WORK/out"
  done
}

case_undo_spares_what_existed() {
  # A file that existed is overwritten and then deleted by cleanup; a
  # directory that existed stays, and so does the unzip directory.
  stage
  config "$SFX_WORK/c.xml" "${silent[@]}" Cleanup=1
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  local out="$SFX_WORK/out"
  mkdir -p "$out/docs"
  echo "old content" >"$out/readme.txt"
  run_stub "$SFX_WORK/a.exe" 0 -unzipDir "$(winpath "$out")"
  [ -d "$out/docs" ] || fail "a directory that existed was removed"
  [ -z "$(find "$out" -type f)" ] || fail "cleanup left: $(find "$out" -type f)"
}

case_file_in_use_stays() {
  # The setup program leaves a child that holds readme.txt open (and, as a
  # running program, its own file) longer than cleanup retries (5 s):
  # cleanup deletes everything else, the held files stay and so does their
  # folder.
  stage
  config "$SFX_WORK/c.xml" "${silent[@]}" Cleanup=1 Verbose=1 SetupExe=sfxsetup.exe \
    "SetupExeArgs=--sleep 1500 --child --hold readme.txt --sleep 15000"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  local out="$SFX_WORK/new/out"
  run_stub "$SFX_WORK/a.exe" 0 -unzipDir "$(winpath "$out")" -log "$(winpath "$SFX_WORK/run.log")"
  local left
  left=$(cd "$SFX_WORK/new" && find . | sort | tr '\n' ' ')
  sleep 5
  [ "$left" = ". ./out ./out/readme.txt ./out/sfxsetup.exe " ] || fail "after cleanup: $left"
  lf "$SFX_WORK/run.log"
  expect_lines "$SFX_WORK/run.log.lf" "(deleteFile) readme.txt" "(failedToDelete) readme.txt" \
    "(failedToDelete) $(winpath "$out")"
}

case_passwords_in_silent_run() {
  # Encrypted payload, silent run: the right -pwd extracts without any
  # window. A wrong one shows no message box and goes on to the password
  # dialog: the right password typed there extracts; Cancel ends the run
  # with 1 and creates nothing.
  stage
  config "$SFX_WORK/c.xml" "${silent[@]}" Encryption=1
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml" --password 'open sesame' --kdf-iterations 1000
  run_stub "$SFX_WORK/a.exe" 0 -unzipDir "$(winpath "$SFX_WORK/out")" -pwd 'open sesame'
  same_tree "$SFX_WORK/payload" "$SFX_WORK/out"
  drive "run '$(winpath "$SFX_WORK/a.exe")' -unzipDir '$(winpath "$SFX_WORK/out2")' -pwd wrong" \
    "wait-window 'Enter Password'" \
    "wait-gone Error 0" \
    "type 'Enter Password' 1007 'open sesame'" \
    "press 'Enter Password' 1" \
    "wait-exit" \
    "exit-code 0"
  same_tree "$SFX_WORK/payload" "$SFX_WORK/out2"
  drive "run '$(winpath "$SFX_WORK/a.exe")' -unzipDir '$(winpath "$SFX_WORK/out3")' -pwd wrong -log '$(winpath "$SFX_WORK/run.log")'" \
    "wait-window 'Enter Password'" \
    "wait-gone Error 0" \
    "press 'Enter Password' 2" \
    "wait-exit" \
    "exit-code 1"
  lf "$SFX_WORK/run.log"
  expect_lines "$SFX_WORK/run.log.lf" "Password is incorrect." "InitInstance failed."
  [ ! -e "$SFX_WORK/out3" ] || fail "a run without the password created its directory"
}

case_automatic_and_main_same_tree() {
  # The same payload unpacked automatically and from the main dialog's
  # Unzip button (ShowMain=1 with -unzipDir) gives the same tree.
  stage
  config "$SFX_WORK/auto.xml" "${silent[@]}"
  pack_payload "$SFX_WORK/auto.exe" "$SFX_WORK/auto.xml"
  run_stub "$SFX_WORK/auto.exe" 0 -unzipDir "$(winpath "$SFX_WORK/out1")"
  config "$SFX_WORK/main.xml" ShowMain=1 ShowProgress=0 ShowFin=0
  pack_payload "$SFX_WORK/main.exe" "$SFX_WORK/main.xml"
  drive "run '$(winpath "$SFX_WORK/main.exe")' -unzipDir '$(winpath "$SFX_WORK/out2")'" \
    "wait-window '$main_title'" \
    "press '$main_title' 1001" \
    "wait-text '$main_title' 1013 Finished!" \
    "press '$main_title' 2" \
    "wait-exit" \
    "exit-code 0"
  same_tree "$SFX_WORK/out1" "$SFX_WORK/out2"
  same_tree "$SFX_WORK/payload" "$SFX_WORK/out2"
}

case_signed_still_extracts() {
  # An Authenticode signature appended after the payload does no harm: the
  # payload is found by its marker.
  command -v osslsigncode >/dev/null || fail "osslsigncode is not installed"
  stage
  config "$SFX_WORK/c.xml" "${silent[@]}"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=sfx e2e test" \
    -keyout "$SFX_WORK/key.pem" -out "$SFX_WORK/cert.pem" 2>/dev/null
  osslsigncode sign -certs "$SFX_WORK/cert.pem" -key "$SFX_WORK/key.pem" \
    -in "$SFX_WORK/a.exe" -out "$SFX_WORK/signed.exe" >/dev/null
  cmp -s "$SFX_WORK/a.exe" "$SFX_WORK/signed.exe" && fail "signing changed nothing"
  run_stub "$SFX_WORK/signed.exe" 0 -unzipDir "$(winpath "$SFX_WORK/out")"
  same_tree "$SFX_WORK/payload" "$SFX_WORK/out"
}

# wait_file FILE [SECONDS]: waits until FILE exists (a detached program
# writes it), failing after SECONDS (30).
wait_file() {
  local n=$((${2:-30} * 10))
  while [ ! -e "$1" ]; do
    n=$((n - 1))
    [ "$n" -gt 0 ] || fail "$1 did not appear"
    sleep 0.1
  done
}

# set_stored_attributes EXE NAME HEX: sets the low byte of the stored
# attributes of the file entry NAME (ASCII, unencrypted payload) to HEX; the
# packer stores 0x20 there. The attributes follow the name and its 8-byte
# time. Pack without the integrity record, which would refuse the change.
set_stored_attributes() {
  local exe=$1 name=$2 hex=$3 at
  at=$(grep -obaF "$name" "$exe" | tail -n 1 | cut -d: -f1)
  [ -n "$at" ] || fail "no entry $name in $exe"
  at=$((at + ${#name} + 8))
  [ "$(od -An -tx1 -j "$at" -N1 "$exe" | tr -d ' ')" = 20 ] ||
    fail "the attributes of $name are not where they should be"
  printf "\\x$hex" | dd of="$exe" bs=1 seek="$at" conv=notrunc status=none
}

# attributes_of WINPATH: the attributes Windows reports, as a number.
attributes_of() {
  local a
  a=$(drive "attributes '$1'" | tr -d '\r') || fail "no attributes for $1"
  echo $((a))
}

case_non_ascii_temp_and_profile() {
  # A user named outside ASCII: TEMP and USERPROFILE hold the name, and
  # %TEMP% and %USERPROFILE% in UnzipDir must expand to those very folders
  # (read through the ANSI environment they became other paths). A run
  # without UnzipDir draws its directory in that TEMP as well.
  stage
  local home="$SFX_WORK/Users/José Ωμέγα 中文"
  mkdir -p "$home/Temp"
  local env=("setenv TEMP '$(winpath "$home/Temp")'" "setenv TMP '$(winpath "$home/Temp")'"
    "setenv USERPROFILE '$(winpath "$home")'")
  local dir
  for dir in '%TEMP%\App' '%USERPROFILE%\Programs\App'; do
    config "$SFX_WORK/c.xml" "${silent[@]}" "UnzipDir=$dir"
    pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
    drive "${env[@]}" "run '$(winpath "$SFX_WORK/a.exe")'" "wait-gone Error 0" "wait-exit" \
      "exit-code 0" || fail "run into $dir failed"
  done
  same_tree "$SFX_WORK/payload" "$home/Temp/App"
  same_tree "$SFX_WORK/payload" "$home/Programs/App"
  config "$SFX_WORK/c.xml" "${silent[@]}" AutoTemp=1 SetupExe=sfxsetup.exe "SetupExeArgs=--out where.txt"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  drive "${env[@]}" "run '$(winpath "$SFX_WORK/a.exe")'" "wait-gone Error 0" "wait-exit" \
    "exit-code 0" || fail "run into a temporary directory failed"
  local record
  record=$(find "$home/Temp" -path '*/qz_*/where.txt')
  [ -n "$record" ] || fail "no qz_ directory in the non-ASCII TEMP: $(find "$home")"
  grep -qF "cwd: $(winpath "$home/Temp")\\qz_" "$record" ||
    fail "the setup program ran elsewhere: $(cat "$record")"
}

case_stored_attributes() {
  # Attributes 0x22 (archive, hidden) end hidden; 0x20 leaves the file as a
  # new file is, archive only.
  stage
  printf 'hidden by its attributes\r\n' >"$SFX_WORK/payload/shown.txt"
  config "$SFX_WORK/c.xml" "${silent[@]}"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml" --no-integrity
  set_stored_attributes "$SFX_WORK/a.exe" shown.txt 22
  local out="$SFX_WORK/out"
  run_stub "$SFX_WORK/a.exe" 0 -unzipDir "$(winpath "$out")"
  local hidden plain
  hidden=$(attributes_of "$(winpath "$out/shown.txt")")
  plain=$(attributes_of "$(winpath "$out/readme.txt")")
  [ $((hidden & 0x2)) = 2 ] || fail "stored 0x22 gave $(printf 0x%x "$hidden")"
  [ "$plain" = $((0x20)) ] || fail "stored 0x20 gave $(printf 0x%x "$plain")"
  cmp "$SFX_WORK/payload/shown.txt" "$out/shown.txt" || fail "shown.txt differs"
}

case_rerun_over_hidden_system_file() {
  # A folder's desktop.ini is hidden and system (0x26). Running the same
  # self-extractor into the same folder again replaces it (Windows refuses
  # that unless the open asks for those bits; Wine does not enforce it, so
  # here the run shows only that the retry path leaves a whole, correct
  # file with its stored attributes).
  stage
  printf '[.ShellClassInfo]\r\nIconResource=x.ico,0\r\n' >"$SFX_WORK/payload/desktop.ini"
  config "$SFX_WORK/c.xml" "${silent[@]}"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml" --no-integrity
  set_stored_attributes "$SFX_WORK/a.exe" desktop.ini 26
  local out="$SFX_WORK/out" run a
  for run in 1 2; do
    run_stub "$SFX_WORK/a.exe" 0 -unzipDir "$(winpath "$out")"
    a=$(attributes_of "$(winpath "$out/desktop.ini")")
    [ $((a & 0x6)) = 6 ] || fail "run $run: desktop.ini has $(printf 0x%x "$a")"
    same_tree "$SFX_WORK/payload" "$out"
  done
}

case_shell_setup_without_comspec() {
  # No command interpreter (ComSpec unset): "shell" cannot run, and the
  # launch failure is reported even in a silent run, and the run ends with
  # 4 (setup program not started) although the unpack itself succeeded.
  stage
  config "$SFX_WORK/c.xml" "${silent[@]}" SetupExe=shell "SetupExeArgs=copy readme.txt copied.txt"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  local out="$SFX_WORK/out" text
  text=$(drive "setenv ComSpec" "run '$(winpath "$SFX_WORK/a.exe")' -unzipDir '$(winpath "$out")'" \
    "wait-window Error" "text Error 65535" "press Error 1" "wait-exit" "exit-code 4") ||
    fail "driver run failed: $text"
  text=$(tr -d '\r' <<<"$text")
  [ "$text" = "Failed to run shell, working dir = $(winpath "$out") (check to see if this file is in the EXE)" ] ||
    fail "box text: $text"
  [ -f "$out/readme.txt" ] || fail "nothing extracted"
  [ ! -e "$out/copied.txt" ] || fail "the command ran"
}

case_shell_setup_not_waited() {
  # WaitForSetup 0 with "shell": the interpreter is started and not waited
  # for; the program it runs is still sleeping when the stub has ended.
  # (Absolute paths: Wine may start the interpreter after the stub has
  # ended and without its current directory.)
  stage
  local out="$SFX_WORK/out" w
  w=$(winpath "$out")
  config "$SFX_WORK/c.xml" ShowMain=0 ShowProgress=0 ShowFin=0 WaitForSetup=0 SetupExe=shell \
    "SetupExeArgs=start /wait $w\sfxsetup.exe --out $w\started.txt --sleep 12000"
  pack_payload "$SFX_WORK/a.exe" "$SFX_WORK/c.xml"
  drive "run '$(winpath "$SFX_WORK/a.exe")' -unzipDir '$(winpath "$out")'" "wait-gone Error 0" \
    "wait-exit 8000" "exit-code 0" || fail "the stub waited for the shell command"
  wait_file "$out/started.txt"
}
