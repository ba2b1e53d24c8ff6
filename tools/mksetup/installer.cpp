#include "tools/mksetup/installer.h"

#include <string.h>

#include "setup/rules.h"
#include "tools/mksetup/stringtable.h"
#include "tools/mksetup/platform.h"
#include "tools/mksetup/stub.h"
#include "wfs/digest.h"

namespace {

const uint32_t kCopyChunk = 1 << 20;

const ResourceKey kDirDialog = {0, u"" DIR_DIALOG_NAME};
const ResourceKey kStatusDialog = {0, u"" STATUS_DIALOG_NAME};

int32_t ReadResource(const Input &input, const Resource &r, std::vector<unsigned char> *data) {
    data->resize(r.size);
    return r.size == 0 ? 0 : ReadAt(input, r.offset, data->data(), r.size);
}

int32_t NotOurs(const std::string &path, const std::string &why) {
    return Fail("%s: not an installer made by mksetup (%s)", path.c_str(), why.c_str());
}

}  // namespace

Input StubInput(Arch arch) {
    Input input;
    input.path = std::string("the ") + ArchName(arch) + " installer stub";
    input.memory = arch == kArchX64 ? mksetupStubX64 : mksetupStubX86;
    input.size = (uint64_t)(arch == kArchX64 ? mksetupStubX64End - mksetupStubX64
                                             : mksetupStubX86End - mksetupStubX86);
    return input;
}

const Resource *FindResource(const Installer &installer, uint16_t type, const ResourceKey &name) {
    for (const Resource &r : installer.resources)
        if (r.type.text.empty() && r.type.id == type && r.name == name)
            return &r;
    return nullptr;
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
