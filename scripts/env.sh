# Sourced by the scripts: paths and the Wine environment (a 32-bit prefix
# kept inside the build folder, created on first use).
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEARCH=win32
export WINEDEBUG=-all
export WINEPREFIX="$repo/build/wineprefix"
# A crashing program fails at once instead of waiting in the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

# Picks the Windows build that Wine runs here and sets win_preset and win_bin:
# win32, the stub as it ships; or, where the kernel runs no 32-bit programs
# (its 32-bit ABI switched off), win64, the same code built for 64-bit
# Windows, run by 64-bit Wine in a prefix of its own. Debian's "wine" starts
# the 32-bit loader whenever that is installed, so a "wine" that starts the
# 64-bit one goes first in PATH. SFX_WIN_PRESET chooses by hand. Call after
# scripts/setup.sh.
wine_select() {
  win_preset=${SFX_WIN_PRESET:-}
  if [ -z "$win_preset" ]; then
    win_preset=win32
    /lib/ld-linux.so.2 --version >/dev/null 2>&1 || win_preset=win64
  fi
  win_bin="$repo/build/$win_preset/bin"
  if [ "$win_preset" = win64 ]; then
    echo "wine: this kernel runs no 32-bit programs; the Windows tests run" \
      "the same code built for 64-bit Windows under 64-bit Wine" >&2
    export WINEARCH=win64
    export WINEPREFIX="$repo/build/wineprefix64"
    export WINELOADER=/usr/lib/wine/wine64
    local shim="$repo/build/wine64-bin" name
    mkdir -p "$shim"
    for name in wine wine-stable; do
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$shim/$name"
      chmod +x "$shim/$name"
    done
    case ":$PATH:" in *":$shim:"*) ;; *) export PATH="$shim:$PATH" ;; esac
  fi
}

wine_init() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating a $WINEARCH prefix"
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w || true
    # A first program and the end of its server, so that the first test
    # does not meet the new prefix's server on its way out.
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
    wineserver -w || true
  fi
}

# Starts one Xvfb for the Wine runs and exports DISPLAY; xvfb_stop ends it.
xvfb_start() {
  local n
  for n in $(seq 90 120); do
    if [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=":$n"
      for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
      done
      kill "$xvfb_pid" 2>/dev/null || true
    fi
  done
  echo "xvfb: no display could be started" >&2
  return 1
}

xvfb_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
}

build_preset() {  # build_preset PRESET [extra cmake args]
  local preset=$1
  shift
  cmake --preset "$preset" -DSFX_WERROR=ON "$@" >/dev/null
  cmake --build --preset "$preset"
}
