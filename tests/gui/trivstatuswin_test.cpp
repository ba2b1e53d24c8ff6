// The status window on its own thread: handshake, caption and text, the
// progress scaling, the Cancel callback, and close.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "base/resids.h"
#include "gui/win32/trivstatuswin.h"

namespace {

volatile LONG firstCalls, secondCalls;
DWORD callbackThread;

void FirstCallback(void) {
    callbackThread = GetCurrentThreadId();
    InterlockedIncrement(&firstCalls);
}

void SecondCallback(void) {
    InterlockedIncrement(&secondCalls);
}

std::string Text(HWND window) {
    char text[256];
    GetWindowTextA(window, text, sizeof text);
    return text;
}

HWND ProgressBar(HWND status) {
    return FindWindowExA(status, nullptr, PROGRESS_CLASSA, nullptr);
}

TEST(StatusWindow, OpenUpdateCancelAndClose) {
    ASSERT_EQ(StatusWinHandle(), nullptr);
    StatusWinSetText("no window: nothing happens");
    StatusWinSetProgress(1, 2);
    StatusWinClose();

    ASSERT_EQ(StatusWinOpen("Kestrin Setup", "Installing License.txt", FirstCallback), 0);
    HWND status = StatusWinHandle();
    ASSERT_NE(status, nullptr);
    EXPECT_NE(GetWindowThreadProcessId(status, nullptr), GetCurrentThreadId());
    EXPECT_EQ(Text(status), "Kestrin Setup");
    EXPECT_EQ(Text(GetDlgItem(status, IDC_STATUS_TEXT)), "Installing License.txt");
    HWND bar = ProgressBar(status);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(GetDlgCtrlID(bar), 0);

    // (done, total) given -> (position, maximum) the bar gets.
    struct {
        int32_t done, total, position, maximum;
    } cases[] = {
        {0, 0, 0, 0},
        {100, 65535, 100, 65535},
        {100, 65536, 50, 32768},
        {1113482, 1113482, 34796, 34796},
        {556741, 1113482, 17398, 34796},
        // Done beyond the total shows a full bar.
        {900, 500, 500, 500},
    };
    for (const auto &c : cases) {
        StatusWinSetProgress(c.done, c.total);
        EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), c.maximum) << c.total;
        EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), c.position) << c.done;
    }

    StatusWinSetText("Installing Kestrin.exe");
    EXPECT_EQ(Text(GetDlgItem(status, IDC_STATUS_TEXT)), "Installing Kestrin.exe");

    // Cancel and the close box call the first callback, on the window's thread.
    SendMessageA(status, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 (LPARAM)GetDlgItem(status, IDCANCEL));
    SendMessageA(status, WM_CLOSE, 0, 0);
    EXPECT_EQ(firstCalls, 2);
    EXPECT_EQ(callbackThread, GetWindowThreadProcessId(status, nullptr));

    // A second open changes caption and text only.
    ASSERT_EQ(StatusWinOpen("Other Setup", "Installing Meadow.kpk", SecondCallback), 0);
    EXPECT_EQ(StatusWinHandle(), status);
    EXPECT_EQ(Text(status), "Other Setup");
    SendMessageA(status, WM_CLOSE, 0, 0);
    EXPECT_EQ(firstCalls, 3);
    EXPECT_EQ(secondCalls, 0);

    StatusWinClose();
    EXPECT_EQ(StatusWinHandle(), nullptr);
    EXPECT_FALSE(IsWindow(status));

    // After close a new open builds a new window.
    ASSERT_EQ(StatusWinOpen("Again", "text", SecondCallback), 0);
    EXPECT_NE(StatusWinHandle(), nullptr);
    StatusWinClose();
    EXPECT_EQ(StatusWinHandle(), nullptr);
}

}  // namespace
