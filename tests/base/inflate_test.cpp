#include "base/inflate.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace {

// Streams made by zlib (raw deflate, no wrapper), one per block type, and
// one stored block followed by a fixed one.
const uint8_t kStored[] = {0x01, 0x10, 0x00, 0xef, 0xff, 0x73, 0x74, 0x6f, 0x72, 0x65, 0x64,
                           0x2c, 0x20, 0x61, 0x73, 0x20, 0x69, 0x74, 0x20, 0x69, 0x73};
const uint8_t kFixed[] = {0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x57, 0xc8, 0x40, 0x27, 0x01};
// "ab" 2000 times: 258-byte copies from 2 bytes back, which overlap what they
// make, and a code-length code that uses lengths 1 and 15.
const uint8_t kDynamic[] = {0xed, 0xc2, 0x31, 0x0d, 0x00, 0x00, 0x00, 0x02, 0xa0, 0xac, 0xda, 0x3f,
                            0x84, 0x31, 0x7c, 0x18, 0xa4, 0x01, 0x00, 0x00, 0x00, 0xce, 0x06};
const uint8_t kStoredThenFixed[] = {0x00, 0x06, 0x00, 0xf9, 0xff, 0x66, 0x69, 0x72,
                                    0x73, 0x74, 0x20, 0x2b, 0x4e, 0x4d, 0xce, 0xcf,
                                    0x4b, 0x51, 0x28, 0x06, 0x53, 0x00};

std::string Repeat(const std::string &text, int times) {
    std::string out;
    for (int i = 0; i < times; i++)
        out += text;
    return out;
}

struct StreamCase {
    const char *what;
    std::vector<uint8_t> stream;
    std::string expanded;
};

std::vector<StreamCase> Streams() {
    return {
        {"stored", {std::begin(kStored), std::end(kStored)}, "stored, as it is"},
        {"fixed", {std::begin(kFixed), std::end(kFixed)}, "hello hello hello hello"},
        {"dynamic", {std::begin(kDynamic), std::end(kDynamic)}, Repeat("ab", 2000)},
        {"stored then fixed",
         {std::begin(kStoredThenFixed), std::end(kStoredThenFixed)},
         "first second second"},
    };
}

int32_t InflateInto(const std::vector<uint8_t> &stream, std::vector<uint8_t> *out) {
    return Inflate(stream.data(), (uint32_t)stream.size(), out->data(), (uint32_t)out->size());
}

TEST(Inflate, ExpandsEachBlockType) {
    for (const StreamCase &c : Streams()) {
        std::vector<uint8_t> out(c.expanded.size() + 100);
        ASSERT_EQ(InflateInto(c.stream, &out), (int32_t)c.expanded.size()) << c.what;
        EXPECT_EQ(std::string(out.begin(), out.begin() + c.expanded.size()), c.expanded) << c.what;
    }
}

TEST(Inflate, NeedsRoomForEveryByte) {
    for (const StreamCase &c : Streams()) {
        std::vector<uint8_t> exact(c.expanded.size());
        EXPECT_EQ(InflateInto(c.stream, &exact), (int32_t)c.expanded.size()) << c.what;
        std::vector<uint8_t> short_(c.expanded.size() - 1);
        EXPECT_EQ(InflateInto(c.stream, &short_), -1) << c.what;
    }
}

TEST(Inflate, RejectsEveryCutStream) {
    for (const StreamCase &c : Streams()) {
        for (size_t length = 0; length < c.stream.size(); length++) {
            std::vector<uint8_t> cut(c.stream.begin(), c.stream.begin() + length);
            std::vector<uint8_t> out(c.expanded.size());
            EXPECT_EQ(InflateInto(cut, &out), -1) << c.what << " cut to " << length;
        }
    }
}

TEST(Inflate, RejectsMalformedStreams) {
    const struct {
        const char *what;
        std::vector<uint8_t> stream;
    } cases[] = {
        {"block type 3", {0x07}},
        {"stored length without its complement", {0x01, 0x02, 0x00, 0xfd, 0xfe, 'a', 'b'}},
        {"copy from before the start", {0x03, 0x02, 0x00}},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> out(64);
        EXPECT_EQ(InflateInto(c.stream, &out), -1) << c.what;
    }
}

}  // namespace
