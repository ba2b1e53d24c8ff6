// Decimal numbers in host texts and header values.

#include <string.h>

#include <gtest/gtest.h>

#include "net/decimal.h"

namespace {

TEST(ScanDecimal, ReadsLikeAtoi) {
    struct {
        const char *text;
        int32_t value;
    } cases[] = {{"21", 21},
                 {"  +21x", 21},
                 {"-5", -5},
                 {"", 0},
                 {"x1", 0},
                 {"\t 7", 7},
                 {"4294967297", 1},
                 {"+-3", 0},
                 {"\r\n9", 9},
                 {"- 4", 0},
                 {"-2147483648", INT32_MIN}};
    for (const auto &c : cases) {
        EXPECT_EQ(c.value, ScanDecimal(c.text)) << c.text;
        std::wstring wide(c.text, c.text + strlen(c.text));
        EXPECT_EQ(c.value, ScanDecimal(wide.c_str())) << c.text;
    }
}

TEST(HostTextPort, NumberAfterTheFirstColonCutTo16Bits) {
    struct {
        const char *host;
        uint16_t port;
    } cases[] = {{"example", 80}, {"example:8080", 8080}, {"h:0080", 80}, {"h:", 0},
                 {"h:65616", 80}, {"h:21:22", 21},        {"h: 99x", 99}, {"", 80},
                 {":443", 443}};
    for (const auto &c : cases)
        EXPECT_EQ(c.port, HostTextPort(c.host, (uint16_t)80)) << c.host;
}

}  // namespace
