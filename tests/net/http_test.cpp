// The HTTP client against the scripted server (http_script_server.py),
// nginx and Python's http.server, as started by run_http_tests.py.

#include <gtest/gtest.h>

#include <vector>

#include "base/errtext.h"
#include "net/http.h"
#include "tests/net/nettest.h"

namespace {

// Reads the body in pieces of `piece` bytes until a short read.
std::string ReadBody(IStream *stream, ULONG piece = 4096) {
    std::string body;
    std::string buffer(piece, '\0');
    for (;;) {
        ULONG got = 0;
        HRESULT hr = stream->Read(&buffer[0], piece, &got);
        EXPECT_EQ(S_OK, hr);
        if (FAILED(hr))
            return body + "<" + TakeThreadError() + ">";
        body.append(buffer, 0, got);
        if (got < piece)
            return body;
    }
}

std::string StatusLineOf(IHttpClient *client) {
    BSTR line = nullptr;
    HRESULT hr = client->GetStatusLine(&line);
    std::string out = hr == S_OK ? Narrow(line) : "<none>";
    SysFreeString(line);
    return out;
}

// One client with its stream, released at the end of the scope.
struct Request {
    IHttpClient *client = nullptr;
    IStream *stream = nullptr;

    explicit Request(ITcpNode *node) {
        EXPECT_EQ(S_OK, CreateHttpClient(node, &client));
        EXPECT_EQ(S_OK, client->QueryInterface(IID_IStream, (void **)&stream));
    }
    ~Request() {
        stream->Release();
        EXPECT_EQ(0u, client->Release());
    }
    // SetUrl, SendRequest and ReceiveResponse; gives the last result.
    HRESULT Get(const std::wstring &url, ULONG *status) {
        HRESULT hr = client->SetUrl(url.c_str());
        if (SUCCEEDED(hr))
            hr = client->SendRequest();
        return SUCCEEDED(hr) ? client->ReceiveResponse(status) : hr;
    }
};

struct HttpTest : ::testing::Test {
    ITcpNode *node = nullptr;
    IHttpClient *client = nullptr;
    IStream *stream = nullptr;

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_NE(0u, EnvPort("NET_SCRIPT_PORT")) << "run through run_http_tests.py";
        node = TcpStartup();
        ASSERT_NE(nullptr, node);
        ASSERT_EQ(S_OK, CreateHttpClient(node, &client));
        ASSERT_EQ(S_OK, client->QueryInterface(IID_IStream, (void **)&stream));
    }
    void TearDown() override {
        if (stream)
            stream->Release();
        if (client) {
            EXPECT_EQ(0u, client->Release());
        }
        if (node)
            node->Release();
        OleUninitialize();
    }

    std::wstring Script(const std::wstring &path) {
        return LocalUrl(EnvPort("NET_SCRIPT_PORT"), path);
    }

    std::string Body(ULONG piece = 4096) { return ReadBody(stream, piece); }
    std::string StatusLine() { return StatusLineOf(client); }
};

TEST_F(HttpTest, ResponseHeadsFromTheScriptedServer) {
    struct {
        const wchar_t *path;
        HRESULT hr;  // of ReceiveResponse
        ULONG status;
        const char *statusLine;  // or the error text when hr fails
        std::string body;
    } cases[] = {
        {L"/nohead", S_OK, 200, "<none>", "no head here, just the body"},
        {L"/tiny", S_OK, 200, "<none>", "tiny"},
        {L"/silent", S_OK, 200, "<none>", ""},
        {L"/lower-case", HTTP_E_INVALID, 0, "received an invalid response from the HTTP server",
         ""},
        {L"/404", S_OK, 404, "HTTP/1.0 404 Not Found", "missing"},
        {L"/http2", HTTP_E_INVALID, 0, "received an invalid response from the HTTP server", ""},
        {L"/bad-status", HTTP_E_INVALID, 0, "received an invalid response from the HTTP server",
         ""},
        {L"/cut-head", HTTP_E_INVALID, 0, "received an invalid response from the HTTP server", ""},
        {L"/line-1022", S_OK, 200, "HTTP/1.0 200 OK", "body"},
        {L"/line-1023", S_OK, 200, "HTTP/1.0 200 OK", "body"},
        {L"/header-4k", S_OK, 200, "HTTP/1.0 200 OK", "body"},
        {L"/status-1023", HTTP_E_LINE_LONG, 0, "HTTP response header line too long", ""},
        {L"/junk-head", HTTP_E_INVALID, 0, "received an invalid response from the HTTP server", ""},
        {L"/drip", S_OK, 200, "HTTP/1.0 200 OK", "hello world"},
        {L"/bare-lf", S_OK, 200, "HTTP/1.0 200 OK", "body"},
        {L"/cut-body", S_OK, 200, "HTTP/1.0 200 OK", std::string(300, 'b')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        Request r(node);
        ULONG status = 0;
        HRESULT hr = r.Get(Script(c.path), &status);
        EXPECT_EQ(c.hr, hr);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(c.status, status);
            EXPECT_EQ(c.statusLine, StatusLineOf(r.client));
            EXPECT_EQ(c.body, ReadBody(r.stream, 1000));
        } else {
            EXPECT_EQ(c.statusLine, TakeThreadError());
        }
    }
}

