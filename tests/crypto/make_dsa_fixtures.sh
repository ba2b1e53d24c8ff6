#!/usr/bin/env bash
# Makes the DSA fixtures of crypto_dsa_test with the openssl command line
# tool: for each size a key, and signatures of SHA-1 digests made by
# `openssl pkeyutl -sign`, each checked by `openssl pkeyutl -verify`.
#
# usage: tests/crypto/make_dsa_fixtures.sh   (writes tests/crypto/dsa_*.txt)
#
# Fixture lines, numbers in hexadecimal:
#   p|q|g|y <number>                 the key
#   sig <m> <r> <s>                  m is the digest read as a big-endian integer
#   latest <120 hex digits>          the 60-byte LATEST file of the line above
#                                    (m, r, s, each 20 bytes, least significant
#                                    byte first), for keys whose q has 160 bits
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Sizes: the LATEST format's (q of 160 bits) and larger ones for
# VerifySignature alone; p stays below the arithmetic's 128-word limit.
sizes="1024:160 2048:160 2048:224 2048:256 3072:256"
signatures=8

for size in $sizes; do
  pbits=${size%:*}
  qbits=${size#*:}
  out="$here/dsa_${pbits}_${qbits}.txt"
  openssl genpkey -genparam -algorithm DSA -pkeyopt "dsa_paramgen_bits:$pbits" \
    -pkeyopt "dsa_paramgen_q_bits:$qbits" -out "$work/params.pem" 2>/dev/null
  openssl genpkey -paramfile "$work/params.pem" -out "$work/key.pem"
  openssl pkey -in "$work/key.pem" -pubout -out "$work/pub.pem"
  openssl pkey -in "$work/key.pem" -text -noout > "$work/key.txt"

    # Digests of messages; for a 160-bit q some of them are picked at or above
  # q (VerifySignature must not reduce m first), and m = 1 is signed as well.
  python3 - "$work" "$qbits" "$signatures" <<'EOF'
import hashlib, re, sys
work, qbits, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
text = open(work + "/key.txt").read()
q_text = re.search(r"^Q:\s*\n((?:\s+[0-9a-f:]+\n)+)", text, re.M).group(1)
q = int("".join(q_text.split()).replace(":", ""), 16)
wanted_above = 2 if qbits == 160 else 0
picked, above, below = [], 0, 0
for k in range(100000):
    d = hashlib.sha1(b"LATEST pointer %d" % k).digest()
    if int.from_bytes(d, "big") >= q:
        if above < wanted_above:
            picked.append(d)
            above += 1
    elif below < count - wanted_above:
        picked.append(d)
        below += 1
    if above + below == count:
        break
if qbits == 160:
    picked.append((1).to_bytes(20, "big"))
with open(work + "/digests", "w") as f:
    for i, d in enumerate(picked):
        f.write(d.hex() + "\n")
        open("%s/d%d.bin" % (work, i), "wb").write(d)
EOF

  i=0
  while read -r digest; do
    openssl pkeyutl -sign -inkey "$work/key.pem" -in "$work/d$i.bin" -out "$work/s$i.der"
    openssl pkeyutl -verify -pubin -inkey "$work/pub.pem" -in "$work/d$i.bin" \
      -sigfile "$work/s$i.der" > /dev/null
    i=$((i + 1))
  done < "$work/digests"

  python3 - "$work" "$pbits" "$qbits" "$out" <<'EOF'
import re, sys
work, pbits, qbits, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
text = open(work + "/key.txt").read()

def field(name):
    m = re.search(r"^%s:\s*\n((?:\s+[0-9a-f:]+\n)+)" % re.escape(name), text, re.M)
    return int("".join(m.group(1).split()).replace(":", ""), 16)

def der_integers(blob):
    assert blob[0] == 0x30
    pos, values = 2 if blob[1] < 0x80 else 2 + (blob[1] & 0x7F), []
    while pos < len(blob):
        assert blob[pos] == 0x02
        n = blob[pos + 1]
        values.append(int.from_bytes(blob[pos + 2:pos + 2 + n], "big"))
        pos += 2 + n
    return values

key = {k: field(n) for k, n in (("p", "P"), ("q", "Q"), ("g", "G"), ("y", "pub"))}
lines = ["# DSA-%s/%d key and signatures of SHA-1 digests, made by OpenSSL "
         "(make_dsa_fixtures.sh)" % (pbits, qbits)]
lines += ["%s %x" % (k, key[k]) for k in ("p", "q", "g", "y")]
digests = open(work + "/digests").read().split()
for i, d in enumerate(digests):
    r, s = der_integers(open("%s/s%d.der" % (work, i), "rb").read())
    m = int(d, 16)
    assert pow(key["g"], m * pow(s, -1, key["q"]) % key["q"], key["p"]) * \
        pow(key["y"], r * pow(s, -1, key["q"]) % key["q"], key["p"]) % key["p"] % key["q"] == r
    lines.append("sig %x %x %x" % (m, r, s))
    if qbits == 160:
        data = b"".join(v.to_bytes(20, "little") for v in (m, r, s))
        lines.append("latest " + data.hex())
open(out, "w").write("\n".join(lines) + "\n")
EOF
  echo "wrote $out"
done
