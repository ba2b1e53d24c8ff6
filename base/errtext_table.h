#ifndef BASE_ERRTEXT_TABLE_H
#define BASE_ERRTEXT_TABLE_H

#include <stdint.h>

// The table behind ErrorText, exposed for its tests only: product code calls
// ErrorText (base/errtext.h) and never reads the rows directly.

struct ErrorRow {
    int32_t code;
    const char *text;
};

constexpr int kErrorRowCount = 627;

// The rows, sorted by code in strictly ascending order. The program carries
// them packed; the first call, from any thread, expands them into static
// storage, and every call gives that same array with the same texts.
const ErrorRow (&ErrorRows())[kErrorRowCount];

// ErrorRows(), taken before main starts in the programs that name it.
extern const ErrorRow (&kErrorRows)[kErrorRowCount];

#endif
