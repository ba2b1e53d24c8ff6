// The store over the executable's own resources. The download bases point
// at a closed port on this machine, so anything not carried fails fast.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>

#include "wfs/digest.h"
#include "wfs/source.h"
#include "wfs/wfs.h"

namespace {

const char kHttpBase[] = "http://127.0.0.1:1/dat/";
const char kFtpBase[] = "ftp://127.0.0.1:1/dat/";

// Payload name -> digest name, as the resource generator wrote them.
std::map<std::string, std::string> Names() {
    std::map<std::string, std::string> names;
    FILE *f = fopen(getenv("WFS_TEST_NAMES"), "r");
    if (f == nullptr)
        return names;
    char entry[256], name[64];
    unsigned long size;
    while (fscanf(f, "%255s %63s %lu", entry, name, &size) == 3)
        names[entry] = name;
    fclose(f);
    return names;
}

Digest DigestOf(const std::string &name) {
    Digest digest = {};
    EXPECT_EQ(NameToDigest(name.c_str(), &digest), 0) << name;
    return digest;
}

class Store : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(WfsInit(kHttpBase, kFtpBase), 0) << WfsLastError();
        names = Names();
        ASSERT_EQ(names.count("five-thousand.bin"), 1u);
    }
    void TearDown() override { WfsShutdown(); }
    std::map<std::string, std::string> names;
};

// No executable can carry an empty resource, and the servers here are all
// closed: the store serves it without asking anyone.
TEST_F(Store, EmptyResourceNeedsNoSource) {
    ASSERT_EQ(WfsOpen(&kEmptyDigest), 0) << WfsLastError();
    char byte;
    EXPECT_EQ(WfsRead(&byte, 1), 0);
    EXPECT_EQ(WfsClose(), 0) << WfsLastError();
    char buffer[16];
    EXPECT_EQ(WfsReadAll(&kEmptyDigest, buffer, sizeof buffer), 0) << WfsLastError();
}

TEST_F(Store, CarriedResourceReadsInChunksAndVerifies) {
    Digest digest = DigestOf(names["five-thousand.bin"]);
    ASSERT_EQ(WfsOpen(&digest), 0) << WfsLastError();
    static char buffer[4096];
    EXPECT_EQ(WfsRead(buffer, 4096), 4096);
    EXPECT_EQ((unsigned char)buffer[1], 7);
    EXPECT_EQ(WfsRead(buffer, 4096), 904);
    EXPECT_EQ(WfsRead(buffer, 4096), 0);
    EXPECT_EQ(WfsRead(buffer, 4096), 0);
    EXPECT_EQ(WfsClose(), 0) << WfsLastError();
}

TEST_F(Store, ResourceNamesIgnoreLetterCase) {
    std::string upper = names["five-thousand.bin"];
    for (char &c : upper)
        c = (char)toupper((unsigned char)c);
    EXPECT_EQ(kResourceSource.Open(upper.c_str()), 0);
    EXPECT_EQ(kResourceSource.Open(names["five-thousand.bin"].c_str()), 0);
    kResourceSource.Close();
}

TEST_F(Store, WrongBytesFailTheDigestCheckAtClose) {
    Digest digest = DigestOf(names["tampered.txt"]);
    ASSERT_EQ(WfsOpen(&digest), 0);
    char buffer[256];
    EXPECT_GT(WfsRead(buffer, sizeof buffer), 0);
    EXPECT_EQ(WfsRead(buffer, sizeof buffer), 0);
    EXPECT_EQ(WfsClose(), -1);
    EXPECT_STREQ(WfsLastError(), "downloaded file does not match its message digest!");
}

TEST_F(Store, ClosingBeforeTheEndFailsTheDigestCheck) {
    Digest digest = DigestOf(names["five-thousand.bin"]);
    ASSERT_EQ(WfsOpen(&digest), 0);
    char buffer[100];
    EXPECT_EQ(WfsRead(buffer, sizeof buffer), 100);
    EXPECT_EQ(WfsClose(), -1);
    EXPECT_STREQ(WfsLastError(), "downloaded file does not match its message digest!");
}

TEST_F(Store, ReadAllNeedsRoomForTheWholeResource) {
    Digest digest = DigestOf(names["five-thousand.bin"]);
    static char buffer[5000];
    EXPECT_EQ(WfsReadAll(&digest, buffer, 4999), -1);
    EXPECT_STREQ(WfsLastError(), "downloaded file does not match its message digest!");
    EXPECT_EQ(WfsReadAll(&digest, buffer, 5000), 5000);
}

TEST_F(Store, ReadOrCloseWithNothingOpen) {
    char buffer[16];
    EXPECT_EQ(WfsRead(buffer, sizeof buffer), -1);
    EXPECT_STREQ(WfsLastError(), "no connection open");
    EXPECT_EQ(WfsClose(), -1);
    EXPECT_STREQ(WfsLastError(), "no connection open");
}

TEST_F(Store, NotCarriedAndNoServerReportsTheFtpFailure) {
    Digest digest = {{1, 2, 3, 4, 5}};
    EXPECT_EQ(WfsOpen(&digest), -1);
    ASSERT_NE(WfsLastError(), nullptr);
    EXPECT_STRNE(WfsLastError(), "");
    char buffer[16];
    EXPECT_EQ(WfsRead(buffer, sizeof buffer), -1);
    EXPECT_STREQ(WfsLastError(), "no connection open");
}

TEST(StoreInit, RefusesBadFtpUrlsAndOverlongBases) {
    std::string longBase = "http://127.0.0.1/" + std::string(240, 'd') + "/";
    struct {
        const char *http;
        std::string ftp;
        const char *error;
    } cases[] = {
        {kHttpBase, "FTP://127.0.0.1/dat/", "invalid FTP URL"},
        {kHttpBase, "ftp://127.0.0.1", "invalid FTP URL"},
        {kHttpBase, "", "invalid FTP URL"},
        {longBase.c_str(), kFtpBase, "base URL too long"},
        {kHttpBase, "ftp://127.0.0.1/" + std::string(250, 'd'), "base URL too long"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(WfsInit(c.http, c.ftp.c_str()), -1) << c.ftp;
        EXPECT_STREQ(WfsLastError(), c.error) << c.ftp;
    }
    EXPECT_EQ(WfsInit("anything at all", "ftp://user@host:2121/"), 0) << WfsLastError();
}

}  // namespace
