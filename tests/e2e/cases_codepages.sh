# The system's ANSI code page: the stub runs under Wine in a locale whose
# code page is 932, 936 or 1251. Its configuration is a file in that code
# page declared "ansi" (the payload's xmlConfig names the file), its texts
# reach the dialogs and the run log, and the working directory's name goes
# to the run log in the ANSI code page.

# codepage_run LOCALE CHARSET TITLE CAPTION FIN_TITLE FIN_CAPTION DIR CWD:
# CHARSET is iconv's name of the locale's ANSI code page; DIR is the unzip
# directory's name and CWD the working directory's, both in $SFX_WORK.
codepage_run() {
  local locale=$1 charset=$2 title=$3 caption=$4 fin=$5 fincap=$6 dir=$7 cwd=$8
  locale -a | grep -qix "${locale%.*}.utf8" ||
    fail "locale $locale is not installed (scripts/setup.sh generates it)"
  mkdir -p "$SFX_WORK/$cwd"
  cd "$SFX_WORK/$cwd"
  local target="$SFX_WORK/$dir"
  {
    echo '<?xml version="1.0" encoding="ansi"?>'
    echo '<SfxConfig>'
    echo '  <ShowMain>1</ShowMain><ShowProgress>0</ShowProgress><ShowFin>1</ShowFin>'
    echo "  <MainTitle>$title</MainTitle>"
    echo "  <MainCaption>$caption</MainCaption>"
    echo "  <FinTitle>$fin</FinTitle>"
    echo "  <FinCaption>$fincap</FinCaption>"
    echo "  <UnzipDir>$(winpath "$target")</UnzipDir>"
    echo '</SfxConfig>'
  } | iconv -f UTF-8 -t "$charset" >cfg.xml
  # A short xmlConfig ending in ".xml" names the file to load, relative to
  # the working directory.
  printf 'cfg.xml' >ptr.xml
  "$SFX_PACK" create -q -o a.exe --stub "$stub" --config ptr.xml "$here/../../examples/hello" >/dev/null
  export LANG=$locale LC_ALL=$locale
  drive "run '$(winpath "$PWD/a.exe")' -log run.log" \
    "wait-window '$title'" \
    "expect-text '$title' 1014 '$caption'" \
    "expect-text '$title' 1003 '$(winpath "$target")'" \
    "press '$title' 1001" \
    "wait-window '$fin'" \
    "expect-text '$fin' 1014 '$fincap'" \
    "press '$fin' 1015" \
    "wait-exit" \
    "exit-code 0"
  cmp -s "$here/../../examples/hello/readme.txt" "$target/readme.txt" ||
    fail "nothing extracted to $target"
  # The configuration and the unzip directory are written as UTF-8, the
  # working directory in the ANSI code page.
  tr -d '\r' <run.log >run.log.lf
  expect_lines run.log.lf \
    "<MainTitle>$title</MainTitle>" \
    "<FinCaption>$fincap</FinCaption>" \
    "unzipDir = [$(winpath "$target")]"
  local ansi
  ansi=$(printf 'Current working directory: %s' "$(winpath "$PWD")" | iconv -f UTF-8 -t "$charset")
  LC_ALL=C grep -qxF -- "$ansi" run.log.lf ||
    fail "run log lacks the working directory in $charset:"$'\n'"$(cat run.log.lf)"
}

case_codepage_932() {
  # Shift_JIS: trail bytes 0x5C (表, ソ) and single-byte katakana.
  codepage_run ja_JP.UTF-8 CP932 "日本語の展開" "すべてのファイルを展開します。表示ｶﾅ" \
    "完了" "ソフトを展開しました。" "展開先ソ" "作業表"
}

case_codepage_936() {
  # GBK: a character outside GB2312 (镕) and the euro sign, byte 0x80.
  codepage_run zh_CN.UTF-8 CP936 "解压缩程序" "正在解压所有文件，价格€5" \
    "完成" "文件已解压。镕" "目标目录" "工作目录"
}

case_codepage_1251() {
  # Cyrillic, with the euro sign (0x88) and the numero sign (0xB9).
  codepage_run ru_RU.UTF-8 CP1251 "Распаковка" "Все файлы будут распакованы. Цена 5€ №1" \
    "Готово" "Файлы распакованы." "Папка" "Рабочая"
}
