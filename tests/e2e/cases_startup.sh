# Start-up: the stub file, payload location, configuration, command line,
# modes and exit codes.

# stub_file_checks STUB BINUTILS-PREFIX PE-FORMAT: the static checks of one
# stub file.
stub_file_checks() {
  local file=$1 tools=$2 format=$3
  # The stub must not hold the 8 payload marker bytes in sequence: the
  # marker scan takes the first match from the start of the file.
  if LC_ALL=C grep -qaP '\x07\xD2\x6C\xBF\x21\x59\xAB\xAA' "$file"; then
    fail "$file contains the payload marker"
  fi
  local dump
  dump=$("$tools-objdump" -p "$file")
  grep -q "file format $format" <<<"$dump" || fail "$file: not a $format image"
  grep -qE 'Subsystem\s+0+2\s+\(Windows GUI\)' <<<"$dump" || fail "not a GUI-subsystem program"
  local dll
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | user32.dll | gdi32.dll | shell32.dll | comctl32.dll | advapi32.dll | \
        msvcrt.dll | ole32.dll | comdlg32.dll) ;;
      *) fail "imports a non-system DLL: $dll" ;;
    esac
  done < <(sed -nE 's/^\s*DLL Name: (.*)$/\1/p' <<<"$dump")
  # The resources: the four dialogs, the two strings and the manifest.
  local rc
  rc=$("$tools-windres" -i "$file" -O rc)
  local id
  for id in 129 130 139 140; do
    grep -qE "^$id DIALOGEX" <<<"$rc" || fail "no dialog resource $id"
  done
  grep -q '"Nimbral Unpacker"' <<<"$rc" || fail "no string 103"
  grep -q '"SELFEXTRACT"' <<<"$rc" || fail "no string 109"
  grep -qE '^1 24' <<<"$rc" || fail "no application manifest"
}

case_stub_file() {
  # The stub that ships is a PE32 image; a 64-bit build that the cases run
  # instead passes the same checks as PE32+.
  if [ "$mingw" = i686-w64-mingw32 ]; then
    stub_file_checks "$stub" i686-w64-mingw32 pei-i386
  else
    stub_file_checks "$stub" x86_64-w64-mingw32 pei-x86-64
    [ -n "${SFX_SHIPPED_STUB:-}" ] || fail "SFX_SHIPPED_STUB is not set for a 64-bit run"
    stub_file_checks "$SFX_SHIPPED_STUB" i686-w64-mingw32 pei-i386
  fi
  echo "stub file checks passed"
}

case_no_payload() {
  cp "$stub" "$SFX_WORK/bare.exe"
  drive "run $(winpath "$SFX_WORK/bare.exe")" \
    "wait-window Error" \
    "expect-text Error 65535 'Failed to find marker.'" \
    "press Error 1" \
    "wait-window '$main_title'" \
    "expect-text '$main_title' 1017 'Unzip to dir:'" \
    "press '$main_title' 2" \
    "wait-exit" \
    "exit-code 0"
}

# A payload cut inside its header or its argument block.
cut_payload_case() {
  local keep_after_marker=$1 message=$2
  pack "$SFX_WORK/full.exe"
  local stub_size
  stub_size=$(stat -c %s "$stub")
  head -c $((stub_size + 8 + keep_after_marker)) "$SFX_WORK/full.exe" >"$SFX_WORK/cut.exe"
  drive "run $(winpath "$SFX_WORK/cut.exe")" \
    "wait-window Error" \
    "expect-text Error 65535 '$message'" \
    "press Error 1" \
    "wait-window '$main_title'" \
    "close '$main_title'" \
    "wait-exit" \
    "exit-code 0"
}

case_truncated_header() {
  cut_payload_case 3 "Failed to read internal header: Failed to get 1st 6 bytes."
}

case_truncated_args() {
  cut_payload_case 9 "Failed to read internal args."
}

case_payload_found() {
  # A whole payload: no message box, straight to the main dialog, whose
  # title the example's configuration sets.
  pack "$SFX_WORK/hello.exe" --config "$here/../../examples/hello.xml"
  drive "run $(winpath "$SFX_WORK/hello.exe")" \
    "wait-window 'Hello example'" \
    "wait-gone Error 0" \
    "wait-gone '$main_title' 0" \
    "press 'Hello example' 2" \
    "wait-exit" \
    "exit-code 0"
}

case_silent_shows_no_box() {
  # ShowMain, ShowProgress and ShowFin all 0 with no unzip directory: the
  # main dialog still comes (there is no directory to unzip to), no box.
  config "$SFX_WORK/silent.xml" ShowMain=0 ShowProgress=0 ShowFin=0
  pack "$SFX_WORK/silent.exe" --config "$SFX_WORK/silent.xml"
  drive "run $(winpath "$SFX_WORK/silent.exe")" \
    "wait-window '$main_title'" \
    "wait-gone Error 0" \
    "close '$main_title'" \
    "wait-exit" \
    "exit-code 0"
}

