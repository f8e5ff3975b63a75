#!/usr/bin/env bash
# The demo: packs DEMO.EXE from the shipped PE32 launcher with cinepack (demo runtime
# compressed, a second entry stored, the movie compiled from text), plays it under
# 32-bit Wine in the Xvfb display that ./run started, saves screenshots of the splash
# and of the movie, and tells what happened. Then it plays SIGNED.EXE, the same projector
# signed by cinepack build --sign with a certificate made on the fly. The same DEMO.EXE
# runs on 32-bit Windows.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${CINE_BUILD:-$root/build}"
host="$build/host"
out="$build/demo"
started="${RUN_STARTED:-$(date +%s.%N)}"
wine="$CINE_WINE"

rm -rf "$out" && mkdir -p "$out/pack"

# The movie and the second, stored entry.
"$host/cinemovie" build "$root/runtime/demo/demo_movie.txt" -o "$out/pack/DEMO.QMV" >/dev/null
cat >"$out/pack/CREDITS.TXT" <<'EOF'
Cinemorph demo projector
A movie made of six frames, compiled from runtime/demo/demo_movie.txt.
EOF

# The splash bitmap beside the executable: its name with ".BMP". The fonts are named by
# file, so that no font configuration of the machine is needed.
font=/usr/share/fonts/truetype/dejavu
convert -size 400x200 xc:'#10243C' -fill '#F2C14E' -draw "circle 60,100 60,60" \
  -font "$font/DejaVuSans-Bold.ttf" -pointsize 36 -annotate +120+90 'Cinemorph' \
  -font "$font/DejaVuSans.ttf" -fill '#9FC5E8' -pointsize 16 \
  -annotate +122+125 'loading the movie...' BMP3:"$out/pack/DEMO.BMP"

"$host/cinepack" build --stub "$build/win32/launcher.exe" --movie "$out/pack/DEMO.QMV" \
  --extract "$build/win32/runtime/demo/cine.dll:compress" --extract "$out/pack/CREDITS.TXT" \
  -o "$out/DEMO.EXE" >/dev/null
cp "$out/pack/DEMO.BMP" "$out/DEMO.BMP"

# The signed one: its cine.dll is signed before it is packed, then the projector.
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Cinemorph Demo" \
  -keyout "$out/pack/maker.key" -out "$out/pack/maker.pem" 2>/dev/null
"$host/cinepack" build --stub "$build/win32/launcher.exe" --movie "$out/pack/DEMO.QMV" \
  --extract "$build/win32/runtime/demo/cine.dll:compress" --extract "$out/pack/CREDITS.TXT" \
  --sign "$out/pack/maker.pem" "$out/pack/maker.key" -o "$out/SIGNED.EXE" >/dev/null
cp "$out/pack/DEMO.BMP" "$out/SIGNED.BMP"

# Play it from drive C of the Wine prefix, with Wine's own temporary folder.
play="$WINEPREFIX/drive_c/demo"
rm -rf "$play" && mkdir -p "$play"
cp "$out/DEMO.EXE" "$out/DEMO.BMP" "$out/SIGNED.EXE" "$out/SIGNED.BMP" "$play/"
# Wine's own temporary folder, where the launcher makes its work folders.
temp="$("$wine" winepath -u "$("$wine" cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')" 2>/dev/null)"
mkdir -p "$temp"
# An abandoned work folder, as a killed run leaves it: its lock file is not held.
abandoned="$temp/TempFolder.qzq"
mkdir -p "$abandoned/sub" && : >"$abandoned/Quorvantix.lok" && echo old >"$abandoned/sub/cine.dll"
before=$(cd "$temp" && ls -d TempFolder.* 2>/dev/null | sort)

probe="$(sed 's|/|\\|g; s|^|Z:|' <<<"$build/win32/tests/probe.exe")"
"$wine" "$probe" run --args '-log C:\demo\playbill.txt' --timeout 60000 'C:\demo\DEMO.EXE' \
  >"$out/probe.txt" 2>/dev/null &
runner=$!

window_up() { xwininfo -root -tree 2>/dev/null | grep -q "\"$1\""; }
wait_for_window() {  # title, tenths of a second
  for _ in $(seq "$2"); do window_up "$1" && return 0; sleep 0.1; done
  return 1
}
splash_shot="" movie_shot="" work_folder=""
if wait_for_window "Quorvantix Splash Screen" 100; then
  sleep 0.3
  import -window root "$out/splash.png" && splash_shot="$out/splash.png"
fi
if wait_for_window "Cinemorph Demo" 150; then
  work_folder=$(cd "$temp" && comm -13 <(echo "$before") <(ls -d TempFolder.* 2>/dev/null | sort) | head -1)
  sleep 1.2
  import -window root "$out/movie.png" && movie_shot="$out/movie.png"
fi
wait "$runner" || true
exit_code=$(sed -n 's/^exit=//p' "$out/probe.txt" | tr -d '\r')
cp "$play/playbill.txt" "$out/playbill.txt" 2>/dev/null || true

# The signed projector, played to its end without screenshots.
"$wine" "$probe" run --args '-log C:\demo\signed.txt' --timeout 60000 'C:\demo\SIGNED.EXE' \
  >"$out/signed-probe.txt" 2>/dev/null || true
signed_exit=$(sed -n 's/^exit=//p' "$out/signed-probe.txt" | tr -d '\r')
cp "$play/signed.txt" "$out/signed.txt" 2>/dev/null || true
signed_check="$("$host/cinepack" verify --ca "$out/pack/maker.pem" "$out/SIGNED.EXE" || true)"

gone() { [[ -e "$temp/$1" ]] && echo "still there" || echo "removed"; }
echo
echo "Demo projector: $out/DEMO.EXE ($(stat -c %s "$out/DEMO.EXE") bytes, PE32, run under $("$wine" --version))"
echo "  splash bitmap:       DEMO.BMP beside it"
echo "  work folder used:    ${work_folder:-none seen} -> $( [[ -n "$work_folder" ]] && gone "$work_folder" || echo -)"
echo "  abandoned folder:    TempFolder.qzq (made before the run) -> $(gone TempFolder.qzq)"
if [[ -f "$out/playbill.txt" ]]; then
  echo "  the runtime saw:     $(tr '\n' ';' <"$out/playbill.txt" | sed 's/;$//; s/;/, /g')"
fi
echo "  launcher exit code:  ${exit_code:-unknown}"
echo "  splash screenshot:   ${splash_shot:-not taken}"
echo "  movie screenshot:    ${movie_shot:-not taken}"
echo
echo "Signed projector: $out/SIGNED.EXE ($(stat -c %s "$out/SIGNED.EXE") bytes, certificate made on the fly)"
sed -n 's|^.*/SIGNED.EXE: |  |p' <<<"$signed_check" | sed -n '2,$p'
if [[ -f "$out/signed.txt" ]]; then
  echo "  the runtime saw:     $(tr '\n' ';' <"$out/signed.txt" | sed 's/;$//; s/;/, /g')"
fi
echo "  launcher exit code:  ${signed_exit:-unknown}"
awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "total time: %.1f s\n", b - a }'
[[ -n "$splash_shot" && -n "$movie_shot" && "$exit_code" == 0 && "$signed_exit" == 0 ]]
grep -q '^movie=found' "$out/signed.txt"
