#include <winsock.h>

#include "net/tcp.h"

#include "net/decimal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

namespace {

// Every socket is non-blocking and every wait for the peer goes through
// WaitReady, so that no call can block the installer for ever.
//
// A connect ends after 30 s: an unanswered connect is given up by the
// system's own SYN retries after about 21 s, so this bound rarely decides,
// but it ends the connect that a server with a full listen queue would hold
// open indefinitely.
constexpr DWORD kConnectBoundMs = 30000;
// How often a wait looks at the cancel flag: a cancelled run stops within
// a tenth of a second.
constexpr DWORD kCancelSliceMs = 100;

// Set once by TcpCancel, from any thread; never cleared.
std::atomic<bool> cancelled;

enum class Readiness { kRead, kWrite, kConnected };

// Waits until sock can be read (or accepted from), written, or has finished
// connecting (successfully or not). 0 when it can; otherwise the Winsock
// code: WSAETIMEDOUT after boundMs, WSAEINTR once TcpCancel was called, or
// select's own failure.
int WaitReady(SOCKET sock, Readiness want, DWORD boundMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (cancelled)
            return WSAEINTR;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= boundMs)
            return WSAETIMEDOUT;
        DWORD slice = boundMs - elapsed < kCancelSliceMs ? boundMs - elapsed : kCancelSliceMs;
        timeval wait = {(long)(slice / 1000), (long)(slice % 1000) * 1000};
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(sock, &ready);
        FD_SET(sock, &failed);
        // A connect that fails is reported in the exception set; for reads
        // that set would only flag urgent data, which nothing here reads.
        int count = select(0, want == Readiness::kRead ? &ready : nullptr,
                           want == Readiness::kRead ? nullptr : &ready,
                           want == Readiness::kConnected ? &failed : nullptr, &wait);
        if (count == SOCKET_ERROR)
            return WSAGetLastError();
        if (count > 0)
            return 0;
    }
}

// Whether a connection whose data has ended was reset rather than closed.
// Windows reports a reset from recv itself; Wine, once it has polled the
// socket, reports it as the end of the data, and only a send shows it. An
// empty send sends nothing and fails with WSAECONNRESET on a reset
// connection alone.
bool WasReset(SOCKET sock) {
    return send(sock, "", 0, 0) == SOCKET_ERROR && WSAGetLastError() == WSAECONNRESET;
}

// A new TCP socket in non-blocking mode, or INVALID_SOCKET with the
// Winsock code in *code.
SOCKET OpenSocket(int *code) {
    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sock == INVALID_SOCKET) {
        *code = WSAGetLastError();
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    if (ioctlsocket(sock, FIONBIO, &nonBlocking) != 0) {
        *code = WSAGetLastError();
        (void)closesocket(sock);
        return INVALID_SOCKET;
    }
    return sock;
}

// Connects the non-blocking sock within the connect bound; 0 or the
// Winsock code.
int ConnectWithin(SOCKET sock, const sockaddr_in &to) {
    if (connect(sock, (const sockaddr *)&to, sizeof to) == 0)
        return 0;
    int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK)
        return code;
    code = WaitReady(sock, Readiness::kConnected, kConnectBoundMs);
    if (code != 0)
        return code;
    int result = 0, length = sizeof result;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, (char *)&result, &length) != 0)
        return WSAGetLastError();
    return result;
}

// Names are converted into buffers of this size, the Winsock 1.1 limit for
// host names; a longer text is refused rather than cut.
constexpr int kNameBufferSize = 256;

bool ToAnsiName(LPCOLESTR wide, char (&text)[kNameBufferSize]) {
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, text, kNameBufferSize, nullptr, nullptr) != 0;
}

// gethostname then gethostbyname of that name; null with the Winsock error
// installed on failure.
hostent *LookUpLocalHost() {
    char name[kNameBufferSize];
    if (gethostname(name, kNameBufferSize - 1) != 0) {
        RaiseWindowsError(WSAGetLastError());
        return nullptr;
    }
    hostent *host = gethostbyname(name);
    if (!host)
        RaiseWindowsError(WSAGetLastError());
    return host;
}

