#!/usr/bin/env bash
# Screenshots of the flashing station as an operator uses it, from a real X server: four simulated
# radios (paced like the real line, with a USB adapter's 1 ms frames) on COM1 to COM4, chosen one
# after the other in the port list with the keyboard, then Start all; one shot while they write and
# one when all four have completed.
#
#   tools/station-screenshots.sh [BUILD_DIR] [OUT_DIR]        (defaults: build, docs)
#
# Needs tq-b9 and tq-b9-sim in BUILD_DIR/bin and: xvfb openbox xdotool x11-utils imagemagick.
# The window's settings and run log go to a scratch folder, never to the user's own.
set -euo pipefail

build=${1:-build}
out=${2:-docs}
app="$(realpath "$build")/bin/tq-b9"
sim="$(realpath "$build")/bin/tq-b9-sim"
radios=4
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
for ((n = 1; n <= radios; n++)); do
    "$sim" --pace --usb --quiet --link "$work/radio$n" >"$work/sim$n.out" &
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

log="$work/data/TQ-B9/tq-b9/runs.jsonl"
wait_for "[ -f '$log' ] && [ \$(grep -c '\"Completed.\"' '$log') -eq $radios ]" "$run_limit"
sleep 0.5
grab "$out/station-done.png"
