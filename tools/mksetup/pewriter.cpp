#include "tools/mksetup/pewriter.h"

#include <string.h>

#include <algorithm>
#include <map>

#include "tools/mksetup/platform.h"

namespace {

enum {
    kPage = 4096,
    kDataAlignment = 8,
    kScnInitializedData = 0x40,
    kCopyChunk = 64 * 1024,
};

// An image must stay within what a 32-bit process can map; Windows maps no
// larger one for a 64-bit process either.
const uint64_t kMaxImage = 0x7FFFFFFFu;

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Adds bytes written at position to the PE checksum: the ones'-complement
// sum of the file's 16-bit little-endian words. Sums are kept modulo
// 0xFFFF, where 2^16 is 1, so four bytes at a time may be added as one
// 32-bit number; only a byte's parity of position matters.
void AddToChecksum(uint64_t *sum, uint64_t position, const unsigned char *p, size_t n) {
    if (n != 0 && (position & 1)) {
        *sum += (uint32_t)p[0] << 8;
        p++;
        n--;
    }
    uint64_t s = 0;
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        s += GetLe32(p + i);
    for (; i < n; i++)
        s += (uint32_t)p[i] << (8 * (i & 1));
    *sum += s;
}

uint32_t FoldChecksum(uint64_t sum) {
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)sum;
}

// The resource directory: three levels of tables (type, name, language),
// then the name texts, then the data entries; offsets are from its start.
struct Tree {
    // type -> name -> language -> index in the resource list
    std::map<ResourceKey, std::map<ResourceKey, std::map<uint16_t, size_t>>> types;
};

Tree MakeTree(const std::vector<Resource> &resources) {
    Tree tree;
    for (size_t i = 0; i < resources.size(); i++) {
        const Resource &r = resources[i];
        tree.types[r.type][r.name].emplace(r.language, i);  // the first one wins
    }
    return tree;
}

void PutDirectoryHeader(std::vector<unsigned char> *out, size_t at, uint16_t named,
                        uint16_t numbered) {
    SetLe16(&(*out)[at + 12], named);
    SetLe16(&(*out)[at + 14], numbered);
}

template <typename Map>
void CountKinds(const Map &map, uint16_t *named, uint16_t *numbered) {
    *named = *numbered = 0;
    for (const auto &entry : map)
        (entry.first.text.empty() ? *numbered : *named) += 1;
}

// Builds the directory for resources whose data lie at dataRvas.
std::vector<unsigned char> BuildDirectory(const std::vector<Resource> &resources,
                                          const std::vector<uint32_t> &dataRvas) {
    Tree tree = MakeTree(resources);
    // Sizes of the three levels of tables, then texts, then data entries.
    size_t tables = 16 + 8 * tree.types.size(), texts = 0, leaves = 0;
    for (const auto &type : tree.types) {
        tables += 16 + 8 * type.second.size();
        texts += type.first.text.empty() ? 0 : 2 + 2 * type.first.text.size();
        for (const auto &name : type.second) {
            tables += 16 + 8 * name.second.size();
            texts += name.first.text.empty() ? 0 : 2 + 2 * name.first.text.size();
            leaves += name.second.size();
        }
    }
    size_t textStart = tables, leafStart = AlignUp(tables + texts, 4);
    std::vector<unsigned char> out(leafStart + 16 * leaves, 0);
    size_t nextTable = 0, nextText = textStart, nextLeaf = leafStart;

    auto putKey = [&](size_t entry, const ResourceKey &key) {
        if (key.text.empty()) {
            SetLe32(&out[entry], key.id);
            return;
        }
        SetLe32(&out[entry], 0x80000000u | (uint32_t)nextText);
        SetLe16(&out[nextText], (uint16_t)key.text.size());
        for (size_t i = 0; i < key.text.size(); i++)
            SetLe16(&out[nextText + 2 + 2 * i], key.text[i]);
        nextText += 2 + 2 * key.text.size();
    };
    auto newTable = [&](size_t count) {
        size_t at = nextTable;
        nextTable += 16 + 8 * count;
        return at;
    };

    // Tables are laid out level by level: the root, every type's table,
    // then every name's table.
    uint16_t named, numbered;
    size_t root = newTable(tree.types.size());
    CountKinds(tree.types, &named, &numbered);
    PutDirectoryHeader(&out, root, named, numbered);
    std::vector<size_t> typeTables;
    size_t entry = root + 16;
    for (const auto &type : tree.types) {
        size_t table = newTable(type.second.size());
        putKey(entry, type.first);
        SetLe32(&out[entry + 4], 0x80000000u | (uint32_t)table);
        CountKinds(type.second, &named, &numbered);
        PutDirectoryHeader(&out, table, named, numbered);
        typeTables.push_back(table);
        entry += 8;
    }
    size_t t = 0;
    for (const auto &type : tree.types) {
        entry = typeTables[t++] + 16;
        for (const auto &name : type.second) {
            size_t table = newTable(name.second.size());
            putKey(entry, name.first);
            SetLe32(&out[entry + 4], 0x80000000u | (uint32_t)table);
            PutDirectoryHeader(&out, table, 0, (uint16_t)name.second.size());
            size_t languageEntry = table + 16;
            for (const auto &language : name.second) {
                SetLe32(&out[languageEntry], language.first);
                SetLe32(&out[languageEntry + 4], (uint32_t)nextLeaf);
                SetLe32(&out[nextLeaf], dataRvas[language.second]);
                SetLe32(&out[nextLeaf + 4], resources[language.second].size);
                nextLeaf += 16;
                languageEntry += 8;
            }
            entry += 8;
        }
    }
    return out;
}

}  // namespace

