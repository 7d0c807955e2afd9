#!/usr/bin/env bash
# What `make check-windows` runs: the Windows build under Wine, as far as Wine can carry it.
#
#   tools/check-windows.sh [WINDOWS_BUILD] [LINUX_BUILD] [SCREENSHOT]
#                          (defaults: build-windows, build, WINDOWS_BUILD/window-wine.png)
#
# 1. The test programs `make check-nosim` runs: the pure tests and the scripted-line tests, which
#    play the radio in-process. Their pseudo-terminal cases skip: Wine 8.0 cannot carry
#    QSerialPort over a pseudo-terminal, so no whole write runs here (README, Windows).
# 2. tq-b9-cli.exe: --version, --help and --info say what the Linux build says, --export-image
#    writes the Linux build's bytes, also from a firmware file whose name is Cyrillic and Japanese;
#    COM23 is listed and opened, and the simulated radio behind it hears the query.
# 3. The installer, silently (/S): the installed tq-b9-cli.exe runs on the DLLs beside it alone,
#    the uninstaller is registered, and a silent uninstall leaves nothing in the folder. The zip's
#    folder holds the same files and runs the same way.
# 4. The window and the station window, from the installed folder, on a private Xvfb display:
#    each must open, and their pictures are written to SCREENSHOT and station-wine.png beside it.
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

for file in "$run" "$win/bin/tq-b9-cli.exe" "$linux/bin/tq-b9-cli" "$setup" "$zip"; do
    [ -e "$file" ] || { echo "check-windows: $file is missing (make windows, make build)" >&2; exit 1; }
done
for tool in Xvfb xdotool import convert unzip; do
    command -v "$tool" >/dev/null || { echo "check-windows: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=
cleanup() {
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

echo "== COM23: listed, opened, and the request reaches the radio"
# Wine makes COMn of its dosdevices/comn link; the simulated radio (the Linux build's) sits behind
# it. Wine lists only the ports it found at start-up, so COM23 joins its list for this server's
# life. Sending works over a pseudo-terminal under Wine, receiving does not: the run must end in
# silence after the radio has heard the query, not in a port that cannot be found or opened.
"$linux/bin/tq-b9-sim" --verbose --link "$work/radio23" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/radio23" ] && break; sleep 0.1; done
ln -sfn "$work/radio23" "$WINEPREFIX/dosdevices/com23"
timeout 30 "$wineserver" -k 2>/dev/null || true
timeout 30 "$wineserver" -w 2>/dev/null || true
# A persistent server prints its objects as it is ended: not worth reading.
timeout 120 "$wineserver" -p 60 2>"$work/wineserver.log"
"$run" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial23' /d COM23 /f >/dev/null 2>&1
windows_out "$cli" --list-ports | grep -q '^COM23  COM23' || fail "--list-ports does not list COM23"
status=0
windows_out "$cli" --port COM23 --allow-test-firmware >"$work/com23.out" 2>"$work/com23.err" || status=$?
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
rm -f "$WINEPREFIX/dosdevices/com23"
timeout 30 "$wineserver" -k 2>/dev/null || true
tr -d '\r' <"$work/com23.err" | grep -q 'Nothing came back from the radio on COM23' ||
    { cat "$work/com23.err" >&2; fail "--port COM23 did not reach COM23 (exit $status)"; }
[ -s "$work/sim.err" ] || fail "the radio behind COM23 heard nothing"
ok "--list-ports lists COM23; --port COM23 opened it and the radio heard: $(head -1 "$work/sim.err")"

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
    # found: one started without DISPLAY would take the window off the screen.
    timeout 30 "$wineserver" -k 2>/dev/null || true
    timeout 30 "$wineserver" -w 2>/dev/null || true
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

# Its picture, which must not be blank, bordered into $1.
picture() {
    sleep 2 # let Qt paint
    import -window "$window" "$work/window.png"
    local colours
    colours=$(convert "$work/window.png" -format '%k' info:)
    [ "$colours" -gt 8 ] || fail "the window's picture is blank ($colours colours)"
    convert "$work/window.png" -bordercolor '#d8d8d8' -border 8 "$1"
}

open_window '^TQ-B9 ver ' 1 || open_window '^TQ-B9 ver ' 2 || fail "the window did not open, twice"
picture "$shot"
ok "window \"$(xdotool getwindowname "$window")\" opened; picture in $shot"
station_shot="$(dirname "$shot")/station-wine.png"
open_window '^TQ-B9 Flashing Station' 3 --station ||
    open_window '^TQ-B9 Flashing Station' 4 --station || fail "the station window did not open, twice"
picture "$station_shot"
ok "station window \"$(xdotool getwindowname "$window")\" opened; picture in $station_shot"
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
