#!/usr/bin/env bash
# Runs the window on a virtual X display with 200 bugs at world speed S (default 0), world
# and stats shown, and saves a screenshot after a few seconds; prints where it is, the load
# average, and the CPU share the program used while running.
#   bench/fps_under_xvfb.sh build/release/app/zemlix [speed] [seconds]
set -euo pipefail
program=$(realpath "$1")
speed=${2:-0}
seconds=${3:-6}
work=$(mktemp -d)
cat >"$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
cd "$1"
QT_QPA_PLATFORM=xcb "$2" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
for _ in $(seq 300); do xwininfo -name Zemlix >/dev/null 2>&1 && break; sleep 0.1; done
sleep 0.5
read -r left top < <(xwininfo -name Zemlix | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} END{print x, y}')
type_into() {  # x y text: select the box's text and replace it
  xdotool mousemove $((left + $1)) $((top + $2)) click --repeat 3 1 key ctrl+a type "$3"
  xdotool key Tab
}
type_into 545 67 200     # # of Bugs
type_into 575 195 "$3"   # World Speed
xdotool mousemove $((left + 533)) $((top + 171)) click 1   # Start
sleep 1
ticks0=$(awk '{print $14 + $15}' /proc/$pid/stat)
sleep "$4"
ticks1=$(awk '{print $14 + $15}' /proc/$pid/stat)
import -window root shot.png
convert shot.png -crop 616x561+$left+$top window.png
echo "cpu share: $(( (ticks1 - ticks0) * 100 / $(getconf CLK_TCK) / $4 )) % of a core over $4 s"
DRIVE
chmod +x "$work/drive.sh"
XDG_RUNTIME_DIR=$work xvfb-run -a -s "-screen 0 1024x768x24" "$work/drive.sh" "$work" "$program" "$speed" "$seconds"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "screenshot: $work/window.png"
