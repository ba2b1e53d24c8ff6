#include "wfs/ftpsource.h"

#include <stdlib.h>

#include "wfs/netsource.h"

#include "net/ftp.h"

namespace {

ITcpNode *node;
IFtpClient *client;  // logged in, type I; null until Connect succeeds
IStream *stream;     // the client's data stream
// Every retrieval starts at the beginning of the file.
constexpr uint64_t kStartOffset = 0;
SourceError failure;  // the latest failure
ReadAhead ahead;      // file bytes received but not yet handed out
// The login of the session, so that the next open can make it again once
// a broken transfer has ended it (see FtpClose).
BSTR login[3];        // host, user, password; user and password may be null
bool transferBroken;  // a read of the current transfer failed

void ForgetLogin() {
    for (BSTR &text : login) {
        SysFreeString(text);
        text = nullptr;
    }
}

void Disconnect() {
    ReadAheadReset(&ahead);
    if (stream)
        stream->Release();
    if (client)
        client->Release();
    stream = nullptr;
    client = nullptr;
    transferBroken = false;
}

// Captures the failure of a client call, then drops the half-made session.
int32_t FailConnect(HRESULT code) {
    int32_t result = SourceErrorCapture(&failure, code);
    Disconnect();
    return result;
}

int32_t FtpInit(void) {
    return SourceStartNode(&node, &failure);
}

HRESULT LogIn(LPCOLESTR user, LPCOLESTR password) {
    if (user)
        return client->Login(user, password, nullptr);
    BSTR anonymous = MakeFtpPassword();
    HRESULT hr = client->Login(L"anonymous", anonymous, nullptr);
    SysFreeString(anonymous);
    return hr;
}

int32_t ConnectWide(LPCOLESTR host, LPCOLESTR user, LPCOLESTR password) {
    Disconnect();
    IFtpClient *made = nullptr;
    HRESULT hr = CreateFtpClient(node, host, &made);
    if (FAILED(hr))
        return SourceErrorCapture(&failure, hr);
    client = made;
    if (FAILED(hr = LogIn(user, password)) || FAILED(hr = client->SetType('I', 0)) ||
        FAILED(hr = client->QueryInterface(IID_IStream, (void **)&stream))) {
        stream = nullptr;
        return FailConnect(hr);
    }
    return 0;
}

int32_t FtpConnect(const char *host, const char *user, const char *password) {
    SourceErrorClear(&failure);
    if (!host)
        return E_POINTER;
    BSTR wideHost = AnsiToBstr(host);
    BSTR wideUser = user ? AnsiToBstr(user) : nullptr;
    BSTR widePassword = password ? AnsiToBstr(password) : nullptr;
    int32_t result = E_OUTOFMEMORY;
    if (wideHost && (wideUser || !user) && (widePassword || !password))
        result = ConnectWide(wideHost, wideUser, widePassword);
    ForgetLogin();
    login[0] = wideHost;
    login[1] = wideUser;
    login[2] = widePassword;
    if (result != 0)
        ForgetLogin();
    return result;
}

int32_t OpenWide(LPCOLESTR path) {
    SourceErrorClear(&failure);
    if (transferBroken)
        Disconnect();  // a broken transfer that was not closed
    if (!client && login[0]) {
        int32_t result = ConnectWide(login[0], login[1], login[2]);
        if (result != 0)
            return result;
    }
    if (!client)
        return E_POINTER;
    ReadAheadReset(&ahead);
    HRESULT hr = client->Retrieve(path, kStartOffset);
    return FAILED(hr) ? SourceErrorCapture(&failure, hr) : 0;
}

int32_t FtpOpen(const char *path) {
    return SourceOpen(&failure, path, OpenWide);
}

int32_t FtpRead(void *buffer, uint32_t count) {
    int32_t result = SourceRead(&failure, stream, &ahead, buffer, count);
    transferBroken = transferBroken || result < 0;
    return result;
}

int32_t FtpClose(void) {
    SourceErrorClear(&failure);
    if (!client)
        return E_POINTER;
    if (transferBroken) {
        // The data connection stalled or broke: a server in that state
        // seldom sends its transfer reply, and waiting out the time-out
        // for it would hold the user after the error was already shown.
        // The session ends here; the next open logs in again.
        Disconnect();
        return 0;
    }
    ReadAheadReset(&ahead);
    HRESULT hr = client->EndTransfer();
    return FAILED(hr) ? SourceErrorCapture(&failure, hr) : 0;
}

void FtpShutdown(void) {
    Disconnect();
    ForgetLogin();
    SourceStopNode(&node, &failure);
}

const char *FtpErrorText(void) {
    return SourceErrorText(&failure);
}

}  // namespace

const WfsSource kFtpSource = {
    FtpInit, FtpConnect, FtpOpen, FtpRead, FtpClose, FtpShutdown, FtpErrorText,
};
