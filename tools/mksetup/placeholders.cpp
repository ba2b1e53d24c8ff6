#include "tools/mksetup/placeholders.h"

#include <ctype.h>
#include <string.h>

#include "tools/mksetup/codepage.h"
#include "tools/mksetup/platform.h"

namespace {

const char kZeroName[] = "00000000000000000000000000000000";

const PackedFile *FileOf(const Template &tmpl, const std::string &path, bool licence) {
    for (const PackedFile &file : tmpl.files)
        if (file.path == path && file.licence == licence)
            return &file;
    return nullptr;
}

}  // namespace

bool StartsWith(const std::string &text, size_t at, const char *prefix) {
    return text.compare(at, strlen(prefix), prefix) == 0;
}

bool IsDigestNameAt(const std::string &text, size_t at) {
    Digest digest;
    return text.size() >= at + kDigestNameLength + 1 && text[at + kDigestNameLength] == ':' &&
           NameToDigest(text.c_str() + at, &digest) == 0;
}

std::string PlaceholderPath(const std::string &text, size_t open, size_t *end) {
    size_t start = open + strlen(kPlaceholderName);
    *end = text.find('}', start);
    std::string path = text.substr(start, *end == std::string::npos ? *end : *end - start);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    return path;
}

bool NamesLicence(const std::string &text, const std::string &path) {
    size_t end;
    return !text.empty() && text[0] == 'L' && StartsWith(text, 1, kPlaceholderName) &&
           PlaceholderPath(text, 1, &end) == path;
}

bool IsMisspeltPlaceholder(const std::string &text, size_t open) {
    size_t at = open + 1;
    while (at < text.size() && isalpha((unsigned char)text[at]))
        at++;
    return at > open + 1 && at < text.size() && text[at] == ':';
}

std::string LineFile(const std::string &text) {
    size_t end;
    if (StartsWith(text, 1, kPlaceholderName))
        return PlaceholderPath(text, 1, &end);
    return IsDigestNameAt(text, 1) ? text.substr(1, kDigestNameLength) : std::string();
}

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
