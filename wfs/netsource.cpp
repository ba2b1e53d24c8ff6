#include "wfs/netsource.h"

#include <stdlib.h>

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

int32_t SourceRead(SourceError *error, IStream *stream, void *buffer, uint32_t count) {
    SourceErrorClear(error);
    if (!stream)
        return E_POINTER;
    if (count > 0x7FFFFFFF)
        count = 0x7FFFFFFF;
    ULONG got = 0;
    HRESULT hr = stream->Read(buffer, count, &got);
    return FAILED(hr) ? SourceErrorCapture(error, hr) : (int32_t)got;
}
