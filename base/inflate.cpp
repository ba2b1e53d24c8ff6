#include "base/inflate.h"

#include <string.h>

// A small, bit-at-a-time decoder: it expands a few tens of kilobytes once,
// so code size matters and speed does not.

namespace {

constexpr int kMaxCodeLength = 15;
constexpr int kLiteralLengthSymbols = 288;
constexpr int kDistanceSymbols = 30;
constexpr int kEndOfBlock = 256;

struct BitReader {
    const uint8_t *next;
    const uint8_t *end;
    uint32_t bits;  // unread bits, least significant first
    int count;      // how many of them
    bool overrun;   // a read went past the end (it gave zero bits)
};

// A canonical Huffman code: how many codes each length has, and the symbols
// in code order.
struct Huffman {
    uint16_t counts[kMaxCodeLength + 1];
    uint16_t symbols[kLiteralLengthSymbols];
};

// Bases and extra bits of the length symbols 257 to 285 and of the
// distance symbols 0 to 29.
const uint16_t kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                  33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                  1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                  6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The order in which a dynamic block lists its code-length code lengths.
const uint8_t kCodeLengthOrder[] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                    11, 4,  12, 3, 13, 2, 14, 1, 15};

uint32_t TakeBits(BitReader *reader, int n) {
    while (reader->count < n) {
        uint32_t byte = 0;
        if (reader->next < reader->end)
            byte = *reader->next++;
        else
            reader->overrun = true;
        reader->bits |= byte << reader->count;
        reader->count += 8;
    }
    uint32_t value = reader->bits & ((1u << n) - 1);
    reader->bits >>= n;
    reader->count -= n;
    return value;
}

// Builds the code of lengths[0..n); 0 on success, -1 for an over-full code.
int BuildHuffman(Huffman *code, const uint8_t *lengths, int n) {
    uint16_t offsets[kMaxCodeLength + 2];
    memset(code->counts, 0, sizeof code->counts);
    for (int symbol = 0; symbol < n; symbol++)
        code->counts[lengths[symbol]]++;
    code->counts[0] = 0;
    // left: codes of the current length still unassigned.
    int left = 1;
    offsets[1] = 0;
    for (int length = 1; length <= kMaxCodeLength; length++) {
        left = 2 * left - code->counts[length];
        if (left < 0)
            return -1;
        offsets[length + 1] = (uint16_t)(offsets[length] + code->counts[length]);
    }
    for (int symbol = 0; symbol < n; symbol++)
        if (lengths[symbol])
            code->symbols[offsets[lengths[symbol]]++] = (uint16_t)symbol;
    return 0;
}

