#include "tests/net/nettest.h"

#include <winsock.h>
#include <ole2.h>
#include <oleauto.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Bounds every wait on the side channel; the server bounds its own waits
// with less, so a case that goes wrong ends in a failed assertion.
constexpr DWORD kSideTimeoutMs = 60000;

bool SendAll(SOCKET s, const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        int sent = send(s, bytes.data() + done, (int)(bytes.size() - done), 0);
        if (sent <= 0)
            return false;
        done += (size_t)sent;
    }
    return true;
}

bool RecvExactly(SOCKET s, size_t count, std::string *out) {
    out->assign(count, '\0');
    size_t done = 0;
    while (done < count) {
        int got = recv(s, &(*out)[done], (int)(count - done), 0);
        if (got <= 0)
            return false;
        done += (size_t)got;
    }
    return true;
}

bool RecvLine(SOCKET s, std::string *line) {
    line->clear();
    char c;
    while (recv(s, &c, 1, 0) == 1) {
        if (c == '\n')
            return true;
        *line += c;
    }
    return false;
}

}  // namespace

unsigned EnvPort(const char *name) {
    const char *value = getenv(name);
    return value ? (unsigned)atoi(value) : 0;
}

std::wstring LocalHost(unsigned port) {
    return L"127.0.0.1:" + std::to_wstring(port);
}

std::wstring LocalUrl(unsigned port, const std::wstring &path) {
    return L"http://" + LocalHost(port) + path;
}

std::string Pattern(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345u;
        out[i] = (char)((x >> 16) & 0xFF);
    }
    return out;
}

std::string ServedData() {
    return Pattern(EnvPort("NET_DATA_SIZE"), EnvPort("NET_DATA_SEED"));
}

std::string Narrow(const wchar_t *wide) {
    if (!wide)
        return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_ACP, 0, wide, -1, &out[0], size, nullptr, nullptr);
    return out;
}

std::string TakeThreadError() {
    IErrorInfo *error = nullptr;
    if (GetErrorInfo(0, &error) != S_OK || !error)
        return "<none>";
    BSTR description = nullptr;
    error->GetDescription(&description);
    error->Release();
    std::string text = Narrow(description);
    SysFreeString(description);
    return text;
}

Script Join(std::initializer_list<Script> parts) {
    Script all;
    for (const Script &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

ScriptServer::ScriptServer() : side_((uintptr_t)INVALID_SOCKET) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(1, 1), &wsa);
}

ScriptServer::~ScriptServer() {
    if ((SOCKET)side_ != INVALID_SOCKET)
        closesocket((SOCKET)side_);
}

bool ScriptServer::Arm(const Script &script) {
    // The server talks to one side channel at a time: an earlier one ends.
    if ((SOCKET)side_ != INVALID_SOCKET)
        closesocket((SOCKET)side_);
    unsigned port = EnvPort("FTP_SCRIPT_SIDE_PORT");
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    side_ = (uintptr_t)s;
    DWORD timeout = kSideTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&timeout, sizeof timeout);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons((u_short)port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, (sockaddr *)&to, sizeof to) != 0)
        return false;
    std::string message = "PLAY " + std::to_string(script.size()) + "\n";
    for (const std::string &step : script)
        message +=
            step.substr(0, 1) + " " + std::to_string(step.size() - 1) + "\n" + step.substr(1);
    std::string answer;
    return SendAll(s, message) && RecvLine(s, &answer) && answer == "OK";
}

bool ScriptServer::Finish(Dialogue *dialogue) {
    SOCKET s = (SOCKET)side_;
    std::string head;
    if (!SendAll(s, "DIALOGUE\n") || !RecvLine(s, &head))
        return false;
    unsigned long control = 0, data = 0;
    if (sscanf(head.c_str(), "%lu %lu", &control, &data) != 2)
        return false;
    return RecvExactly(s, control, &dialogue->control) && RecvExactly(s, data, &dialogue->data);
}

std::wstring ScriptServer::Host() const {
    return LocalHost(EnvPort("FTP_SCRIPT_PORT"));
}

bool MatchesDialogue(const std::string &pattern, const std::string &text) {
    size_t p = 0, t = 0;
    while (p < pattern.size()) {
        if (pattern[p] == '*') {
            size_t start = t;
            while (t < text.size() && (isdigit((unsigned char)text[t]) || text[t] == ','))
                t++;
            if (t == start)
                return false;
            p++;
        } else if (t < text.size() && text[t] == pattern[p]) {
            p++;
            t++;
        } else {
            return false;
        }
    }
    return t == text.size();
}
