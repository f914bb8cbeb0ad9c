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
  # set give the window's size, centred. The extra width goes to the caption,
  # the folder box and the progress bar; Unzip and Close stay on the right
  # edge with their size, Browse beside the folder box; the extra height
  # goes to the caption, and the controls below it keep their order.
  local exe out builtin half resized
  local -a ids=(0 1001 2 1004 1003 1008 1014 1017)
  local -a probe=()
  local id
  for id in "${ids[@]}"; do probe+=("rect '$main_title' $id"); done
  probe+=("expect-layout '$main_title'" "close '$main_title'" "wait-exit" "exit-code 0")
  exe=$(dialog_pack plain ShowMain=1)
  builtin=$(drive "run $exe" "wait-window '$main_title'" "${probe[@]}" | tr -d '\r')
  exe=$(dialog_pack half ShowMain=1 MainWidth=500 MainHeight=0)
  half=$(drive "run $exe" "wait-window '$main_title'" "${probe[@]}" | tr -d '\r')
  [ "$half" = "$builtin" ] || fail "500 by 0 changed the dialog:"$'\n'"$builtin"$'\n'"$half"

  exe=$(dialog_pack both ShowMain=1 MainWidth=640 MainHeight=260)
  resized=$(drive "run $exe" "wait-window '$main_title'" "${probe[@]}" | tr -d '\r')
  # client X Y W H of line N (1-based, in the order of ids) of a result.
  client() { sed -n "${2}p" <<<"$1" | sed -E 's/.* client //'; }
  local old new
  old=$(rect_of "$(sed -n 1p <<<"$builtin")")
  new=$(rect_of "$(sed -n 1p <<<"$resized")")
  local ox oy ow oh nx ny nw nh
  read -r ox oy ow oh <<<"$old"
  read -r nx ny nw nh <<<"$new"
  [ "$nw $nh" = "640 260" ] || fail "resized to [$new], built-in [$old]"
  local dx=$((2 * nx + nw - 2 * ox - ow)) dy=$((2 * ny + nh - 2 * oy - oh))
  ((dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1)) || fail "not centred: [$new], built-in [$old]"
  local extra=$((640 - ow)) n
  # Unzip and Close: moved right by the extra width, same size and height.
  for n in 2 3; do
    local bx by bw bh rx ry rw rh
    read -r bx by bw bh <<<"$(client "$builtin" $n)"
    read -r rx ry rw rh <<<"$(client "$resized" $n)"
    [ "$rx $ry $rw $rh" = "$((bx + extra)) $by $bw $bh" ] ||
      fail "button ${ids[n - 1]} at [$rx $ry $rw $rh], built-in [$bx $by $bw $bh], extra $extra"
  done
  # The folder box and the progress bar are wider by the extra width, and
  # Browse keeps its distance to the folder box.
  local fx fy fw fh gx gy gw gh px py pw ph qx qy qw qh
  read -r fx fy fw fh <<<"$(client "$builtin" 5)"
  read -r gx gy gw gh <<<"$(client "$resized" 5)"
  ((gw == fw + extra)) || fail "folder box $fw wide, now $gw, extra $extra"
  read -r px py pw ph <<<"$(client "$builtin" 6)"
  read -r qx qy qw qh <<<"$(client "$resized" 6)"
  ((qw == pw + extra)) || fail "progress bar $pw wide, now $qw, extra $extra"
  local ax ay aw ah cx cy cw chh
  read -r ax ay aw ah <<<"$(client "$builtin" 4)"
  read -r cx cy cw chh <<<"$(client "$resized" 4)"
  ((cx - (gx + gw) == ax - (fx + fw) && cw == aw)) || fail "Browse at [$cx $cy $cw $chh]"
  # The extra height is the caption's: what is below it moves down by it.
  local kx ky kw kh lx ly lw lh
  read -r kx ky kw kh <<<"$(client "$builtin" 7)"
  read -r lx ly lw lh <<<"$(client "$resized" 7)"
  ((lh - kh == 260 - oh && ly == ky)) || fail "caption [$lx $ly $lw $lh], built-in [$kx $ky $kw $kh]"
  ((qy - py == 260 - oh && gy - fy == 260 - oh)) || fail "the controls below the caption did not move down"

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
    "exit-code 4"
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

