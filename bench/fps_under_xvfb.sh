#!/usr/bin/env bash
# Runs the window on a virtual X display with N bugs (default 200) at world speed S (default 0),
# world and stats shown, and saves a screenshot after a few seconds; prints where it is, the load
# average, and the CPU shares the program and the X server used while running.
#   bench/fps_under_xvfb.sh build/release/app/zemlix [speed] [seconds] [bugs]
set -euo pipefail
program=$(realpath "$1")
speed=${2:-0}
seconds=${3:-6}
bugs=${4:-200}
work=$(mktemp -d)
cat >"$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
cd "$1"
# The window's own options set the bugs and the speed; the Start button is clicked by hand.
QT_QPA_PLATFORM=xcb "$2" --bugs "$5" --speed "$3" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
for _ in $(seq 300); do xwininfo -name Zemlix >/dev/null 2>&1 && break; sleep 0.1; done
sleep 0.5
read -r left top < <(xwininfo -name Zemlix | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} END{print x, y}')
import -window root before.png
# The client area sits below the menu bar: its world view is the first black row.
client=$top
for y in $(seq "$top" $((top + 80))); do
  if [ "$(convert before.png -format "%[hex:u.p{$((left + 208)),$y}]" info: | cut -c1-6)" = "000000" ]; then
    client=$((y - 8)); break
  fi
done
xdotool mousemove $((left + 533)) $((client + 171)) click 1   # Start
sleep 1
# The X server's work for the window counts too: it copies every flushed pixel.
server=$(ps -eo pid=,args= | awk -v display="$DISPLAY" '$2 ~ /Xvfb$/ && $3 == display {print $1; exit}')
ticks0=$(awk '{print $14 + $15}' /proc/$pid/stat)
serverTicks0=$(awk '{print $14 + $15}' /proc/$server/stat)
sleep "$4"
ticks1=$(awk '{print $14 + $15}' /proc/$pid/stat)
serverTicks1=$(awk '{print $14 + $15}' /proc/$server/stat)
import -window root shot.png
convert shot.png -crop 616x600+$left+$top window.png
echo "cpu share: $(( (ticks1 - ticks0) * 100 / $(getconf CLK_TCK) / $4 )) % of a core over $4 s"
echo "X server cpu share: $(( (serverTicks1 - serverTicks0) * 100 / $(getconf CLK_TCK) / $4 )) % of a core"
DRIVE
chmod +x "$work/drive.sh"
XDG_RUNTIME_DIR=$work xvfb-run -a -s "-screen 0 1024x768x24" "$work/drive.sh" "$work" "$program" "$speed" "$seconds" "$bugs"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "screenshot: $work/window.png"
