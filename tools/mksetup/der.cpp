#include "tools/mksetup/der.h"

#include <string.h>

#include <algorithm>
#include <vector>

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string DerLength(size_t length) {
    std::string out;
    if (length < 0x80) {
        out += static_cast<char>(length);
    } else if (length < 0x100) {
        out += '\x81';
        out += static_cast<char>(length);
    } else {
        out += '\x82';
        out += static_cast<char>(length >> 8);
        out += static_cast<char>(length & 0xff);
    }
    return out;
}

int32_t ReadLength(DerReader *reader, size_t *length) {
    if (reader->left < 1)
        return -1;
    unsigned char first = *reader->next;
    size_t extra = first < 0x80 ? 0 : first - 0x80u;
    if (extra > 2 || reader->left < 1 + extra)
        return -1;
    size_t value = first < 0x80 ? first : 0;
    for (size_t i = 0; i < extra; i++)
        value = value << 8 | reader->next[1 + i];
    // DER takes the shortest form only.
    if ((extra == 1 && value < 0x80) || (extra == 2 && value < 0x100))
        return -1;
    reader->next += 1 + extra;
    reader->left -= 1 + extra;
    *length = value;
    return 0;
}

int Base64Value(char c) {
    const char *at = c != '\0' ? strchr(kBase64, c) : nullptr;
    return at != nullptr ? static_cast<int>(at - kBase64) : -1;
}

int32_t Base64Decode(const std::string &text, std::string *out) {
    out->clear();
    if (text.size() % 4 != 0)
        return -1;
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int pads = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (pads == 1 && text[i + 2] == '=')
            return -1;
        uint32_t group = 0;
        for (int j = 0; j < 4; j++) {
            int v = j >= 4 - pads ? 0 : Base64Value(text[i + j]);
            if (v < 0)
                return -1;
            group = group << 6 | static_cast<uint32_t>(v);
        }
        for (int j = 0; j < 3 - pads; j++)
            *out += static_cast<char>(group >> (16 - 8 * j));
    }
    return 0;
}

std::string Base64Lines(const std::string &data) {
    std::string out, line;
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t group = 0;
        size_t n = data.size() - i < 3 ? data.size() - i : 3;
        for (size_t j = 0; j < 3; j++)
            group = group << 8 | (j < n ? static_cast<unsigned char>(data[i + j]) : 0u);
        for (size_t j = 0; j < 4; j++)
            line += j <= n ? kBase64[(group >> (18 - 6 * j)) & 63] : '=';
        if (line.size() == 64) {
            out += line + "\n";
            line.clear();
        }
    }
    if (!line.empty())
        out += line + "\n";
    return out;
}

// The next line of text from *pos, without its "\n" or "\r\n".
std::string NextLine(const std::string &text, size_t *pos) {
    size_t end = text.find('\n', *pos);
    if (end == std::string::npos)
        end = text.size();
    std::string line = text.substr(*pos, end - *pos);
    *pos = end < text.size() ? end + 1 : end;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

}  // namespace

std::string DerElement(unsigned char tag, const std::string &content) {
    return std::string(1, static_cast<char>(tag)) + DerLength(content.size()) + content;
}

std::string DerInteger(const BigNum *n) {
    uint32_t bytes = static_cast<uint32_t>(bigBitLength(n) / 8 + 1);  // room for a 0 sign byte
    std::vector<unsigned char> le(bytes);
    BigToBuf(n, bytes, le.data());
    std::string content;
    for (uint32_t i = bytes; i-- > 0;)
        content += static_cast<char>(le[i]);
    // The extra byte is needed only when the top bit of the next one is set.
    if (content.size() > 1 && content[0] == 0 &&
        (static_cast<unsigned char>(content[1]) & 0x80) == 0)
        content.erase(0, 1);
    std::fill(le.begin(), le.end(), 0);
    std::string element = DerElement(kDerInteger, content);
    WipeString(&content);
    return element;
}

int32_t DerReadElement(DerReader *reader, unsigned char tag, DerReader *content) {
    DerReader at = *reader;
    size_t length;
    if (at.left < 1 || *at.next != tag)
        return -1;
    at.next++;
    at.left--;
    if (ReadLength(&at, &length) < 0 || length > at.left)
        return -1;
    content->next = at.next;
    content->left = length;
    reader->next = at.next + length;
    reader->left = at.left - length;
    return 0;
}

int32_t DerReadInteger(DerReader *reader, BigNum *n) {
    DerReader content;
    DerReader at = *reader;
    if (DerReadElement(&at, kDerInteger, &content) < 0 || content.left == 0 ||
        (content.next[0] & 0x80) != 0 ||
        (content.left > 1 && content.next[0] == 0 && (content.next[1] & 0x80) == 0))
        return -1;
    std::vector<unsigned char> le(content.next, content.next + content.left);
    std::reverse(le.begin(), le.end());
    BufToBig(le.data(), static_cast<uint32_t>(le.size()), n);
    n->sign = 1;
    std::fill(le.begin(), le.end(), 0);
    *reader = at;
    return 0;
}

std::string PemArmour(const char *label, const std::string &der) {
    return std::string("-----BEGIN ") + label + "-----\n" + Base64Lines(der) + "-----END " + label +
           "-----\n";
}

int32_t PemUnarmour(const std::string &text, const char *label, std::string *der) {
    std::string begin = std::string("-----BEGIN ") + label + "-----";
    std::string end = std::string("-----END ") + label + "-----";
    size_t pos = 0;
    while (pos < text.size() && NextLine(text, &pos) != begin) {
    }
    std::string base64;
    for (;;) {
        if (pos >= text.size())
            return -1;
        std::string line = NextLine(text, &pos);
        if (line == end)
            break;
        if (line.find(':') != std::string::npos)
            return -1;
        for (char c : line) {
            if (c != ' ' && c != '\t')
                base64 += c;
        }
    }
    int32_t status = Base64Decode(base64, der);
    WipeString(&base64);
    return status;
}

void WipeString(std::string *s) {
    volatile char *p = s->empty() ? nullptr : &(*s)[0];
    for (size_t i = 0; i < s->size(); i++)
        p[i] = 0;
    s->clear();
}
