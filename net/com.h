#ifndef NET_COM_H
#define NET_COM_H

// Object and error conventions shared by the network objects (net/tcp,
// net/ftp, net/http): interface identifiers, constant error records, the
// routines that build, merge and install the calling thread's error object,
// the templates that write QueryInterface and reference counting once, and
// the stream helpers that read or write a whole buffer.
//
// Failing an operation: just before it returns its negative code, a network
// operation does exactly one of
//   RaiseRecord(record)              its own failure, gives record.code;
//   RaiseWindowsError(wsaCode)       a failed socket call, gives E_UNEXPECTED;
//   ChainRecord(record, inner, iid)  an inner object failed, gives record.code;
//   ClearError(code)                 allocation, conversion, short write,
//                                    unknown identifier: no error object.

#include <new>
#include <stdint.h>
#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

#include "base/check.h"

// The program's own interface identifiers.
extern const IID IID_IFtpClient;      // {A993F340-6183-11D0-B555-444553540000}
extern const IID IID_INetNode;        // {A993F341-6183-11D0-B555-444553540000}
extern const IID IID_ITcpSocket;      // {A993F342-6183-11D0-B555-444553540000}
extern const IID IID_ITcpConnection;  // {A993F343-6183-11D0-B555-444553540000}
extern const IID IID_ITcpListener;    // {A993F344-6183-11D0-B555-444553540000}
extern const IID IID_ITcpNode;        // {A993F345-6183-11D0-B555-444553540000}
extern const IID IID_IHttpClient;     // {0B382FC0-62A2-11D0-B555-444553540000}

class StaticErrorInfo;

// ---------------------------------------------------------------------------
// Shared routines. 8-bit texts are in the ANSI code page.

// New wide string holding text (measured, converted with its terminator).
// Null when text is null or the allocation or conversion fails.
BSTR AnsiToBstr(const char *text);

// New platform error object with the identifier (when iid is not null), the
// source and the description (each when not null and convertible).
// Null when the object cannot be made.
IErrorInfo *MakeErrorInfo(const IID *iid, const char *source, const char *description);

// MakeErrorInfo(null, "Windows", ErrorText(code)); code is a Win32 or
// Winsock error code. Null when the object cannot be made.
IErrorInfo *MakeWindowsError(int32_t code);

// Installs error (may be null) as the thread's error object and releases the
// caller's reference to it.
void SetErrorObject(IErrorInfo *error);

// Releases the object *held points to, if any, and clears the pointer.
template <typename Interface>
void ReleaseAndClear(Interface **held) {
    if (*held)
        (*held)->Release();
    *held = nullptr;
}

// One error object telling both: outer's identifier and source, and the
// description "outer: inner" (only one of them when the other has none).
// Either argument may be null; with one null the other is given with one
// more reference. When the merged object cannot be built, outer is given
// with one more reference. The caller releases the result (may be null).
IErrorInfo *CombineErrorInfo(IErrorInfo *outer, IErrorInfo *inner);

// Installs the thread's error after inner failed in a call through the
// interface iid: CombineErrorInfo(outer, thread's error) when inner supports
// error information for iid and the thread holds an error object, otherwise
// outer alone (which may be null: no error object).
void ChainError(IErrorInfo *outer, IUnknown *inner, REFIID iid);

// Helpers that install an error and give the code to return.
HRESULT RaiseRecord(const StaticErrorInfo &record);  // gives record.code
HRESULT RaiseWindowsError(int32_t code);             // gives E_UNEXPECTED
HRESULT ChainRecord(const StaticErrorInfo &record, IUnknown *inner, REFIID iid);
HRESULT ClearError(HRESULT code);  // gives code

// ---------------------------------------------------------------------------
// Assertions: a failed check prints
// "Assertion failed: <check>, file <module>, line <n>" and ends the program.
#define NET_ASSERT(check, module) ((check) ? (void)0 : CheckFailed(#check, module, __LINE__))

// ---------------------------------------------------------------------------
// Object base.
//
// ComInterfaces<Derived, I1, I2, ...> lays the interface table pointers of
// I1, I2, ... at the start of the object in that order and writes
// QueryInterface once for all of them, so secondary interfaces answer as the
// primary does. Derived supplies
//     static const QiEntry kInterfaces[];  // ends with {nullptr, 0}
// mapping each identifier it answers to the index of an interface in the
// list. An identifier not in the table gives E_NOINTERFACE, no error object
// and *out set to null. Derived adds AddRef and Release: ComObject below
// for objects on the heap, its own for objects that live for the whole run.
struct QiEntry {
    const IID *iid;
    unsigned index;
};

