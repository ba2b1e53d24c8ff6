// The updater's entry point and sequence: read the installed product's
// record, ask the servers for the signed LATEST pointer, and when it names
// another description, bring the product folder to it. Every file that
// changed is downloaded and verified under a temporary name beside its
// target first; only when all are there, and none of the old ones is in
// use, are they moved over the old ones; the record is written last. So a
// failure or Cancel before the swap changes nothing, and a run killed
// during the swap leaves the old record, which makes the next run finish
// the swap from the verified files already in place.
//
// Options: /quiet checks only, without any window, and reports by exit
// code; /yes updates without asking.

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
#include "setup/install.h"
#include "setup/licence.h"
#include "setup/rules.h"
#include "setup/shortcut.h"
#include "setup/updaterules.h"
#include "wfs/wfs.h"

HINSTANCE setupInstance;
const char *setupTitle = "Quillon Update";
HWND messageOwner;
char destinationFolder[kPathSize];
volatile LONG abortRequested;

namespace {

// Exit codes.
enum {
    kExitCurrent = 0,    // up to date, or updated
    kExitAvailable = 1,  // an update is there and was not installed
    kExitFailed = 2,     // refused or failed
};

enum {
    kUrlSize = 256,
    // The lines a description of 4095 bytes can hold, each with its line
    // end: an I line takes at least 38 bytes, an L line 34, a P line 5.
    kMaxFiles = (kMaxDescriptionBytes + 1) / 38,
    kMaxLicences = (kMaxDescriptionBytes + 1) / 34,
    kMaxShortcuts = (kMaxDescriptionBytes + 1) / 5,
    // A file's temporary and set-aside names: its name and a suffix.
    kTemporaryPathSize = kPathSize + sizeof kUpdateSuffix,
    kMessageSize = 2 * kPathSize,
};

bool quiet;
bool withoutAsking;

void ShowError(const char *message, const char *detail) {
    if (!quiet)
        ErrorBox(messageOwner, setupTitle, message, detail);
}

}  // namespace

void SetupError(const char *message, const char *detail) {
    ShowError(message, detail);
}

namespace {

char productName[kMaxProductName + 1];
char title[kMaxProductName + sizeof " Update"];

// The installed product's record.
char installedVersion[kMaxDescriptionBytes + 1];
char installedDescription[kDigestNameLength + 1];

// The description LATEST names, cut up in place; the lines point into it.
char description[kMaxDescriptionBytes + 1];
const char *newProduct;
const char *newVersion;
InstallLine files[kMaxFiles];
uint32_t fileCount;
Digest licences[kMaxLicences];
uint32_t licenceCount;
char *shortcutLines[kMaxShortcuts];
uint32_t shortcutCount;

void Say(const char *text, UINT icon) {
    if (!quiet)
        MessageBoxA(messageOwner, text, setupTitle, MB_OK | icon);
}

void ParseOptions(const char *commandLine) {
    const char *p = commandLine;
    while (*p != '\0') {
        while (*p == ' ' || *p == '\t')
            p++;
        const char *start = p;
        while (*p != '\0' && *p != ' ' && *p != '\t')
            p++;
        size_t length = (size_t)(p - start);
        if (length == 6 && _strnicmp(start, "/quiet", 6) == 0)
            quiet = true;
        else if (length == 4 && _strnicmp(start, "/yes", 4) == 0)
            withoutAsking = true;
    }
}

void LoadBaseUrl(UINT entry, char *url, const char *fallback) {
    if (LoadStringA(setupInstance, entry, url, kUrlSize - 1) <= 0)
        strcpy(url, fallback);  // both defaults are far shorter than kUrlSize
}

// The bytes of one of the updater's own data resources, or null.
const unsigned char *OwnResource(const char *name, uint32_t *size) {
    HRSRC found = FindResourceA(setupInstance, name, MAKEINTRESOURCEA(DATA_RESOURCE_TYPE));
    HGLOBAL loaded = found != nullptr ? LoadResource(setupInstance, found) : nullptr;
    if (loaded == nullptr)
        return nullptr;
    *size = (uint32_t)SizeofResource(setupInstance, found);
    return (const unsigned char *)LockResource(loaded);
}

int32_t LoadProduct(void) {
    uint32_t size = 0;
    const unsigned char *name = OwnResource(UPDATE_PRODUCT_NAME, &size);
    if (name == nullptr || size == 0 || size > kMaxProductName ||
        memchr(name, '\0', size) != nullptr) {
        ShowError("Unable to check for updates", "this updater names no product");
        return -1;
    }
    memcpy(productName, name, size);
    productName[size] = '\0';
    wsprintfA(title, "%s Update", productName);
    setupTitle = title;
    return 0;
}

// The key's numbers from the key resource, pointing into it.
int32_t LoadKey(WfsKeyNumber key[kWfsKeyNumbers]) {
    uint32_t size = 0;
    const unsigned char *data = OwnResource(UPDATE_KEY_NAME, &size);
    if (data == nullptr || SplitUpdateKey(data, size, key) < 0) {
        ShowError("Unable to check for updates", "this updater carries no public key");
        return -1;
    }
    return 0;
}

// A string value of at most size - 1 bytes and its zero; false, with text
// empty, when it is missing, not a string or too long.
bool QueryValue(HKEY key, const char *name, char *text, DWORD size) {
    DWORD type, length = size;
    if (RegQueryValueExA(key, name, nullptr, &type, (BYTE *)text, &length) == ERROR_SUCCESS &&
        type == REG_SZ) {
        // The length counts the stored zero; a value stored without one
        // gets it here when there is room.
        if (length != 0 && text[length - 1] == '\0')
            return true;
        if (length < size) {
            text[length] = '\0';
            return true;
        }
    }
    text[0] = '\0';
    return false;
}

// Reads Version, Dir and Description, and makes the product folder the
// current directory. A record written before descriptions were recorded
// has no Description: it matches no LATEST.
int32_t ReadRecord(void) {
    char path[kRegistryKeySize];
    wsprintfA(path, "%s%s", kProductKeyPrefix, productName);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        ShowError("Unable to update", "the product is not installed");
        return -1;
    }
    bool ok = QueryValue(key, kRecordVersion, installedVersion, sizeof installedVersion) &&
              QueryValue(key, kRecordFolder, destinationFolder, sizeof destinationFolder);
    (void)QueryValue(key, kRecordDescription, installedDescription, sizeof installedDescription);
    RegCloseKey(key);
    if (!ok) {
        ShowError("Unable to update", "the product's registry record is incomplete");
        return -1;
    }
    // A product installed without a folder step lies in the folder the
    // updater was installed to.
    if (destinationFolder[0] == '\0') {
        DWORD n = GetModuleFileNameA(nullptr, destinationFolder, sizeof destinationFolder);
        char *slash =
            n != 0 && n < sizeof destinationFolder ? strrchr(destinationFolder, '\\') : nullptr;
        if (slash == nullptr) {
            ShowError("Unable to update", ErrorText(ERROR_FILENAME_EXCED_RANGE));
            return -1;
        }
        *slash = '\0';
    }
    if (!SetCurrentDirectoryA(destinationFolder)) {
        ShowError("Can't open the product folder", LastErrorText());
        return -1;
    }
    return 0;
}

