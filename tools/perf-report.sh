#!/usr/bin/env bash
# The performance table in one run: the in-process benchmarks of tq-b9-bench, then whole runs of
# tq-b9-cli and of the window against the simulated radio (tq-b9-perf), unpaced and paced at the
# radio's 57600 8N1. Prints a markdown table; takes about four minutes, most of it the paced runs.
#
#   tools/perf-report.sh [BUILD_DIR] [tq-b9-perf options]      (BUILD_DIR defaults to build)
set -euo pipefail

build=${1:-build}
shift || true
bin=$build/bin
for program in tq-b9-bench tq-b9-perf tq-b9-cli tq-b9-sim; do
  [[ -x $bin/$program ]] || { echo "perf-report: $bin/$program is not built" >&2; exit 1; }
done

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
read -r load1 load5 _ < /proc/loadavg

# Google Benchmark's CSV: name, iterations, real_time, cpu_time, time_unit, ...
bench_csv=$("$bin/tq-b9-bench" --benchmark_format=csv 2>/dev/null)
rows=$("$bin/tq-b9-perf" --rows-only "$@")

echo
echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) x ${cpu:-unknown CPU}, load average $load1 / $load5; $build"
echo
echo "| Measure | Figure | Goal | Reproduce |"
echo "|---|---|---|---|"
while IFS=, read -r name _ real cpu_time unit _; do
  name=${name//\"/}
  unit=${unit/us/µs}
  case $name in
    name|'') continue ;;
    BM_LoadBuiltInFirmware) label="Start-up load (clear, fill, parse)" ;;
    *_mean|*_stddev|*_cv) continue ;;
    BM_LoadSRecordFile/*_median) label="Firmware file: read, check, load ~600 KB of S-record (median of 11)" ;;
    BM_LoadIntelHexFile/*_median) label="Firmware file: the same image as Intel HEX (median of 11)" ;;
    *) label=$name ;;
  esac
  printf '| %s | %.3f %s CPU (%.3f %s wall) |  | `%s` |\n' "$label" "$cpu_time" "$unit" "$real" "$unit" \
    "$bin/tq-b9-bench --benchmark_filter=^$name\$"
done <<< "$bench_csv"
echo "$rows" | sed "s#\`tq-b9-perf#\`$bin/tq-b9-perf#"
