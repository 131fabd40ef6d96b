#!/usr/bin/env bash
# Takes the picture of the window with its brain view beside it, from the real program on a
# virtual X display: a world evolved by the runner is opened, its strongest bug selected and
# View > Brain opened. scripts/brain-screenshot.sh build/release docs/brain-view.png
set -euo pipefail
build=$(realpath "$1")
output=$(realpath -m "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/sim/zemlix-sim" --seed 2024 --lifetime 500 --generations 40 --dump "$work/evolved.world" --quiet
cat >"$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
cd "$1"
export XDG_CONFIG_HOME=$1/config XDG_DATA_HOME=$1/data
QT_QPA_PLATFORM=xcb "$2" --speed 1 "$1/evolved.world" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=
# The title holds a non-ASCII dash: the window is found by its process.
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --pid $pid 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
sleep 4  # the bugs eat a little of this generation
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key ctrl+Up
sleep 0.3
xdotool key ctrl+b
sleep 2
import -window root screen.png
kill $pid
wait $pid 2>/dev/null || true
DRIVE
chmod +x "$work/drive.sh"
XDG_RUNTIME_DIR=$work xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1600x800x24" "$work/drive.sh" "$work" "$build/app/zemlix"
# Both windows, without the empty screen around them.
convert "$work/screen.png" -crop 1330x605+193+110 +repage -strip "$output"
