#include "tools/mksetup/template.h"

#include <ctype.h>
#include <inttypes.h>
#include <string.h>

#include <algorithm>

#include "setup/description.h"
#include "setup/rules.h"
#include "tools/mksetup/codepage.h"
#include "tools/mksetup/fileio.h"
#include "tools/mksetup/platform.h"

namespace {

// The packager's own limits (the installer's are in setup/rules.h), and the
// longest name a Windows file system takes, in UTF-16 units.
enum {
    kMaxNameUnits = 255,
    kMaxLinkPart = kPathSize - 2,  // a folder of one byte, a backslash, the zero
    kMaxTemplate = 1 << 20,
    kMaxLicenceFile = 64 * 1024,
};

// The licence box, a message box, as measured under Wine on a 1024x768
// screen: its text is at most about 250 pixels wide, so it wraps lines of
// more than about 45 characters of running text, and with 13 pixels a line
// and 94 for the frame and buttons about 50 lines fit 768 pixels.
enum { kLicenceBoxColumns = 45, kLicenceBoxLines = 50 };

const char kPlaceholderName[] = "{name:";
const char kPlaceholderSize[] = "{size:";
const char kZeroName[] = "00000000000000000000000000000000";

// Reads a licence or a template whole. A file over readLimit bytes cannot
// give a text within textLimit, the limit of what (its name in messages).
// The installer reads both as 8-bit text that ends at a NUL byte, so a NUL
// byte (UTF-16 text is full of them) is refused.
int32_t ReadInput(const std::string &path, size_t readLimit, const char *what, int textLimit,
                  std::string *bytes) {
    std::string error;
    int32_t status = ReadWholeFile(path.c_str(), readLimit, bytes, &error);
    if (status == kReadTooLong)
        return Fail("%s: %s of more than %zu bytes is over the limit of %d bytes", path.c_str(),
                    what, readLimit, textLimit);
    if (status < 0)
        return Fail("%s: cannot read: %s", path.c_str(), error.c_str());
    if (bytes->compare(0, 2, "\xFF\xFE") == 0 || bytes->compare(0, 2, "\xFE\xFF") == 0)
        return Fail("%s: UTF-16 text; save the %s as UTF-8", path.c_str(), what);
    size_t nul = bytes->find('\0');
    if (nul != std::string::npos)
        return Fail("%s: NUL byte at offset %zu; a %s is text", path.c_str(), nul, what);
    return 0;
}

bool StartsWith(const std::string &text, size_t at, const char *prefix) {
    return text.compare(at, strlen(prefix), prefix) == 0;
}

bool IsDigestNameAt(const std::string &text, size_t at) {
    Digest digest;
    return text.size() >= at + kDigestNameLength + 1 && text[at + kDigestNameLength] == ':' &&
           NameToDigest(text.c_str() + at, &digest) == 0;
}

// "path:line" and, when at is a byte offset in the line, ":column" (in
// characters, counted from 1).
std::string Where(const Template &tmpl, size_t line, size_t at = std::string::npos) {
    std::string where = tmpl.path + ":" + std::to_string(line + 1);
    if (at != std::string::npos)
        where += ":" + std::to_string(ColumnOf(tmpl.lines[line], at));
    return where;
}

// The path of the placeholder that opens at text[open] (its '{'), with
// backslashes turned into slashes; *end is set to its closing '}' (npos when missing).
std::string PlaceholderPath(const std::string &text, size_t open, size_t *end) {
    size_t start = open + strlen(kPlaceholderName);
    *end = text.find('}', start);
    std::string path = text.substr(start, *end == std::string::npos ? *end : *end - start);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    return path;
}

// Whether path, named in line text, means the licence text of an L line
// (converted to the code page) rather than the file's own bytes: the same
// file may be a licence and a payload, and a payload is carried unchanged.
bool NamesLicence(const std::string &text, const std::string &path) {
    size_t end;
    return !text.empty() && text[0] == 'L' && StartsWith(text, 1, kPlaceholderName) &&
           PlaceholderPath(text, 1, &end) == path;
}

// Adds the file at path (relative to the payload folder), as a licence or
// as a payload, unless it is there already in that form; its index in
// *index.
int32_t AddFile(Template *tmpl, const std::string &folder, const std::string &where,
                const std::string &path, bool ready, bool licence, size_t *index) {
    for (size_t i = 0; i < tmpl->files.size(); i++)
        if (tmpl->files[i].path == path && tmpl->files[i].licence == licence) {
            *index = i;
            return 0;
        }
    PackedFile file = {};
    file.path = path;
    file.diskPath = folder.empty() ? path : folder + "/" + path;
    file.ready = ready;
    file.licence = licence;
    if (ready)
        NameToDigest(path.c_str(), &file.digest);
    switch (StatPath(file.diskPath, &file.size)) {
        case kNoFile:
            return Fail("%s: %s: no such file", where.c_str(), file.diskPath.c_str());
        case kFolder:
            return Fail("%s: %s is a folder, not a file", where.c_str(), file.diskPath.c_str());
        case kOtherFile:
            return Fail("%s: %s is not a regular file", where.c_str(), file.diskPath.c_str());
        case kUnknownFile:
            return Fail("%s: %s: %s", where.c_str(), file.diskPath.c_str(),
                        LastSystemError().c_str());
        case kRegularFile:
            break;
    }
    if (file.size > kMaxPayloadBytes)
        return Fail("%s: %s: %" PRIu64 " bytes; a payload must be under 2147483648 bytes",
                    where.c_str(), file.diskPath.c_str(), file.size);
    *index = tmpl->files.size();
    tmpl->files.push_back(file);
    return 0;
}

// Whether text[open], a '{' that opens no placeholder, starts a word and a
// ':' as a placeholder does: in an L or I line that is a misspelt one, since
// neither a size, a digest name nor a file name may hold a ':'.
bool IsMisspeltPlaceholder(const std::string &text, size_t open) {
    size_t at = open + 1;
    while (at < text.size() && isalpha((unsigned char)text[at]))
        at++;
    return at > open + 1 && at < text.size() && text[at] == ':';
}

// Finds the files of one line: its placeholders, and the digest name an L
// or I line starts with.
int32_t ScanLine(Template *tmpl, const std::string &folder, size_t line) {
    const std::string &text = tmpl->lines[line];
    char letter = text.empty() ? '\0' : text[0];
    size_t index;
    bool ignoredLineWarned = false;
    if ((letter == 'L' || letter == 'I') && IsDigestNameAt(text, 1) &&
        AddFile(tmpl, folder, Where(*tmpl, line, 1), text.substr(1, kDigestNameLength), true,
                letter == 'L', &index) < 0)
        return -1;
    for (size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at + 1)) {
        std::string where = Where(*tmpl, line, at);
        if (!StartsWith(text, at, kPlaceholderName) && !StartsWith(text, at, kPlaceholderSize)) {
            if ((letter == 'L' || letter == 'I') && IsMisspeltPlaceholder(text, at))
                return Fail("%s: unknown placeholder '%s'; they are {name:PATH} and {size:PATH}",
                            where.c_str(), text.substr(at, text.find(':', at) + 1 - at).c_str());
            continue;
        }
        size_t end;
        std::string path = PlaceholderPath(text, at, &end);
        // A '{' before the '}' opens the next placeholder: this one is unclosed.
        if (end == std::string::npos || path.find('{') != std::string::npos)
            return Fail("%s: placeholder without its closing '}'", where.c_str());
        if (path.empty())
            return Fail("%s: placeholder without a file name", where.c_str());
        if (path.find(':') != std::string::npos)
            return Fail("%s: file name '%s' contains ':'", where.c_str(), path.c_str());
        if (path[0] == '/')
            return Fail("%s: file name '%s' is absolute; name it relative to the payload folder",
                        where.c_str(), path.c_str());
        if (AddFile(tmpl, folder, where, path, false, NamesLicence(text, path), &index) < 0)
            return -1;
        if (!ignoredLineWarned && strchr(kDirectiveLetters, letter) == nullptr) {
            ignoredLineWarned = true;
            Warn(
                "%s: the installer ignores this line (it starts with '%c', which is no "
                "directive), so it does nothing with %s",
                Where(*tmpl, line).c_str(), letter, path.c_str());
        }
    }
    return 0;
}

