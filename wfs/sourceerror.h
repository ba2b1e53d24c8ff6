#ifndef WFS_SOURCEERROR_H
#define WFS_SOURCEERROR_H

#include <stdint.h>
#include <windows.h>
#include <oleauto.h>

// The text of a download source's latest failure: the description of the
// error object that a failed client call left on the thread, turned into
// 8-bit text (ANSI code page) when first asked for. Each source keeps one.
struct SourceError {
    BSTR description;  // null when the failure recorded none
    char *text;        // made from description on demand, or null
};

// Forgets the previous failure.
void SourceErrorClear(SourceError *error);

// Forgets the previous failure and keeps the description of the thread's
// error object, if there is one. Returns code unchanged.
int32_t SourceErrorCapture(SourceError *error, HRESULT code);

// The failure's text, or "unknown error" without a description or when it
// cannot be converted. The same pointer until the next clear or capture.
const char *SourceErrorText(SourceError *error);

#endif
