#include "gui/win32/trivstatuswin.h"

#include <commctrl.h>

#include "base/check.h"
#include "base/resids.h"

namespace {

// Written only by the status thread; the handles are stored before the
// opener's wait ends, so the opener reads them afterwards without a lock.
HWND statuswin;
HWND progbar;

HANDLE statusThread;
DWORD statusThreadId;
StatusCancelCallback cancelCallback;
const char *errorText;

INT_PTR CALLBACK StatusDialogProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)) {
        if (cancelCallback != nullptr)
            cancelCallback();
        return TRUE;
    }
    return FALSE;
}

// The progress bar runs along the dialog's bottom edge, one scroll-arrow high.
HWND CreateProgressBar(HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    int height = GetSystemMetrics(SM_CYVSCROLL);
    return CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD | WS_VISIBLE, client.left,
                           client.bottom - height, client.right - client.left, height, dialog,
                           (HMENU)0, GetModuleHandleA(nullptr), nullptr);
}

DWORD WINAPI StatusThread(void *argument) {
    HANDLE ready = (HANDLE)argument;
    InitCommonControls();
    CHECK(statuswin == NULL);
    statuswin = CreateDialogParamA(GetModuleHandleA(nullptr), STATUS_DIALOG_NAME, nullptr,
                                   StatusDialogProc, 0);
    if (statuswin == nullptr) {
        SetEvent(ready);
        return (DWORD)-1;
    }
    progbar = CreateProgressBar(statuswin);
    if (progbar == nullptr) {
        DestroyWindow(statuswin);
        statuswin = nullptr;
        SetEvent(ready);
        return (DWORD)-1;
    }
    SetEvent(ready);

    // No dialog keyboard handling: Tab, Enter and Escape mean nothing here.
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);

    DestroyWindow(statuswin);
    statuswin = nullptr;
    progbar = nullptr;
    return 0;
}

int32_t StartStatusThread(void) {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ready == nullptr) {
        errorText = "can't create event object";
        return -1;
    }
    statusThread = CreateThread(nullptr, 0, StatusThread, ready, 0, &statusThreadId);
    if (statusThread == nullptr) {
        CloseHandle(ready);
        errorText = "can't create status thread";
        return -1;
    }
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    if (statuswin == nullptr) {
        WaitForSingleObject(statusThread, INFINITE);
        CloseHandle(statusThread);
        statusThread = nullptr;
        errorText = "can't create status window";
        return -1;
    }
    return 0;
}

}  // namespace

int32_t StatusWinOpen(const char *title, const char *text, StatusCancelCallback onCancel) {
    if (statuswin == nullptr) {
        cancelCallback = onCancel;
        if (StartStatusThread() < 0)
            return -1;
    }
    SetWindowTextA(statuswin, title);
    SetDlgItemTextA(statuswin, IDC_STATUS_TEXT, text);
    return 0;
}

HWND StatusWinHandle(void) {
    return statuswin;
}

void StatusWinSetText(const char *text) {
    if (statuswin != nullptr)
        SetDlgItemTextA(statuswin, IDC_STATUS_TEXT, text);
}

void StatusWinSetProgress(int32_t done, int32_t total) {
    if (progbar == nullptr)
        return;
    // The control's range is 16 bits wide.
    while (total > 65535) {
        done >>= 1;
        total >>= 1;
    }
    SendMessageA(progbar, PBM_SETRANGE, 0, MAKELPARAM(0, total));
    SendMessageA(progbar, PBM_SETPOS, (WPARAM)done, 0);
}

void StatusWinClose(void) {
    if (statuswin == nullptr)
        return;
    // A quit message posted to the window lands in its thread's queue.
    PostMessageA(statuswin, WM_QUIT, 0, 0);
    WaitForSingleObject(statusThread, INFINITE);
    CloseHandle(statusThread);
    statusThread = nullptr;
    CHECK(statuswin == NULL);
    CHECK(progbar == NULL);
}

const char *StatusWinError(void) {
    return errorText;
}
