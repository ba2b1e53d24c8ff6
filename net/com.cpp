#include "net/com.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/errtext.h"

// --- constant error records -------------------------------------------------

const QiEntry StaticErrorInfo::kInterfaces[] = {
    {&IID_IErrorInfo, 0},
    {&IID_IUnknown, 0},
    {nullptr, 0},
};

HRESULT StaticErrorInfo::GetGUID(GUID *out) {
    if (iid)
        *out = *iid;
    else
        memset(out, 0, sizeof *out);
    return S_OK;
}

HRESULT StaticErrorInfo::GetSource(BSTR *out) {
    *out = AnsiToBstr(source);
    return S_OK;
}

HRESULT StaticErrorInfo::GetDescription(BSTR *out) {
    *out = AnsiToBstr(description);
    return S_OK;
}

HRESULT StaticErrorInfo::GetHelpFile(BSTR *out) {
    *out = nullptr;
    return S_OK;
}

HRESULT StaticErrorInfo::GetHelpContext(DWORD *out) {
    *out = 0;
    return S_OK;
}

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

// --- stream helpers ---------------------------------------------------------

HRESULT ReadFull(IStream *stream, void *buffer, ULONG count, ULONG *got) {
    ULONG total = 0;
    HRESULT hr = S_OK;
    while (total < count) {
        ULONG n = 0;
        hr = stream->Read((char *)buffer + total, count - total, &n);
        if (FAILED(hr) || n == 0)
            break;
        total += n;
    }
    *got = total;
    return FAILED(hr) ? hr : S_OK;
}

HRESULT WriteAll(IStream *stream, const void *buffer, ULONG count, ULONG *written) {
    ULONG total = 0;
    HRESULT hr = S_OK;
    while (total < count) {
        ULONG n = 0;
        hr = stream->Write((const char *)buffer + total, count - total, &n);
        if (FAILED(hr) || n == 0)
            break;
        total += n;
    }
    *written = total;
    return FAILED(hr) ? hr : S_OK;
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
