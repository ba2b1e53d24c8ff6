#include "setup/errbox.h"

#include <stdlib.h>
#include <string.h>

#include "base/errtext.h"

const char *LastErrorText(void) {
    return ErrorText((int32_t)GetLastError());
}

// "message: detail" in a heap buffer of exactly the needed length, or null
// when there is no room. The caller frees it.
static char *JoinMessageAndDetail(const char *message, const char *detail) {
    static const char kSeparator[] = ": ";
    size_t messageLength = strlen(message);
    size_t separatorLength = sizeof kSeparator - 1;
    size_t detailLength = strlen(detail);
    char *joined = (char *)malloc(messageLength + separatorLength + detailLength + 1);
    if (joined == nullptr)
        return nullptr;
    memcpy(joined, message, messageLength);
    memcpy(joined + messageLength, kSeparator, separatorLength);
    memcpy(joined + messageLength + separatorLength, detail, detailLength + 1);
    return joined;
}

void ErrorBox(HWND owner, const char *caption, const char *message, const char *detail) {
    char *joined = nullptr;
    const char *text;
    if (message == nullptr)
        text = detail;
    else if (detail == nullptr)
        text = message;
    else
        text = joined = JoinMessageAndDetail(message, detail);

    if (text != nullptr)
        (void)MessageBoxA(owner, text, caption, MB_OK | MB_ICONERROR);
    free(joined);
}
