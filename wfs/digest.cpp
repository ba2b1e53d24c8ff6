#include "wfs/digest.h"

#include <string.h>

#include "wfs/sha1.h"

namespace {

const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuv";

int CharValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'v')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

void DigestToName(const Digest *digest, char *name) {
    for (int k = 0; k < kDigestNameLength; k++) {
        int bit = 5 * k;
        int word = bit / 32, shift = bit % 32;
        uint32_t group = digest->word[word] >> shift;
        // A group that straddles two words takes its high bits from the next.
        if (shift > 27)
            group |= digest->word[word + 1] << (32 - shift);
        name[k] = kAlphabet[group & 31];
    }
    name[kDigestNameLength] = '\0';
}

int32_t NameToDigest(const char *text, Digest *digest) {
    uint32_t acc = 0;
    int position = 0, words = 0;
    for (int k = 0; k < kDigestNameLength; k++) {
        int value = CharValue(text[k]);
        if (value < 0)
            return -1;
        acc |= (uint32_t)value << position;
        position += 5;
        if (position >= 32) {
            digest->word[words++] = acc;
            position -= 32;
            // The value's bits that did not fit start the next word.
            acc = position == 0 ? 0 : (uint32_t)value >> (5 - position);
        }
    }
    return 0;
}

bool DigestEqual(const Digest *a, const Digest *b) {
    for (int i = 0; i < 5; i++)
        if (a->word[i] != b->word[i])
            return false;
    return true;
}

const Digest kEmptyDigest = {{0xda39a3ee, 0x5e6b4b0d, 0x3255bfef, 0x95601890, 0xafd80709}};

void DigestFromHash(const Sha1Context *finished, Digest *digest) {
    memcpy(digest->word, finished->state, sizeof digest->word);
}