# Texts that fit, the icon and the resolution.

long_caption="Please choose where Acme Photo Studio should be installed. The setup copies about 300 MB of program files, sample images and colour profiles into that folder and creates shortcuts on the desktop and in the start menu. Close all other programs before continuing."
long_word="C:\\Programs\\Acme\\Photo-Studio\\Version-12\\Profiles\\Colour-Management\\Printers\\Calibrated"

# fail_closing TITLE MESSAGE: closes the still running stub's dialog TITLE
# (whose process holds the test's output open) and fails.
fail_closing() {
  drive "close '$1'" "wait-gone '$1' 10000" >/dev/null 2>&1 || true
  fail "$2"
}

# expect_desktop_icon OUTPUT ICO TITLE: the X window named in the `icon` line
# of OUTPUT shows the small image of ICO (_NET_WM_ICON, what a task bar
# draws: 16x16 at 96 DPI, 32x32 at 192).
expect_desktop_icon() {
  local x11
  x11=$(sed -n 's/^big .* x11 \(0x[0-9a-f]*\)$/\1/p' <<<"$1" | head -n 1)
  [ -n "$x11" ] && [ "$x11" != 0x00000000 ] || fail_closing "$3" "no X window: $1"
  xprop -id "$x11" -notype -f _NET_WM_ICON 32c _NET_WM_ICON >"$SFX_WORK/icon.txt" ||
    fail_closing "$3" "xprop cannot read $x11"
  python3 "$here/icon_pixels.py" "$2" <"$SFX_WORK/icon.txt" ||
    fail_closing "$3" "the dialog's icon is not the small image of $2"
}

# texts_fit_runs DPI: two runs that show every dialog with long texts (and
# the password dialog with its built-in one) and check each dialog's layout:
# every text measured with its control's font fits the control, no controls
# overlap, none leaves the client area. The first run has the stub's own
# icon, the second the packager's.
texts_fit_runs() {
  local dpi=$1 target="$SFX_WORK/out" out fin="Setup complete"
  local exe="$SFX_WORK/fit.exe" icon="$here/../../src/app/sfxstub.ico"
  local brand="$here/../data/branding/brand.ico"
  # Main (long caption, label, button texts; a size below the built-in one),
  # then the built-in password text, then a long finished caption.
  config "$SFX_WORK/fit.xml" ShowMain=1 ShowFin=1 Encryption=1 "MainCaption=$long_caption" \
    "MainUnzipLabel=Install Acme Photo Studio into this folder (it is created when it does not exist yet):" \
    "MainUnzipBtn=Install now" "MainCloseBtn=Cancel setup" "MainBrowseBtn=Choose another folder…" \
    MainWidth=100 MainHeight=40 'DefaultDir=%TEMP%\Acme//Photo' \
    "FinTitle=$fin" "FinCaption=Acme Photo Studio was installed into $long_word. $long_caption" \
    "FinOkBtn=Close and start Acme Photo Studio"
  pack "$exe" --config "$SFX_WORK/fit.xml" --password secret
  # Into a file: the stub, still running, inherits the driver's output.
  drive "run $(winpath "$exe")" \
    "wait-window '$main_title'" \
    "expect-layout '$main_title'" \
    "icon '$main_title'" \
    "rect '$main_title' 1008" \
    "text '$main_title' 1003" >"$SFX_WORK/main.txt" || fail "$dpi DPI: main dialog"
  out=$(tr -d '\r' <"$SFX_WORK/main.txt")
  expect_desktop_icon "$out" "$icon" "$main_title"
  # The bar is 307 dialog units wide, about 460 pixels at 96 DPI and twice
  # that at 192, and here wider by what the button texts added.
  local bar
  bar=$(sed -nE 's/^screen [-0-9]+ [-0-9]+ ([0-9]+) .*/\1/p' <<<"$out")
  ((bar * 96 / dpi > 440 && bar * 96 / dpi < 700)) ||
    fail_closing "$main_title" "$dpi DPI: the progress bar is $bar pixels wide"
  # The folder box shows DefaultDir as the extraction will use it.
  local temp
  temp=$(wine cmd /c echo %TEMP% | tr -d '\r')
  [ "$(tail -n 1 <<<"$out")" = "$temp\\Acme\\Photo" ] ||
    fail_closing "$main_title" "$dpi DPI: the folder box shows $(tail -n 1 <<<"$out"), not $temp\\Acme\\Photo"
  drive "type '$main_title' 1003 '$(winpath "$target")'" \
    "press '$main_title' 1001" \
    "wait-window 'Enter Password'" \
    "expect-text 'Enter Password' 1014 'This self-extracting EXE is encrypted. Enter a password to unzip:'" \
    "expect-layout 'Enter Password'" \
    "type 'Enter Password' 1007 secret" \
    "press 'Enter Password' 1" \
    "wait-window '$fin'" \
    "expect-layout '$fin'" \
    "expect-layout '$main_title'" \
    "press '$fin' 1015" \
    "wait-gone '$main_title'" || fail "$dpi DPI: password or finished dialog"
  [ -f "$target/readme.txt" ] || fail "$dpi DPI: nothing extracted"

  # Progress (long caption) with a long password caption over it; the
  # packager's icon on both.
  exe="$SFX_WORK/fit2.exe"
  config "$SFX_WORK/fit2.xml" ShowMain=0 ShowProgress=1 ShowFin=0 Encryption=1 \
    "UnzipDir=$(winpath "$target")" "ProgressCaption=$long_caption" \
    "PwCaption=Enter the password printed on the back of the Acme Photo Studio box. It has sixteen letters and digits in four groups, for example ABCD-1234-EFGH-5678." \
    "PwdOkBtn=Unlock the archive" "PwdCancelBtn=Give up"
  pack "$exe" --config "$SFX_WORK/fit2.xml" --password secret --icon "$brand"
  drive "run $(winpath "$exe")" \
    "wait-window 'Enter Password'" \
    "expect-layout 'Enter Password'" \
    "expect-layout '$prog_title'" \
    "icon '$prog_title'" >"$SFX_WORK/progress.txt" || fail "$dpi DPI: progress and password dialogs"
  out=$(tr -d '\r' <"$SFX_WORK/progress.txt")
  expect_desktop_icon "$out" "$brand" "$prog_title"
  drive "press 'Enter Password' 2" "wait-gone '$prog_title'" || fail "$dpi DPI: Cancel"
}