void WarnAboutMixedEncoding(const std::string &path, const std::string &raw, int codePage) {
    if (IsMixedEncoding(raw))
        Warn(
            "%s: read as code page %d text, yet it also holds UTF-8 letters, which will show "
            "garbled; save it in one encoding",
            path.c_str(), codePage);
}

// Warns when the licence box will show text badly: a paragraph broken
// into lines wider than the box, which the box breaks again into ragged
// lines (a paragraph written on one line wraps cleanly), or more lines
// than fit the screen, which hides the Yes and No buttons.
void WarnAboutLicenceBox(const std::string &path, const std::string &text) {
    std::vector<size_t> lengths;
    for (size_t start = 0; start <= text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        lengths.push_back(end - start - (end > start && text[end - 1] == '\r'));
        start = end + 1;
    }
    size_t boxLines = 0, raggedLine = 0;
    for (size_t i = 0; i < lengths.size(); i++) {
        boxLines +=
            lengths[i] == 0 ? 1 : (lengths[i] + kLicenceBoxColumns - 1) / kLicenceBoxColumns;
        bool hardWrapped = i + 1 < lengths.size() && lengths[i + 1] != 0;
        if (raggedLine == 0 && lengths[i] > kLicenceBoxColumns && hardWrapped)
            raggedLine = i + 1;
    }
    if (raggedLine != 0)
        Warn(
            "%s:%zu: line of %zu characters: the licence box wraps lines wider than about %d "
            "characters again, so a paragraph broken into lines this wide shows ragged; write "
            "each paragraph on one line",
            path.c_str(), raggedLine, lengths[raggedLine - 1], (int)kLicenceBoxColumns);
    if (boxLines > kLicenceBoxLines)
        Warn("%s: about %zu lines in the licence box; about %d fit a 768-pixel-high screen",
             path.c_str(), boxLines, (int)kLicenceBoxLines);
}

