#ifndef TESTS_NET_NETTEST_H
#define TESTS_NET_NETTEST_H

// Helpers shared by the network tests.

#include <stdlib.h>

#include <string>

#include "net/com.h"

// 8-bit copy of a wide string (null gives "").
inline std::string Narrow(const wchar_t *wide) {
    std::string out;
    for (; wide && *wide; ++wide)
        out += (char)*wide;
    return out;
}

// Takes the thread's error object (which clears it) and gives its
// description, or "<none>" when the thread holds no error object.
inline std::string TakeThreadError() {
    IErrorInfo *error = nullptr;
    if (GetErrorInfo(0, &error) != S_OK || !error)
        return "<none>";
    BSTR text = nullptr;
    error->GetDescription(&text);
    std::string out = Narrow(text);
    SysFreeString(text);
    error->Release();
    return out;
}

// A port the test driver passed in the environment; 0 when absent.
inline unsigned EnvPort(const char *name) {
    const char *value = getenv(name);
    return value ? (unsigned)atoi(value) : 0;
}

inline std::wstring LocalUrl(unsigned port, const std::wstring &path) {
    return L"http://127.0.0.1:" + std::to_wstring(port) + path;
}

// The bytes of the file the driver serves (run_http_tests.py, pattern()).
inline std::string TestPattern(size_t size) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i)
        out[i] = (char)(uint8_t)(i * 131 + i / 251);
    return out;
}

#endif
