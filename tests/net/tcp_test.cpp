// TCP connections and listeners over the loopback interface. Each test
// listens on a port of the system's choosing and connects to itself; a
// blocking connect completes through the listen backlog before Accept.

#include <gtest/gtest.h>

#include "base/errtext.h"
#include "net/tcp.h"
#include "tests/net/nettest.h"

namespace {

struct TcpTest : ::testing::Test {
    ITcpNode *node = nullptr;
    ITcpListener *listener = nullptr;
    unsigned port = 0;

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        node = TcpStartup();
        ASSERT_NE(nullptr, node);
        ASSERT_EQ(S_OK, node->Listen(0, &listener));
        SocketAddress local;
        ASSERT_EQ(S_OK, listener->GetLocalAddress(&local));
        port = (local.port[0] << 8) | local.port[1];
    }
    void TearDown() override {
        if (listener)
            listener->Release();
        if (node)
            node->Release();
        OleUninitialize();
    }

    // A connected pair: client side from ConnectByName, server side from Accept.
    void Pair(ITcpConnection **client, ITcpConnection **server) {
        std::wstring host = L"127.0.0.1:" + std::to_wstring(port);
        ASSERT_EQ(S_OK, node->ConnectByName(host.c_str(), 1, client));
        ASSERT_EQ(S_OK, listener->Accept(server));
    }
};

IStream *StreamOf(ITcpConnection *conn) {
    IStream *stream = nullptr;
    EXPECT_EQ(S_OK, conn->QueryInterface(IID_IStream, (void **)&stream));
    return stream;
}

TEST_F(TcpTest, StartupGivesTheOneNodeAndCountsEachCall) {
    ITcpNode *again = TcpStartup();
    EXPECT_EQ(node, again);
    // Two references held here: one from SetUp, one just now.
    EXPECT_EQ(3u, again->AddRef());
    EXPECT_EQ(2u, again->Release());
    ISupportErrorInfo *sei = nullptr;
    ASSERT_EQ(S_OK, node->QueryInterface(IID_ISupportErrorInfo, (void **)&sei));
    EXPECT_NE((void *)node, (void *)sei);
    EXPECT_EQ(4u, sei->AddRef());
    EXPECT_EQ(3u, sei->Release());
    IUnknown *back = nullptr;
    ASSERT_EQ(S_OK, sei->QueryInterface(IID_INetNode, (void **)&back));
    EXPECT_EQ((void *)node, (void *)back);
    EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_ITcpNode));
    EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_INetNode));
    EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IStream));
    void *none = sei;
    EXPECT_EQ(E_NOINTERFACE, node->QueryInterface(IID_IStream, &none));
    EXPECT_EQ(nullptr, none);
    back->Release();
    sei->Release();
    EXPECT_EQ(1u, again->Release());
}

TEST_F(TcpTest, ListenerOnPortZeroAnnouncesLocalHostAddress) {
    EXPECT_NE(0u, port);
    uint8_t host[4];
    ASSERT_EQ(S_OK, node->ResolveName(nullptr, host));
    SocketAddress local;
    ASSERT_EQ(S_OK, listener->GetLocalAddress(&local));
    EXPECT_EQ(0, memcmp(host, local.address, 4));
}

TEST_F(TcpTest, ConnectByNameReadsThePortAfterTheColon) {
    std::wstring p = std::to_wstring(port);
    struct {
        std::wstring host;
        USHORT defaultPort;
        bool connects;
    } cases[] = {
        {L"127.0.0.1", (USHORT)port, true},
        {L"127.0.0.1:" + p, 1, true},
        {L"127.0.0.1: +" + p + L"xyz", 1, true},
        {L"127.0.0.1:" + std::to_wstring(port + 65536), 1, true},  // kept to 16 bits
        {L"localhost:" + p, 1, true},
        {L"127.0.0.1:", (USHORT)port, false},   // port 0
        {L"127.0.0.1:x", (USHORT)port, false},  // port 0
    };
    for (const auto &c : cases) {
        ITcpConnection *conn = nullptr;
        HRESULT hr = node->ConnectByName(c.host.c_str(), c.defaultPort, &conn);
        EXPECT_EQ(c.connects ? S_OK : E_UNEXPECTED, hr) << Narrow(c.host.c_str());
        if (FAILED(hr)) {
            EXPECT_EQ(nullptr, conn);
            continue;
        }
        SocketAddress remote;
        ASSERT_EQ(S_OK, conn->GetRemoteAddress(&remote));
        EXPECT_EQ(port, (unsigned)((remote.port[0] << 8) | remote.port[1]));
        ITcpConnection *accepted = nullptr;
        ASSERT_EQ(S_OK, listener->Accept(&accepted));
        accepted->Release();
        conn->Release();
    }
}

TEST_F(TcpTest, RefusedConnectionCarriesTheWinsockText) {
    ITcpListener *closed = nullptr;
    ASSERT_EQ(S_OK, node->Listen(0, &closed));
    SocketAddress address;
    ASSERT_EQ(S_OK, closed->GetLocalAddress(&address));
    closed->Release();
    const uint8_t loopback[4] = {127, 0, 0, 1};
    memcpy(address.address, loopback, 4);
    ITcpConnection *conn = nullptr;
    EXPECT_EQ(E_UNEXPECTED, node->Connect(&address, &conn));
    EXPECT_EQ(nullptr, conn);
    EXPECT_EQ(ErrorText(10061), TakeThreadError());
}

