#!/usr/bin/env bash
# A build that carries a firmware other than the test image, end to end, without the radio's own
# file: a made-up Intel HEX firmware (tools/samplefirmware.sh) goes in with -DTQB9_FIRMWARE; the
# build must refuse a damaged copy with its FILE:LINE, tq-b9-cli must call the firmware what it is
# and write it into the simulated radio without --allow-test-firmware, and the test suite must
# pass in that build.
#
#   tools/realfirmware-build.sh [BUILD_DIR]      (default: build-realfw)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-realfw}
mkdir -p "$build"
firmware=$(realpath "$build")/radio-E5.001.hex
tools/samplefirmware.sh "$firmware" 258048 7

# A damaged copy fails the configure-and-build with the reader's message.
bad=$(realpath "$build")/damaged.hex
sed '100s/..$/00/' "$firmware" >"$bad"
if cmake -S . -B "$build/bad" -G Ninja -DTQB9_FIRMWARE="$bad" -DTQB9_BENCH=OFF >/dev/null &&
   cmake --build "$build/bad" --target tqb9firmwarelines >"$build/bad.log" 2>&1; then
  echo "realfirmware-build: a damaged firmware file was built in" >&2
  exit 1
fi
grep -q "^$bad:100: checksum 0x00, expected 0x" "$build/bad.log" ||
  { echo "realfirmware-build: the build did not name the damaged line" >&2; cat "$build/bad.log" >&2; exit 1; }
echo "== A damaged file fails the build: $(grep -m1 "^$bad:" "$build/bad.log")"
rm -rf "$build/bad"

cmake -S . -B "$build" -G Ninja -DTQB9_FIRMWARE="$firmware" -DTQB9_FIRMWARE_VERSION=E5.001 \
  -DTQB9_BENCH=OFF >/dev/null
cmake --build "$build" -j2
"$build/bin/tq-b9-cli" --info
"$build/bin/tq-b9-cli" --info | grep -q '^source: *built-in firmware E5.001$'
! "$build/bin/tq-b9-cli" --info | grep -q '^test image'

# Written without --allow-test-firmware, and the radio holds exactly the firmware.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
coproc SIM { exec "$build/bin/tq-b9-sim" --dump "$work/flash.bin" --exit-after-end 2>/dev/null; }
read -r -t 10 device <&"${SIM[0]}"
"$build/bin/tq-b9-cli" --quiet --port "$device"
wait "$SIM_PID" || true
"$build/bin/tq-b9-cli" --export-image "$work/firmware.bin"
cmp -n $((0xFF000 - 0xC0000)) "$work/firmware.bin" "$work/flash.bin"
echo "== The simulated radio holds the built-in E5.001 firmware from 0xC0000 to 0xFEFFF."

cd "$build" && ctest -j2 --output-on-failure
