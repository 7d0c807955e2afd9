#!/usr/bin/env bash
# Screenshots of the flashing station as an operator uses it, from a real X server: four simulated
# radios (paced like the real line, with a USB adapter's 1 ms frames) on COM1 to COM4, chosen one
# after the other in the port list with the keyboard, then Start all. The second radio refuses a
# block and the third is stopped with its tile's Stop, so the shot at the end shows the three
# ways a run ends. Then a fifth radio, on the cable before Automatic is switched on, is held.
#
#   tools/station-screenshots.sh [BUILD_DIR] [OUT_DIR]        (defaults: build, docs)
#
# Writes station-writing.png, station-outcomes.png and station-held.png. Needs tq-b9 and
# tq-b9-sim in BUILD_DIR/bin and: xvfb openbox xdotool x11-utils imagemagick.
# The window's settings and run log go to a scratch folder, never to the user's own.
set -euo pipefail

build=${1:-build}
out=${2:-docs}
app="$(realpath "$build")/bin/tq-b9"
sim="$(realpath "$build")/bin/tq-b9-sim"
radios=4
# The radio that answers NG to a block, and the one stopped by hand.
refusing=2
stopping=3
running_after=15
run_limit=240

for tool in Xvfb openbox xdotool xwininfo xprop import convert; do
    command -v "$tool" >/dev/null || { echo "station-screenshots: $tool is missing" >&2; exit 1; }
done
for program in "$app" "$sim"; do
    [ -x "$program" ] || { echo "station-screenshots: $program is not built" >&2; exit 1; }
done
mkdir -p "$out"

# A short folder, so that the devices' names fit on the tiles.
me=station-screenshots work_template=/tmp/stXXXX
source "$(dirname "$0")/xdesktop.sh"

# The window with its frame, cut from the screen, on a light margin.
grab() {
    import -window root "$work/screen.png"
    xwininfo -id "$window" -frame >"$work/info"
    local x y w h
    x=$(sed -n 's/.*Absolute upper-left X: *//p' "$work/info")
    y=$(sed -n 's/.*Absolute upper-left Y: *//p' "$work/info")
    w=$(sed -n 's/.*Width: *//p' "$work/info")
    h=$(sed -n 's/.*Height: *//p' "$work/info")
    convert "$work/screen.png" -crop "${w}x${h}+${x}+${y}" +repage -bordercolor '#d8d8d8' \
        -border 8 "$1"
    echo "wrote $1"
}

start_desktop 1280x800

bindings=()
for ((n = 1; n <= radios + 1; n++)); do
    fault=()
    ((n != refusing)) || fault=(--fault 'program@0xD8000:reply=NG')
    "$sim" --pace --usb --quiet "${fault[@]}" --link "$work/radio$n" >"$work/sim$n.out" &
    pids+=($!)
    wait_for "[ -e '$work/radio$n' ]" 10
    bindings+=(--com "$n=$work/radio$n")
done

export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
"$app" --station --allow-test-firmware "${bindings[@]}" &
pids+=($!)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^TQ-B9 Flashing Station' | head -n1)
xdotool windowmove --sync "$window" 20 20
xdotool windowactivate --sync "$window"
sleep 1

# Focus starts on "Firmware file..."; the port list follows it, then "Add port", "Automatic",
# "Start all" (the check box takes no focus from Tab here). A key typed on the closed list picks the first entry it begins.
xdotool key --window "$window" Tab
for ((n = 1; n <= radios; n++)); do
    xdotool type --window "$window" --delay 80 "COM$n"
    sleep 1.2 # the list's type-ahead forgets what was typed before
    xdotool key --window "$window" Tab space shift+Tab
done
xdotool key --window "$window" Tab Tab space
sleep "$running_after"
grab "$out/station-writing.png"

# The third tile's Stop, by where it is in the window as laid out at this size (four tiles in a
# row); the log's record says whether it was hit.
xdotool mousemove --window "$window" 689 672 click 1
log="$work/data/TQ-B9/tq-b9/runs.jsonl"
wait_for "[ -f '$log' ] && [ \$(wc -l <'$log') -eq $radios ]" "$run_limit"
grep -q '"stop":"operator"' "$log" || { echo "$me: the third tile's Stop was missed" >&2; exit 1; }
sleep 0.5
grab "$out/station-outcomes.png"

# A fifth port, its radio on the cable already, then Automatic: that radio is held, not written.
xdotool mousemove --window "$window" 130 106 click 1
sleep 0.5
xdotool type --delay 80 "COM$((radios + 1))"
xdotool key Return
sleep 0.5
xdotool mousemove --window "$window" 309 106 click 1
sleep 0.5
xdotool mousemove --window "$window" 757 106 click 1
sleep 5
grab "$out/station-held.png"