template <class Derived, class... Interfaces>
class ComInterfaces : public Interfaces... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        for (const QiEntry *e = Derived::kInterfaces; e->iid; ++e) {
            if (IsEqualIID(iid, *e->iid)) {
                IUnknown *found = InterfaceAt(e->index);
                found->AddRef();
                *out = found;
                return S_OK;
            }
        }
        *out = nullptr;
        return ClearError(E_NOINTERFACE);
    }

protected:
    constexpr ComInterfaces() = default;
    ~ComInterfaces() = default;

private:
    IUnknown *InterfaceAt(unsigned index) {
        IUnknown *found = nullptr;
        unsigned k = 0;
        ((found = (k++ == index) ? static_cast<Interfaces *>(this) : found), ...);
        return found;
    }
};

// An object on the heap with one reference count for all its interfaces.
// Derived is final; objects are made with `new (std::nothrow)` and a count
// of 1, and deleted at the last Release.
template <class Derived, class... Interfaces>
class ComObject : public ComInterfaces<Derived, Interfaces...> {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs;
        if (left == 0)
            delete static_cast<Derived *>(this);
        return left;
    }

protected:
    ComObject() = default;
    ~ComObject() = default;
    ULONG refs = 1;
};

// ---------------------------------------------------------------------------
// Constant error records.
//
// A StaticErrorInfo is an IErrorInfo object in constant storage, defined
// with STATIC_ERROR_INFO. AddRef and Release do nothing and return 999, so
// a record can be handed to SetErrorInfo and to anything that counts
// references. QueryInterface answers IErrorInfo and IUnknown; GetGUID gives
// *iid or the zero identifier when iid is null; GetSource and
// GetDescription give new wide strings (null when the text is null);
// GetHelpFile gives null; GetHelpContext gives 0. All give S_OK.
class StaticErrorInfo final : public ComInterfaces<StaticErrorInfo, IErrorInfo> {
public:
    static const QiEntry kInterfaces[];

    constexpr StaticErrorInfo(const IID *iid, HRESULT code, const char *source,
                              const char *description)
        : iid(iid), code(code), source(source), description(description) {}

    // Records live in constant storage for the whole run: nothing to count.
    ULONG STDMETHODCALLTYPE AddRef() override { return 999; }
    ULONG STDMETHODCALLTYPE Release() override { return 999; }
    HRESULT STDMETHODCALLTYPE GetGUID(GUID *out) override;
    HRESULT STDMETHODCALLTYPE GetSource(BSTR *out) override;
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR *out) override;
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR *out) override;
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD *out) override;

    const IID *iid;           // module's interface identifier, or null
    HRESULT code;             // failure code the record stands for
    const char *source;       // "FTP client", "HTTP client", or null
    const char *description;  // 8-bit text, or null
};

// Defines a record: STATIC_ERROR_INFO(kName, IID_IHttpClient, 0x8004A200,
// "HTTP client", "unable to connect to HTTP server");
#define STATIC_ERROR_INFO(name, iid, code, source, description) \
    constexpr StaticErrorInfo name(&(iid), (HRESULT)(code), source, description)

// The record as an interface pointer (no reference is counted; the record's
// methods write nothing, so handing out a constant object is safe).
inline IErrorInfo *AsErrorInfo(const StaticErrorInfo &record) {
    return const_cast<StaticErrorInfo *>(&record);
}

// ---------------------------------------------------------------------------
// Stream helpers. Both leave the thread's error object as the stream's
// failing call left it, so the caller can chain it into its own.

// Reads until count bytes have arrived or the stream ends (a read that
// gives 0 bytes). *got receives the bytes read, also on failure (those that
// arrived before it). Returns S_OK or the stream's failure code.
HRESULT ReadFull(IStream *stream, void *buffer, ULONG count, ULONG *got);

// Writes until all count bytes are taken or the stream takes none.
// *written receives the bytes taken, also on failure. Returns S_OK (a short
// count means the stream stopped taking bytes) or the stream's failure code.
HRESULT WriteAll(IStream *stream, const void *buffer, ULONG count, ULONG *written);

// IStream whose nine positioning, transaction and copy operations clear the
// thread's error object and give E_NOTIMPL; a byte-stream object lists it in
// place of IStream and implements Read and Write.
class ByteStream : public IStream {
public:
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *,
                                     ULARGE_INTEGER *) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *, DWORD) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream **) override;
};

// ISupportErrorInfo that gives S_OK for every identifier (the clients).
class SupportsAllErrorInfo : public ISupportErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }
};

#endif