// The previous updater, moved aside by the run that replaced it.
void RemoveOldUpdater(void) {
    char path[kTemporaryPathSize];
    DWORD n = GetModuleFileNameA(nullptr, path, kPathSize);
    if (n == 0 || n >= kPathSize)
        return;
    memcpy(path + n, kOldUpdaterSuffix, sizeof kOldUpdaterSuffix);
    DeleteFileA(path);  // none there is the usual case
}

int32_t ReadLatest(const WfsKeyNumber key[kWfsKeyNumbers], Digest *latest) {
    char httpBase[kUrlSize], ftpBase[kUrlSize];
    LoadBaseUrl(IDS_HTTP_BASE, httpBase, kDefaultHttpBase);
    LoadBaseUrl(IDS_FTP_BASE, ftpBase, kDefaultFtpBase);
    if (WfsInit(httpBase, ftpBase) < 0) {
        ShowError("Failed to initialize WFS download module", WfsLastError());
        return -1;
    }
    if (WfsFetchLatestWithKey(key, latest->word) < 0) {
        ShowError("Unable to check for updates", WfsLastError());
        return -1;
    }
    return 0;
}

const char kInvalidDescription[] = "Invalid setup description file";

// Keeps what the update needs of one line of the new description.
int32_t TakeLine(char *line, ProductLines *order) {
    char *argument = line[0] != '\0' ? line + 1 : line;
    if (TakeDirective(order, line[0]) != kOrderOk)
        return -1;
    switch (line[0]) {
        case 'T':
            newProduct = argument;
            return 0;
        case 'V':
            newVersion = argument;
            return 0;
        case 'L':
            if (licenceCount == kMaxLicences ||
                ParseLicenceLine(argument, &licences[licenceCount]) < 0)
                return -1;
            licenceCount++;
            return 0;
        case 'P':
            if (shortcutCount == kMaxShortcuts)
                return -1;
            shortcutLines[shortcutCount++] = argument;
            return 0;
        case 'I':
            if (fileCount == kMaxFiles || ParseInstallLine(argument, &files[fileCount]) < 0)
                return -1;
            if (strlen(files[fileCount].fileName) + sizeof kUpdateSuffix > kPathSize) {
                SetupError("Can't open file for writing", ErrorText(ERROR_FILENAME_EXCED_RANGE));
                return -2;
            }
            fileCount++;
            return 0;
        default:
            // F (the folder is the installed one), M and lines the
            // installer skips.
            return 0;
    }
}

