#ifndef NET_FTP_H
#define NET_FTP_H

// FTP client with active-mode data connections.
//
// One control connection is opened when the client is created; each
// transfer listens on a fresh local port, announces it with PORT and accepts
// the server's data connection. Replies are read one at a time by the
// reader of net/ftpreply.h: lines of any length, the final line kept (its
// first 192 bytes when it is longer than 254), a reply of more than 64 KiB
// refused with kFtpReplyTooLong. A reply of class 4 or 5 to any command ends
// the operation with kFtpRefusalBase plus the reply number (550 gives
// 0x8004F626) and an error object whose description is the reply line. Other failures return one of
// the codes below with its constant error record on the thread (source "FTP client", identifier
// IID_IFtpClient), merged with the inner object's error where the failure came from one (see
// net/com.h).
//
// Wide names are converted to the ANSI code page into a 256-byte command
// buffer: after a five-character verb ("USER ", "RETR ", ...) they may take
// 248 bytes, after a four-character one ("CWD ", "MKD ", "RMD ") 249. A longer
// name, or one that does not convert (null included), fails before its
// command is sent.

#include <stdint.h>

#include "net/com.h"
#include "net/tcp.h"

// A reply of class 4 or 5: this base plus the reply number, 0x8004F590 to
// 0x8004F657.
constexpr HRESULT kFtpRefusalBase = static_cast<HRESULT>(0x8004F400);

// Failure codes of the client, each with its constant error record.
enum : HRESULT {
    kFtpCtrlReadFailed = static_cast<HRESULT>(0x8004F101),
    kFtpCtrlEof = static_cast<HRESULT>(0x8004F102),
    kFtpCtrlWriteFailed = static_cast<HRESULT>(0x8004F103),
    kFtpReplyTooLong = static_cast<HRESULT>(0x8004F104),
    kFtpDataOpenFailed = static_cast<HRESULT>(0x8004F105),
    kFtpDataReadFailed = static_cast<HRESULT>(0x8004F106),
    kFtpDataWriteFailed = static_cast<HRESULT>(0x8004F107),
    kFtpDataAlreadyOpen = static_cast<HRESULT>(0x8004F108),
    kFtpDataNotOpen = static_cast<HRESULT>(0x8004F109),
    kFtpNotLoggedIn = static_cast<HRESULT>(0x8004F10A),
    kFtpAlreadyLoggedIn = static_cast<HRESULT>(0x8004F10B),  // never raised
    kFtpConnectFailed = static_cast<HRESULT>(0x8004F10C),
    kFtpBadUser = static_cast<HRESULT>(0x8004F10D),
    kFtpBadPassword = static_cast<HRESULT>(0x8004F10E),
    kFtpBadAccount = static_cast<HRESULT>(0x8004F10F),  // never raised
    kFtpLoginRefused = static_cast<HRESULT>(0x8004F110),
    kFtpBadFileName = static_cast<HRESULT>(0x8004F111),
    kFtpBadType = static_cast<HRESULT>(0x8004F112),
    kFtpUnexpectedReply = static_cast<HRESULT>(0x8004F113),
};

