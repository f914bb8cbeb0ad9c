# Dialogs: the four dialog resources, the main dialog's unzip directory,
# texts and sizes from the configuration, the ways each dialog ends, and the
# progress dialog's start timer.

prog_title="Unzipping..."
fin_title="Finished."

# dialog_pack NAME KEY=VALUE...: packs the example folder with a configuration
# made of the given keys into $SFX_WORK/NAME.exe and prints its Windows path.
dialog_pack() {
  local name=$1
  shift
  config "$SFX_WORK/$name.xml" "$@"
  pack "$SFX_WORK/$name.exe" --config "$SFX_WORK/$name.xml"
  winpath "$SFX_WORK/$name.exe"
}

# rect_of OUTPUT: the screen rectangle "X Y W H" of a `rect` line.
rect_of() {
  sed -nE 's/^screen ([-0-9]+ [-0-9]+ [0-9]+ [0-9]+) client.*/\1/p' <<<"$1"
}

case_dialog_resources() {
  # The four dialogs exactly as laid out: ids, kinds, texts, rectangles in
  # dialog units, styles (pop-up, caption, system menu, modal frame, font)
  # and the font. Read back from the linked stub.
  local got
  got=$("$mingw-windres" -i "$stub" -O rc | sed -n '/DIALOGEX/,/^END/p' | tr -d '\r')
  local want
  want=$(
    cat <<'EOF'
129 DIALOGEX 0, 0, 321, 94
STYLE 0x80c800c0
CAPTION "Marlith Zip Self-Extractor"
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "To unzip all files to the specified folder, press the Unzip button.", 1014, 7, 7, 254, 23, 0x50020000
  LTEXT "Unzip to dir:", 1017, 7, 33, 256, 8, 0x50020000
  EDITTEXT 1003, 7, 44, 206, 13, 0x50810080
  PUSHBUTTON "Browse", 1004, 217, 44, 41, 14, 0x50010000
  DEFPUSHBUTTON "Unzip", 1001, 264, 7, 50, 14, 0x50010001
  PUSHBUTTON "Close", 2, 264, 24, 50, 14, 0x50010000
  LTEXT "", 1016, 7, 63, 231, 10, 0x50020000
  CTEXT "", 1013, 261, 61, 53, 11, 0x50020001
  CONTROL "", 1008, "MSCTLS_PROGRESS32", 0x50800000, 7, 74, 307, 13
END
130 DIALOGEX 0, 0, 246, 47
STYLE 0x80c800c0
CAPTION "Enter Password"
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "This self-extracting EXE is encrypted. Enter a password to unzip:", 1014, 7, 7, 120, 20, 0x50020000
  EDITTEXT 1007, 7, 29, 161, 12, 0x508100a0
  DEFPUSHBUTTON "OK", 1, 189, 7, 50, 14, 0x50010001
  PUSHBUTTON "Cancel", 2, 189, 26, 50, 14, 0x50010000
END
139 DIALOGEX 0, 0, 245, 54
STYLE 0x80c800c0
CAPTION "Finished."
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "Finished.", 1014, 7, 7, 231, 27, 0x50020000
  DEFPUSHBUTTON "OK", 1015, 188, 33, 50, 14, 0x50010001
END
140 DIALOGEX 0, 0, 285, 41
STYLE 0x80c800c0
CAPTION "Unzipping..."
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "Unzip Progress...", 1014, 7, 7, 271, 10, 0x50020000
  CONTROL "", 1008, "MSCTLS_PROGRESS32", 0x50000000, 7, 22, 271, 12
END
EOF
  )
  [ "$got" = "$want" ] || fail "dialog resources differ:"$'\n'"$(diff <(echo "$want") <(echo "$got"))"
  # The manifest asks for common controls version 6.
  grep -q 'Microsoft.Windows.Common-Controls' "$here/../../src/app/sfxstub.manifest" ||
    fail "the manifest does not ask for common controls 6"
  echo "dialog resources as laid out"
}

