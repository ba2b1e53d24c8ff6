#include "tools/mksetup/baseurl.h"

#include <stdlib.h>
#include <string.h>

#include "tools/mksetup/platform.h"
#include "wfs/wfs.h"

namespace {

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

}  // namespace

int32_t CheckBaseUrl(const char *option, const std::string &url, const char *scheme) {
    const char *form =
        strcmp(scheme, "http") == 0 ? "http://host[:port]/path/" : "ftp://host[:port]/path/";
    std::string prefix = std::string(scheme) + "://";
    if (url.size() > kWfsMaxBaseUrl)
        return Fail("%s %s: %zu characters; the installer takes at most %d", option, url.c_str(),
                    url.size(), (int)kWfsMaxBaseUrl);
    if (url.compare(0, prefix.size(), prefix) != 0)
        return Fail("%s %s: not of the form %s", option, url.c_str(), form);
    size_t at = prefix.size(), host = at;
    while (at < url.size() && IsHostCharacter(url[at]))
        at++;
    bool hostOk = at > host;
    if (hostOk && at < url.size() && url[at] == ':') {
        size_t digits = ++at;
        while (at < url.size() && url[at] >= '0' && url[at] <= '9')
            at++;
        hostOk = at > digits && at - digits <= 5 && atoi(url.c_str() + digits) >= 1 &&
                 atoi(url.c_str() + digits) <= 65535;
    }
    if (!hostOk || at >= url.size() || url[at] != '/')
        return Fail("%s %s: not of the form %s", option, url.c_str(), form);
    for (; at < url.size(); at++)
        if ((unsigned char)url[at] <= ' ' || (unsigned char)url[at] >= 0x7F || url[at] == '?' ||
            url[at] == '#')
            return Fail("%s %s: a base URL holds no blanks, '?', '#' or non-ASCII characters",
                        option, url.c_str());
    if (url.back() != '/')
        return Fail("%s %s: a base URL must end in '/' (the digest name is appended to it)", option,
                    url.c_str());
    return 0;
}
