// Cancelling the socket layer: every wait, the one in progress on another
// thread and every later one, ends at once with the Winsock text for an
// interrupted call. A process of its own, as the cancel cannot be undone.

#include <gtest/gtest.h>

#include "base/errtext.h"
#include "net/tcp.h"
#include "tests/net/nettest.h"

namespace {

DWORD WINAPI CancelSoon(void *) {
    Sleep(300);
    TcpCancel();
    return 0;
}

TEST(TcpCancel, EndsTheWaitInProgressAndEveryLaterOne) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ITcpNode *node = TcpStartup();
    ASSERT_NE(nullptr, node);
    ITcpListener *listener = nullptr;
    ASSERT_EQ(S_OK, node->Listen(0, &listener));
    SocketAddress address;
    ASSERT_EQ(S_OK, listener->GetLocalAddress(&address));
    const uint8_t loopback[4] = {127, 0, 0, 1};
    memcpy(address.address, loopback, 4);
    ITcpConnection *client = nullptr, *server = nullptr;
    ASSERT_EQ(S_OK, node->Connect(&address, &client));
    ASSERT_EQ(S_OK, listener->Accept(&server));
    IStream *stream = nullptr;
    ASSERT_EQ(S_OK, client->QueryInterface(IID_IStream, (void **)&stream));

    // The server sends nothing: the read waits until the cancel.
    HANDLE canceller = CreateThread(nullptr, 0, CancelSoon, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, canceller);
    DWORD start = GetTickCount();
    char buffer[16];
    ULONG got = 99;
    EXPECT_EQ(E_UNEXPECTED, stream->Read(buffer, sizeof buffer, &got));
    DWORD waited = GetTickCount() - start;
    EXPECT_EQ(99u, got);
    EXPECT_EQ(ErrorText(WSAEINTR), TakeThreadError());
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 1000u);
    WaitForSingleObject(canceller, INFINITE);
    CloseHandle(canceller);

    // Later waits end at once: a connection waiting to be accepted, an
    // answer that never comes.
    ITcpConnection *late = nullptr;
    EXPECT_EQ(E_UNEXPECTED, listener->Accept(&late));
    EXPECT_EQ(ErrorText(WSAEINTR), TakeThreadError());
    EXPECT_EQ(E_UNEXPECTED, stream->Read(buffer, sizeof buffer, &got));
    EXPECT_EQ(ErrorText(WSAEINTR), TakeThreadError());

    stream->Release();
    client->Release();
    server->Release();
    listener->Release();
    node->Release();
    OleUninitialize();
}

}  // namespace
