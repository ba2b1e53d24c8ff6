#include "tools/mksetup/listing.h"

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>

#include "setup/description.h"
#include "tools/mksetup/codepage.h"
#include "tools/mksetup/commands.h"
#include "tools/mksetup/platform.h"
#include "tools/mksetup/stringtable.h"
#include "wfs/digest.h"

void PrintListing(const Installer &installer, int codePage) {
    const std::string &http = installer.entries[kHttpEntry - kStringBlockFirst];
    const std::string &ftp = installer.entries[kFtpEntry - kStringBlockFirst];
    printf("Windows: %s\n",
           installer.image.arch == kArchX64 ? "x64 (64-bit, PE32+)" : "x86 (32-bit, PE32)");
    printf("HTTP base URL: %s\n", http.empty() ? "(built-in default)" : http.c_str());
    printf("FTP base URL: %s\n", ftp.empty() ? "(built-in default)" : ftp.c_str());
    // Carried, or empty (the installer needs no source for it), or to be
    // downloaded.
    auto where = [&](const std::string &name, uint32_t *size) {
        const Resource *r = FindResource(installer, DATA_RESOURCE_TYPE, DigestResourceName(name));
        if (r != nullptr && r->size != 0) {
            *size = r->size;
            return "carried";
        }
        Digest digest;
        NameToDigest(name.c_str(), &digest);
        return DigestEqual(&digest, &kEmptyDigest) ? "empty" : "download";
    };
    const std::string &descriptionName = installer.entries[kDescriptionEntry - kStringBlockFirst];
    printf("description %s %zu carried\n", descriptionName.c_str(), installer.description.size());
    std::string text = installer.description;
    LineCursor cursor = {&text[0], (uint32_t)text.size(), 0};
    for (char *line = NextLine(&cursor); line != nullptr; line = NextLine(&cursor)) {
        Digest digest;
        InstallLine install;
        if (line[0] == 'L' && ParseLicenceLine(line + 1, &digest) == 0) {
            uint32_t size = (uint32_t)strtoul(line + 1 + kDigestNameLength + 1, nullptr, 10);
            const char *from = where(line + 1, &size);
            printf("licence %s %" PRIu32 " %s\n", line + 1, size, from);
        } else if (line[0] == 'I' && ParseInstallLine(line + 1, &install) == 0) {
            std::string name(line + 1, kDigestNameLength);
            uint32_t size = install.size;
            const char *from = where(name, &size);
            printf("file %s %" PRIu32 " %s %s\n", name.c_str(), size, from,
                   TextToUtf8(install.fileName, codePage).c_str());
        }
    }
}

namespace {

const char kListUsage[] = "usage: mksetup list INSTALLER [--codepage N]";

}  // namespace

int RunList(int argc, char **argv) {
    const char *path = nullptr;
    int codePage = 1252;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--codepage" && i + 1 < argc) {
            std::string value = argv[++i];
            codePage = atoi(value.c_str());
            if (!IsKnownCodePage(codePage) || std::to_string(codePage) != value) {
                Fail("--codepage %s: unknown code page (%s are known)", value.c_str(),
                     KnownCodePages().c_str());
                return 2;
            }
        } else if (arg[0] != '-' && path == nullptr) {
            path = argv[i];
        } else {
            Fail("%s: unknown option or missing value\n%s", argv[i], kListUsage);
            return 2;
        }
    }
    if (path == nullptr) {
        Fail("%s", kListUsage);
        return 2;
    }
    Installer installer;
    if (OpenInstaller(path, &installer) < 0)
        return 1;
    PrintListing(installer, codePage);
    return 0;
}
