// The FTP reply reader fed from memory, as the FTP client feeds it: reads
// of at most the buffer's free space, in pieces of a chosen size
// (tests/net/readerfeed.h).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ftpreply.h"
#include "tests/net/readerfeed.h"

namespace {

TEST(FtpReply, RepliesReadWhateverTheReadSizes) {
    const std::string x1000(1000, 'x');
    const std::string kept = std::string(kFtpKeptLineLength - 4, 'x');
    // 511 lines of 127 bytes and their LF; a final line of the same size
    // makes the reply 65536 bytes long.
    std::string lines511;
    for (int i = 0; i < 511; ++i)
        lines511 += "220-" + std::string(123, 'm') + "\n";
    struct {
        const char *name;
        std::string stream;
        std::vector<std::string> lines;
    } cases[] = {
        {"one line each", "220 ready\r\n331 password\r\n", {"220 ready", "331 password", "<eof>"}},
        {"multi-line reply read as its last line",
         "230-Welcome\r\n230-more\r\nstray text\r\n22 x\r\n2200 y\r\n\r\n230 in\r\n",
         {"230 in", "<eof>"}},
        {"254 bytes before CR LF kept whole",
         "220 " + std::string(250, 'w') + "\r\n",
         {"220 " + std::string(250, 'w'), "<eof>"}},
        {"255 bytes before CR LF keep their start",
         "220 " + std::string(251, 'x') + "\r\n",
         {"220 " + kept, "<eof>"}},
        {"1000-character line inside a multi-line greeting",
         "220-Welcome\r\n220-" + x1000 + "\r\n220 ready\r\n331 pw\r\n",
         {"220 ready", "331 pw", "<eof>"}},
        {"long 150 with the 226 in the same piece",
         "150 " + x1000 + "\r\n226 Transfer complete\r\n",
         {"150 " + kept, "226 Transfer complete", "<eof>"}},
        {"long line cut at its first CR", "550 no\rsuch " + x1000 + "\r\n", {"550 no", "<eof>"}},
        {"long line ending in bare LF",
         "220-" + x1000 + "\n220 " + x1000 + "\n200 ok\n",
         {"220 " + kept, "200 ok", "<eof>"}},
        {"reply of exactly the limit",
         lines511 + "220 " + std::string(123, 'e') + "\n",
         {"220 " + std::string(123, 'e'), "<eof>"}},
        {"reply one byte over the limit",
         lines511 + "220 " + std::string(124, 'e') + "\n",
         {"<over limit>"}},
        {"endless line", "220 " + std::string(70000, 'e'), {"<over limit>"}},
        {"ends inside a reply", "220 ready\r\n331 pass", {"220 ready", "<eof>"}},
        {"ends inside a long line", "220-" + x1000, {"<eof>"}},
    };
    for (const auto &c : cases) {
        for (size_t piece : {1, 5, 100, 256}) {
            SCOPED_TRACE(std::string(c.name) + ", reads of " + std::to_string(piece));
            FtpRepliesOutcome out = FeedFtpReplies(c.stream, piece);
            EXPECT_TRUE(out.sound);
            EXPECT_EQ(c.lines, out.finals);
        }
    }
}

TEST(FtpReply, ReplyNumber) {
    EXPECT_TRUE(FtpIsFinalLine("550 x"));
    EXPECT_FALSE(FtpIsFinalLine("550-x"));
    EXPECT_FALSE(FtpIsFinalLine("55"));
    EXPECT_EQ(550, FtpReplyNumber("550 x"));
    EXPECT_EQ(421, FtpReplyNumber("421 Too many users"));
}

}  // namespace
