#include "tools/mksetup/stringtable.h"

#include "tools/mksetup/codepage.h"
#include "tools/mksetup/peimage.h"

std::vector<unsigned char> EncodeStringBlock(const std::string entries[16]) {
    std::vector<unsigned char> data;
    for (int i = 0; i < 16; i++) {
        std::u16string text = AsciiToUtf16(entries[i]);
        unsigned char unit[2];
        SetLe16(unit, (uint16_t)text.size());
        data.insert(data.end(), unit, unit + 2);
        for (char16_t c : text) {
            SetLe16(unit, c);
            data.insert(data.end(), unit, unit + 2);
        }
    }
    return data;
}

int32_t DecodeStringBlock(const std::vector<unsigned char> &data, std::string entries[16]) {
    size_t at = 0;
    for (int i = 0; i < 16; i++) {
        if (at + 2 > data.size())
            return -1;
        size_t length = GetLe16(&data[at]);
        at += 2;
        if (at + 2 * length > data.size())
            return -1;
        entries[i].clear();
        for (size_t k = 0; k < length; k++, at += 2) {
            uint16_t c = GetLe16(&data[at]);
            entries[i] += c < 0x80 ? (char)c : '?';
        }
    }
    return 0;
}