// A lookup answer without an IPv4 address is treated as "no data".
HRESULT FirstAddress(const hostent *host, uint8_t (&address)[4]) {
    if (host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list[0])
        return RaiseWindowsError(WSANO_DATA);
    memcpy(address, host->h_addr_list[0], 4);
    return S_OK;
}

void ToSocketAddress(const sockaddr_in &in, SocketAddress *out) {
    memcpy(out->address, &in.sin_addr, 4);
    memcpy(out->port, &in.sin_port, 2);
}

// "<reverse-lookup name>:<port>" as a new wide string.
HRESULT NameAndPort(const SocketAddress &address, BSTR *out) {
    hostent *host = gethostbyaddr((const char *)address.address, 4, AF_INET);
    if (!host)
        return RaiseWindowsError(WSAGetLastError());
    // A host name has at most 255 characters, within wsprintf's limit.
    size_t size = strlen(host->h_name) + 11;
    char *text = (char *)malloc(size);
    if (!text)
        return ClearError(E_OUTOFMEMORY);
    wsprintfA(text, "%s:%d", host->h_name, (address.port[0] << 8) | address.port[1]);
    BSTR wide = AnsiToBstr(text);
    free(text);
    if (!wide)
        return ClearError(E_OUTOFMEMORY);
    *out = wide;
    return S_OK;
}

HRESULT LocalSocketAddress(SOCKET sock, SocketAddress *out) {
    sockaddr_in local;
    int length = sizeof local;
    if (getsockname(sock, (sockaddr *)&local, &length) != 0)
        return RaiseWindowsError(WSAGetLastError());
    ToSocketAddress(local, out);
    return S_OK;
}

HRESULT LocalName(SOCKET sock, BSTR *out) {
    SocketAddress local;
    HRESULT hr = LocalSocketAddress(sock, &local);
    return FAILED(hr) ? hr : NameAndPort(local, out);
}

// --- connections --------------------------------------------------------------