case_automatic_failure_exit_code() {
  # Silent and automatic: no window at all; the payload is cut before its
  # end, so the unpack fails, and the integrity record reports the cut
  # download as damage: exit code 2.
  config "$SFX_WORK/auto.xml" ShowMain=0 ShowProgress=0 ShowFin=0 AutoTemp=1 Cleanup=1
  pack "$SFX_WORK/full.exe" --config "$SFX_WORK/auto.xml"
  local size
  size=$(stat -c %s "$SFX_WORK/full.exe")
  head -c $((size - 40)) "$SFX_WORK/full.exe" >"$SFX_WORK/auto.exe"
  drive "run $(winpath "$SFX_WORK/auto.exe")" \
    "wait-exit" \
    "exit-code 2"
}

case_progress_mode() {
  # The progress dialog starts the driver from its timer and closes when it
  # returns; the setup program (sleeping) keeps it up long enough to be
  # read. The process ends with the setup program's exit code.
  stage
  config "$SFX_WORK/progress.xml" ShowMain=0 ShowProgress=1 AutoTemp=1 Cleanup=1 WaitForSetup=1 \
    SetupExe=sfxsetup.exe "SetupExeArgs=--sleep 3000 --exit 7"
  pack_payload "$SFX_WORK/progress.exe" "$SFX_WORK/progress.xml"
  drive "run $(winpath "$SFX_WORK/progress.exe")" \
    "wait-window Unzipping..." \
    "expect-text Unzipping... 1014 'Unzip Progress...'" \
    "wait-exit" \
    "exit-code 7"
}

case_run_log() {
  # -log opens the run log first; start-up then writes its version lines, the
  # configuration and the reopen points, and WinMain the exit code.
  # An empty VersionCreatedBy (sfxpack writes its own version otherwise).
  pack "$SFX_WORK/log.exe" --set VersionCreatedBy=
  local log="$SFX_WORK/run.log"
  drive "run $(winpath "$SFX_WORK/log.exe") -pwd secret -log $(winpath "$log")" \
    "wait-window '$main_title'" \
    "press '$main_title' 2" \
    "wait-exit" \
    "exit-code 0"
  tr -d '\r' <"$log" >"$log.lf"
  expect_lines "$log.lf" \
    "command line: -pwd ******** -log $(winpath "$log")" \
    "Created by version prior to 14.3.0" \
    "Sep 13 2014" \
    "<SfxConfig>" \
    "</SfxConfig>" \
    "Log opened from internal point 2" \
    "Showing main dialog..." \
    "Initialization finished." \
    "Log opened from internal point 1" \
    "Closing log from WinMain." \
    "exitCode = 0"
  grep -q secret "$log" && fail "the run log holds the password"
  grep -q $'\r$' "$log" || fail "run log lines do not end in CR LF"
}

case_unzip_dir_option_makes_run_automatic() {
  # ShowMain=0 without a directory would show the main dialog; -unzipDir
  # makes the directory known, so the run is automatic (and silent here).
  config "$SFX_WORK/auto.xml" ShowMain=0 ShowProgress=0 ShowFin=0 VersionCreatedBy=9.9.9
  pack "$SFX_WORK/auto.exe" --config "$SFX_WORK/auto.xml"
  local log="$SFX_WORK/run.log" target
  target="$(winpath "$SFX_WORK")\\target dir"
  drive "run $(winpath "$SFX_WORK/auto.exe") -log $(winpath "$log") -unzipDir '$target'" \
    "wait-exit" \
    "exit-code 0"
  tr -d '\r' <"$log" >"$log.lf"
  expect_lines "$log.lf" \
    "Created by version 9.9.9" \
    "<UnzipDir>$target</UnzipDir>" \
    "Automatically unzipping..." \
    "Unzip complete..."
  [ -f "$SFX_WORK/target dir/readme.txt" ] || fail "nothing extracted to $target"
}

case_exe_not_reopened() {
  # The self-extractor cannot open its own file (held by another program
  # that shares only reading and deletion): the "Failed to open EXE" box
  # names the path, non-ASCII letters intact, and sfxErrorLog.txt in the
  # current directory holds the same line and the log, with CR LF line
  # ends and an empty last line. Start-up goes on with the built-in
  # configuration: the main dialog.
  local name="Sélf Ωμέγα 中文.exe"
  pack "$SFX_WORK/$name"
  local exe
  exe=$(winpath "$SFX_WORK/$name")
  local box
  box=$(cd "$SFX_WORK" && drive "lock '$exe'" "run '$exe'" \
    "wait-window Error" "text Error 65535" "press Error 1" \
    "wait-window '$main_title'" "press '$main_title' 2" "wait-exit" "exit-code 0") ||
    fail "driver run failed: $box"
  box=$(tr -d '\r' <<<"$box")
  [ "$(head -n 1 <<<"$box")" = "Failed to open EXE: $exe" ] || fail "box text: $box"
  grep -qF "$exe" <<<"$(tail -n +2 <<<"$box")" || fail "the box lacks the log naming the path: $box"
  local file="$SFX_WORK/sfxErrorLog.txt"
  [ -f "$file" ] || fail "no sfxErrorLog.txt in the current directory"
  [ "$(head -n 1 "$file")" = "Failed to open EXE: $exe"$'\r' ] || fail "error file: $(cat "$file")"
  grep -qF "GetSettings" "$file" || fail "the error file lacks the log: $(cat "$file")"
  [ "$(grep -c $'[^\r]$' "$file")" = 0 ] || fail "a line of the error file does not end in CR LF"
  [ "$(tail -c 4 "$file" | od -An -tx1 | tr -d ' ')" = 0d0a0d0a ] || fail "the error file does not end with an empty line"
}
