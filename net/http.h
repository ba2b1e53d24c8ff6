#ifndef NET_HTTP_H
#define NET_HTTP_H

// A small HTTP/1.0 client. One client carries out one request and moves
// through three stages: setting up (0), request sent (1), response read (2).
// Each operation is allowed in the stages named below; elsewhere it gives
// HTTP_E_STAGE and changes nothing. There is no way back: a new request
// takes a new client.
//
// Its own failures install a constant error record (source "HTTP client",
// identifier IID_IHttpClient); failures of the connection are merged into
// the record's text as "record text: socket layer text".
//
// QueryInterface answers IHttpClient, IUnknown, IStream and
// ISupportErrorInfo; error information is given for every identifier.
//
// The client's IStream (stage 2 for Read, stage 1 for Write):
//   Read(buffer, count, read): the response body. Fills the buffer unless
//     the server closes the connection first, so a count short of the one
//     asked for marks the end of the body (0 at the very end). A failed
//     read gives HTTP_E_RECEIVE.
//   Write(buffer, count, written): sends the count request body bytes,
//     stopping early only when the connection accepts nothing; *written is
//     the total. A count of 0 sends nothing. A failed write gives
//     HTTP_E_SEND.
//   read and written may be null. The other nine IStream operations clear
//   the thread's error object and give E_NOTIMPL.

#include "net/com.h"
#include "net/tcp.h"

#define HTTP_E_CONNECT ((HRESULT)0x8004A200)    // connecting failed (merged)
#define HTTP_E_STAGE ((HRESULT)0x8004A201)      // operation not allowed in this stage
#define HTTP_E_MISSING ((HRESULT)0x8004A202)    // no host or no path at SendRequest
#define HTTP_E_URI ((HRESULT)0x8004A203)        // SetUrl text of the wrong shape
#define HTTP_E_SEND ((HRESULT)0x8004A204)       // writing to the connection failed (merged)
#define HTTP_E_RECEIVE ((HRESULT)0x8004A205)    // reading from the connection failed (merged)
#define HTTP_E_LINE_LONG ((HRESULT)0x8004A207)  // the status line fills the buffer
#define HTTP_E_INVALID \
    ((HRESULT)0x8004A208)  // bad status line, version above 1, or
                           // the connection ended inside the head

struct IHttpClient : public IUnknown {
    // Stage 0. url is "ssss://host[:port][/path]": at least 9 characters
    // with ':' at index 4 and '/' at 5 and 6 (the scheme letters are not
    // examined), else HTTP_E_URI. Host is the text from index 7 up to the
    // next '/', path the rest ("/" when there is none). The old host and
    // path are dropped first. E_OUTOFMEMORY (no error object) when a copy
    // cannot be made.
    virtual HRESULT STDMETHODCALLTYPE SetUrl(LPCOLESTR url) = 0;
    // Stage 0. Replace the host ("name" or "name:port"), the path (starting
    // with '/') or the method (null: GET) with a copy of text; null clears
    // the field. E_OUTOFMEMORY (no error object) when the copy fails.
    virtual HRESULT STDMETHODCALLTYPE SetHost(LPCOLESTR host) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPath(LPCOLESTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMethod(LPCOLESTR method) = 0;
    // Any stage; only a length set in stage 0 is sent, as Content-Length.
    // A length above 2147483647 gives E_NOTIMPL (no error object).
    virtual HRESULT STDMETHODCALLTYPE SetRequestLength(ULONGLONG length) = 0;
    // Stage 0 to 1. Connects to the host (port 80 unless the host names
    // one, as HostTextPort of net/decimal.h reads it) and sends, with no
    // other header:
    //   "<method or GET> <path> HTTP/1.0\r\n"
    //   "Host: <host name>[:<port>]\r\n"   (the port only when it is not 80)
    //   ["Content-Length: <n>\r\n"]
    //   "\r\n"
    // HTTP_E_MISSING without host or path; HTTP_E_CONNECT when connecting
    // fails; HTTP_E_SEND when a write fails; E_UNEXPECTED (no error object)
    // when the connection accepts only part of the head. A failure leaves
    // the stage at 0 and no connection held.
    virtual HRESULT STDMETHODCALLTYPE SendRequest() = 0;
    // Stage 1 to 2. Reads the response head and gives the status. A
    // response that does not start with "HTTP/" (any case) or gives fewer
    // than 8 bytes in its first read has no head: status 200, and what
    // arrived is the start of the body. Otherwise the first line must read
    // "HTTP/<major>.<minor> <status>" with major at most 1, and of the other
    // lines only Content-Length is kept; header lines of any length are
    // read (net/httphead.h), one longer than 1024 bytes is skipped whole.
    // HTTP_E_RECEIVE, HTTP_E_LINE_LONG (a status line of 1024 bytes or
    // more) or HTTP_E_INVALID on failure, which leaves the stage at 1.
    virtual HRESULT STDMETHODCALLTYPE ReceiveResponse(ULONG *status) = 0;
    // Stage 2. New copy of the status line without its line end and S_OK;
    // null and S_FALSE when the response had no head. E_OUTOFMEMORY (no
    // error object) when the copy fails.
    virtual HRESULT STDMETHODCALLTYPE GetStatusLine(BSTR *line) = 0;
    // Stage 2. The Content-Length of the response (high half 0) and S_OK;
    // S_FALSE and no output when the response gave none.
    virtual HRESULT STDMETHODCALLTYPE GetContentLength(ULONGLONG *length) = 0;
};

// New client on node, in stage 0, with a count of 1; it holds a reference
// to node for its life. E_POINTER (no error object) when node is null,
// E_OUTOFMEMORY (no error object) when the object cannot be allocated.
HRESULT CreateHttpClient(ITcpNode *node, IHttpClient **client);

#endif
