#include "wfs/ressource.h"

#include <string.h>
#include <windows.h>

#include "base/errtext.h"
#include "base/resids.h"

namespace {

HMODULE module;
HGLOBAL resource;
const unsigned char *data;
uint32_t size;
uint32_t position;
const char *errorText = "unknown error";

int32_t Init(void) {
    if (module != nullptr)
        return 0;
    module = GetModuleHandleA(nullptr);
    if (module == nullptr) {
        errorText = ErrorText((int32_t)GetLastError());
        return -1;
    }
    return 0;
}

int32_t Close(void) {
    if (resource != nullptr)
        FreeResource(resource);
    resource = nullptr;
    data = nullptr;
    return 0;
}

int32_t Open(const char *name) {
    Close();
    if (module == nullptr)
        return -1;
    HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(DATA_RESOURCE_TYPE));
    if (found == nullptr)
        return -1;
    DWORD length = SizeofResource(module, found);
    if (length == 0)
        return -1;
    HGLOBAL loaded = LoadResource(module, found);
    const void *bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        if (loaded != nullptr)
            FreeResource(loaded);
        return -1;
    }
    resource = loaded;
    data = (const unsigned char *)bytes;
    size = length;
    position = 0;
    return 0;
}

int32_t Read(void *buffer, uint32_t count) {
    if (data == nullptr) {
        errorText = "no WFS data resource currently open";
        return -1;
    }
    uint32_t n = size - position < count ? size - position : count;
    memcpy(buffer, data + position, n);
    position += n;
    return (int32_t)n;
}

void Shutdown(void) {}

const char *GetErrorText(void) {
    return errorText;
}

}  // namespace

const WfsSource kResourceSource = {
    Init, WfsNoConnection, Open, Read, Close, Shutdown, GetErrorText,
};
