#include "wfs/ressource.h"

#include <string.h>
#include <windows.h>

#include "setup/errtext.h"

namespace {

HMODULE module;
HGLOBAL resource;
const unsigned char *data;
uint32_t size;
uint32_t position;
const char *errorText = "unknown error";

int32_t Init(void) {
    if (module != NULL)
        return 0;
    module = GetModuleHandleA(NULL);
    if (module == NULL) {
        errorText = ErrorText((int32_t)GetLastError());
        return -1;
    }
    return 0;
}

int32_t Close(void) {
    if (resource != NULL)
        FreeResource(resource);
    resource = NULL;
    data = NULL;
    return 0;
}

int32_t Open(const char *name) {
    Close();
    if (module == NULL)
        return -1;
    HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(10));
    if (found == NULL)
        return -1;
    DWORD length = SizeofResource(module, found);
    if (length == 0)
        return -1;
    HGLOBAL loaded = LoadResource(module, found);
    const void *bytes = loaded != NULL ? LockResource(loaded) : NULL;
    if (bytes == NULL) {
        if (loaded != NULL)
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
    if (data == NULL) {
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
    Init, nullptr, Open, Read, Close, nullptr, Shutdown, GetErrorText,
};
