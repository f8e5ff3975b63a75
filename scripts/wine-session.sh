#!/usr/bin/env bash
# Sourced by ./run: 32-bit Wine from an i386 root, a throwaway prefix under build/, one
# persistent wineserver, and an Xvfb display, all ended when the calling shell exits.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CINE_BUILD:-$root/build}"
export WINEPREFIX="$build/wine/prefix"
export WINEDEBUG=-all
# Wine's .NET and HTML engines would ask to be downloaded; the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

start_wine_session() {
  # Wine runs chrooted into the i386 root, so the kernel must run i386 code: every x86-64
  # Linux with its 32-bit support on does, as Debian's and the usual CI kernels do.
  if ! arch-test -n i386 >/dev/null 2>&1; then
    echo "this kernel runs no i386 code, which 32-bit Wine needs (CONFIG_IA32_EMULATION)" >&2
    return 2
  fi
  CINE_WINE32_ROOT="$("$root/scripts/wine32-root.sh")"
  export CINE_WINE32_ROOT
  # Every Wine call binds these folders into the root: the sources and the build.
  export CINE_WINE32_BINDS="$root"
  [[ "$build/" == "$root/"* ]] || CINE_WINE32_BINDS+=":$build"
  export CINE_WINE="$root/scripts/wine32"
  echo "32-bit Wine: $("$CINE_WINE" --version 2>/dev/null || echo unknown version)"

  # Xvfb picks a free display itself: one whose socket no other server holds, also
  # a server of another root or container sharing this network namespace.
  local numberFile
  numberFile="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [[ -s "$numberFile" ]] && break; sleep 0.1; done
  export DISPLAY=":$(tr -d '\n' <"$numberFile")"
  rm -f "$numberFile"
  trap stop_wine_session EXIT
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$CINE_WINE" wineboot -i >/dev/null 2>&1
  # wineboot's own server lingers a few seconds and saves the new prefix as it ends;
  # after it, one persistent server keeps every later start quick.
  "$CINE_WINE" --server -w || true
  "$CINE_WINE" --server -p || true
}

stop_wine_session() {
  "$CINE_WINE" --server -k >/dev/null 2>&1 || true
  [[ -n "${XVFB_PID:-}" ]] && kill "$XVFB_PID" 2>/dev/null || true
}
