// The installer's process entry, in place of the C runtime's start-up code.
// That code parses arguments, runs constructors, registers unwind tables and
// sets up thread-local storage and pseudo relocations for the runtime's own
// uses; the installer needs none of it (it has no static constructors and
// no thread-local variables, and msvcrt.dll sets itself up when loaded), and
// leaving it out takes about 8 KB off every installer.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int);

namespace {

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
    ExitProcess((UINT)WinMain(GetModuleHandleA(nullptr), nullptr, ArgumentsOf(GetCommandLineA()),
                              SW_SHOWDEFAULT));
}
