#include "tools/mksetup/installer.h"

#include <inttypes.h>
#include <stdlib.h>
#include <string.h>

#include "setup/description.h"
#include "setup/rules.h"
#include "tools/mksetup/codepage.h"
#include "tools/mksetup/platform.h"
#include "tools/mksetup/stub.h"
#include "wfs/digest.h"

namespace {

const uint32_t kCopyChunk = 1 << 20;

const ResourceKey kDirDialog = {0, u"" DIR_DIALOG_NAME};
const ResourceKey kStatusDialog = {0, u"" STATUS_DIALOG_NAME};

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

const Resource *FindResource(const Installer &installer, uint16_t type, const ResourceKey &name) {
    for (const Resource &r : installer.resources)
        if (r.type.text.empty() && r.type.id == type && r.name == name)
            return &r;
    return nullptr;
}

int32_t ReadResource(const Input &input, const Resource &r, std::vector<unsigned char> *data) {
    data->resize(r.size);
    return r.size == 0 ? 0 : ReadAt(input, r.offset, data->data(), r.size);
}

int32_t NotOurs(const std::string &path, const std::string &why) {
    return Fail("%s: not an installer made by mksetup (%s)", path.c_str(), why.c_str());
}

}  // namespace

int32_t CheckBaseUrl(const char *option, const std::string &url, const char *scheme) {
    const char *form =
        strcmp(scheme, "http") == 0 ? "http://host[:port]/path/" : "ftp://host[:port]/path/";
    std::string prefix = std::string(scheme) + "://";
    if (url.size() > kWfsMaxBaseUrl)
        return Fail("%s %s: %zu characters; the installer takes at most %d", option, url.c_str(),
                    url.size(), (int)kWfsMaxBaseUrl);
    if (url.compare(0, prefix.size(), prefix) != 0)
        return Fail("%s %s: not of the form %s", option, url.c_str(), form);
    size_t at = prefix.size(), host = at;
    while (at < url.size() && IsHostCharacter(url[at]))
        at++;
    bool hostOk = at > host;
    if (hostOk && at < url.size() && url[at] == ':') {
        size_t digits = ++at;
        while (at < url.size() && url[at] >= '0' && url[at] <= '9')
            at++;
        hostOk = at > digits && at - digits <= 5 && atoi(url.c_str() + digits) >= 1 &&
                 atoi(url.c_str() + digits) <= 65535;
    }
    if (!hostOk || at >= url.size() || url[at] != '/')
        return Fail("%s %s: not of the form %s", option, url.c_str(), form);
    for (; at < url.size(); at++)
        if ((unsigned char)url[at] <= ' ' || (unsigned char)url[at] >= 0x7F || url[at] == '?' ||
            url[at] == '#')
            return Fail("%s %s: a base URL holds no blanks, '?', '#' or non-ASCII characters",
                        option, url.c_str());
    if (url.back() != '/')
        return Fail("%s %s: a base URL must end in '/' (the digest name is appended to it)", option,
                    url.c_str());
    return 0;
}

Input StubInput(Arch arch) {
    Input input;
    input.path = std::string("the ") + ArchName(arch) + " installer stub";
    input.memory = arch == kArchX64 ? mksetupStubX64 : mksetupStubX86;
    input.size = (uint64_t)(arch == kArchX64 ? mksetupStubX64End - mksetupStubX64
                                             : mksetupStubX86End - mksetupStubX86);
    return input;
}

Installer::~Installer() {
    if (input.file != nullptr)
        fclose(input.file);
}

int32_t OpenInstaller(const std::string &path, Installer *installer) {
    uint64_t size = 0;
    FileKind kind = StatPath(path, &size);
    if (kind != kRegularFile)
        return Fail("%s: %s", path.c_str(),
                    kind == kFolder        ? "is a folder"
                    : kind == kOtherFile   ? "is not a regular file"
                    : kind == kUnknownFile ? LastSystemError().c_str()
                                           : "no such file");
    installer->input.path = path;
    installer->input.size = size;
    installer->input.file = OpenFile(path, "rb");
    if (installer->input.file == nullptr)
        return Fail("%s: cannot open: %s", path.c_str(), LastSystemError().c_str());
    std::string why;
    if (ReadPeImage(installer->input, &installer->image, &why) < 0 ||
        ReadResources(installer->input, installer->image, &installer->resources, &why) < 0)
        return NotOurs(path, why);
    if (FindResource(*installer, kRtDialog, kDirDialog) == nullptr ||
        FindResource(*installer, kRtDialog, kStatusDialog) == nullptr)
        return NotOurs(path, "it lacks the installer's dialogs");
    const Resource *block = FindResource(*installer, kRtString, {kStringBlock, {}});
    std::vector<unsigned char> data;
    if (block == nullptr || ReadResource(installer->input, *block, &data) < 0 ||
        DecodeStringBlock(data, installer->entries) < 0)
        return NotOurs(path, "it has no string table naming its description");
    const std::string &name = installer->entries[kDescriptionEntry - kStringBlockFirst];
    Digest digest;
    const Resource *description =
        name.size() == kDigestNameLength && NameToDigest(name.c_str(), &digest) == 0
            ? FindResource(*installer, DATA_RESOURCE_TYPE, DigestResourceName(name))
            : nullptr;
    if (description == nullptr || description->size > kMaxDescriptionBytes ||
        ReadResource(installer->input, *description, &data) < 0)
        return NotOurs(path, "it carries no description");
    installer->description.assign(data.begin(), data.end());
    return 0;
}

std::vector<unsigned char> EncodeStringBlock(const std::string entries[16]) {
    std::vector<unsigned char> data;
    for (int i = 0; i < 16; i++) {
        std::u16string text = AsciiToUtf16(entries[i]);
        unsigned char unit[2];
        SetLe16(unit, (uint16_t)text.size());
        data.insert(data.end(), unit, unit + 2);
        for (char16_t c : text) {
            SetLe16(unit, c);
            data.insert(data.end(), unit, unit + 2);
        }
    }
    return data;
}

int32_t DecodeStringBlock(const std::vector<unsigned char> &data, std::string entries[16]) {
    size_t at = 0;
    for (int i = 0; i < 16; i++) {
        if (at + 2 > data.size())
            return -1;
        size_t length = GetLe16(&data[at]);
        at += 2;
        if (at + 2 * length > data.size())
            return -1;
        entries[i].clear();
        for (size_t k = 0; k < length; k++, at += 2) {
            uint16_t c = GetLe16(&data[at]);
            entries[i] += c < 0x80 ? (char)c : '?';
        }
    }
    return 0;
}

ResourceKey DigestResourceName(const std::string &digestName) {
    ResourceKey key = {0, {}};
    for (char c : digestName)
        key.text += (char16_t)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return key;
}

int32_t CopyResource(const Input &input, const Resource &resource, ImageWriter *writer) {
    std::vector<unsigned char> chunk(kCopyChunk);
    for (uint32_t done = 0; done < resource.size;) {
        uint32_t n = resource.size - done < kCopyChunk ? resource.size - done : kCopyChunk;
        if (ReadAt(input, resource.offset + done, chunk.data(), n) < 0)
            return Fail("%s: cannot read", input.path.c_str());
        if (writer->Write(chunk.data(), n) < 0)
            return -1;
        done += n;
    }
    return writer->EndResource();
}

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

const char kListUsage[] = "usage: mksetup list INSTALLER [--codepage N]";

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
