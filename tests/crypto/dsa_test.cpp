// VerifySignature and LatestVerify against keys and signatures made
// by OpenSSL (the dsa_*.txt fixtures, from make_dsa_fixtures.sh).

#include "crypto/dsa.h"
#include "wfs/latest.h"

#include <gtest/gtest.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/crypto/bigtest.h"

namespace {

struct Signature {
    std::string m, r, s;
    std::string latest;  // the LATEST file's bytes, for keys whose q has 160 bits
};

struct Fixture {
    std::string name;
    std::string p, q, g, y;
    std::vector<Signature> signatures;
};

std::vector<unsigned char> FromHex(const std::string &hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

Fixture LoadFixture(const std::string &name) {
    Fixture f;
    f.name = name;
    std::string path = std::string(CRYPTO_FIXTURES) + "/" + name + ".txt";
    std::ifstream in(path.c_str());
    EXPECT_TRUE(static_cast<bool>(in)) << "cannot read " << path;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string tag;
        words >> tag;
        if (tag == "p")
            words >> f.p;
        if (tag == "q")
            words >> f.q;
        if (tag == "g")
            words >> f.g;
        if (tag == "y")
            words >> f.y;
        if (tag == "sig") {
            Signature s;
            words >> s.m >> s.r >> s.s;
            f.signatures.push_back(s);
        }
        if (tag == "latest")
            words >> f.signatures.back().latest;
    }
    EXPECT_FALSE(f.signatures.empty()) << path;
    return f;
}

// The key's numbers, owned by the test.
struct Key {
    Big p, q, g, y;
    DsaKey record;
    explicit Key(const Fixture &f)
        : p(MakeBig(f.p)),
          q(MakeBig(f.q)),
          g(MakeBig(f.g)),
          y(MakeBig(f.y)),
          record{p.get(), q.get(), g.get(), y.get(), nullptr} {}
    ::testing::AssertionResult Unchanged(const Fixture &f) const {
        for (auto pair : {std::make_pair(p.get(), &f.p), std::make_pair(q.get(), &f.q),
                          std::make_pair(g.get(), &f.g), std::make_pair(y.get(), &f.y)}) {
            ::testing::AssertionResult same = BigIs(pair.first, *pair.second);
            if (!same)
                return same;
        }
        return ::testing::AssertionSuccess();
    }
};

int32_t Verify(const Key &key, const std::string &m, const std::string &r, const std::string &s) {
    Big bm = MakeBig(m), br = MakeBig(r), bs = MakeBig(s);
    DsaSignature sig = {br.get(), bs.get()};
    int32_t result = VerifySignature(bm.get(), &sig, &key.record);
    EXPECT_TRUE(BigIs(bm.get(), m));
    EXPECT_TRUE(BigIs(br.get(), r));
    EXPECT_TRUE(BigIs(bs.get(), s));
    return result;
}

// a + b or a - b as hex.
std::string AddHex(const std::string &a, const std::string &b, bool subtract) {
    Big x = MakeBig(a), y = MakeBig(b), r(newBig(0));
    if (subtract) {
        bigSubSigned(x.get(), y.get(), r.get());
    } else {
        bigadd(x.get(), y.get(), r.get());
    }
    return BigHex(r.get());
}

const char *const kFixtures[] = {"dsa_1024_160", "dsa_2048_160", "dsa_2048_224", "dsa_2048_256",
                                 "dsa_3072_256"};
const char *const kLatestFixtures[] = {"dsa_1024_160", "dsa_2048_160"};

class DsaFixture : public ::testing::TestWithParam<const char *> {};
class LatestFixture : public ::testing::TestWithParam<const char *> {};

std::string FixtureName(const ::testing::TestParamInfo<const char *> &info) {
    return info.param;
}

}  // namespace

TEST_P(DsaFixture, OpenSslSignaturesVerify) {
    Fixture f = LoadFixture(GetParam());
    Key key(f);
    for (const Signature &s : f.signatures) {
        EXPECT_EQ(1, Verify(key, s.m, s.r, s.s)) << "m " << s.m;
        EXPECT_TRUE(key.Unchanged(f));
    }
}