case_main_builtin_texts() {
  # Built-in texts of the main dialog, and each way of ending it (the Close
  # button, Escape, the close box) ends the process with exit code 0.
  local exe how
  exe=$(dialog_pack main ShowMain=1)
  for how in "press '$main_title' 2" "key '$main_title' escape" "close '$main_title'"; do
    drive "run $exe" \
      "wait-window '$main_title'" \
      "expect-text '$main_title' 1014 'To unzip all files to the specified folder, press the Unzip button.'" \
      "expect-text '$main_title' 1017 'Unzip to dir:'" \
      "expect-text '$main_title' 1001 Unzip" \
      "expect-text '$main_title' 2 Close" \
      "expect-text '$main_title' 1004 Browse" \
      "expect-text '$main_title' 1016 ''" \
      "expect-text '$main_title' 1013 ''" \
      "expect-enabled '$main_title' 1001" \
      "$how" \
      "wait-exit" \
      "exit-code 0"
  done
}

case_main_unzip_dir_box() {
  # What the unzip directory box shows first: UnzipDir, else DefaultDir,
  # else the current directory; the value "null" shows as an empty box.
  cd "$SFX_WORK"
  local cwd
  cwd=$(winpath "$SFX_WORK")
  local -a table=(
    "UnzipDir=C:\\from config|DefaultDir=C:\\default|C:\\from config"
    "DefaultDir=C:\\default|ShowFin=0|C:\\default"
    "UnzipDir=null|DefaultDir=C:\\default|"
    "DefaultDir=null|ShowFin=0|"
    "ShowFin=0|ShowFin=0|$cwd"
  )
  local row a b want exe
  for row in "${table[@]}"; do
    IFS='|' read -r a b want <<<"$row"
    exe=$(dialog_pack box ShowMain=1 "$a" "$b")
    drive "run $exe" \
      "wait-window '$main_title'" \
      "expect-text '$main_title' 1003 '$want'" \
      "close '$main_title'" \
      "wait-exit" \
      "exit-code 0" || fail "row $row"
  done
}

case_main_empty_dir_warns() {
  # UnzipDir "null": the box is empty and Unzip only warns; the driver does
  # not run (nothing in the result, Unzip still enabled).
  local exe
  exe=$(dialog_pack null ShowMain=1 UnzipDir=null)
  drive "run $exe" \
    "wait-window '$main_title'" \
    "expect-text '$main_title' 1003 ''" \
    "press '$main_title' 1001" \
    "wait-window Warning" \
    "expect-text Warning 65535 'Please enter an unzip directory.'" \
    "press Warning 1" \
    "wait-gone Warning" \
    "expect-text '$main_title' 1013 ''" \
    "expect-enabled '$main_title' 1001" \
    "press '$main_title' 2" \
    "wait-exit" \
    "exit-code 0"
}

case_main_auto_temp_dir() {
  # AutoTemp without UnzipDir: the box shows a fresh name in the temporary
  # folder, "qz_" and four characters, and nothing is created yet.
  local exe out dir
  exe=$(dialog_pack temp ShowMain=1 AutoTemp=1)
  out=$(drive "run $exe" \
    "wait-window '$main_title'" \
    "text '$main_title' 1003" \
    "close '$main_title'" \
    "wait-exit" \
    "exit-code 0")
  dir=$(tr -d '\r' <<<"$out" | head -n 1)
  [[ "$dir" =~ ^[A-Z]:\\.*\\qz_[A-Z0-9]{4}$ ]] || fail "not a temporary name: $dir"
  local temp
  temp=$(wine cmd /c echo %TEMP% | tr -d '\r')
  [ "${dir%\\*}" = "$temp" ] || fail "$dir is not in $temp"
  local unix
  unix=$(wine winepath -u "$dir" | tr -d '\r')
  [ ! -e "$unix" ] || fail "$dir was created"
}