case_dialog_texts_fit() {
  texts_fit_runs 96
  # A caption longer than the screen: the dialog grows to the height of the
  # work area (the screen, without a task bar) and no further, the caption
  # scrolls in a read-only box with the whole text, nothing overlaps.
  local huge="" n out exe
  for n in $(seq 40); do huge+="$n. $long_caption "; done
  exe=$(dialog_pack huge ShowMain=1 "MainCaption=${huge% }")
  drive "run $exe" "wait-window '$main_title'" "expect-layout '$main_title'" \
    "layout '$main_title'" "rect '$main_title'" "expect-text '$main_title' 1014 '${huge% }'" \
    "close '$main_title'" "wait-exit" "exit-code 0" >"$SFX_WORK/huge.txt" || fail "a caption longer than the screen"
  out=$(tr -d '\r' <"$SFX_WORK/huge.txt")
  grep -qE '^1014 Edit ' <<<"$out" || fail "the long caption does not scroll: $out"
  local y h
  read -r _ y _ h <<<"$(rect_of "$(grep '^screen' <<<"$out")")"
  ((y >= 0 && y + h <= 1024 && h > 900)) || fail "the dialog is not as tall as the screen: $out"
}

# set_dpi N: the resolution of the Wine prefix (LogPixels) for programs
# started from now on.
set_dpi() {
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n\n[HKEY_CURRENT_CONFIG\\Software\\Fonts]\n"LogPixels"=dword:%08x\n' \
    "$1" "$1" >"$SFX_WORK/dpi.reg"
  wine regedit /S "$(winpath "$SFX_WORK/dpi.reg")" || fail "cannot set LogPixels"
}

case_dialog_texts_fit_192dpi() {
  # The same at 192 DPI: the dialogs are twice as large (the font and the
  # dialog units scale) and their texts fit as well.
  set_dpi 192
  trap 'set_dpi 96' EXIT
  texts_fit_runs 192
}
