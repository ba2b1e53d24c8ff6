#!/usr/bin/env bash
# Times one DSA verification (VerifySignature) for DSA-1024/160 and
# DSA-2048/160 beside `openssl speed -seconds 1 dsa1024 dsa2048` on this
# machine, as a ratio. Four builds of crypto/ with the product's flags (-O2,
# no exceptions, no RTTI): the Windows build under Wine and the native build,
# each with the product kernel (64-bit multiply, 64-by-32 division) and with
# the portable 16x16-bit products and 32-by-16-bit divisions (BIG_KERNEL16).
#
# usage: bench/dsa_verify.sh [WORK_DIR]   (binaries go there; default: a temp dir)
# Keys and signatures: tests/crypto/dsa_1024_160.txt and dsa_2048_160.txt.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-env"
trap wine_env_cleanup EXIT
# Without a WORK_DIR the binaries go with the Wine prefix's folder.
work=${1:-$wine_env_work/bin}
mkdir -p "$work"
wine_env_boot

sources=("$root/crypto/bignum.cpp" "$root/crypto/modexp.cpp" "$root/crypto/dsa.cpp"
         "$root/bench/dsa_verify.cpp")
flags=(-std=c++17 -O2 -DNDEBUG -fno-exceptions -fno-rtti -ffunction-sections
       -fdata-sections -Wall -Wextra -I"$root")
fixtures=("$root/tests/crypto/dsa_1024_160.txt" "$root/tests/crypto/dsa_2048_160.txt")

g++ "${flags[@]}" "${sources[@]}" -o "$work/native64"
g++ "${flags[@]}" -DBIG_KERNEL16 "${sources[@]}" -o "$work/native16"
i686-w64-mingw32-g++-posix "${flags[@]}" -static "${sources[@]}" -o "$work/win64.exe"
i686-w64-mingw32-g++-posix "${flags[@]}" -DBIG_KERNEL16 -static "${sources[@]}" \
  -o "$work/win16.exe"

# "dsa 1024 bits 0.000098s 0.000072s ..." : the verify column, in microseconds.
openssl speed -seconds 1 dsa1024 dsa2048 2>/dev/null > "$work/openssl.txt"
ossl1024=$(awk '$1 == "dsa" && $2 == "1024" { sub("s", "", $5); print $5 * 1e6 }' "$work/openssl.txt")
ossl2048=$(awk '$1 == "dsa" && $2 == "2048" { sub("s", "", $5); print $5 * 1e6 }' "$work/openssl.txt")

row() {  # label, then the two times in microseconds
  awk -v label="$1" -v a="$2" -v b="$3" -v oa="$ossl1024" -v ob="$ossl2048" \
    'BEGIN { printf "%-40s %9.1f us %6.1fx   %9.1f us %6.1fx\n", label, a, a / oa, b, b / ob }'
}

measure() {  # label, command...
  local label=$1
  shift
  local times
  times=$("$@" "${fixtures[@]}" | awk '{ print $2 }' | tr '\n' ' ')
  # shellcheck disable=SC2086
  row "$label" $times
}

echo "One DSA verification; ratio = time / openssl speed verify time"
printf "%-40s %19s   %19s\n" "" "DSA-1024/160" "DSA-2048/160"
row "openssl speed (native, $(openssl version | cut -d' ' -f2))" "$ossl1024" "$ossl2048"
measure "native, 64-bit kernel (product)" "$work/native64"
measure "native, 16x16 kernel" "$work/native16"
measure "Windows/Wine, 64-bit kernel (product)" wine "$work/win64.exe"
measure "Windows/Wine, 16x16 kernel" wine "$work/win16.exe"