case_main_custom_texts() {
  # Title and caption always apply; the three button texts only together
  # with a label text. Cyrillic and CJK texts arrive intact.
  local title="Распаковка архива" caption="すべてのファイルを展開します。" label="解压到目录:"
  local exe
  exe=$(dialog_pack nolabel ShowMain=1 "MainTitle=$title" "MainCaption=$caption" \
    MainUnzipBtn=Go MainCloseBtn=Stop MainBrowseBtn=Pick)
  drive "run $exe" \
    "wait-window '$title'" \
    "expect-text '$title' 1014 '$caption'" \
    "expect-text '$title' 1017 'Unzip to dir:'" \
    "expect-text '$title' 1001 Unzip" \
    "expect-text '$title' 2 Close" \
    "expect-text '$title' 1004 Browse" \
    "close '$title'" \
    "wait-exit" \
    "exit-code 0"
  exe=$(dialog_pack label ShowMain=1 "MainTitle=$title" "MainUnzipLabel=$label" \
    MainUnzipBtn=Распаковать MainCloseBtn=閉じる MainBrowseBtn=Pick)
  drive "run $exe" \
    "wait-window '$title'" \
    "expect-text '$title' 1014 'To unzip all files to the specified folder, press the Unzip button.'" \
    "expect-text '$title' 1017 '$label'" \
    "expect-text '$title' 1001 Распаковать" \
    "expect-text '$title' 2 閉じる" \
    "expect-text '$title' 1004 Pick" \
    "press '$title' 2" \
    "wait-exit" \
    "exit-code 0"
}

case_main_size() {
  # MainWidth and MainHeight: one of them zero only centres the dialog; both
  # set resize it (centred for its old size) and move Unzip and Close to
  # x = width - 86, 75 by 25 pixels; Browse stays where it was.
  local exe out builtin half resized
  local -a probe=("rect '$main_title'" "rect '$main_title' 1001" "rect '$main_title' 2"
    "rect '$main_title' 1004" "close '$main_title'" "wait-exit" "exit-code 0")
  exe=$(dialog_pack plain ShowMain=1)
  builtin=$(drive "run $exe" "wait-window '$main_title'" "${probe[@]}" | tr -d '\r')
  exe=$(dialog_pack half ShowMain=1 MainWidth=500 MainHeight=0)
  half=$(drive "run $exe" "wait-window '$main_title'" "${probe[@]}" | tr -d '\r')
  [ "$half" = "$builtin" ] || fail "500 by 0 changed the dialog:"$'\n'"$builtin"$'\n'"$half"

  exe=$(dialog_pack both ShowMain=1 MainWidth=500 MainHeight=200)
  resized=$(drive "run $exe" "wait-window '$main_title'" "${probe[@]}" | tr -d '\r')
  local old new
  old=$(rect_of "$(sed -n 1p <<<"$builtin")")
  new=$(rect_of "$(sed -n 1p <<<"$resized")")
  [ "${new}" = "${old% * *} 500 200" ] || fail "resized to [$new], built-in [$old]"
  sed -n 2p <<<"$resized" | grep -qE 'client 414 11 75 25$' || fail "Unzip: $(sed -n 2p <<<"$resized")"
  sed -n 3p <<<"$resized" | grep -qE 'client 414 41 75 25$' || fail "Close: $(sed -n 3p <<<"$resized")"
  [ "$(sed -n 4p <<<"$resized")" = "$(sed -n 4p <<<"$builtin")" ] || fail "Browse moved"

  # Centred: the progress dialog, of another size, has the same middle.
  exe=$(dialog_pack prog ShowMain=0 ShowProgress=1 "UnzipDir=$(winpath "$SFX_WORK/none")")
  local prog
  prog=$(rect_of "$(drive "run $exe" "wait-window '$prog_title'" "rect '$prog_title'" \
    "close '$prog_title'" "wait-exit" | tr -d '\r' | sed -n 1p)")
  local mx my mw mh px py pw ph
  read -r mx my mw mh <<<"$old"
  read -r px py pw ph <<<"$prog"
  local dx=$(((2 * mx + mw) - (2 * px + pw))) dy=$(((2 * my + mh) - (2 * py + ph)))
  ((dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1)) || fail "not centred alike: main [$old], progress [$prog]"
}

