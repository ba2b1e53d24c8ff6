#include "setup/description.h"

#include <string.h>

char *NextLine(LineCursor *cursor) {
    if (cursor->offset >= cursor->length)
        return nullptr;
    char *line = cursor->text + cursor->offset;
    uint32_t end = cursor->offset;
    while (end < cursor->length && cursor->text[end] != '\n') {
        if (cursor->text[end] == '\r')
            cursor->text[end] = '\0';
        end++;
    }
    cursor->text[end] = '\0';
    cursor->offset = end + 1;
    return line;
}

namespace {

// The digest name is the first 32 bytes and the 33rd must be ':'. A line
// that ends earlier is refused without reading past its terminator.
int32_t CutDigestName(char *argument, Digest *digest) {
    if (strnlen(argument, kDigestNameLength + 1) != kDigestNameLength + 1 ||
        argument[kDigestNameLength] != ':')
        return -1;
    argument[kDigestNameLength] = '\0';
    return NameToDigest(argument, digest);
}

bool IsSizeBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Reads an unsigned 32-bit decimal as strtoul does: blanks, one sign,
// digits; a magnitude beyond 32 bits reads as 2^32 - 1 whatever its sign,
// otherwise '-' negates modulo 2^32. Without any digit nothing is consumed.
// Returns where reading stopped.
char *ReadSize(char *field, uint32_t *size) {
    char *p = field;
    while (IsSizeBlank(*p))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return field;
    uint32_t value = 0;
    bool overflow = false;
    for (; *p >= '0' && *p <= '9'; p++) {
        uint32_t digit = (uint32_t)(*p - '0');
        if (value > (UINT32_MAX - digit) / 10)
            overflow = true;
        else
            value = value * 10 + digit;
    }
    *size = overflow ? UINT32_MAX : negative ? 0u - value : value;
    return p;
}

}  // namespace

int32_t ParseLicenceLine(char *argument, Digest *digest) {
    return CutDigestName(argument, digest);
}

int32_t ParseInstallLine(char *argument, InstallLine *line) {
    Digest digest;
    if (CutDigestName(argument, &digest) < 0)
        return -1;
    char *field = argument + kDigestNameLength + 1;
    uint32_t size = 0;
    char *stop = ReadSize(field, &size);
    // The progress display counts in signed 32 bits.
    if (*stop != ':' || size > INT32_MAX)
        return -1;
    *stop = '\0';

    const char *fileName = stop + 1;
    bool required = false;
    for (char *colon = strchr(stop + 1, ':'); colon != nullptr; colon = strchr(colon + 1, ':')) {
        *colon = '\0';
        if (colon[1] == 'R')
            required = true;
    }
    line->digest = digest;
    line->size = size;
    line->fileName = fileName;
    line->required = required;
    return 0;
}

int32_t ParseShortcutLine(char *argument, const char **linkName, const char **target) {
    char *colon = strchr(argument, ':');
    if (colon == nullptr)
        return -1;
    *colon = '\0';
    *linkName = argument;
    *target = colon + 1;
    return 0;
}
