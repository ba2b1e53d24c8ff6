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

#include "mksetup_version.h"
#include "tools/mksetup/commands.h"
#include "tools/mksetup/platform.h"

namespace {

const char kUsage[] =
    "usage: mksetup build TEMPLATE -o OUT.exe [--payloads DIR] [--carry all|none|PATH[,PATH...]]\n"
    "                     [--http URL] [--ftp URL] [--mirror DIR] [--codepage N] [--arch x86|x64]\n"
    "                     [--define NAME=VALUE]... [--updater PUBFILE] [--strict] [--quiet]\n"
    "       mksetup release TEMPLATE --key KEYFILE --mirror DIR -o OUT.exe [build options]\n"
    "       mksetup set-urls INSTALLER [--http URL] [--ftp URL] [-o OUT.exe] [--strip-signature]\n"
    "       mksetup list INSTALLER [--codepage N]\n"
    "       mksetup keygen KEYFILE [--public PUBFILE]\n"
    "       mksetup sign-latest KEYFILE DIGESTNAME -o LATEST\n"
    "       mksetup --version\n"
    "mksetup COMMAND --help describes a command's options.";

const char kBuildHelp[] =
    "usage: mksetup build TEMPLATE -o OUT.exe [options]\n"
    "Makes an installer from a setup description template and its files.\n"
    "TEMPLATE '-' reads the template from standard input.\n"
    "  -o OUT.exe            the installer to write\n"
    "  --payloads DIR        the folder the template's file names are relative to\n"
    "                        (default: the template's folder)\n"
    "  --carry all|none|PATH[,PATH...]\n"
    "                        the payloads the installer carries (default all); the\n"
    "                        others it downloads\n"
    "  --http URL            the base URL it downloads from, http://host[:port]/path/\n"
    "                        (default: the end user's own machine)\n"
    "  --ftp URL             the FTP one it tries next, ftp://host[:port]/path/\n"
    "  --mirror DIR          also write every file under its digest name, for the servers\n"
    "  --codepage N          the end user's Windows code page: 874, 1250 to 1258\n"
    "                        (default 1252)\n"
    "  --arch x86|x64        the installer's Windows architecture (default x86)\n"
    "  --define NAME=VALUE   fill {define:NAME} in the template with VALUE (repeatable)\n"
    "  --updater PUBFILE     also install update.exe into the product folder, which\n"
    "                        checks LATEST against this public key (or key file)\n"
    "  --strict              every warning is an error: exit status 1, nothing written\n"
    "  --quiet               print errors only\n"
    "Options take their value as --option VALUE or --option=VALUE.";

const char kReleaseHelp[] =
    "usage: mksetup release TEMPLATE --key KEYFILE --mirror DIR -o OUT.exe [build options]\n"
    "Builds the installer with an updater that checks KEYFILE's public key, fills\n"
    "the mirror with every file, then writes the mirror's signed LATEST last.\n"
    "  --key KEYFILE         the signing key (mksetup keygen)\n"
    "  --mirror DIR          the mirror folder to fill\n"
    "Every option of build is taken as well (mksetup build --help).";

const char kSetUrlsHelp[] =
    "usage: mksetup set-urls INSTALLER [options]\n"
    "Points a built installer at other servers.\n"
    "  --http URL            the new HTTP base URL; an empty one restores the built-in one\n"
    "  --ftp URL             the new FTP base URL, likewise\n"
    "  -o OUT.exe            write the result there (default: INSTALLER itself)\n"
    "  --strip-signature     drop an Authenticode signature, which new URLs break";

const char kListHelp[] =
    "usage: mksetup list INSTALLER [--codepage N]\n"
    "Prints an installer's base URLs and one line per file it installs.\n"
    "  --codepage N          read file names in code page N (default 1252)";

const char kKeygenHelp[] =
    "usage: mksetup keygen KEYFILE [--public PUBFILE]\n"
    "Makes a DSA signing key for LATEST files; refuses to overwrite one.\n"
    "  --public PUBFILE      also write the public key as a C header";

const char kSignLatestHelp[] =
    "usage: mksetup sign-latest KEYFILE DIGESTNAME -o LATEST\n"
    "Writes the signed LATEST file that points at DIGESTNAME.\n"
    "  -o LATEST             the file to write";

struct Command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *help;
};

const Command kCommands[] = {
    {"build", RunBuild, kBuildHelp},
    {"release", RunRelease, kReleaseHelp},
    {"set-urls", RunSetUrls, kSetUrlsHelp},
    {"list", RunList, kListHelp},
    {"keygen", RunKeygen, kKeygenHelp},
    {"sign-latest", RunSignLatest, kSignLatestHelp},
};

bool IsHelp(const char *arg) {
    return strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0;
}

const Command *FindCommand(const char *name) {
    for (const Command &command : kCommands)
        if (strcmp(name, command.name) == 0)
            return &command;
    return nullptr;
}

int Dispatch(int argc, char **argv) {
    if (argc < 2) {
        Fail("%s", kUsage);
        return 2;
    }
    if (strcmp(argv[1], "--version") == 0) {
        printf("mksetup %s (commit %s)\n", MKSETUP_VERSION, MKSETUP_COMMIT);
        return 0;
    }
    const Command *command = FindCommand(argv[1]);
    // "help COMMAND" and "COMMAND --help" alike.
    if (strcmp(argv[1], "help") == 0 && argc > 2)
        command = FindCommand(argv[2]);
    if (IsHelp(argv[1]) || strcmp(argv[1], "help") == 0) {
        puts(command != nullptr ? command->help : kUsage);
        return 0;
    }
    if (command == nullptr) {
        Fail("%s: unknown command\n%s", argv[1], kUsage);
        return 2;
    }
    // Every command takes "--option=value" as "--option value".
    std::vector<std::string> split;
    for (int i = 2; i < argc; i++) {
        if (IsHelp(argv[i])) {
            puts(command->help);
            return 0;
        }
        const char *equals = strchr(argv[i], '=');
        bool joined = strncmp(argv[i], "--", 2) == 0 && equals != nullptr;
        split.push_back(joined ? std::string(argv[i], equals - argv[i]) : argv[i]);
        if (joined)
            split.push_back(equals + 1);
    }
    std::vector<char *> arguments;
    for (std::string &argument : split)
        arguments.push_back(&argument[0]);
    arguments.push_back(nullptr);
    return command->run((int)split.size(), arguments.data());
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