int32_t ReadNewDescription(const Digest *latest) {
    int32_t n = WfsReadAll(latest, description, sizeof description);
    if (n < 0) {
        ShowError("Unable to read setup description file", WfsLastError());
        return -1;
    }
    if (n > kMaxDescriptionBytes) {
        ShowError(kInvalidDescription, nullptr);
        return -1;
    }
    description[n] = '\0';
    ProductLines order = {false, false};
    LineCursor cursor = {description, (uint32_t)n, 0};
    for (char *line = NextLine(&cursor); line != nullptr; line = NextLine(&cursor)) {
        int32_t status = TakeLine(line, &order);
        if (status == -1)
            ShowError(kInvalidDescription, nullptr);
        if (status < 0)
            return -1;
    }
    if (FinishDirectives(order) != kOrderOk) {
        ShowError(kInvalidDescription, nullptr);
        return -1;
    }
    return 0;
}

// A LATEST that names another product's description, or an older version
// of this one (a replayed old pointer), is refused. Versions that are not
// both dotted numbers cannot be ordered: the signed pointer decides.
int32_t CheckRelease(void) {
    char detail[kMessageSize];
    if (strcmp(newProduct, productName) != 0) {
        wsprintfA(detail, "the latest release is of %.200s", newProduct);
        ShowError("Unable to update", detail);
        return -1;
    }
    int order;
    if (CompareDottedVersions(newVersion, installedVersion, &order) == 0 && order < 0) {
        wsprintfA(detail, "the latest release, %.100s, is older than the installed %.100s",
                  newVersion, installedVersion);
        ShowError("Unable to update", detail);
        return -1;
    }
    return 0;
}