// The client. Every command operation except Login fails with
// kFtpNotLoggedIn, sending nothing, until a Login has succeeded.
// QueryInterface answers IFtpClient, IUnknown, IStream and
// ISupportErrorInfo; error information is given for every identifier.
//
// Its IStream moves the bytes of the open transfer:
//   Read(buffer, count, read): reads the data connection until count bytes
//     are in the buffer or the server has closed it, so fewer than count
//     means the file has ended. kFtpDataReadFailed (merged) on failure.
//   Write(buffer, count, written): sends until all is accepted or a send
//     accepts nothing. kFtpDataWriteFailed (merged) on failure.
//   Both give kFtpDataNotOpen with no transfer open; read and written may be
//   null. The other nine IStream operations clear the thread's error object
//   and give E_NOTIMPL.
struct IFtpClient : public IUnknown {
    // REIN first when already logged in (the client then stays logged out
    // if USER or PASS fails), USER, and PASS when USER is answered with
    // class 3 (an empty password when password is null). The account is not
    // used. E_POINTER (no error object) for a null user; kFtpBadUser or
    // kFtpBadPassword for a name that does not fit; kFtpLoginRefused merged
    // with the last reply line when that reply is not of class 2.
    virtual HRESULT STDMETHODCALLTYPE Login(LPCOLESTR user, LPCOLESTR password,
                                            LPCOLESTR account) = 0;
    // CWD; expects class 2, else kFtpUnexpectedReply.
    virtual HRESULT STDMETHODCALLTYPE ChangeDirectory(LPCOLESTR path) = 0;
    // Stands for no command: clears the thread's error object, E_NOTIMPL.
    virtual HRESULT STDMETHODCALLTYPE Reserved(LPCOLESTR argument) = 0;
    // CDUP; expects class 2, else kFtpUnexpectedReply.
    virtual HRESULT STDMETHODCALLTYPE ChangeToParentDirectory() = 0;
    // TYPE: 'A' or 'E' with format 0 (sent as 'N'), 'N', 'T' or 'C'; 'I'
    // (format ignored); 'L' with the byte size 0..2147483647 as format.
    // Anything else gives kFtpBadType with nothing sent. Any reply that is
    // not a refusal is accepted.
    virtual HRESULT STDMETHODCALLTYPE SetType(char type, uint32_t format) = 0;
    // Open a transfer: PORT, then REST offset when offset is nonzero
    // (E_NOTIMPL with no error object, after PORT, for offsets of 2^32 or
    // more), then RETR or STOR with the name, which must be answered with
    // class 1 (else kFtpUnexpectedReply), then accept the data connection.
    // kFtpDataAlreadyOpen while a transfer is open; kFtpDataOpenFailed
    // (merged) when listening or accepting fails; kFtpBadFileName, after
    // PORT and REST went out, for a name that does not fit. On failure no
    // transfer is open.
    virtual HRESULT STDMETHODCALLTYPE Retrieve(LPCOLESTR name, uint64_t offset) = 0;
    virtual HRESULT STDMETHODCALLTYPE Store(LPCOLESTR name, uint64_t offset) = 0;
    // As Store with offset 0, with APPE.
    virtual HRESULT STDMETHODCALLTYPE Append(LPCOLESTR name) = 0;
    // Closes the data connection and requires the reply number 226 (any
    // other reply, another 2xx included, gives kFtpUnexpectedReply). With no
    // transfer open it succeeds and sends nothing.
    virtual HRESULT STDMETHODCALLTYPE EndTransfer() = 0;
    // RNFR (expects class 3) then RNTO (expects class 2); kFtpBadFileName
    // for a name that does not fit, checked just before its command.
    virtual HRESULT STDMETHODCALLTYPE Rename(LPCOLESTR from, LPCOLESTR to) = 0;
    // DELE, MKD, RMD; each expects class 2, else kFtpUnexpectedReply.
    virtual HRESULT STDMETHODCALLTYPE Delete(LPCOLESTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE MakeDirectory(LPCOLESTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveDirectory(LPCOLESTR path) = 0;
    // As Retrieve with offset 0, with LIST or NLST.
    virtual HRESULT STDMETHODCALLTYPE List(LPCOLESTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE NameList(LPCOLESTR path) = 0;
};

// Connects to "host" or "host:port" (default port 21) on node and reads the
// greeting. On success *client holds a new client (count 1), not yet logged
// in, which keeps one reference to node. Failures: E_POINTER (no error
// object) for a null node or client; E_OUTOFMEMORY; kFtpConnectFailed
// merged with the socket layer's error when the connection fails, or with
// the greeting line when the greeting is not of class 2; a refusal code for
// a greeting of class 4 or 5; the reply reader's codes. *client is left
// unchanged on failure.
HRESULT CreateFtpClient(ITcpNode *node, LPCOLESTR host, IFtpClient **client);

// New wide string "<Windows user name>@<local host name>" for an anonymous
// login, or null when either name cannot be had or the whole does not fit
// 127 characters. The caller frees it with SysFreeString.
BSTR MakeFtpPassword(void);

#endif
