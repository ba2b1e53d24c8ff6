#include "wfs/httpsource.h"

#include "wfs/netsource.h"

#include "net/http.h"

namespace {

NetSource net;
IHttpClient *client;

int32_t HttpClose(void) {
    NetSourceDropStream(&net);
    ReleaseAndClear(&client);
    return 0;
}

int32_t OpenWide(LPCOLESTR url) {
    HttpClose();
    HRESULT hr = CreateHttpClient(net.node, &client);
    if (FAILED(hr)) {
        client = nullptr;
        return SourceErrorCapture(&net.failure, hr);
    }
    ULONG status = 0;
    if (FAILED(hr = client->QueryInterface(IID_IStream, (void **)&net.stream)))
        net.stream = nullptr;
    else if (SUCCEEDED(hr = client->SetUrl(url)) && SUCCEEDED(hr = client->SendRequest()))
        hr = client->ReceiveResponse(&status);
    if (FAILED(hr)) {
        HttpClose();
        return SourceErrorCapture(&net.failure, hr);
    }
    if (status < 200 || status > 299) {
        SourceErrorClear(&net.failure);
        if (client->GetStatusLine(&net.failure.description) != S_OK)
            net.failure.description = nullptr;
        return HTTPSOURCE_E_STATUS(status);
    }
    return 0;
}

int32_t HttpOpen(const char *url) {
    WideText wide;
    int32_t result = NetSourceWideName(&net, url, &wide);
    return result != 0 ? result : OpenWide(wide.text);
}

void HttpShutdown(void) {
    HttpClose();
    NetSourceStop(&net);
}

using Entries = NetSourceEntries<&net>;

}  // namespace

const WfsSource kHttpSource = {
    Entries::Init, WfsNoConnection, HttpOpen,           Entries::Read,
    HttpClose,     HttpShutdown,    Entries::ErrorText,
};
