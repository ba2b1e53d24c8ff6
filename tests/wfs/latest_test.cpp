// WfsFetchLatest against real servers. run_latest.py serves each case's
// LATEST file and names the case's expected outcome in LATEST_EXPECT:
// "ok" (the five words in LATEST_WORDS), or the exact failure text, or
// "ftp" for any text of the FTP source. With LATEST_THEN_OPEN naming a data
// resource on the servers, the store then reads it too.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "crypto/bignum.h"
#include "crypto/dsa.h"
#include "wfs/wfs.h"

namespace {

std::string Env(const char *name) {
    const char *value = getenv(name);
    return value != nullptr ? value : "";
}

// Little-endian hex, as run_latest.py writes the key's numbers.
BigNum *NumberFromHex(const std::string &hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back((unsigned char)strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    BigNum *n = newBig(0);
    BufToBig(bytes.data(), (uint32_t)bytes.size(), n);
    return n;
}

TEST(FetchLatest, OutcomeOfTheServedFile) {
    ASSERT_EQ(WfsInit(Env("LATEST_HTTP").c_str(), Env("LATEST_FTP").c_str()), 0) << WfsLastError();
    DsaKey key = {NumberFromHex(Env("LATEST_P")), NumberFromHex(Env("LATEST_Q")),
                  NumberFromHex(Env("LATEST_G")), NumberFromHex(Env("LATEST_Y")), nullptr};
    uint32_t out[5] = {0xdeadbeef, 0xdeadbeef, 0xdeadbeef, 0xdeadbeef, 0xdeadbeef};
    int32_t result = WfsFetchLatest(&key, out);
    std::string expect = Env("LATEST_EXPECT");
    if (expect == "ok") {
        ASSERT_EQ(result, 0) << WfsLastError();
        unsigned long words[5];
        ASSERT_EQ(sscanf(Env("LATEST_WORDS").c_str(), "%lx %lx %lx %lx %lx", &words[0], &words[1],
                         &words[2], &words[3], &words[4]),
                  5);
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(out[i], (uint32_t)words[i]) << i;
        std::string then = Env("LATEST_THEN_OPEN");
        Digest digest;
        static char data[4096];
        if (!then.empty()) {
            ASSERT_EQ(NameToDigest(then.c_str(), &digest), 0);
            EXPECT_GT(WfsReadAll(&digest, data, sizeof data), 0) << WfsLastError();
        }
    } else {
        ASSERT_EQ(result, -1);
        ASSERT_NE(WfsLastError(), nullptr);
        if (expect == "ftp")
            EXPECT_STRNE(WfsLastError(), "");
        else
            EXPECT_STREQ(WfsLastError(), expect.c_str());
        EXPECT_EQ(out[0], 0xdeadbeefu);
    }
    WfsShutdown();
    freeBig(key.p);
    freeBig(key.q);
    freeBig(key.g);
    freeBig(key.y);
}

}  // namespace
