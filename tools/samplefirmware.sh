#!/usr/bin/env bash
# Writes a made-up firmware that is NOT the test image, as Intel HEX (04 address records, 32-byte
# data records): BYTES pseudo-random bytes from 0xC0000 up. For trying --firmware, drops and
# -DTQB9_FIRMWARE without the radio's own file; a radio must never be given it.
#
#   tools/samplefirmware.sh OUT.hex [BYTES] [SEED]     (defaults: 258048 bytes, all of
#   0xC0000..0xFEFFF, so that a run refills every block it erases; seed 1)
set -euo pipefail
out=${1:?usage: samplefirmware.sh OUT.hex [BYTES] [SEED]}
bytes=${2:-258048}
seed=${3:-1}
awk -v bytes="$bytes" -v seed="$seed" '
function rec(type, offset, n,    line, sum, i) {
    line = sprintf(":%02X%04X%02X", n, offset, type)
    sum = n + int(offset / 256) + offset % 256 + type
    for (i = 0; i < n; i++) { line = line sprintf("%02X", data[i]); sum += data[i] }
    print line sprintf("%02X", (256 - sum % 256) % 256)
}
BEGIN {
    x = seed
    base = -1
    for (a = 786432; a < 786432 + bytes; a += 32) {
        if (int(a / 65536) != base) {
            base = int(a / 65536)
            data[0] = int(base / 256); data[1] = base % 256
            rec(4, 0, 2)
        }
        n = 786432 + bytes - a; if (n > 32) n = 32
        for (i = 0; i < n; i++) { x = (x * 16807) % 2147483647; data[i] = int(x / 256) % 256 }
        rec(0, a % 65536, n)
    }
    rec(1, 0, 0)
}' > "$out"