class Connection final
    : public ComObject<Connection, ITcpConnection, ByteStream, ISupportErrorInfo> {
public:
    static const QiEntry kInterfaces[];

    SOCKET sock = INVALID_SOCKET;
    SocketAddress peer = {};

    ~Connection() {
        if (sock != INVALID_SOCKET)
            (void)closesocket(sock);
    }

    HRESULT STDMETHODCALLTYPE GetLocalAddress(SocketAddress *address) override {
        return LocalSocketAddress(sock, address);
    }
    HRESULT STDMETHODCALLTYPE GetLocalName(BSTR *name) override { return LocalName(sock, name); }
    HRESULT STDMETHODCALLTYPE GetRemoteAddress(SocketAddress *address) override {
        *address = peer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRemoteName(BSTR *name) override { return NameAndPort(peer, name); }

    HRESULT STDMETHODCALLTYPE Read(void *buffer, ULONG count, ULONG *read) override {
        int got;
        while ((got = recv(sock, (char *)buffer, ClampCount(count), 0)) == SOCKET_ERROR) {
            int code = WSAGetLastError();
            if (code == WSAEWOULDBLOCK)
                code = WaitReady(sock, Readiness::kRead, kIdleBoundMs);
            if (code != 0)
                return RaiseWindowsError(code);
        }
        if (got == 0 && WasReset(sock))
            return RaiseWindowsError(WSAECONNRESET);
        if (read)
            *read = (ULONG)got;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *buffer, ULONG count, ULONG *written) override {
        int sent;
        while ((sent = send(sock, (const char *)buffer, ClampCount(count), 0)) == SOCKET_ERROR) {
            int code = WSAGetLastError();
            if (code == WSAEWOULDBLOCK)
                code = WaitReady(sock, Readiness::kWrite, kIdleBoundMs);
            if (code != 0)
                return RaiseWindowsError(code);
        }
        if (written)
            *written = (ULONG)sent;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return IsEqualIID(iid, IID_ITcpConnection) || IsEqualIID(iid, IID_ITcpSocket) ||
                       IsEqualIID(iid, IID_IStream)
                   ? S_OK
                   : S_FALSE;
    }

private:
    // recv and send take an int count; a larger request is served in part,
    // which a stream caller must expect anyway.
    static int ClampCount(ULONG count) { return count > 0x7FFFFFFF ? 0x7FFFFFFF : (int)count; }
};

const QiEntry Connection::kInterfaces[] = {
    {&IID_ITcpConnection, 0}, {&IID_ITcpSocket, 0},        {&IID_IUnknown, 0},
    {&IID_IStream, 1},        {&IID_ISupportErrorInfo, 2}, {nullptr, 0},
};

// --- listeners ----------------------------------------------------------------

class Listener final : public ComObject<Listener, ITcpListener, ISupportErrorInfo> {
public:
    static const QiEntry kInterfaces[];

    SOCKET sock = INVALID_SOCKET;

    ~Listener() {
        if (sock != INVALID_SOCKET)
            (void)closesocket(sock);
    }

    HRESULT STDMETHODCALLTYPE GetLocalAddress(SocketAddress *address) override;
    HRESULT STDMETHODCALLTYPE GetLocalName(BSTR *name) override { return LocalName(sock, name); }
    HRESULT STDMETHODCALLTYPE Accept(ITcpConnection **connection) override {
        Connection *accepted = new (std::nothrow) Connection;
        if (!accepted)
            return ClearError(E_OUTOFMEMORY);
        sockaddr_in from;
        int code = AcceptWithin(&from, &accepted->sock);
        if (code != 0) {
            accepted->Release();
            return RaiseWindowsError(code);
        }
        ToSocketAddress(from, &accepted->peer);
        *connection = accepted;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return IsEqualIID(iid, IID_ITcpListener) || IsEqualIID(iid, IID_ITcpSocket) ? S_OK
                                                                                    : S_FALSE;
    }

private:
    // Accepts one connection within the idle bound into *accepted, made
    // non-blocking like every other socket; 0 or the Winsock code.
    int AcceptWithin(sockaddr_in *from, SOCKET *accepted) {
        SOCKET got;
        int length;
        for (;;) {
            length = sizeof *from;
            got = accept(sock, (sockaddr *)from, &length);
            if (got != INVALID_SOCKET)
                break;
            int code = WSAGetLastError();
            if (code == WSAEWOULDBLOCK)
                code = WaitReady(sock, Readiness::kRead, kIdleBoundMs);
            if (code != 0)
                return code;
        }
        u_long nonBlocking = 1;
        if (ioctlsocket(got, FIONBIO, &nonBlocking) != 0) {
            int code = WSAGetLastError();
            (void)closesocket(got);
            return code;
        }
        *accepted = got;
        return 0;
    }
};

const QiEntry Listener::kInterfaces[] = {
    {&IID_ITcpListener, 0},      {&IID_ITcpSocket, 0}, {&IID_IUnknown, 0},
    {&IID_ISupportErrorInfo, 1}, {nullptr, 0},
};

// --- the node -----------------------------------------------------------------

// The node is one object in static storage for the whole run. It counts
// its references but is never freed, and Winsock is never shut down.
class Node final : public ComInterfaces<Node, ITcpNode, ISupportErrorInfo> {
public:
    static const QiEntry kInterfaces[];

    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return IsEqualIID(iid, IID_ITcpNode) || IsEqualIID(iid, IID_INetNode) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE ResolveName(LPCOLESTR name, uint8_t address[4]) override;
    HRESULT STDMETHODCALLTYPE ResolveAddress(const uint8_t *address, BSTR *name) override;
    HRESULT STDMETHODCALLTYPE Connect(const SocketAddress *address,
                                      ITcpConnection **connection) override;
    HRESULT STDMETHODCALLTYPE ConnectByName(LPCOLESTR host, USHORT defaultPort,
                                            ITcpConnection **connection) override;
    HRESULT STDMETHODCALLTYPE Listen(USHORT port, ITcpListener **listener) override;

private:
    ULONG refs = 0;
};

const QiEntry Node::kInterfaces[] = {
    {&IID_ITcpNode, 0},          {&IID_INetNode, 0}, {&IID_IUnknown, 0},
    {&IID_ISupportErrorInfo, 1}, {nullptr, 0},
};

Node node;

HRESULT Node::ResolveName(LPCOLESTR name, uint8_t address[4]) {
    hostent *host;
    if (name) {
        char text[kNameBufferSize];
        if (!ToAnsiName(name, text))
            return ClearError(E_UNEXPECTED);
        host = gethostbyname(text);
        if (!host)
            return RaiseWindowsError(WSAGetLastError());
    } else {
        host = LookUpLocalHost();
        if (!host)
            return E_UNEXPECTED;
    }
    uint8_t found[4] = {};
    HRESULT hr = FirstAddress(host, found);
    if (SUCCEEDED(hr))
        memcpy(address, found, 4);
    return hr;
}

HRESULT Node::ResolveAddress(const uint8_t *address, BSTR *name) {
    hostent *host;
    if (address) {
        host = gethostbyaddr((const char *)address, 4, AF_INET);
        if (!host)
            return RaiseWindowsError(WSAGetLastError());
    } else {
        host = LookUpLocalHost();
        if (!host)
            return E_UNEXPECTED;
    }
    BSTR wide = AnsiToBstr(host->h_name);
    if (!wide)
        return ClearError(E_OUTOFMEMORY);
    *name = wide;
    return S_OK;
}

HRESULT Node::Connect(const SocketAddress *address, ITcpConnection **connection) {
    Connection *made = new (std::nothrow) Connection;
    if (!made)
        return ClearError(E_OUTOFMEMORY);
    made->peer = *address;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    memcpy(&to.sin_addr, address->address, 4);
    memcpy(&to.sin_port, address->port, 2);
    int code = 0;
    made->sock = OpenSocket(&code);
    if (made->sock != INVALID_SOCKET)
        code = ConnectWithin(made->sock, to);
    if (code != 0) {
        made->Release();
        return RaiseWindowsError(code);
    }
    *connection = made;
    return S_OK;
}

HRESULT Node::ConnectByName(LPCOLESTR host, USHORT defaultPort, ITcpConnection **connection) {
    char text[kNameBufferSize];
    if (!ToAnsiName(host, text))
        return ClearError(E_UNEXPECTED);
    USHORT port = HostTextPort(text, defaultPort);
    char *colon = strchr(text, ':');
    if (colon)
        *colon = '\0';
    hostent *found = gethostbyname(text);
    if (!found)
        return RaiseWindowsError(WSAGetLastError());
    SocketAddress address = {};
    HRESULT hr = FirstAddress(found, address.address);
    if (FAILED(hr))
        return hr;
    address.port[0] = (uint8_t)(port >> 8);
    address.port[1] = (uint8_t)port;
    return Connect(&address, connection);
}

HRESULT Node::Listen(USHORT port, ITcpListener **listener) {
    Listener *made = new (std::nothrow) Listener;
    if (!made)
        return ClearError(E_OUTOFMEMORY);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    int code = 0;
    made->sock = OpenSocket(&code);
    if (made->sock != INVALID_SOCKET &&
        (bind(made->sock, (sockaddr *)&local, sizeof local) != 0 || listen(made->sock, 16) != 0))
        code = WSAGetLastError();
    if (code != 0) {
        made->Release();
        return RaiseWindowsError(code);
    }
    *listener = made;
    return S_OK;
}

HRESULT Listener::GetLocalAddress(SocketAddress *address) {
    SocketAddress local;
    HRESULT hr = LocalSocketAddress(sock, &local);
    if (SUCCEEDED(hr))
        hr = node.ResolveName(nullptr, local.address);
    if (SUCCEEDED(hr))
        *address = local;
    return hr;
}

}  // namespace

void TcpCancel(void) {
    cancelled = true;
}

ITcpNode *TcpStartup(void) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return nullptr;
    node.AddRef();
    return &node;
}
