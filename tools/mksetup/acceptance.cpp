#include "tools/mksetup/acceptance.h"

#include <ctype.h>
#include <inttypes.h>
#include <string.h>

#include <algorithm>

#include "setup/description.h"
#include "tools/mksetup/codepage.h"
#include "tools/mksetup/placeholders.h"
#include "tools/mksetup/platform.h"

namespace {

enum {
    // The longest name a Windows file system takes, in UTF-16 units.
    kMaxNameUnits = 255,
    kMaxLinkPart = kPathSize - 2,  // a folder of one byte, a backslash, the zero
};

// Checks what follows an I line's file name: flag fields, each ':' and a
// text starting with 'R' (or nothing). The installer ignores any other
// field, so one is almost always a file name with a ':' (a drive letter)
// cut in two.
int32_t CheckFlagFields(const std::string &where, const std::string &rest) {
    for (size_t start = 1; start <= rest.size();) {
        size_t end = std::min(rest.find(':', start), rest.size());
        std::string field = rest.substr(start, end - start);
        if (!field.empty() && field[0] != 'R')
            return Fail(
                "%s: field '%s' after the file name is not the R flag (a file name "
                "cannot contain ':')",
                where.c_str(), field.c_str());
        start = end + 1;
    }
    return 0;
}

// Whether two names are one to Windows, as far as ASCII letters go.
bool SameNameNoCase(const char *a, const char *b) {
    for (; *a != '\0' && tolower((unsigned char)*a) == tolower((unsigned char)*b); a++, b++) {
    }
    return *a == '\0' && *b == '\0';
}

bool EndsWithNoCase(const char *name, const char *suffix) {
    size_t length = strlen(name), suffixLength = strlen(suffix);
    return length >= suffixLength && SameNameNoCase(name + length - suffixLength, suffix);
}

// Whether Windows takes a name (UTF-8) for a device whatever its extension
// ("nul.txt" opens the null device): CON, PRN, AUX, NUL, COM1 to COM9 and
// LPT1 to LPT9, and COM and LPT with a superscript 1, 2 or 3, which Windows
// reads as those digits.
bool IsDeviceName(const std::string &name) {
    static const char *const kDevices[] = {"con", "prn", "aux", "nul"};
    static const char *const kPortNumbers[] = {"1", "2", "3", "4",      "5",      "6",
                                               "7", "8", "9", "\u00B9", "\u00B2", "\u00B3"};
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (const char *device : kDevices)
        if (SameNameNoCase(stem.c_str(), device))
            return true;
    if (stem.size() < 4 || (!SameNameNoCase(stem.substr(0, 3).c_str(), "com") &&
                            !SameNameNoCase(stem.substr(0, 3).c_str(), "lpt")))
        return false;
    for (const char *number : kPortNumbers)
        if (stem.compare(3, std::string::npos, number) == 0)
            return true;
    return false;
}

// Why the installer could not make name as one file, folder or link in
// the folder it writes to, or null when it can: Windows refuses these
// characters in names and takes device names for devices, it drops a
// final dot or blank (the file would get another name), and the installer
// makes no subfolders; no Windows file system takes a name of more than 255
// UTF-16 units. name is in the code page.
std::string NameProblem(const char *name, int codePage) {
    std::string utf8 = TextToUtf8(name, codePage);
    if (*name == '\0')
        return "is empty";
    for (const char *c = name; *c != '\0'; c++) {
        if ((unsigned char)*c < 32 || strchr("<>\"|?*", *c) != nullptr)
            return "has a character that Windows refuses in file names";
        if (*c == '\\' || *c == '/')
            return "names a subfolder; the installer makes none";
    }
    char last = name[strlen(name) - 1];
    if (last == '.' || last == ' ')
        return "ends in a dot or a blank, which Windows drops from names";
    if (IsDeviceName(utf8))
        return "is a device name that Windows reserves";
    if (Utf16Length(utf8) > kMaxNameUnits)
        return "is " + std::to_string(Utf16Length(utf8)) +
               " characters long; Windows takes at most 255 in a name";
    return std::string();
}

// Fails when an I line gives a size its file does not have: the
// installer would show wrong progress and could never accept the file.
int32_t CheckInstallSize(const Template &tmpl, size_t line, uint32_t size) {
    int32_t file = FindFile(tmpl, LineFile(tmpl.lines[line]));
    if (file < 0 || tmpl.files[file].size == size)
        return 0;
    return Fail("%s: I line gives a size of %" PRIu32 " bytes, but %s holds %" PRIu64,
                Where(tmpl, line).c_str(), size, tmpl.files[file].diskPath.c_str(),
                tmpl.files[file].size);
}

// Fails with what names the line's kind of name ("file name") when the
// installer could not make it.
int32_t CheckName(const Template &tmpl, const std::string &where, const char *what,
                  const char *name) {
    std::string problem = NameProblem(name, tmpl.codePage);
    return problem.empty() ? 0
                           : Fail("%s: %s '%s' %s", where.c_str(), what,
                                  TextToUtf8(name, tmpl.codePage).c_str(), problem.c_str());
}

// Without an F line first, the installer writes into whatever folder it
// was started from; a publisher may mean that, but rarely does.
void WarnBeforeFolder(const std::string &where, char letter, LineState *state) {
    if (state->seenF || state->warnedBeforeFolder)
        return;
    state->warnedBeforeFolder = true;
    Warn(
        "%s: %c line before any F line: the installer puts its file in the folder it was "
        "started from",
        where.c_str(), letter);
}

// Fails when an earlier I line installs the same name: Windows does not
// tell names apart by letter case, so the later file would replace it.
int32_t AddTarget(const Template &tmpl, size_t line, const char *fileName, LineState *state) {
    std::string name = TextToUtf8(fileName, tmpl.codePage), folded = FoldCase(name);
    for (size_t i = 0; i < state->targets.size(); i++)
        if (state->targets[i] == folded)
            return Fail(
                "%s: file name '%s' is the one line %zu installs (Windows ignores letter case), "
                "so this file would replace it",
                Where(tmpl, line).c_str(), name.c_str(), state->targetLines[i] + 1);
    state->targets.push_back(folded);
    state->targetLines.push_back(line);
    return 0;
}

}  // namespace

