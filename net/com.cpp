#include "net/com.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "setup/errtext.h"

#define NET_IID(name, d1, d2, d3, b0, b1) \
    const IID name = {d1, d2, d3, {b0, b1, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}}

NET_IID(IID_IFtpClient, 0xA993F340, 0x6183, 0x11D0, 0xB5, 0x55);
NET_IID(IID_INetNode, 0xA993F341, 0x6183, 0x11D0, 0xB5, 0x55);
NET_IID(IID_ITcpSocket, 0xA993F342, 0x6183, 0x11D0, 0xB5, 0x55);
NET_IID(IID_ITcpConnection, 0xA993F343, 0x6183, 0x11D0, 0xB5, 0x55);
NET_IID(IID_ITcpListener, 0xA993F344, 0x6183, 0x11D0, 0xB5, 0x55);
NET_IID(IID_ITcpNode, 0xA993F345, 0x6183, 0x11D0, 0xB5, 0x55);
NET_IID(IID_IHttpClient, 0x0B382FC0, 0x62A2, 0x11D0, 0xB5, 0x55);

// --- constant error records -------------------------------------------------

// Laid out as the IErrorInfo table; every slot takes the record as `this`.
struct StaticErrorInfoVtbl {
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(StaticErrorInfo *, REFIID, void **);
    ULONG(STDMETHODCALLTYPE *AddRef)(StaticErrorInfo *);
    ULONG(STDMETHODCALLTYPE *Release)(StaticErrorInfo *);
    HRESULT(STDMETHODCALLTYPE *GetGUID)(StaticErrorInfo *, GUID *);
    HRESULT(STDMETHODCALLTYPE *GetSource)(StaticErrorInfo *, BSTR *);
    HRESULT(STDMETHODCALLTYPE *GetDescription)(StaticErrorInfo *, BSTR *);
    HRESULT(STDMETHODCALLTYPE *GetHelpFile)(StaticErrorInfo *, BSTR *);
    HRESULT(STDMETHODCALLTYPE *GetHelpContext)(StaticErrorInfo *, DWORD *);
};

