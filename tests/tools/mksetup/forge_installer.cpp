// forge_installer IN OUT [--entry123 upper|short|long|none] [--tamper FILE]...
//                        [--tamper-description] [--description FILE]
//                        [--edit-description OLD NEW]
//
// Writes a copy of an installer made by mksetup that is wrong in one
// chosen way, for the end-to-end tests of the installer's own checks:
// string table entry 123 upper-cased, one character short, one too long or
// absent; a carried file (named by its contents' file) or the description
// carried with one byte changed; or another description carried as it is
// (the packager writes LF line ends; this carries CR LF ones too), or the
// carried one with its first OLD changed to NEW (a line the packager
// refuses, for the installer's own handling of it).
#include <ctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "tools/mksetup/installer.h"
#include "tools/mksetup/stringtable.h"
#include "tools/mksetup/platform.h"
#include "wfs/digest.h"
#include "wfs/sha1.h"

namespace {

std::string ReadFile(const std::string &path) {
    std::string bytes;
    FILE *file = OpenFile(path, "rb");
    if (file == nullptr)
        return "";
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, n);
    fclose(file);
    return bytes;
}

std::string DigestNameOf(const std::string &bytes) {
    Sha1Context context;
    Sha1Init(&context);
    Sha1Update(&context, bytes.data(), (uint32_t)bytes.size());
    Sha1Final(&context);
    Digest digest;
    DigestFromHash(&context, &digest);
    char name[kDigestNameLength + 1];
    DigestToName(&digest, name);
    return name;
}

// The installer's description as it carries it; empty when it has none.
std::string CarriedDescription(const Installer &installer, const std::string &entry) {
    for (const Resource &r : installer.resources) {
        std::string text(r.size, '\0');
        if (r.type.id == DATA_RESOURCE_TYPE && r.name == DigestResourceName(entry) &&
            ReadAt(installer.input, r.offset, &text[0], r.size) == 0)
            return text;
    }
    return "";
}

int Forge(int argc, char **argv) {
    if (argc < 3)
        return Fail("usage: forge_installer IN OUT [options]");
    Installer installer;
    if (OpenInstaller(argv[1], &installer) < 0)
        return -1;
    std::string &entry = installer.entries[kDescriptionEntry - kStringBlockFirst];
    std::vector<ResourceKey> tampered;
    std::string replacement;
    ResourceKey replaced = {0, {}};
    for (int i = 3; i < argc; i++) {
        std::string option = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--entry123" && value == "upper") {
            for (char &c : entry)
                c = (char)toupper((unsigned char)c);
        } else if (option == "--entry123" && value == "short") {
            entry.pop_back();
        } else if (option == "--entry123" && value == "long") {
            entry += '0';
        } else if (option == "--entry123" && value == "none") {
            entry.clear();
        } else if (option == "--tamper") {
            tampered.push_back(DigestResourceName(DigestNameOf(ReadFile(value))));
        } else if (option == "--description") {
            replacement = ReadFile(value);
            replaced = DigestResourceName(entry);
            entry = DigestNameOf(replacement);
        } else if (option == "--edit-description" && i + 2 < argc) {
            replacement = CarriedDescription(installer, entry);
            size_t at = replacement.find(value);
            if (at == std::string::npos)
                return Fail("%s: not in the description", value.c_str());
            replacement.replace(at, value.size(), argv[i + 2]);
            replaced = DigestResourceName(entry);
            entry = DigestNameOf(replacement);
            i++;
        } else if (option == "--tamper-description") {
            tampered.push_back(DigestResourceName(entry));
            continue;
        } else {
            return Fail("%s: unknown option", option.c_str());
        }
        i++;
    }
    std::vector<unsigned char> block = EncodeStringBlock(installer.entries);
    std::vector<Resource> layout = installer.resources;
    for (Resource &r : layout) {
        if (r.type.id == kRtString && r.name.id == kStringBlock)
            r.size = (uint32_t)block.size();
        if (r.type.id == DATA_RESOURCE_TYPE && !replaced.text.empty() && r.name == replaced) {
            r.size = (uint32_t)replacement.size();
            r.name = DigestResourceName(entry);
        }
    }
    ImageWriter writer;
    if (writer.Begin(installer.input, installer.image, layout,
                     installer.image.fileAlignment >= 4096, argv[2]) < 0)
        return -1;
    for (size_t i = 0; i < layout.size(); i++) {
        const Resource &r = installer.resources[i];
        std::vector<unsigned char> data(r.size);
        if (r.size != 0 && ReadAt(installer.input, r.offset, data.data(), r.size) < 0)
            return Fail("%s: cannot read", argv[1]);
        if (r.type.id == kRtString && r.name.id == kStringBlock)
            data = block;
        if (r.type.id == DATA_RESOURCE_TYPE && !replaced.text.empty() && r.name == replaced)
            data.assign(replacement.begin(), replacement.end());
        for (const ResourceKey &key : tampered)
            if (r.type.id == DATA_RESOURCE_TYPE && r.name == key && !data.empty())
                data.back() ^= 0x5A;
        if (writer.Write(data.data(), (uint32_t)data.size()) < 0 || writer.EndResource() < 0)
            return -1;
    }
    return writer.Finish();
}

}  // namespace

int main(int argc, char **argv) {
    return Forge(argc, argv) < 0 ? 1 : 0;
}
