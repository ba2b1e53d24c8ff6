#include "net/http.h"

#include <ctype.h>
#include <string.h>
#include <wchar.h>

#define HTTP_ASSERT(check) NET_ASSERT(check, "net/http")

namespace {

// Reads a decimal number as scanf's %d does: white space, one sign, then at
// least one digit. Advances *text past it; false when there is no digit.
bool ScanInt(const char **text, int *value) {
    const char *p = *text;
    while (isspace((unsigned char)*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    uint32_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        magnitude = magnitude * 10 + (uint32_t)(*p - '0');
    *value = (int)(negative ? 0u - magnitude : magnitude);
    *text = p;
    return true;
}

// The status line "HTTP/%d.%d %d", matched as sscanf matches that format:
// the blank before the status stands for any white space, none included.
bool ParseStatusLine(const char *line, int *major, int *minor, int *status) {
    const char *p = line + 5;
    return strncmp(line, "HTTP/", 5) == 0 && ScanInt(&p, major) && *p++ == '.' &&
           ScanInt(&p, minor) && ScanInt(&p, status);
}

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
// a response head line must fit in it whole.
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
    template <class Char>
    HRESULT Append(const Char *text);
    HRESULT Flush();
    HRESULT ReadHeadLine(uint32_t *lineSize);
    void DropBuffered(uint32_t lineSize);

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
    if (strm)
        strm->Release();
    if (conn)
        conn->Release();
    strm = nullptr;
    conn = nullptr;
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
    if (FAILED(hr = Append(path)) || FAILED(hr = Append(" HTTP/1.0\r\n")))
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

// Copies text into the buffer, flushing whenever it fills, so a head of any
// length goes out in pieces of at most kBufferSize bytes. Wide text keeps
// the low 8 bits of each character.
template <class Char>
HRESULT HttpClient::Append(const Char *text) {
    while (*text) {
        if (hdrlen == kBufferSize) {
            HRESULT hr = Flush();
            if (FAILED(hr))
                return hr;
            HTTP_ASSERT(this->hdrlen == 0);
        }
        while (*text && hdrlen < kBufferSize)
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

// Finds the end of the first line held in the buffer, reading more until an
// LF arrives. CR and LF bytes become zero bytes, so the line is a C string;
// lineSize counts the line with its LF.
HRESULT HttpClient::ReadHeadLine(uint32_t *lineSize) {
    uint32_t scanned = 0;
    for (;;) {
        for (; scanned < hdrlen; ++scanned) {
            if (buffer[scanned] == '\r') {
                buffer[scanned] = '\0';
            } else if (buffer[scanned] == '\n') {
                buffer[scanned] = '\0';
                *lineSize = scanned + 1;
                return S_OK;
            }
        }
        if (hdrlen == kBufferSize)
            return RaiseRecord(kLineLongError);
        ULONG got = 0;
        if (FAILED(strm->Read(buffer + hdrlen, kBufferSize - hdrlen, &got)))
            return ChainRecord(kReceiveError, strm, IID_IStream);
        if (got == 0)
            return RaiseRecord(kInvalidError);
        hdrlen += got;
    }
}

void HttpClient::DropBuffered(uint32_t lineSize) {
    memmove(buffer, buffer + lineSize, hdrlen - lineSize);
    hdrlen -= lineSize;
}

HRESULT HttpClient::ReceiveResponse(ULONG *status) {
    if (stage != kRequestSent)
        return RaiseRecord(kStageError);
    hdrlen = 0;
    ULONG got = 0;
    if (FAILED(strm->Read(buffer, kBufferSize, &got)))
        return ChainRecord(kReceiveError, strm, IID_IStream);
    hdrlen = got;
    // Servers before HTTP/1.0 answer with the body alone.
    if (hdrlen < 8 || _strnicmp(buffer, "HTTP/", 5) != 0) {
        *status = 200;
        stage = kResponseRead;
        return S_OK;
    }

    BSTR line = nullptr;
    int32_t length = -1;
    int major = 0, minor = 0, code = 0;
    uint32_t lineSize;
    HRESULT hr = ReadHeadLine(&lineSize);
    if (FAILED(hr))
        return hr;
    if (!ParseStatusLine(buffer, &major, &minor, &code) || major > 1)
        return RaiseRecord(kInvalidError);
    if (!(line = AnsiToBstr(buffer)))
        return ClearError(E_OUTOFMEMORY);
    for (;;) {
        DropBuffered(lineSize);
        hr = ReadHeadLine(&lineSize);
        if (FAILED(hr))
            goto fail;
        if (buffer[0] == '\0')
            break;
        if (_strnicmp(buffer, "Content-Length:", 15) == 0)
            length = ScanDecimal(buffer + 15);
    }
    DropBuffered(lineSize);
    SysFreeString(statusLine);
    statusLine = line;
    contentLength = length;
    *status = (ULONG)code;
    stage = kResponseRead;
    return S_OK;
fail:
    SysFreeString(line);
    return hr;
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
