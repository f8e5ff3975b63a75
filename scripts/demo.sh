#!/usr/bin/env bash
# The demo for now: a test projector under Wine, printing what its runtime received.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
demo="$WINEPREFIX/drive_c/demo"
rm -rf "$demo" && mkdir -p "$demo"
cp "$root/build/win64/launcher.exe" "$demo/DEMO.EXE"
cp "$root/build/win64/runtime/test/cine.dll" "$demo/cine.dll"
probe="$root/build/win64/tests/probe.exe"
out=$(/usr/lib/wine/wine64 "$probe" run --env 'CINE_REPORT=C:\demo\report.txt' \
  --args '-play "hello world"' 'C:\demo\DEMO.EXE')
echo "launcher exit code: $(sed -n 's/^exit=//p' <<<"$out")"
echo "what the runtime received:"
sed 's/^/  /' "$demo/report.txt" | tr -d '\r'
