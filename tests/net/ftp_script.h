#ifndef TESTS_NET_FTP_SCRIPT_H
#define TESTS_NET_FTP_SCRIPT_H

// Helpers shared by the FTP tests: the scripted server's side channel
// (ftp_script_server.py), the ports the driver (ftp_run.py) hands over in
// the environment, and small text helpers.

#include <stdint.h>

#include <string>
#include <vector>

#include <windows.h>

// One step of a server script: the first character is the step
// (S send, L await a line, O send on a data connection, I receive on a data
// connection, C close), the rest is its payload.
using Script = std::vector<std::string>;

// Joins scripts in order.
Script Join(std::initializer_list<Script> parts);

// What the client sent while a script played.
struct Dialogue {
    std::string control;  // every byte on the control connection
    std::string data;     // every byte on data connections
};

// The scripted server. Arm() sends a script and waits until it is armed;
// Finish() waits for the session to end (the client must have closed the
// control connection) and gives the dialogue. Both false on failure.
class ScriptServer {
public:
    ScriptServer();
    ~ScriptServer();
    bool Arm(const Script &script);
    bool Finish(Dialogue *dialogue);
    // "127.0.0.1:<port>" of the scripted FTP server.
    std::wstring Host() const;

private:
    uintptr_t side_;
};

// Port from the environment variable, 0 when it is not set.
int PortFromEnv(const char *name);
std::wstring LocalHost(int port);

// Whether text matches pattern, where each '*' in pattern stands for one or
// more digits and commas (the numbers of a PORT command).
bool MatchesDialogue(const std::string &pattern, const std::string &text);

// The bytes of a test file; ftpfixture.pattern makes the same.
std::string Pattern(size_t size, uint32_t seed);

// Description of the thread's error object ("(none)" without one), taken
// with GetErrorInfo, so it is cleared afterwards.
std::string ThreadError();

std::string Narrow(const wchar_t *text);

#endif
