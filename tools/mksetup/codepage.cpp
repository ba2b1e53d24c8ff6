#include "tools/mksetup/codepage.h"

#include <stdio.h>

namespace {

// Bytes below 0x80 are ASCII in every code page known here; high[i] is the
// character of byte 0x80 + i, 0 where the byte has none.
struct CodePageTable {
    int number;
    uint16_t high[128];
};

#include "tools/mksetup/codepages.inc"

const CodePageTable *FindCodePage(int codePage) {
    for (const CodePageTable &table : kCodePages)
        if (table.number == codePage)
            return &table;
    return nullptr;
}

// The character of a byte, or -1 when the byte has none.
int32_t ByteToChar(const CodePageTable &table, unsigned char byte) {
    if (byte < 0x80)
        return byte;
    uint16_t c = table.high[byte - 0x80];
    return c != 0 ? c : -1;
}

// The byte of a character, or -1 when the code page has none.
int32_t CharToByte(const CodePageTable &table, uint32_t c) {
    if (c < 0x80)
        return (int32_t)c;
    for (int i = 0; i < 128; i++)
        if (table.high[i] != 0 && table.high[i] == c)
            return 0x80 + i;
    return -1;
}

void AppendUtf8(std::string *out, uint32_t c) {
    if (c < 0x80) {
        *out += (char)c;
    } else if (c < 0x800) {
        *out += (char)(0xC0 | (c >> 6));
        *out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += (char)(0xE0 | (c >> 12));
        *out += (char)(0x80 | ((c >> 6) & 0x3F));
        *out += (char)(0x80 | (c & 0x3F));
    } else {
        *out += (char)(0xF0 | (c >> 18));
        *out += (char)(0x80 | ((c >> 12) & 0x3F));
        *out += (char)(0x80 | ((c >> 6) & 0x3F));
        *out += (char)(0x80 | (c & 0x3F));
    }
}

// Reads one UTF-8 character at *offset and advances; -1 for a malformed,
// overlong or surrogate sequence.
int32_t NextUtf8(const std::string &text, size_t *offset) {
    unsigned char lead = (unsigned char)text[*offset];
    int extra = lead < 0x80   ? 0
                : lead < 0xC2 ? -1
                : lead < 0xE0 ? 1
                : lead < 0xF0 ? 2
                : lead < 0xF5 ? 3
                              : -1;
    if (extra < 0 || *offset + extra >= text.size())
        return -1;
    uint32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int i = 1; i <= extra; i++) {
        unsigned char next = (unsigned char)text[*offset + i];
        if ((next & 0xC0) != 0x80)
            return -1;
        c = (c << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return -1;
    *offset += extra + 1;
    return (int32_t)c;
}

bool IsUtf8(const std::string &text) {
    for (size_t offset = 0; offset < text.size();)
        if (NextUtf8(text, &offset) < 0)
            return false;
    return true;
}

}  // namespace

bool IsKnownCodePage(int codePage) {
    return FindCodePage(codePage) != nullptr;
}

bool IsDoubleByteCodePage(int codePage) {
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

std::string KnownCodePages() {
    std::string list;
    for (const CodePageTable &table : kCodePages)
        list += (list.empty() ? "" : ", ") + std::to_string(table.number);
    return list;
}

int32_t DecodeText(const std::string &text, int codePage, std::string *out, size_t *badOffset) {
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    if (IsUtf8(text)) {
        *out = text.compare(0, 3, kByteOrderMark) == 0 ? text.substr(3) : text;
        return 0;
    }
    const CodePageTable &table = *FindCodePage(codePage);
    std::string decoded;
    for (size_t i = 0; i < text.size(); i++) {
        int32_t c = ByteToChar(table, (unsigned char)text[i]);
        if (c < 0) {
            *badOffset = i;
            return -1;
        }
        AppendUtf8(&decoded, (uint32_t)c);
    }
    *out = decoded;
    return 0;
}

bool IsMixedEncoding(const std::string &text) {
    bool multiByte = false, malformed = false;
    for (size_t offset = 0; offset < text.size();) {
        size_t start = offset;
        if (NextUtf8(text, &offset) < 0) {
            malformed = true;
            offset = start + 1;
        } else {
            multiByte = multiByte || offset - start > 1;
        }
    }
    return multiByte && malformed;
}

int32_t EncodeText(const std::string &text, int codePage, std::string *out, size_t *badOffset) {
    const CodePageTable &table = *FindCodePage(codePage);
    std::string encoded;
    for (size_t offset = 0; offset < text.size();) {
        size_t start = offset;
        int32_t c = NextUtf8(text, &offset);
        int32_t byte = c < 0 ? -1 : CharToByte(table, (uint32_t)c);
        if (byte < 0) {
            *badOffset = start;
            return -1;
        }
        encoded += (char)byte;
    }
    *out = encoded;
    return 0;
}

std::string TextToUtf8(const std::string &text, int codePage) {
    const CodePageTable &table = *FindCodePage(codePage);
    std::string out;
    for (unsigned char byte : text) {
        int32_t c = ByteToChar(table, byte);
        AppendUtf8(&out, c < 0 ? 0xFFFD : (uint32_t)c);
    }
    return out;
}

size_t ColumnOf(const std::string &line, size_t at) {
    size_t column = 1;
    for (size_t i = 0; i < at && i < line.size(); i++)
        column += ((unsigned char)line[i] & 0xC0) != 0x80;
    return column;
}

std::string DescribeCharacter(const std::string &text, size_t at) {
    size_t end = at;
    int32_t c = NextUtf8(text, &end);
    if (c < 0)
        return "a malformed UTF-8 sequence";
    char code[16];
    snprintf(code, sizeof code, "U+%04X", (unsigned)c);
    return "'" + text.substr(at, end - at) + "' (" + code + ")";
}

namespace {

// The small letter of a capital one; other characters as they are.
uint32_t SmallLetter(uint32_t c) {
    bool latin1 = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
    bool greek = (c >= 0x391 && c <= 0x3AB && c != 0x3A2);
    bool cyrillic = c >= 0x410 && c <= 0x42F;
    if (latin1 || greek || cyrillic)
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if (c == 0x178)
        return 0xFF;
    // Greek capitals with tonos.
    if (c == 0x386)
        return 0x3AC;
    if (c >= 0x388 && c <= 0x38A)
        return c + 0x25;
    if (c == 0x38C)
        return 0x3CC;
    if (c == 0x38E || c == 0x38F)
        return c + 0x3F;
    // Latin Extended-A pairs a capital with the small letter after it, at
    // even code points but for the runs from U+0139 to U+0148 and U+0179
    // to U+017E, which start at odd ones; U+0130, U+0138 and U+0149 have
    // no pair.
    bool oddRun = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x138 && c != 0x149 &&
        (c & 1) == (oddRun ? 1u : 0u))
        return c + 1;
    return c;
}

}  // namespace

std::string FoldCase(const std::string &text) {
    std::string folded;
    for (size_t offset = 0; offset < text.size();) {
        size_t start = offset;
        int32_t c = NextUtf8(text, &offset);
        if (c < 0) {
            folded += text.substr(start, 1);
            offset = start + 1;
        } else {
            AppendUtf8(&folded, SmallLetter((uint32_t)c));
        }
    }
    return folded;
}

size_t Utf16Length(const std::string &text) {
    size_t units = 0;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char byte = (unsigned char)text[i];
        units += (byte & 0xC0) != 0x80;
        units += byte >= 0xF0;  // four bytes: a surrogate pair
    }
    return units;
}

std::u16string AsciiToUtf16(const std::string &text) {
    return std::u16string(text.begin(), text.end());
}
