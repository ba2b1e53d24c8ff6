#ifndef TESTS_NET_NETTEST_H
#define TESTS_NET_NETTEST_H

// Support shared by the network tests: what the Python drivers
// (run_http_tests.py, ftp_run.py) hand over in the environment, the bytes of
// the files their servers serve, the text of the thread's error object, and
// the scripted FTP server's side channel (ftp_script_server.py).

#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <string>
#include <vector>

// A port the driver passed in the environment variable name; 0 when absent.
unsigned EnvPort(const char *name);

// L"127.0.0.1:<port>".
std::wstring LocalHost(unsigned port);

// L"http://127.0.0.1:<port>" followed by path.
std::wstring LocalUrl(unsigned port, const std::wstring &path);

// The bytes of a served test file; netfixture.pattern(size, seed) writes the
// same bytes on the driver's side.
std::string Pattern(size_t size, uint32_t seed);

// The file "data" that run_http_tests.py serves: Pattern() of the size and
// seed it passes as NET_DATA_SIZE and NET_DATA_SEED.
std::string ServedData();

// 8-bit copy of a wide string in the ANSI code page; null gives "".
std::string Narrow(const wchar_t *wide);

// Takes the thread's error object (which clears it) and gives its
// description, or "<none>" when the thread holds no error object.
std::string TakeThreadError();

// One step of a scripted FTP server's script: the first character is the
// step (S send, L await a line, O send on a data connection, I receive on a
// data connection, C close), the rest is its payload.
using Script = std::vector<std::string>;

// Joins scripts in order.
Script Join(std::initializer_list<Script> parts);

// What the client sent while a script played.
struct Dialogue {
    std::string control;  // every byte on the control connection
    std::string data;     // every byte on data connections
};

// The scripted FTP server. Arm() sends a script for the next control
// connection (ending the session of an earlier one) and waits until it is armed;
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

// Whether text matches pattern, where each '*' in pattern stands for one or
// more digits and commas (the numbers of a PORT command).
bool MatchesDialogue(const std::string &pattern, const std::string &text);

#endif
