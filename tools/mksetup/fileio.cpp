#include "tools/mksetup/fileio.h"

#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "tools/mksetup/platform.h"

namespace {

FILE *CreateForWriting(const std::string &path, bool secret) {
#ifdef _WIN32
    (void)secret;  // the folder's permissions apply
    return OpenFile(path, "wb");
#else
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, secret ? 0600 : 0666);
    if (fd < 0)
        return nullptr;
    FILE *file = fdopen(fd, "wb");
    if (file == nullptr)
        close(fd);
    return file;
#endif
}

}  // namespace

int32_t ReadWholeFile(const char *path, size_t limit, std::string *data, std::string *error) {
    bool standardInput = strcmp(path, "-") == 0;
#ifdef _WIN32
    if (standardInput)
        _setmode(_fileno(stdin), _O_BINARY);  // the bytes as they are, CRs included
#endif
    FILE *file = standardInput ? stdin : OpenFile(path, "rb");
    if (file == nullptr) {
        *error = LastSystemError();
        return -1;
    }
    data->clear();
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0 && data->size() <= limit)
        data->append(chunk, got);
    int32_t status = 0;
    if (ferror(file)) {
        *error = LastSystemError();
        status = -1;
    } else if (data->size() > limit) {
        *error = "longer than " + std::to_string(limit) + " bytes";
        status = kReadTooLong;
    }
    if (!standardInput)
        fclose(file);
    return status;
}

int32_t WriteWholeFile(const char *path, const std::string &data, bool secret, std::string *error) {
    std::string temporary = std::string(path) + ".tmp";
    FILE *file = CreateForWriting(temporary, secret);
    if (file == nullptr) {
        *error = LastSystemError();
        return -1;
    }
    bool written = fwrite(data.data(), 1, data.size(), file) == data.size();
    if (!written)
        *error = LastSystemError();
    if (fclose(file) != 0 && written) {
        *error = LastSystemError();
        written = false;
    }
    if (written && RenameOver(temporary, path) < 0) {
        *error = LastSystemError();
        written = false;
    }
    if (!written) {
        RemoveFile(temporary);
        return -1;
    }
    return 0;
}

bool FileExists(const char *path) {
    uint64_t size;
    return StatPath(path, &size) != kNoFile;
}
