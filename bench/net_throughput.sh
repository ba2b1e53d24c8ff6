#!/usr/bin/env bash
# HTTP download throughput over loopback from nginx, for a 256 MiB file:
#  - source: the HTTP download source under Wine (Open, Read of 4096 bytes
#    to the end, Close), as the store drives it;
#  - raw recv: a bare Winsock loop under Wine, GET then recv() in 4096-byte
#    reads on the same kind of connection;
#  - curl: natively, to /dev/null.
# Times under Wine are taken inside the program (QueryPerformanceCounter),
# so Wine's start-up is not counted. Each is run RUNS times (default 3).
#   bench/net_throughput.sh      (BUILD_DIR picks the build, as scripts/run)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${RUNS:-3}

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" --target net_throughput >/dev/null
bench=$build/bench/net_throughput.exe

export WINEPREFIX=${WINEPREFIX:-/tmp/wp-net}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

work=$(mktemp -d /tmp/netbench.XXXXXX)
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www" "$work/nginx"
chmod 755 "$work" "$work/www"
head -c 268435456 /dev/urandom >"$work/www/big.bin"
chmod 644 "$work/www/big.bin"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
p=$work/nginx
cat >"$p/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $p/nginx.pid;
error_log $p/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $p/body;
    proxy_temp_path $p/proxy;
    fastcgi_temp_path $p/fastcgi;
    uwsgi_temp_path $p/uwsgi;
    scgi_temp_path $p/scgi;
    server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx -p "$p" -e "$p/error.log" -c "$p/nginx.conf" &
nginx_pid=$!
for _ in $(seq 150); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

url=http://127.0.0.1:$port/big.bin
# One server and its services for all runs, started away from this script's
# output, which they would otherwise hold open after the script ends.
wineserver -p 30 </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
echo "256 MiB from nginx on 127.0.0.1 (MB = 2^20 bytes)"
for i in $(seq "$runs"); do
  printf 'source    run %d: ' "$i"; wine "$bench" source "$url" | tr -d '\r'
  printf 'raw recv  run %d: ' "$i"; wine "$bench" raw "$port" /big.bin | tr -d '\r'
  printf 'curl      run %d: ' "$i"
  curl -s -o /dev/null -w '%{size_download} %{time_total}\n' "$url" |
    awk '{ printf "%d bytes in %.3f s: %.1f MB/s\n", $1, $2, $1 / 1048576 / $2 }'
done
