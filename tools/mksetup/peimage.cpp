#include "tools/mksetup/peimage.h"

#include <string.h>

#include <algorithm>

#include "tools/mksetup/platform.h"

namespace {

enum {
    kMaxHeaders = 64 * 1024,
    kMaxResources = 100000,
    kDataDirectoryCount = 16,
};

// What sets the two formats apart: the COFF header's machine, the optional
// header's magic and where in it the data directories start.
struct Format {
    Arch arch;
    uint16_t machine;
    uint16_t magic;
    uint32_t dataDirectories;
};

const Format kFormats[] = {
    {kArchX86, 0x14C, 0x10B, 96},
    {kArchX64, 0x8664, 0x20B, 112},
};

// Directory entries with this bit point to a subdirectory or a name text.
const uint32_t kHighBit = 0x80000000u;

struct TreeReader {
    const Input &input;
    uint64_t rootOffset;  // file offset of the resource directory
    uint32_t rootRva;
    const Section &section;
    std::vector<Resource> *resources;
    std::string *why;
};

int32_t ReadName(const TreeReader &tree, uint32_t offset, std::u16string *text) {
    unsigned char length[2];
    if (ReadAt(tree.input, tree.rootOffset + offset, length, 2) < 0)
        return -1;
    std::vector<unsigned char> bytes(2 * GetLe16(length));
    if (!bytes.empty() &&
        ReadAt(tree.input, tree.rootOffset + offset + 2, bytes.data(), (uint32_t)bytes.size()) < 0)
        return -1;
    text->clear();
    for (size_t i = 0; i < bytes.size(); i += 2)
        text->push_back(GetLe16(&bytes[i]));
    return 0;
}

int32_t ReadDataEntry(const TreeReader &tree, uint32_t offset, Resource *resource) {
    unsigned char entry[16];
    if (ReadAt(tree.input, tree.rootOffset + offset, entry, sizeof entry) < 0)
        return -1;
    uint32_t rva = GetLe32(entry), size = GetLe32(entry + 4);
    const Section &s = tree.section;
    if (rva < s.virtualAddress || rva - s.virtualAddress > s.rawSize ||
        size > s.rawSize - (rva - s.virtualAddress))
        return -1;
    resource->size = size;
    resource->offset = s.rawOffset + (uint64_t)(rva - s.virtualAddress);
    return 0;
}

// Reads the directory at offset, level 0 (types), 1 (names) or 2
// (languages), and everything below it.
int32_t ReadDirectory(const TreeReader &tree, uint32_t offset, int level, Resource *path) {
    unsigned char header[16];
    if (ReadAt(tree.input, tree.rootOffset + offset, header, sizeof header) < 0)
        return -1;
    uint32_t count = (uint32_t)GetLe16(header + 12) + GetLe16(header + 14);
    if (count > kMaxResources)
        return -1;
    std::vector<unsigned char> entries(8 * (size_t)count);
    if (count != 0 &&
        ReadAt(tree.input, tree.rootOffset + offset + 16, entries.data(), 8 * count) < 0)
        return -1;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t name = GetLe32(&entries[8 * i]), target = GetLe32(&entries[8 * i + 4]);
        ResourceKey key = {0, {}};
        if (name & kHighBit) {
            if (ReadName(tree, name & ~kHighBit, &key.text) < 0)
                return -1;
        } else {
            key.id = (uint16_t)name;
        }
        bool isDirectory = (target & kHighBit) != 0;
        if (isDirectory != (level < 2) || (target & ~kHighBit) <= offset)
            return -1;  // a tree of other depth, or a loop
        if (level == 0)
            path->type = key;
        else if (level == 1)
            path->name = key;
        else
            path->language = key.id;
        if (level < 2) {
            if (ReadDirectory(tree, target & ~kHighBit, level + 1, path) < 0)
                return -1;
        } else {
            if (ReadDataEntry(tree, target, path) < 0 || tree.resources->size() >= kMaxResources)
                return -1;
            tree.resources->push_back(*path);
        }
    }
    return 0;
}

}  // namespace

uint16_t GetLe16(const unsigned char *p) {
    return (uint16_t)(p[0] | p[1] << 8);
}

