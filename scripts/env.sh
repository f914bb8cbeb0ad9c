# Sourced by the scripts: paths and the Wine environment (a 32-bit prefix
# kept inside the build folder, created on first use).
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEARCH=win32
export WINEDEBUG=-all
export WINEPREFIX="$repo/build/wineprefix"
# A crashing program fails at once instead of waiting in the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

# Picks the Windows build that the Windows tests run and sets win_preset,
# win_bin, win_run (the command prefix that runs a stage: scripts/run32.sh)
# and wine_how (how Wine runs, for the messages and the summary).
# The default is win32, the stub as it ships, under 32-bit Wine: natively
# where the kernel runs 32-bit programs, otherwise through the i386 user-mode
# emulator (scripts/run32.sh chooses). SFX_WIN_PRESET=win64 chooses the same
# code built for 64-bit Windows instead (see wine64_env), which needs no
# emulator. On both kinds of kernel and for both presets a stage runs inside
# run32.sh's namespace, so every Wine server and process it started ends
# with it. Call after scripts/setup.sh.
wine_select() {
  win_preset=${SFX_WIN_PRESET:-win32}
  win_bin="$repo/build/$win_preset/bin"
  if [ "$win_preset" = win64 ]; then
    wine64_env
    win_run=(env SFX_RUN32_MODE=direct bash "$repo/scripts/run32.sh")
    wine_how="64-bit Wine (the 64-bit build of the same code)"
  elif /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    win_run=(bash "$repo/scripts/run32.sh")
    wine_how="native 32-bit (this kernel runs 32-bit programs)"
  else
    win_run=(bash "$repo/scripts/run32.sh")
    wine_how="emulated (this kernel runs no 32-bit programs; qemu-i386 runs 32-bit Wine)"
  fi
  export WINE_HOW="$wine_how"
}

# The environment of 64-bit Wine, in a prefix of its own, for the 64-bit
# twin of the stub (preset win64). Debian's "wine" starts the 32-bit loader
# whenever that is installed, so a "wine" that starts the 64-bit one goes
# first in PATH.
wine64_env() {
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
}

# wine_stage COMMAND [ARG...]: runs COMMAND in the Wine environment of
# win_preset, through win_run (so nothing it starts outlives it), after
# wine_init, with one persistent wineserver for the whole command (a Wine
# program then never meets a server on its way out, and each start is
# quicker); ends the server and exits with COMMAND's code. COMMAND is a program or a script: the
# caller's functions are not seen there.
wine_stage() {
  "${win_run[@]}" bash -c 'source "$1/scripts/env.sh"
    [ "$2" != win64 ] || wine64_env
    shift 2
    wine_init
    # The server and the Wine services that the first program starts stay
    # for the whole command: they must not hold its output open.
    wineserver -p >/dev/null 2>&1 </dev/null
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
    rc=0
    "$@" || rc=$?
    wineserver -k >/dev/null 2>&1 || true
    exit "$rc"' wine_stage "$repo" "$win_preset" "$@"
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
