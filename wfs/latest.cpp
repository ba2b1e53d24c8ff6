#include "wfs/latest.h"

const char kLatestWrongSize[] = "signature file is the wrong size";
const char kLatestBadSignature[] = "signature does not match public key";

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
