// The description splitter and the L, I and P line parsers. Each line of
// the input goes to every parser (on its own copy, as they cut in place);
// the I line's fields are compared with a plain reading of the same text.

#include <string.h>

#include <string>

#include "setup/description.h"
#include "tests/fuzz/fuzz.h"

namespace {

constexpr size_t kDescriptionSize = 4096;  // the driver's buffer

bool InAlphabet(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'v');
}

bool ValidName(const std::string &argument) {
    if (argument.size() < 33 || argument[32] != ':')
        return false;
    for (int i = 0; i < 32; ++i)
        if (!InAlphabet(argument[i]))
            return false;
    return true;
}

// The size field as strtoul reads it into 32 bits: blanks, one sign,
// digits; a magnitude beyond 32 bits reads as 4294967295 whatever the sign,
// otherwise '-' negates modulo 2^32. Gives where reading stopped.
size_t ReferenceSize(const std::string &text, size_t at, uint32_t *size) {
    size_t p = at;
    while (p < text.size() && strchr(" \t\v\f", text[p]) && text[p])
        ++p;
    bool negative = p < text.size() && text[p] == '-';
    if (p < text.size() && (text[p] == '-' || text[p] == '+'))
        ++p;
    if (p >= text.size() || text[p] < '0' || text[p] > '9')
        return at;
    uint64_t magnitude = 0;
    bool overflow = false;
    for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
        magnitude = magnitude * 10 + (uint64_t)(text[p] - '0');
        if (magnitude > UINT32_MAX) {
            overflow = true;
            magnitude = UINT32_MAX;
        }
    }
    *size = overflow ? UINT32_MAX : negative ? 0u - (uint32_t)magnitude : (uint32_t)magnitude;
    return p;
}

void CheckInstallLine(const std::string &argument) {
    std::string copy = argument;
    InstallLine line;
    int32_t result = ParseInstallLine(&copy[0], &line);

    bool valid = ValidName(argument);
    uint32_t size = 0;
    size_t stop = valid ? ReferenceSize(argument, 33, &size) : 0;
    valid = valid && stop < argument.size() && argument[stop] == ':' && size <= INT32_MAX;
    FUZZ_CHECK((result == 0) == valid);
    if (!valid)
        return;
    std::string rest = argument.substr(stop + 1);
    std::string fileName = rest.substr(0, rest.find(':'));
    bool required = false;
    for (size_t colon = rest.find(':'); colon != std::string::npos;
         colon = rest.find(':', colon + 1))
        required = required || (colon + 1 < rest.size() && rest[colon + 1] == 'R');
    FUZZ_CHECK(line.size == size);
    FUZZ_CHECK(line.fileName >= copy.data() && line.fileName <= copy.data() + copy.size());
    FUZZ_CHECK(fileName == line.fileName);
    FUZZ_CHECK(line.required == required);
}

void CheckLicenceLine(const std::string &argument) {
    std::string copy = argument;
    Digest digest;
    FUZZ_CHECK((ParseLicenceLine(&copy[0], &digest) == 0) == ValidName(argument));
}

void CheckShortcutLine(const std::string &argument) {
    std::string copy = argument;
    const char *link = nullptr;
    const char *target = nullptr;
    size_t colon = argument.find(':');
    FUZZ_CHECK((ParseShortcutLine(&copy[0], &link, &target) == 0) == (colon != std::string::npos));
    if (colon != std::string::npos) {
        FUZZ_CHECK(argument.substr(0, colon) == link);
        FUZZ_CHECK(argument.substr(colon + 1) == target);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size >= kDescriptionSize)
        return 0;
    char text[kDescriptionSize];
    memcpy(text, data, size);
    text[size] = '\0';
    LineCursor cursor = {text, (uint32_t)size, 0};
    size_t lines = 0;
    for (char *line = NextLine(&cursor); line != nullptr; line = NextLine(&cursor)) {
        FUZZ_CHECK(line >= text && line <= text + size);
        size_t length = strlen(line);
        FUZZ_CHECK(line + length <= text + size);
        FUZZ_CHECK(memchr(line, '\r', length) == nullptr && memchr(line, '\n', length) == nullptr);
        FUZZ_CHECK(++lines <= size);
        // The argument is everything after the letter; parsers see text
        // that ends at the line's zero byte.
        std::string argument = length ? std::string(line + 1) : std::string();
        CheckLicenceLine(argument);
        CheckInstallLine(argument);
        CheckShortcutLine(argument);
    }
    return 0;
}
