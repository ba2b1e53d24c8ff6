#ifndef TOOLS_MKSETUP_PEIMAGE_H
#define TOOLS_MKSETUP_PEIMAGE_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// Reading a Windows executable for x86 (PE32) or x64 (PE32+): its headers,
// its sections and the tree of its resources. Nothing here needs a Windows
// header.

// Bytes read from memory (the stub carried inside the packager) or from a
// file (an installer given on the command line).
struct Input {
    std::string path;  // for messages; the file's path or a description
    const unsigned char *memory = nullptr;
    FILE *file = nullptr;
    uint64_t size = 0;
};

// Reads count bytes at offset; 0, or -1 when they lie beyond the end or the
// file cannot be read.
int32_t ReadAt(const Input &input, uint64_t offset, void *buffer, uint32_t count);

struct Section {
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawOffset;
};

// The two kinds of installer, by the processor they run on.
enum Arch { kArchX86, kArchX64 };

// "x86" or "x64", as the packager's options and listings name them.
const char *ArchName(Arch arch);

struct PeImage {
    Arch arch;
    std::vector<unsigned char> headers;  // the first SizeOfHeaders bytes
    uint32_t optionalHeader;             // offset of the optional header in headers
    uint32_t dataDirectories;            // offset of the data directories in headers
    uint32_t sectionTable;               // offset of the section table in headers
    uint32_t sectionAlignment;
    uint32_t fileAlignment;
    std::vector<Section> sections;
    uint32_t certificateOffset;  // the Authenticode signature, 0 if none
    uint32_t certificateSize;
};

// Reads the headers of a PE32 executable for x86 or a PE32+ one for x64
// (never one format with the other's machine) whose last section holds the
// resources. Returns 0, or -1 with a reason in *why.
int32_t ReadPeImage(const Input &input, PeImage *image, std::string *why);

// A resource type or name: a number, or a text when text is not empty.
struct ResourceKey {
    uint16_t id;
    std::u16string text;
};

bool operator<(const ResourceKey &a, const ResourceKey &b);
bool operator==(const ResourceKey &a, const ResourceKey &b);

enum { kRtDialog = 5, kRtString = 6 };

struct Resource {
    ResourceKey type;
    ResourceKey name;
    uint16_t language;
    uint32_t size;
    uint64_t offset;  // of the data in the input it was read from
};

// The resources of an image read with ReadPeImage, in the order of their
// data in the file. Returns 0, or -1 with a reason in *why.
int32_t ReadResources(const Input &input, const PeImage &image, std::vector<Resource> *resources,
                      std::string *why);

// Little-endian loads and stores.
uint16_t GetLe16(const unsigned char *p);
uint32_t GetLe32(const unsigned char *p);
void SetLe16(unsigned char *p, uint16_t value);
void SetLe32(unsigned char *p, uint32_t value);

// Offsets in the COFF and optional headers; these are the same in PE32
// and PE32+, which differ from ImageBase on. Data directories are 8 bytes
// each, counted from PeImage::dataDirectories.
enum {
    kCoffTimeDateStamp = 4,  // from the start of the COFF header
    kOptSizeOfInitializedData = 8,
    kOptSectionAlignment = 32,
    kOptFileAlignment = 36,
    kOptSizeOfImage = 56,
    kOptSizeOfHeaders = 60,
    kOptCheckSum = 64,
    kResourceDirectory = 2 * 8,
    kCertificateDirectory = 4 * 8,
    kSectionHeaderSize = 40,
};

#endif
