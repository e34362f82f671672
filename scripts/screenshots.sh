#!/usr/bin/env bash
# Takes screenshots of the desktop program on a virtual X display, driven by the keyboard as
# a technician would drive it, against the emulated board: the main window idle and during an
# upgrade, each dialog and box, and the close guard. Writes docs/screenshots/*.png.
#
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build/default)
# Needs: xvfb-run, xdotool, ImageMagick's import; openbox for window frames (optional).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(cd "${1:-build/default}" && pwd)
fieldkit="$build/app/fieldkit"
[ -x "$fieldkit" ] || { echo "screenshots: no $fieldkit; build first" >&2; exit 1; }
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done

out="$root/docs/screenshots"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/Info.txt examples/AppConfig.ini examples/corvo_boot.s19 examples/corvo_fwapp.s19 "$work/"

# Everything below runs inside the virtual display.
export FIELDKIT="$fieldkit" OUT="$out" WORK="$work"
xvfb-run -a -s "-screen 0 1100x760x24 -dpi 96" bash -euo pipefail -c '
  command -v openbox >/dev/null && { openbox >/dev/null 2>&1 & sleep 1; }
  cd "$WORK"

  # The window whose title matches, waiting up to 20 s for it.
  window() { timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -n 1; }
  shot() {
    local id; id=$(window "$2")
    sleep 0.6
    import -frame -window "$id" "$OUT/$1.png"
    echo "screenshots: $1.png"
  }
  keys() { xdotool key --clearmodifiers --delay 150 "$@"; sleep 0.5; }

  # A bad PortNumber: the start-up warning, over the main window once that is on screen. The
  # whole screen is taken, to show where the box stands.
  mkdir "$WORK/bad-port"
  cp "$WORK"/Info.txt "$WORK"/AppConfig.ini "$WORK/bad-port/"
  sed -i "s/^PortNumber=.*/PortNumber=COM9/" "$WORK/bad-port/AppConfig.ini"
  (cd "$WORK/bad-port" && exec "$FIELDKIT" 2>/dev/null) &
  bad_port=$!
  window "^Warning$" >/dev/null
  sleep 0.6
  import -window root "$OUT/port-warning.png"
  echo "screenshots: port-warning.png"
  keys Return
  kill "$bad_port"; wait "$bad_port" || true

  "$FIELDKIT" --simulate --sim-option "--baud 115200" 2>"$WORK/fieldkit.log" &
  app=$!
  main=$(window "Lodestar Board Upgrade Software")
  xdotool windowactivate --sync "$main" 2>/dev/null || true
  shot main-window "Lodestar Board Upgrade Software"

  keys ctrl+c
  shot com-port-dialog "^COM Port Setting$"
  keys Escape

  keys ctrl+a
  shot about-dialog "^About FieldKit$"
  keys Escape

  # View menu, third item: the board information read from the emulated board.
  keys alt Right Right Down Down Down Return
  shot board-info-dialog "^Option Board Information$"
  keys Return

  keys alt Right Right Right Down Return
  shot how-to-box "^How to use FieldKit$"
  keys Return

  # The settings ask for the version the board already has: the question comes first.
  keys ctrl+u
  shot version-question "^Warning$"
  keys y
  sleep 12
  shot upgrading "Done - QM7731"

  xdotool windowactivate --sync "$main" 2>/dev/null || true
  keys alt+F4
  shot close-guard "^Warning$"
  keys n

  timeout 120 xdotool search --sync --onlyvisible --name "^Done$" >/dev/null
  shot done-box "^Done$"
  keys Return
  shot main-window-after "Lodestar Board Upgrade Software"

  # Quitting in the middle of an upgrade ends the program at once and cleanly.
  keys ctrl+u
  window "^Warning$" >/dev/null
  keys y
  sleep 6
  keys alt+F4
  window "^Warning$" >/dev/null
  xdotool key y
  asked=$(date +%s%N)
  status=0
  timeout 10 tail -s 0.05 --pid="$app" -f /dev/null || status=$?
  if [ "$status" -ne 0 ]; then echo "screenshots: fieldkit did not end after quitting" >&2; kill "$app"; exit 1; fi
  wait "$app" || { echo "screenshots: fieldkit ended with status $?" >&2; cat "$WORK/fieldkit.log" >&2; exit 1; }
  if grep -q "QThread" "$WORK/fieldkit.log"; then cat "$WORK/fieldkit.log" >&2; exit 1; fi
  echo "screenshots: quitting during an upgrade ended the program cleanly, $(( ($(date +%s%N) - asked) / 1000000 )) ms after Yes"
'
