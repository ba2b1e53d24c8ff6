#ifndef TOOLS_MKSETUP_PEWRITER_H
#define TOOLS_MKSETUP_PEWRITER_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "tools/mksetup/peimage.h"

// Writes an executable: the sections of a base image as they are, then a
// new last section holding the given resources, built here. The file is
// written under a temporary name and renamed at the end, so that a failed
// run leaves no output. The data of the resources is streamed in, one
// resource after the other, so memory does not grow with their sizes.
//
// Usage: Begin, then for each resource in order Write its bytes and call
// EndResource, then Finish (or Abandon on any failure). Resource names may
// change until Finish as long as their length stays the same (the
// directory's room is reserved by Begin): digest names are known only once
// the data has been read.
//
// The output is reproducible: no time stamps, resources in sorted order,
// padding zero.
class ImageWriter {
public:
    ~ImageWriter();

    // layout: the resources, in the order their data will come. With
    // pageAligned, sections are aligned to 4096 bytes in the file as well, so
    // that the loader maps large resources from the file rather than copying
    // them. Returns 0, or -1 with a message printed.
    int32_t Begin(const Input &base, const PeImage &image, const std::vector<Resource> &layout,
                  bool pageAligned, const std::string &path);

    // count bytes of the current resource's data; 0 or -1 (message printed).
    int32_t Write(const void *data, uint32_t count);

    // Ends the current resource's data; 0 or -1 (message printed).
    int32_t EndResource();

    // Renames resource index (same length of name).
    void SetName(size_t index, const ResourceKey &name);

    // Writes the directory and the headers and renames the file to its
    // final path. Resources with the same type, name and language as an
    // earlier one are left out of the directory. 0 or -1 (message printed).
    int32_t Finish();

    // Removes the temporary file.
    void Abandon();

private:
    int32_t WriteOut(const void *data, size_t count);
    int32_t Pad(uint64_t alignment);
    int32_t CopySections(const Input &base);

    FILE *file_ = nullptr;
    std::string path_, temporary_;
    PeImage image_;
    std::vector<Resource> resources_;
    std::vector<uint32_t> dataRvas_;
    size_t current_ = 0;
    uint32_t written_ = 0;  // bytes of the current resource so far
    uint32_t fileAlignment_ = 0;
    uint64_t position_ = 0;
    uint64_t resourceStart_ = 0;  // file offset of the new last section
    uint32_t directoryRoom_ = 0;
    uint64_t sum_ = 0;  // checksum over everything after the headers
};

#endif