ImageWriter::~ImageWriter() {
    Abandon();
}

int32_t ImageWriter::WriteOut(const void *data, size_t count) {
    if (count == 0)
        return 0;
    if (Interrupted())
        return Fail("%s: interrupted; nothing written", path_.c_str());
    if (position_ + count > kMaxImage)
        return Fail("%s: the installer would exceed 2 GiB; carry fewer payloads", path_.c_str());
    if (fwrite(data, 1, count, file_) != count)
        return Fail("%s: cannot write: %s", path_.c_str(), LastSystemError().c_str());
    AddToChecksum(&sum_, position_, (const unsigned char *)data, count);
    position_ += count;
    return 0;
}

int32_t ImageWriter::Pad(uint64_t alignment) {
    static const unsigned char zeros[kPage] = {};
    uint64_t target = AlignUp(position_, alignment);
    while (position_ < target)
        if (WriteOut(zeros, (size_t)std::min<uint64_t>(target - position_, sizeof zeros)) < 0)
            return -1;
    return 0;
}

int32_t ImageWriter::CopySections(const Input &base) {
    std::vector<unsigned char> chunk(kCopyChunk);
    for (size_t i = 0; i + 1 < image_.sections.size(); i++) {
        Section &s = image_.sections[i];
        if (s.rawSize == 0)
            continue;
        uint64_t from = s.rawOffset;
        s.rawOffset = (uint32_t)position_;
        for (uint32_t done = 0; done < s.rawSize;) {
            uint32_t n = std::min<uint32_t>(s.rawSize - done, kCopyChunk);
            if (ReadAt(base, from + done, chunk.data(), n) < 0)
                return Fail("%s: cannot read", base.path.c_str());
            if (WriteOut(chunk.data(), n) < 0)
                return -1;
            done += n;
        }
        if (Pad(fileAlignment_) < 0)
            return -1;
        s.rawSize = (uint32_t)AlignUp(s.rawSize, fileAlignment_);
    }
    return 0;
}

int32_t ImageWriter::Begin(const Input &base, const PeImage &image,
                           const std::vector<Resource> &layout, bool pageAligned,
                           const std::string &path) {
    image_ = image;
    resources_ = layout;
    path_ = path;
    temporary_ = path + ".part";
    fileAlignment_ =
        pageAligned && image.sectionAlignment >= kPage ? (uint32_t)kPage : image.fileAlignment;
    file_ = OpenFile(temporary_, "wb");
    if (file_ == nullptr)
        return Fail("%s: cannot create: %s", path_.c_str(), LastSystemError().c_str());
    // The headers are written last, once every size is known.
    uint64_t headersSize = AlignUp(image.headers.size(), fileAlignment_);
    if (SeekFile(file_, headersSize) != 0)
        return Fail("%s: cannot write: %s", path_.c_str(), LastSystemError().c_str());
    position_ = headersSize;
    if (CopySections(base) < 0)
        return -1;
    resourceStart_ = position_;
    dataRvas_.assign(resources_.size(), 0);
    directoryRoom_ =
        (uint32_t)AlignUp(BuildDirectory(resources_, dataRvas_).size(), kDataAlignment);
    std::vector<unsigned char> room(directoryRoom_, 0);
    if (WriteOut(room.data(), room.size()) < 0)
        return -1;
    current_ = 0;
    written_ = 0;
    return 0;
}

