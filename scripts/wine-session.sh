#!/usr/bin/env bash
# Sourced by ./run: a throwaway Wine prefix under build/, one persistent wineserver,
# and an Xvfb display, all ended when the calling shell exits.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${CINE_BUILD:-$root/build}/wine/prefix"
export WINEDEBUG=-all
# Wine's .NET and HTML engines would ask to be downloaded; the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

start_wine_session() {
  local display=99
  while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$display"
  for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  "$WINE" wineboot -i >/dev/null 2>&1
  # wineboot's own server lingers a few seconds and saves the new prefix as it ends;
  # after it, one persistent server keeps every later start quick.
  "$WINESERVER" -w || true
  "$WINESERVER" -p || true
  trap stop_wine_session EXIT
}

stop_wine_session() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  [[ -n "${XVFB_PID:-}" ]] && kill "$XVFB_PID" 2>/dev/null || true
}
