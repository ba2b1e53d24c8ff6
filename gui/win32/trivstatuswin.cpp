#include "gui/win32/trivstatuswin.h"

#include <commctrl.h>

#include "setup/check.h"

namespace {

enum { kStatusText = 101 };

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
        if (cancelCallback != NULL)
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
    return CreateWindowExA(0, PROGRESS_CLASSA, NULL, WS_CHILD | WS_VISIBLE, client.left,
                           client.bottom - height, client.right - client.left, height, dialog,
                           (HMENU)0, GetModuleHandleA(NULL), NULL);
}

DWORD WINAPI StatusThread(void *argument) {
    HANDLE ready = (HANDLE)argument;
    InitCommonControls();
    CHECK(statuswin == NULL);
    statuswin =
        CreateDialogParamA(GetModuleHandleA(NULL), "STATUS_DIALOG", NULL, StatusDialogProc, 0);
    if (statuswin == NULL) {
        SetEvent(ready);
        return (DWORD)-1;
    }
    progbar = CreateProgressBar(statuswin);
    if (progbar == NULL) {
        DestroyWindow(statuswin);
        statuswin = NULL;
        SetEvent(ready);
        return (DWORD)-1;
    }
    SetEvent(ready);

    // No dialog keyboard handling: Tab, Enter and Escape mean nothing here.
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);

    DestroyWindow(statuswin);
    statuswin = NULL;
    progbar = NULL;
    return 0;
}

int32_t StartStatusThread(void) {
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (ready == NULL) {
        errorText = "can't create event object";
        return -1;
    }
    statusThread = CreateThread(NULL, 0, StatusThread, ready, 0, &statusThreadId);
    if (statusThread == NULL) {
        CloseHandle(ready);
        errorText = "can't create status thread";
        return -1;
    }
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    if (statuswin == NULL) {
        WaitForSingleObject(statusThread, INFINITE);
        CloseHandle(statusThread);
        statusThread = NULL;
        errorText = "can't create status window";
        return -1;
    }
    return 0;
}

}  // namespace

int32_t StatusWinOpen(const char *title, const char *text, StatusCancelCallback onCancel) {
    if (statuswin == NULL) {
        cancelCallback = onCancel;
        if (StartStatusThread() < 0)
            return -1;
    }
    SetWindowTextA(statuswin, title);
    SetDlgItemTextA(statuswin, kStatusText, text);
    return 0;
}

HWND StatusWinHandle(void) {
    return statuswin;
}

void StatusWinSetText(const char *text) {
    if (statuswin != NULL)
        SetDlgItemTextA(statuswin, kStatusText, text);
}

void StatusWinSetProgress(int32_t done, int32_t total) {
    if (progbar == NULL)
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
    if (statuswin == NULL)
        return;
    // A quit message posted to the window lands in its thread's queue.
    PostMessageA(statuswin, WM_QUIT, 0, 0);
    WaitForSingleObject(statusThread, INFINITE);
    CloseHandle(statusThread);
    statusThread = NULL;
    CHECK(statuswin == NULL);
    CHECK(progbar == NULL);
}

const char *StatusWinError(void) {
    return errorText;
}
