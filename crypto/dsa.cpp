#include "crypto/dsa.h"

#include "crypto/modexp.h"

namespace {

bool IsZero(const BigNum *n) {
    return n->length == 1 && n->words[0] == 0;
}

// 0 < v < q. A negative v is refused too: the comparison below is on
// magnitudes, so (-r, s) would otherwise pass for (r, s).
bool InRange(BigNum *v, BigNum *q) {
    return v->sign >= 0 && !IsZero(v) && bigCompare(v, q) < 0;
}

}  // namespace

int32_t VerifySignature(BigNum *m, const DsaSignature *sig, const DsaKey *key) {
    if (!InRange(sig->r, key->q) || !InRange(sig->s, key->q))
        return 0;
    BigNum *w = newBig(0);
    BigNum *u1 = newBig(0);
    BigNum *u2 = newBig(0);
    BigNum *v = newBig(0);
    BigNum *prod = newBig(0);
    bigInverse(sig->s, key->q, w);
    bigMultiply(m, w, prod);
    bigMod(prod, key->q, u1);
    bigMultiply(sig->r, w, prod);
    bigMod(prod, key->q, u2);
    bigDoubleExpMod(key->g, key->y, u1, u2, key->p, prod);
    bigMod(prod, key->q, v);
    int32_t valid = bigCompare(v, sig->r) == 0 ? 1 : 0;
    freeBig(prod);
    freeBig(v);
    freeBig(u2);
    freeBig(u1);
    freeBig(w);
    return valid;
}
