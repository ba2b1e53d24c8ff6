#include "wfs/netsource.h"

#include <stdlib.h>
#include <string.h>

#include "net/com.h"

void SourceErrorClear(SourceError *error) {
    SysFreeString(error->description);
    error->description = nullptr;
    free(error->text);
    error->text = nullptr;
}

int32_t SourceErrorCapture(SourceError *error, HRESULT code) {
    SourceErrorClear(error);
    IErrorInfo *info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)))
            error->description = description;
        info->Release();
    }
    return code;
}

const char *SourceErrorText(SourceError *error) {
    if (error->text)
        return error->text;
    if (!error->description)
        return "unknown error";
    // A wide character becomes at most two bytes in an ANSI code page.
    int size = (int)(2 * SysStringLen(error->description) + 16);
    error->text = (char *)malloc(size);
    if (error->text && WideCharToMultiByte(CP_ACP, 0, error->description, -1, error->text, size,
                                           nullptr, nullptr) == 0) {
        free(error->text);
        error->text = nullptr;
    }
    return error->text ? error->text : "unknown error";
}

int32_t SourceOpen(SourceError *error, const char *name, int32_t (*open)(LPCOLESTR)) {
    SourceErrorClear(error);
    if (!name)
        return E_POINTER;
    BSTR wide = AnsiToBstr(name);
    if (!wide)
        return E_OUTOFMEMORY;
    int32_t result = open(wide);
    SysFreeString(wide);
    return result;
}

void ReadAheadReset(ReadAhead *ahead) {
    ahead->start = 0;
    ahead->end = 0;
}

int32_t SourceRead(SourceError *error, IStream *stream, ReadAhead *ahead, void *buffer,
                   uint32_t count) {
    SourceErrorClear(error);
    if (!stream)
        return E_POINTER;
    if (count > 0x7FFFFFFF)
        count = 0x7FFFFFFF;
    uint8_t *out = (uint8_t *)buffer;
    uint32_t total = 0;
    while (total < count) {
        if (ahead->start == ahead->end) {
            // The stream's Read fills the block unless the data ends, so
            // an empty answer marks the end.
            ULONG got = 0;
            HRESULT hr = stream->Read(ahead->bytes, sizeof ahead->bytes, &got);
            if (FAILED(hr))
                return SourceErrorCapture(error, hr);
            ahead->start = 0;
            ahead->end = got;
            if (got == 0)
                break;
        }
        uint32_t piece = ahead->end - ahead->start;
        if (piece > count - total)
            piece = count - total;
        memcpy(out + total, ahead->bytes + ahead->start, piece);
        ahead->start += piece;
        total += piece;
    }
    return (int32_t)total;
}