bool Ask(void) {
    if (withoutAsking)
        return true;
    char question[kMessageSize];
    wsprintfA(question, "Update %.94s %.100s to %.100s?", productName, installedVersion,
              newVersion);
    return MessageBoxA(nullptr, question, setupTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// Whether the user accepted that licence before: the updater carries the
// licences of the description it came with, which is the installed one (a
// release whose licences differ brings an updater of other bytes, which
// the update replaces along with the rest).
bool LicenceWasAccepted(const Digest *licence) {
    uint32_t size = 0;
    const unsigned char *names = OwnResource(UPDATE_LICENCES_NAME, &size);
    char name[kDigestNameLength + 1];
    DigestToName(licence, name);
    for (uint32_t at = 0; names != nullptr && size - at >= kDigestNameLength;
         at += kDigestNameLength)
        if (memcmp(names + at, name, kDigestNameLength) == 0)
            return true;
    return false;
}

// Shows each licence of the new description that the installed one did
// not have; -1 when one was declined or could not be read.
int32_t ShowChangedLicences(void) {
    for (uint32_t i = 0; i < licenceCount; i++)
        if (!LicenceWasAccepted(&licences[i]) && ShowLicence(&licences[i]) < 0)
            return -1;
    return 0;
}

void TemporaryPath(const char *fileName, char *path) {
    wsprintfA(path, "%s%s", fileName, kUpdateSuffix);
}

void RemoveTemporaries(void) {
    char path[kTemporaryPathSize];
    for (uint32_t i = 0; i < fileCount; i++) {
        TemporaryPath(files[i].fileName, path);
        DeleteFileA(path);  // most files have none
    }
}

// Which files the swap moves: those not already in place.
bool replaced[kMaxFiles];

// Brings every changed file into its temporary name; a verified one left by
// a killed run is used as it is. -1 after an error box (none after Cancel).
int32_t DownloadChanged(void) {
    char path[kTemporaryPathSize];
    for (uint32_t i = 0; i < fileCount; i++) {
        const InstallLine *line = &files[i];
        ShowInstallStatus(line->fileName);
        StatusWinSetProgress(0, (int32_t)line->size);
        TemporaryPath(line->fileName, path);
        replaced[i] = !IsFileInPlace(line);
        if (abortRequested)
            return -1;
        if (replaced[i] && !HasContents(path, line) && DownloadToFile(line, path) < 0)
            return -1;
        StatusWinSetProgress((int32_t)line->size, (int32_t)line->size);
    }
    return abortRequested ? -1 : 0;
}

bool IsRunningUpdater(const char *fileName) {
    char own[kPathSize], full[kPathSize];
    DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
    DWORD m = GetFullPathNameA(fileName, sizeof full, full, nullptr);
    return n != 0 && n < sizeof own && m != 0 && m < sizeof full && lstrcmpiA(own, full) == 0;
}

// Every old file to be replaced must be free: a program holding one open
// (the product running) would make the swap stop halfway.
int32_t CheckNotInUse(void) {
    for (uint32_t i = 0; i < fileCount; i++) {
        const char *name = files[i].fileName;
        if (!replaced[i] || GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES ||
            IsRunningUpdater(name) || CanReplaceFile(name))
            continue;
        char message[kMessageSize];
        wsprintfA(message, "Please close %s, then run the update again", productName);
        char detail[kMessageSize];
        wsprintfA(detail, "'%s' is in use", name);
        ShowError(message, detail);
        return -1;
    }
    return 0;
}

// Moves the verified temporary at path over the file name; the running
// updater's own file is renamed aside first, as Windows lets a running
// program's file be renamed but not overwritten. On failure the system's
// last error tells why.
bool MoveIntoPlace(const char *path, const char *name) {
    if (IsRunningUpdater(name)) {
        char aside[kTemporaryPathSize];
        wsprintfA(aside, "%s%s", name, kOldUpdaterSuffix);
        if (!MoveFileExA(name, aside, MOVEFILE_REPLACE_EXISTING))
            return false;
    }
    return MoveFileExA(path, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

int32_t Swap(void) {
    char path[kTemporaryPathSize];
    for (uint32_t i = 0; i < fileCount; i++) {
        const char *name = files[i].fileName;
        if (!replaced[i])
            continue;
        TemporaryPath(name, path);
        if (!MoveIntoPlace(path, name)) {
            const char *reason = LastErrorText();
            char message[kMessageSize];
            wsprintfA(message, "Can't replace file '%s'", name);
            ShowError(message, reason);
            return -1;
        }
    }
    return 0;
}

int32_t RefreshShortcuts(void) {
    for (uint32_t i = 0; i < shortcutCount; i++)
        if (RunShortcutStep(shortcutLines[i]) < 0)
            return -1;
    return 0;
}

int32_t SetStringValue(HKEY key, const char *name, const char *text) {
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
}

int32_t WriteRecord(const char *descriptionName) {
    char path[kRegistryKeySize];
    wsprintfA(path, "%s%s", kProductKeyPrefix, productName);
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        ShowError("Can't enter registry information", ErrorText(status));
        return -1;
    }
    status = SetStringValue(key, kRecordVersion, newVersion);
    if (status == ERROR_SUCCESS)
        status = SetStringValue(key, kRecordFolder, destinationFolder);
    if (status == ERROR_SUCCESS)
        status = SetStringValue(key, kRecordDescription, descriptionName);
    if (status != ERROR_SUCCESS)
        ShowError("Can't enter registry information", ErrorText(status));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : -1;
}

// From the question on: the update itself.
int RunUpdate(const char *latestName) {
    if (!Ask() || ShowChangedLicences() < 0)
        return kExitAvailable;
    if (DownloadChanged() < 0 || CheckNotInUse() < 0) {
        StatusWinClose();
        RemoveTemporaries();
        return kExitFailed;
    }
    // The status window stays open under the last box, as the installer's
    // does under its closing message.
    int code = kExitFailed;
    if (Swap() == 0 && RefreshShortcuts() == 0 && WriteRecord(latestName) == 0) {
        char text[kMessageSize];
        wsprintfA(text, "%.94s has been updated to %.100s.", productName, newVersion);
        Say(text, MB_ICONINFORMATION);
        code = kExitCurrent;
    }
    StatusWinClose();
    return code;
}

int Run(const char *commandLine) {
    ParseOptions(commandLine);
    WfsKeyNumber key[kWfsKeyNumbers];
    if (LoadProduct() < 0 || ReadRecord() < 0 || LoadKey(key) < 0)
        return kExitFailed;
    RemoveOldUpdater();
    Digest latest;
    if (ReadLatest(key, &latest) < 0)
        return kExitFailed;
    char latestName[kDigestNameLength + 1];
    DigestToName(&latest, latestName);
    if (strcmp(latestName, installedDescription) == 0) {
        char text[kMessageSize];
        wsprintfA(text, "%.94s %.100s is up to date.", productName, installedVersion);
        Say(text, MB_ICONINFORMATION);
        return kExitCurrent;
    }
    if (ReadNewDescription(&latest) < 0 || CheckRelease() < 0)
        return kExitFailed;
    if (quiet)
        return kExitAvailable;
    return RunUpdate(latestName);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    setupInstance = instance;
    // The shortcut step's shell link is a COM object.
    if (OleInitialize(nullptr) != S_OK) {
        SetupError("Failed to initialize OLE", LastErrorText());
        return kExitFailed;
    }
    int code = Run(commandLine);
    WfsShutdown();
    OleUninitialize();
    return code;
}
