// Error records, error object merging and the object base.

#include <gtest/gtest.h>

#include "base/errtext.h"
#include "net/com.h"
#include "tests/net/nettest.h"

namespace {

STATIC_ERROR_INFO(kOuterRecord, IID_IFtpClient, 0x8004F10C, "FTP client",
                  "unable to connect to FTP server");
constexpr StaticErrorInfo kBareRecord(nullptr, (HRESULT)0x8004A201, nullptr, nullptr);

struct ComTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    void TearDown() override { OleUninitialize(); }
};

std::string Description(IErrorInfo *error) {
    BSTR text = nullptr;
    EXPECT_EQ(S_OK, error->GetDescription(&text));
    std::string out = text ? Narrow(text) : "<null>";
    SysFreeString(text);
    return out;
}

std::string Source(IErrorInfo *error) {
    BSTR text = nullptr;
    EXPECT_EQ(S_OK, error->GetSource(&text));
    std::string out = text ? Narrow(text) : "<null>";
    SysFreeString(text);
    return out;
}

GUID Guid(IErrorInfo *error) {
    GUID guid;
    memset(&guid, 0xAB, sizeof guid);
    EXPECT_EQ(S_OK, error->GetGUID(&guid));
    return guid;
}

TEST_F(ComTest, RecordIsAConstantErrorObject) {
    IErrorInfo *record = AsErrorInfo(kOuterRecord);
    EXPECT_EQ(999u, record->AddRef());
    EXPECT_EQ(999u, record->Release());
    EXPECT_EQ(999u, record->Release());
    void *same = nullptr;
    EXPECT_EQ(S_OK, record->QueryInterface(IID_IErrorInfo, &same));
    EXPECT_EQ((void *)record, same);
    EXPECT_EQ(S_OK, record->QueryInterface(IID_IUnknown, &same));
    EXPECT_EQ(E_NOINTERFACE, record->QueryInterface(IID_IStream, &same));
    EXPECT_EQ(nullptr, same);
    EXPECT_TRUE(IsEqualGUID(IID_IFtpClient, Guid(record)));
    EXPECT_EQ("FTP client", Source(record));
    EXPECT_EQ("unable to connect to FTP server", Description(record));

    IErrorInfo *bare = AsErrorInfo(kBareRecord);
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, Guid(bare)));
    EXPECT_EQ("<null>", Source(bare));
    EXPECT_EQ("<null>", Description(bare));
}

TEST_F(ComTest, RaisedRecordIsTheThreadsErrorObject) {
    EXPECT_EQ((HRESULT)0x8004F10C, RaiseRecord(kOuterRecord));
    IErrorInfo *error = nullptr;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &error));
    EXPECT_EQ(AsErrorInfo(kOuterRecord), error);
    error->Release();
    EXPECT_EQ(E_NOTIMPL, ClearError(E_NOTIMPL));
    EXPECT_EQ("<none>", TakeThreadError());
}

TEST_F(ComTest, AnsiToBstr) {
    EXPECT_EQ(nullptr, AnsiToBstr(nullptr));
    struct {
        const char *text;
        const wchar_t *wide;
    } cases[] = {{"", L""}, {"abc", L"abc"}, {"a: b\r\n", L"a: b\r\n"}};
    for (const auto &c : cases) {
        BSTR wide = AnsiToBstr(c.text);
        ASSERT_NE(nullptr, wide) << c.text;
        EXPECT_EQ(wcslen(c.wide), SysStringLen(wide)) << c.text;
        EXPECT_STREQ(c.wide, wide) << c.text;
        SysFreeString(wide);
    }
}

TEST_F(ComTest, WindowsErrorHasNoIdentifier) {
    IErrorInfo *error = MakeWindowsError(10061);
    ASSERT_NE(nullptr, error);
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, Guid(error)));
    EXPECT_EQ("Windows", Source(error));
    EXPECT_EQ(ErrorText(10061), Description(error));
    error->Release();
}

