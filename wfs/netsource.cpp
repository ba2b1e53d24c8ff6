#include "wfs/netsource.h"

#include <stdlib.h>
#include <string.h>

#include "net/com.h"

void SourceErrorClear(SourceError *error) {
    SysFreeString(error->description);
    error->description = nullptr;
    free(error->text);
    error->text = nullptr;
}

namespace {

// The description of the calling thread's error object, or null.
BSTR TakeErrorDescription() {
    BSTR description = nullptr;
    IErrorInfo *info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        if (FAILED(info->GetDescription(&description)))
            description = nullptr;
        info->Release();
    }
    return description;
}

}  // namespace

int32_t SourceErrorCapture(SourceError *error, HRESULT code) {
    SourceErrorClear(error);
    error->description = TakeErrorDescription();
    return code;
}

const char *SourceErrorText(SourceError *error) {
    if (error->text)
        return error->text;
    if (!error->description)
        return "unknown error";
    // A wide character becomes at most two bytes in an ANSI code page.
    int size = (int)(2 * SysStringLen(error->description) + 16);
    error->text = (char *)malloc(size);
    if (error->text && WideCharToMultiByte(CP_ACP, 0, error->description, -1, error->text, size,
                                           nullptr, nullptr) == 0) {
        free(error->text);
        error->text = nullptr;
    }
    return error->text ? error->text : "unknown error";
}

int32_t NetSourceStart(NetSource *source) {
    SourceErrorClear(&source->failure);
    ReleaseAndClear(&source->node);
    source->node = TcpStartup();
    return source->node ? 0 : -1;
}

void NetSourceDropStream(NetSource *source) {
    ReadAheadReset(&source->ahead);
    ReleaseAndClear(&source->stream);
}

void NetSourceStop(NetSource *source) {
    NetSourceDropStream(source);
    ReleaseAndClear(&source->node);
    SourceErrorClear(&source->failure);
}

int32_t NetSourceWideName(NetSource *source, const char *name, WideText *wide) {
    SourceErrorClear(&source->failure);
    if (!name)
        return E_POINTER;
    BSTR made = AnsiToBstr(name);
    if (!made)
        return E_OUTOFMEMORY;
    SysFreeString(wide->text);
    wide->text = made;
    return 0;
}