// The next symbol of code, or -1 when the bits match no code.
int DecodeSymbol(BitReader *reader, const Huffman *code) {
    // Codes of each length are consecutive numbers starting at first; the
    // symbols of shorter codes come before index in code->symbols.
    int value = 0;
    int first = 0;
    int index = 0;
    for (int length = 1; length <= kMaxCodeLength; length++) {
        value |= (int)TakeBits(reader, 1);
        int count = code->counts[length];
        if (value - first < count)
            return code->symbols[index + value - first];
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return -1;
}

struct Output {
    uint8_t *start;
    uint32_t length;
    uint32_t capacity;
};

// Expands one block's symbols up to its end-of-block symbol.
int InflateCodes(BitReader *reader, const Huffman *literals, const Huffman *distances,
                 Output *out) {
    for (;;) {
        int symbol = DecodeSymbol(reader, literals);
        if (symbol < 0 || reader->overrun)
            return -1;
        if (symbol == kEndOfBlock)
            return 0;
        if (symbol < kEndOfBlock) {
            if (out->length == out->capacity)
                return -1;
            out->start[out->length++] = (uint8_t)symbol;
            continue;
        }
        symbol -= kEndOfBlock + 1;
        if (symbol >= (int)sizeof kLengthBase / (int)sizeof kLengthBase[0])
            return -1;
        uint32_t length = kLengthBase[symbol] + TakeBits(reader, kLengthExtra[symbol]);
        symbol = DecodeSymbol(reader, distances);
        if (symbol < 0 || symbol >= kDistanceSymbols)
            return -1;
        uint32_t distance = kDistanceBase[symbol] + TakeBits(reader, kDistanceExtra[symbol]);
        if (distance > out->length || length > out->capacity - out->length)
            return -1;
        // Byte by byte: a copy may overlap the bytes it is making.
        for (; length > 0; length--, out->length++)
            out->start[out->length] = out->start[out->length - distance];
    }
}

int InflateStored(BitReader *reader, Output *out) {
    // The block starts at the next byte boundary; bits held are the rest of
    // the current byte.
    reader->bits = 0;
    reader->count = 0;
    if (reader->end - reader->next < 4)
        return -1;
    uint32_t length = reader->next[0] | (uint32_t)reader->next[1] << 8;
    uint32_t complement = reader->next[2] | (uint32_t)reader->next[3] << 8;
    reader->next += 4;
    if (length != (~complement & 0xFFFF) || length > (uint32_t)(reader->end - reader->next) ||
        length > out->capacity - out->length)
        return -1;
    memcpy(out->start + out->length, reader->next, length);
    reader->next += length;
    out->length += length;
    return 0;
}

int InflateFixed(BitReader *reader, Output *out) {
    uint8_t lengths[kLiteralLengthSymbols];
    Huffman literals, distances;
    memset(lengths, 8, 144);
    memset(lengths + 144, 9, 256 - 144);
    memset(lengths + 256, 7, 280 - 256);
    memset(lengths + 280, 8, kLiteralLengthSymbols - 280);
    BuildHuffman(&literals, lengths, kLiteralLengthSymbols);
    memset(lengths, 5, kDistanceSymbols);
    BuildHuffman(&distances, lengths, kDistanceSymbols);
    return InflateCodes(reader, &literals, &distances, out);
}

int InflateDynamic(BitReader *reader, Output *out) {
    uint8_t lengths[kLiteralLengthSymbols + kDistanceSymbols + 2];
    Huffman literals, distances;
    int literalCount = (int)TakeBits(reader, 5) + 257;
    int distanceCount = (int)TakeBits(reader, 5) + 1;
    int lengthCodeCount = (int)TakeBits(reader, 4) + 4;
    if (literalCount > 286 || distanceCount > kDistanceSymbols)
        return -1;

    memset(lengths, 0, sizeof kCodeLengthOrder);
    for (int i = 0; i < lengthCodeCount; i++)
        lengths[kCodeLengthOrder[i]] = (uint8_t)TakeBits(reader, 3);
    if (BuildHuffman(&literals, lengths, sizeof kCodeLengthOrder) < 0)
        return -1;

    // The two codes' lengths form one sequence; a repeat may cross from one
    // to the other.
    int total = literalCount + distanceCount;
    for (int i = 0; i < total;) {
        int symbol = DecodeSymbol(reader, &literals);
        if (symbol < 0 || reader->overrun)
            return -1;
        if (symbol < 16) {
            lengths[i++] = (uint8_t)symbol;
            continue;
        }
        uint8_t repeated = 0;
        int times;
        if (symbol == 16) {
            if (i == 0)
                return -1;
            repeated = lengths[i - 1];
            times = 3 + (int)TakeBits(reader, 2);
        } else if (symbol == 17) {
            times = 3 + (int)TakeBits(reader, 3);
        } else {
            times = 11 + (int)TakeBits(reader, 7);
        }
        if (times > total - i)
            return -1;
        memset(lengths + i, repeated, times);
        i += times;
    }
    if (lengths[kEndOfBlock] == 0 || BuildHuffman(&literals, lengths, literalCount) < 0 ||
        BuildHuffman(&distances, lengths + literalCount, distanceCount) < 0)
        return -1;
    return InflateCodes(reader, &literals, &distances, out);
}

}  // namespace

int32_t Inflate(const uint8_t *in, uint32_t inSize, uint8_t *out, uint32_t capacity) {
    BitReader reader = {in, in + inSize, 0, 0, false};
    Output output = {out, 0, capacity};
    uint32_t last;
    do {
        last = TakeBits(&reader, 1);
        int result;
        switch (TakeBits(&reader, 2)) {
            case 0:
                result = InflateStored(&reader, &output);
                break;
            case 1:
                result = InflateFixed(&reader, &output);
                break;
            case 2:
                result = InflateDynamic(&reader, &output);
                break;
            default:
                result = -1;
        }
        if (result < 0 || reader.overrun)
            return -1;
    } while (!last);
    return (int32_t)output.length;
}
