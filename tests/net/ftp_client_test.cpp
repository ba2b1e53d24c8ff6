// The FTP client against the scripted server: each case plays the server's
// exact bytes and checks the client's result, the error text it left, and
// every byte it sent.

#include <winsock.h>

#include <gtest/gtest.h>

#include <functional>

#include "net/ftp.h"
#include "tests/net/nettest.h"

namespace {

const std::string kLong(300, 'x');
const std::string kLong1000(1000, 'l');
// 600 lines of 128 bytes: a greeting that never reaches its final line
// within the reply limit.
const std::string kHugeGreeting = [] {
    std::string text;
    for (int i = 0; i < 600; ++i)
        text += "220-" + std::string(122, 'g') + "\r\n";
    return text + "220 ready\r\n";
}();
const std::string kName248(248, 'n');
const std::string kName249(249, 'n');
const std::wstring kWide248(248, L'n');
const std::wstring kWide249(249, L'n');
const std::wstring kWide250(250, L'n');
const std::string kBig = Pattern(300000, 5);

const Script kGreeting = {"S220 ready\r\n"};
const Script kLogin = {"S220 ready\r\n", "L", "S331 send password\r\n", "L", "S230 logged in\r\n"};
const char kLoginSent[] = "USER anonymous\r\nPASS guest@\r\n";
const Script kPortOk = {"L", "S200 PORT command successful\r\n"};

HRESULT LogIn(IFtpClient *c) {
    return c->Login(L"anonymous", L"guest@", nullptr);
}

// Reads the open transfer to its end into got, then ends it.
HRESULT ReadAll(IFtpClient *c, std::string *got) {
    IStream *data = nullptr;
    HRESULT hr = c->QueryInterface(IID_IStream, (void **)&data);
    if (FAILED(hr))
        return hr;
    char buffer[70000];
    ULONG n = sizeof buffer;
    while (n == sizeof buffer && SUCCEEDED(hr)) {
        hr = data->Read(buffer, sizeof buffer, &n);
        if (SUCCEEDED(hr))
            got->append(buffer, n);
    }
    data->Release();
    return FAILED(hr) ? hr : c->EndTransfer();
}

HRESULT Upload(IFtpClient *c, const char *text) {
    IStream *data = nullptr;
    HRESULT hr = c->QueryInterface(IID_IStream, (void **)&data);
    if (FAILED(hr))
        return hr;
    ULONG written = 0;
    hr = data->Write(text, (ULONG)strlen(text), &written);
    data->Release();
    if (SUCCEEDED(hr) && written != strlen(text))
        return E_FAIL;
    return FAILED(hr) ? hr : c->EndTransfer();
}

// One thing a case does with the client, given where to collect what it
// reads from data connections.
using Step = std::function<HRESULT(IFtpClient *c, std::string *got)>;

const Step kLogIn = [](IFtpClient *c, std::string *) { return LogIn(c); };

// One call that reads nothing.
Step Do(HRESULT (*call)(IFtpClient *c)) {
    return [call](IFtpClient *c, std::string *) { return call(c); };
}

// Retrieves name from offset and reads the transfer to its end.
Step Retrieve(const std::wstring &name, uint64_t offset = 0) {
    return [name, offset](IFtpClient *c, std::string *got) {
        HRESULT hr = c->Retrieve(name.c_str(), offset);
        return FAILED(hr) ? hr : ReadAll(c, got);
    };
}

// What a case expects the client to have sent: the login, then lines.
std::string AfterLogin(const std::string &lines) {
    return kLoginSent + lines;
}
const char kPortSent[] = "PORT 127,0,0,1,*\r\n";

struct ClientCase {
    const char *name;
    Script script;
    // Run in order after the client is created (not at all when creation
    // fails), up to the first that fails.
    std::vector<Step> steps;
    HRESULT result;           // of creation, or of the last step run
    std::string error;        // description on the thread after a failure
    std::string sent;         // control bytes; '*' matches PORT numbers
    std::string read = "";    // what the steps read
    std::string stored = "";  // what the server received on data connections
};

const std::vector<ClientCase> &Cases() {
    static const std::vector<ClientCase> cases = {
        // Replies and the reply reader.
        {"MultiLineRepliesAreReadAsTheirLastLine",
         {"S220-Welcome\r\n220-" + kLong.substr(0, 200) + "\r\n220 ready\r\n", "L",
          "S331-one\r\n331 two\r\n", "L",
          "S230-" + kLong.substr(0, 200) + "\r\n230-" + kLong.substr(0, 200) +
              "\r\nstray text\r\n230 in\r\n",
          "L", "S550-Refused\r\n550 the last line\r\n"},
         {kLogIn, Do([](IFtpClient *c) { return c->Delete(L"f"); })},
         (HRESULT)0x8004F626,
         "550 the last line",
         AfterLogin("DELE f\r\n")},
        {"Greeting421IsARefusal",
         {"S421 Too many users\r\n"},
         {},
         (HRESULT)0x8004F5A5,
         "421 Too many users",
         ""},
        {"Greeting120FailsTheConnection",
         {"S120 Service ready in 5 minutes\r\n"},
         {},
         kFtpConnectFailed,
         "unable to connect to FTP server: 120 Service ready in 5 minutes",
         ""},
        // Lines of any length: a longer line keeps its first 192 bytes.
        {"LongLinesInRepliesAreCut",
         {"S220-Welcome\r\n220-" + kLong1000 + "\r\n220 ready\r\n", "L",
          "S331 " + kLong1000 + "\r\n", "L", "S230 in\r\n", "L", "S550 " + kLong1000 + "\r\n"},
         {kLogIn, Do([](IFtpClient *c) { return c->Delete(L"f"); })},
         (HRESULT)0x8004F626,
         "550 " + kLong1000.substr(0, 188),
         AfterLogin("DELE f\r\n")},
        {"ReplyLineOf255BytesBeforeCrLf",
         {"S220 " + std::string(251, 'x') + "\r\n", "L", "S530 " + std::string(251, 'y') + "\r\n"},
         {kLogIn},
         (HRESULT)0x8004F612,
         "530 " + std::string(188, 'y'),
         "USER anonymous\r\n"},
        {"ReplyLineOf254BytesBeforeCrLfIsKeptWhole",
         {"S220 ready\r\n", "L", "S530 " + std::string(250, 'y') + "\r\n"},
         {kLogIn},
         (HRESULT)0x8004F612,
         "530 " + std::string(250, 'y'),
         "USER anonymous\r\n"},
        {"GreetingOfMoreThan64KiB",
         {"S" + kHugeGreeting},
         {},
         kFtpReplyTooLong,
         "the response from the FTP server was too long",
         ""},
        {"EndOfFileInsideAReply",
         {"S220 ready\r\n", "L", "S331 send pa", "C"},
         {kLogIn},
         kFtpCtrlEof,
         "unexpected end-of-file while reading from the FTP control connection",
         "USER anonymous\r\n"},
        {"JunkWithoutAFinalLine",
         {"S220 ready\r\n", "L", "Sabc\r\n22 x\r\n2200 y\r\n\r\n", "C"},
         {kLogIn},
         kFtpCtrlEof,
         "unexpected end-of-file while reading from the FTP control connection",
         "USER anonymous\r\n"},

        // Login.
        {"LoginWith230AfterUserSendsNoPass",
         {"S220 ready\r\n", "L", "S230 come in\r\n"},
         {kLogIn},
         S_OK,
         "",
         "USER anonymous\r\n"},
        {"LoginRefusedAtUser",
         {"S220 ready\r\n", "L", "S530 Not allowed\r\n"},
         {kLogIn},
         (HRESULT)0x8004F612,
         "530 Not allowed",
         "USER anonymous\r\n"},
        {"LoginNeedingAnAccount",
         {"S220 ready\r\n", "L", "S331 password\r\n", "L", "S332 Need account\r\n"},
         {kLogIn},
         kFtpLoginRefused,
         "FTP login refused by server: 332 Need account",
         kLoginSent},
        {"LoginAnsweredWithClass1",
         {"S220 ready\r\n", "L", "S150 what\r\n"},
         {kLogIn},
         kFtpLoginRefused,
         "FTP login refused by server: 150 what",
         "USER anonymous\r\n"},
        {"NullPasswordSendsAnEmptyOne", kLogin,
         {Do([](IFtpClient *c) { return c->Login(L"anonymous", nullptr, nullptr); })}, S_OK, "",
         "USER anonymous\r\nPASS \r\n"},
        {"SecondLoginSendsRein",
         Join({kLogin,
               {"L", "S220 ready for new user\r\n", "L", "S331 password\r\n", "L",
                "S230 in again\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->Login(L"second", L"pw", nullptr); })}, S_OK,
         "", AfterLogin("REIN\r\nUSER second\r\nPASS pw\r\n")},
        {"UserNameTooLong", kGreeting,
         {Do([](IFtpClient *c) { return c->Login(kWide249.c_str(), L"", nullptr); })},
         kFtpBadUser, "FTP user name invalid or too long", ""},
        {"CommandsBeforeLogin", kGreeting,
         {Do([](IFtpClient *c) {
             HRESULT results[] = {c->Retrieve(L"f", 0), c->SetType('I', 0), c->Delete(L"f"),
                                  c->ChangeToParentDirectory(), c->EndTransfer()};
             for (HRESULT hr : results)
                 if (hr != kFtpNotLoggedIn)
                     return E_FAIL;
             return c->List(L"/");
         })},
         kFtpNotLoggedIn, "not yet logged in to FTP server", ""},

        // Types.
        {"TypeAWithFormat0IsSentAsN", Join({kLogin, {"L", "S200 ok\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->SetType('A', 0); })}, S_OK, "",
         AfterLogin("TYPE A N\r\n")},
        {"TypesAndFormatsThatAreSent",
         Join({kLogin,
               {"L", "S200 ok\r\n", "L", "S200 ok\r\n", "L", "S200 ok\r\n", "L", "S200 ok\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->SetType('E', 'T'); }),
          Do([](IFtpClient *c) { return c->SetType('A', 'C'); }),
          Do([](IFtpClient *c) { return c->SetType('I', 'x'); }),
          Do([](IFtpClient *c) { return c->SetType('L', 2147483647u); })},
         S_OK, "", AfterLogin("TYPE E T\r\nTYPE A C\r\nTYPE I\r\nTYPE L 2147483647\r\n")},
        {"TypesThatAreRefusedLocally", kLogin,
         {kLogIn, Do([](IFtpClient *c) {
              if (c->SetType('A', 'X') != kFtpBadType ||
                  c->SetType('L', 2147483648u) != kFtpBadType ||
                  c->SetType('a', 0) != kFtpBadType)
                  return E_FAIL;
              return c->SetType('B', 0);
          })},
         kFtpBadType, "invalid FTP file type", kLoginSent},

        // Transfers.
        {"RetrieveReadsTheFile",
         Join({kLogin,
               kPortOk,
               {"L", "S150 Opening BINARY mode data connection\r\n", "Ohello world",
                "S226 Transfer complete\r\n"}}),
         {kLogIn, Retrieve(L"/dat/f")}, S_OK, "",
         AfterLogin(kPortSent + std::string("RETR /dat/f\r\n")), "hello world"},
        {"ReplyStartAnd226InOneWrite",
         Join({kLogin,
               kPortOk,
               {"L", "S150 Opening data connection\r\n226 Transfer complete\r\n", "Ohello"}}),
         {kLogIn, Retrieve(L"f")}, S_OK, "", AfterLogin(kPortSent + std::string("RETR f\r\n")),
         "hello"},
        {"Long150And226InOneWrite",
         Join({kLogin,
               kPortOk,
               {"L", "S150 " + kLong1000 + "\r\n226 Transfer complete\r\n", "Ohello"}}),
         {kLogIn, Retrieve(L"f")}, S_OK, "", AfterLogin(kPortSent + std::string("RETR f\r\n")),
         "hello"},
        {"WholeReplyAndNextTogether",
         {"S220 ready\r\n331 already here\r\n", "L", "L", "S230 in\r\n"},
         {kLogIn},
         S_OK,
         "",
         kLoginSent},
        {"ALargeFileFillsOneRead",
         Join({kLogin, kPortOk, {"L", "S150 Opening\r\n", "O" + kBig, "S226 done\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->Retrieve(L"big", 0); }),
          [](IFtpClient *c, std::string *got) {
              IStream *data = nullptr;
              c->QueryInterface(IID_IStream, (void **)&data);
              got->assign(kBig.size(), '\0');
              ULONG n = 0;
              HRESULT hr = data->Read(&(*got)[0], (ULONG)got->size(), &n);
              data->Release();
              if (FAILED(hr) || n != got->size())
                  return E_FAIL;
              return c->EndTransfer();
          }},
         S_OK, "", AfterLogin(kPortSent + std::string("RETR big\r\n")), kBig},
        {"RestartOffsetSendsRest",
         Join({kLogin,
               kPortOk,
               {"L", "S350 Restarting at 1000\r\n", "L", "S150 Opening\r\n", "Otail",
                "S226 done\r\n"}}),
         {kLogIn, Retrieve(L"f", 1000)}, S_OK, "",
         AfterLogin(kPortSent + std::string("REST 1000\r\nRETR f\r\n")), "tail"},
        {"OffsetOf4GiBIsNotSupported", Join({kLogin, kPortOk}),
         {kLogIn, Retrieve(L"f", 0x100000000ull)}, E_NOTIMPL, "<none>", AfterLogin(kPortSent)},
        {"EndTransferAfter250",
         Join({kLogin, kPortOk, {"L", "S150 Opening\r\n", "Odata", "S250 done\r\n"}}),
         {kLogIn, Retrieve(L"f")}, kFtpUnexpectedReply, "unexpected response from FTP server",
         AfterLogin(kPortSent + std::string("RETR f\r\n")), "data"},
        {"RefusedRetrieve",
         Join({kLogin, kPortOk, {"L", "S550 f: No such file or directory.\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) {
              HRESULT hr = c->Retrieve(L"f", 0);
              // No transfer is left open.
              return FAILED(hr) && c->EndTransfer() == S_OK ? hr : E_FAIL;
          })},
         (HRESULT)0x8004F626, "550 f: No such file or directory.",
         AfterLogin(kPortSent + std::string("RETR f\r\n"))},
        {"RetrieveAnsweredWith200", Join({kLogin, kPortOk, {"L", "S200 fine\r\n"}}),
         {kLogIn, Retrieve(L"f")}, kFtpUnexpectedReply, "unexpected response from FTP server",
         AfterLogin(kPortSent + std::string("RETR f\r\n"))},
        {"RefusedPort", Join({kLogin, {"L", "S500 Illegal PORT command.\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->NameList(L"/"); })}, (HRESULT)0x8004F5F4,
         "500 Illegal PORT command.", AfterLogin(kPortSent)},
        {"FileNameTooLongForATransfer", Join({kLogin, kPortOk, {"L", "S350 Restarting\r\n"}}),
         {kLogIn, Retrieve(kWide249, 5)}, kFtpBadFileName, "FTP filename invalid or too long",
         AfterLogin(kPortSent + std::string("REST 5\r\n"))},
        {"TransferWhileOneIsOpen",
         Join({kLogin, kPortOk, {"L", "S150 Opening\r\n", "Oabc", "S226 done\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->List(L"/dat"); }),
          Do([](IFtpClient *c) {
              return c->Retrieve(L"f", 0) == kFtpDataAlreadyOpen ? S_OK : E_FAIL;
          }),
          ReadAll},
         S_OK, "", AfterLogin(kPortSent + std::string("LIST /dat\r\n")), "abc"},
        {"ReadWithoutTransfer", kLogin,
         {kLogIn, Do([](IFtpClient *c) {
              if (c->EndTransfer() != S_OK)
                  return E_FAIL;
              IStream *data = nullptr;
              c->QueryInterface(IID_IStream, (void **)&data);
              char buffer[4];
              ULONG n = 0;
              HRESULT hr = data->Read(buffer, sizeof buffer, &n);
              data->Release();
              return hr;
          })},
         kFtpDataNotOpen, "FTP data connection not open", kLoginSent},
        {"StoreSendsTheData",
         Join({kLogin, kPortOk, {"L", "S150 Ok to send data.\r\n", "I", "S226 stored\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->Store(L"up/a", 0); }),
          Do([](IFtpClient *c) { return Upload(c, "uploaded bytes"); })},
         S_OK, "", AfterLogin(kPortSent + std::string("STOR up/a\r\n")), "", "uploaded bytes"},
        {"AppendAndNameList",
         Join({kLogin,
               kPortOk,
               {"L", "S150 Ok\r\n", "I", "S226 appended\r\n"},
               kPortOk,
               {"L", "S150 Here\r\n", "Oa\r\nb\r\n", "S226 sent\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->Append(L"up/a"); }),
          Do([](IFtpClient *c) { return Upload(c, "more"); }),
          Do([](IFtpClient *c) { return c->NameList(L"up"); }), ReadAll},
         S_OK, "",
         AfterLogin(kPortSent + std::string("APPE up/a\r\n") + kPortSent + "NLST up\r\n"),
         "a\r\nb\r\n", "more"},

        // The rest of the command set.
        {"DirectoryCommands",
         Join({kLogin,
               {"L", "S250 ok\r\n", "L", "S200 ok\r\n", "L", "S257 \"/d\" created\r\n", "L",
                "S250 removed\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->ChangeDirectory(L"/dat"); }),
          Do([](IFtpClient *c) { return c->ChangeToParentDirectory(); }),
          Do([](IFtpClient *c) { return c->MakeDirectory(L"/d"); }),
          Do([](IFtpClient *c) { return c->RemoveDirectory(L"/d"); })},
         S_OK, "", AfterLogin("CWD /dat\r\nCDUP\r\nMKD /d\r\nRMD /d\r\n")},
        {"ChangeDirectoryAnsweredWith350", Join({kLogin, {"L", "S350 odd\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->ChangeDirectory(L"x"); })},
         kFtpUnexpectedReply, "unexpected response from FTP server", AfterLogin("CWD x\r\n")},
        {"Rename",
         Join({kLogin, {"L", "S350 Ready for RNTO.\r\n", "L", "S250 Rename successful.\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->Rename(L"a", L"b"); })}, S_OK, "",
         AfterLogin("RNFR a\r\nRNTO b\r\n")},
        {"RenameFromAnsweredWith250", Join({kLogin, {"L", "S250 hm\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->Rename(L"a", L"b"); })},
         kFtpUnexpectedReply, "unexpected response from FTP server", AfterLogin("RNFR a\r\n")},
        {"NameLengthLimits", Join({kLogin, {"L", "S250 deleted\r\n", "L", "S257 made\r\n"}}),
         {kLogIn, Do([](IFtpClient *c) { return c->Delete(kWide248.c_str()); }),
          Do([](IFtpClient *c) { return c->MakeDirectory(kWide249.c_str()); }),
          Do([](IFtpClient *c) {
              if (c->MakeDirectory(kWide250.c_str()) != kFtpBadFileName ||
                  c->Delete(nullptr) != kFtpBadFileName)
                  return E_FAIL;
              return c->Delete(kWide249.c_str());
          })},
         kFtpBadFileName, "FTP filename invalid or too long",
         AfterLogin("DELE " + kName248 + "\r\nMKD " + kName249 + "\r\n")},
        {"ReservedSlot", kGreeting, {Do([](IFtpClient *c) { return c->Reserved(L"x"); })},
         E_NOTIMPL, "<none>", ""},
    };
    return cases;
}

void PrintTo(const ClientCase &c, std::ostream *os) {
    *os << c.name;
}

class FtpClientCase : public ::testing::TestWithParam<ClientCase> {};

TEST_P(FtpClientCase, Dialogue) {
    const ClientCase &t = GetParam();
    if (!EnvPort("FTP_SCRIPT_PORT"))
        GTEST_SKIP() << "run through tests/net/ftp_run.py";
    ScriptServer server;
    ASSERT_TRUE(server.Arm(t.script));
    ITcpNode *node = TcpStartup();
    ASSERT_NE(node, nullptr);
    IFtpClient *client = nullptr;
    HRESULT hr = CreateFtpClient(node, server.Host().c_str(), &client);
    std::string error = FAILED(hr) ? TakeThreadError() : "";
    std::string got;
    if (SUCCEEDED(hr)) {
        for (const Step &step : t.steps)
            if (FAILED(hr = step(client, &got)))
                break;
        error = FAILED(hr) ? TakeThreadError() : "";
        client->Release();
    } else {
        EXPECT_EQ(client, nullptr);
    }
    node->Release();
    Dialogue sent;
    ASSERT_TRUE(server.Finish(&sent));
    EXPECT_EQ(hr, t.result) << std::hex << "0x" << hr;
    EXPECT_EQ(error, t.error);
    EXPECT_TRUE(MatchesDialogue(t.sent, sent.control))
        << "expected: " << t.sent << "\nsent: " << sent.control;
    EXPECT_TRUE(got == t.read) << "read " << got.size() << " bytes: " << got.substr(0, 80);
    EXPECT_EQ(sent.data, t.stored);
}

INSTANTIATE_TEST_SUITE_P(Scripted, FtpClientCase, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ClientCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(FtpClient, ConnectionRefusedTellsTheSocketError) {
    ITcpNode *node = TcpStartup();
    ASSERT_NE(node, nullptr);
    // A port that was free a moment ago: nothing listens there.
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in any = {};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof any;
    ASSERT_EQ(bind(probe, (sockaddr *)&any, sizeof any), 0);
    ASSERT_EQ(getsockname(probe, (sockaddr *)&any, &size), 0);
    closesocket(probe);

    IFtpClient *client = nullptr;
    HRESULT hr = CreateFtpClient(node, LocalHost(ntohs(any.sin_port)).c_str(), &client);
    std::string error = TakeThreadError();
    node->Release();
    EXPECT_EQ(hr, kFtpConnectFailed);
    EXPECT_EQ(client, nullptr);
    EXPECT_EQ(error.rfind("unable to connect to FTP server: ", 0), 0u) << error;
    EXPECT_GT(error.size(), strlen("unable to connect to FTP server: "));
}

TEST(FtpClient, PasswordIsUserAtHost) {
    BSTR password = MakeFtpPassword();
    ASSERT_NE(password, nullptr);
    std::string text = Narrow(password);
    SysFreeString(password);
    size_t at = text.find('@');
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_GT(at, 0u);
    EXPECT_GT(text.size(), at + 1) << text;
}

}  // namespace
