#!/usr/bin/env bash
# The main job: builds the packer and the stub, packs the example folder into
# a self-extractor (build/demo/hello.exe), runs it under Wine inside Xvfb and
# shows what it did: the windows it opened, their texts, a screenshot and
# the exit code. Installs what is missing first.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$repo"
bash scripts/setup.sh

echo "== building the packer (native-release) and the stub (win32)"
build_preset native-release >/dev/null
build_preset win32 >/dev/null

demo="$repo/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
echo "== packing examples/hello with examples/hello.xml"
build/native-release/bin/sfxpack create -o "$demo/hello.exe" --stub build/win32/bin/sfxstub.exe \
  --config examples/hello.xml examples/hello

wine_init
xvfb_start
trap xvfb_stop EXIT

exe_win="Z:${demo//\//\\}\\hello.exe"
title="Marlith Zip Self-Extractor"
echo "== running hello.exe under Wine"
# The driver runs the stub, reads its windows, holds them open for a moment
# for the screenshot, then presses Close and checks the exit code.
wine build/win32/bin/sfxdriver.exe -t 20000 \
  "run '$exe_win'" \
  "wait-window '$title'" \
  "list" \
  "static-texts '$title'" \
  "sleep 3000" \
  "press '$title' 2" \
  "wait-exit" \
  "exit-code" >"$demo/driver.txt" 2>&1 &
driver_pid=$!
for _ in $(seq 100); do
  grep -q '^1017 ' "$demo/driver.txt" 2>/dev/null && break
  sleep 0.2
done
if command -v import >/dev/null; then
  import -display "$DISPLAY" -window root "$demo/screenshot.png" 2>/dev/null &&
    echo "screenshot: build/demo/screenshot.png"
fi
rc=0
wait "$driver_pid" || rc=$?
cat "$demo/driver.txt"
if [ "$rc" != 0 ]; then
  echo "demo: the stub did not run as expected" >&2
  exit 1
fi
echo "== the stub found its payload (no 'Failed to find marker.' box), showed its main"
echo "   dialog and ended with the exit code above after Close"
