# Sourced by the screenshot scripts: a scratch folder $work (from mktemp -d $work_template, when
# set), the processes in $pids ended last first at exit, wait_for, and start_desktop.
# $me names the script in messages.

work=$(mktemp -d ${work_template:+"$work_template"})
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 seconds for the command in $1 to succeed.
wait_for() {
    local deadline=$((SECONDS + $2))
    until eval "$1"; do
        ((SECONDS < deadline)) || { echo "$me: gave up waiting for: $1" >&2; exit 1; }
        sleep 0.2
    done
}

# start_desktop WIDTHxHEIGHT [OPENBOX_OPTIONS...]: a private Xvfb screen, on a display no other
# server holds, with openbox managing its windows; DISPLAY is exported.
start_desktop() {
    Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    wait_for '[ -s "$work/display" ]' 10
    export DISPLAY=":$(cat "$work/display")"
    shift
    openbox --sm-disable "$@" >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_for 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window' 10
}
