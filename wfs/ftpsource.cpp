#include "wfs/ftpsource.h"

#include <stdlib.h>

#include "wfs/netsource.h"

#include "net/ftp.h"

namespace {

NetSource net;
IFtpClient *client;  // logged in, type I; null until Connect succeeds
// Every retrieval starts at the beginning of the file.
constexpr uint64_t kStartOffset = 0;
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
    NetSourceDropStream(&net);
    ReleaseAndClear(&client);
    transferBroken = false;
}

// Captures the failure of a client call, then drops the half-made session.
int32_t FailConnect(HRESULT code) {
    int32_t result = SourceErrorCapture(&net.failure, code);
    Disconnect();
    return result;
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
    HRESULT hr = CreateFtpClient(net.node, host, &made);
    if (FAILED(hr))
        return SourceErrorCapture(&net.failure, hr);
    client = made;
    if (FAILED(hr = LogIn(user, password)) || FAILED(hr = client->SetType('I', 0)) ||
        FAILED(hr = client->QueryInterface(IID_IStream, (void **)&net.stream))) {
        net.stream = nullptr;
        return FailConnect(hr);
    }
    return 0;
}

int32_t FtpConnect(const char *host, const char *user, const char *password) {
    SourceErrorClear(&net.failure);
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
    SourceErrorClear(&net.failure);
    if (transferBroken)
        Disconnect();  // a broken transfer that was not closed
    if (!client && login[0]) {
        int32_t result = ConnectWide(login[0], login[1], login[2]);
        if (result != 0)
            return result;
    }
    if (!client)
        return E_POINTER;
    ReadAheadReset(&net.ahead);
    HRESULT hr = client->Retrieve(path, kStartOffset);
    return FAILED(hr) ? SourceErrorCapture(&net.failure, hr) : 0;
}

int32_t FtpOpen(const char *path) {
    WideText wide;
    int32_t result = NetSourceWideName(&net, path, &wide);
    return result != 0 ? result : OpenWide(wide.text);
}

using Entries = NetSourceEntries<&net>;

int32_t FtpRead(void *buffer, uint32_t count) {
    int32_t result = Entries::Read(buffer, count);
    transferBroken = transferBroken || result < 0;
    return result;
}

int32_t FtpClose(void) {
    SourceErrorClear(&net.failure);
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
    ReadAheadReset(&net.ahead);
    HRESULT hr = client->EndTransfer();
    return FAILED(hr) ? SourceErrorCapture(&net.failure, hr) : 0;
}

void FtpShutdown(void) {
    Disconnect();
    ForgetLogin();
    NetSourceStop(&net);
}

}  // namespace

const WfsSource kFtpSource = {
    Entries::Init, FtpConnect, FtpOpen, FtpRead, FtpClose, FtpShutdown, Entries::ErrorText,
};
