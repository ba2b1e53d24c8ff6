// Launch to first window: starts a program RUNS times and reports the median
// time from CreateProcess to the moment it waits for input (WaitForInputIdle)
// with a visible top-level window, then ends it.
//   first_window RUNS PROGRAM [ARGUMENTS...]
// prints "first_window ms=<median> runs=<n>". Exit code 0, or 3 when a run
// failed to start or never became idle within a minute.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

namespace {

enum { kCommandSize = 4096, kIdleTimeoutMs = 60000 };

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM found) {
    DWORD owner;
    GetWindowThreadProcessId(window, &owner);
    if (owner != *(DWORD *)found || !IsWindowVisible(window))
        return TRUE;
    *(DWORD *)found = 0;
    return FALSE;
}

bool HasVisibleWindow(DWORD processId) {
    DWORD found = processId;
    EnumWindows(FindVisibleWindow, (LPARAM)&found);
    return found == 0;
}

// Waits until the process is idle with a window shown. Returns false after
// kIdleTimeoutMs, or when the process ends first.
bool WaitForFirstWindow(const PROCESS_INFORMATION *process) {
    DWORD start = GetTickCount();
    if (WaitForInputIdle(process->hProcess, kIdleTimeoutMs) != 0)
        return false;
    // Idle can come before the window when start-up code pumps messages.
    while (!HasVisibleWindow(process->dwProcessId)) {
        if (GetTickCount() - start > kIdleTimeoutMs ||
            WaitForSingleObject(process->hProcess, 1) == WAIT_OBJECT_0)
            return false;
    }
    return true;
}

// Milliseconds from start to the first window for one run, or -1.
double OneRun(char *commandLine) {
    LARGE_INTEGER frequency, start, idle;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    bool shown = WaitForFirstWindow(&process);
    QueryPerformanceCounter(&idle);
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!shown)
        return -1;
    return 1000.0 * (double)(idle.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

}  // namespace

int main(int argc, char **argv) {
    int runs = argc > 2 ? atoi(argv[1]) : 0;
    if (runs < 1) {
        fprintf(stderr, "usage: first_window RUNS PROGRAM [ARGUMENTS...]\n");
        return 64;
    }
    static char line[kCommandSize];
    size_t used = 0;
    for (int i = 2; i < argc; i++) {
        int n = snprintf(line + used, sizeof line - used, "%s\"%s\"", i > 2 ? " " : "", argv[i]);
        if (n < 0 || (size_t)n >= sizeof line - used) {
            fprintf(stderr, "first_window: command line too long\n");
            return 64;
        }
        used += (size_t)n;
    }
    std::vector<double> times;
    for (int i = 0; i < runs; i++) {
        static char copy[kCommandSize];  // CreateProcessA may write to it
        memcpy(copy, line, sizeof copy);
        double ms = OneRun(copy);
        if (ms < 0) {
            fprintf(stderr, "first_window: run %d did not show a window\n", i + 1);
            return 3;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    printf("first_window ms=%.1f runs=%d\n", times[times.size() / 2], runs);
    return 0;
}
