#!/usr/bin/env bash
# Screenshots of the window as an operator sees it, taken from a real X server: at rest holding the
# built-in test image, during a run against the simulated radio (paced like the real line, so the
# bar moves slowly enough to be caught), with the "Completed." box, holding a firmware file, and
# the "Error" box of a Start on a port whose cable is not plugged in, with its reason.
#
#   tools/screenshots.sh [BUILD_DIR] [OUT_DIR]        (defaults: build, docs)
#
# Needs the tq-b9 and tq-b9-sim programs in BUILD_DIR/bin and these Debian packages:
#   xvfb openbox xdotool x11-utils imagemagick
# Everything runs on a private Xvfb display that is torn down afterwards.
set -euo pipefail

build=${1:-build}
out=${2:-docs}
app="$build/bin/tq-b9"
sim="$build/bin/tq-b9-sim"
caption='^TQ-B9 ver E5.000 \(test image\)$'
# How long into the write the running shot is taken, and how long a whole paced run may take.
running_after=12
run_limit=240

for tool in Xvfb openbox xdotool xwininfo xprop import convert; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done
for program in "$app" "$sim"; do
    [ -x "$program" ] || { echo "screenshots: $program is not built" >&2; exit 1; }
done
mkdir -p "$out"

me=screenshots
source "$(dirname "$0")/xdesktop.sh"

# The window and whatever it has open, cut from the screen, on a light margin.
grab() {
    import -window root "$work/screen.png"
    convert "$work/screen.png" -crop "$(region)" +repage -bordercolor '#d8d8d8' -border 8 "$1"
    echo "wrote $1"
}

# Bounding box of every visible top-level window of the program, window-manager frames included.
region() {
    local x0=100000 y0=100000 x1=0 y1=0 id left right top bottom
    for id in $(xdotool search --onlyvisible --pid "$app_pid"); do
        # xwininfo, not xdotool, whose position of a framed window is off by the frame.
        xwininfo -id "$id" >"$work/info"
        X=$(sed -n 's/.*Absolute upper-left X: *//p' "$work/info")
        Y=$(sed -n 's/.*Absolute upper-left Y: *//p' "$work/info")
        WIDTH=$(sed -n 's/.*Width: *//p' "$work/info")
        HEIGHT=$(sed -n 's/.*Height: *//p' "$work/info")
        read -r left right top bottom < <(xprop -id "$id" _NET_FRAME_EXTENTS |
            sed -n 's/.*= *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1 \2 \3 \4/p')
        left=${left:-0} right=${right:-0} top=${top:-0} bottom=${bottom:-0}
        ((X - left < x0)) && x0=$((X - left))
        ((Y - top < y0)) && y0=$((Y - top))
        ((X + WIDTH + right > x1)) && x1=$((X + WIDTH + right))
        ((Y + HEIGHT + bottom > y1)) && y1=$((Y + HEIGHT + bottom))
    done
    echo "$((x1 - x0))x$((y1 - y0))+$x0+$y0"
}

# A compact title bar (caption, minimise, close) in a plain face, as on the small desktops the
# window was made for; the default theme's bold caption does not fit a 160-pixel window.
cat >"$work/rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme>
    <titleLayout>LIC</titleLayout>
    <font place="ActiveWindow"><name>DejaVu Sans</name><size>7</size><weight>Normal</weight></font>
    <font place="InactiveWindow"><name>DejaVu Sans</name><size>7</size><weight>Normal</weight></font>
  </theme>
</openbox_config>
XML
start_desktop 640x400 --config-file "$work/rc.xml"

"$sim" --pace --quiet --link "$work/radio" >"$work/sim.out" &
pids+=($!)
wait_for '[ -e "$work/radio" ]' 10

# open_app TITLE_REGEX ARGUMENTS...: the window started with them, up at (40, 40); sets app_pid
# and window.
open_app() {
    local title=$1
    shift
    "$app" "$@" &
    app_pid=$!
    pids+=("$app_pid")
    window=$(timeout 20 xdotool search --sync --onlyvisible --name "$title" | head -n1)
    xdotool windowmove --sync "$window" 40 40
    xdotool windowactivate --sync "$window"
}

# The simulated radio is where the test image may go.
open_app "$caption" --allow-test-firmware --com 1="$work/radio"
sleep 1
grab "$out/window-idle.png"

# Start is the only control that takes the focus, so the space bar presses it.
xdotool key --window "$window" space
sleep "$running_after"
grab "$out/window-running.png"

timeout "$run_limit" xdotool search --sync --onlyvisible --name '^(OK|NG)$' >"$work/box"
sleep 1
box=$(head -n1 "$work/box")
grab "$out/window-completed.png"
if [ "$(xdotool getwindowname "$box")" != OK ]; then
    echo "screenshots: the run did not complete, see $out/window-completed.png" >&2
    exit 1
fi

# The window holding a firmware file, as after a drop or --firmware.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
"$(dirname "$0")/samplefirmware.sh" "$work/radio-E5.001.hex" 258048
open_app '^TQ-B9 - radio-E5.001.hex$' --firmware "$work/radio-E5.001.hex" --com 1="$work/radio"
sleep 1
grab "$out/window-file.png"

# Start with nothing behind COM1: the window's own "Error", with the reason and the next step.
unplugged=/dev/ttyUSB9
[ ! -e "$unplugged" ] || { echo "screenshots: $unplugged is there; unplug it" >&2; exit 1; }
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
open_app "$caption" --allow-test-firmware --com 1="$unplugged"
xdotool key --window "$window" space
timeout 20 xdotool search --sync --onlyvisible --name '^NG$' >"$work/box"
sleep 1
grab "$out/window-error.png"
