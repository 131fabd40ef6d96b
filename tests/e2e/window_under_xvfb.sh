#!/usr/bin/env bash
# End to end: starts the real program on a virtual X display, clicks Start, and reads the
# screen back. Skipped (exit 77) where the X tools are not installed.
set -euo pipefail
program=$1
for tool in xvfb-run xdotool xwininfo import convert; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool not installed"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
cd "$1"
# The test runners export QT_QPA_PLATFORM=offscreen for the window tests; this one needs X.
QT_QPA_PLATFORM=xcb "$2" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
for _ in $(seq 300); do xwininfo -name Zemlix >/dev/null 2>&1 && break; sleep 0.1; done
sleep 0.5  # the first paint
read -r left top < <(xwininfo -name Zemlix | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} END{print x, y}')
import -window root before.png
xdotool mousemove $((left + 533)) $((top + 171)) click 1   # the Start button
# Wait for frames to have drawn the field's red border (a busy machine can be slow).
for _ in $(seq 100); do
  sleep 0.2
  import -window root after.png
  [ "$(convert after.png -format "%[hex:u.p{$((left + 8)),$((top + 8))}]" info: | cut -c1-6)" = "FF0000" ] && break
done
sleep 0.5
import -window root after.png
kill $pid
wait $pid 2>/dev/null || true
echo "$left $top" > origin.txt
DRIVE
chmod +x "$work/drive.sh"
XDG_RUNTIME_DIR=$work xvfb-run -a -s "-screen 0 1024x768x24" "$work/drive.sh" "$work" "$program"

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
grep -q "Program Started: " "$work/NN.log" && grep -q "Program Closed: " "$work/NN.log" || { echo "log lines missing"; fail=1; }
exit $fail
