#!/usr/bin/env bash
# Installing one large payload carried in the installer's own resources,
# against copying and hashing the same bytes natively, and the installer's
# peak memory.
#   bench/install_bench.sh          (BUILD_DIR picks the build, as scripts/run;
#                                    RUNS the number of runs, default 5)
#
# Two installers differ only in their payload: 256 MiB and 4 KiB. Each runs
# in a fresh copy of one booted Wine prefix, answered by the UI robot (OK on
# the folder dialog, status window left open, OK on the closing box). A run
# is the installer process's life, creation to exit, from GetProcessTimes
# (bench/peakmem.cpp); it includes the robot's answers, not Wine's start-up.
# The copy and hash of 256 MiB is the large run minus the small one, which
# leaves out the boxes, the shortcut and the registry. The anchor is the wall
# time of `cp big.bin TMP && sha1sum TMP` natively. Runs take turns and wait
# for a quiet machine (bench/quiet.sh); the figures are medians.
#
# Peak memory: PeakWorkingSetSize of the installer process, read by peakmem
# through GetProcessMemoryInfo while the process lives (under Wine the host
# process's VmHWM: resident pages, file-backed ones included), and the
# largest PagefileUsage it saw (peak private bytes), which should not grow
# with the payload.
#
# Where the copy's time went (256 MiB, the copy loop timed from inside the
# installer with QueryPerformanceCounter, on a busy machine): with a progress
# report every 1/512 of the file, the 512 reports (two synchronous messages
# each into the status window's thread) took 8.0 s of the loop's 8.7 s,
# about 16 ms apiece while the other thread waited for a CPU (the 0.7 s
# that a quiet machine could not account for); reading from the resources
# and hashing 0.24 to 0.30 s; 65,536 WriteFile calls of 4 KiB 0.40 s. With a
# report at most every 50 ms and 64 KiB per WriteFile: 14 reports in 0.22 s
# and 0.26 s of writing.
#
# Output: a table, then one line per figure, blank-separated key=value
# pairs after the row's name:
#   install ours=<s> anchor=<s> ratio=<ours/anchor> goal=0.90 unit=s runs=<n> idle=<percent>
# (idle: the lowest share of idle CPU time seen before a measurement)
#   install-memory ours=<MiB, 256 MiB payload> anchor=<MiB, 4 KiB payload> ratio=... unit=MiB
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${RUNS:-5}

"$root/scripts/configure" windows "$build"
cmake --build "$build" -j "$(nproc)" --target install_bench >/dev/null

. "$root/bench/quiet.sh"
. "$root/scripts/wine-env"
trap wine_env_cleanup EXIT
wine_env_boot
template=$wine_env_work/template
mv "$WINEPREFIX" "$template"
printf 'press OK\nleave\npress OK\n' >"$wine_env_work/accept.txt"
payload=$build/bench/payload_256/big.bin

calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# A number from peakmem's report line (in $report).
field() { echo "$report" | sed -n "s/.* $1=\([0-9]*\).*/\1/p"; }

# One installer run: sets run_s and private_kb.
install_once() {
  local size=$1 exe=bench_$1_setup.exe
  export WINEPREFIX=$wine_env_work/run_$size
  rm -rf "$WINEPREFIX"
  cp -a "$template" "$WINEPREFIX"
  # Wine's server and services start before the clock does.
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1
  wait_quiet
  if ! wine "$build/bench/peakmem.exe" "$exe" -- "$build/tests/robot/robot.exe" --timeout 900 \
      "$wine_env_work/accept.txt" -- "$build/bench/$exe" >"$wine_env_work/run_$size.log"; then
    cat "$wine_env_work/run_$size.log" >&2
    echo "install_bench: the $size run failed" >&2
    exit 1
  fi
  wineserver -k
  wineserver -w
  if ! cmp -s "$build/bench/payload_$size/big.bin" \
      "$WINEPREFIX/drive_c/Program Files/Bench/big.bin"; then
    echo "install_bench: the $size run did not install the payload intact" >&2
    exit 1
  fi
  report=$(grep '^peakmem:' "$wine_env_work/run_$size.log")
  run_s=$(calc "$(field run_ms) / 1000")
  private_kb=$(field peak_private_kb)
  peak_kb=$(field peak_working_set_kb)
  rm -rf "$WINEPREFIX"
}

native_once() {
  local copy
  copy=$(mktemp /tmp/install_bench.XXXXXX)
  wait_quiet
  local start=$EPOCHREALTIME
  cp "$payload" "$copy" && sha1sum "$copy" >/dev/null
  native_s=$(calc "$EPOCHREALTIME - $start")
  rm -f "$copy"
}

: >"$wine_env_work/figures"
for run in $(seq "$runs"); do
  install_once 4k
  small_s=$run_s small_private=$private_kb
  install_once 256
  native_once
  echo "$small_s $run_s $(calc "$run_s - $small_s") $native_s $small_private $private_kb $peak_kb" \
    >>"$wine_env_work/figures"
  echo "install_bench: run $run: 4 KiB ${small_s}s, 256 MiB ${run_s}s, cp + sha1sum ${native_s}s ($quiet_note)" >&2
done
column() { awk -v c="$1" '{ print $c }' "$wine_env_work/figures" | median; }
small=$(column 1) large=$(column 2) copy=$(column 3) native=$(column 4)
small_private=$(column 5) large_private=$(column 6) large_peak=$(column 7)
mib() { calc "$1 / 1024"; }

printf '\nmedians of %s runs                      seconds\n' "$runs"
printf '%-40s %8.2f\n' "installer run, 4 KiB payload" "$small" \
  "installer run, 256 MiB payload" "$large" \
  "copy + hash of 256 MiB (difference)" "$copy" \
  "cp + sha1sum, native" "$native"
printf '%-40s %8.2f\n' "copy + hash / (cp + sha1sum)" "$(calc "$copy / $native")"
printf '%-40s %8.1f MiB\n' "peak private, 4 KiB payload" "$(mib "$small_private")" \
  "peak private, 256 MiB payload" "$(mib "$large_private")" \
  "peak working set, 256 MiB payload" "$(mib "$large_peak")"
echo "install ours=$copy anchor=$native ratio=$(calc "$copy / $native") goal=0.90 unit=s" \
  "runs=$runs idle=$quiet_lowest"
echo "install-memory ours=$(mib "$large_private") anchor=$(mib "$small_private")" \
  "ratio=$(calc "$large_private / $small_private") unit=MiB runs=$runs"