// Reads a licence, converts it to the code page and checks its size;
// warns when the licence box will show it badly.
int32_t LoadLicence(const Template &tmpl, PackedFile *file) {
    std::string raw, decoded, encoded;
    if (ReadInput(file->diskPath, kMaxLicenceFile, "licence", kMaxLicenceBytes, &raw) < 0)
        return -1;
    if (file->ready) {
        encoded = raw;
    } else {
        size_t bad;
        if (DecodeText(raw, tmpl.codePage, &decoded, &bad) < 0)
            return Fail("%s: byte 0x%02X at offset %zu is neither UTF-8 nor code page %d text",
                        file->diskPath.c_str(), (unsigned char)raw[bad], bad, tmpl.codePage);
        WarnAboutMixedEncoding(file->diskPath, raw, tmpl.codePage);
        if (EncodeText(decoded, tmpl.codePage, &encoded, &bad) < 0) {
            size_t lineStart = decoded.rfind('\n', bad == 0 ? 0 : bad - 1);
            lineStart = lineStart == std::string::npos || bad == 0 ? 0 : lineStart + 1;
            size_t line = 1 + std::count(decoded.begin(), decoded.begin() + lineStart, '\n');
            return Fail("%s:%zu:%zu: code page %d cannot represent %s", file->diskPath.c_str(),
                        line, ColumnOf(decoded.substr(lineStart), bad - lineStart), tmpl.codePage,
                        DescribeCharacter(decoded, bad).c_str());
        }
    }
    if (encoded.size() > kMaxLicenceBytes)
        return Fail("%s: licence of %zu bytes is over the limit of %d bytes",
                    file->diskPath.c_str(), encoded.size(), (int)kMaxLicenceBytes);
    WarnAboutLicenceBox(file->diskPath, encoded);
    file->text = encoded;
    file->size = encoded.size();
    return 0;
}

const PackedFile *FileOf(const Template &tmpl, const std::string &path, bool licence) {
    for (const PackedFile &file : tmpl.files)
        if (file.path == path && file.licence == licence)
            return &file;
    return nullptr;
}

