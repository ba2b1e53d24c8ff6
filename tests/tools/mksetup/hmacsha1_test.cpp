// HMAC-SHA1 against the test cases of RFC 2202, the long-key ones included.
#include "tools/mksetup/hmacsha1.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const unsigned char *bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

}  // namespace

TEST(HmacSha1, Rfc2202Cases) {
    const struct {
        std::string key, data;
        const char *mac;
    } cases[] = {
        {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'),
         "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {std::string(80, '\xaa'),
         "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto &c : cases) {
        // Whole, and split into single bytes.
        for (size_t step : {c.data.size(), size_t(1)}) {
            HmacSha1 mac;
            HmacSha1Init(&mac, reinterpret_cast<const unsigned char *>(c.key.data()),
                         static_cast<uint32_t>(c.key.size()));
            for (size_t i = 0; i < c.data.size(); i += step)
                HmacSha1Update(&mac, c.data.data() + i, static_cast<uint32_t>(step));
            unsigned char out[kSha1Bytes];
            HmacSha1Final(&mac, out);
            EXPECT_EQ(c.mac, Hex(out, kSha1Bytes)) << c.data << " in steps of " << step;
        }
    }
}
