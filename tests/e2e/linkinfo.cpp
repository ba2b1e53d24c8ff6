// Prints what a shell link holds, one field a line: target path, working
// directory, description. Test code, used to check the installer's shortcut.
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <windows.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: linkinfo FILE.lnk\n");
        return 64;
    }
    CoInitialize(nullptr);
    IShellLinkA *link = nullptr;
    IPersistFile *file = nullptr;
    WCHAR path[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH);
    int status = 1;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   (void **)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) &&
        SUCCEEDED(file->Load(path, STGM_READ))) {
        char target[MAX_PATH] = "", directory[MAX_PATH] = "", description[MAX_PATH] = "";
        link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetWorkingDirectory(directory, MAX_PATH);
        link->GetDescription(description, MAX_PATH);
        printf("%s\n%s\n%s\n", target, directory, description);
        status = 0;
    }
    if (file != nullptr)
        file->Release();
    if (link != nullptr)
        link->Release();
    CoUninitialize();
    return status;
}
