#include "wfs/wfs.h"

#include <stdlib.h>
#include <string.h>

#include "crypto/dsa.h"
#include "wfs/sha1.h"
#include "wfs/source.h"

namespace {

// A base is followed by a digest name (or "LATEST") in one request name.
enum { kMaxBaseLength = 249, kRequestNameSize = kMaxBaseLength + kDigestNameLength + 1 };

const char kNoConnection[] = "no connection open";
const char kDigestMismatch[] = "downloaded file does not match its message digest!";

char *httpBase;
char *ftpHost;       // between "ftp://" and the first '/'
const char *ftpDir;  // from that '/' on, in the same block as ftpHost
bool ftpConnected;
const WfsSource *current;
Digest expected;
Sha1Context hash;
const char *lastError;

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

int32_t InitSource(const WfsSource *source) {
    if (source->Init() < 0) {
        lastError = source->ErrorText();
        return -1;
    }
    return 0;
}

int32_t ConnectFtp(void) {
    if (ftpConnected)
        return 0;
    if (kFtpSource.Connect(ftpHost, nullptr, nullptr) < 0) {
        lastError = kFtpSource.ErrorText();
        return -1;
    }
    ftpConnected = true;
    return 0;
}

}  // namespace

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
    if (strlen(httpBase) > kMaxBaseLength || strlen(ftpDir) > kMaxBaseLength) {
        lastError = "base URL too long";
        return -1;
    }
    if (InitSource(&kResourceSource) < 0 || InitSource(&kHttpSource) < 0 ||
        InitSource(&kFtpSource) < 0)
        return -1;
    return 0;
}

int32_t WfsOpen(const Digest *digest) {
    AbandonOpen();
    expected = *digest;
    Sha1Init(&hash);

    char digestName[kDigestNameLength + 1];
    DigestToName(digest, digestName);
    if (kResourceSource.Open(digestName) >= 0) {
        current = &kResourceSource;
        return 0;
    }

    char name[kRequestNameSize];
    BuildRequestName(name, httpBase, digestName);
    if (kHttpSource.Open(name) >= 0) {
        current = &kHttpSource;
        return 0;
    }

    if (ConnectFtp() < 0)
        return -1;
    BuildRequestName(name, ftpDir, digestName);
    if (kFtpSource.Open(name) < 0) {
        lastError = kFtpSource.ErrorText();
        return -1;
    }
    current = &kFtpSource;
    return 0;
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
    memcpy(actual.word, hash.state, sizeof actual.word);
    if (!DigestEqual(&actual, &expected)) {
        lastError = kDigestMismatch;
        return -1;
    }
    return 0;
}

int32_t WfsReadAll(const Digest *digest, void *buffer, uint32_t capacity) {
    if (WfsOpen(digest) < 0)
        return -1;
    int32_t n = WfsRead(buffer, capacity);
    if (n < 0)
        return -1;
    if (WfsClose() < 0)
        return -1;
    return n;
}

const char *WfsLastError(void) {
    return lastError;
}

void WfsShutdown(void) {
    AbandonOpen();
    kResourceSource.Shutdown();
    kFtpSource.Shutdown();
    kHttpSource.Shutdown();
    ftpConnected = false;
}

int32_t WfsFetchLatest(const DsaKey *key, uint32_t out[5]) {
    char name[kRequestNameSize];
    unsigned char latest[LATEST_FILE_SIZE];
    BuildRequestName(name, httpBase, "LATEST");
    // Only the first 60 bytes are asked for; more would not be read anyway.
    int32_t n = kHttpSource.FetchWhole(name, latest, sizeof latest);
    if (n < 0) {
        // The HTTP failure leaves no trace: only the FTP attempt reports.
        if (ConnectFtp() < 0)
            return -1;
        BuildRequestName(name, ftpDir, "LATEST");
        n = kFtpSource.FetchWhole(name, latest, sizeof latest);
        if (n < 0) {
            lastError = kFtpSource.ErrorText();
            return -1;
        }
    }
    const char *error;
    if (LatestVerify(latest, (uint32_t)n, key, out, &error) < 0) {
        lastError = error;
        return -1;
    }
    return 0;
}
