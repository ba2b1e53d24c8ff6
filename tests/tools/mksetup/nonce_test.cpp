// The deterministic nonce against RFC 6979's DSA-1024 vectors (A.2.1, SHA-1),
// where the message hash h1 plays the part of the signed value.
#include "tools/mksetup/nonce.h"

#include <gtest/gtest.h>

#include "tests/crypto/bigtest.h"

TEST(Nonce, FirstCandidateIsTheRfc6979Nonce) {
    Big q = MakeBig("996f967f6c8e388d9e28d01e205fba957a5698b1");
    Big x = MakeBig("411602cb19a6ccc34494d79d98ef1e7ed5af25f7");
    const struct {
        const char *message, *h1, *k;
    } cases[] = {
        {"sample", "8151325dcdbae9e0ff95f9f9658432dbedfdb209",
         "7bdb6b0ff756e1bb5d53583ef979082f9ad5bd5b"},
        {"test", "a94a8fe5ccb19ba61c4c0873d391e987982fbbd3",
         "5c842df4f9e344ee09f056838b42c7a17f4a6433"},
    };
    for (const auto &c : cases) {
        Big m = MakeBig(c.h1), k(newBig(0)), next(newBig(0));
        NonceGenerator gen;
        NonceStart(&gen, x.get(), q.get(), m.get());
        NonceNext(&gen, k.get());
        EXPECT_TRUE(BigIs(k.get(), c.k)) << c.message;
        // A retry draws a different nonce below q.
        NonceNext(&gen, next.get());
        EXPECT_NE(0, bigCompare(next.get(), k.get())) << c.message;
        EXPECT_LT(bigCompare(next.get(), q.get()), 0) << c.message;
        NonceWipe(&gen);
        EXPECT_TRUE(BigIs(m.get(), c.h1));
    }
}
