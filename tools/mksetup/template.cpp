#include "tools/mksetup/template.h"

#include <inttypes.h>
#include <string.h>

#include <algorithm>

#include "setup/rules.h"
#include "tools/mksetup/acceptance.h"
#include "tools/mksetup/codepage.h"
#include "tools/mksetup/fileio.h"
#include "tools/mksetup/licencebox.h"
#include "tools/mksetup/placeholders.h"
#include "tools/mksetup/platform.h"

namespace {

// The packager's own limits; the installer's are in setup/rules.h.
enum {
    kMaxTemplate = 1 << 20,
    kMaxLicenceFile = 64 * 1024,
};

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

}  // namespace

std::string Where(const Template &tmpl, size_t line, size_t at) {
    std::string where = tmpl.path + ":" + std::to_string(line + 1);
    if (at != std::string::npos)
        where += ":" + std::to_string(ColumnOf(tmpl.lines[line], at));
    return where;
}

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
