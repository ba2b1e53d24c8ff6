#!/usr/bin/env bash
# FTP download throughput over loopback from vsftpd (active mode), for a
# 256 MiB file:
#  - source: the FTP download source under Wine (Open, Read of 4096 bytes
#    to the end, Close), as the store drives it;
#  - raw recv: a bare Winsock loop under Wine, PORT and RETR, then recv() in
#    4096-byte reads on the data connection;
#  - curl: natively, active mode (--ftp-port -), to /dev/null.
# Times under Wine are taken inside the program around the retrieval
# (QueryPerformanceCounter), so Wine's start-up and the login are not
# counted; curl's time includes its login. Each is run RUNS times (default 3).
#   bench/ftp_throughput.sh      (BUILD_DIR picks the build, as scripts/run)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${RUNS:-3}

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" --target ftp_throughput >/dev/null
bench=$build/bench/ftp_throughput.exe

export WINEPREFIX=${WINEPREFIX:-/tmp/wp-ftp}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

work=$(mktemp -d /tmp/ftpbench.XXXXXX)
vsftpd_pid=""
cleanup() {
  [ -n "$vsftpd_pid" ] && kill "$vsftpd_pid" 2>/dev/null && wait "$vsftpd_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# vsftpd serves anonymous users as the ftp user: the root must be readable
# by it and must not be writable.
mkdir -p "$work/anon" "$work/empty"
chmod 755 "$work" "$work/anon"
head -c 268435456 /dev/urandom >"$work/anon/big.bin"
chmod 644 "$work/anon/big.bin"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
local_enable=NO
write_enable=NO
anon_root=$work/anon
connect_from_port_20=NO
pasv_enable=NO
secure_chroot_dir=$work/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
CONF
vsftpd "$work/vsftpd.conf" >"$work/vsftpd.log" 2>&1 &
vsftpd_pid=$!
for _ in $(seq 150); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

wineserver -p 30 2>/dev/null || true   # keep one server across the runs (or the one running)
echo "256 MiB from vsftpd on 127.0.0.1, active mode (MB = 2^20 bytes)"
for i in $(seq "$runs"); do
  printf 'source    run %d: ' "$i"; wine "$bench" source "127.0.0.1:$port" /big.bin | tr -d '\r'
  printf 'raw recv  run %d: ' "$i"; wine "$bench" raw "$port" /big.bin | tr -d '\r'
  printf 'curl      run %d: ' "$i"
  curl -s --ftp-port - -o /dev/null -w '%{size_download} %{time_total}\n' \
      "ftp://127.0.0.1:$port/big.bin" |
    awk '{ printf "%d bytes in %.3f s: %.1f MB/s\n", $1, $2, $1 / 1048576 / $2 }'
done
