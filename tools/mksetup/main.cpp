// mksetup: makes installers from a setup description template and its
// files, with no compiler: the installer stub is carried inside.
#include <stdio.h>
#include <string.h>

#include <new>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tools/mksetup/installer.h"
#include "tools/mksetup/latestcmd.h"
#include "tools/mksetup/platform.h"

namespace {

const char kUsage[] =
    "usage: mksetup build TEMPLATE -o OUT.exe [--payloads DIR] [--carry all|none|PATH[,PATH...]]\n"
    "                     [--http URL] [--ftp URL] [--mirror DIR] [--codepage N] [--arch x86|x64]\n"
    "                     [--define NAME=VALUE]... [--strict] [--quiet]\n"
    "       mksetup set-urls INSTALLER [--http URL] [--ftp URL] [-o OUT.exe] [--strip-signature]\n"
    "       mksetup list INSTALLER [--codepage N]\n"
    "       mksetup keygen KEYFILE [--public PUBFILE]\n"
    "       mksetup sign-latest KEYFILE DIGESTNAME -o LATEST";

struct Command {
    const char *name;
    int (*run)(int argc, char **argv);
};

const Command kCommands[] = {
    {"build", RunBuild},   {"set-urls", RunSetUrls},       {"list", RunList},
    {"keygen", RunKeygen}, {"sign-latest", RunSignLatest},
};

int Dispatch(int argc, char **argv) {
    if (argc < 2) {
        Fail("%s", kUsage);
        return 2;
    }
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "help") == 0) {
        puts(kUsage);
        return 0;
    }
    for (const Command &command : kCommands)
        if (strcmp(argv[1], command.name) == 0)
            return command.run(argc - 2, argv + 2);
    Fail("%s: unknown command\n%s", argv[1], kUsage);
    return 2;
}

#ifdef _WIN32
// The arguments in UTF-8, whatever the ANSI code page.
std::vector<std::string> Utf8Arguments() {
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; i++) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(n > 0 ? n : 1, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &text[0], n, nullptr, nullptr);
        text.resize(n > 0 ? n - 1 : 0);
        arguments.push_back(text);
    }
    LocalFree(wide);
    return arguments;
}
#endif

// Listings are what scripts read: one that did not reach its reader (a
// full disk, a closed pipe) fails the command.
int FinishOutput(int status) {
    if (fflush(stdout) != 0 || ferror(stdout)) {
        Fail("standard output: cannot write: %s", LastSystemError().c_str());
        return status == 0 ? 1 : status;
    }
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    // The one place an exception can end up: running out of memory.
    try {
#ifdef _WIN32
        // Listings and messages are UTF-8 text, as on Linux; a console
        // shows them right only when told so.
        SetConsoleOutputCP(CP_UTF8);
        std::vector<std::string> arguments = Utf8Arguments();
        std::vector<char *> pointers;
        for (std::string &argument : arguments)
            pointers.push_back(&argument[0]);
        pointers.push_back(nullptr);
        (void)argc;
        (void)argv;
        int status = Dispatch((int)arguments.size(), pointers.data());
#else
        int status = Dispatch(argc, argv);
#endif
        status = FinishOutput(status);
        EndIfInterrupted();
        return status;
    } catch (const std::bad_alloc &) {
        Fail("out of memory");
        return 1;
    }
}
