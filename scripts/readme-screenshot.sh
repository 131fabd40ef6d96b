#!/usr/bin/env bash
# Takes the README's picture of the window with the fitness chart beside it, from the real
# program on a virtual X display: scripts/readme-screenshot.sh build/release/app/zemlix docs/laboratory.png
set -euo pipefail
program=$(realpath "$1")
output=$(realpath -m "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
cd "$1"
QT_QPA_PLATFORM=xcb "$2" --seed 2024 --lifetime 500 --speed 0 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
for _ in $(seq 300); do xwininfo -name Zemlix >/dev/null 2>&1 && break; sleep 0.1; done
sleep 0.5
window=$(xdotool search --name '^Zemlix$' | head -1)
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" F5 ctrl+g
sleep 12  # a few dozen generations
import -window root screen.png
kill $pid
DRIVE
chmod +x "$work/drive.sh"
XDG_RUNTIME_DIR=$work xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1400x720x24" "$work/drive.sh" "$work" "$program"
# Both windows, without the empty screen around them.
convert "$work/screen.png" -crop 1190x608+190+107 +repage "$output"
