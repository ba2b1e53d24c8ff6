#include "tools/mksetup/platform.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <string.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::wstring Wide(const std::string &text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(n - 1);
    return wide;
}

// The Win32 calls report through the last error; messages use errno's
// texts on both systems, so that both packagers say the same.
int FailWithErrno(void) {
    DWORD code = GetLastError();
    errno = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ENOENT
            : code == ERROR_ALREADY_EXISTS                               ? EEXIST
            : code == ERROR_ACCESS_DENIED                                ? EACCES
                                                                         : EIO;
    return -1;
}
#endif

volatile sig_atomic_t interrupted = 0;  // the signal's number on Linux

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (interrupted)
        return FALSE;  // the default handler ends the process
    interrupted = 1;
    // A closing console ends the process once this returns: give the main
    // thread the few seconds Windows allows to remove its temporaries.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        Sleep(4000);
    return TRUE;
}
#else
void OnSignal(int number) {
    if (interrupted) {
        signal(number, SIG_DFL);
        raise(number);
    }
    interrupted = number;
}
#endif

void PrintLine(const char *prefix, const char *format, va_list args) {
    fputs(prefix, stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
}

}  // namespace

FILE *OpenFile(const std::string &path, const char *mode) {
#ifdef _WIN32
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
#else
    return fopen(path.c_str(), mode);
#endif
}

int SeekFile(FILE *file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, (long long)offset, SEEK_SET);
#else
    return fseeko(file, (off_t)offset, SEEK_SET);
#endif
}

FileKind StatPath(const std::string &path, uint64_t *size) {
#ifdef _WIN32
    struct _stat64 info;
    if (_wstat64(Wide(path).c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? kNoFile : kUnknownFile;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? kNoFile : kUnknownFile;
#endif
    if (S_ISDIR(info.st_mode))
        return kFolder;
    if (!S_ISREG(info.st_mode))
        return kOtherFile;
    *size = (uint64_t)info.st_size;
    return kRegularFile;
}

#ifdef _WIN32
namespace {

// The volume and index that name a file, whatever the path to it.
bool FileIdentity(const std::string &path, BY_HANDLE_FILE_INFORMATION *info) {
    HANDLE file =
        CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool known = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return known;
}

}  // namespace

bool SameFile(const std::string &a, const std::string &b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return FileIdentity(a, &x) && FileIdentity(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}
#else
bool SameFile(const std::string &a, const std::string &b) {
    struct stat x, y;
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}
#endif

int MakeFolders(const std::string &path, std::vector<std::string> *made) {
    uint64_t size;
    FileKind kind = StatPath(path, &size);
    if (kind == kFolder)
        return 0;
    if (kind == kUnknownFile)
        return -1;
    if (kind != kNoFile) {
        errno = EEXIST;
        return -1;
    }
    size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0 && MakeFolders(path.substr(0, slash), made) < 0)
        return -1;
#ifdef _WIN32
    if (!CreateDirectoryW(Wide(path).c_str(), nullptr))
        return FailWithErrno();
#else
    if (mkdir(path.c_str(), 0777) != 0)
        return -1;
#endif
    made->push_back(path);
    return 0;
}

void RemoveEmptyFolder(const std::string &path) {
#ifdef _WIN32
    RemoveDirectoryW(Wide(path).c_str());
#else
    rmdir(path.c_str());
#endif
}

int RenameOver(const std::string &from, const std::string &to) {
#ifdef _WIN32
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : FailWithErrno();
#else
    return rename(from.c_str(), to.c_str());
#endif
}

void RemoveFile(const std::string &path) {
#ifdef _WIN32
    DeleteFileW(Wide(path).c_str());
#else
    unlink(path.c_str());
#endif
}

void CatchInterrupts() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    // No SA_RESTART: a read that waits is cut short, so the loop gets to
    // look at the flag.
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
#endif
}

bool Interrupted() {
    return interrupted != 0;
}

void EndIfInterrupted() {
    if (!interrupted)
        return;
#ifdef _WIN32
    ExitProcess(STATUS_CONTROL_C_EXIT);
#else
    signal(interrupted, SIG_DFL);
    raise(interrupted);
#endif
}

std::string LastSystemError() {
    return strerror(errno);
}

int Fail(const char *format, ...) {
    va_list args;
    va_start(args, format);
    PrintLine("mksetup: ", format, args);
    va_end(args);
    return -1;
}

namespace {
bool quietWarnings = false, strictWarnings = false;
int strictCount = 0;
}  // namespace

void SetWarnings(bool quiet, bool strict) {
    quietWarnings = quiet;
    strictWarnings = strict;
}

int StrictWarnings() {
    return strictCount;
}

void Warn(const char *format, ...) {
    if (quietWarnings && !strictWarnings)
        return;
    va_list args;
    va_start(args, format);
    PrintLine(strictWarnings ? "mksetup: (--strict) " : "mksetup: warning: ", format, args);
    va_end(args);
    strictCount += strictWarnings;
}
