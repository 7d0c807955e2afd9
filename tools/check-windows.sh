#!/usr/bin/env bash
# What `make check-windows` runs: the Windows build under Wine, whole writes included.
#
#   tools/check-windows.sh [WINDOWS_BUILD] [LINUX_BUILD] [SCREENSHOT]
#                          (defaults: build-windows, build, WINDOWS_BUILD/window-wine.png)
#
# Every Windows program runs on a private Wine whose serial layer is mended so that it carries
# QSerialPort's reads (TQB9_SERIAL_WINE: the folder with make-tree.sh and the mended ntdll.so;
# default the shared folder beside the clone). The simulated radios are the Linux build's
# tq-b9-sim, each behind a COM port: Wine's dosdevices/comN links to the radio's pseudo-terminal.
# 1. The test programs `make check-nosim` runs: the pure tests and the scripted-line tests.
# 2. tq-b9-cli.exe: --version, --help and --info say what the Linux build says, --export-image
#    writes the Linux build's bytes, also from a firmware file whose name is Cyrillic and Japanese.
# 3. tq-b9-cli.exe writes radios through COM23 to COM26: a whole write unpaced and one at the line's
#    speed with USB delivery, each radio's flash then equal to the firmware; every failing outcome
#    with its exit status and outcome line within its time, the next run on the port completing;
#    a radio taken off mid-write; four radios from one program; --watch writing a radio once when
#    it is put on, and ending at SIGINT.
# 4. The installer, silently (/S): the installed tq-b9-cli.exe runs on the DLLs beside it alone,
#    the uninstaller is registered, and a silent uninstall leaves nothing in the folder. The zip's
#    folder holds the same files and runs the same way.
# 5. The window and the station window, from the installed folder, on a private Xvfb display: the
#    window writes COM23 chosen from its menu with the keyboard and its box says "Completed."; the
#    station writes two radios put on COM23 and COM24 hands-free. Their pictures are written to
#    SCREENSHOT and station-wine.png beside it.
# Every Wine run is bounded in time; the Wine prefix is the build's own and is shut down at the end.
set -euo pipefail

win=$(realpath "${1:-build-windows}")
linux=$(realpath "${2:-build}")
shot=${3:-$win/window-wine.png}
run="$win/wine-run.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")
setup="$win/tq-b9-$version-win64-setup.exe"
zip="$win/tq-b9-$version-win64.zip"
export WINEPREFIX="$win/wine" WINEDEBUG=-all
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
# Debian's Wine 8.0 cannot carry QSerialPort's reads (README, Windows): every Windows program here
# runs on a private Wine whose serial layer is mended, laid out from the folder TQB9_SERIAL_WINE
# (the shared folder beside the clone by default). The system's Wine is not touched.
serial_wine=${TQB9_SERIAL_WINE:-$(dirname "$0")/../../shared/windows/wine}
[ -x "$serial_wine/make-tree.sh" ] ||
    { echo "check-windows: $serial_wine/make-tree.sh is missing (TQB9_SERIAL_WINE)" >&2; exit 1; }
TQB9_WINE=$("$serial_wine/make-tree.sh" "$win/serial-wine")
export TQB9_WINE WINESERVER=$wineserver

for file in "$run" "$win/bin/tq-b9-cli.exe" "$linux/bin/tq-b9-cli" "$setup" "$zip"; do
    [ -e "$file" ] || { echo "check-windows: $file is missing (make windows, make build)" >&2; exit 1; }
