// Runs a command (the UI robot driving an installer) and reports the memory
// and lifetime of one process that the command starts, found by the name of
// its executable:
//
//   peakmem PROGRAM.exe -- COMMAND [ARGUMENTS...]
//
// The command's own output passes through. After it ends, one line follows:
//   peakmem: PROGRAM.exe peak_working_set_kb=N peak_private_kb=N run_ms=N
// peak_working_set_kb is the process's PeakWorkingSetSize, peak_private_kb
// the largest PagefileUsage seen (the private bytes), run_ms the time from
// its creation to its exit. The counters can only be read while the process
// lives (Wine takes them from the live host process), so they are sampled
// every few milliseconds until it ends. Exit code: the command's, or 3 when
// the process was never seen or could not be read.

#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>
#include <tlhelp32.h>

namespace {

enum { kPollMs = 5, kCommandSize = 4096 };

struct Peaks {
    SIZE_T workingSet;
    SIZE_T privateBytes;
    bool read;
};

// Joins the arguments into one command line, quoting those with blanks.
// Returns 0, or -1 when the line would not fit.
int BuildCommandLine(int argc, char **argv, char *line, size_t size) {
    size_t used = 0;
    for (int i = 0; i < argc; i++) {
        bool quote = argv[i][0] == '\0' || strpbrk(argv[i], " \t") != nullptr;
        int n =
            snprintf(line + used, size - used, quote ? "%s\"%s\"" : "%s%s", i ? " " : "", argv[i]);
        if (n < 0 || (size_t)n >= size - used)
            return -1;
        used += (size_t)n;
    }
    return 0;
}

// The id of a running process with that executable name, or 0.
DWORD FindProcess(const char *name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    DWORD id = 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && id == 0;
         more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, name) == 0)
            id = entry.th32ProcessID;
    CloseHandle(snapshot);
    return id;
}

void Sample(HANDLE process, Peaks *peaks) {
    PROCESS_MEMORY_COUNTERS counters;
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
        return;
    peaks->read = true;
    if (counters.PeakWorkingSetSize > peaks->workingSet)
        peaks->workingSet = counters.PeakWorkingSetSize;
    if (counters.PagefileUsage > peaks->privateBytes)
        peaks->privateBytes = counters.PagefileUsage;
}

// Milliseconds from the process's creation to its exit, or -1.
long long Lifetime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return -1;
    ULARGE_INTEGER from, to;
    from.LowPart = created.dwLowDateTime;
    from.HighPart = created.dwHighDateTime;
    to.LowPart = exited.dwLowDateTime;
    to.HighPart = exited.dwHighDateTime;
    return to.QuadPart >= from.QuadPart ? (long long)((to.QuadPart - from.QuadPart) / 10000) : -1;
}

// Samples the watched process from when it appears until it ends, while the
// command runs. Returns its handle (the caller closes it), or null when the
// command ended without it being seen.
HANDLE Watch(const char *name, HANDLE command, Peaks *peaks) {
    HANDLE process = nullptr;
    while (process == nullptr) {
        DWORD id = FindProcess(name);
        if (id != 0)
            process =
                OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, id);
        if (process == nullptr && WaitForSingleObject(command, kPollMs) == WAIT_OBJECT_0)
            return nullptr;
    }
    do
        Sample(process, peaks);
    while (WaitForSingleObject(process, kPollMs) == WAIT_TIMEOUT);
    return process;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4 || strcmp(argv[2], "--") != 0) {
        fprintf(stderr, "usage: peakmem PROGRAM.exe -- COMMAND [ARGUMENTS...]\n");
        return 64;
    }
    static char line[kCommandSize];
    if (BuildCommandLine(argc - 3, argv + 3, line, sizeof line) < 0) {
        fprintf(stderr, "peakmem: command line too long\n");
        return 64;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION command;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &command)) {
        fprintf(stderr, "peakmem: cannot start command (error %lu)\n", GetLastError());
        return 3;
    }

    Peaks peaks = {0, 0, false};
    HANDLE process = Watch(argv[1], command.hProcess, &peaks);
    WaitForSingleObject(command.hProcess, INFINITE);
    DWORD code = 3;
    if (process != nullptr && peaks.read) {
        printf("peakmem: %s peak_working_set_kb=%lu peak_private_kb=%lu run_ms=%lld\n", argv[1],
               (unsigned long)(peaks.workingSet / 1024), (unsigned long)(peaks.privateBytes / 1024),
               Lifetime(process));
        GetExitCodeProcess(command.hProcess, &code);
    } else {
        printf("peakmem: %s was not seen running\n", argv[1]);
    }
    if (process != nullptr)
        CloseHandle(process);
    CloseHandle(command.hThread);
    CloseHandle(command.hProcess);
    return (int)code;
}
