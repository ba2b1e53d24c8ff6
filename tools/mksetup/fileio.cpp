#include "tools/mksetup/fileio.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::wstring Wide(const char *text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], n);
    wide.resize(n - 1);
    return wide;
}
#endif

FILE *OpenForReading(const char *path) {
#ifdef _WIN32
    return _wfopen(Wide(path).c_str(), L"rb");
#else
    return fopen(path, "rb");
#endif
}

FILE *CreateForWriting(const char *path, bool secret) {
#ifdef _WIN32
    (void)secret;  // the folder's permissions apply
    return _wfopen(Wide(path).c_str(), L"wb");
#else
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, secret ? 0600 : 0666);
    if (fd < 0)
        return nullptr;
    FILE *file = fdopen(fd, "wb");
    if (file == nullptr)
        close(fd);
    return file;
#endif
}

int32_t RenameOver(const char *from, const char *to, std::string *error) {
#ifdef _WIN32
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING))
        return 0;
    *error = "cannot rename into place (error " + std::to_string(GetLastError()) + ")";
#else
    if (rename(from, to) == 0)
        return 0;
    *error = strerror(errno);
#endif
    return -1;
}

}  // namespace

int32_t ReadWholeFile(const char *path, size_t limit, std::string *data, std::string *error) {
    FILE *file = OpenForReading(path);
    if (file == nullptr) {
        *error = strerror(errno);
        return -1;
    }
    data->clear();
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0 && data->size() <= limit)
        data->append(chunk, got);
    int32_t status = 0;
    if (ferror(file)) {
        *error = strerror(errno);
        status = -1;
    } else if (data->size() > limit) {
        *error = "longer than " + std::to_string(limit) + " bytes";
        status = -1;
    }
    fclose(file);
    return status;
}

int32_t WriteWholeFile(const char *path, const std::string &data, bool secret, std::string *error) {
    std::string temporary = std::string(path) + ".tmp";
    FILE *file = CreateForWriting(temporary.c_str(), secret);
    if (file == nullptr) {
        *error = strerror(errno);
        return -1;
    }
    bool written = fwrite(data.data(), 1, data.size(), file) == data.size();
    if (!written)
        *error = strerror(errno);
    if (fclose(file) != 0 && written) {
        *error = strerror(errno);
        written = false;
    }
    if (!written || RenameOver(temporary.c_str(), path, error) < 0) {
        RemovePath(temporary.c_str());
        return -1;
    }
    return 0;
}

bool FileExists(const char *path) {
#ifdef _WIN32
    struct _stat64 info;
    return _wstat64(Wide(path).c_str(), &info) == 0;
#else
    struct stat info;
    return stat(path, &info) == 0;
#endif
}

void RemovePath(const char *path) {
#ifdef _WIN32
    _wremove(Wide(path).c_str());
#else
    remove(path);
#endif
}
