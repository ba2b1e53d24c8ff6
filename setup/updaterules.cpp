#include "setup/updaterules.h"

int32_t SplitUpdateKey(const unsigned char *data, uint32_t size,
                       WfsKeyNumber numbers[kWfsKeyNumbers]) {
    uint32_t at = 0;
    for (int i = 0; i < kWfsKeyNumbers; i++) {
        if (size - at < 2)
            return -1;
        uint32_t length = data[at] | (uint32_t)data[at + 1] << 8;
        at += 2;
        if (length == 0 || size - at < length)
            return -1;
        numbers[i].bytes = data + at;
        numbers[i].length = length;
        at += length;
    }
    return at == size ? 0 : -1;
}

namespace {

// Reads one part of a dotted number: 1 to 9 digits, then a dot or the end.
// Returns the end of the part, or null when the text is not a dotted number.
const char *ReadPart(const char *text, uint32_t *part) {
    uint32_t value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; text++, digits++) {
        if (digits == 9)
            return nullptr;
        value = value * 10 + (uint32_t)(*text - '0');
    }
    if (digits == 0 || (*text != '.' && *text != '\0') || (*text == '.' && text[1] == '\0'))
        return nullptr;
    *part = value;
    return text;
}

bool IsDotted(const char *text) {
    uint32_t part;
    while ((text = ReadPart(text, &part)) != nullptr)
        if (*text++ == '\0')
            return true;
    return false;
}

}  // namespace

int32_t CompareDottedVersions(const char *a, const char *b, int *order) {
    if (!IsDotted(a) || !IsDotted(b))
        return -1;
    // Both are well formed: each step reads a part or, past the end, 0.
    while (*a != '\0' || *b != '\0') {
        uint32_t x = 0, y = 0;
        if (*a != '\0')
            a = ReadPart(a, &x);
        if (*b != '\0')
            b = ReadPart(b, &y);
        if (x != y) {
            *order = x < y ? -1 : 1;
            return 0;
        }
        if (*a == '.')
            a++;
        if (*b == '.')
            b++;
    }
    *order = 0;
    return 0;
}
