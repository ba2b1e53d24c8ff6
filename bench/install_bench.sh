#!/usr/bin/env bash
# Installing one large payload carried in the installer's own resources,
# against copying and hashing the same file natively, and the installer's
# peak memory for a 16 MiB and a 256 MiB payload (it should not grow with
# the payload: the copy goes through a fixed chunk buffer).
#   bench/install_bench.sh          (BUILD_DIR picks the build, as scripts/run)
#
# Each installer runs in a fresh copy of one booted Wine prefix, answered by
# the UI robot (OK on the folder dialog, status window left open, OK on the
# closing box). What is measured:
#  - installer run: the installer process's life, creation to exit, from
#    GetProcessTimes (bench/peakmem.cpp). It includes the robot's answers to
#    the two boxes (about 0.1 s each), not Wine's start-up.
#  - robot run: wall time of `wine peakmem robot ... installer` on the host,
#    Wine's start of the processes included.
#  - cp + sha1sum: wall time of `cp big.bin TMP && sha1sum TMP` natively.
#  - peak working set: PeakWorkingSetSize of the installer process, read by
#    peakmem through GetProcessMemoryInfo while the process lives (under
#    Wine this is the host process's VmHWM: resident pages, file-backed ones
#    included); peak private: the largest PagefileUsage it saw.
# `/usr/bin/time -f %M wine robot ...` would not do: it reports the largest
# resident set among the processes it waits for, the Wine loader of the
# robot (about 7 MB), while Wine starts the installer as a process of its own
# that GNU time never waits for.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
sizes=(16 256)

"$root/scripts/configure" windows "$build"
cmake --build "$build" -j "$(nproc)" --target install_bench >/dev/null

. "$root/scripts/wine-env"
trap wine_env_cleanup EXIT
wine_env_boot
template=$wine_env_work/template
mv "$WINEPREFIX" "$template"
printf 'press OK\nleave\npress OK\n' >"$wine_env_work/accept.txt"

calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
seconds_since() { calc "$EPOCHREALTIME - $1"; }
# A number from peakmem's report line (in $report).
field() { echo "$report" | sed -n "s/.* $1=\([0-9]*\).*/\1/p"; }

declare -A installer_s robot_s native_s peak_kb private_kb
for mb in "${sizes[@]}"; do
  exe=bench_${mb}_setup.exe
  payload=$build/bench/payload_$mb/big.bin
  export WINEPREFIX=$wine_env_work/run_$mb
  cp -a "$template" "$WINEPREFIX"

  start=$EPOCHREALTIME
  if ! wine "$build/bench/peakmem.exe" "$exe" -- "$build/tests/robot/robot.exe" --timeout 900 \
      "$wine_env_work/accept.txt" -- "$build/bench/$exe" >"$wine_env_work/run_$mb.log"; then
    cat "$wine_env_work/run_$mb.log" >&2
    echo "install_bench: the $mb MiB run failed" >&2
    exit 1
  fi
  robot_s[$mb]=$(seconds_since "$start")
  wineserver -w
  if ! cmp -s "$payload" "$WINEPREFIX/drive_c/Program Files/Bench/big.bin"; then
    echo "install_bench: the $mb MiB run did not install the payload intact" >&2
    exit 1
  fi
  report=$(grep '^peakmem:' "$wine_env_work/run_$mb.log")
  installer_s[$mb]=$(calc "$(field run_ms) / 1000")
  peak_kb[$mb]=$(field peak_working_set_kb)
  private_kb[$mb]=$(field peak_private_kb)
  rm -rf "$WINEPREFIX"

  copy=$(mktemp /tmp/install_bench.XXXXXX)
  start=$EPOCHREALTIME
  cp "$payload" "$copy" && sha1sum "$copy" >/dev/null
  native_s[$mb]=$(seconds_since "$start")
  rm -f "$copy"
done

row() {
  local label=$1 mb
  shift
  printf '%-34s' "$label"
  for mb in "${sizes[@]}"; do printf '%12s' "$("$@" "$mb")"; done
  printf '\n'
}
figure() { printf '%.2f' "$1"; }
installer_time() { figure "${installer_s[$1]}"; }
robot_time() { figure "${robot_s[$1]}"; }
native_time() { figure "${native_s[$1]}"; }
ratio() { printf '%.1fx' "$(calc "${installer_s[$1]} / ${native_s[$1]}")"; }
mib() { printf '%.1f' "$(calc "$1 / 1024")"; }
peak() { mib "${peak_kb[$1]}"; }
private() { mib "${private_kb[$1]}"; }
payload_size() { echo "$1 MiB"; }

echo
row "payload" payload_size
row "installer run (s)" installer_time
row "robot run, wall (s)" robot_time
row "cp + sha1sum, native (s)" native_time
row "installer / cp+sha1sum" ratio
row "installer peak working set (MiB)" peak
row "installer peak private (MiB)" private