int32_t CheckAcrossLines(const Template &tmpl, const LineState &state) {
    for (size_t i = 0; i < state.shortcutTargets.size(); i++)
        if (std::find(state.targets.begin(), state.targets.end(),
                      FoldCase(state.shortcutTargets[i])) == state.targets.end())
            Warn("%s: no I line installs '%s', the shortcut's target",
                 Where(tmpl, state.shortcutLines[i]).c_str(), state.shortcutTargets[i].c_str());
    OrderFault fault = FinishDirectives(state.order);
    if (fault == kNoProduct)
        return Fail("%s: no T line (the product name)", tmpl.path.c_str());
    if (fault == kProductWithoutVersion)
        return Fail("%s: a T line but no V line (the version)", tmpl.path.c_str());
    return 0;
}

int32_t CheckLine(const Template &tmpl, size_t line, std::string text, LineState *state) {
    std::string where = Where(tmpl, line);
    char *argument = &text[0] + 1;
    size_t length = text.size() - (text.empty() ? 0 : 1);
    Digest digest;
    InstallLine install;
    const char *linkName, *target;
    char letter = text.empty() ? '\0' : text[0];
    if (TakeDirective(&state->order, letter) == kVersionBeforeProduct)
        return Fail("%s: V line before any T line", where.c_str());
    switch (letter) {
        case 'T':
            if (length == 0)
                return Fail("%s: T line without a product name", where.c_str());
            if (length > kMaxProductName)
                return Fail(
                    "%s: product name of %zu bytes does not fit the registry key path "
                    "(at most %d bytes)",
                    where.c_str(), length, (int)kMaxProductName);
            return 0;
        case 'V':
            return length == 0 ? Fail("%s: V line without a version", where.c_str()) : 0;
        case 'F':
            state->seenF = true;
            if (strchr(argument, ':') != nullptr)
                return Fail("%s: folder name '%s' contains ':'; it is made inside Program Files",
                            where.c_str(), argument);
            if (length > kMaxFolderName)
                return Fail(
                    "%s: folder name of %zu bytes does not fit a 260-byte path "
                    "(at most %d bytes)",
                    where.c_str(), length, (int)kMaxFolderName);
            return CheckName(tmpl, where, "folder name", argument);
        case 'L':
            if (ParseLicenceLine(argument, &digest) < 0)
                return Fail("%s: L line is not a digest name, ':' and the licence size",
                            where.c_str());
            return 0;
        case 'I': {
            std::string fields = argument;  // before the parser cuts it up
            if (ParseInstallLine(argument, &install) < 0)
                return Fail(
                    "%s: I line is not digest name:size:file name[:R], or its size is "
                    "2 GiB or more",
                    where.c_str());
            if (install.fileName[0] == '\0')
                return Fail("%s: I line without a file name", where.c_str());
            if (strlen(install.fileName) > kMaxFileName)
                return Fail(
                    "%s: file name of %zu bytes does not fit a 260-byte path "
                    "(at most %d bytes)",
                    where.c_str(), strlen(install.fileName), (int)kMaxFileName);
            if (CheckName(tmpl, where, "file name", install.fileName) < 0)
                return -1;
            if (CheckInstallSize(tmpl, line, install.size) < 0)
                return -1;
            if (SameNameNoCase(install.fileName, kReplacementName))
                return Fail("%s: file name '%s' is the installer's own, for the file it replaces",
                            where.c_str(), install.fileName);
            if (CheckFlagFields(where, fields.substr(install.fileName + strlen(install.fileName) -
                                                     argument)) < 0 ||
                AddTarget(tmpl, line, install.fileName, state) < 0)
                return -1;
            WarnBeforeFolder(where, 'I', state);
            return 0;
        }
        case 'P':
            if (ParseShortcutLine(argument, &linkName, &target) < 0)
                return Fail("%s: P line without ':' between link name and target", where.c_str());
            if (strlen(linkName) > kMaxLinkPart || strlen(target) > kMaxLinkPart)
                return Fail(
                    "%s: shortcut name or target does not fit a 260-byte path "
                    "(at most %d bytes each)",
                    where.c_str(), (int)kMaxLinkPart);
            if (strchr(target, ':') != nullptr)
                return Fail(
                    "%s: shortcut target '%s' contains ':'; it names a file in the "
                    "destination folder",
                    where.c_str(), target);
            if (CheckName(tmpl, where, "shortcut name", linkName) < 0)
                return -1;
            if (!EndsWithNoCase(linkName, ".lnk"))
                Warn(
                    "%s: shortcut name '%s' does not end in .lnk, so the Start Menu will not "
                    "show it as a shortcut",
                    where.c_str(), linkName);
            if (CheckName(tmpl, where, "shortcut target", target) < 0)
                return -1;
            WarnBeforeFolder(where, 'P', state);
            state->shortcutTargets.push_back(TextToUtf8(target, tmpl.codePage));
            state->shortcutLines.push_back(line);
            return 0;
        default:
            return 0;
    }
}