#include "setup/install.h"

#include <string.h>
#include <windows.h>

#include "base/errtext.h"
#include "gui/win32/trivstatuswin.h"
#include "setup/description.h"
#include "setup/driver.h"
#include "setup/errbox.h"
#include "setup/rules.h"
#include "wfs/sha1.h"
#include "wfs/wfs.h"

namespace {

enum {
    kChunkSize = 4096,
    // The messages quoting a file name: the path limit plus their own text.
    kMessageSize = kPathSize + 32,
    // A target's folder and the replacement's name.
    kReplacementPathSize = kPathSize + sizeof kReplacementName,
};

// Runs on the status window's thread. The main thread sees the flag after
// its next chunk; a download it is waiting for is abandoned at once, so
// that a stalled server cannot keep the run alive.
void ConfirmCancel(void) {
    if (MessageBoxA(nullptr, "Are you sure you want to abort installation?\n", setupTitle,
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    abortRequested = 1;
    WfsCancel();
    StatusWinSetText("Aborting installation...");
}

// After a confirmed Cancel the abandoned downloads fail on purpose: the run
// ends without a box, as an abort between two chunks does.
void CopyError(const char *message, const char *detail) {
    if (!abortRequested)
        SetupError(message, detail);
}


// The SHA-1 digest of a file's contents; false when it cannot be read.
bool DigestFile(const char *fileName, Digest *digest) {
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    Sha1Context context;
    Sha1Init(&context);
    static unsigned char chunk[kChunkSize];
    DWORD n;
    bool ok;
    // A large file on a slow disk must not hold up a Cancel.
    while ((ok = ReadFile(file, chunk, sizeof chunk, &n, nullptr) != FALSE && !abortRequested) &&
           n != 0)
        Sha1Update(&context, chunk, n);
    CloseHandle(file);
    if (!ok)
        return false;
    Sha1Final(&context);
    DigestFromHash(&context, digest);
    return true;
}


// format holds one %s and at most 31 other characters; fileName fits the
// path limit.
void FileError(const char *format, const char *fileName, const char *detail) {
    char message[kMessageSize];
    wsprintfA(message, format, fileName);
    CopyError(message, detail);
}

// Progress is reported at most this often. Each report is a synchronous
// call into the status window's thread; under Wine it costs from half a
// millisecond to several on a busy machine, as much as copying megabytes,
// while a bar moving twenty times a second looks smooth.
enum { kProgressIntervalMs = 50 };

// Chunks gathered before one write. Every WriteFile costs a trip through the
// system (under Wine more than copying the 4 KB), so sixteen chunks go out
// together; Cancel is still looked at after every chunk.
enum { kWriteSize = 16 * kChunkSize };

// Writes the gathered bytes. Returns 0, or -1 after an error box (none
// after a Cancel). A disk that fills up mid-write takes what fits and
// reports success for it; the write of the rest then fails with the reason,
// and a write that takes nothing without a reason counts as a full disk.
int32_t WriteGathered(HANDLE file, const unsigned char *data, uint32_t size) {
    while (size != 0) {
        DWORD written;
        if (!WriteFile(file, data, size, &written, nullptr)) {
            CopyError("Error writing output file", LastErrorText());
            return -1;
        }
        if (written == 0) {
            CopyError("Error writing output file", ErrorText(ERROR_DISK_FULL));
            return -1;
        }
        data += written;
        size -= written;
    }
    return 0;
}

// Streams the data resource into the open file. Returns 0 when every byte
// was written and the digest matched, -1 after an error box or on abort.
int32_t CopyData(HANDLE file, const InstallLine *line) {
    static unsigned char gathered[kWriteSize];
    uint32_t held = 0;
    int32_t done = 0;
    DWORD reportedAt = GetTickCount();
    for (;;) {
        int32_t n = WfsRead(gathered + held, kChunkSize);
        if (n < 0) {
            CopyError("Error reading file to be installed", WfsLastError());
            return -1;
        }
        held += (uint32_t)n;
        // Out when no further chunk fits, and at the end.
        if ((n == 0 || kWriteSize - held < kChunkSize) && held != 0) {
            if (WriteGathered(file, gathered, held) < 0)
                return -1;
            held = 0;
        }
        if (n == 0)
            break;
        done += n;
        if (GetTickCount() - reportedAt >= kProgressIntervalMs) {
            StatusWinSetProgress(done, (int32_t)line->size);
            reportedAt = GetTickCount();
        }
        if (abortRequested)
            return -1;
    }
    StatusWinSetProgress(done, (int32_t)line->size);
    if (WfsClose() < 0) {
        CopyError("Error reading file to be installed", WfsLastError());
        return -1;
    }
    return 0;
}


// Closes the verified replacement, *file, and moves it over the old file;
// *file is closed and set to none on every path. The bytes reach the disk
// before the move, so that a power cut leaves either the old file or the
// whole new one under the name.
bool CommitReplacement(HANDLE *file, const char *replacement, const char *name) {
    bool flushed = FlushFileBuffers(*file) != FALSE;
    if (!flushed)
        CopyError("Error writing output file", LastErrorText());
    CloseHandle(*file);
    *file = INVALID_HANDLE_VALUE;
    if (!flushed)
        return false;
    if (!MoveFileExA(replacement, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        FileError("Can't open file '%s' for writing", name, LastErrorText());
        return false;
    }
    return true;
}

// The replacement's path for fileName: the replacement name in the target's
// own folder, so that moving it over the target never crosses volumes (a
// subfolder may be a mount point of another one).
void ReplacementPath(const char *fileName, char (&path)[kReplacementPathSize]) {
    const char *slash = strrchr(fileName, '\\');
    size_t folderLength = slash ? (size_t)(slash + 1 - fileName) : 0;
    memcpy(path, fileName, folderLength);
    memcpy(path + folderLength, kReplacementName, sizeof kReplacementName);
}

// Writes the file. A new file is written under its name; a file in place is
// written under its replacement name and moved over the old one only once
// its digest matched, so a failed update leaves the old file as it was.
int32_t InstallFile(const InstallLine *line) {
    bool replacing = GetFileAttributesA(line->fileName) != INVALID_FILE_ATTRIBUTES;
    char replacement[kReplacementPathSize];
    ReplacementPath(line->fileName, replacement);
    const char *target = replacing ? replacement : line->fileName;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (replacing && !CanReplaceFile(line->fileName)) {
        FileError("Can't open file '%s' for writing", line->fileName, LastErrorText());
    } else if ((file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr)) == INVALID_HANDLE_VALUE) {
        FileError("Can't open file '%s' for writing", line->fileName, LastErrorText());
    } else if (WfsOpen(&line->digest) < 0) {
        FileError("Can't find data for file '%s'", line->fileName, WfsLastError());
    } else if (CopyData(file, line) == 0 &&
               (!replacing || CommitReplacement(&file, replacement, line->fileName))) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return 0;
    }

    // Nothing half-written stays behind; the old file, if any, is untouched.
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    DeleteFileA(target);
    (void)WfsClose();  // releases a data resource left open; harmless otherwise
    return abortRequested || line->required ? -1 : 0;
}

}  // namespace

void ShowInstallStatus(const char *fileName) {
    // The caller has checked that the name fits the path limit.
    char text[kMessageSize];
    wsprintfA(text, "Installing %s", fileName);
    if (messageOwner == nullptr) {
        // A window that cannot be opened is no reason to stop; the next
        // file tries again.
        if (StatusWinOpen(setupTitle, text, ConfirmCancel) == 0)
            messageOwner = StatusWinHandle();
    } else {
        StatusWinSetText(text);
    }
}

bool HasContents(const char *path, const InstallLine *line) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &attributes) ||
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        attributes.nFileSizeLow != line->size)
        return false;
    Digest digest;
    return DigestFile(path, &digest) && DigestEqual(&digest, &line->digest);
}

