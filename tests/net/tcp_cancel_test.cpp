// Cancelling the socket layer: every wait, the one in progress on another
// thread and every later one, ends at once with the Winsock text for an
// interrupted call. A process of its own, as the cancel cannot be undone.

#include <gtest/gtest.h>

#include <string>

#include "base/errtext.h"
#include "net/tcp.h"
#include "tests/net/nettest.h"

namespace {

// Bounds the test's waits on the reader: far above the tenth of a second a
// cancel may take, far below the minute of silence after which the read
// would end by itself.
constexpr DWORD kEndBoundMs = 10000;
// How long the read must go on waiting before the cancel. It cannot tell
// when it has begun to wait, so it gets this long to start; on a machine
// too busy for that the cancel comes first and ends the read all the same.
constexpr DWORD kStillWaitingMs = 300;

struct PendingRead {
    IStream *stream;
    HANDLE started;  // set just before the read
    HRESULT result;
    ULONG got;
    std::string error;
};

DWORD WINAPI ReadNothing(void *argument) {
    PendingRead *read = (PendingRead *)argument;
    char buffer[16];
    SetEvent(read->started);
    read->result = read->stream->Read(buffer, sizeof buffer, &read->got);
    read->error = TakeThreadError();
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
    PendingRead read = {stream, CreateEvent(nullptr, TRUE, FALSE, nullptr), S_OK, 99, ""};
    ASSERT_NE(nullptr, read.started);
    HANDLE reader = CreateThread(nullptr, 0, ReadNothing, &read, 0, nullptr);
    ASSERT_NE(nullptr, reader);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(read.started, kEndBoundMs));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(reader, kStillWaitingMs));
    TcpCancel();
    DWORD ended = WaitForSingleObject(reader, kEndBoundMs);
    EXPECT_EQ(WAIT_OBJECT_0, ended);
    // A read the cancel missed still ends at its own bound on silence, and
    // the reader must not outlive what it writes to.
    if (ended != WAIT_OBJECT_0)
        WaitForSingleObject(reader, 2 * kIdleBoundMs);
    CloseHandle(reader);
    CloseHandle(read.started);
    EXPECT_EQ(E_UNEXPECTED, read.result);
    EXPECT_EQ(99u, read.got);
    EXPECT_EQ(ErrorText(WSAEINTR), read.error);

    // Later waits end at once: a connection waiting to be accepted, an
    // answer that never comes.
    ITcpConnection *late = nullptr;
    EXPECT_EQ(E_UNEXPECTED, listener->Accept(&late));
    EXPECT_EQ(ErrorText(WSAEINTR), TakeThreadError());
    char buffer[16];
    ULONG got = 99;
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