case_main_browse() {
  # Browse opens the folder picker with its prompt; Cancel keeps the box, OK
  # puts the picked folder's path into it.
  local exe out picked
  exe=$(dialog_pack browse ShowMain=1 'DefaultDir=C:\before')
  out=$(drive "run $exe" \
    "wait-window '$main_title'" \
    "press '$main_title' 1004" \
    "wait-window 'Browse for Folder'" \
    "static-texts 'Browse for Folder'" \
    "press 'Browse for Folder' 2" \
    "wait-gone 'Browse for Folder'" \
    "expect-text '$main_title' 1003 'C:\before'" \
    "press '$main_title' 1004" \
    "wait-window 'Browse for Folder'" \
    "press 'Browse for Folder' 1" \
    "wait-gone 'Browse for Folder'" \
    "text '$main_title' 1003" \
    "close '$main_title'" \
    "wait-exit" \
    "exit-code 0" | tr -d '\r')
  grep -qF '"Please select a folder."' <<<"$out" || fail "no prompt in the picker: $out"
  picked=$(tail -n 1 <<<"$out")
  [[ "$picked" =~ ^[A-Z]:\\. ]] || fail "no folder path after OK: $picked"
}

case_progress_close_before_start() {
  # Closing the progress dialog before its first timer tick ends the run:
  # the driver never runs, nothing is extracted, exit code 0.
  local target="$SFX_WORK/target" log="$SFX_WORK/run.log" exe
  exe=$(dialog_pack early ShowMain=0 ShowProgress=1 "UnzipDir=$(winpath "$target")")
  drive "run $exe -log $(winpath "$log")" \
    "wait-window '$prog_title'" \
    "expect-text '$prog_title' 1014 'Unzip Progress...'" \
    "close '$prog_title'" \
    "wait-exit" \
    "exit-code 0"
  tr -d '\r' <"$log" >"$log.lf"
  expect_lines "$log.lf" \
    "Showing progress dialog..." \
    "Progress dialog initialization..." \
    "Log opened from internal point 6" \
    "Displayed progress dialog and set timer..." \
    "Log opened from internal point 7" \
    "Progress Dialog - Close..." \
    "Created progress dialog..."
  ! grep -q "Unzipping from progress dialog" "$log.lf" || fail "the driver ran"
  [ ! -e "$target" ] || fail "something was extracted"
}

# With the extraction: the main dialog's result, the finished dialog, the
# password loop and the progress dialog's run.

case_main_unzip_extracts() {
  # A directory typed into the box is where Unzip extracts; the result reads
  # "Finished!" and the button stays disabled. With ShowFin the finished
  # dialog follows: Escape does nothing there, OK ends the program.
  local target="$SFX_WORK/typed dir" exe fin="完了しました"
  exe=$(dialog_pack unzip ShowMain=1 ShowFin=1 UnzipDir=null "FinTitle=$fin" \
    "FinCaption=Файлы распакованы。ファイルを展開しました。" FinOkBtn=Хорошо)
  drive "run $exe" \
    "wait-window '$main_title'" \
    "type '$main_title' 1003 '$(winpath "$target")'" \
    "press '$main_title' 1001" \
    "wait-window '$fin'" \
    "expect-text '$main_title' 1013 Finished!" \
    "expect-disabled '$main_title' 1001" \
    "expect-text '$fin' 1014 'Файлы распакованы。ファイルを展開しました。'" \
    "expect-text '$fin' 1015 Хорошо" \
    "key '$fin' escape" \
    "sleep 500" \
    "wait-window '$fin' 0" \
    "press '$fin' 1015" \
    "wait-exit" \
    "exit-code 0"
  [ -f "$target/readme.txt" ] || fail "nothing extracted to $target"
}

