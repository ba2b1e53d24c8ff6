#include "wfs/wfs.h"

#include <stdlib.h>
#include <string.h>

#include "net/tcp.h"
#include "wfs/sha1.h"
#include "wfs/source.h"
#include "wfs/store.h"

namespace {

enum { kRequestNameSize = kWfsMaxBaseUrl + kDigestNameLength + 1 };

const char kNoConnection[] = "no connection open";
const char kDigestMismatch[] = "downloaded file does not match its message digest!";

// One place to look for a data resource, in the order the store tries them.
struct Route {
    const WfsSource *source;
    const char *host;  // handed to the source's Connect before its first open
    const char *base;  // prefix of every request name
    bool download;     // a server, with the LATEST file beside the resources
    bool connected;    // Connect succeeded; cleared only by WfsShutdown
};

// Every open walks this order: the empty resource and the executable's own
// resources first, then the servers. Only the last route's failure is ever
// reported; an earlier one only means that the resource is not there.
// WfsInit fills in the servers' hosts and bases.
enum { kEmptyRoute, kResourceRoute, kHttpRoute, kFtpRoute, kRouteCount };
Route routes[kRouteCount] = {
    {&kEmptySource, "", "", false, false},
    {&kResourceSource, "", "", false, false},
    {&kHttpSource, "", "", true, false},
    {&kFtpSource, "", "", true, false},
};

char *httpBase;
char *ftpHost;       // between "ftp://" and the first '/'
const char *ftpDir;  // from that '/' on, in the same block as ftpHost
const WfsSource *current;
Digest expected;
Sha1Context hash;
const char *lastError;

bool IsLastRoute(const Route *route) {
    return route == &routes[kRouteCount - 1];
}

// "ftp://host/dir" becomes "host\0/dir" in one block: the text from the '/'
// on moves one place right to make room for the host's terminator.
int32_t SplitFtpUrl(const char *url) {
    if (strncmp(url, "ftp://", 6) != 0) {
        lastError = "invalid FTP URL";
        return -1;
    }
    size_t length = strlen(url + 6);
    char *copy = (char *)malloc(length + 2);
    if (copy == nullptr) {
        lastError = "out of memory";
        return -1;
    }
    memcpy(copy, url + 6, length + 1);
    char *slash = strchr(copy, '/');
    if (slash == nullptr) {
        free(copy);
        lastError = "invalid FTP URL";
        return -1;
    }
    memmove(slash + 1, slash, strlen(slash) + 1);
    *slash = '\0';
    free(ftpHost);
    ftpHost = copy;
    ftpDir = slash + 1;
    return 0;
}

// Fills name with base followed by suffix; the bases were checked by
// WfsInit to leave room for any suffix of a digest name's length.
void BuildRequestName(char *name, const char *base, const char *suffix) {
    size_t baseLength = strlen(base);
    memcpy(name, base, baseLength);
    memcpy(name + baseLength, suffix, strlen(suffix) + 1);
}

// Connects the route's source on its first use (a failed attempt is tried
// again by the next open), then opens the base followed by suffix.
int32_t OpenOnRoute(Route *route, const char *suffix) {
    if (!route->connected) {
        if (route->source->Connect(route->host, nullptr, nullptr) < 0)
            return -1;
        route->connected = true;
    }
    char name[kRequestNameSize];
    BuildRequestName(name, route->base, suffix);
    return route->source->Open(name);
}

// Open, one read, close: the one way a whole resource is read, from the
// store or from a single source. Returns the read's count, -1 on failure
// (the step that failed has set its text; after a failed read nothing is
// closed, so that text stays valid).
template <class Open, class Read, class Close>
int32_t ReadWhole(Open open, Read read, Close close) {
    if (open() < 0)
        return -1;
    int32_t n = read();
    if (n < 0)
        return -1;
    if (close() < 0)
        return -1;
    return n;
}

}  // namespace

int32_t WfsNoConnection(const char *, const char *, const char *) {
    return 0;
}

// Releases a data resource left open by a caller that stopped early. Its
// result and text do not concern the caller's next operation, so the last
// error stays what it was.
static void AbandonOpen(void) {
    if (current == nullptr)
        return;
    const char *kept = lastError;
    (void)WfsClose();
    lastError = kept;
}

int32_t WfsInit(const char *httpBaseUrl, const char *ftpBaseUrl) {
    char *http = strdup(httpBaseUrl);
    if (http == nullptr) {
        lastError = "out of memory";
        return -1;
    }
    free(httpBase);
    httpBase = http;
    if (SplitFtpUrl(ftpBaseUrl) < 0)
        return -1;
    if (strlen(httpBase) > kWfsMaxBaseUrl || strlen(ftpDir) > kWfsMaxBaseUrl) {
        lastError = "base URL too long";
        return -1;
    }
    routes[kHttpRoute].base = httpBase;
    routes[kFtpRoute].host = ftpHost;
    routes[kFtpRoute].base = ftpDir;
    for (const Route &route : routes) {
        if (route.source->Init() < 0) {
            lastError = route.source->ErrorText();
            return -1;
        }
    }
    return 0;
}

int32_t WfsOpen(const Digest *digest) {
    AbandonOpen();
    expected = *digest;
    Sha1Init(&hash);
    char digestName[kDigestNameLength + 1];
    DigestToName(digest, digestName);
    for (Route &route : routes) {
        if (OpenOnRoute(&route, digestName) >= 0) {
            current = route.source;
            return 0;
        }
        if (IsLastRoute(&route))
            lastError = route.source->ErrorText();
    }
    return -1;
}

int32_t WfsRead(void *buffer, uint32_t count) {
    if (current == nullptr) {
        lastError = kNoConnection;
        return -1;
    }
    int32_t n = current->Read(buffer, count);
    if (n < 0) {
        lastError = current->ErrorText();
        return n;
    }
    Sha1Update(&hash, buffer, (uint32_t)n);
    return n;
}

int32_t WfsClose(void) {
    if (current == nullptr) {
        lastError = kNoConnection;
        return -1;
    }
    const WfsSource *source = current;
    // Nothing may be read or closed twice: the source is given up here.
    current = nullptr;
    if (source->Close() < 0) {
        lastError = source->ErrorText();
        return -1;
    }
    Sha1Final(&hash);
    Digest actual;
    DigestFromHash(&hash, &actual);
    if (!DigestEqual(&actual, &expected)) {
        lastError = kDigestMismatch;
        return -1;
    }
    return 0;
}

int32_t WfsReadAll(const Digest *digest, void *buffer, uint32_t capacity) {
    return ReadWhole([&] { return WfsOpen(digest); }, [&] { return WfsRead(buffer, capacity); },
                     [] { return WfsClose(); });
}

const char *WfsLastError(void) {
    return lastError;
}

void WfsShutdown(void) {
    AbandonOpen();
    for (int i = kRouteCount - 1; i >= 0; i--) {
        routes[i].source->Shutdown();
        routes[i].connected = false;
    }
}

int32_t WfsReadFromServers(const char *name, void *buffer, uint32_t capacity) {
    for (Route &route : routes) {
        if (!route.download)
            continue;
        int32_t n = ReadWhole([&] { return OpenOnRoute(&route, name); },
                              [&] { return route.source->Read(buffer, capacity); },
                              [&] { return route.source->Close(); });
        if (n >= 0)
            return n;
        if (IsLastRoute(&route))
            lastError = route.source->ErrorText();
    }
    return -1;
}

void WfsSetLastError(const char *text) {
    lastError = text;
}

void WfsCancel(void) {
    TcpCancel();
}
