// The description's lines and the fields of L, I and P lines.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "setup/description.h"

namespace {

const std::string kName = "mhfipkad1k1ekol4uhep613aob7hd8jj";

std::vector<std::string> Lines(std::string text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    LineCursor cursor = {buffer.data(), (uint32_t)text.size(), 0};
    std::vector<std::string> lines;
    for (char *line = NextLine(&cursor); line != nullptr; line = NextLine(&cursor))
        lines.push_back(line);
    return lines;
}

TEST(Description, SplitsLinesAtLineFeedsAndCutsAtCarriageReturns) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Lines("TKestrin\nV1.2\nMdone"), (V{"TKestrin", "V1.2", "Mdone"}));
    EXPECT_EQ(Lines("TKestrin\r\nV1.2\r\n"), (V{"TKestrin", "V1.2"}));
    EXPECT_EQ(Lines("Tab\rignored\nV1"), (V{"Tab", "V1"}));
    EXPECT_EQ(Lines(std::string("Tab\0cut\nV1", 11)), (V{"Tab", "V1"}));
    EXPECT_EQ(Lines("\n\nT"), (V{"", "", "T"}));
    EXPECT_EQ(Lines(""), V{});
}

struct InstallCase {
    std::string argument;
    int32_t result;
    uint32_t size;
    std::string fileName;
    bool required;
};

TEST(Description, InstallLineFields) {
    const InstallCase cases[] = {
        {kName + ":685:License.txt:R", 0, 685, "License.txt", true},
        {kName + ":97904:Kestrin.hlp", 0, 97904, "Kestrin.hlp", false},
        {kName + "::empty.txt", 0, 0, "empty.txt", false},
        {kName + ": \t+12:a.txt", 0, 12, "a.txt", false},
        {kName + ":1:a.txt:Required", 0, 1, "a.txt", true},
        {kName + ":1:a.txt:x:R", 0, 1, "a.txt", true},
        {kName + ":1:a.txt:r", 0, 1, "a.txt", false},
        {kName + ":1:a.txt::", 0, 1, "a.txt", false},
        {kName + ":1:sub\\a.txt", 0, 1, "sub\\a.txt", false},
        {kName + ":2147483647:a", 0, 2147483647u, "a", false},
        {kName + ":-0:a", 0, 0, "a", false},
        // Sizes the progress display cannot count are refused.
        {kName + ":2147483648:a", -1, 0, "", false},
        {kName + ":99999999999:a", -1, 0, "", false},
        {kName + ":-5:a", -1, 0, "", false},
        // A magnitude beyond 32 bits reads as 4294967295 whatever its sign;
        // negated it must not wrap round to a small size.
        {kName + ":-4294967296:a", -1, 0, "", false},
        {kName + ":-99999999999:a", -1, 0, "", false},
        {kName + ": :a", -1, 0, "", false},
        {kName + ":+:a", -1, 0, "", false},
        {kName + ":12", -1, 0, "", false},
        {kName + ":12x:a", -1, 0, "", false},
        {kName + "1:1:a", -1, 0, "", false},
        {kName.substr(1) + ":1:a", -1, 0, "", false},
        {"MHFIPKAD1K1EKOL4UHEP613AOB7HD8JJ:1:a", -1, 0, "", false},
        {kName, -1, 0, "", false},
        {"", -1, 0, "", false},
    };
    for (const InstallCase &c : cases) {
        std::vector<char> buffer(c.argument.begin(), c.argument.end());
        buffer.push_back('\0');
        InstallLine line;
        ASSERT_EQ(ParseInstallLine(buffer.data(), &line), c.result) << c.argument;
        if (c.result < 0)
            continue;
        EXPECT_EQ(line.size, c.size) << c.argument;
        EXPECT_EQ(std::string(line.fileName), c.fileName) << c.argument;
        EXPECT_EQ(line.required, c.required) << c.argument;
        Digest expected;
        ASSERT_EQ(NameToDigest(kName.c_str(), &expected), 0);
        EXPECT_TRUE(DigestEqual(&line.digest, &expected)) << c.argument;
    }
}

TEST(Description, ShortLinesAtTheEndAreNotReadPastTheirEnd) {
    // The argument sits at the very end of an exactly sized heap block, so
    // a read past it shows under the address sanitizer.
    for (size_t length = 0; length <= kName.size(); length++) {
        char *argument = new char[length + 1];
        memcpy(argument, kName.data(), length);
        argument[length] = '\0';
        InstallLine line;
        Digest digest;
        EXPECT_EQ(ParseInstallLine(argument, &line), -1) << length;
        EXPECT_EQ(ParseLicenceLine(argument, &digest), -1) << length;
        delete[] argument;
    }
}

TEST(Description, LicenceLineReadsOnlyTheDigestName) {
    std::string argument = kName + ":774 whatever : follows";
    std::vector<char> buffer(argument.begin(), argument.end());
    buffer.push_back('\0');
    Digest digest, expected;
    ASSERT_EQ(ParseLicenceLine(buffer.data(), &digest), 0);
    ASSERT_EQ(NameToDigest(kName.c_str(), &expected), 0);
    EXPECT_TRUE(DigestEqual(&digest, &expected));
}

TEST(Description, ShortcutLineSplitsAtTheFirstColon) {
    struct {
        std::string argument;
        int32_t result;
        std::string link, target;
    } cases[] = {
        {"Kestrin.lnk:Kestrin.exe", 0, "Kestrin.lnk", "Kestrin.exe"},
        {"A.lnk:b:c.exe", 0, "A.lnk", "b:c.exe"},
        {":x", 0, "", "x"},
        {"A.lnk:", 0, "A.lnk", ""},
        {"no colon", -1, "", ""},
    };
    for (const auto &c : cases) {
        std::vector<char> buffer(c.argument.begin(), c.argument.end());
        buffer.push_back('\0');
        const char *link = nullptr, *target = nullptr;
        ASSERT_EQ(ParseShortcutLine(buffer.data(), &link, &target), c.result) << c.argument;
        if (c.result == 0) {
            EXPECT_EQ(std::string(link), c.link);
            EXPECT_EQ(std::string(target), c.target);
        }
    }
}

}  // namespace
