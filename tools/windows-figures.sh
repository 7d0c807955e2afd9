#!/usr/bin/env bash
# The README's Windows figures: one paced whole write (--pace --usb, the line's real speed handed
# over in 1 ms bursts as a USB adapter does) by the Linux build's tq-b9-cli and by the Windows
# build's tq-b9-cli.exe under the mended Wine, one after the other on this machine, each against a
# new simulated radio. For each: the wall time, the program's CPU (user + system, its threads
# included), and under Wine the CPU of Wine's server, which is Wine's alone.
#
#   tools/windows-figures.sh [WINDOWS_BUILD] [LINUX_BUILD]     (defaults: build-windows, build)
#
# Needs what `make check-windows` needs; run it after that, on an otherwise idle machine.
set -euo pipefail
win=$(realpath "${1:-build-windows}")
linux=$(realpath "${2:-build}")
serial_wine=${TQB9_SERIAL_WINE:-$(dirname "$0")/../../shared/windows/wine}
export WINEPREFIX="$win/wine" WINEDEBUG=-all WINESERVER=/usr/lib/wine/wineserver
TQB9_WINE=$("$serial_wine/make-tree.sh" "$win/serial-wine")
export TQB9_WINE
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

start_radio() {
    [ -z "$sim_pid" ] || { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; }
    "$linux/bin/tq-b9-sim" --pace --usb --quiet --link "$work/radio" >/dev/null &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$work/radio" ] && return; sleep 0.1; done
    echo "windows-figures: the simulated radio did not start" >&2
    exit 1
}
# Clock ticks of a process so far (user + system).
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

# measure LABEL COMMAND...: wall seconds and CPU seconds of the command and its children.
measure() {
    local label=$1 status=0
    shift
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >"$work/out" 2>/dev/null || status=$?
    tr -d '\r' <"$work/out" | tail -1 | grep -qx 'Completed\.' ||
        { echo "windows-figures: $label ended \"$(tail -1 "$work/out")\" ($status)" >&2; exit 1; }
    read -r wall user sys <"$work/time"
    printf '%-24s %6.1f s wall  %5.2f s CPU (user %.2f, system %.2f)\n' "$label" "$wall" \
        "$(echo "$user + $sys" | bc)" "$user" "$sys"
}

start_radio
measure "Linux tq-b9-cli" "$linux/bin/tq-b9-cli" --allow-test-firmware --port "$work/radio"

ln -sfn "$work/radio" "$WINEPREFIX/dosdevices/com23"
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
"$WINESERVER" -p 2>/dev/null
server=$(pgrep -n -f wineserver)
# Wine's own processes start with its first program: not part of the write.
"$win/wine-run.sh" "$win/bin/tq-b9-cli.exe" --version >/dev/null
start_radio
before=$(ticks "$server")
measure "Windows tq-b9-cli.exe" "$win/wine-run.sh" "$win/bin/tq-b9-cli.exe" --allow-test-firmware \
    --port COM23
printf '%-24s %6s        %5.2f s CPU\n' "  Wine's server" "" \
    "$(echo "($(ticks "$server") - $before) / $hz" | bc -l)"
