#include "crypto/dsa.h"

#include "crypto/modexp.h"

const char kLatestWrongSize[] = "signature file is the wrong size";
const char kLatestBadSignature[] = "signature does not match public key";

namespace {

bool IsZero(const BigNum *n) {
    return n->length == 1 && n->words[0] == 0;
}

// 0 < v < q
bool InRange(BigNum *v, BigNum *q) {
    return !IsZero(v) && bigCompare(v, q) < 0;
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

int32_t LatestVerify(const unsigned char *data, uint32_t size, const DsaKey *key, uint32_t out[5],
                     const char **error) {
    if (size != LATEST_FILE_SIZE) {
        if (error != nullptr)
            *error = kLatestWrongSize;
        return -1;
    }
    BigNum *m = newBig(0);
    BigNum *r = newBig(0);
    BigNum *s = newBig(0);
    BufToBig(data, LATEST_FIELD_SIZE, m);
    BufToBig(data + LATEST_FIELD_SIZE, LATEST_FIELD_SIZE, r);
    BufToBig(data + 2 * LATEST_FIELD_SIZE, LATEST_FIELD_SIZE, s);
    DsaSignature sig = {r, s};
    int32_t status = 0;
    if (VerifySignature(m, &sig, key)) {
        // m was read from 20 bytes into a one-word number, so it has exactly
        // five words, the ones above its length zero.
        for (int32_t i = 0; i < 5; i++)
            out[i] = m->words[i];
    } else {
        if (error != nullptr)
            *error = kLatestBadSignature;
        status = -1;
    }
    freeBig(s);
    freeBig(r);
    freeBig(m);
    return status;
}
