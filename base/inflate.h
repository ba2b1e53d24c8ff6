#ifndef BASE_INFLATE_H
#define BASE_INFLATE_H

#include <stdint.h>

// Expands a raw deflate stream (stored, fixed and dynamic Huffman blocks, no
// zlib or gzip wrapper) into out, which holds capacity bytes. Returns the
// number of bytes written, or -1 when the stream is malformed, ends before
// its last block, or would expand beyond capacity; out may then hold part of
// the data. Never reads past inSize bytes of in or writes past capacity
// bytes of out. in and out MUST NOT overlap.
int32_t Inflate(const uint8_t *in, uint32_t inSize, uint8_t *out, uint32_t capacity);

#endif
