#include "wfs/httpsource.h"

#include <stdlib.h>

#include "net/http.h"

namespace {

ITcpNode *node;
IHttpClient *client;
IStream *stream;
BSTR description;  // of the latest failure, or null
char *errorText;   // made from description on demand, or null

void ClearError() {
    SysFreeString(description);
    description = nullptr;
    free(errorText);
    errorText = nullptr;
}

// Keeps the description of the thread's error object left by a failed
// client call and passes its code on unchanged.
int32_t Capture(HRESULT code) {
    ClearError();
    IErrorInfo *error = nullptr;
    if (GetErrorInfo(0, &error) == S_OK && error) {
        BSTR text = nullptr;
        if (SUCCEEDED(error->GetDescription(&text)))
            description = text;
        error->Release();
    }
    return code;
}

int32_t HttpClose(void) {
    if (stream)
        stream->Release();
    if (client)
        client->Release();
    stream = nullptr;
    client = nullptr;
    return 0;
}

int32_t HttpInit(void) {
    ClearError();
    if (node)
        node->Release();
    node = TcpStartup();
    return node ? 0 : -1;
}

int32_t OpenWide(LPCOLESTR url) {
    HttpClose();
    HRESULT hr = CreateHttpClient(node, &client);
    if (FAILED(hr)) {
        client = nullptr;
        return Capture(hr);
    }
    ULONG status = 0;
    if (FAILED(hr = client->QueryInterface(IID_IStream, (void **)&stream)))
        stream = nullptr;
    else if (SUCCEEDED(hr = client->SetUrl(url)) && SUCCEEDED(hr = client->SendRequest()))
        hr = client->ReceiveResponse(&status);
    if (FAILED(hr)) {
        HttpClose();
        return Capture(hr);
    }
    if (status < 200 || status > 299) {
        ClearError();
        if (client->GetStatusLine(&description) != S_OK)
            description = nullptr;
        return HTTPSOURCE_E_STATUS(status);
    }
    return 0;
}

int32_t HttpOpen(const char *url) {
    ClearError();
    if (!url)
        return E_POINTER;
    BSTR wide = AnsiToBstr(url);
    if (!wide)
        return E_OUTOFMEMORY;
    int32_t result = OpenWide(wide);
    SysFreeString(wide);
    return result;
}

int32_t HttpRead(void *buffer, uint32_t count) {
    ClearError();
    if (!stream)
        return E_POINTER;
    // The result must stay a non-negative byte count.
    if (count > 0x7FFFFFFF)
        count = 0x7FFFFFFF;
    ULONG got = 0;
    HRESULT hr = stream->Read(buffer, count, &got);
    if (FAILED(hr))
        return Capture(hr);
    return (int32_t)got;
}

int32_t HttpFetchWhole(const char *url, void *buffer, uint32_t count) {
    int32_t result = HttpOpen(url);
    if (result < 0)
        return result;
    result = HttpRead(buffer, count);
    if (result < 0)
        return result;
    HttpClose();
    return result;
}

void HttpShutdown(void) {
    HttpClose();
    ClearError();
    if (node)
        node->Release();
    node = nullptr;
}

const char *HttpErrorText(void) {
    if (errorText)
        return errorText;
    if (!description)
        return "unknown error";
    int size = (int)(2 * SysStringLen(description) + 16);
    errorText = (char *)malloc(size);
    if (errorText &&
        WideCharToMultiByte(CP_ACP, 0, description, -1, errorText, size, nullptr, nullptr) == 0) {
        free(errorText);
        errorText = nullptr;
    }
    return errorText ? errorText : "unknown error";
}

}  // namespace

const WfsSource kHttpSource = {
    HttpInit, nullptr, HttpOpen, HttpRead, HttpClose, HttpFetchWhole, HttpShutdown, HttpErrorText,
};