case_password_loop() {
  # A wrong -pwd in a silent run goes straight to the dialog (no message);
  # a wrong typed password and the close box bring the dialog back; Cancel
  # ends the prompt, the automatic run fails with exit code 1.
  local target="$SFX_WORK/out" log="$SFX_WORK/run.log" title="Введите пароль"
  config "$SFX_WORK/pw.xml" ShowMain=0 ShowProgress=0 ShowFin=0 Encryption=1 \
    "UnzipDir=$(winpath "$target")" "PwTitle=$title" "PwdCancelBtn=Отмена"
  pack "$SFX_WORK/pw.exe" --config "$SFX_WORK/pw.xml" --password secret --kdf-iterations 1000
  drive "run $(winpath "$SFX_WORK/pw.exe") -pwd wrong -log $(winpath "$log")" \
    "wait-window '$title'" \
    "wait-gone Error 0" \
    "expect-text '$title' 1014 'This self-extracting EXE is encrypted. Enter a password to unzip:'" \
    "expect-text '$title' 1 OK" \
    "expect-text '$title' 2 Отмена" \
    "type '$title' 1007 'also wrong'" \
    "press '$title' 1" \
    "wait-gone '$title'" \
    "wait-window '$title'" \
    "close '$title'" \
    "wait-gone '$title'" \
    "wait-window '$title'" \
    "press '$title' 2" \
    "wait-exit" \
    "exit-code 1"
  tr -d '\r' <"$log" >"$log.lf"
  expect_lines "$log.lf" "Automatically unzipping..." "Password is incorrect."
  [ ! -e "$target/readme.txt" ] || fail "extracted without the password"
}

case_password_right_extracts() {
  # From the main dialog: a wrong password gives the message and the dialog
  # again, the right one extracts.
  local target="$SFX_WORK/out"
  config "$SFX_WORK/pw.xml" ShowMain=1 Encryption=1 "UnzipDir=$(winpath "$target")" \
    ErrPwdTitle=Ошибка "ErrPwdCaption=Неверный пароль."
  pack "$SFX_WORK/pw.exe" --config "$SFX_WORK/pw.xml" --password secret --kdf-iterations 1000
  drive "run $(winpath "$SFX_WORK/pw.exe")" \
    "wait-window '$main_title'" \
    "press '$main_title' 1001" \
    "wait-window 'Enter Password'" \
    "type 'Enter Password' 1007 wrong" \
    "key 'Enter Password' enter" \
    "wait-window Ошибка" \
    "expect-text Ошибка 65535 'Неверный пароль.'" \
    "press Ошибка 1" \
    "wait-window 'Enter Password'" \
    "type 'Enter Password' 1007 secret" \
    "press 'Enter Password' 1" \
    "wait-text '$main_title' 1013 Finished!" \
    "close '$main_title'" \
    "wait-exit" \
    "exit-code 0"
  [ -f "$target/readme.txt" ] || fail "nothing extracted to $target"
}

case_progress_runs_once() {
  # The progress dialog runs the extraction from its timer, with and without
  # the finished dialog after it; customised texts in Cyrillic and CJK.
  local title="Распаковка" caption="正在解压文件……" target
  local fin
  for fin in 0 1; do
    target="$SFX_WORK/out$fin"
    local exe log="$SFX_WORK/run$fin.log"
    exe=$(dialog_pack "progress$fin" ShowMain=0 ShowProgress=1 "ShowFin=$fin" \
      "UnzipDir=$(winpath "$target")" "ProgressTitle=$title" "ProgressCaption=$caption")
    local -a finish=("wait-exit" "exit-code 0")
    if [ "$fin" = 1 ]; then
      finish=("wait-window Finished." "expect-text Finished. 1014 Finished." "close Finished." "${finish[@]}")
    fi
    drive "run $exe -log $(winpath "$log")" \
      "wait-window '$title'" \
      "${finish[@]}" || fail "ShowFin $fin"
    [ -f "$target/readme.txt" ] || fail "ShowFin $fin: nothing extracted"
    tr -d '\r' <"$log" >"$log.lf"
    expect_lines "$log.lf" "Displayed progress dialog and set timer..." \
      "Unzipping from progress dialog..." "Unzip complete..." "Created progress dialog..."
    [ "$(grep -c 'Unzipping from progress dialog' "$log.lf")" = 1 ] || fail "more than one run"
  done
}