// The line with its placeholders filled: digest names (or zeros before the
// files are hashed) and sizes.
std::string ExpandLine(const Template &tmpl, const std::string &text, bool withDigests) {
    std::string out;
    size_t at = 0;
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
        bool isName = StartsWith(text, open, kPlaceholderName);
        if (!isName && !StartsWith(text, open, kPlaceholderSize))
            continue;
        size_t end;
        std::string path = PlaceholderPath(text, open, &end);
        const PackedFile *file = FileOf(tmpl, path, NamesLicence(text, path));
        out += text.substr(at, open - at);
        if (!isName) {
            out += std::to_string(file->size);
        } else if (withDigests) {
            char name[kDigestNameLength + 1];
            DigestToName(&file->digest, name);
            out += name;
        } else {
            out += kZeroName;
        }
        at = end + 1;
        open = end;
    }
    return out + text.substr(at);
}

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

// The file that an L or I line names by a placeholder or a digest name, as
// FindFile knows it; empty when the line names none.
std::string LineFile(const std::string &text) {
    size_t end;
    if (StartsWith(text, 1, kPlaceholderName))
        return PlaceholderPath(text, 1, &end);
    return IsDigestNameAt(text, 1) ? text.substr(1, kDigestNameLength) : std::string();
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

// What the lines checked so far hold, for the rules that span lines.
struct LineState {
    ProductLines order = {};  // the T and V lines
    bool seenF = false, warnedBeforeFolder = false;
    std::vector<std::string> targets;  // of the I lines, case folded (UTF-8)
    std::vector<size_t> targetLines;
    std::vector<std::string> shortcutTargets;  // of the P lines (UTF-8)
    std::vector<size_t> shortcutLines;
};

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

// The rules over the whole description, once every line is checked.
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

// Checks one encoded line as the installer will read it.
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

// The byte offset of the first character of a template line that the code
// page cannot represent, placeholders aside (they become ASCII); npos if none.
size_t UnencodableAt(const std::string &text, int codePage) {
    std::string encoded;
    size_t bad;
    for (size_t at = 0; at < text.size();) {
        size_t end;
        if ((StartsWith(text, at, kPlaceholderName) || StartsWith(text, at, kPlaceholderSize)) &&
            (PlaceholderPath(text, at, &end), end != std::string::npos)) {
            at = end + 1;
            continue;
        }
        size_t next = at + 1;
        while (next < text.size() && ((unsigned char)text[next] & 0xC0) == 0x80)
            next++;
        if (EncodeText(text.substr(at, next - at), codePage, &encoded, &bad) < 0)
            return at;
        at = next;
    }
    return std::string::npos;
}

// One line of the description, filled and in the code page. 0, or -1 with
// a message naming the character the code page lacks.
int32_t EncodeLine(const Template &tmpl, size_t line, bool withDigests, std::string *encoded) {
    size_t bad;
    if (EncodeText(ExpandLine(tmpl, tmpl.lines[line], withDigests), tmpl.codePage, encoded, &bad) ==
        0)
        return 0;
    size_t at = UnencodableAt(tmpl.lines[line], tmpl.codePage);
    if (at == std::string::npos)
        return Fail("%s: text that code page %d cannot represent", Where(tmpl, line).c_str(),
                    tmpl.codePage);
    return Fail("%s: code page %d cannot represent %s", Where(tmpl, line, at).c_str(),
                tmpl.codePage, DescribeCharacter(tmpl.lines[line], at).c_str());
}

// The description in the code page; with check, every line is checked and
// every problem reported, not only the first. Lines refused while reading
// the template are not looked at again.
int32_t BuildText(const Template &tmpl, bool withDigests, bool check, std::string *out) {
    std::string text;
    LineState state;
    int32_t status = 0;
    for (size_t line = 0; line < tmpl.lines.size(); line++) {
        std::string encoded;
        if ((check && tmpl.refused[line]) || EncodeLine(tmpl, line, withDigests, &encoded) < 0 ||
            (check && CheckLine(tmpl, line, encoded, &state) < 0)) {
            // A refused line still counts as there: no "no V line" after "V line ..."
            char letter = tmpl.lines[line].empty() ? '\0' : tmpl.lines[line][0];
            (void)TakeDirective(&state.order, letter);
            state.seenF = state.seenF || letter == 'F';
            status = -1;
            continue;
        }
        text += encoded;
        if (line + 1 < tmpl.lines.size() || tmpl.endsWithNewline)
            text += '\n';
    }
    if (check && CheckAcrossLines(tmpl, state) < 0)
        status = -1;
    if (status == 0 && text.size() > kMaxDescriptionBytes)
        return Fail("%s: description of %zu bytes is over the limit of %d bytes", tmpl.path.c_str(),
                    text.size(), (int)kMaxDescriptionBytes);
    if (status == 0)
        *out = text;
    return status;
}

// Fills the {define:NAME} placeholders of a line with their values. 0, or
// -1 with a message for a name that was not defined.
int32_t FillDefines(const Template &tmpl, size_t line, const Defines &defines, std::string *text) {
    static const char kPlaceholderDefine[] = "{define:";
    std::string filled;
    size_t at = 0;
    for (size_t open = text->find(kPlaceholderDefine); open != std::string::npos;
         open = text->find(kPlaceholderDefine, at)) {
        size_t start = open + strlen(kPlaceholderDefine), end = text->find('}', start);
        if (end == std::string::npos)
            return Fail("%s: placeholder without its closing '}'", Where(tmpl, line, open).c_str());
        auto value = defines.find(text->substr(start, end - start));
        if (value == defines.end())
            return Fail("%s: %s is not defined; give --define %s=VALUE",
                        Where(tmpl, line, open).c_str(), text->substr(open, end + 1 - open).c_str(),
                        text->substr(start, end - start).c_str());
        filled += text->substr(at, open - at) + value->second;
        at = end + 1;
    }
    *text = filled + text->substr(at);
    return 0;
}

}  // namespace

