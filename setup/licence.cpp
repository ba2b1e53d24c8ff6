#include "setup/licence.h"

#include <windows.h>

#include "setup/description.h"
#include "setup/driver.h"
#include "setup/rules.h"
#include "wfs/wfs.h"

int32_t RunLicenceStep(char *argument) {
    Digest digest;
    if (ParseLicenceLine(argument, &digest) < 0) {
        SetupError("Invalid setup description file", nullptr);
        return -1;
    }
    return ShowLicence(&digest);
}

int32_t ShowLicence(const Digest *digest) {
    // Static: the licence may be 4 KB and the main thread's stack is shared
    // with every step below it.
    static char licence[kMaxLicenceBytes + 1];
    int32_t n = WfsReadAll(digest, licence, sizeof licence - 1);
    if (n < 0) {
        SetupError("Error reading license file", WfsLastError());
        return -1;
    }
    licence[n] = '\0';
    int answer = MessageBoxA(nullptr, licence, "Software License", MB_YESNO | MB_ICONQUESTION);
    return answer == IDYES ? 0 : -1;
}