case_main_auto_temp_planted() {
  # AutoTemp in the main dialog: the drawn name is shown at once but made
  # only at Unzip. A directory planted under that name in between is not
  # used: another name is drawn, shown, extracted into, and the planted one
  # stays as it was.
  local exe out shown unix
  exe=$(dialog_pack temp ShowMain=1 ShowFin=0 AutoTemp=1)
  drive "run $exe" "wait-window '$main_title'" "text '$main_title' 1003" >"$SFX_WORK/shown.txt" ||
    fail "no main dialog"
  shown=$(tr -d '\r' <"$SFX_WORK/shown.txt" | head -n 1)
  unix=$(wine winepath -u "$shown" | tr -d '\r')
  mkdir -p "$unix"
  echo "planted" >"$unix/planted.txt"
  out=$(drive "press '$main_title' 1001" \
    "wait-text '$main_title' 1013 Finished!" \
    "text '$main_title' 1003" \
    "close '$main_title'" \
    "wait-gone '$main_title'") || fail "Unzip failed: $out"
  local used
  used=$(tr -d '\r' <<<"$out" | head -n 1)
  [ "$used" != "$shown" ] || fail "extracted into the planted $shown"
  [[ "$used" =~ ^[A-Z]:\\.*\\qz_[A-Z0-9]{4}$ ]] || fail "not a temporary name: $used"
  [ "$(ls -A "$unix")" = planted.txt ] || fail "the planted directory changed: $(ls -A "$unix")"
  local usedUnix
  usedUnix=$(wine winepath -u "$used" | tr -d '\r')
  [ -f "$usedUnix/readme.txt" ] || fail "nothing extracted into $used"
  rm -rf "$unix" "$usedUnix"
}

case_main_progress_bar() {
  # The main dialog's bar: 0 before Unzip, part-way (moved forward, not yet
  # full) while the failure of the second entry is reported, 100 with
  # "Error!" after it; the run ends with 1.
  local src="$SFX_WORK/src" target="$SFX_WORK/out"
  mkdir -p "$src" "$target/b_blocked.txt"
  head -c 2097152 /dev/urandom >"$src/a_big.bin"
  echo "blocked by a directory of its name" >"$src/b_blocked.txt"
  config "$SFX_WORK/c.xml" ShowMain=1 ShowFin=0 "UnzipDir=$(winpath "$target")"
  "$SFX_PACK" create -q -o "$SFX_WORK/bar.exe" --stub "$stub" --config "$SFX_WORK/c.xml" \
    --level 0 "$src" >/dev/null
  drive "run $(winpath "$SFX_WORK/bar.exe")" \
    "wait-window '$main_title'" \
    "expect-progress '$main_title' 1008 0 0" \
    "press '$main_title' 1001" \
    "wait-window Error" \
    "expect-progress '$main_title' 1008 1 99" \
    "expect-text '$main_title' 1013 ''" \
    "press Error 1" \
    "wait-text '$main_title' 1013 Error!" \
    "expect-progress '$main_title' 1008 100 100" \
    "close '$main_title'" \
    "wait-exit" \
    "exit-code 1"
  cmp "$src/a_big.bin" "$target/a_big.bin" || fail "the first entry is not whole"
}