int32_t ImageWriter::Write(const void *data, uint32_t count) {
    if (count > resources_[current_].size - written_)
        return Fail("%s: a resource's data is longer than announced", path_.c_str());
    written_ += count;
    return WriteOut(data, count);
}

int32_t ImageWriter::EndResource() {
    Resource &r = resources_[current_];
    if (written_ != r.size)
        return Fail("%s: a resource's data ended early", path_.c_str());
    const Section &last = image_.sections.back();
    dataRvas_[current_] = last.virtualAddress + (uint32_t)(position_ - written_ - resourceStart_);
    current_++;
    written_ = 0;
    return Pad(kDataAlignment);
}

void ImageWriter::SetName(size_t index, const ResourceKey &name) {
    resources_[index].name = name;
}

int32_t ImageWriter::Finish() {
    std::vector<unsigned char> directory = BuildDirectory(resources_, dataRvas_);
    if (current_ != resources_.size() || directory.size() > directoryRoom_)
        return Fail("%s: resources do not match their layout", path_.c_str());
    // Common PE dumpers stop walking the directory at the first resource
    // whose data ends at the very end of the section, leaving the entries
    // after it unlisted: a zero tail keeps every resource's end inside.
    static const unsigned char tail[kDataAlignment] = {};
    if (WriteOut(tail, sizeof tail) < 0)
        return -1;
    Section &last = image_.sections.back();
    uint32_t resourceSize = (uint32_t)(position_ - resourceStart_);
    if (Pad(fileAlignment_) < 0)
        return -1;
    last.rawOffset = (uint32_t)resourceStart_;
    last.rawSize = (uint32_t)(position_ - resourceStart_);
    last.virtualSize = resourceSize;

    std::vector<unsigned char> headers = image_.headers;
    headers.resize(AlignUp(headers.size(), fileAlignment_), 0);
    unsigned char *coff = &headers[image_.optionalHeader - 20];
    unsigned char *opt = &headers[image_.optionalHeader];
    SetLe32(coff + kCoffTimeDateStamp, 0);
    uint32_t initialized = 0;
    for (size_t i = 0; i < image_.sections.size(); i++) {
        unsigned char *h = &headers[image_.sectionTable + kSectionHeaderSize * i];
        const Section &s = image_.sections[i];
        SetLe32(h + 8, s.virtualSize);
        SetLe32(h + 16, s.rawSize);
        SetLe32(h + 20, s.rawOffset);
        if (GetLe32(h + 36) & kScnInitializedData)
            initialized += s.rawSize;
    }
    SetLe32(opt + kOptSizeOfInitializedData, initialized);
    SetLe32(opt + kOptFileAlignment, fileAlignment_);
    SetLe32(opt + kOptSizeOfHeaders, (uint32_t)headers.size());
    SetLe32(opt + kOptSizeOfImage, (uint32_t)AlignUp((uint64_t)last.virtualAddress + resourceSize,
                                                     image_.sectionAlignment));
    SetLe32(opt + kOptCheckSum, 0);
    unsigned char *directories = &headers[image_.dataDirectories];
    SetLe32(directories + kResourceDirectory, last.virtualAddress);
    SetLe32(directories + kResourceDirectory + 4, (uint32_t)directory.size());
    SetLe32(directories + kCertificateDirectory, 0);
    SetLe32(directories + kCertificateDirectory + 4, 0);

    uint64_t sum = sum_;
    AddToChecksum(&sum, 0, headers.data(), headers.size());
    AddToChecksum(&sum, resourceStart_, directory.data(), directory.size());
    SetLe32(opt + kOptCheckSum, FoldChecksum(sum) + (uint32_t)position_);

    bool written = SeekFile(file_, 0) == 0 &&
                   fwrite(headers.data(), 1, headers.size(), file_) == headers.size() &&
                   SeekFile(file_, resourceStart_) == 0 &&
                   fwrite(directory.data(), 1, directory.size(), file_) == directory.size();
    int closed = fclose(file_);
    file_ = nullptr;
    if (!written || closed != 0)
        return Fail("%s: cannot write: %s", path_.c_str(), LastSystemError().c_str());
    if (RenameOver(temporary_, path_) != 0)
        return Fail("%s: cannot rename to %s: %s", temporary_.c_str(), path_.c_str(),
                    LastSystemError().c_str());
    temporary_.clear();
    return 0;
}

void ImageWriter::Abandon() {
    if (file_ != nullptr) {
        fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        RemoveFile(temporary_);
        temporary_.clear();
    }
}
