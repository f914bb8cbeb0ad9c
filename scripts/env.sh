# Sourced by the scripts: paths and the Wine environment (a 32-bit prefix
# kept inside the build folder, created on first use).
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEARCH=win32
export WINEDEBUG=-all
export WINEPREFIX="$repo/build/wineprefix"
# A crashing program fails at once instead of waiting in the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

wine_init() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating a 32-bit prefix"
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
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
