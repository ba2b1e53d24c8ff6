#include "setup/shortcut.h"

#include <objbase.h>
#include <shlobj.h>
#include <string.h>
#include <windows.h>

#include "base/errtext.h"
#include "setup/description.h"
#include "setup/driver.h"
#include "setup/errbox.h"

namespace {

const char kShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

bool EndsWithBackslash(const char *text) {
    size_t length = strlen(text);
    return length != 0 && text[length - 1] == '\\';
}

// Appends a backslash when the text does not end with one (an empty text
// gets none), then tail. Returns -1 without change when it would not fit.
int32_t AppendPathPart(char *path, size_t size, const char *tail) {
    size_t length = strlen(path);
    bool separator = length != 0 && !EndsWithBackslash(path);
    size_t tailLength = strlen(tail);
    if (length + separator + tailLength + 1 > size)
        return -1;
    if (separator)
        path[length++] = '\\';
    memcpy(path + length, tail, tailLength + 1);
    return 0;
}

// Reads a string value of at most size - 1 bytes and terminates it; false
// when the value is missing, not a string, empty or too long.
bool QueryStringValue(HKEY key, const char *name, char *text, DWORD size) {
    DWORD type, length = size - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, (BYTE *)text, &length) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || length == 0)
        return false;
    text[length] = '\0';
    return text[0] != '\0';
}

// The Programs folder from the current user's Shell Folders, else the
// Windows directory's "Start Menu\Programs".
int32_t FindProgramsFolder(char *path, size_t linkNameLength) {
    UINT length = GetWindowsDirectoryA(path, kPathSize - 1);
    if (length == 0 || length >= kPathSize - 1) {
        SetupError("Can't find Windows directory", LastErrorText());
        return -1;
    }
    char programs[kPathSize];
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        // Leave room for a backslash, the link name and the terminator.
        DWORD room = linkNameLength + 2 < kPathSize ? (DWORD)(kPathSize - linkNameLength - 2) : 1;
        bool found = QueryStringValue(key, "Programs", programs, room + 1);
        RegCloseKey(key);
        if (found) {
            strcpy(path, programs);
            return 0;
        }
    }
    if (AppendPathPart(path, kPathSize, "Start Menu\\Programs") < 0) {
        SetupError("Can't find Windows directory", ErrorText(ERROR_FILENAME_EXCED_RANGE));
        return -1;
    }
    return 0;
}

int32_t SaveLink(const char *linkPath, const char *targetPath, const char *linkName) {
    IShellLinkA *link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  (void **)&link);
    if (FAILED(hr)) {
        SetupError("Can't create Start Menu shortcut", ErrorText(hr));
        return -1;
    }
    // Their results are not examined: a failure shows in the save below.
    link->SetPath(targetPath);
    link->SetWorkingDirectory(destinationFolder);
    link->SetDescription(linkName);

    IPersistFile *file;
    hr = link->QueryInterface(IID_IPersistFile, (void **)&file);
    if (FAILED(hr)) {
        link->Release();
        SetupError("ShellLink doesn't support IPersistFile interface!?", ErrorText(hr));
        return -1;
    }
    WCHAR widePath[kPathSize];
    if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, kPathSize) == 0)
        widePath[0] = L'\0';
    hr = file->Save(widePath, TRUE);
    link->Release();
    file->Release();
    if (FAILED(hr)) {
        SetupError("Can't create shortcut in Programs/Start Menu", ErrorText(hr));
        return -1;
    }
    return 0;
}

}  // namespace

int32_t RunShortcutStep(char *argument) {
    const char *linkName, *target;
    if (ParseShortcutLine(argument, &linkName, &target) < 0) {
        SetupError("Invalid setup description file", nullptr);
        return -1;
    }
    char linkPath[kPathSize], targetPath[kPathSize];
    if (FindProgramsFolder(linkPath, strlen(linkName)) < 0)
        return -1;
    strcpy(targetPath, destinationFolder);
    if (AppendPathPart(linkPath, kPathSize, linkName) < 0 ||
        AppendPathPart(targetPath, kPathSize, target) < 0) {
        SetupError("Can't create Start Menu shortcut", ErrorText(ERROR_FILENAME_EXCED_RANGE));
        return -1;
    }
    return SaveLink(linkPath, targetPath, linkName);
}
