#include "base/errtext.h"

#include <string.h>

#include <atomic>

#include "base/check.h"
#include "base/errtext_table.h"
#include "base/inflate.h"
// Generated from base/errtext.txt by tools/packerrtext.py: the rows as one
// deflate stream, a quarter of their size.
#include "errtext_packed.h"

static_assert(kPackedErrorRowCount == kErrorRowCount, "the error text table has 627 rows");

namespace {

const char kUnknownError[] = "Unknown error.";

// Expanded, the stream holds row after row: the gap from the previous row's
// code as a base-128 number (low seven bits first, the high bit set on every
// byte but the last), then the text and its NUL. The texts stay where they
// are and the rows point at them.
uint8_t expanded[kExpandedErrorRowsSize];
ErrorRow rows[kErrorRowCount];

enum : int { kPacked, kExpanding, kExpanded };
std::atomic<int> state{kPacked};

uint32_t TakeGap(const uint8_t **next) {
    uint32_t gap = 0;
    for (int shift = 0;; shift += 7) {
        uint8_t byte = *(*next)++;
        gap |= (uint32_t)(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return gap;
    }
}

void ExpandRows() {
    CHECK(Inflate(kPackedErrorRows, sizeof kPackedErrorRows, expanded, sizeof expanded) ==
          (int32_t)sizeof expanded);
    const uint8_t *next = expanded;
    int32_t code = kFirstErrorCode - 1;
    for (ErrorRow &row : rows) {
        code += (int32_t)TakeGap(&next) + 1;
        row.code = code;
        row.text = (const char *)next;
        next += strlen(row.text) + 1;
    }
}

}  // namespace

const ErrorRow (&ErrorRows())[kErrorRowCount] {
    if (state.load(std::memory_order_acquire) != kExpanded) {
        int packed = kPacked;
        if (state.compare_exchange_strong(packed, kExpanding, std::memory_order_acquire)) {
            ExpandRows();
            state.store(kExpanded, std::memory_order_release);
        } else {
            // Another thread is expanding them, which takes well under a
            // millisecond.
            while (state.load(std::memory_order_acquire) != kExpanded) {
            }
        }
    }
    return rows;
}

const char *ErrorText(int32_t code) {
    const ErrorRow(&table)[kErrorRowCount] = ErrorRows();
    if (code < table[0].code || code > table[kErrorRowCount - 1].code)
        return kUnknownError;

    // The code, if it has a row, lies in the half-open range [low, high).
    int low = 0;
    int high = kErrorRowCount;
    while (low < high) {
        int middle = (low + high) / 2;
        if (table[middle].code == code)
            return table[middle].text;
        if (table[middle].code < code)
            low = middle + 1;
        else
            high = middle;
    }
    return kUnknownError;
}
