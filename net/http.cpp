#include "net/http.h"

#include <string.h>
#include <wchar.h>

#include "net/decimal.h"
#include "net/httphead.h"

#define HTTP_ASSERT(check) NET_ASSERT(check, "net/http")

namespace {

#define HTTP_RECORD(name, code, text) \
    STATIC_ERROR_INFO(name, IID_IHttpClient, code, "HTTP client", text)

HTTP_RECORD(kConnectError, HTTP_E_CONNECT, "unable to connect to HTTP server");
HTTP_RECORD(kStageError, HTTP_E_STAGE,
            "an inappropriate action was attempted for the current stage of the HTTP request");
HTTP_RECORD(kMissingError, HTTP_E_MISSING,
            "one or more required parameters are missing for the HTTP request");
HTTP_RECORD(kUriError, HTTP_E_URI, "invalid URI (Uniform Resource Identifier)");
HTTP_RECORD(kSendError, HTTP_E_SEND, "error sending request to HTTP server");
HTTP_RECORD(kReceiveError, HTTP_E_RECEIVE, "error receiving response from HTTP server");
HTTP_RECORD(kLineLongError, HTTP_E_LINE_LONG, "HTTP response header line too long");
HTTP_RECORD(kInvalidError, HTTP_E_INVALID, "received an invalid response from the HTTP server");

enum Stage : uint8_t { kSettingUp = 0, kRequestSent = 1, kResponseRead = 2 };

// Holds the request head while it is assembled and then the response head;
// the status line must fit in it whole, longer header lines are skipped.
constexpr uint32_t kBufferSize = 1024;

class HttpClient final
    : public ComObject<HttpClient, IHttpClient, ByteStream, SupportsAllErrorInfo> {
public:
    static const QiEntry kInterfaces[];

    explicit HttpClient(ITcpNode *node) : node(node) { node->AddRef(); }
    ~HttpClient() {
        SysFreeString(host);
        SysFreeString(path);
        SysFreeString(method);
        SysFreeString(statusLine);
        DropConnection();
        node->Release();
    }

    HRESULT STDMETHODCALLTYPE SetUrl(LPCOLESTR url) override;
    HRESULT STDMETHODCALLTYPE SetHost(LPCOLESTR text) override { return SetField(host, text); }
    HRESULT STDMETHODCALLTYPE SetPath(LPCOLESTR text) override { return SetField(path, text); }
    HRESULT STDMETHODCALLTYPE SetMethod(LPCOLESTR text) override { return SetField(method, text); }
    HRESULT STDMETHODCALLTYPE SetRequestLength(ULONGLONG length) override;
    HRESULT STDMETHODCALLTYPE SendRequest() override;
    HRESULT STDMETHODCALLTYPE ReceiveResponse(ULONG *status) override;
    HRESULT STDMETHODCALLTYPE GetStatusLine(BSTR *line) override;
    HRESULT STDMETHODCALLTYPE GetContentLength(ULONGLONG *length) override;

    HRESULT STDMETHODCALLTYPE Read(void *buffer, ULONG count, ULONG *read) override;
    HRESULT STDMETHODCALLTYPE Write(const void *buffer, ULONG count, ULONG *written) override;

private:
    HRESULT SetField(BSTR &field, LPCOLESTR text);
    void DropConnection();
    HRESULT WriteRequestHead();
    HRESULT AppendHostLine();
    template <class Char>
    HRESULT Append(const Char *text, size_t length = SIZE_MAX);
    HRESULT Flush();
    HRESULT ReadHead(ULONG *status, BSTR *line, int32_t *length);
    void DropBuffered(uint32_t count);

    ITcpNode *node;
    ITcpConnection *conn = nullptr;
    IStream *strm = nullptr;
    Stage stage = kSettingUp;
    BSTR host = nullptr;
    BSTR path = nullptr;
    BSTR method = nullptr;
    int32_t requestLength = -1;
    BSTR statusLine = nullptr;
    int32_t contentLength = -1;
    char buffer[kBufferSize];
    uint32_t hdrlen = 0;
};

const QiEntry HttpClient::kInterfaces[] = {
    {&IID_IHttpClient, 0},       {&IID_IUnknown, 0}, {&IID_IStream, 1},
    {&IID_ISupportErrorInfo, 2}, {nullptr, 0},
};

HRESULT HttpClient::SetUrl(LPCOLESTR url) {
    if (stage != kSettingUp)
        return RaiseRecord(kStageError);
    size_t length = url ? wcslen(url) : 0;
    if (length < 9 || url[4] != L':' || url[5] != L'/' || url[6] != L'/')
        return RaiseRecord(kUriError);
    SysFreeString(host);
    SysFreeString(path);
    host = path = nullptr;
    const wchar_t *slash = wcschr(url + 7, L'/');
    if (slash) {
        host = SysAllocStringLen(url + 7, (UINT)(slash - (url + 7)));
        path = SysAllocString(slash);
    } else {
        host = SysAllocString(url + 7);
        path = SysAllocString(L"/");
    }
    return host && path ? S_OK : ClearError(E_OUTOFMEMORY);
}

HRESULT HttpClient::SetField(BSTR &field, LPCOLESTR text) {
    if (stage != kSettingUp)
        return RaiseRecord(kStageError);
    BSTR copy = nullptr;
    if (text && !(copy = SysAllocString(text)))
        return ClearError(E_OUTOFMEMORY);
    SysFreeString(field);
    field = copy;
    return S_OK;
}

HRESULT HttpClient::SetRequestLength(ULONGLONG length) {
    if (length > 0x7FFFFFFF)
        return ClearError(E_NOTIMPL);
    requestLength = (int32_t)length;
    return S_OK;
}

void HttpClient::DropConnection() {
    ReleaseAndClear(&strm);
    ReleaseAndClear(&conn);
}

HRESULT HttpClient::SendRequest() {
    if (stage != kSettingUp)
        return RaiseRecord(kStageError);
    if (!host || !path)
        return RaiseRecord(kMissingError);
    if (FAILED(node->ConnectByName(host, 80, &conn)))
        return ChainRecord(kConnectError, node, IID_ITcpNode);
    HRESULT hr = conn->QueryInterface(IID_IStream, (void **)&strm);
    if (FAILED(hr)) {
        strm = nullptr;
        ChainError(nullptr, conn, IID_ITcpConnection);
        hr = E_UNEXPECTED;
        goto fail;
    }
    hr = WriteRequestHead();
    if (FAILED(hr))
        goto fail;
    stage = kRequestSent;
    return S_OK;
fail:
    DropConnection();
    return hr;
}

HRESULT HttpClient::WriteRequestHead() {
    HRESULT hr;
    if (method) {
        if (FAILED(hr = Append(method)) || FAILED(hr = Append(" ")))
            return hr;
    } else if (FAILED(hr = Append("GET "))) {
        return hr;
    }
    if (FAILED(hr = Append(path)) || FAILED(hr = Append(" HTTP/1.0\r\n")) ||
        FAILED(hr = AppendHostLine()))
        return hr;
    if (requestLength >= 0) {
        char line[32];
        wsprintfA(line, "Content-Length: %d\r\n", (int)requestLength);
        if (FAILED(hr = Append(line)))
            return hr;
    }
    if (FAILED(hr = Append("\r\n")))
        return hr;
    return Flush();
}

// "Host: name\r\n", or "Host: name:port\r\n" when the host text names a
// port other than 80, so that a server holding several sites on one address
// answers from the right one.
HRESULT HttpClient::AppendHostLine() {
    const wchar_t *colon = wcschr(host, L':');
    size_t nameLength = colon ? (size_t)(colon - host) : wcslen(host);
    USHORT port = HostTextPort(host, 80);
    HRESULT hr;
    if (FAILED(hr = Append("Host: ")) || FAILED(hr = Append(host, nameLength)))
        return hr;
    if (port != 80) {
        char portText[8];
        wsprintfA(portText, ":%u", (unsigned)port);
        if (FAILED(hr = Append(portText)))
            return hr;
    }
    return Append("\r\n");
}

// Copies text (up to its zero or length characters) into the buffer,
// flushing whenever it fills, so a head of any length goes out in pieces of
// at most kBufferSize bytes. Wide text keeps the low 8 bits of each
// character.
template <class Char>
HRESULT HttpClient::Append(const Char *text, size_t length) {
    const Char *end = text;
    while (length-- > 0 && *end)
        ++end;
    while (text < end) {
        if (hdrlen == kBufferSize) {
            HRESULT hr = Flush();
            if (FAILED(hr))
                return hr;
            HTTP_ASSERT(this->hdrlen == 0);
        }
        while (text < end && hdrlen < kBufferSize)
            buffer[hdrlen++] = (char)(uint8_t)*text++;
    }
    return S_OK;
}

HRESULT HttpClient::Flush() {
    ULONG written = 0;
    if (FAILED(WriteAll(strm, buffer, hdrlen, &written)))
        return ChainRecord(kSendError, strm, IID_IStream);
    if (written < hdrlen)
        return ClearError(E_UNEXPECTED);
    hdrlen = 0;
    return S_OK;
}

HRESULT HttpClient::Write(const void *data, ULONG count, ULONG *written) {
    if (stage != kRequestSent)
        return RaiseRecord(kStageError);
    HTTP_ASSERT(this->conn != NULL);
    HTTP_ASSERT(this->strm != NULL);
    ULONG total = 0;
    if (FAILED(WriteAll(strm, data, count, &total)))
        return ChainRecord(kSendError, strm, IID_IStream);
    if (written)
        *written = total;
    return S_OK;
}

void HttpClient::DropBuffered(uint32_t count) {
    memmove(buffer, buffer + count, hdrlen - count);
    hdrlen -= count;
}

// Runs the head reader over the buffer, reading whenever it asks. On
// success gives the status, the status line (null for a response without
// head) and the content length (-1 when none was given); everything left
// in the buffer is the start of the body.
HRESULT HttpClient::ReadHead(ULONG *status, BSTR *line, int32_t *length) {
    HttpHeadReader head;
    HttpHeadStart(&head);
    BSTR statusText = nullptr;
    bool ended = false;
    HRESULT hr = S_OK;
    DWORD start = GetTickCount();
    for (;;) {
        HttpHeadStep step = HttpHeadNext(&head, buffer, &hdrlen, kBufferSize, ended);
        if (step == kHttpHeadMore) {
            ULONG got = 0;
            HRESULT read = GetTickCount() - start >= kWholeAnswerBoundMs
                               ? RaiseWindowsError(WSAETIMEDOUT)
                               : strm->Read(buffer + hdrlen, kBufferSize - hdrlen, &got);
            if (FAILED(read)) {
                hr = ChainRecord(kReceiveError, strm, IID_IStream);
                goto fail;
            }
            hdrlen += got;
            ended = got == 0;
        } else if (step == kHttpHeadStatusLine) {
            if (!(statusText = AnsiToBstr(buffer))) {
                hr = ClearError(E_OUTOFMEMORY);
                goto fail;
            }
        } else if (step == kHttpHeadDone || step == kHttpHeadNone) {
            break;
        } else {
            hr = RaiseRecord(step == kHttpHeadLineTooLong ? kLineLongError : kInvalidError);
            goto fail;
        }
    }
    *status = head.status;
    *line = statusText;
    *length = head.contentLength;
    return S_OK;
fail:
    SysFreeString(statusText);
    return hr;
}

HRESULT HttpClient::ReceiveResponse(ULONG *status) {
    if (stage != kRequestSent)
        return RaiseRecord(kStageError);
    hdrlen = 0;
    ULONG code = 0;
    BSTR line = nullptr;
    int32_t length = -1;
    HRESULT hr = ReadHead(&code, &line, &length);
    if (FAILED(hr))
        return hr;
    SysFreeString(statusLine);
    statusLine = line;
    contentLength = length;
    *status = code;
    stage = kResponseRead;
    return S_OK;
}

HRESULT HttpClient::GetStatusLine(BSTR *out) {
    if (stage != kResponseRead)
        return RaiseRecord(kStageError);
    if (!statusLine) {
        *out = nullptr;
        return S_FALSE;
    }
    BSTR copy = SysAllocStringLen(statusLine, SysStringLen(statusLine));
    if (!copy)
        return ClearError(E_OUTOFMEMORY);
    *out = copy;
    return S_OK;
}

HRESULT HttpClient::GetContentLength(ULONGLONG *length) {
    if (stage != kResponseRead)
        return RaiseRecord(kStageError);
    if (contentLength == -1)
        return S_FALSE;
    *length = (uint32_t)contentLength;
    return S_OK;
}

HRESULT HttpClient::Read(void *data, ULONG count, ULONG *read) {
    if (stage != kResponseRead)
        return RaiseRecord(kStageError);
    HTTP_ASSERT(this->conn != NULL);
    HTTP_ASSERT(this->strm != NULL);
    char *out = (char *)data;
    // Body bytes that came with the head are served first; when they are
    // enough the connection is not touched.
    if (hdrlen > count) {
        memcpy(out, buffer, count);
        DropBuffered(count);
        if (read)
            *read = count;
        return S_OK;
    }
    ULONG held = hdrlen;
    memcpy(out, buffer, held);
    hdrlen = 0;
    ULONG got = 0;
    if (FAILED(ReadFull(strm, out + held, count - held, &got)))
        return ChainRecord(kReceiveError, strm, IID_IStream);
    if (read)
        *read = held + got;
    return S_OK;
}

}  // namespace

HRESULT CreateHttpClient(ITcpNode *node, IHttpClient **client) {
    if (!node)
        return ClearError(E_POINTER);
    HttpClient *made = new (std::nothrow) HttpClient(node);
    if (!made)
        return ClearError(E_OUTOFMEMORY);
    *client = made;
    return S_OK;
}
