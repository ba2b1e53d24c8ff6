#ifndef BASE_ERRTEXT_TABLE_H
#define BASE_ERRTEXT_TABLE_H

#include <stdint.h>

// The table behind ErrorText, exposed for its tests only: product code calls
// ErrorText (base/errtext.h) and never reads the rows directly.

struct ErrorRow {
    int32_t code;
    const char *text;
};

// kErrorRowCount rows, sorted by code in strictly ascending order.
extern const ErrorRow kErrorRows[];
extern const int kErrorRowCount;

#endif
