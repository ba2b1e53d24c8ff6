#include "setup/folder.h"

#include <shlobj.h>
#include <string.h>
#include <windows.h>

#include "base/errtext.h"
#include "base/resids.h"
#include "setup/driver.h"
#include "setup/errbox.h"
#include "setup/rules.h"

namespace {

// The proposal: the current user's "ProgramFilesDir" (else the default),
// a backslash and the folder name. A name that cannot fit is refused.
int32_t ProposeFolder(const char *folderName) {
    size_t nameLength = strlen(folderName);
    // Room for the Program Files path, a backslash, the name and the zero.
    if (nameLength > kMaxFolderName) {
        SetupError("Unable to create destination directory", ErrorText(ERROR_FILENAME_EXCED_RANGE));
        return -1;
    }
    strcpy(destinationFolder, kDefaultProgramFiles);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        char value[kPathSize];
        DWORD type, length = (DWORD)(kPathSize - 2 - nameLength);
        if (RegQueryValueExA(key, "ProgramFilesDir", nullptr, &type, (BYTE *)value, &length) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            // The value need not end with a zero byte; cut it where it ends.
            value[length] = '\0';
            strcpy(destinationFolder, value);
        }
        RegCloseKey(key);
    }
    size_t length = strlen(destinationFolder);
    destinationFolder[length] = '\\';
    memcpy(destinationFolder + length + 1, folderName, nameLength + 1);
    return 0;
}

void Browse(HWND dialog) {
    BROWSEINFOA info = {};
    info.hwndOwner = dialog;
    info.lpszTitle = "Select Folder for Kestrin";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (chosen == nullptr)
        return;
    char path[MAX_PATH];
    if (SHGetPathFromIDListA(chosen, path) && strlen(path) < kPathSize) {
        strcpy(destinationFolder, path);
        SetDlgItemTextA(dialog, IDC_FOLDER_FIELD, destinationFolder);
    }
    CoTaskMemFree(chosen);
}

INT_PTR CALLBACK FolderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetDlgItemTextA(dialog, IDC_FOLDER_FIELD, destinationFolder);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    GetDlgItemTextA(dialog, IDC_FOLDER_FIELD, destinationFolder, kPathSize - 1);
                    EndDialog(dialog, 0);
                    break;
                case IDCANCEL:
                    EndDialog(dialog, -1);
                    break;
                case IDC_BROWSE:
                    Browse(dialog);
                    break;
            }
            return TRUE;
    }
    return FALSE;
}

int32_t CreateOneDirectory(const char *path) {
    if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        SetupError("Unable to create destination directory", LastErrorText());
        return -1;
    }
    return 0;
}

// Creates every parent of the folder, then the folder. A separator right
// after a drive name ("C:\") is passed over; every other separator after
// which a parent was created becomes a backslash.
int32_t CreateFolderWithParents(char *folder) {
    for (char *p = folder; (p = strpbrk(p, "\\/")) != nullptr; p++) {
        if (p != folder && p[-1] == ':')
            continue;
        *p = '\0';
        int32_t status = CreateOneDirectory(folder);
        *p = '\\';
        if (status < 0)
            return -1;
    }
    return CreateOneDirectory(folder);
}

}  // namespace

int32_t RunFolderStep(char *argument) {
    if (ProposeFolder(argument) < 0)
        return -1;
    if (DialogBoxParamA(setupInstance, DIR_DIALOG_NAME, nullptr, FolderDialogProc, 0) != 0)
        return -1;
    if (CreateFolderWithParents(destinationFolder) < 0)
        return -1;
    if (!SetCurrentDirectoryA(destinationFolder)) {
        SetupError("Unable to change to installation directory", LastErrorText());
        return -1;
    }
    return 0;
}