// A file of that name, length and digest needs no copy.
bool IsFileInPlace(const InstallLine *line) {
    return HasContents(line->fileName, line);
}

bool CanReplaceFile(const char *name) {
    HANDLE file =
        CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

int32_t DownloadToFile(const InstallLine *line, const char *path) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FileError("Can't open file '%s' for writing", line->fileName, LastErrorText());
        return -1;
    }
    int32_t status = -1;
    if (WfsOpen(&line->digest) < 0) {
        FileError("Can't find data for file '%s'", line->fileName, WfsLastError());
    } else if (CopyData(file, line) == 0) {
        if (FlushFileBuffers(file))
            status = 0;
        else
            CopyError("Error writing output file", LastErrorText());
    }
    CloseHandle(file);
    if (status < 0) {
        DeleteFileA(path);
        (void)WfsClose();  // releases a data resource left open; harmless otherwise
    }
    return status;
}

int32_t RunInstallStep(char *argument) {
    InstallLine line;
    if (ParseInstallLine(argument, &line) < 0) {
        SetupError("Invalid setup description file", nullptr);
        return -1;
    }
    if (strlen(line.fileName) >= kPathSize) {
        SetupError("Can't open file for writing", ErrorText(ERROR_FILENAME_EXCED_RANGE));
        return line.required ? -1 : 0;
    }
    ShowInstallStatus(line.fileName);
    StatusWinSetProgress(0, (int32_t)line.size);
    // A replacement left behind by a run that was killed mid-copy.
    char replacement[kReplacementPathSize];
    ReplacementPath(line.fileName, replacement);
    DeleteFileA(replacement);
    if (IsFileInPlace(&line)) {
        StatusWinSetProgress((int32_t)line.size, (int32_t)line.size);
        return 0;
    }
    if (abortRequested)
        return -1;
    return InstallFile(&line);
}
