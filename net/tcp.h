#ifndef NET_TCP_H
#define NET_TCP_H

// TCP connections and listeners over Winsock 1.1 with blocking sockets.
//
// The socket layer is one object in static storage, the node, reached
// through TcpStartup. Connections and listeners are objects of their own,
// made by the node with a count of 1 and closed at their last Release.
//
// Every method returns S_OK on success. A failed socket call gives
// E_UNEXPECTED with a "Windows" error object (source "Windows", the text of
// the Winsock code read right after the failing call) on the thread; other
// failures name their code and say when no error object is left. Outputs
// are written only on success. There is no buffering or retry.
//
// No call waits for ever: a connect gives up after 30 s, and every wait for
// the peer (a byte to read, room to write, an incoming connection) after
// 60 s without progress; both fail as a socket call with WSAETIMEDOUT
// ("Connection timed out."). After TcpCancel every wait, current or later,
// fails within a tenth of a second with WSAEINTR ("The system call was
// interrupted.").

#include <stdint.h>

#include "net/com.h"

// Each wait for a byte to arrive, for room to send or for an FTP server's
// data connection ends after 60 s of silence. The bound is on silence, not
// on the whole transfer, so a slow link that keeps bytes coming is never
// cut off; a minute covers the pauses of slow servers (a reverse lookup of
// the client's address before the greeting, a file fetched from slow
// storage before the first data byte) and still shows a user whose server
// has died an error box within a minute.
constexpr DWORD kIdleBoundMs = 60000;

// The bound on silence lets a server that trickles its lines, or sends them
// without end, hold a client for ever. So a protocol's whole answer (an
// HTTP response head, an FTP reply) must have arrived this long after its
// reading began; a read that starts before then may add its own minute of
// silence. The clients fail it as a socket call with WSAETIMEDOUT.
constexpr DWORD kWholeAnswerBoundMs = 60000;

// IPv4 address and port, both in network byte order.
struct SocketAddress {
    uint8_t address[4];
    uint8_t port[2];
};

struct ITcpSocket : public IUnknown {
    // The socket's local address and port (getsockname). For a listener the
    // address bytes are then replaced by the local host's first address
    // (ResolveName with null), so the result can be announced to a peer;
    // a failed lookup fails the call.
    virtual HRESULT STDMETHODCALLTYPE GetLocalAddress(SocketAddress *address) = 0;
    // New wide string "<name>:<port>": the reverse-lookup name of the local
    // address and the local port in decimal. E_OUTOFMEMORY (no error
    // object) when the string cannot be made.
    virtual HRESULT STDMETHODCALLTYPE GetLocalName(BSTR *name) = 0;
};

// A connected socket. Its IStream (QueryInterface with IID_IStream) reads
// and writes the connection:
//   Read(buffer, count, read): one recv of at most count bytes; *read is
//     the number received, 0 when the peer has closed (end of data).
//   Write(buffer, count, written): one send; *written is what the call
//     accepted, which may be less than count.
//   read and written may be null. The other nine IStream operations clear
//   the thread's error object and give E_NOTIMPL.
// QueryInterface answers ITcpConnection, ITcpSocket, IUnknown, IStream and
// ISupportErrorInfo; error information is given for ITcpConnection,
// ITcpSocket and IStream.
struct ITcpConnection : public ITcpSocket {
    // The peer's address and port as stored when the connection was made.
    virtual HRESULT STDMETHODCALLTYPE GetRemoteAddress(SocketAddress *address) = 0;
    // New wide string "<name>:<port>" for the peer, as GetLocalName.
    virtual HRESULT STDMETHODCALLTYPE GetRemoteName(BSTR *name) = 0;
};

// A listening socket. QueryInterface answers ITcpListener, ITcpSocket,
// IUnknown and ISupportErrorInfo; error information is given for
// ITcpListener and ITcpSocket.
struct ITcpListener : public ITcpSocket {
    // Waits for one incoming connection and gives it with a count of 1.
    // The listener stays open.
    virtual HRESULT STDMETHODCALLTYPE Accept(ITcpConnection **connection) = 0;
};

// The node. QueryInterface answers ITcpNode, INetNode, IUnknown (all the
// node itself) and ISupportErrorInfo; error information is given for
// ITcpNode and INetNode. AddRef and Release only count: the node is never
// freed and Winsock is never shut down.
struct ITcpNode : public IUnknown {
    // First IPv4 address of name (gethostbyname), or of the local host when
    // name is null. Writes only the 4 address bytes. A name that does not
    // fit 255 bytes of ANSI text gives E_UNEXPECTED with no error object.
    virtual HRESULT STDMETHODCALLTYPE ResolveName(LPCOLESTR name, uint8_t address[4]) = 0;
    // New wide string with the official name of the 4-byte address
    // (gethostbyaddr), or of the local host when address is null.
    // E_OUTOFMEMORY (no error object) when the string cannot be made.
    virtual HRESULT STDMETHODCALLTYPE ResolveAddress(const uint8_t *address, BSTR *name) = 0;
    // Opens a TCP connection to address. E_OUTOFMEMORY (no error object)
    // when the object cannot be allocated.
    virtual HRESULT STDMETHODCALLTYPE Connect(const SocketAddress *address,
                                              ITcpConnection **connection) = 0;
    // Opens a TCP connection to "host" or "host:port". With no colon the
    // port is defaultPort (host order). After the first colon the port is
    // read like atoi (leading blanks, one sign, digits up to the first
    // non-digit; none gives 0) and kept to 16 bits. Connects to the first
    // address of the host only. A text that does not fit 255 bytes of ANSI
    // text gives E_UNEXPECTED with no error object.
    virtual HRESULT STDMETHODCALLTYPE ConnectByName(LPCOLESTR host, USHORT defaultPort,
                                                    ITcpConnection **connection) = 0;
    // Listens on any local address at port (host order; 0 lets the system
    // choose) with a backlog of 16. E_OUTOFMEMORY (no error object) when the
    // object cannot be allocated.
    virtual HRESULT STDMETHODCALLTYPE Listen(USHORT port, ITcpListener **listener) = 0;
};

// Abandons the network for the rest of the process: every wait of this
// layer, on any thread, now and later, ends at once with WSAEINTR. Safe to
// call from any thread (the status window's Cancel); cannot be undone.
void TcpCancel(void);

// Starts Winsock (version 1.1) and gives the node with one more reference,
// the same pointer on every call; the caller releases it. Null, with no
// error object installed, when Winsock cannot start.
ITcpNode *TcpStartup(void);

#endif
