// The installer's process entry (and the updater's), in place of the C runtime's start-up code.
// That code parses arguments, runs constructors, registers unwind tables and
// sets up thread-local storage and pseudo relocations for the runtime's own
// uses; the installer needs none of it (it has no static constructors and
// no thread-local variables, and msvcrt.dll sets itself up when loaded), and
// leaving it out takes about 8 KB off every installer.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int);

// msvcrt.dll: how the runtime reports its own fatal errors (abort after a
// failed consistency check): in a message box for a windowed program.
extern "C" void __cdecl __set_app_type(int type);

namespace {

constexpr int kWindowedApp = 2;

// The command line without the program's name (quoted or not) and the
// blanks after it: what the C runtime hands to WinMain.
char *ArgumentsOf(char *line) {
    bool quoted = false;
    for (; *line > ' ' || (*line != '\0' && quoted); line++)
        if (*line == '"')
            quoted = !quoted;
    while (*line != '\0' && *line <= ' ')
        line++;
    return line;
}

}  // namespace

extern "C" void InstallerStart() {
    __set_app_type(kWindowedApp);
    ExitProcess((UINT)WinMain(GetModuleHandleA(nullptr), nullptr, ArgumentsOf(GetCommandLineA()),
                              SW_SHOWDEFAULT));
}
