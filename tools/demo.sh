#!/usr/bin/env bash
# The whole job without a radio: tq-b9-cli writes the built-in firmware into the simulated radio,
# then the radio's flash is compared with the firmware the program carries.
#
#   tools/demo.sh [BUILD_DIR] [--fast]
#
# The simulated radio answers at the real line speed (57600 8N1, about 45 s for the whole run)
# unless --fast is given. Needs only bash, coreutils and cmp besides the build.
set -euo pipefail

build=build
pace=--pace
for arg in "$@"; do
  case $arg in
    --fast) pace= ;;
    -h|--help) sed -n '2,8s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "demo.sh: unknown option $arg" >&2; exit 64 ;;
    *) build=$arg ;;
  esac
done
bin=$build/bin

if [[ ! -x $bin/tq-b9-cli || ! -x $bin/tq-b9-sim ]]; then
  echo "== Building tq-b9-cli and tq-b9-sim in $build"
  [[ -f $build/build.ninja || -f $build/Makefile ]] || cmake -S "$(dirname "$0")/.." -B "$build" -G Ninja
  cmake --build "$build" --target tq-b9-cli tq-b9-sim
fi

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [[ -n $sim_pid ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The simulated radio prints the device to open as its first line and writes its flash to a file
# when it is stopped. It is stopped only after tq-b9-cli has finished: a radio that vanished
# while the program still reads its last answer would fail the run.
coproc SIM { exec "$bin/tq-b9-sim" $pace --dump "$work/flash.bin" 2>"$work/sim.log"; }
sim_pid=$SIM_PID
if ! read -r -t 10 device <&"${SIM[0]}"; then
  echo "demo.sh: the simulated radio did not start" >&2
  cat "$work/sim.log" >&2
  exit 1
fi

echo "== Simulated TQ-B9 on $device${pace:+, answering at 57600 bit/s}"
# The built-in firmware is the repository's test image; only a simulated radio may get it.
echo "== tq-b9-cli --allow-test-firmware --port $device"
status=0
"$bin/tq-b9-cli" --allow-test-firmware --port "$device" || status=$?
if [[ $status -ne 0 ]]; then
  echo "demo.sh: tq-b9-cli ended with exit status $status" >&2
  exit "$status"
fi

# The radio writes its dump as it exits.
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=
sed 's/^/   /' "$work/sim.log"

# The write range is 0xC0000..0xFEFFF; the radio's top 4 KB block is never erased or written.
"$bin/tq-b9-cli" --export-image "$work/firmware.bin"
range=$((0xFF000 - 0xC0000))
if [[ ! -s $work/flash.bin ]]; then
  echo "demo.sh: the simulated radio left no flash dump" >&2
  exit 1
fi
if cmp -n "$range" "$work/firmware.bin" "$work/flash.bin"; then
  echo "== The simulated radio's flash equals the built-in firmware from 0xC0000 to 0xFEFFF ($range bytes)."
else
  echo "demo.sh: the simulated radio's flash differs from the built-in firmware" >&2
  exit 1
fi
