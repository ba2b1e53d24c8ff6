// The HTTP download source as the store drives it: Open with the whole URL,
// Read in 4096-byte pieces, Close, and the error text after a failure.

#include <gtest/gtest.h>

#include <vector>

#include "base/errtext.h"
#include "net/http.h"
#include "tests/net/nettest.h"
#include "wfs/httpsource.h"

namespace {

struct HttpSourceTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_EQ(0, kHttpSource.Init());
    }
    void TearDown() override {
        kHttpSource.Shutdown();
        OleUninitialize();
    }
};

std::string Url(const char *portVariable, const char *path) {
    return "http://127.0.0.1:" + std::to_string(EnvPort(portVariable)) + path;
}

// Reads to the end in pieces of 4096 bytes, as the store does, or of the
// size given.
std::string ReadAll(uint32_t piece = 4096) {
    std::string body;
    std::vector<char> buffer(piece);
    for (;;) {
        int32_t got = kHttpSource.Read(buffer.data(), piece);
        EXPECT_GE(got, 0) << kHttpSource.ErrorText();
        if (got <= 0)
            return body;
        body.append(buffer.data(), got);
    }
}

TEST_F(HttpSourceTest, OpenResults) {
    std::string refused = std::string("unable to connect to HTTP server: ") + ErrorText(10061);
    struct {
        std::string url;
        int32_t result;
        std::string text;  // error text, or the body when the open succeeds
    } cases[] = {
        {Url("NET_NGINX_PORT", "/data"), 0, ServedData()},
        {Url("NET_PYHTTP_PORT", "/data"), 0, ServedData()},
        {Url("NET_NGINX_PORT", "/empty"), 0, ""},
        {Url("NET_SCRIPT_PORT", "/nohead"), 0, "no head here, just the body"},
        {Url("NET_SCRIPT_PORT", "/silent"), 0, ""},
        {Url("NET_SCRIPT_PORT", "/404"), (int32_t)0x8004A594, "HTTP/1.0 404 Not Found"},
        {Url("NET_SCRIPT_PORT", "/301"), (int32_t)0x8004A52D, "HTTP/1.0 301 Moved Permanently"},
        {Url("NET_NGINX_PORT", "/missing"), HTTPSOURCE_E_STATUS(404), "HTTP/1.1 404 Not Found"},
        {Url("NET_SCRIPT_PORT", "/http2"), HTTP_E_INVALID,
         "received an invalid response from the HTTP server"},
        {Url("NET_SCRIPT_PORT", "/header-4k"), 0, "body"},
        {Url("NET_SCRIPT_PORT", "/status-1023"), HTTP_E_LINE_LONG,
         "HTTP response header line too long"},
        {Url("NET_CLOSED_PORT", "/data"), HTTP_E_CONNECT, refused},
        {"ftp://127.0.0.1/x", HTTP_E_URI, "invalid URI (Uniform Resource Identifier)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url);
        int32_t result = kHttpSource.Open(c.url.c_str());
        EXPECT_EQ(c.result, result);
        if (result < 0) {
            EXPECT_EQ(c.text, kHttpSource.ErrorText());
            continue;
        }
        std::string body = ReadAll();
        EXPECT_EQ(c.text.size(), body.size());
        EXPECT_TRUE(c.text == body);
        EXPECT_EQ(0, kHttpSource.Close());
    }
}

TEST_F(HttpSourceTest, FailuresWithoutDescriptionReadUnknownError) {
    char buffer[16];
    EXPECT_EQ(E_POINTER, kHttpSource.Read(buffer, sizeof buffer));
    const char *text = kHttpSource.ErrorText();
    EXPECT_STREQ("unknown error", text);
    EXPECT_EQ(E_POINTER, kHttpSource.Open(nullptr));
    EXPECT_STREQ("unknown error", kHttpSource.ErrorText());

    // A described failure keeps one text object until the next operation.
    std::string url = Url("NET_SCRIPT_PORT", "/404");
    ASSERT_LT(kHttpSource.Open(url.c_str()), 0);
    text = kHttpSource.ErrorText();
    EXPECT_EQ(text, kHttpSource.ErrorText());
    EXPECT_EQ(0, kHttpSource.Close());
    EXPECT_EQ(text, kHttpSource.ErrorText());
    EXPECT_EQ(E_POINTER, kHttpSource.Read(buffer, sizeof buffer));
    EXPECT_STREQ("unknown error", kHttpSource.ErrorText());
}

// Open, one read, close, as the store reads a whole resource.
int32_t FetchWhole(const std::string &url, char *buffer, uint32_t count) {
    int32_t result = kHttpSource.Open(url.c_str());
    if (result < 0)
        return result;
    result = kHttpSource.Read(buffer, count);
    (void)kHttpSource.Close();  // always succeeds
    return result;
}

TEST_F(HttpSourceTest, OneReadGivesTheWholeBody) {
    std::string url = Url("NET_SCRIPT_PORT", "/lengths");
    char buffer[100];
    EXPECT_EQ(42, FetchWhole(url, buffer, sizeof buffer));
    EXPECT_EQ(std::string(42, 'x'), std::string(buffer, 42));
    EXPECT_EQ(10, FetchWhole(url, buffer, 10));
    url = Url("NET_SCRIPT_PORT", "/404");
    EXPECT_EQ((int32_t)0x8004A594, FetchWhole(url, buffer, sizeof buffer));
    EXPECT_STREQ("HTTP/1.0 404 Not Found", kHttpSource.ErrorText());
    // The source starts over after a failure.
    url = Url("NET_SCRIPT_PORT", "/nohead");
    EXPECT_EQ(27, FetchWhole(url, buffer, sizeof buffer));
}

// The source reads ahead of the caller; what it held of a resource closed
// before its end never reaches the next one.
TEST_F(HttpSourceTest, ResourceClosedEarlyLeavesNothingForTheNext) {
    std::string data = Url("NET_NGINX_PORT", "/data");
    ASSERT_EQ(0, kHttpSource.Open(data.c_str()));
    char buffer[4096];
    ASSERT_EQ(4096, kHttpSource.Read(buffer, sizeof buffer));
    EXPECT_EQ(0, kHttpSource.Close());
    std::string small = Url("NET_SCRIPT_PORT", "/lengths");
    ASSERT_EQ(0, kHttpSource.Open(small.c_str()));
    EXPECT_EQ(std::string(42, 'x'), ReadAll());
    EXPECT_EQ(0, kHttpSource.Close());
}

// The source hands out its read-ahead in the order received, whatever the
// caller's piece: pieces that straddle its blocks, a byte at a time, more
// than a block holds.
TEST_F(HttpSourceTest, AnyPieceSizeGivesTheBodyInOrder) {
    std::string url = Url("NET_NGINX_PORT", "/data");
    for (uint32_t piece : {1u, 5000u, 40000u}) {
        SCOPED_TRACE(piece);
        ASSERT_EQ(0, kHttpSource.Open(url.c_str()));
        EXPECT_TRUE(ReadAll(piece) == ServedData());
        EXPECT_EQ(0, kHttpSource.Close());
    }
}

TEST_F(HttpSourceTest, ConnectionClosedMidBodyGivesAShortRead) {
    std::string url = Url("NET_SCRIPT_PORT", "/cut-body");
    ASSERT_EQ(0, kHttpSource.Open(url.c_str()));
    char buffer[1000];
    EXPECT_EQ(300, kHttpSource.Read(buffer, sizeof buffer));
    EXPECT_EQ(0, kHttpSource.Read(buffer, sizeof buffer));
    EXPECT_EQ(0, kHttpSource.Close());
}

}  // namespace