case_progress_bar_starts_at_0() {
  # The progress dialog's bar is at 0 while the password is asked for, and
  # at 100 once the extraction is done: read while the launch failure of a
  # setup program that is not in the payload is reported (the shell's own
  # box first, then the stub's).
  local target="$SFX_WORK/out"
  local expected="Failed to run missing.exe, working dir = $(winpath "$target") (check to see if this file is in the EXE)"
  config "$SFX_WORK/pw.xml" ShowMain=0 ShowProgress=1 ShowFin=0 Encryption=1 WaitForSetup=1 \
    "UnzipDir=$(winpath "$target")" SetupExe=missing.exe
  pack "$SFX_WORK/pw.exe" --config "$SFX_WORK/pw.xml" --password secret --kdf-iterations 1000
  drive "run $(winpath "$SFX_WORK/pw.exe")" \
    "wait-window 'Enter Password'" \
    "expect-progress '$prog_title' 1008 0 0" \
    "type 'Enter Password' 1007 secret" \
    "press 'Enter Password' 1" \
    "wait-window Error" \
    "expect-progress '$prog_title' 1008 100 100" \
    "press Error 1" \
    "wait-text Error 65535 '$expected'" \
    "press Error 1" \
    "wait-exit" \
    "exit-code 0"
  [ -f "$target/readme.txt" ] || fail "nothing extracted to $target"
}

# detached_pack NAME KEY=VALUE...: the staged payload with sfxsetup.exe as the
# setup program, which records its start in $SFX_WORK/NAME.started and then
# sleeps 12 s; prints the Windows path of the EXE.
detached_pack() {
  local name=$1
  shift
  stage
  config "$SFX_WORK/$name.xml" "$@" "UnzipDir=$(winpath "$SFX_WORK/$name")" SetupExe=sfxsetup.exe \
    "SetupExeArgs=--out $(winpath "$SFX_WORK/$name.started") --sleep 12000 --exit 7"
  pack_payload "$SFX_WORK/$name.exe" "$SFX_WORK/$name.xml"
  winpath "$SFX_WORK/$name.exe"
}

case_setup_not_waited_in_dialogs() {
  # WaitForSetup 0: the main dialog closes itself after starting the setup
  # program, the progress dialog's run ends, and neither waits for it (it
  # sleeps 12 s); its exit code is not handed on.
  local exe
  exe=$(detached_pack main ShowMain=1 ShowProgress=0 ShowFin=0 WaitForSetup=0)
  drive "run $exe" "wait-window '$main_title'" "press '$main_title' 1001" \
    "wait-gone '$main_title' 8000" "wait-exit 8000" "exit-code 0" ||
    fail "main dialog: the run waited or did not end"
  wait_file "$SFX_WORK/main.started"
  exe=$(detached_pack progress ShowMain=0 ShowProgress=1 ShowFin=0 WaitForSetup=0)
  drive "run $exe" "wait-window '$prog_title'" "wait-exit 8000" "exit-code 0" ||
    fail "progress dialog: the run waited or did not end"
  wait_file "$SFX_WORK/progress.started"
}

case_auto_exit_in_dialogs() {
  # AutoExit 1: the process ends with 0 as soon as the setup program has
  # started, even though it is to be waited for (it sleeps 12 s and ends
  # with 7) and the finished dialog is configured.
  local exe mode
  for mode in main progress; do
    if [ "$mode" = main ]; then
      exe=$(detached_pack main ShowMain=1 ShowProgress=0 ShowFin=1 WaitForSetup=1 AutoExit=1)
      drive "run $exe" "wait-window '$main_title'" "press '$main_title' 1001" \
        "wait-exit 8000" "exit-code 0" || fail "main dialog: no exit at the setup start"
    else
      exe=$(detached_pack progress ShowMain=0 ShowProgress=1 ShowFin=1 WaitForSetup=1 AutoExit=1)
      drive "run $exe" "wait-window '$prog_title'" "wait-exit 8000" "exit-code 0" ||
        fail "progress dialog: no exit at the setup start"
    fi
    wait_file "$SFX_WORK/$mode.started"
  done
}
