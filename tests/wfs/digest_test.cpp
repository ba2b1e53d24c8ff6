// Digest names: the 5-bit groups of the chaining words, least significant
// first, lower case only.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "wfs/digest.h"
#include "wfs/sha1.h"

namespace {

std::string NameOf(const char *text) {
    Sha1Context ctx;
    Sha1Init(&ctx);
    Sha1Update(&ctx, text, (uint32_t)strlen(text));
    Sha1Final(&ctx);
    Digest digest;
    DigestFromHash(&ctx, &digest);
    char name[33];
    DigestToName(&digest, name);
    return name;
}

TEST(DigestName, KnownNames) {
    EXPECT_EQ(NameOf(""), "ev8j3dn1bqqslnvnlic09c0clc2e0cvl");
    EXPECT_EQ(NameOf("abc"), "mhfipkad1k1ekol4uhep613aob7hd8jj");
    char empty[33];
    DigestToName(&kEmptyDigest, empty);
    EXPECT_EQ(NameOf(""), empty);
}

TEST(DigestName, GroupsRunAcrossWordBoundaries) {
    // Bit 31 of H0 and bits 0..2 of H1 make character 6.
    Digest digest = {{0x80000000u, 0x00000007u, 0, 0, 0}};
    char name[33];
    DigestToName(&digest, name);
    EXPECT_EQ(std::string(name), "000000u" + std::string(25, '0'));
    Digest back;
    ASSERT_EQ(NameToDigest(name, &back), 0);
    EXPECT_TRUE(DigestEqual(&back, &digest));
}

TEST(DigestName, RoundTripsEveryBit) {
    for (int bit = 0; bit < 160; bit++) {
        Digest digest = {};
        digest.word[bit / 32] = 1u << (bit % 32);
        char name[33];
        DigestToName(&digest, name);
        Digest back;
        ASSERT_EQ(NameToDigest(name, &back), 0) << bit;
        EXPECT_TRUE(DigestEqual(&back, &digest)) << bit;
        EXPECT_EQ(name[bit / 5], "0123456789abcdefghijklmnopqrstuv"[1 << (bit % 5)]) << bit;
    }
}

TEST(DigestName, ParseAcceptsOnlyLowerCaseNames) {
    const std::string valid = "mhfipkad1k1ekol4uhep613aob7hd8jj";
    std::string upper = valid;
    for (char &c : upper)
        c = (char)toupper((unsigned char)c);
    struct {
        std::string text;
        int32_t result;
    } cases[] = {
        {valid, 0},
        {valid + ":774", 0},
        {valid + "Zzz anything", 0},
        {upper, -1},
        {valid.substr(0, 31), -1},
        {valid.substr(0, 10) + "w" + valid.substr(11), -1},
        {valid.substr(0, 31) + ":", -1},
        {"", -1},
    };
    for (const auto &c : cases) {
        Digest digest;
        EXPECT_EQ(NameToDigest(c.text.c_str(), &digest), c.result) << c.text;
    }
}

TEST(DigestName, EqualityIsWordByWord) {
    Digest a = {{1, 2, 3, 4, 5}};
    for (int i = 0; i < 5; i++) {
        Digest b = a;
        b.word[i] ^= 0x80000000u;
        EXPECT_FALSE(DigestEqual(&a, &b)) << i;
    }
    Digest same = a;
    EXPECT_TRUE(DigestEqual(&a, &same));
}

}  // namespace
