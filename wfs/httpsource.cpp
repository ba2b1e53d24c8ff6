#include "wfs/httpsource.h"

#include <stdlib.h>

#include "wfs/netsource.h"

#include "net/http.h"

namespace {

ITcpNode *node;
IHttpClient *client;
IStream *stream;
SourceError failure;  // the latest failure
ReadAhead ahead;      // body bytes received but not yet handed out

int32_t HttpClose(void) {
    ReadAheadReset(&ahead);
    if (stream)
        stream->Release();
    if (client)
        client->Release();
    stream = nullptr;
    client = nullptr;
    return 0;
}

int32_t HttpInit(void) {
    return SourceStartNode(&node, &failure);
}

int32_t OpenWide(LPCOLESTR url) {
    HttpClose();
    HRESULT hr = CreateHttpClient(node, &client);
    if (FAILED(hr)) {
        client = nullptr;
        return SourceErrorCapture(&failure, hr);
    }
    ULONG status = 0;
    if (FAILED(hr = client->QueryInterface(IID_IStream, (void **)&stream)))
        stream = nullptr;
    else if (SUCCEEDED(hr = client->SetUrl(url)) && SUCCEEDED(hr = client->SendRequest()))
        hr = client->ReceiveResponse(&status);
    if (FAILED(hr)) {
        HttpClose();
        return SourceErrorCapture(&failure, hr);
    }
    if (status < 200 || status > 299) {
        SourceErrorClear(&failure);
        if (client->GetStatusLine(&failure.description) != S_OK)
            failure.description = nullptr;
        return HTTPSOURCE_E_STATUS(status);
    }
    return 0;
}

int32_t HttpOpen(const char *url) {
    return SourceOpen(&failure, url, OpenWide);
}

int32_t HttpRead(void *buffer, uint32_t count) {
    return SourceRead(&failure, stream, &ahead, buffer, count);
}

void HttpShutdown(void) {
    HttpClose();
    SourceStopNode(&node, &failure);
}

const char *HttpErrorText(void) {
    return SourceErrorText(&failure);
}

}  // namespace

const WfsSource kHttpSource = {
    HttpInit, WfsNoConnection, HttpOpen, HttpRead, HttpClose, HttpShutdown, HttpErrorText,
};
