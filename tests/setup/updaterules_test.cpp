// What the updater and the packager agree on: the order of dotted versions
// (which stops a replayed old LATEST) and the form of the key resource.
#include <gtest/gtest.h>

#include <string>

#include "setup/updaterules.h"

namespace {

struct VersionCase {
    const char *a, *b;
    int32_t result;  // 0, or -1 when they cannot be ordered
    int order;
};

TEST(UpdateRules, OrdersDottedVersionsPartByPart) {
    const VersionCase cases[] = {
        {"1.0", "1.1", 0, -1},
        {"1.10", "1.9", 0, 1},
        {"1.2", "1.2.0", 0, 0},
        {"1.2.0.0", "1.2", 0, 0},
        {"2", "1.99.99", 0, 1},
        {"01.2", "1.2", 0, 0},
        {"999999999", "1000000", 0, 1},
        {"1.0.1", "1.0", 0, 1},
        // Not dotted numbers: the signed pointer decides.
        {"1.0-beta", "1.0", -1, 0},
        {"2024b", "2024a", -1, 0},
        {"1..2", "1.2", -1, 0},
        {"1.2.", "1.2", -1, 0},
        {".1", "1", -1, 0},
        {"", "1", -1, 0},
        {"1", "v2", -1, 0},
        {"1234567890", "1", -1, 0},  // a part of ten digits could overflow
    };
    for (const VersionCase &c : cases) {
        int order = 7;
        EXPECT_EQ(CompareDottedVersions(c.a, c.b, &order), c.result) << c.a << " " << c.b;
        EXPECT_EQ(order, c.result == 0 ? c.order : 7) << c.a << " " << c.b;
        if (c.result == 0) {
            EXPECT_EQ(CompareDottedVersions(c.b, c.a, &order), 0);
            EXPECT_EQ(order, -c.order) << c.b << " " << c.a;
        }
    }
}

std::string Number(size_t length, char fill) {
    return std::string(1, (char)(length & 0xFF)) + std::string(1, (char)(length >> 8)) +
           std::string(length, fill);
}

TEST(UpdateRules, SplitsTheKeyResourceExactly) {
    std::string key = Number(256, 'p') + Number(20, 'q') + Number(256, 'g') + Number(300, 'y');
    const unsigned char *data = (const unsigned char *)key.data();
    WfsKeyNumber numbers[kWfsKeyNumbers];
    ASSERT_EQ(SplitUpdateKey(data, (uint32_t)key.size(), numbers), 0);
    const uint32_t lengths[] = {256, 20, 256, 300};
    const char fills[] = "pqgy";
    for (int i = 0; i < kWfsKeyNumbers; i++) {
        EXPECT_EQ(numbers[i].length, lengths[i]);
        EXPECT_EQ(numbers[i].bytes[0], fills[i]);
        EXPECT_EQ(numbers[i].bytes[lengths[i] - 1], fills[i]);
    }
    // A byte short, a byte over, an empty number, only three numbers.
    EXPECT_EQ(SplitUpdateKey(data, (uint32_t)key.size() - 1, numbers), -1);
    std::string longer = key + "x";
    EXPECT_EQ(
        SplitUpdateKey((const unsigned char *)longer.data(), (uint32_t)longer.size(), numbers), -1);
    std::string empty = Number(1, 'p') + Number(1, 'q') + Number(0, 'g') + Number(1, 'y');
    EXPECT_EQ(SplitUpdateKey((const unsigned char *)empty.data(), (uint32_t)empty.size(), numbers),
              -1);
    std::string three = Number(1, 'p') + Number(1, 'q') + Number(1, 'g');
    EXPECT_EQ(SplitUpdateKey((const unsigned char *)three.data(), (uint32_t)three.size(), numbers),
              -1);
}

}  // namespace
