#!/usr/bin/env bash
# End to end: starts the real program on a virtual X display, clicks Start, and reads the
# screen back; then opens a world the runner dumped, saves it with Ctrl+S and hands it back
# to the runner. Skipped (exit 77) where the X tools are not installed. Runs with no LANG
# or LC_* set, as on a fresh system: windows are found by the program's pid, never by a
# title whose "—" a C locale cannot match.
set -euo pipefail
program=$1
runner=$2
for tool in xvfb-run xdotool xwininfo import convert; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool not installed"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Bad options answer on standard error with status 2 and never reach for a display.
status=0
env -u DISPLAY -u QT_QPA_PLATFORM "$program" --bugs 300 2>"$work/bad.txt" || status=$?
[ "$status" = 2 ] && grep -q -- "--bugs: '300' is not a whole number from 5 to 200" "$work/bad.txt" ||
  { echo "bad option: status $status, $(cat "$work/bad.txt")"; exit 1; }
[ "$(env -u DISPLAY -u QT_QPA_PLATFORM "$program" --version)" = "zemlix 0.4.4" ] || { echo "--version"; exit 1; }

"$runner" --seed 11 --bugs 10 --food 15 --lifetime 500 --ticks 300 --dump "$work/start.world" --quiet

cat >"$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
cd "$1"
# The visible windows of process $1, once there are at least $2 (default 1); the first is
# printed.
windows_of() {
  local ids
  for _ in $(seq 300); do
    ids=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null || true)
    [ "$(printf '%s\n' $ids | grep -c .)" -ge "${2:-1}" ] && { printf '%s\n' $ids | head -1; return 0; }
    sleep 0.1
  done
  return 1
}
# The test runners export QT_QPA_PLATFORM=offscreen for the window tests; this one needs X.
QT_QPA_PLATFORM=xcb "$2" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=$(windows_of $pid)
sleep 0.5  # the first paint
read -r left top < <(xwininfo -id "$window" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} END{print x, y}')
import -window root before.png
# The client area sits below the menu bar: its world view is the first black row.
client=""
for y in $(seq "$top" $((top + 80))); do
  if [ "$(convert before.png -format "%[hex:u.p{$((left + 208)),$y}]" info: | cut -c1-6)" = "000000" ]; then
    client=$((y - 8)); break
  fi
done
[ -n "$client" ] || { echo "world view not found"; exit 1; }
xdotool mousemove $((left + 533)) $((client + 171)) click 1   # the Start button
# Wait for frames to have drawn the field's red border (a busy machine can be slow).
for _ in $(seq 100); do
  sleep 0.2
  import -window root after.png
  [ "$(convert after.png -format "%[hex:u.p{$((left + 8)),$((client + 8))}]" info: | cut -c1-6)" = "FF0000" ] && break
done
sleep 0.5
import -window root after.png
kill $pid
wait $pid 2>/dev/null || true
echo "$left $client" > origin.txt

# A world named on the command line opens and runs at once; Ctrl+S saves it in place.
QT_QPA_PLATFORM=xcb "$2" start.world --speed 1 &
pid=$!
window=$(windows_of $pid)
for _ in $(seq 100); do xdotool getwindowname "$window" | grep -q '^start\.world' && break; sleep 0.1; done
xdotool getwindowname "$window" > title.txt
sleep 1
xdotool windowfocus --sync "$window" 2>/dev/null || true
cp start.world opened.world
xdotool key --window "$window" ctrl+s
for _ in $(seq 50); do cmp -s start.world opened.world || break; sleep 0.1; done
kill $pid
wait $pid 2>/dev/null || true

# A box on screen from the very start (the log cannot be written: NN.log is a folder):
# SIGTERM still ends the program, box and all. (A box during a run is closed with the
# window; the window tests cover that.)
mkdir -p denied/NN.log
(cd denied && QT_QPA_PLATFORM=xcb exec "$2") &
pid=$!
windows_of $pid 2 >/dev/null || true
sleep 0.5
kill -TERM $pid
for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then echo alive > denied.txt; kill -KILL $pid; else echo ended > denied.txt; fi
DRIVE
chmod +x "$work/drive.sh"
# The server must not reset between the two programs (it does when its last client leaves),
# and a random first display number keeps parallel runs on one machine apart.
mkdir -p "$work/home"
env -u LANG -u LANGUAGE -u LC_ALL -u LC_CTYPE -u LC_MESSAGES -u LC_NUMERIC XDG_DATA_HOME="$work/home" \
  XDG_CONFIG_HOME="$work/home" XDG_RUNTIME_DIR=$work xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24 -noreset" \
  "$work/drive.sh" "$work" "$program"

read -r left top < "$work/origin.txt"
pixel() { convert "$1" -format "%[hex:u.p{$2,$3}]" info: | cut -c1-6; }
fail=0
# Before Start the world view is black; afterwards its red border is on screen.
[ "$(pixel "$work/before.png" $((left + 8)) $((top + 8)))" = "000000" ] || { echo "view not black before Start"; fail=1; }
[ "$(pixel "$work/after.png" $((left + 8)) $((top + 8)))" = "FF0000" ] || { echo "no red border after Start"; fail=1; }
[ "$(pixel "$work/after.png" $((left + 407)) $((top + 200)))" = "FF0000" ] || { echo "no right border"; fail=1; }
# Sprites: some green bug pixels inside the field.
green=$(convert "$work/after.png" -crop 398x398+$((left + 9))+$((top + 9)) -fill black +opaque "#00FF00" -format "%[fx:mean*w*h]" info:)
awk -v g="$green" 'BEGIN{exit !(g > 20)}' || { echo "no bugs drawn ($green)"; fail=1; }
# SIGTERM ended runs that had advanced: they were kept, not lost.
ls "$work"/home/Zemlix/runs/*_seed-*.world >/dev/null 2>&1 || { echo "no run kept at SIGTERM"; fail=1; }
grep -qxE 'start\.world\*? — Zemlix' "$work/title.txt" || { echo "title '$(cat "$work/title.txt")'"; fail=1; }
[ "$(cat "$work/denied.txt")" = ended ] || { echo "SIGTERM left the program running behind an error box"; fail=1; }
grep -q "Program Started: " "$work/NN.log" && grep -q "Program Closed: " "$work/NN.log" || { echo "log lines missing"; fail=1; }
# The saved world went on from the runner's tick 300 and continues in the runner.
tick=$(awk -F'[ =]' '/^state /{print $3}' "$work/start.world" | tail -1)
[ "$tick" -gt 300 ] 2>/dev/null || { echo "Ctrl+S did not save the opened world (tick '$tick')"; fail=1; }
"$runner" --load "$work/start.world" --ticks 10 --dump "$work/continued.world" --quiet || { echo "runner refused the window's world"; fail=1; }
exit $fail