TEST_F(ComTest, CombineJoinsDescriptionsWithColonAndBlank) {
    struct {
        const char *outer, *inner, *merged;
    } cases[] = {
        {"outer text", "inner text", "outer text: inner text"},
        {"outer text", nullptr, "outer text"},
        {nullptr, "inner text", "inner text"},
    };
    for (const auto &c : cases) {
        IErrorInfo *outer = MakeErrorInfo(&IID_IHttpClient, "HTTP client", c.outer);
        IErrorInfo *inner = MakeErrorInfo(nullptr, "Windows", c.inner);
        IErrorInfo *merged = CombineErrorInfo(outer, inner);
        ASSERT_NE(nullptr, merged);
        EXPECT_EQ(c.merged, Description(merged));
        EXPECT_EQ("HTTP client", Source(merged));
        EXPECT_TRUE(IsEqualGUID(IID_IHttpClient, Guid(merged)));
        merged->Release();
        inner->Release();
        outer->Release();
    }
}

TEST_F(ComTest, CombineWithOneSideMissingGivesTheOther) {
    IErrorInfo *inner = MakeWindowsError(10060);
    EXPECT_EQ(nullptr, CombineErrorInfo(nullptr, nullptr));
    IErrorInfo *only = CombineErrorInfo(nullptr, inner);
    EXPECT_EQ(inner, only);
    only->Release();
    only = CombineErrorInfo(AsErrorInfo(kOuterRecord), nullptr);
    EXPECT_EQ(AsErrorInfo(kOuterRecord), only);

    IErrorInfo *merged = CombineErrorInfo(AsErrorInfo(kOuterRecord), inner);
    EXPECT_TRUE(IsEqualGUID(IID_IFtpClient, Guid(merged)));
    EXPECT_EQ("FTP client", Source(merged));
    EXPECT_EQ(std::string("unable to connect to FTP server: ") + ErrorText(10060),
              Description(merged));
    merged->Release();
    inner->Release();
}

// An inner object that vouches for error information on IStream only.
class Vouching final : public ComObject<Vouching, ISupportErrorInfo> {
public:
    static const QiEntry kInterfaces[];
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return IsEqualIID(iid, IID_IStream) ? S_OK : S_FALSE;
    }
};
const QiEntry Vouching::kInterfaces[] = {
    {&IID_IUnknown, 0}, {&IID_ISupportErrorInfo, 0}, {nullptr, 0}};

// An inner object with no error information at all.
class Silent final : public ComObject<Silent, ISupportErrorInfo> {
public:
    static const QiEntry kInterfaces[];
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }
};
const QiEntry Silent::kInterfaces[] = {{&IID_IUnknown, 0}, {nullptr, 0}};

TEST_F(ComTest, ChainErrorMergesOnlyWhatTheInnerObjectVouchesFor) {
    Vouching *vouching = new Vouching;
    Silent *silent = new Silent;
    struct {
        const char *name;
        IUnknown *inner;
        const IID *iid;
        bool innerError;
        const StaticErrorInfo *outer;
        const char *expected;
    } cases[] = {
        {"vouched", vouching, &IID_IStream, true, &kOuterRecord,
         "unable to connect to FTP server: inner text"},
        {"other interface", vouching, &IID_ITcpNode, true, &kOuterRecord,
         "unable to connect to FTP server"},
        {"no thread error", vouching, &IID_IStream, false, &kOuterRecord,
         "unable to connect to FTP server"},
        {"no error support", silent, &IID_IStream, true, &kOuterRecord,
         "unable to connect to FTP server"},
        {"no record", vouching, &IID_IStream, true, nullptr, "inner text"},
        {"no record, nothing vouched", silent, &IID_IStream, true, nullptr, "<none>"},
    };
    for (const auto &c : cases) {
        SetErrorObject(c.innerError ? MakeErrorInfo(nullptr, "Windows", "inner text") : nullptr);
        ChainError(c.outer ? AsErrorInfo(*c.outer) : nullptr, c.inner, *c.iid);
        EXPECT_EQ(c.expected, TakeThreadError()) << c.name;
    }
    EXPECT_EQ(0u, silent->Release());
    EXPECT_EQ(0u, vouching->Release());
}

TEST_F(ComTest, UnknownInterfaceGivesNullAndLeavesNoErrorObject) {
    Vouching *object = new Vouching;
    SetErrorObject(MakeErrorInfo(nullptr, nullptr, "stale"));
    void *out = object;  // COM callers may pass any value in
    EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(IID_IStream, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ("<none>", TakeThreadError());
    EXPECT_EQ(0u, object->Release());
}

}  // namespace
