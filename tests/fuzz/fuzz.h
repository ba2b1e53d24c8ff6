#ifndef TESTS_FUZZ_FUZZ_H
#define TESTS_FUZZ_FUZZ_H

// Shared by the fuzz targets: a check that stops the run as a crash, so
// that libFuzzer keeps the input, and a reader of the input's bytes.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(check) ((check) ? (void)0 : FuzzCheckFailed(#check, __FILE__, __LINE__))

[[noreturn]] inline void FuzzCheckFailed(const char *check, const char *file, int line) {
    fprintf(stderr, "check failed: %s, file %s, line %d\n", check, file, line);
    abort();
}

// Takes the input from the front; past its end every read gives zeros.
struct FuzzInput {
    const uint8_t *data;
    size_t size;

    uint8_t Byte() {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
    uint32_t Below(uint32_t bound) {  // 0 .. bound - 1 from two bytes
        uint32_t v = Byte();
        v = v << 8 | Byte();
        return bound ? v % bound : 0;
    }
    // Up to max bytes; count gets how many there were.
    const uint8_t *Bytes(size_t max, size_t *count) {
        *count = max < size ? max : size;
        const uint8_t *start = data;
        data += *count;
        size -= *count;
        return start;
    }
};

#endif