TEST_F(TcpTest, OverlongHostTextFailsWithoutErrorObject) {
    std::wstring host(256, L'a');
    ITcpConnection *conn = nullptr;
    SetErrorObject(MakeErrorInfo(nullptr, nullptr, "stale"));
    EXPECT_EQ(E_UNEXPECTED, node->ConnectByName(host.c_str(), 80, &conn));
    EXPECT_EQ("<none>", TakeThreadError());
    uint8_t address[4];
    EXPECT_EQ(E_UNEXPECTED, node->ResolveName(host.c_str(), address));
    EXPECT_EQ("<none>", TakeThreadError());
}

TEST_F(TcpTest, StreamMovesBytesAndSeesThePeerClose) {
    ITcpConnection *client = nullptr, *server = nullptr;
    Pair(&client, &server);
    IStream *out = StreamOf(client);
    IStream *in = StreamOf(server);

    ULONG done = 0;
    ASSERT_EQ(S_OK, out->Write("hello", 5, &done));
    EXPECT_EQ(5u, done);
    char buffer[16] = {};
    ULONG got = 0;
    while (got < 5) {
        ASSERT_EQ(S_OK, in->Read(buffer + got, sizeof buffer - got, &done));
        ASSERT_NE(0u, done);
        got += done;
    }
    EXPECT_EQ(std::string("hello"), std::string(buffer, got));

    SocketAddress a, b;
    ASSERT_EQ(S_OK, client->GetLocalAddress(&a));
    ASSERT_EQ(S_OK, server->GetRemoteAddress(&b));
    EXPECT_EQ(0, memcmp(&a, &b, sizeof a));

    // The client's count goes to zero only when both interfaces are released.
    out->Release();
    EXPECT_EQ(0u, client->Release());
    done = 99;
    EXPECT_EQ(S_OK, in->Read(buffer, sizeof buffer, &done));
    EXPECT_EQ(0u, done);
    in->Release();
    server->Release();
}

// A peer that resets the connection (a close with a zero linger time) ends
// the data with "Connection reset by peer.", never as a plain end of data.
TEST_F(TcpTest, StreamTellsAResetFromAClose) {
    SOCKET peer = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(INVALID_SOCKET, peer);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons((u_short)port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(peer, (const sockaddr *)&to, sizeof to));
    ITcpConnection *server = nullptr;
    ASSERT_EQ(S_OK, listener->Accept(&server));
    IStream *in = StreamOf(server);
    char buffer[16];
    ULONG done = 0;
    ASSERT_EQ(5, send(peer, "hello", 5, 0));
    ASSERT_EQ(S_OK, in->Read(buffer, 5, &done));
    // The reset arrives while the reader waits for more.
    linger abort = {1, 0};
    ASSERT_EQ(0, setsockopt(peer, SOL_SOCKET, SO_LINGER, (const char *)&abort, sizeof abort));
    ASSERT_EQ(0, closesocket(peer));
    HRESULT hr;
    while ((hr = in->Read(buffer, sizeof buffer, &done)) == S_OK && done != 0) {
    }
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ("Connection reset by peer.", TakeThreadError());
    in->Release();
    server->Release();
}

TEST_F(TcpTest, ConnectionAnswersItsInterfaces) {
    ITcpConnection *client = nullptr, *server = nullptr;
    Pair(&client, &server);
    IUnknown *same = nullptr;
    for (const IID *iid : {&IID_ITcpSocket, &IID_IUnknown}) {
        ASSERT_EQ(S_OK, client->QueryInterface(*iid, (void **)&same));
        EXPECT_EQ((void *)client, (void *)same);
        same->Release();
    }
    ISupportErrorInfo *sei = nullptr;
    ASSERT_EQ(S_OK, client->QueryInterface(IID_ISupportErrorInfo, (void **)&sei));
    EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IStream));
    EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_ITcpConnection));
    EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_ITcpListener));
    sei->Release();
    EXPECT_EQ(E_NOINTERFACE, client->QueryInterface(IID_ITcpListener, (void **)&same));

    IStream *stream = StreamOf(client);
    SetErrorObject(MakeErrorInfo(nullptr, nullptr, "stale"));
    EXPECT_EQ(E_NOTIMPL, stream->Commit(0));
    EXPECT_EQ("<none>", TakeThreadError());
    IStream *clone = nullptr;
    EXPECT_EQ(E_NOTIMPL, stream->Clone(&clone));
    stream->Release();

    BSTR name = nullptr;
    ASSERT_EQ(S_OK, server->GetRemoteName(&name));
    std::string text = Narrow(name);
    SysFreeString(name);
    SocketAddress local;
    ASSERT_EQ(S_OK, client->GetLocalAddress(&local));
    std::string suffix = ":" + std::to_string((local.port[0] << 8) | local.port[1]);
    ASSERT_GT(text.size(), suffix.size());
    EXPECT_EQ(suffix, text.substr(text.size() - suffix.size()));

    ISupportErrorInfo *lsei = nullptr;
    ASSERT_EQ(S_OK, listener->QueryInterface(IID_ISupportErrorInfo, (void **)&lsei));
    EXPECT_EQ(S_OK, lsei->InterfaceSupportsErrorInfo(IID_ITcpListener));
    EXPECT_EQ(S_FALSE, lsei->InterfaceSupportsErrorInfo(IID_IStream));
    lsei->Release();

    server->Release();
    client->Release();
}

}  // namespace
