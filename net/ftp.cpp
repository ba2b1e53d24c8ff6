#include "net/ftp.h"

#include "net/ftpreply.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define FTP_ASSERT(check) NET_ASSERT(check, "net/ftp")

namespace {

#define FTP_RECORD(name, code, text) \
    STATIC_ERROR_INFO(name, IID_IFtpClient, code, "FTP client", text)

FTP_RECORD(kCtrlReadFailed, kFtpCtrlReadFailed, "unable to read from the FTP control connection");
FTP_RECORD(kCtrlEof, kFtpCtrlEof,
           "unexpected end-of-file while reading from the FTP control connection");
FTP_RECORD(kCtrlWriteFailed, kFtpCtrlWriteFailed, "unable to write to the FTP control connection");
FTP_RECORD(kReplyTooLong, kFtpReplyTooLong, "the response from the FTP server was too long");
FTP_RECORD(kDataOpenFailed, kFtpDataOpenFailed, "unable to open FTP data connection");
FTP_RECORD(kDataReadFailed, kFtpDataReadFailed, "unable to read from FTP data connection");
FTP_RECORD(kDataWriteFailed, kFtpDataWriteFailed, "unable to write to FTP data connection");
FTP_RECORD(kDataAlreadyOpen, kFtpDataAlreadyOpen, "FTP data connection was already open");
FTP_RECORD(kDataNotOpen, kFtpDataNotOpen, "FTP data connection not open");
FTP_RECORD(kNotLoggedIn, kFtpNotLoggedIn, "not yet logged in to FTP server");
FTP_RECORD(kConnectFailed, kFtpConnectFailed, "unable to connect to FTP server");
FTP_RECORD(kBadUser, kFtpBadUser, "FTP user name invalid or too long");
FTP_RECORD(kBadPassword, kFtpBadPassword, "FTP password invalid or too long");
FTP_RECORD(kLoginRefused, kFtpLoginRefused, "FTP login refused by server");
FTP_RECORD(kBadFileName, kFtpBadFileName, "FTP filename invalid or too long");
FTP_RECORD(kBadType, kFtpBadType, "invalid FTP file type");
FTP_RECORD(kUnexpectedReply, kFtpUnexpectedReply, "unexpected response from FTP server");

// Commands fit this size, terminator included.
constexpr size_t kLineSize = 256;

// A command under construction: verb, converted argument, CR LF.
struct Command {
    char text[kLineSize];
    size_t length;
};

// Puts verb, the argument in the ANSI code page, and CR LF into command.
// False when the argument is null, does not convert, or does not fit.
bool BuildCommand(const char *verb, LPCOLESTR argument, Command *command) {
    size_t verbLength = strlen(verb);
    memcpy(command->text, verb, verbLength);
    if (!argument)
        return false;
    // Room for the argument and its terminator; CR LF takes the last two.
    int room = (int)(kLineSize - verbLength - 2);
    int converted = WideCharToMultiByte(CP_ACP, 0, argument, -1, command->text + verbLength, room,
                                        nullptr, nullptr);
    if (converted == 0)
        return false;
    command->length = verbLength + (size_t)converted - 1;
    memcpy(command->text + command->length, "\r\n", 3);
    command->length += 2;
    return true;
}

class FtpClient final : public ComObject<FtpClient, IFtpClient, ByteStream, SupportsAllErrorInfo> {
public:
    static const QiEntry kInterfaces[];

    explicit FtpClient(ITcpNode *owner) : node(owner) { node->AddRef(); }
    ~FtpClient();

    HRESULT Open(LPCOLESTR host);

