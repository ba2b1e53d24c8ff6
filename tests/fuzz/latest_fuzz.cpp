// LatestVerify with one fixed DSA-1024/160 key (tests/crypto/dsa_1024_160.txt)
// against a slow reference: the DSA check done in GMP. Any input of 60
// bytes verifies exactly when the reference says so and then gives its
// first 20 bytes as five words; any other size is refused as the wrong size.

#include <string.h>

#include "wfs/latest.h"
#include "tests/crypto/bigmpz.h"
#include "tests/fuzz/fuzz.h"

namespace {

const char *const kKeyHex[4] = {
    // p
    "f0e6160cec1c71d8cb4c285da0a594c2b6e842441119ddac00bb8b67f7fd9fcb"
    "d5760cedda02bd50bb848038aa87b9483f8b537918ec5f9d90c1bccf65e0c8ab"
    "1e3360ce51dd6dae398ca9293cd419adc43571a08744f56e5dc7d8b8e8fb22aa"
    "6f98867c919cbd2a42c38eacf6014b05b5a6b53faa87d5b032ba577fb06c2015",
    // q
    "de0ae42873d9019fa605e5c661257b8464b81c5f",
    // g
    "a63c0c61634c9fb575ff4dcb66c6484ce97988a350392a8b008dca5f88f0ab9b"
    "dc3503e53901669294a617f9a85bf8f461ef9baecec45f980f8b00a17b2d0115"
    "0460722fc45cf875bb92acee9b1b264dd6a4952d3c41323be90cf61a799d957b"
    "4cd0febd89b339a241b6ed9f3dfaa1a8da48bc2c60b8edfd395369b060f8e749",
    // y
    "6eb33ce6787d6b93f081cde581896bf942536cbc017baa4ea469b2bf6f056683"
    "60cab806689b0d1f416afa9499fe79355fb3e441ec93b7e9bd0672a29fb271f6"
    "e435c89f6f485864eb81a8c6998982ba2a0587078d612a968d3b999d0441b47f"
    "cb99b5b0dc9f26e0ce8b4ef2910ea28f9b125cd3e48c8a8b25d3be5f47fa9bb7",
};

BigNum *FromHex(const char *hex, Mpz *z) {
    mpz_set_str(z->v, hex, 16);
    size_t count = 0;
    unsigned char bytes[256] = {};
    mpz_export(bytes, &count, -1, 1, 0, 0, z->v);
    BigNum *n = newBig(0);
    BufToBig(bytes, (uint32_t)count, n);
    return n;
}

struct Key {
    Mpz p, q, g, y;
    DsaKey record;
    Key() {
        record.p = FromHex(kKeyHex[0], &p);
        record.q = FromHex(kKeyHex[1], &q);
        record.g = FromHex(kKeyHex[2], &g);
        record.y = FromHex(kKeyHex[3], &y);
        record.x = nullptr;
    }
};

// The 20 bytes at field, least significant first.
void Field(const uint8_t *field, Mpz *z) {
    mpz_import(z->v, 20, -1, 1, 0, 0, field);
}

bool ReferenceVerify(const Key &key, const uint8_t *file) {
    Mpz m, r, s, w, u1, u2, v, t;
    Field(file, &m);
    Field(file + 20, &r);
    Field(file + 40, &s);
    if (mpz_sgn(r.v) == 0 || mpz_sgn(s.v) == 0 || mpz_cmp(r.v, key.q.v) >= 0 ||
        mpz_cmp(s.v, key.q.v) >= 0)
        return false;
    mpz_invert(w.v, s.v, key.q.v);
    mpz_mul(u1.v, m.v, w.v);
    mpz_mod(u1.v, u1.v, key.q.v);
    mpz_mul(u2.v, r.v, w.v);
    mpz_mod(u2.v, u2.v, key.q.v);
    mpz_powm(v.v, key.g.v, u1.v, key.p.v);
    mpz_powm(t.v, key.y.v, u2.v, key.p.v);
    mpz_mul(v.v, v.v, t.v);
    mpz_mod(v.v, v.v, key.p.v);
    mpz_mod(v.v, v.v, key.q.v);
    return mpz_cmp(v.v, r.v) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Key key;
    const uint32_t untouched[5] = {0xdeadbeef, 1, 2, 3, 4};
    uint32_t out[5];
    memcpy(out, untouched, sizeof out);
    const char *error = nullptr;
    int32_t result = LatestVerify(data, (uint32_t)size, &key.record, out, &error);
    if (size != LATEST_FILE_SIZE) {
        FUZZ_CHECK(result == -1 && error == kLatestWrongSize);
    } else if (ReferenceVerify(key, data)) {
        FUZZ_CHECK(result == 0);
        for (int i = 0; i < 5; ++i)
            FUZZ_CHECK(out[i] ==
                       ((uint32_t)data[4 * i] | (uint32_t)data[4 * i + 1] << 8 |
                        (uint32_t)data[4 * i + 2] << 16 | (uint32_t)data[4 * i + 3] << 24));
        return 0;
    } else {
        FUZZ_CHECK(result == -1 && error == kLatestBadSignature);
    }
    FUZZ_CHECK(memcmp(out, untouched, sizeof out) == 0);
    return 0;
}
