// The FTP reply reader against a plain reading of the whole stream of
// replies, with reads of a size the input chooses (tests/net/readerfeed.h).

#include <algorithm>
#include <string>
#include <vector>

#include "net/ftpreply.h"
#include "tests/fuzz/fuzz.h"
#include "tests/net/readerfeed.h"

namespace {

// A reading whose reader broke its contract stops the run.
std::vector<std::string> Read(const std::string &stream, size_t piece) {
    FtpRepliesOutcome out = FeedFtpReplies(stream, piece);
    FUZZ_CHECK(out.sound);
    return out.finals;
}

// What the reader keeps of a line (its bytes before the LF), with every CR
// turned into a zero byte: all of it when it fits the buffer with its LF,
// else its first kFtpKeptLineLength bytes.
std::string Kept(std::string line) {
    if (line.size() >= kFtpReplyBufferSize)
        line.resize(kFtpKeptLineLength);
    std::replace(line.begin(), line.end(), '\r', '\0');
    return line;
}

std::vector<std::string> Reference(const std::string &stream) {
    std::vector<std::string> finals;
    size_t start = 0;  // of the current reply
    size_t line = 0;   // of the current line
    for (;;) {
        size_t end = stream.find('\n', line);
        if (end == std::string::npos) {
            finals.push_back(stream.size() - start >= kFtpReplyLimit ? kFedOverLimit : kFedEof);
            return finals;
        }
        std::string kept = Kept(stream.substr(line, end - line));
        line = end + 1;
        kept.resize(std::max<size_t>(kept.size(), 4), '\0');
        if (!FtpIsFinalLine(kept.c_str()))
            continue;
        if (line - start > kFtpReplyLimit) {
            finals.push_back(kFedOverLimit);
            return finals;
        }
        finals.push_back(kept.c_str());
        start = line;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    size_t piece = 1 + data[0];
    std::string stream(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::vector<std::string> expected = Reference(stream);
    FUZZ_CHECK(Read(stream, kFtpReplyBufferSize) == expected);
    FUZZ_CHECK(Read(stream, piece) == expected);
    return 0;
}
