// The installer's entry point and main sequence: find the setup description
// by its digest name, read it through the store, carry out its lines in
// order, then record the installed product in the current user's registry.
// Every failure ends the run after one error box; the exit code is always 0.

#include <ole2.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "base/errtext.h"
#include "base/resids.h"
#include "gui/win32/trivstatuswin.h"
#include "setup/baseurls.h"
#include "setup/description.h"
#include "setup/driver.h"
#include "setup/errbox.h"
#include "setup/folder.h"
#include "setup/install.h"
#include "setup/licence.h"
#include "setup/rules.h"
#include "setup/shortcut.h"
#include "wfs/wfs.h"

HINSTANCE setupInstance;
const char *setupTitle = "Quillon Internet Setup";
HWND messageOwner;
char destinationFolder[kPathSize];
volatile LONG abortRequested;

void SetupError(const char *message, const char *detail) {
    ErrorBox(messageOwner, setupTitle, message, detail);
}

namespace {

enum { kUrlSize = 256 };

const char kInvalidDescription[] = "Invalid setup description file";

// The description lives for the whole run: the product name and version
// point into it.
char description[kMaxDescriptionBytes + 1];
ProductLines productLines;
const char *productName;
const char *productVersion;
// The digest name of the description carried out, for the record.
char descriptionName[kDigestNameLength + 1];

void LoadBaseUrl(UINT entry, char *url, const char *fallback) {
    if (LoadStringA(setupInstance, entry, url, kUrlSize - 1) <= 0)
        strcpy(url, fallback);  // both defaults are far shorter than kUrlSize
}

// The description name entry when it holds exactly a digest name, else the command line's
// first 32 bytes.
int32_t FindDescription(const char *commandLine, Digest *digest) {
    char entry[128];
    int length = LoadStringA(setupInstance, IDS_DESCRIPTION_NAME, entry, sizeof entry - 1);
    if (length == kDigestNameLength && NameToDigest(entry, digest) == 0)
        return 0;
    if (strnlen(commandLine, kDigestNameLength) == kDigestNameLength &&
        NameToDigest(commandLine, digest) == 0)
        return 0;
    SetupError("Unable to install application", "no setup description file was specified");
    return -1;
}

int32_t ReadDescription(const Digest *digest, uint32_t *length) {
    int32_t n = WfsReadAll(digest, description, sizeof description);
    if (n < 0) {
        SetupError("Unable to read setup description file", WfsLastError());
        return -1;
    }
    if (n > kMaxDescriptionBytes) {
        SetupError(kInvalidDescription, nullptr);
        return -1;
    }
    description[n] = '\0';
    *length = (uint32_t)n;
    return 0;
}

// A product named by a T line is recorded with its version, so a
// description that names one but has no V line is refused before any step
// changes the machine.
int32_t CheckVersionPresent(uint32_t length) {
    if (HasLineStartingWith(description, length, 'T') &&
        !HasLineStartingWith(description, length, 'V')) {
        SetupError(kInvalidDescription, nullptr);
        return -1;
    }
    return 0;
}

void SetProduct(const char *name) {
    productName = name;
    size_t length = strlen(name);
    char *title = (char *)malloc(length + sizeof " Setup");
    if (title == nullptr) {
        setupTitle = name;
        return;
    }
    memcpy(title, name, length);
    memcpy(title + length, " Setup", sizeof " Setup");
    // The previous title is dropped without freeing: the first one is a
    // constant, and a description holds a handful of T lines at most.
    setupTitle = title;
}

int32_t CarryOutLine(char *line) {
    char *argument = line[0] != '\0' ? line + 1 : line;
    if (TakeDirective(&productLines, line[0]) != kOrderOk) {
        SetupError(kInvalidDescription, nullptr);
        return -1;
    }
    switch (line[0]) {
        case 'T':
            SetProduct(argument);
            return 0;
        case 'V':
            productVersion = argument;
            return 0;
        case 'F':
            return RunFolderStep(argument);
        case 'L':
            return RunLicenceStep(argument);
        case 'I':
            return RunInstallStep(argument);
        case 'P':
            return RunShortcutStep(argument);
        case 'M':
            MessageBoxA(messageOwner, argument, setupTitle, MB_OK | MB_ICONINFORMATION);
            return 0;
        default:
            return 0;
    }
}

int32_t CarryOutLines(uint32_t length) {
    LineCursor cursor = {description, length, 0};
    for (char *line = NextLine(&cursor); line != nullptr; line = NextLine(&cursor))
        if (CarryOutLine(line) < 0)
            return -1;
    if (FinishDirectives(productLines) == kNoProduct) {
        SetupError(kInvalidDescription, nullptr);
        return -1;
    }
    return 0;
}

int32_t SetStringValue(HKEY key, const char *name, const char *text) {
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
}

int32_t WriteRegistryRecord(void) {
    char path[kRegistryKeySize];
    // A name that would not fit is refused rather than cut: a cut name
    // could be another product's key.
    if (strlen(productName) > kMaxProductName) {
        SetupError("Can't enter registry information", "the product name is too long");
        return -1;
    }
    memcpy(path, kProductKeyPrefix, sizeof kProductKeyPrefix - 1);
    strcpy(path + sizeof kProductKeyPrefix - 1, productName);
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        SetupError("Can't enter registry information", ErrorText(status));
        return -1;
    }
    status = SetStringValue(key, kRecordVersion, productVersion != nullptr ? productVersion : "");
    if (status == ERROR_SUCCESS)
        status = SetStringValue(key, kRecordFolder, destinationFolder);
    if (status == ERROR_SUCCESS)
        status = SetStringValue(key, kRecordDescription, descriptionName);
    if (status != ERROR_SUCCESS)
        SetupError("Can't enter registry information", ErrorText(status));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : -1;
}

int32_t RunSetup(const char *commandLine) {
    char httpBase[kUrlSize], ftpBase[kUrlSize];
    LoadBaseUrl(IDS_HTTP_BASE, httpBase, kDefaultHttpBase);
    LoadBaseUrl(IDS_FTP_BASE, ftpBase, kDefaultFtpBase);
    if (WfsInit(httpBase, ftpBase) < 0) {
        SetupError("Failed to initialize WFS download module", WfsLastError());
        return -1;
    }

    Digest digest;
    uint32_t length;
    if (FindDescription(commandLine, &digest) < 0 || ReadDescription(&digest, &length) < 0 ||
        CheckVersionPresent(length) < 0 || CarryOutLines(length) < 0)
        return -1;
    DigestToName(&digest, descriptionName);

    StatusWinClose();
    messageOwner = nullptr;
    return WriteRegistryRecord();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    setupInstance = instance;
    if (OleInitialize(nullptr) != S_OK) {
        SetupError("Failed to initialize OLE", LastErrorText());
        return 0;
    }
    if (RunSetup(commandLine) == 0)
        OleUninitialize();
    return 0;
}
