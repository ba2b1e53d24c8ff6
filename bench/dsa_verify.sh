#!/usr/bin/env bash
# One DSA verification (VerifySignature) for DSA-1024/160 and DSA-2048/160
# beside `openssl speed -seconds 1 dsa1024 dsa2048` measured in the same run,
# natively and as the Windows build under Wine. Each figure is the median of
# RUNS runs (openssl's and ours interleaved); each of our runs is itself the
# median verification time over one second. Four builds of crypto/ with the
# product's flags (-O2, no exceptions, no RTTI): native and Windows, each
# with the product kernel and with the portable 16x16-bit kernel
# (BIG_KERNEL16).
#
# usage: bench/dsa_verify.sh [WORK_DIR]   (binaries go there; default: beside the Wine prefix)
# RUNS=N sets the number of runs (default 5). Keys and signatures:
# tests/crypto/dsa_1024_160.txt and dsa_2048_160.txt.
#
# Output, one row per line, tab-separated, after a header line that starts
# with "#":  name <TAB> ours (us) <TAB> anchor (us) <TAB> ratio (ours / anchor)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-5}
. "$root/scripts/wine-env"
trap wine_env_cleanup EXIT
# Without a WORK_DIR the binaries go with the Wine prefix's folder.
work=${1:-$wine_env_work/bin}
mkdir -p "$work"
wine_env_boot

sources=("$root"/crypto/*.cpp "$root/bench/dsa_verify.cpp")
flags=(-std=c++17 -O2 -DNDEBUG -fno-exceptions -fno-rtti -ffunction-sections
       -fdata-sections -Wall -Wextra -I"$root")
fixtures=("$root/tests/crypto/dsa_1024_160.txt" "$root/tests/crypto/dsa_2048_160.txt")

g++ "${flags[@]}" "${sources[@]}" -o "$work/native"
g++ "${flags[@]}" -DBIG_KERNEL16 "${sources[@]}" -o "$work/native16"
# The Windows build of the architecture that scripts/wine-env chose.
cross=i686-w64-mingw32-g++-posix
[ "$QUILLON_ARCH" = x64 ] && cross=x86_64-w64-mingw32-g++-posix
"$cross" "${flags[@]}" -static "${sources[@]}" -o "$work/win.exe"
"$cross" "${flags[@]}" -DBIG_KERNEL16 -static "${sources[@]}" -o "$work/win16.exe"

variants=(native native16 win win16)
command_of() {
  case $1 in
    native | native16) echo "$work/$1" ;;
    *) echo "wine $work/$1.exe" ;;
  esac
}

# Run k writes openssl.runk ("1024 <us>", "2048 <us>": the verify column of
# openssl's "dsa 1024 bits 0.000098s 0.000072s ...") and <variant>.runk
# ("dsa_1024_160.txt <us>", ... from bench/dsa_verify.cpp).
for k in $(seq "$runs"); do
  openssl speed -seconds 1 dsa1024 dsa2048 2>/dev/null |
    awk '$1 == "dsa" && $3 == "bits" { sub("s", "", $5); print $2, $5 * 1e6 }' > "$work/openssl.run$k"
  for v in "${variants[@]}"; do
    # shellcheck disable=SC2046
    $(command_of "$v") "${fixtures[@]}" > "$work/$v.run$k"
  done
done

median() {  # file pattern, key: the median of the second field of the lines whose first is key
  awk -v key="$2" '$1 == key { print $2 }' $1 | sort -g |
    awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

label_of() {
  case $1 in
    native) echo "native" ;;
    native16) echo "native, 16x16-bit kernel" ;;
    win) echo "Windows under Wine" ;;
    win16) echo "Windows under Wine, 16x16-bit kernel" ;;
  esac
}

printf '# DSA verify, median of %s runs; anchor: openssl speed (OpenSSL %s, native) in the same run\n' \
  "$runs" "$(openssl version | cut -d' ' -f2)"
printf '# name\tours_us\tanchor_us\tratio\n'
for v in "${variants[@]}"; do
  for bits in 1024 2048; do
    ours=$(median "$work/$v.run*" "dsa_${bits}_160.txt")
    anchor=$(median "$work/openssl.run*" "$bits")
    awk -v name="DSA-$bits/160 verify, $(label_of "$v")" -v a="$ours" -v b="$anchor" \
      'BEGIN { printf "%s\t%.1f\t%.1f\t%.2f\n", name, a, b, a / b }'
  done
done