namespace {

HRESULT STDMETHODCALLTYPE RecordQueryInterface(StaticErrorInfo *self, REFIID iid, void **out) {
    if (IsEqualIID(iid, IID_IErrorInfo) || IsEqualIID(iid, IID_IUnknown)) {
        *out = self;
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

// Records live in constant storage for the whole run: nothing to count.
ULONG STDMETHODCALLTYPE RecordAddRef(StaticErrorInfo *) {
    return 999;
}
ULONG STDMETHODCALLTYPE RecordRelease(StaticErrorInfo *) {
    return 999;
}

HRESULT STDMETHODCALLTYPE RecordGetGUID(StaticErrorInfo *self, GUID *out) {
    if (self->iid)
        *out = *self->iid;
    else
        memset(out, 0, sizeof *out);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordGetSource(StaticErrorInfo *self, BSTR *out) {
    *out = AnsiToBstr(self->source);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordGetDescription(StaticErrorInfo *self, BSTR *out) {
    *out = AnsiToBstr(self->description);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordGetHelpFile(StaticErrorInfo *, BSTR *out) {
    *out = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordGetHelpContext(StaticErrorInfo *, DWORD *out) {
    *out = 0;
    return S_OK;
}

}  // namespace

const StaticErrorInfoVtbl kStaticErrorInfoVtbl = {
    RecordQueryInterface, RecordAddRef,         RecordRelease,     RecordGetGUID,
    RecordGetSource,      RecordGetDescription, RecordGetHelpFile, RecordGetHelpContext,
};

// --- shared routines --------------------------------------------------------

BSTR AnsiToBstr(const char *text) {
    if (!text)
        return nullptr;
    int length = (int)strlen(text);
    BSTR wide = SysAllocStringLen(nullptr, length);
    if (!wide)
        return nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, text, length + 1, wide, length + 1) == 0) {
        SysFreeString(wide);
        return nullptr;
    }
    return wide;
}

// Sets one text field from 8-bit text; a text that does not convert is left
// out, as the object is still worth having without it.
static void SetText(ICreateErrorInfo *create,
                    HRESULT (STDMETHODCALLTYPE ICreateErrorInfo::*setter)(LPOLESTR),
                    const char *text) {
    BSTR wide = AnsiToBstr(text);
    if (!wide)
        return;
    (void)(create->*setter)(wide);
    SysFreeString(wide);
}

IErrorInfo *MakeErrorInfo(const IID *iid, const char *source, const char *description) {
    ICreateErrorInfo *create = nullptr;
    if (FAILED(CreateErrorInfo(&create)))
        return nullptr;
    // Set even when absent: not every platform starts a new object with the
    // zero identifier.
    (void)create->SetGUID(iid ? *iid : GUID_NULL);
    SetText(create, &ICreateErrorInfo::SetSource, source);
    SetText(create, &ICreateErrorInfo::SetDescription, description);
    IErrorInfo *error = nullptr;
    if (FAILED(create->QueryInterface(IID_IErrorInfo, (void **)&error)))
        error = nullptr;
    create->Release();
    return error;
}

IErrorInfo *MakeWindowsError(int32_t code) {
    return MakeErrorInfo(nullptr, "Windows", ErrorText(code));
}

void SetErrorObject(IErrorInfo *error) {
    (void)SetErrorInfo(0, error);
    if (error)
        error->Release();
}

// "outer: inner", or whichever of the two exists; null when neither does or
// the allocation fails (the caller tells these apart by its inputs).
static BSTR JoinDescriptions(BSTR outer, BSTR inner) {
    if (!outer || !inner)
        return SysAllocString(outer ? outer : inner);
    UINT outerLength = SysStringLen(outer);
    UINT innerLength = SysStringLen(inner);
    BSTR joined = SysAllocStringLen(nullptr, outerLength + 2 + innerLength);
    if (!joined)
        return nullptr;
    memcpy(joined, outer, outerLength * sizeof(OLECHAR));
    joined[outerLength] = L':';
    joined[outerLength + 1] = L' ';
    memcpy(joined + outerLength + 2, inner, (innerLength + 1) * sizeof(OLECHAR));
    return joined;
}

IErrorInfo *CombineErrorInfo(IErrorInfo *outer, IErrorInfo *inner) {
    if (!inner || !outer) {
        IErrorInfo *only = outer ? outer : inner;
        if (only)
            only->AddRef();
        return only;
    }
    ICreateErrorInfo *create = nullptr;
    IErrorInfo *merged = nullptr;
    BSTR source = nullptr, outerText = nullptr, innerText = nullptr, joined = nullptr;
    GUID guid;
    if (FAILED(CreateErrorInfo(&create)))
        goto done;
    if (FAILED(outer->GetGUID(&guid)) || FAILED(create->SetGUID(guid)))
        goto done;
    if (FAILED(outer->GetSource(&source)) || FAILED(create->SetSource(source)))
        goto done;
    if (FAILED(outer->GetDescription(&outerText)) || FAILED(inner->GetDescription(&innerText)))
        goto done;
    if (outerText || innerText) {
        joined = JoinDescriptions(outerText, innerText);
        if (!joined || FAILED(create->SetDescription(joined)))
            goto done;
    }
    if (FAILED(create->QueryInterface(IID_IErrorInfo, (void **)&merged)))
        merged = nullptr;
done:
    SysFreeString(joined);
    SysFreeString(innerText);
    SysFreeString(outerText);
    SysFreeString(source);
    if (create)
        create->Release();
    if (!merged) {
        outer->AddRef();
        merged = outer;
    }
    return merged;
}

// The thread's error object left by inner's failed call through iid, or null
// when inner does not vouch for error information on that interface.
static IErrorInfo *InnerError(IUnknown *inner, REFIID iid) {
    ISupportErrorInfo *support = nullptr;
    IErrorInfo *error = nullptr;
    if (!inner || FAILED(inner->QueryInterface(IID_ISupportErrorInfo, (void **)&support)))
        return nullptr;
    if (support->InterfaceSupportsErrorInfo(iid) != S_OK || GetErrorInfo(0, &error) != S_OK)
        error = nullptr;
    support->Release();
    return error;
}

void ChainError(IErrorInfo *outer, IUnknown *inner, REFIID iid) {
    IErrorInfo *innerError = InnerError(inner, iid);
    if (!innerError) {
        if (outer)
            outer->AddRef();
        SetErrorObject(outer);
        return;
    }
    SetErrorObject(CombineErrorInfo(outer, innerError));
    innerError->Release();
}

HRESULT RaiseRecord(const StaticErrorInfo &record) {
    (void)SetErrorInfo(0, AsErrorInfo(record));
    return record.code;
}

HRESULT RaiseWindowsError(int32_t code) {
    SetErrorObject(MakeWindowsError(code));
    return E_UNEXPECTED;
}

HRESULT ChainRecord(const StaticErrorInfo &record, IUnknown *inner, REFIID iid) {
    ChainError(AsErrorInfo(record), inner, iid);
    return record.code;
}

HRESULT ClearError(HRESULT code) {
    (void)SetErrorInfo(0, nullptr);
    return code;
}

// --- byte stream stubs ------------------------------------------------------

HRESULT ByteStream::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *) {
    return ClearError(E_NOTIMPL);
}
HRESULT ByteStream::SetSize(ULARGE_INTEGER) {
    return ClearError(E_NOTIMPL);
}
HRESULT ByteStream::CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) {
    return ClearError(E_NOTIMPL);
}
HRESULT ByteStream::Commit(DWORD) {
    return ClearError(E_NOTIMPL);
}
HRESULT ByteStream::Revert() {
    return ClearError(E_NOTIMPL);
}
HRESULT ByteStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return ClearError(E_NOTIMPL);
}
HRESULT ByteStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return ClearError(E_NOTIMPL);
}
HRESULT ByteStream::Stat(STATSTG *, DWORD) {
    return ClearError(E_NOTIMPL);
}
HRESULT ByteStream::Clone(IStream **) {
    return ClearError(E_NOTIMPL);
}