uint32_t GetLe32(const unsigned char *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

const char *ArchName(Arch arch) {
    return arch == kArchX64 ? "x64" : "x86";
}

void SetLe16(unsigned char *p, uint16_t value) {
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
}

void SetLe32(unsigned char *p, uint32_t value) {
    for (int i = 0; i < 4; i++)
        p[i] = (unsigned char)(value >> (8 * i));
}

int32_t ReadAt(const Input &input, uint64_t offset, void *buffer, uint32_t count) {
    if (offset > input.size || count > input.size - offset)
        return -1;
    if (input.memory != nullptr) {
        memcpy(buffer, input.memory + offset, count);
        return 0;
    }
    if (SeekFile(input.file, offset) != 0 || fread(buffer, 1, count, input.file) != count)
        return -1;
    return 0;
}

bool operator<(const ResourceKey &a, const ResourceKey &b) {
    // Named entries come before numbered ones, each group in ascending order,
    // as the loader's search of a directory expects.
    if (a.text.empty() != b.text.empty())
        return !a.text.empty();
    return a.text.empty() ? a.id < b.id : a.text < b.text;
}

bool operator==(const ResourceKey &a, const ResourceKey &b) {
    return a.id == b.id && a.text == b.text;
}

int32_t ReadPeImage(const Input &input, PeImage *image, std::string *why) {
    unsigned char dos[64];
    if (ReadAt(input, 0, dos, sizeof dos) < 0 || dos[0] != 'M' || dos[1] != 'Z') {
        *why = "not a Windows executable";
        return -1;
    }
    uint32_t pe = GetLe32(dos + 60);
    unsigned char coff[24];
    if (pe > kMaxHeaders || ReadAt(input, pe, coff, sizeof coff) < 0 ||
        memcmp(coff, "PE\0\0", 4) != 0) {
        *why = "not a Windows executable";
        return -1;
    }
    uint16_t sectionCount = GetLe16(coff + 6), optionalSize = GetLe16(coff + 20);
    image->optionalHeader = pe + 24;
    image->sectionTable = image->optionalHeader + optionalSize;
    uint32_t tableEnd = image->sectionTable + kSectionHeaderSize * sectionCount;
    unsigned char magic[2];
    const Format *format = nullptr;
    if (ReadAt(input, image->optionalHeader, magic, 2) == 0)
        for (const Format &f : kFormats)
            if (GetLe16(coff + 4) == f.machine && GetLe16(magic) == f.magic)
                format = &f;
    if (format == nullptr || optionalSize < format->dataDirectories + 8 * kDataDirectoryCount ||
        sectionCount == 0 || tableEnd > kMaxHeaders) {
        *why = "not a Windows executable for x86 (PE32) or x64 (PE32+)";
        return -1;
    }
    image->arch = format->arch;
    image->dataDirectories = image->optionalHeader + format->dataDirectories;
    image->headers.resize(tableEnd);
    if (ReadAt(input, 0, image->headers.data(), tableEnd) < 0) {
        *why = "truncated headers";
        return -1;
    }
    const unsigned char *opt = &image->headers[image->optionalHeader];
    uint32_t headersSize = GetLe32(opt + kOptSizeOfHeaders);
    if (headersSize < tableEnd || headersSize > kMaxHeaders) {
        *why = "damaged headers";
        return -1;
    }
    image->headers.resize(headersSize);
    if (ReadAt(input, 0, image->headers.data(), headersSize) < 0) {
        *why = "truncated headers";
        return -1;
    }
    opt = &image->headers[image->optionalHeader];
    image->sectionAlignment = GetLe32(opt + kOptSectionAlignment);
    image->fileAlignment = GetLe32(opt + kOptFileAlignment);
    const unsigned char *directories = &image->headers[image->dataDirectories];
    image->certificateOffset = GetLe32(directories + kCertificateDirectory);
    image->certificateSize = GetLe32(directories + kCertificateDirectory + 4);
    image->sections.clear();
    for (uint16_t i = 0; i < sectionCount; i++) {
        const unsigned char *h = &image->headers[image->sectionTable + kSectionHeaderSize * i];
        Section s = {GetLe32(h + 8), GetLe32(h + 12), GetLe32(h + 16), GetLe32(h + 20)};
        if (s.rawSize != 0 && (uint64_t)s.rawOffset + s.rawSize > input.size) {
            *why = "truncated section";
            return -1;
        }
        image->sections.push_back(s);
    }
    const Section &last = image->sections.back();
    uint32_t resourceRva = GetLe32(directories + kResourceDirectory);
    if (resourceRva < last.virtualAddress || resourceRva - last.virtualAddress >= last.rawSize) {
        *why = "its resources are not in its last section";
        return -1;
    }
    return 0;
}

int32_t ReadResources(const Input &input, const PeImage &image, std::vector<Resource> *resources,
                      std::string *why) {
    const Section &last = image.sections.back();
    uint32_t rootRva = GetLe32(&image.headers[image.dataDirectories + kResourceDirectory]);
    TreeReader tree = {input,     last.rawOffset + (uint64_t)(rootRva - last.virtualAddress),
                       rootRva,   last,
                       resources, why};
    resources->clear();
    Resource path = {};
    if (ReadDirectory(tree, 0, 0, &path) < 0) {
        *why = "damaged resources";
        return -1;
    }
    std::stable_sort(resources->begin(), resources->end(),
                     [](const Resource &a, const Resource &b) { return a.offset < b.offset; });
    return 0;
}