    // IFtpClient
    HRESULT STDMETHODCALLTYPE Login(LPCOLESTR user, LPCOLESTR password, LPCOLESTR account) override;
    HRESULT STDMETHODCALLTYPE ChangeDirectory(LPCOLESTR path) override {
        return Simple("CWD ", path, '2');
    }
    HRESULT STDMETHODCALLTYPE Reserved(LPCOLESTR) override { return ClearError(E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE ChangeToParentDirectory() override;
    HRESULT STDMETHODCALLTYPE SetType(char type, uint32_t format) override;
    HRESULT STDMETHODCALLTYPE Retrieve(LPCOLESTR name, uint64_t offset) override {
        return OpenTransfer("RETR ", name, offset);
    }
    HRESULT STDMETHODCALLTYPE Store(LPCOLESTR name, uint64_t offset) override {
        return OpenTransfer("STOR ", name, offset);
    }
    HRESULT STDMETHODCALLTYPE Append(LPCOLESTR name) override {
        return OpenTransfer("APPE ", name, 0);
    }
    HRESULT STDMETHODCALLTYPE EndTransfer() override;
    HRESULT STDMETHODCALLTYPE Rename(LPCOLESTR from, LPCOLESTR to) override;
    HRESULT STDMETHODCALLTYPE Delete(LPCOLESTR name) override { return Simple("DELE ", name, '2'); }
    HRESULT STDMETHODCALLTYPE MakeDirectory(LPCOLESTR path) override {
        return Simple("MKD ", path, '2');
    }
    HRESULT STDMETHODCALLTYPE RemoveDirectory(LPCOLESTR path) override {
        return Simple("RMD ", path, '2');
    }
    HRESULT STDMETHODCALLTYPE List(LPCOLESTR path) override {
        return OpenTransfer("LIST ", path, 0);
    }
    HRESULT STDMETHODCALLTYPE NameList(LPCOLESTR path) override {
        return OpenTransfer("NLST ", path, 0);
    }

    // IStream: the data connection of the open transfer.
    HRESULT STDMETHODCALLTYPE Read(void *buffer, ULONG count, ULONG *read) override;
    HRESULT STDMETHODCALLTYPE Write(const void *buffer, ULONG count, ULONG *written) override;

private:
    HRESULT ReadReply();
    HRESULT FillReplyBuffer();
    HRESULT Refusal();
    HRESULT FailWithReplyLine(const StaticErrorInfo &record);
    HRESULT Send(const char *text, size_t length);
    HRESULT SendCommand(const char *verb, LPCOLESTR argument, const StaticErrorInfo &badArgument);
    HRESULT Simple(const char *verb, LPCOLESTR argument, char expectedClass);
    HRESULT OpenTransfer(const char *verb, LPCOLESTR name, uint64_t offset);
    HRESULT AnnounceAndRequest(ITcpListener *listener, const char *verb, LPCOLESTR name,
                               uint64_t offset);
    HRESULT AcceptData(ITcpListener *listener);
    void DropData();

    ITcpNode *node;
    ITcpConnection *ctrlconn = nullptr;
    IStream *ctrlstrm = nullptr;
    ITcpConnection *dataconn = nullptr;
    IStream *datastrm = nullptr;
    int32_t loggedIn = 0;
    // The last final reply line, zero-terminated without its CR LF, at the
    // start; after it, bytes that arrived behind that line and belong to the
    // next reply (net/ftpreply.h).
    char reply[kFtpReplyBufferSize] = {};
    FtpReplyState replyState = {};
};

const QiEntry FtpClient::kInterfaces[] = {
    {&IID_IFtpClient, 0},        {&IID_IUnknown, 0}, {&IID_IStream, 1},
    {&IID_ISupportErrorInfo, 2}, {nullptr, 0},
};

FtpClient::~FtpClient() {
    DropData();
    ReleaseAndClear(&ctrlconn);
    ReleaseAndClear(&ctrlstrm);
    node->Release();
}

void FtpClient::DropData() {
    ReleaseAndClear(&dataconn);
    ReleaseAndClear(&datastrm);
}

HRESULT FtpClient::Open(LPCOLESTR host) {
    if (FAILED(node->ConnectByName(host, 21, &ctrlconn)))
        return ChainRecord(kConnectFailed, node, IID_ITcpNode);
    if (FAILED(ctrlconn->QueryInterface(IID_IStream, (void **)&ctrlstrm)))
        return ClearError(E_UNEXPECTED);
    HRESULT hr = ReadReply();
    if (FAILED(hr))
        return hr;
    if (reply[0] != '2')
        return FailWithReplyLine(kConnectFailed);
    return S_OK;
}

// ---------------------------------------------------------------------
// Replies

// Reads one reply; its final line is left at the start of reply.
HRESULT FtpClient::ReadReply() {
    FTP_ASSERT(this->ctrlconn != NULL);
    FTP_ASSERT(this->ctrlstrm != NULL);
    FtpReplyStart(reply, &replyState);
    DWORD start = GetTickCount();
    for (;;) {
        FtpReplyStep step = FtpReplyNext(reply, &replyState);
        if (step == kFtpReplyDone)
            break;
        if (step == kFtpReplyOverLimit)
            return RaiseRecord(kReplyTooLong);
        if (GetTickCount() - start >= kWholeAnswerBoundMs) {
            RaiseWindowsError(WSAETIMEDOUT);
            return ChainRecord(kCtrlReadFailed, ctrlstrm, IID_IStream);
        }
        HRESULT hr = FillReplyBuffer();
        if (FAILED(hr))
            return hr;
    }
    if (reply[0] == '4' || reply[0] == '5')
        return Refusal();
    return S_OK;
}

// One read from the control connection into the free end of reply.
HRESULT FtpClient::FillReplyBuffer() {
    ULONG got = 0;
    ULONG room = (ULONG)(sizeof reply - replyState.held);
    if (FAILED(ctrlstrm->Read(reply + replyState.held, room, &got)))
        return ChainRecord(kCtrlReadFailed, ctrlstrm, IID_IStream);
    if (got == 0)
        return RaiseRecord(kCtrlEof);
    replyState.held += got;
    return S_OK;
}

HRESULT FtpClient::Refusal() {
    SetErrorObject(MakeErrorInfo(&IID_IFtpClient, "FTP client", reply));
    return kFtpRefusalBase + FtpReplyNumber(reply);
}

// Installs record merged with the current reply line and gives its code.
HRESULT FtpClient::FailWithReplyLine(const StaticErrorInfo &record) {
    IErrorInfo *line = MakeErrorInfo(&IID_IFtpClient, "FTP client", reply);
    SetErrorObject(CombineErrorInfo(AsErrorInfo(record), line));
    if (line)
        line->Release();
    return record.code;
}

// ---------------------------------------------------------------------
// Commands

// Writes the whole text on the control connection, then reads the reply.
HRESULT FtpClient::Send(const char *text, size_t length) {
    FTP_ASSERT(this->ctrlconn != NULL);
    FTP_ASSERT(this->ctrlstrm != NULL);
    ULONG written = 0;
    if (FAILED(WriteAll(ctrlstrm, text, (ULONG)length, &written)))
        return ChainRecord(kCtrlWriteFailed, ctrlstrm, IID_IStream);
    // A connection that stops taking bytes would never take the rest.
    if (written < length)
        return RaiseRecord(kCtrlWriteFailed);
    return ReadReply();
}

HRESULT FtpClient::SendCommand(const char *verb, LPCOLESTR argument,
                               const StaticErrorInfo &badArgument) {
    Command command;
    if (!BuildCommand(verb, argument, &command))
        return RaiseRecord(badArgument);
    return Send(command.text, command.length);
}

HRESULT FtpClient::Simple(const char *verb, LPCOLESTR argument, char expectedClass) {
    if (!loggedIn)
        return RaiseRecord(kNotLoggedIn);
    HRESULT hr = SendCommand(verb, argument, kBadFileName);
    if (FAILED(hr))
        return hr;
    return reply[0] == expectedClass ? S_OK : RaiseRecord(kUnexpectedReply);
}

HRESULT FtpClient::ChangeToParentDirectory() {
    if (!loggedIn)
        return RaiseRecord(kNotLoggedIn);
    HRESULT hr = Send("CDUP\r\n", 6);
    if (FAILED(hr))
        return hr;
    return reply[0] == '2' ? S_OK : RaiseRecord(kUnexpectedReply);
}

HRESULT FtpClient::Login(LPCOLESTR user, LPCOLESTR password, LPCOLESTR) {
    if (!user)
        return ClearError(E_POINTER);
    if (loggedIn) {
        HRESULT hr = Send("REIN\r\n", 6);
        if (FAILED(hr))
            return hr;
        loggedIn = 0;
    }
    HRESULT hr = SendCommand("USER ", user, kBadUser);
    if (FAILED(hr))
        return hr;
    if (reply[0] == '3') {
        hr = SendCommand("PASS ", password ? password : L"", kBadPassword);
        if (FAILED(hr))
            return hr;
    }
    if (reply[0] != '2')
        return FailWithReplyLine(kLoginRefused);
    loggedIn = 1;
    return S_OK;
}

HRESULT FtpClient::SetType(char type, uint32_t format) {
    if (!loggedIn)
        return RaiseRecord(kNotLoggedIn);
    // "TYPE L 2147483647\r\n" and its terminator fill it exactly.
    char command[20];
    int length;
    if (type == 'A' || type == 'E') {
        char form = format == 0 ? 'N' : (char)format;
        if (format > 0xFF || (form != 'N' && form != 'T' && form != 'C'))
            return RaiseRecord(kBadType);
        length = wsprintfA(command, "TYPE %c %c\r\n", type, form);
    } else if (type == 'I') {
        length = wsprintfA(command, "TYPE I\r\n");
    } else if (type == 'L' && format <= 2147483647u) {
        length = wsprintfA(command, "TYPE L %d\r\n", (int)format);
    } else {
        return RaiseRecord(kBadType);
    }
    return Send(command, (size_t)length);
}

HRESULT FtpClient::Rename(LPCOLESTR from, LPCOLESTR to) {
    if (!loggedIn)
        return RaiseRecord(kNotLoggedIn);
    HRESULT hr = SendCommand("RNFR ", from, kBadFileName);
    if (FAILED(hr))
        return hr;
    if (reply[0] != '3')
        return RaiseRecord(kUnexpectedReply);
    hr = SendCommand("RNTO ", to, kBadFileName);
    if (FAILED(hr))
        return hr;
    return reply[0] == '2' ? S_OK : RaiseRecord(kUnexpectedReply);
}

// ---------------------------------------------------------------------
// Transfers

HRESULT FtpClient::OpenTransfer(const char *verb, LPCOLESTR name, uint64_t offset) {
    if (!loggedIn)
        return RaiseRecord(kNotLoggedIn);
    if (dataconn)
        return RaiseRecord(kDataAlreadyOpen);
    FTP_ASSERT(this->ctrlconn != NULL);
    FTP_ASSERT(this->ctrlstrm != NULL);
    ITcpListener *listener = nullptr;
    if (FAILED(node->Listen(0, &listener)))
        return ChainRecord(kDataOpenFailed, node, IID_ITcpNode);
    HRESULT hr = AnnounceAndRequest(listener, verb, name, offset);
    if (SUCCEEDED(hr))
        hr = AcceptData(listener);
    listener->Release();
    return hr;
}

// PORT, REST when offset is nonzero, then the transfer command itself,
// which the server must answer with class 1 before it connects.
HRESULT FtpClient::AnnounceAndRequest(ITcpListener *listener, const char *verb, LPCOLESTR name,
                                      uint64_t offset) {
    SocketAddress listening, local;
    if (FAILED(listener->GetLocalAddress(&listening)) || FAILED(ctrlconn->GetLocalAddress(&local)))
        return ChainRecord(kDataOpenFailed, listener, IID_ITcpListener);
    // The address is the one the server already reaches us at; the port is
    // the listener's.
    char port[kLineSize];
    int length =
        wsprintfA(port, "PORT %d,%d,%d,%d,%d,%d\r\n", local.address[0], local.address[1],
                  local.address[2], local.address[3], listening.port[0], listening.port[1]);
    HRESULT hr = Send(port, (size_t)length);
    if (FAILED(hr))
        return hr;
    if (offset > 0xFFFFFFFFu)
        return ClearError(E_NOTIMPL);
    if (offset != 0) {
        char rest[32];
        length = wsprintfA(rest, "REST %lu\r\n", (unsigned long)offset);
        hr = Send(rest, (size_t)length);
        if (FAILED(hr))
            return hr;
    }
    hr = SendCommand(verb, name, kBadFileName);
    if (FAILED(hr))
        return hr;
    return reply[0] == '1' ? S_OK : RaiseRecord(kUnexpectedReply);
}

HRESULT FtpClient::AcceptData(ITcpListener *listener) {
    ITcpConnection *connection = nullptr;
    if (FAILED(listener->Accept(&connection)))
        return ChainRecord(kDataOpenFailed, listener, IID_ITcpListener);
    IStream *stream = nullptr;
    if (FAILED(connection->QueryInterface(IID_IStream, (void **)&stream))) {
        connection->Release();
        return ClearError(E_UNEXPECTED);
    }
    dataconn = connection;
    datastrm = stream;
    return S_OK;
}

HRESULT FtpClient::EndTransfer() {
    if (!loggedIn)
        return RaiseRecord(kNotLoggedIn);
    if (!dataconn)
        return S_OK;
    // Closing our end tells the server an upload is complete.
    DropData();
    HRESULT hr = ReadReply();
    if (FAILED(hr))
        return hr;
    return strncmp(reply, "226", 3) == 0 ? S_OK : RaiseRecord(kUnexpectedReply);
}

HRESULT FtpClient::Read(void *buffer, ULONG count, ULONG *read) {
    if (!dataconn)
        return RaiseRecord(kDataNotOpen);
    FTP_ASSERT(this->datastrm != NULL);
    ULONG total = 0;
    if (FAILED(ReadFull(datastrm, buffer, count, &total)))
        return ChainRecord(kDataReadFailed, datastrm, IID_IStream);
    if (read)
        *read = total;
    return S_OK;
}

HRESULT FtpClient::Write(const void *buffer, ULONG count, ULONG *written) {
    if (!dataconn)
        return RaiseRecord(kDataNotOpen);
    FTP_ASSERT(this->datastrm != NULL);
    ULONG total = 0;
    if (FAILED(WriteAll(datastrm, buffer, count, &total)))
        return ChainRecord(kDataWriteFailed, datastrm, IID_IStream);
    if (written)
        *written = total;
    return S_OK;
}

}  // namespace

HRESULT CreateFtpClient(ITcpNode *node, LPCOLESTR host, IFtpClient **client) {
    if (!node || !client)
        return ClearError(E_POINTER);
    FtpClient *created = new (std::nothrow) FtpClient(node);
    if (!created)
        return ClearError(E_OUTOFMEMORY);
    HRESULT hr = created->Open(host);
    if (FAILED(hr)) {
        created->Release();
        return hr;
    }
    *client = created;
    return S_OK;
}

BSTR MakeFtpPassword(void) {
    // The password is "<user>@<host>" in at most 128 wide characters,
    // terminator included.
    constexpr int kPasswordSize = 128;
    char user[63];
    DWORD userSize = sizeof user;
    if (!GetUserNameA(user, &userSize))
        return nullptr;
    wchar_t password[kPasswordSize];
    int userLength = MultiByteToWideChar(CP_ACP, 0, user, -1, password, kPasswordSize);
    if (userLength == 0)
        return nullptr;
    ITcpNode *node = TcpStartup();
    if (!node)
        return nullptr;
    BSTR host = nullptr;
    HRESULT hr = node->ResolveAddress(nullptr, &host);
    node->Release();
    if (FAILED(hr))
        return nullptr;
    BSTR result = nullptr;
    size_t used = (size_t)userLength - 1;
    if (used + 1 + SysStringLen(host) + 1 <= (size_t)kPasswordSize) {
        password[used] = L'@';
        wcscpy(password + used + 1, host);
        result = SysAllocString(password);
    }
    SysFreeString(host);
    return result;
}
