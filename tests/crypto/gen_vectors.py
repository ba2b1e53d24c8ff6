#!/usr/bin/env python3
"""Writes expected results of the big-number operations, computed with Python
integers, for crypto_bignum_test and crypto_modexp_test to check against.

usage: gen_vectors.py SEED OUTPUT [CASES_PER_OP]

One case per line: "op arg ... : result ...". Numbers are hexadecimal with an
optional "-" sign; "-0" is a zero whose sign must be -1. The first line is
"# seed N" so that a failing run can be replayed with the same seed.
"""

import random
import sys

B = 1 << 32
MASK = B - 1


def hexs(v, negative_zero=False):
    if v < 0 or (v == 0 and negative_zero):
        return "-%x" % -v
    return "%x" % v


def nwords(v):
    """Word length of |v| as the C++ code normalises it."""
    return max(1, (abs(v).bit_length() + 31) // 32)


class Shapes:
    """Numbers of a given word length in the shapes that break long division
    and carry handling."""

    TOPS = [0x7FFFFFFF, 0x7FFFFFFE, 0x80000000, 0x80000001, 0x40000000,
            0xFFFFFFFF, 1, 2, 0x0000FFFF, 0xFFFF0000]

    def __init__(self, rng):
        self.rng = rng

    def words(self, n):
        r = self.rng
        kind = r.randrange(8)
        if kind == 0:
            ws = [MASK] * n
        elif kind == 1:
            ws = [r.getrandbits(32) for _ in range(n)]
            ws[-1] = r.choice(self.TOPS)
        elif kind == 2:
            ws = [0] * n
            for _ in range(r.randrange(1, 4)):
                ws[r.randrange(n)] = r.getrandbits(32)
            ws[-1] = r.choice(self.TOPS)
        elif kind == 3:
            ws = [MASK if i % 2 else 0 for i in range(n)]
            ws[-1] = r.choice(self.TOPS)
        elif kind == 4:
            ws = [r.choice([0, 1, MASK, 0x80000000]) for _ in range(n)]
            ws[-1] = r.choice(self.TOPS)
        else:
            ws = [r.getrandbits(32) for _ in range(n)]
            ws[-1] |= 1
        return ws

    def number(self, n):
        ws = self.words(n)
        return sum(w << (32 * i) for i, w in enumerate(ws))

    def length(self, lo=1, hi=130):
        r = self.rng
        pick = r.randrange(10)
        if pick < 3:
            return r.randint(lo, min(hi, 8))
        if pick < 5:
            return r.randint(max(lo, min(hi, 60)), min(hi, 70))
        if pick < 7:
            return r.randint(max(lo, min(hi, 120)), hi)
        return r.randint(lo, hi)

    def signed(self, v):
        return -v if self.rng.randrange(2) else v


def trunc_divmod(a, d):
    q = abs(a) // abs(d)
    if (a < 0) != (d < 0):
        q = -q
    return q, a - q * d


def gen_cmp(s, out):
    r = s.rng
    la = s.length()
    lb = la if r.randrange(2) else s.length()
    a = s.signed(s.number(la))
    b = s.signed(s.number(lb))
    if r.randrange(4) == 0:
        b = -a if r.randrange(2) else a
    if nwords(a) != nwords(b):
        c = nwords(a) - nwords(b)
    else:
        c = (abs(a) > abs(b)) - (abs(a) < abs(b))
    out.append("cmp %s %s : %x" % (hexs(a), hexs(b), c & MASK))


def gen_add(s, out):
    a = s.signed(s.number(s.length()))
    b = s.signed(s.number(s.length()))
    longer = a if nwords(a) >= nwords(b) else b
    mag = abs(a) + abs(b)
    out.append("add %s %s : %s" % (hexs(a), hexs(b),
                                   hexs(-mag if longer < 0 else mag)))


def gen_sub(s, out):
    r = s.rng
    a = s.number(s.length())
    b = s.number(r.randint(1, nwords(a)))
    if r.randrange(5) == 0:
        b = a
    if abs(b) > abs(a):
        a, b = b, a
    out.append("sub %s %s : %s" % (hexs(a), hexs(b), hexs(a - b)))


def gen_subs(s, out):
    r = s.rng
    a = s.signed(s.number(s.length()))
    b = s.signed(s.number(s.length()))
    if r.randrange(5) == 0:
        b = a
    v = a - b
    # Equal negative operands leave a zero with sign -1.
    negative_zero = v == 0 and a < 0
    out.append("subs %s %s : %s" % (hexs(a), hexs(b), hexs(v, negative_zero)))


def mul_lengths(s):
    la, lb = s.length(), s.length()
    # Two operands of 128 words or more within a 2/3 ratio exceed the
    # fast multiplication's scratch array (a fatal error, tested apart).
    if la >= 128 and lb >= 128:
        lb = s.rng.randint(1, 127)
    return la, lb


def gen_mul(s, out):
    la, lb = mul_lengths(s)
    a = s.signed(s.number(la))
    b = s.signed(s.number(lb))
    negative_zero = (a < 0) != (b < 0)
    out.append("mul %s %s : %s" % (hexs(a), hexs(b), hexs(a * b, negative_zero)))


def gen_sqr(s, out):
    a = s.signed(s.number(s.length(1, 127)))
    out.append("sqr %s : %s" % (hexs(a), hexs(a * a)))


def gen_shl(s, out):
    a = s.number(s.length())
    bits = s.rng.choice([0, 1, 31, 32, 33, 63, 64, 65, s.rng.randrange(300)])
    out.append("shl %s %x : %s" % (hexs(a), bits, hexs(a << bits)))


def gen_shr(s, out):
    a = s.number(s.length())
    bits = s.rng.choice([0, 1, 31, 32, 33, 64, s.rng.randrange(32 * nwords(a) + 40)])
    out.append("shr %s %x : %s" % (hexs(a), bits, hexs(a >> bits)))


def gen_amw(s, out):
    r = s.rng
    a = s.number(s.length(1, 100))
    w = r.choice([0, 1, MASK, 0x80000000, r.getrandbits(32)])
    offset = r.choice([0, 1, 2, r.randrange(40)])
    kind = r.randrange(3)
    if kind == 0:
        x = s.number(r.randint(1, 140))
    elif kind == 1:
        # All-ones words above the product make the carry run off the top.
        x = (1 << (32 * (nwords(a) + offset + r.randint(1, 4)))) - 1
    else:
        x = r.getrandbits(32)
    res = x + a * w * (1 << (32 * offset))
    out.append("amw %s %x %s %x : %s" % (hexs(a), w, hexs(x), offset, hexs(res)))


def division_operands(s):
    """Dividend and divisor in the shapes of long division's corner cases."""
    r = s.rng
    ld = s.length(1, 129)
    d = s.number(ld)
    kind = r.randrange(9)
    if kind == 0:
        a = d
    elif kind == 1:
        a = d * s.number(r.randint(1, max(1, 130 - ld)))
    elif kind == 2:
        a = d << (32 * r.randint(1, max(1, 130 - ld)))
    elif kind == 3:
        a = s.number(min(130, ld + 1))
    elif kind == 4:
        a = d * (d + 1) - 1 if 2 * ld <= 130 else d * 3 - 1
    elif kind == 5:
        a = (1 << (32 * min(130, ld + r.randint(0, 5)))) - 1
    elif kind == 6:
        a = s.number(r.randint(1, ld))
    elif kind == 7:
        a = d * s.number(r.randint(1, max(1, 130 - ld))) + r.randrange(d)
    else:
        a = s.number(s.length())
    return s.signed(a), s.signed(d)


def gen_div(s, out):
    a, d = division_operands(s)
    q, rem = trunc_divmod(a, d)
    out.append("div %s %s : %s %s" % (hexs(a), hexs(d), hexs(q), hexs(rem)))


def gen_mod(s, out):
    a, m = division_operands(s)
    if s.rng.randrange(20) == 0:
        m = 1
    rem = trunc_divmod(a, m)[1]
    # bigMod gives r the sign of a, a zero r included, except for |m| = 1.
    negative_zero = rem == 0 and a < 0 and abs(m) != 1
    out.append("mod %s %s : %s" % (hexs(a), hexs(m), hexs(rem, negative_zero)))


def odd_modulus(s, lo=1, hi=127):
    m = s.number(s.length(lo, hi)) | 1
    return m if m > 1 else 3


def gen_inv(s, out):
    r = s.rng
    m = s.number(s.length(1, 40))
    if m < 2:
        m = 7
    a = r.randrange(m)
    while a == 0 or gcd(a, m) != 1:
        a = r.randrange(1, m) if m > 2 else 1
    if r.randrange(10) == 0:
        out.append("inv 0 %s : 0" % hexs(m))
    out.append("inv %s %s : %s" % (hexs(a), hexs(m), hexs(pow(a, -1, m))))


def gcd(a, b):
    while b:
        a, b = b, a % b
    return a


def gen_negmod(s, out):
    r = s.rng
    m = s.number(s.length(1, 60))
    if m < 2:
        m = 7
    kind = r.randrange(4)
    if kind == 0:
        a = -r.randrange(1, m)
    elif kind == 1:
        a = r.randrange(m)
    elif kind == 2:
        a = s.number(s.length(1, 60))
    else:
        a = -s.number(s.length(1, 60))
    c = m if a == 0 else (-abs(a)) % m
    out.append("negmod %s %s : %s" % (hexs(a), hexs(m), hexs(c)))


def exponent(s):
    r = s.rng
    kind = r.randrange(6)
    if kind == 0:
        return 0
    if kind == 1:
        return r.randrange(1, 16)
    if kind == 2:
        return s.number(r.randint(1, 16))
    return s.number(r.randint(1, 6))


def gen_dexp(s, out):
    r = s.rng
    m = odd_modulus(s)
    g = r.randrange(m)
    y = g if r.randrange(8) == 0 else r.randrange(m)
    e1, e2 = exponent(s), exponent(s)
    v = pow(g, e1, m) * pow(y, e2, m) % m
    out.append("dexp %s %s %s %s %s : %s" % (hexs(g), hexs(y), hexs(e1), hexs(e2),
                                             hexs(m), hexs(v)))


def gen_mred(s, out):
    r = s.rng
    m = odd_modulus(s)
    big_r = 1 << (32 * nwords(m))
    x = m * big_r - 1 if r.randrange(5) == 0 else r.randrange(m * big_r)
    v = x * pow(big_r, -1, m) % m
    out.append("mred %s %s : %s" % (hexs(x), hexs(m), hexs(v)))


GENERATORS = [gen_cmp, gen_add, gen_sub, gen_subs, gen_mul, gen_sqr, gen_shl,
              gen_shr, gen_amw, gen_div, gen_mod, gen_inv, gen_negmod,
              gen_dexp, gen_mred]


def main():
    seed = int(sys.argv[1])
    path = sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 120
    shapes = Shapes(random.Random(seed))
    lines = ["# seed %d" % seed]
    for gen in GENERATORS:
        for _ in range(count):
            gen(shapes, lines)
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