done
for tool in Xvfb xdotool xclip import convert unzip; do
    command -v "$tool" >/dev/null || { echo "check-windows: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=
radio_pids=()
cleanup() {
    for pid in "${radio_pids[@]}"; do [ -z "$pid" ] || kill "$pid" 2>/dev/null || true; done
    [ -z "$xvfb_pid" ] || { kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; }
    timeout 30 "$wineserver" -k 2>/dev/null || true
    timeout 30 "$wineserver" -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "check-windows: FAILED: $*" >&2
    exit 1
}
passed=0
ok() {
    passed=$((passed + 1))
    echo "ok: $*"
}

# Windows programs end their lines with CR LF; the texts are compared as lines.
windows_out() { "$run" "$@" | tr -d '\r'; }

echo "== The test programs under Wine"
(cd "$win" && ctest --output-on-failure -j2) || fail "ctest under Wine"
ok "ctest under Wine"

echo "== tq-b9-cli.exe against the Linux build"
cli="$win/bin/tq-b9-cli.exe"
for args in --version --help --info; do
    windows_out "$cli" "$args" >"$work/windows.txt" || fail "tq-b9-cli.exe $args exited $?"
    "$linux/bin/tq-b9-cli" "$args" >"$work/linux.txt"
    diff -u "$work/linux.txt" "$work/windows.txt" || fail "tq-b9-cli.exe $args differs from Linux"
    ok "tq-b9-cli.exe $args"
done
head -1 "$work/windows.txt" | grep -q "^source: *built-in" || fail "--info names no source"

"$linux/bin/tq-b9-cli" --export-image "$work/linux.bin"
"$run" "$cli" --export-image "$work/windows.bin" || fail "tq-b9-cli.exe --export-image"
cmp "$work/linux.bin" "$work/windows.bin" || fail "--export-image: other bytes than Linux"
ok "tq-b9-cli.exe --export-image: the Linux build's $(stat -c %s "$work/linux.bin") bytes"

# Outside any ANSI code page Wine might use: only a wide name opens it.
named="$work/прошивка-ファーム.s19"
cp "$(dirname "$0")/../image/firmware.s19" "$named"
"$run" "$cli" --export-image "$work/named.bin" --firmware "$named" ||
    fail "tq-b9-cli.exe --firmware with a non-ASCII file name"
cmp "$work/linux.bin" "$work/named.bin" || fail "the non-ASCII file gave other bytes"
windows_out "$cli" --info --firmware "$named" | grep -q "^source: *file " ||
    fail "--info does not call the non-ASCII file a file"
ok "tq-b9-cli.exe --firmware прошивка-ファーム.s19"

echo "== Whole writes and every outcome, as Windows code through COM ports"
# Each simulated radio (the Linux build's) sits behind a COM port: Wine makes COMn of its
# dosdevices/comn link, which points at the link the radio keeps to its pseudo-terminal, so a radio
# started afresh on the same link is a new radio behind the same port. Wine lists only the ports in
# the registry's SERIALCOMM key as it found them when its server started; the server is kept
# running while the ports are in use.
# start_radio N [tq-b9-sim OPTION...]: a new radio behind COMN, its flash dumped to flashN.bin when
# it is stopped, every request it hears in radioN.log.
start_radio() {
    local n=$1
    shift
    stop_radio "$n"
    rm -f "$work/flash$n.bin"
    "$linux/bin/tq-b9-sim" --verbose --link "$work/radio$n" --dump "$work/flash$n.bin" "$@" \
        >"$work/radio$n.out" 2>"$work/radio$n.log" &
    radio_pids[n]=$!
    for _ in $(seq 50); do [ -e "$work/radio$n" ] && return 0; sleep 0.1; done
    fail "the simulated radio behind COM$n did not start: $(cat "$work/radio$n.log")"
}
stop_radio() {
    local pid=${radio_pids[$1]:-}
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    radio_pids[$1]=
}
stop_radios() { for n in "${!radio_pids[@]}"; do stop_radio "$n"; done; }
# The radio's flash from 0xC0000 to 0xFEFFF must be the firmware's; the top 4 KB is never written.
flash_is_firmware() {
    stop_radio "$1"
    cmp -s -n $((0xFF000 - 0xC0000)) "$work/linux.bin" "$work/flash$1.bin"
}
# serial_ports: COM23 to COM26 in the current prefix, behind radio23 to radio26, listed.
serial_ports() {
    for n in 23 24 25 26; do ln -sfn "$work/radio$n" "$WINEPREFIX/dosdevices/com$n"; done
    timeout 30 "$wineserver" -k 2>/dev/null || true
    timeout 30 "$wineserver" -w 2>/dev/null || true
    # A persistent server prints its objects as it is ended: not worth reading.
    "$wineserver" -p 2>"$work/wineserver.log"
    for n in 23 24 25 26; do
        "$run" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Serial$n" /d "COM$n" /f \
            >/dev/null 2>&1
    done
    # A program that crashes ends at once, with its status, instead of waiting for Wine's debugger.
    "$run" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
        /d 'cmd /c exit 1' /f >/dev/null 2>&1
}
# write NAME SECONDS [tq-b9-cli OPTION...]: one tq-b9-cli.exe run, ended after SECONDS; its exit
# status in $status, its time in $took (ms), its standard output and error in NAME.out, NAME.err.
write() {
    local name=$1 limit=$2 started
    shift 2
    started=$(date +%s%N)
    status=0
    TQB9_WINE_TIMEOUT=$limit "$run" "$cli" --allow-test-firmware "$@" \
        >"$work/$name.out" 2>"$work/$name.err" || status=$?
    took=$((($(date +%s%N) - started) / 1000000))
    sed -i 's/\r$//' "$work/$name.out" "$work/$name.err"
}
# expect NAME STATUS MESSAGE: the run ended with that status, MESSAGE its outcome line.
expect() {
    if [ "$status" != "$2" ] || [ "$(tail -1 "$work/$1.out")" != "$3" ]; then
        cat "$work/$1.out" "$work/$1.err" >&2
        fail "$1: exit $status after $took ms, \"$(tail -1 "$work/$1.out")\"; expected exit $2, \"$3\""
    fi
}

serial_ports
windows_out "$cli" --list-ports >"$work/ports.txt"
for n in 23 24 25 26; do
    grep -q "^COM$n  COM$n" "$work/ports.txt" || { cat "$work/ports.txt" >&2; fail "--list-ports does not list COM$n"; }
done
ok "--list-ports lists COM23 to COM26"

start_radio 23
write whole 60 --port COM23
expect whole 0 Completed.
flash_is_firmware 23 || fail "unpaced: the radio's flash is not the firmware"
ok "unpaced whole write on COM23: Completed. in $took ms, the radio's flash is the firmware"

# At the line's real speed, the replies handed over every millisecond in bursts as a USB adapter
# does: the reads then come in pieces, as on a real cable.
start_radio 23 --pace --usb
write paced 180 --port COM23
expect paced 0 Completed.
flash_is_firmware 23 || fail "paced: the radio's flash is not the firmware"
ok "paced whole write on COM23 (--pace --usb): Completed. in $took ms, the flash is the firmware"

# Every way a run fails, each on a new radio: the exit status and the outcome line, within its
# time (the replies it waits for, plus Wine's start), and then the next run on the same port
# completes, which it cannot while the failed run still holds the port. The radio is switched
# off and on in between (a new one): after the connect step it is in flash mode.
#   name | radio's faults | exit status | outcome | at most seconds | at least seconds
outcomes=(
    "region|--fault query:reply=RE|2|Region error|15|0"
    "erase_refused|--fault erase:reply=NG|4|Erase failed.|15|0"
    # Not even the echo: one 5000 ms window, then "Error".
    "silent|--fault query:noecho,reply=none|1|Error|20|5"
    "block_refused|--fault program@0xC0400:reply=NG|5|Write failed.|20|0"
    # The first block's first answer comes 5.5 s late, after its second attempt has been answered:
    # it is owed, and lands while the next block is being refused ten times, one second after each
    # packet. Taken for that block's answer, it would let the write go on to "Completed.".
    "late_answer|--fault program@0xC0000#1:delay=5500 --fault program@0xC0400:reply=NG,delay=1000|5|Write failed.|60|5"
)
for row in "${outcomes[@]}"; do
    IFS='|' read -r name faults want message most least <<<"$row"
    # shellcheck disable=SC2086 # the faults are words
    start_radio 23 $faults
    write "$name" $((most + 10)) --port COM23
    expect "$name" "$want" "$message"
    ((took <= most * 1000 && took >= least * 1000)) ||
        fail "$name: \"$message\" after $took ms, not within $least to $most s"
    failed_ms=$took
    start_radio 23
    write "$name-next" 60 --port COM23
    expect "$name-next" 0 Completed.
    flash_is_firmware 23 || fail "$name: the next run's radio does not hold the firmware"
    ok "$name: exit $want, \"$message\" in $failed_ms ms; the next run on COM23 completed"
done

# Taken off mid-write: the radio answers nothing from then on, not even the echo, so each of the
# block's ten attempts waits out its window and the write fails; a radio put on afterwards is new.
touch "$work/present23"
start_radio 23 --pace --presence-file "$work/present23"
(
    for _ in $(seq 300); do
        [ "$(grep -c '^tq-b9-sim: program' "$work/radio23.log")" -ge 8 ] && break
        sleep 0.1
    done
    rm "$work/present23"
) &
remover=$!
write pulled 120 --port COM23
wait "$remover"
expect pulled 5 "Write failed."
grep -q 'not even the echo' "$work/pulled.err" || { cat "$work/pulled.err" >&2; fail "pulled: no reason given"; }
((took <= 75000)) || fail "pulled: \"Write failed.\" only after $took ms"
failed_ms=$took
touch "$work/present23"
write pulled-next 60 --port COM23
expect pulled-next 0 Completed.
flash_is_firmware 23 || fail "pulled: the radio put on afterwards does not hold the firmware"
ok "pulled mid-write: exit 5, \"Write failed.\" in $failed_ms ms; the radio put on next completed"

# One tq-b9-cli.exe, four ports, four radios at once. Each radio must be written and its outcome
# line say so. Wine's mended serial layer starts a thread for every wait and polls every
# millisecond, and with four ports a process now and then (2 in 30 here) did not end once its last
# port had completed (one thread left in Wine's process exit, which no debugger could attach to);
# the check then says so, and runs the four radios once more.
# A radio not written, or written wrongly, fails at once.
four_radios() {
    for n in 23 24 25 26; do start_radio "$n"; done
    write four 45 --port COM23 --port COM24 --port COM25 --port COM26
    for n in 23 24 25 26; do
        grep -q "^COM$n: Completed\.$" "$work/four.out" ||
            { cat "$work/four.out" "$work/four.err" >&2; fail "four radios: no \"COM$n: Completed.\""; }
        flash_is_firmware "$n" || fail "four radios: COM$n's flash is not the firmware"
    done
    [ "$status" = 0 ] && return 0
    echo "check-windows: four radios written, but Wine ended the program with status $status:" >&2
    grep -v ': write: ' "$work/four.err" | tail -3 >&2
    return 1
}
four_radios || four_radios || fail "four radios: Wine did not end the program, twice"
ok "four radios from one tq-b9-cli.exe (COM23 to COM26): each Completed. in $took ms, exit 0"

# Hands-free: no radio on the cable when the watch starts; one is put on, and is written once.
rm -f "$work/present24"
start_radio 24 --presence-file "$work/present24"
TQB9_WINE_TIMEOUT=120 "$run" "$cli" --allow-test-firmware --watch --port COM24 \
    >"$work/watch.out" 2>"$work/watch.err" &
watcher=$!
sleep 3
touch "$work/present24"
for _ in $(seq 300); do grep -q 'Completed' "$work/watch.out" && break; sleep 0.1; done
sleep 3 # a second write would have begun by now
watch_writes=$(grep -c '^tq-b9-sim: erase' "$work/radio24.log" || true)
# Then a SIGINT (timeout passes it on to Wine). Wine hands it to the program's console handler as
# a Ctrl-C event in some runs, and the watch stops with its line and status 130; in others it ends
# the process without calling the handler (status 0, no line). Which one Wine does is reported, not
# judged: it is Wine's. The program must be gone within 10 s either way.
kill -INT "$watcher" 2>/dev/null || true
for _ in $(seq 100); do kill -0 "$watcher" 2>/dev/null || break; sleep 0.1; done
kill -0 "$watcher" 2>/dev/null && { kill "$watcher"; fail "--watch: still running 10 s after SIGINT"; }
watch_status=0
wait "$watcher" || watch_status=$?
sed -i 's/\r$//' "$work/watch.out" "$work/watch.err"
grep -q '^COM24: Completed\.$' "$work/watch.out" ||
    { cat "$work/watch.out" "$work/watch.err" >&2; fail "--watch: the radio put on was not written"; }
[ "$watch_writes" = 1 ] || fail "--watch: the radio was written $watch_writes times"
flash_is_firmware 24 || fail "--watch: the radio's flash is not the firmware"
if grep -q '^tq-b9-cli: COM24: stopped$' "$work/watch.err"; then
    [ "$watch_status" = 130 ] || fail "--watch: stopped by SIGINT, but with status $watch_status"
    sigint="Wine handed SIGINT to its console handler: stopped, status 130"
else
    sigint="Wine ended it at SIGINT without calling its console handler (status $watch_status)"
fi
ok "--watch on COM24: the radio put on was written once; $sigint"
stop_radios

echo "== The installer, silently"
# On a new prefix, so that nothing an earlier run left can pass for what this one installed.
timeout 30 "$wineserver" -k 2>/dev/null || true
timeout 30 "$wineserver" -w 2>/dev/null || true
export WINEPREFIX="$win/wine-install" TQB9_WINEPREFIX="$win/wine-install"
rm -rf "$WINEPREFIX"
folder="$WINEPREFIX/drive_c/Program Files/TQ-B9"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TQ-B9'
"$run" "$setup" /S || fail "the installer exited $?"
timeout 60 "$wineserver" -w
[ -x "$folder/tq-b9.exe" ] && [ -x "$folder/tq-b9-cli.exe" ] || fail "nothing installed in $folder"
[ -f "$folder/platforms/qwindows.dll" ] || fail "no platform plugin installed"
installed=$(TQB9_WINEPATH='' "$run" 'C:\Program Files\TQ-B9\tq-b9-cli.exe' --version | tr -d '\r')
[ "$installed" = "$("$linux/bin/tq-b9-cli" --version)" ] ||
    fail "installed tq-b9-cli.exe --version said: $installed"
ok "installed: $(head -1 <<<"$installed"), on its own DLLs"
"$run" reg query "$key" >"$work/uninstall.txt" 2>&1 || fail "no uninstaller registered ($key)"
grep -q "DisplayVersion.*$version" "$work/uninstall.txt" || fail "registered without version $version"
ls "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/"*/*.lnk >/dev/null 2>&1 ||
    fail "no Start-menu entry"
ok "uninstaller registered, Start-menu entry made"

echo "== The window, in Xvfb"
# Xvfb picks a display no other server holds (-displayfd), so a leftover server or lock file on a
# guessed number cannot take the window elsewhere.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=":$(cat "$work/display")"

# A window opens in about a second. Wine has been seen, once in many runs, not to show it in a
# minute; what was on the screen then is kept, and Wine is started afresh once more, so that a
# window that does not open on a sound Wine still fails.
#   open_window TITLE_REGEX TRY [ARGUMENTS...]    sets window
open_window() {
    local title=$1 try=$2
    shift 2
    # Wine's desktop process, started with the server by any program, keeps the display it
    # found: one started without DISPLAY would take the window off the screen. A new server
    # forgets the COM ports, so they are listed again.
    serial_ports
    TQB9_WINEPATH='' TQB9_WINE_TIMEOUT=120 "$run" 'C:\Program Files\TQ-B9\tq-b9.exe' "$@" \
        >"$work/window.log" 2>&1 &
    local pid=$! started=$SECONDS
    window=
    while ((SECONDS - started < 60)); do
        window=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -1) || true
        [ -z "$window" ] || return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    local status=running
    kill -0 "$pid" 2>/dev/null || { wait "$pid" && status=0 || status=$?; }
    echo "check-windows: no window after $((SECONDS - started)) s (tq-b9.exe $*: $status)" >&2
    echo "check-windows: on the screen:" \
        "$(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | paste -sd '|')" >&2
    cat "$work/window.log" >&2
    import -window root "$win/window-wine-failed-$try.png" 2>/dev/null &&
        echo "check-windows: the screen is in $win/window-wine-failed-$try.png" >&2
    return 1
}

# visible_window TITLE_REGEX SECONDS: the id of a visible window so named, as soon as there is one;
# empty if none came within SECONDS.
visible_window() {
    local id deadline=$((SECONDS + $2))
    while :; do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1) || true
        [ -z "$id" ] && ((SECONDS < deadline)) || break
        sleep 0.2
    done
    echo "$id"
}

# pictures FILE WINDOW...: the screen's part that holds these windows, not blank, bordered.
pictures() {
    local file=$1 id x0=100000 y0=100000 x1=0 y1=0 X Y WIDTH HEIGHT colours
    shift
    sleep 1 # let Qt paint
    for id in "$@"; do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        ((X < x0)) && x0=$X
        ((Y < y0)) && y0=$Y
        ((X + WIDTH > x1)) && x1=$((X + WIDTH))
        ((Y + HEIGHT > y1)) && y1=$((Y + HEIGHT))
    done
    import -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$work/window.png"
    colours=$(convert "$work/window.png" -format '%k' info:)
    [ "$colours" -gt 8 ] || fail "the window's picture is blank ($colours colours)"
    convert "$work/window.png" -bordercolor '#d8d8d8' -border 8 "$file"
}

# The window writes a radio as an operator would: COM23 chosen from the COM menu with the keyboard
# (Alt, the COM port submenu, down from COM1 past COM16 and the separator to the first port above
# it, COM23), Start pressed with the space bar, and the box's text read as Windows gives it,
# through Ctrl+C.
start_radio 23
open_window '^TQ-B9 ver ' 1 --allow-test-firmware ||
    open_window '^TQ-B9 ver ' 2 --allow-test-firmware || fail "the window did not open, twice"
xdotool windowfocus --sync "$window"
for key in alt Down Right $(printf "Down %.0s" $(seq 16)) Return; do
    xdotool key "$key"
    sleep 0.5
done
xdotool key space
box=$(visible_window '^(OK|NG)$' 60)
[ -n "$box" ] || { import -window root "$win/window-wine-failed-run.png"; fail "no box within 60 s of Start"; }
sleep 1
xdotool windowfocus --sync "$box"
xdotool key ctrl+c
sleep 0.5
said=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r' | sed -n 4p) || true
pictures "$shot" "$window" "$box"
[ "$(xdotool getwindowname "$box")" = OK ] && [ "$said" = Completed. ] ||
    fail "the window's box: \"$(xdotool getwindowname "$box")\", \"$said\"; see $shot"
xdotool key Return
flash_is_firmware 23 || fail "the window's run: the radio's flash is not the firmware"
grep -q '^tq-b9-sim: query' "$work/radio23.log" || fail "the window's run did not reach COM23"
ok "window: COM23 chosen from the menu, Start, \"OK\" box \"Completed.\", the flash is the firmware; picture in $shot"

# The station as an operator left it: COM23 and COM24 remembered, Automatic on. Two radios put on
# the cables after it opens are written hands-free, and the run log says so.
station_shot="$(dirname "$shot")/station-wine.png"
settings='HKCU\Software\TQ-B9\tq-b9\station'
"$run" reg add "$settings" /v ports /t REG_MULTI_SZ /d 'COM23\0COM24' /f >/dev/null 2>&1
"$run" reg add "$settings" /v automatic /d true /f >/dev/null 2>&1
runs="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/TQ-B9/tq-b9/runs.jsonl"
rm -f "$runs" "$work/present23" "$work/present24"
for n in 23 24; do start_radio "$n" --presence-file "$work/present$n"; done
open_window '^TQ-B9 Flashing Station' 3 --allow-test-firmware --station ||
    open_window '^TQ-B9 Flashing Station' 4 --allow-test-firmware --station ||
    fail "the station window did not open, twice"
# A radio already on its cable when Automatic comes on is held, not written: the radios arrive
# well after the station's first look at its ports.
sleep 5
touch "$work/present23" "$work/present24"
for _ in $(seq 120); do
    [ "$(grep -c '"outcome":"Completed\."' "$runs" 2>/dev/null)" = 2 ] && break
    sleep 0.5
done
sleep 1
# Wine may make the window anew as it takes its remembered size: look it up again.
window=$(visible_window '^TQ-B9 Flashing Station' 10)
[ -n "$window" ] || { import -window root "$win/window-wine-failed-station.png"; fail "the station window is gone"; }
pictures "$station_shot" "$window"
for n in 23 24; do
    grep -q "\"outcome\":\"Completed\.\",\"port\":\"COM$n\"" "$runs" ||
        { cat "$runs" >&2; fail "the station: no \"Completed.\" for COM$n in its log; see $station_shot"; }
    flash_is_firmware "$n" || fail "the station: COM$n's flash is not the firmware"
done
ok "station window: COM23 and COM24 written hands-free, both Completed. in its log; picture in $station_shot"
stop_radios
timeout 30 "$wineserver" -k || true
timeout 30 "$wineserver" -w || true

echo "== The uninstaller, silently"
# The uninstaller copies itself elsewhere and returns at once: wait for Wine to go idle.
"$run" 'C:\Program Files\TQ-B9\Uninstall.exe' /S || fail "the uninstaller exited $?"
timeout 60 "$wineserver" -w
[ ! -e "$folder" ] || { find "$folder"; fail "left behind in $folder"; }
! "$run" reg query "$key" >/dev/null 2>&1 || fail "the uninstaller is still registered"
ok "uninstalled: $folder gone, registration gone"

echo "== The zip"
unzip -q "$zip" -d "$work/zip"
top="$work/zip/tq-b9-$version-win64"
[ -x "$top/tq-b9-cli.exe" ] || fail "the zip has no tq-b9-$version-win64/tq-b9-cli.exe"
(cd "$win/_CPack_Packages/win64/NSIS/tq-b9-$version-win64-setup" && find . -type f | sort) >"$work/nsis.lst"
(cd "$top" && find . -type f | sort) >"$work/zip.lst"
diff -u "$work/nsis.lst" "$work/zip.lst" || fail "the zip and the installer hold other files"
zipped=$(TQB9_WINEPATH='' "$run" "$top/tq-b9-cli.exe" --version | tr -d '\r')
[ "$zipped" = "$installed" ] || fail "the zip's tq-b9-cli.exe --version said: $zipped"
ok "the zip: the installer's $(wc -l <"$work/zip.lst") files, runs on its own DLLs"

echo "check-windows: $passed passed, 0 failed"