int32_t LoadTemplate(const std::string &path, const std::string &payloadFolder, int codePage,
                     const Defines &defines, Template *out) {
    Template tmpl;
    tmpl.path = path;
    tmpl.codePage = codePage;
    std::string raw, decoded;
    if (ReadInput(path, kMaxTemplate, "description", kMaxDescriptionBytes, &raw) < 0)
        return -1;
    size_t bad;
    if (DecodeText(raw, codePage, &decoded, &bad) < 0)
        return Fail("%s: byte 0x%02X at offset %zu is neither UTF-8 nor code page %d text",
                    path.c_str(), (unsigned char)raw[bad], bad, codePage);
    WarnAboutMixedEncoding(path, raw, codePage);
    // Lines end at LF; a CR before it is dropped, so that the description
    // is written with LF line ends.
    tmpl.endsWithNewline = !decoded.empty() && decoded.back() == '\n';
    for (size_t start = 0; start < decoded.size();) {
        size_t end = decoded.find('\n', start);
        if (end == std::string::npos)
            end = decoded.size();
        std::string line = decoded.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        tmpl.lines.push_back(line);
        start = end + 1;
    }
    // Every line is looked at, so that one run reports every problem.
    int32_t status = 0;
    tmpl.refused.assign(tmpl.lines.size(), false);
    for (size_t line = 0; line < tmpl.lines.size(); line++)
        if (FillDefines(tmpl, line, defines, &tmpl.lines[line]) < 0 ||
            ScanLine(&tmpl, payloadFolder, line) < 0) {
            tmpl.refused[line] = true;
            status = -1;
        }
    for (PackedFile &file : tmpl.files)
        if (file.licence && LoadLicence(tmpl, &file) < 0)
            status = -1;
    std::string description;
    if (BuildText(tmpl, false, true, &description) < 0 || status < 0)
        return -1;
    *out = tmpl;
    return 0;
}

int32_t FillDescription(const Template &tmpl, std::string *description) {
    return BuildText(tmpl, true, false, description);
}

int32_t FindFile(const Template &tmpl, const std::string &path) {
    std::string wanted = path;
    for (char &c : wanted)
        if (c == '\\')
            c = '/';
    while (wanted.compare(0, 2, "./") == 0)
        wanted.erase(0, 2);
    int32_t found = -1;
    for (size_t i = 0; i < tmpl.files.size(); i++)
        if (tmpl.files[i].path == wanted && (found < 0 || !tmpl.files[i].licence))
            found = (int32_t)i;
    return found;
}
