// seturls INSTALLER HTTP-BASE FTP-BASE
//
// Points a built installer at other servers: rewrites string table entries
// 121 (HTTP base URL) and 122 (FTP base URL) in place, keeping the other
// entries of their block (123 names the setup description). A publisher
// builds one web installer and retargets copies of it per mirror.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// Entries 112 to 127 share string table block 8.
enum { kBlock = 121 / 16 + 1, kFirstEntry = (kBlock - 1) * 16, kHttpEntry = 121, kFtpEntry = 122 };

// mkinstaller writes the string table in the neutral language.
const WORD kLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

std::wstring Wide(const char *text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
    return wide;
}

// The block's sixteen strings as the installer holds them now.
bool ReadBlock(const char *path, std::wstring entries[16]) {
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return false;
    for (int i = 0; i < 16; i++) {
        const WCHAR *text = nullptr;
        // With a zero buffer size LoadStringW points at the text in place.
        int n = LoadStringW(module, kFirstEntry + i, (LPWSTR)&text, 0);
        if (n > 0 && text != nullptr)
            entries[i].assign(text, n);
    }
    FreeLibrary(module);
    return true;
}

std::vector<WORD> EncodeBlock(const std::wstring entries[16]) {
    std::vector<WORD> block;
    for (int i = 0; i < 16; i++) {
        block.push_back((WORD)entries[i].size());
        block.insert(block.end(), entries[i].begin(), entries[i].end());
    }
    return block;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: seturls INSTALLER HTTP-BASE FTP-BASE\n");
        return 64;
    }
    std::wstring entries[16];
    if (!ReadBlock(argv[1], entries)) {
        fprintf(stderr, "seturls: cannot read %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    entries[kHttpEntry - kFirstEntry] = Wide(argv[2]);
    entries[kFtpEntry - kFirstEntry] = Wide(argv[3]);
    std::vector<WORD> block = EncodeBlock(entries);

    HANDLE update = BeginUpdateResourceA(argv[1], FALSE);
    if (update == nullptr ||
        !UpdateResourceA(update, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(kBlock), kLanguage,
                         block.data(), (DWORD)(block.size() * sizeof(WORD))) ||
        !EndUpdateResourceA(update, FALSE)) {
        fprintf(stderr, "seturls: cannot update %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    return 0;
}
