// The FTP download source: against the scripted server for what the source
// itself adds (one anonymous login per connection, error texts, a lost
// connection), and against vsftpd and pyftpdlib for real transfers.

#include <gtest/gtest.h>

#include "net/ftp.h"
#include "tests/net/nettest.h"
#include "wfs/ftpsource.h"

namespace {

const WfsSource &kSource = kFtpSource;

std::string AnonymousPassword() {
    BSTR password = MakeFtpPassword();
    std::string text = Narrow(password);
    SysFreeString(password);
    return text;
}

// Opens, reads in 4096-byte pieces as the store does, and closes.
int32_t Download(const char *path, std::string *got) {
    int32_t result = kSource.Open(path);
    if (result < 0)
        return result;
    char buffer[4096];
    do {
        result = kSource.Read(buffer, sizeof buffer);
        if (result < 0)
            return result;
        got->append(buffer, (size_t)result);
    } while (result == (int32_t)sizeof buffer);
    return kSource.Close();
}

class FtpSourceScripted : public ::testing::Test {
protected:
    void SetUp() override {
        if (!EnvPort("FTP_SCRIPT_PORT"))
            GTEST_SKIP() << "run through tests/net/ftp_run.py";
        ASSERT_EQ(kSource.Init(), 0);
    }
    void TearDown() override { kSource.Shutdown(); }

    int32_t Connect() {
        return kSource.Connect(Narrow(server.Host().c_str()).c_str(), nullptr, nullptr);
    }
    std::string Finish() {
        kSource.Shutdown();
        Dialogue sent;
        EXPECT_TRUE(server.Finish(&sent));
        return sent.control;
    }

