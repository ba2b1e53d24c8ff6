// The anchor for launch to first window: a Win32 program that does nothing
// but show one message box.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBoxA(nullptr, "Empty", "Empty", MB_OK);
    return 0;
}