TEST_P(DsaFixture, MutatedSignaturesFail) {
    Fixture f = LoadFixture(GetParam());
    Key key(f);
    for (const Signature &s : f.signatures) {
        SCOPED_TRACE("m " + s.m);
        EXPECT_EQ(0, Verify(key, AddHex(s.m, "1", false), s.r, s.s)) << "m + 1";
        EXPECT_EQ(0, Verify(key, AddHex(s.m, "10000000000000000", true), s.r, s.s)) << "m - 2^64";
        EXPECT_EQ(0, Verify(key, s.m, AddHex(s.r, "1", false), s.s)) << "r + 1";
        EXPECT_EQ(0, Verify(key, s.m, s.r, AddHex(s.s, "1", true))) << "s - 1";
        EXPECT_EQ(0, Verify(key, s.m, s.s, s.r)) << "r and s swapped";
        EXPECT_EQ(0, Verify(key, s.m, "0", s.s)) << "r = 0";
        EXPECT_EQ(0, Verify(key, s.m, s.r, "0")) << "s = 0";
        EXPECT_EQ(0, Verify(key, s.m, f.q, s.s)) << "r = q";
        EXPECT_EQ(0, Verify(key, s.m, s.r, f.q)) << "s = q";
        // The same residues, but not below q.
        EXPECT_EQ(0, Verify(key, s.m, AddHex(s.r, f.q, false), s.s)) << "r + q";
        EXPECT_EQ(0, Verify(key, s.m, s.r, AddHex(s.s, f.q, false))) << "s + q";
        // Negative halves with the magnitudes of a valid signature.
        EXPECT_EQ(0, Verify(key, s.m, "-" + s.r, s.s)) << "-r";
        EXPECT_EQ(0, Verify(key, s.m, s.r, "-" + s.s)) << "-s";
        EXPECT_EQ(0, Verify(key, s.m, "-" + s.r, "-" + s.s)) << "-r, -s";
        EXPECT_TRUE(key.Unchanged(f));
    }
}

TEST_P(DsaFixture, AnotherKeyFails) {
    Fixture f = LoadFixture(GetParam());
    Key key(f);
    key.y = MakeBig(f.g);  // the key whose x is 1
    key.record.y = key.y.get();
    for (const Signature &s : f.signatures)
        EXPECT_EQ(0, Verify(key, s.m, s.r, s.s));
}

INSTANTIATE_TEST_SUITE_P(Dsa, DsaFixture, ::testing::ValuesIn(kFixtures), FixtureName);

TEST(Dsa, DigestsAboveQVerifyUnreduced) {
    int above = 0;
    for (const char *name : kLatestFixtures) {
        Fixture f = LoadFixture(name);
        Key key(f);
        for (const Signature &s : f.signatures) {
            Big m = MakeBig(s.m);
            if (bigCompare(m.get(), key.q.get()) < 0)
                continue;
            above++;
            EXPECT_EQ(1, Verify(key, s.m, s.r, s.s)) << name << " m " << s.m;
        }
    }
    EXPECT_GE(above, 2) << "the fixtures should hold digests above q";
}

TEST_P(LatestFixture, ValidFileYieldsTheFiveWords) {
    Fixture f = LoadFixture(GetParam());
    Key key(f);
    for (const Signature &s : f.signatures) {
        std::vector<unsigned char> file = FromHex(s.latest);
        ASSERT_EQ(60u, file.size());
        uint32_t out[5] = {0, 0, 0, 0, 0};
        const char *error = nullptr;
        EXPECT_EQ(0, LatestVerify(file.data(), 60, &key.record, out, &error)) << s.latest;
        EXPECT_EQ(nullptr, error);
        Big m = MakeBig(s.m);
        for (int i = 0; i < 5; i++) {
            uint32_t expected = file[4 * i] | file[4 * i + 1] << 8 | file[4 * i + 2] << 16 |
                                static_cast<uint32_t>(file[4 * i + 3]) << 24;
            EXPECT_EQ(expected, out[i]) << "word " << i;
            EXPECT_EQ(i < m->length ? m->words[i] : 0u, out[i]) << "word " << i;
        }
        EXPECT_TRUE(key.Unchanged(f));
    }
}

