# Sourced by scripts that run Windows programs. Provides:
#   wine_env_start <prefix-dir>   prefix ready, persistent wineserver, Xvfb unless DISPLAY is set
#   wine_env_stop                 stops what wine_env_start started (call from a trap)
# Everything started here is stopped again, on success, failure and interruption.

WINE_BIN=/usr/lib/wine
export PATH="$WINE_BIN:$PATH"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
_wine_xvfb_pid=""
_wine_started=""

wine_env_start() {
  export WINEPREFIX=$1
  mkdir -p "$WINEPREFIX"
  if [ -z "${DISPLAY:-}" ] || [ -n "${WINE_ENV_OWN_X:-}" ]; then
    local n=91
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    _wine_xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/.brisq-ready" ]; then
    echo "wine: preparing prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    local reg="$WINEPREFIX/fonts.reg"
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Microsoft YaHei UI"="WenQuanYi Micro Hei"\r\n' > "$reg"
    wine64 regedit "$reg" >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.brisq-ready"
  fi
  wineserver -p
  _wine_started=1
  # The first Wine process starts Wine's own services, which stay alive with
  # the persistent server; start them here with no output attached, or they
  # keep the pipes of whoever came first (ctest's discovery) open.
  wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
  # Likewise the desktop process, which the first program that needs a
  # window starts and hands its own standard streams.
  wine64 rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

wine_env_stop() {
  if [ -n "$_wine_started" ]; then
    wineserver -k >/dev/null 2>&1 || true
    _wine_started=""
  fi
  if [ -n "$_wine_xvfb_pid" ]; then
    kill "$_wine_xvfb_pid" >/dev/null 2>&1 || true
    wait "$_wine_xvfb_pid" 2>/dev/null || true
    _wine_xvfb_pid=""
  fi
}