namespace {

// How often a side yields its CPU before it sleeps: a few hundred
// microseconds, longer than the reader takes for a block at full speed,
// because waking a sleeping thread under Wine costs round trips to the
// server that take longer than receiving the block. Yielding rather than
// spinning lets the other side run when both share one CPU.
constexpr int kYieldsBeforeSleep = 200;

// Waits until *counter differs from value: yields a while, then sleeps on
// the signal's event. The side that sleeps says so first, and the other
// sets the event only then, so a transfer in full flow makes no event
// calls. The flag is set before the counter is looked at again, so a
// change made meanwhile is either seen or followed by the event; an event
// left set by such a race only costs one more look.
void WaitForChange(ReadAheadSignal *signal, const std::atomic<uint32_t> *counter, uint32_t value) {
    for (int yield = 0; yield < kYieldsBeforeSleep && *counter == value; yield++)
        SwitchToThread();
    while (*counter == value) {
        signal->sleeping = true;
        if (*counter == value)
            WaitForSingleObject(signal->event, INFINITE);
        signal->sleeping = false;
    }
}

// Called after changing the counter that the signal's sleeper watches.
void Wake(ReadAheadSignal *signal) {
    if (signal->sleeping.exchange(false))
        SetEvent(signal->event);
}

// Reads the stream into block, capacity bytes at most; a failure ends the
// data and keeps the calling thread's error description for the caller.
void FillBlock(ReadAhead *ahead, ReadAheadBlock *block, uint32_t capacity) {
    ULONG got = 0;
    block->result = ahead->stream->Read(block->bytes, capacity, &got);
    block->size = got;
    if (FAILED(block->result)) {
        block->size = 0;
        ahead->failure = TakeErrorDescription();
    }
}

DWORD WINAPI ReadAheadThread(void *parameter) {
    ReadAhead *ahead = (ReadAhead *)parameter;
    for (uint32_t next = 0;; next++) {
        // Block next % 2 last held block next - 2: it is free once the
        // caller has freed that one. The counter moves on a stop too.
        WaitForChange(&ahead->blockFreed, &ahead->freed, next - 2);
        if (ahead->stop)
            return 0;
        ReadAheadBlock *block = &ahead->blocks[next % 2];
        FillBlock(ahead, block, kReadAheadBytes / 2);
        ahead->filled = next + 1;
        Wake(&ahead->blockFilled);
        if (block->size == 0)
            return 0;
    }
}

// Whether the process may run on one CPU only: a single-core machine, or
// an affinity that allows one.
bool OnOneProcessor() {
    DWORD_PTR process, system;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        return false;
    return process != 0 && (process & (process - 1)) == 0;
}

bool StartReading(ReadAhead *ahead, IStream *stream) {
    ahead->stream = stream;
    stream->AddRef();
    ahead->blocks[0].bytes = ahead->buffer;
    ahead->blocks[1].bytes = ahead->buffer + kReadAheadBytes / 2;
    ahead->onCallerThread = OnOneProcessor();
    if (ahead->onCallerThread)
        return true;
    ahead->blockFilled.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ahead->blockFreed.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (ahead->blockFilled.event && ahead->blockFreed.event)
        ahead->thread = CreateThread(nullptr, 0, ReadAheadThread, ahead, 0, nullptr);
    if (!ahead->thread)
        ReadAheadReset(ahead);
    return ahead->thread != nullptr;
}

// With one CPU the caller reads the next block itself, into the whole
// buffer.
ReadAheadBlock *ReadBlockHere(ReadAhead *ahead) {
    FillBlock(ahead, &ahead->blocks[0], kReadAheadBytes);
    ahead->start = 0;
    return ahead->current = &ahead->blocks[0];
}

// Frees the block handed out so far, if any, and gives the next one once
// the reader has filled it.
ReadAheadBlock *NextBlock(ReadAhead *ahead) {
    uint32_t freed = ahead->freed;
    if (ahead->current) {
        ahead->freed = ++freed;
        Wake(&ahead->blockFreed);
    }
    WaitForChange(&ahead->blockFilled, &ahead->filled, freed);
    ahead->start = 0;
    return ahead->current = &ahead->blocks[freed % 2];
}

void CloseIfOpen(HANDLE *handle) {
    if (*handle)
        CloseHandle(*handle);
    *handle = nullptr;
}

}  // namespace

void ReadAheadReset(ReadAhead *ahead) {
    // Every wait of the reader ends: its reads within the stream's own
    // bounds, its wait for a free block when the counter moves here.
    if (ahead->thread) {
        ahead->stop = true;
        ahead->freed = ahead->freed + 1;
        Wake(&ahead->blockFreed);
        WaitForSingleObject(ahead->thread, INFINITE);
    }
    CloseIfOpen(&ahead->thread);
    CloseIfOpen(&ahead->blockFilled.event);
    CloseIfOpen(&ahead->blockFreed.event);
    ReleaseAndClear(&ahead->stream);
    SysFreeString(ahead->failure);
    ahead->failure = nullptr;
    ahead->filled = 0;
    ahead->freed = 0;
    ahead->stop = false;
    ahead->onCallerThread = false;
    ahead->current = nullptr;
}

int32_t SourceRead(SourceError *error, IStream *stream, ReadAhead *ahead, void *buffer,
                   uint32_t count) {
    SourceErrorClear(error);
    if (!stream)
        return E_POINTER;
    if (!ahead->stream && !StartReading(ahead, stream))
        return E_OUTOFMEMORY;
    if (count > 0x7FFFFFFF)
        count = 0x7FFFFFFF;
    uint8_t *out = (uint8_t *)buffer;
    uint32_t total = 0;
    while (total < count) {
        ReadAheadBlock *block = ahead->current;
        if (!block || (block->size != 0 && ahead->start == block->size))
            block = ahead->onCallerThread ? ReadBlockHere(ahead) : NextBlock(ahead);
        if (FAILED(block->result)) {
            error->description = ahead->failure;
            ahead->failure = nullptr;
            return block->result;
        }
        // The block that ended the data stays current: later reads end too.
        if (block->size == 0)
            break;
        uint32_t piece = block->size - ahead->start;
        if (piece > count - total)
            piece = count - total;
        memcpy(out + total, block->bytes + ahead->start, piece);
        ahead->start += piece;
        total += piece;
    }
    return (int32_t)total;
}