TEST_P(LatestFixture, PointerOneYieldsWordOne) {
    Fixture f = LoadFixture(GetParam());
    Key key(f);
    const Signature &one = f.signatures.back();
    ASSERT_EQ("1", one.m);
    std::vector<unsigned char> file = FromHex(one.latest);
    ASSERT_EQ(1, file[0]);
    uint32_t out[5] = {9, 9, 9, 9, 9};
    const char *error = nullptr;
    EXPECT_EQ(0, LatestVerify(file.data(), 60, &key.record, out, &error));
    EXPECT_EQ(1u, out[0]);
    for (int i = 1; i < 5; i++)
        EXPECT_EQ(0u, out[i]);
}

TEST_P(LatestFixture, EveryChangedByteFails) {
    Fixture f = LoadFixture(GetParam());
    Key key(f);
    std::vector<unsigned char> file = FromHex(f.signatures[0].latest);
    for (size_t i = 0; i < file.size(); i++) {
        for (unsigned char flip : {0x01, 0x80, 0xFF}) {
            std::vector<unsigned char> changed = file;
            changed[i] ^= flip;
            uint32_t out[5] = {7, 7, 7, 7, 7};
            const char *error = nullptr;
            EXPECT_EQ(-1, LatestVerify(changed.data(), 60, &key.record, out, &error))
                << "byte " << i << " ^ " << int(flip);
            EXPECT_STREQ("signature does not match public key", error);
            for (uint32_t w : out)
                EXPECT_EQ(7u, w) << "out untouched";
        }
    }
    EXPECT_TRUE(key.Unchanged(f));
}

TEST_P(LatestFixture, ZeroHalvesFail) {
    Fixture f = LoadFixture(GetParam());
    Key key(f);
    for (size_t half : {20, 40}) {
        std::vector<unsigned char> file = FromHex(f.signatures[0].latest);
        memset(file.data() + half, 0, 20);
        uint32_t out[5] = {7, 7, 7, 7, 7};
        const char *error = nullptr;
        EXPECT_EQ(-1, LatestVerify(file.data(), 60, &key.record, out, &error));
        EXPECT_STREQ("signature does not match public key", error);
        EXPECT_EQ(7u, out[0]);
    }
}

TEST_P(LatestFixture, WrongSizesFail) {
    Fixture f = LoadFixture(GetParam());
    Key key(f);
    std::vector<unsigned char> file = FromHex(f.signatures[0].latest);
    file.push_back(0);
    for (uint32_t size : {0u, 1u, 20u, 59u, 61u}) {
        uint32_t out[5] = {7, 7, 7, 7, 7};
        const char *error = nullptr;
        EXPECT_EQ(-1, LatestVerify(file.data(), size, &key.record, out, &error)) << size;
        EXPECT_STREQ("signature file is the wrong size", error);
        EXPECT_EQ(7u, out[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(Dsa, LatestFixture, ::testing::ValuesIn(kLatestFixtures), FixtureName);

namespace {

void VerifyWithKey(const std::string &p, const std::string &q) {
    Big bp = MakeBig(p), bq = MakeBig(q), g = MakeBig("2"), y = MakeBig("3");
    Big m = MakeBig("5"), r = MakeBig("1"), s = MakeBig("1");
    DsaKey key = {bp.get(), bq.get(), g.get(), y.get(), nullptr};
    DsaSignature sig = {r.get(), s.get()};
    VerifySignature(m.get(), &sig, &key);
}

}  // namespace

TEST(DsaFatal, ZeroModulusStopsTheProgram) {
    EXPECT_EXIT(VerifyWithKey("0", "b"), ::testing::ExitedWithCode(1),
                FatalReport("bigMod: modulus is zero.\n"));
}

TEST(DsaFatal, ModulusOf128WordsExceedsTheScratchArray) {
    std::string p = "1" + std::string(1022, '0') + "1";  // 2^4092 + 1: 128 words
    EXPECT_EXIT(VerifyWithKey(p, "b"), ::testing::ExitedWithCode(1),
                FatalReport("fast_square: Number is too big for static tmp array.\n"));
}