TEST_F(HttpTest, RequestIsSentByteForByte) {
    std::wstring longQuery(3000, L'q');
    std::string port = std::to_string(EnvPort("NET_SCRIPT_PORT"));
    std::string host = "Host: 127.0.0.1:" + port + "\r\n";
    struct {
        std::wstring url;
        const wchar_t *method;
        int64_t length;                 // -1: none set
        std::vector<std::string> body;  // written in these pieces
        std::string request;
    } cases[] = {
        {Script(L"/echo"), nullptr, -1, {}, "GET /echo HTTP/1.0\r\n" + host + "\r\n"},
        {Script(L""), nullptr, -1, {}, "GET / HTTP/1.0\r\n" + host + "\r\n"},
        {L"abcd" + Script(L"/echo/x/y").substr(4),
         nullptr,
         -1,
         {},
         "GET /echo/x/y HTTP/1.0\r\n" + host + "\r\n"},
        // The port as a number, however the URL wrote it.
        {L"http://127.0.0.1:00" + std::wstring(port.begin(), port.end()) + L"/echo",
         nullptr,
         -1,
         {},
         "GET /echo HTTP/1.0\r\n" + host + "\r\n"},
        {Script(L"/echo?\u0141\u00e9"),
         nullptr,
         -1,
         {},
         "GET /echo?A\xe9 HTTP/1.0\r\n" + host + "\r\n"},
        {Script(L"/echo"),
         L"POST",
         11,
         {"", "hello", "", " world"},
         "POST /echo HTTP/1.0\r\n" + host + "Content-Length: 11\r\n\r\nhello world"},
        {Script(L"/echo?" + longQuery),
         nullptr,
         -1,
         {},
         "GET /echo?" + std::string(3000, 'q') + " HTTP/1.0\r\n" + host + "\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(Narrow(c.url.c_str()));
        Request r(node);
        ASSERT_EQ(S_OK, r.client->SetUrl(c.url.c_str()));
        if (c.method) {
            ASSERT_EQ(S_OK, r.client->SetMethod(c.method));
        }
        if (c.length >= 0) {
            ASSERT_EQ(S_OK, r.client->SetRequestLength((ULONGLONG)c.length));
        }
        ASSERT_EQ(S_OK, r.client->SendRequest());
        for (const std::string &piece : c.body) {
            ULONG written = 99;
            ASSERT_EQ(S_OK, r.stream->Write(piece.data(), (ULONG)piece.size(), &written));
            EXPECT_EQ(piece.size(), written);
        }
        ULONG status = 0;
        ASSERT_EQ(S_OK, r.client->ReceiveResponse(&status));
        ULONGLONG length = 0;
        EXPECT_EQ(S_OK, r.client->GetContentLength(&length));
        EXPECT_EQ(c.request.size(), length);
        std::string got(c.request.size() + 10, '\0');
        ULONG read = 0;
        ASSERT_EQ(S_OK, r.stream->Read(&got[0], (ULONG)got.size(), &read));
        EXPECT_EQ(c.request, got.substr(0, read));
    }
}

TEST_F(HttpTest, BadUrlsAreRefused) {
    for (const wchar_t *url :
         {L"http://a", L"", L"http:/x/yzw", L"https://127.0.0.1/", L"http:x//abcdef"}) {
        EXPECT_EQ(HTTP_E_URI, client->SetUrl(url)) << Narrow(url);
        EXPECT_EQ("invalid URI (Uniform Resource Identifier)", TakeThreadError());
    }
    EXPECT_EQ(HTTP_E_MISSING, client->SendRequest());
    EXPECT_EQ("one or more required parameters are missing for the HTTP request",
              TakeThreadError());
    EXPECT_EQ(S_OK, client->SetUrl(L"http://a/"));  // nine characters
}

TEST_F(HttpTest, EachOperationChecksTheStage) {
    ULONG status = 0;
    BSTR line = nullptr;
    ULONGLONG length = 0;
    char buffer[4];
    ULONG count = 0;
    EXPECT_EQ(HTTP_E_STAGE, client->ReceiveResponse(&status));
    EXPECT_EQ("an inappropriate action was attempted for the current stage of the HTTP request",
              TakeThreadError());
    EXPECT_EQ(HTTP_E_STAGE, stream->Read(buffer, 4, &count));
    EXPECT_EQ(HTTP_E_STAGE, stream->Write(buffer, 4, &count));
    EXPECT_EQ(HTTP_E_STAGE, client->GetStatusLine(&line));

    ASSERT_EQ(S_OK, client->SetUrl(Script(L"/lengths").c_str()));
    ASSERT_EQ(S_OK, client->SendRequest());
    EXPECT_EQ(HTTP_E_STAGE, client->SetHost(L"elsewhere"));
    EXPECT_EQ(HTTP_E_STAGE, client->SetUrl(Script(L"/echo").c_str()));
    EXPECT_EQ(HTTP_E_STAGE, client->SendRequest());
    EXPECT_EQ(HTTP_E_STAGE, client->GetContentLength(&length));
    EXPECT_EQ(HTTP_E_STAGE, stream->Read(buffer, 4, &count));

    ASSERT_EQ(S_OK, client->ReceiveResponse(&status));
    EXPECT_EQ(HTTP_E_STAGE, client->ReceiveResponse(&status));
    EXPECT_EQ(HTTP_E_STAGE, stream->Write(buffer, 4, &count));
    EXPECT_EQ(S_OK, client->SetRequestLength(7));
    EXPECT_EQ(E_NOTIMPL, client->SetRequestLength(0x80000000ull));
    EXPECT_EQ("<none>", TakeThreadError());
    EXPECT_EQ(S_OK, client->GetContentLength(&length));
    EXPECT_EQ(42u, length);
    EXPECT_EQ(std::string(42, 'x'), Body());
}

TEST_F(HttpTest, BodyBytesReceivedWithTheHeadAreServedFirst) {
    ASSERT_EQ(S_OK, client->SetUrl(Script(L"/body600").c_str()));
    ASSERT_EQ(S_OK, client->SendRequest());
    ULONG status = 0;
    ASSERT_EQ(S_OK, client->ReceiveResponse(&status));
    ULONGLONG length = 0;
    EXPECT_EQ(S_FALSE, client->GetContentLength(&length));
    std::string expected;
    for (int i = 0; i < 3; ++i)
        for (int b = 0; b < 200; ++b)
            expected += (char)b;
    char ten[10];
    ULONG got = 0;
    ASSERT_EQ(S_OK, stream->Read(ten, 10, &got));
    EXPECT_EQ(expected.substr(0, 10), std::string(ten, got));
    EXPECT_EQ(expected.substr(10), Body(7));
}

TEST_F(HttpTest, RefusedConnectionIsMergedWithTheWinsockText) {
    ASSERT_EQ(S_OK, client->SetUrl(LocalUrl(EnvPort("NET_CLOSED_PORT"), L"/x").c_str()));
    for (int attempt = 0; attempt < 2; ++attempt) {  // the stage stays at 0
        EXPECT_EQ(HTTP_E_CONNECT, client->SendRequest());
        EXPECT_EQ(std::string("unable to connect to HTTP server: ") + ErrorText(10061),
                  TakeThreadError());
    }
}

TEST_F(HttpTest, CreateWithoutNodeFails) {
    IHttpClient *none = nullptr;
    SetErrorObject(MakeErrorInfo(nullptr, nullptr, "stale"));
    EXPECT_EQ(E_POINTER, CreateHttpClient(nullptr, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ("<none>", TakeThreadError());
}

TEST_F(HttpTest, RealServersServeTheFileWhole) {
    struct {
        const char *server;
        const char *okLine;
        const char *missingLine;
    } cases[] = {
        {"NET_NGINX_PORT", "HTTP/1.1 200 OK", "HTTP/1.1 404 Not Found"},
        {"NET_PYHTTP_PORT", "HTTP/1.0 200 OK", "HTTP/1.0 404 File not found"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.server);
        struct {
            const wchar_t *path;
            ULONG status;
            const char *line;
            std::string body;
        } files[] = {
            {L"/data", 200, c.okLine, ServedData()},
            {L"/empty", 200, c.okLine, ""},
            {L"/missing", 404, c.missingLine, "<any>"},
        };
        for (const auto &f : files) {
            Request r(node);
            ULONG status = 0;
            ASSERT_EQ(S_OK, r.Get(LocalUrl(EnvPort(c.server), f.path), &status));
            EXPECT_EQ(f.status, status);
            EXPECT_EQ(f.line, StatusLineOf(r.client));
            std::string got = ReadBody(r.stream);
            if (f.body != "<any>") {
                ULONGLONG length = 0;
                EXPECT_EQ(S_OK, r.client->GetContentLength(&length));
                EXPECT_EQ(f.body.size(), length);
                EXPECT_EQ(f.body.size(), got.size());
                EXPECT_TRUE(f.body == got);
            }
        }
    }
}

}  // namespace