    ScriptServer server;
};

const Script kAnonymous = {"S220 ready\r\n",
                           "L",
                           "S331 Please specify the password.\r\n",
                           "L",
                           "S230 Login successful.\r\n",
                           "L",
                           "S200 Switching to Binary mode.\r\n"};

Script Transfer(const std::string &data, const std::string &end) {
    return {"L",        "S200 PORT ok\r\n", "L", "S150 Opening BINARY mode data connection\r\n",
            "O" + data, "S" + end};
}

TEST_F(FtpSourceScripted, LogsInOnceAndRetrievesTwice) {
    ASSERT_TRUE(server.Arm(
        Join({kAnonymous, Transfer("first", "226 ok\r\n"), Transfer("second", "226 ok\r\n")})));
    ASSERT_EQ(Connect(), 0);
    std::string a, b;
    EXPECT_EQ(Download("/dat/a", &a), 0) << kSource.ErrorText();
    EXPECT_EQ(Download("/dat/b", &b), 0) << kSource.ErrorText();
    EXPECT_EQ(a, "first");
    EXPECT_EQ(b, "second");
    std::string expected = "USER anonymous\r\nPASS " + AnonymousPassword() +
                           "\r\nTYPE I\r\nPORT 127,0,0,1,*\r\nRETR /dat/a\r\n"
                           "PORT 127,0,0,1,*\r\nRETR /dat/b\r\n";
    std::string sent = Finish();
    EXPECT_TRUE(MatchesDialogue(expected, sent)) << sent;
}

TEST_F(FtpSourceScripted, OneReadGivesTheWholeFile) {
    ASSERT_TRUE(server.Arm(Join({kAnonymous, Transfer("0123456789", "226 ok\r\n")})));
    ASSERT_EQ(Connect(), 0);
    char buffer[64];
    ASSERT_EQ(kSource.Open("/dat/LATEST"), 0);
    EXPECT_EQ(kSource.Read(buffer, sizeof buffer), 10);
    EXPECT_EQ(kSource.Close(), 0);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    Finish();
}

// Each failure gives the client's code and its text, and the connection
// stays usable for the next retrieval.
TEST_F(FtpSourceScripted, FailuresTellTheServersWords) {
    ASSERT_TRUE(server.Arm(Join({kAnonymous,
                                 {"L", "S200 PORT ok\r\n", "L", "S550 Failed to open file.\r\n"},
                                 Transfer("x", "250 odd\r\n"),
                                 Transfer("y", "226 ok\r\n")})));
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(kSource.Open("/dat/missing"), (int32_t)0x8004F626);
    EXPECT_STREQ(kSource.ErrorText(), "550 Failed to open file.");
    std::string got;
    EXPECT_EQ(Download("/dat/x", &got), kFtpUnexpectedReply);
    EXPECT_STREQ(kSource.ErrorText(), "unexpected response from FTP server");
    got.clear();
    EXPECT_EQ(Download("/dat/y", &got), 0);
    EXPECT_EQ(got, "y");
    Finish();
}

TEST_F(FtpSourceScripted, LoginRefused) {
    ASSERT_TRUE(server.Arm({"S220 ready\r\n", "L", "S530 This FTP server is anonymous only.\r\n"}));
    EXPECT_EQ(Connect(), (int32_t)0x8004F612);
    EXPECT_STREQ(kSource.ErrorText(), "530 This FTP server is anonymous only.");
    EXPECT_EQ(kSource.Open("/dat/a"), E_POINTER);
    EXPECT_STREQ(kSource.ErrorText(), "unknown error");
    Finish();
}

// A connection lost after login is not made again: every later open fails
// with the text of the control connection's failure.
TEST_F(FtpSourceScripted, LostConnectionStaysLost) {
    ASSERT_TRUE(server.Arm(Join({kAnonymous, {"C"}})));
    ASSERT_EQ(Connect(), 0);
    for (int attempt = 0; attempt < 2; attempt++) {
        EXPECT_LT(kSource.Open("/dat/a"), 0);
        std::string text = kSource.ErrorText();
        // The server's close, or the reset its system answers a later
        // command with, whichever the client meets first.
        EXPECT_TRUE(text ==
                        "unexpected end-of-file while reading from the FTP control connection" ||
                    text ==
                        "unable to read from the FTP control connection: Connection reset by "
                        "peer." ||
                    text.rfind("unable to write to the FTP control connection: ", 0) == 0)
            << text;
    }
    std::string sent = Finish();
    EXPECT_TRUE(MatchesDialogue("USER anonymous\r\nPASS " + AnonymousPassword() + "\r\nTYPE I\r\n",
                                sent.substr(0, sent.find("PORT"))))
        << sent;
}

// A transfer whose data stops fails its read at the bound on silence. Close
// then ends the session at once, without waiting for a transfer reply that
// such a server seldom sends, and the next open logs in again.
TEST_F(FtpSourceScripted, StalledTransferEndsTheSessionAndTheNextOpenLogsInAgain) {
    ASSERT_TRUE(server.Arm(Join({kAnonymous,
                                 {"L", "S200 PORT ok\r\n", "L",
                                  "S150 Opening BINARY mode data connection\r\n", "Hpartial"}})));
    ASSERT_EQ(Connect(), 0);
    ASSERT_EQ(kSource.Open("/dat/a"), 0);
    char buffer[4096];
    EXPECT_LT(kSource.Read(buffer, sizeof buffer), 0);
    EXPECT_STREQ(kSource.ErrorText(),
                 "unable to read from FTP data connection: Connection timed out.");
    EXPECT_EQ(kSource.Close(), 0);
    Dialogue first;
    ASSERT_TRUE(server.Finish(&first));  // only once the client has hung up

    ASSERT_TRUE(server.Arm(Join({kAnonymous, Transfer("second", "226 ok\r\n")})));
    std::string got;
    EXPECT_EQ(Download("/dat/b", &got), 0) << kSource.ErrorText();
    EXPECT_EQ(got, "second");
    std::string sent = Finish();
    EXPECT_TRUE(MatchesDialogue("USER anonymous\r\nPASS " + AnonymousPassword() +
                                    "\r\nTYPE I\r\nPORT 127,0,0,1,*\r\nRETR /dat/b\r\n",
                                sent))
        << sent;
}

TEST_F(FtpSourceScripted, CloseWithoutTransferSucceeds) {
    ASSERT_TRUE(server.Arm(kAnonymous));
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(kSource.Close(), 0);
    Finish();
}

TEST(FtpSource, FailuresOfItsOwnLeaveUnknownError) {
    ASSERT_EQ(kSource.Init(), 0);
    char buffer[4];
    EXPECT_EQ(kSource.Read(buffer, sizeof buffer), E_POINTER);
    const char *text = kSource.ErrorText();
    EXPECT_STREQ(text, "unknown error");
    EXPECT_EQ(kSource.ErrorText(), text);
    EXPECT_EQ(kSource.Close(), E_POINTER);
    EXPECT_EQ(kSource.Connect(nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(kSource.Open("/x"), E_POINTER);
    EXPECT_STREQ(kSource.ErrorText(), "unknown error");
    kSource.Shutdown();
}

// ---------------------------------------------------------------------
// Real servers. The driver puts files under /dat: small0..small49 (100 + i
// bytes, seed 100 + i), big (3 MB, seed 2) and empty; "up" is writable on
// pyftpdlib.

struct RealServer {
    const char *name;
    const char *portVariable;
    bool writable;
};

void PrintTo(const RealServer &s, std::ostream *os) {
    *os << s.name;
}

const RealServer kServers[] = {
    {"vsftpd", "FTP_VSFTPD_PORT", false},
    {"pyftpdlib", "FTP_PYFTPD_PORT", true},
};

class FtpRealServer : public ::testing::TestWithParam<RealServer> {
protected:
    void SetUp() override {
        port = EnvPort(GetParam().portVariable);
        if (!port)
            GTEST_SKIP() << "run through tests/net/ftp_run.py";
    }
    std::string Host() { return Narrow(LocalHost(port).c_str()); }
    int port = 0;
};

// Many small files one after another: the transfer-complete reply often
// arrives together with the start reply, and no retrieval may hang on it.
TEST_P(FtpRealServer, SourceRetrievesEveryFile) {
    ASSERT_EQ(kSource.Init(), 0);
    ASSERT_EQ(kSource.Connect(Host().c_str(), nullptr, nullptr), 0) << kSource.ErrorText();
    for (int i = 0; i < 50; i++) {
        std::string path = "/dat/small" + std::to_string(i), got;
        ASSERT_EQ(Download(path.c_str(), &got), 0) << path << ": " << kSource.ErrorText();
        ASSERT_TRUE(got == Pattern(100 + i, 100 + i)) << path;
    }
    std::string big, empty;
    EXPECT_EQ(Download("/dat/big", &big), 0) << kSource.ErrorText();
    EXPECT_TRUE(big == Pattern(3 << 20, 2)) << big.size();
    EXPECT_EQ(Download("/dat/empty", &empty), 0) << kSource.ErrorText();
    EXPECT_EQ(empty, "");
    EXPECT_EQ(kSource.Open("/dat/missing"), (int32_t)0x8004F626);
    EXPECT_EQ(std::string(kSource.ErrorText()).rfind("550 ", 0), 0u) << kSource.ErrorText();
    kSource.Shutdown();
}

// The source reads ahead of the caller; what it held of a transfer ended
// early never reaches the next one. (Whether the server calls the cut
// transfer complete depends on how much it had sent: not checked.)
TEST_P(FtpRealServer, TransferEndedEarlyLeavesNothingForTheNext) {
    ASSERT_EQ(kSource.Init(), 0);
    ASSERT_EQ(kSource.Connect(Host().c_str(), nullptr, nullptr), 0) << kSource.ErrorText();
    ASSERT_EQ(kSource.Open("/dat/big"), 0) << kSource.ErrorText();
    char buffer[4096];
    ASSERT_EQ(kSource.Read(buffer, sizeof buffer), 4096) << kSource.ErrorText();
    (void)kSource.Close();
    std::string got;
    EXPECT_EQ(Download("/dat/small7", &got), 0) << kSource.ErrorText();
    EXPECT_TRUE(got == Pattern(107, 107)) << got.size();
    kSource.Shutdown();
}

IFtpClient *LoggedInClient(int port) {
    ITcpNode *node = TcpStartup();
    IFtpClient *client = nullptr;
    if (SUCCEEDED(CreateFtpClient(node, LocalHost(port).c_str(), &client)) &&
        FAILED(client->Login(L"anonymous", L"test@example", nullptr))) {
        client->Release();
        client = nullptr;
    }
    node->Release();
    return client;
}

HRESULT ReadTransfer(IFtpClient *client, std::string *got) {
    IStream *data = nullptr;
    client->QueryInterface(IID_IStream, (void **)&data);
    char buffer[4096];
    ULONG n = 0;
    HRESULT hr;
    do {
        hr = data->Read(buffer, sizeof buffer, &n);
        if (SUCCEEDED(hr))
            got->append(buffer, n);
    } while (SUCCEEDED(hr) && n == sizeof buffer);
    data->Release();
    return FAILED(hr) ? hr : client->EndTransfer();
}

TEST_P(FtpRealServer, ClientListsAndMoves) {
    IFtpClient *client = LoggedInClient(port);
    ASSERT_NE(client, nullptr) << TakeThreadError();
    std::string names;
    EXPECT_EQ(client->ChangeDirectory(L"/dat"), S_OK) << TakeThreadError();
    EXPECT_EQ(client->NameList(L"."), S_OK) << TakeThreadError();
    EXPECT_EQ(ReadTransfer(client, &names), S_OK) << TakeThreadError();
    EXPECT_NE(names.find("small49"), std::string::npos) << names;
    std::string listing;
    EXPECT_EQ(client->ChangeToParentDirectory(), S_OK) << TakeThreadError();
    EXPECT_EQ(client->List(L"dat"), S_OK) << TakeThreadError();
    EXPECT_EQ(ReadTransfer(client, &listing), S_OK) << TakeThreadError();
    EXPECT_NE(listing.find("big"), std::string::npos) << listing;
    std::string tail;
    EXPECT_EQ(client->SetType('I', 0), S_OK) << TakeThreadError();
    EXPECT_EQ(client->Retrieve(L"/dat/small9", 100), S_OK) << TakeThreadError();
    EXPECT_EQ(ReadTransfer(client, &tail), S_OK) << TakeThreadError();
    EXPECT_EQ(tail, Pattern(109, 109).substr(100));
    EXPECT_EQ(client->Delete(L"/dat/small0"), (HRESULT)0x8004F626);
    client->Release();
}

TEST_P(FtpRealServer, ClientStoresAppendsRenamesAndDeletes) {
    if (!GetParam().writable)
        GTEST_SKIP() << "read-only server";
    IFtpClient *client = LoggedInClient(port);
    ASSERT_NE(client, nullptr) << TakeThreadError();
    IStream *data = nullptr;
    client->QueryInterface(IID_IStream, (void **)&data);
    const std::string first = Pattern(70000, 9), second = "appended";
    ULONG written = 0;
    EXPECT_EQ(client->SetType('I', 0), S_OK) << TakeThreadError();
    EXPECT_EQ(client->MakeDirectory(L"/up/d"), S_OK) << TakeThreadError();
    EXPECT_EQ(client->Store(L"/up/d/f", 0), S_OK) << TakeThreadError();
    EXPECT_EQ(data->Write(first.data(), (ULONG)first.size(), &written), S_OK);
    EXPECT_EQ(written, first.size());
    EXPECT_EQ(client->EndTransfer(), S_OK) << TakeThreadError();
    EXPECT_EQ(client->Append(L"/up/d/f"), S_OK) << TakeThreadError();
    EXPECT_EQ(data->Write(second.data(), (ULONG)second.size(), &written), S_OK);
    EXPECT_EQ(client->EndTransfer(), S_OK) << TakeThreadError();
    EXPECT_EQ(client->Rename(L"/up/d/f", L"/up/d/g"), S_OK) << TakeThreadError();
    std::string back;
    EXPECT_EQ(client->Retrieve(L"/up/d/g", 0), S_OK) << TakeThreadError();
    EXPECT_EQ(ReadTransfer(client, &back), S_OK) << TakeThreadError();
    EXPECT_TRUE(back == first + second) << back.size();
    EXPECT_EQ(client->Delete(L"/up/d/g"), S_OK) << TakeThreadError();
    EXPECT_EQ(client->RemoveDirectory(L"/up/d"), S_OK) << TakeThreadError();
    data->Release();
    client->Release();
}

INSTANTIATE_TEST_SUITE_P(Ftp, FtpRealServer, ::testing::ValuesIn(kServers),
                         [](const ::testing::TestParamInfo<RealServer> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
