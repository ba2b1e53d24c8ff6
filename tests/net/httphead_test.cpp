// The response head reader fed from memory, as the HTTP client feeds it:
// reads arrive in pieces of a chosen size, so a head is seen split at many
// points (tests/net/readerfeed.h).

#include <gtest/gtest.h>

#include <string>

#include "tests/net/readerfeed.h"

namespace {

std::string Head(const std::string &statusLine, const std::string &headers = "") {
    return statusLine + "\r\n" + headers + "\r\n";
}

TEST(HttpHead, HeadsReadWhateverTheReadSizes) {
    const std::string ok = "HTTP/1.0 200 OK";
    const std::string kb(1022, 'k');
    std::string lines64;
    for (int i = 0; i < 64; ++i)
        lines64 += "X-Line-" + std::to_string(i) + ": " + kb + "\r\n";
    struct {
        const char *name;
        std::string response;
        HttpHeadStep step;
        uint32_t status;
        std::string statusLine;
        int32_t contentLength;
        std::string body;
    } cases[] = {
        {"no head", "no head here, just the body", kHttpHeadNone, 200, "<none>", -1,
         "no head here, just the body"},
        {"nothing at all", "", kHttpHeadNone, 200, "<none>", -1, ""},
        {"status and body", Head("HTTP/1.0 404 Not Found") + "missing", kHttpHeadDone, 404,
         "HTTP/1.0 404 Not Found", -1, "missing"},
        {"content length any case",
         Head("HTTP/1.1 200 OK", "content-LENGTH:   42\r\nX: 7\r\n") + "x", kHttpHeadDone, 200,
         "HTTP/1.1 200 OK", 42, "x"},
        {"bare LF and stray CR", "HTTP/1.0 301 Moved\rjunk\nContent-Length: 4\n\nbody",
         kHttpHeadDone, 301, "HTTP/1.0 301 Moved", 4, "body"},
        {"header line of 4 KB",
         Head(ok,
              "Content-Security-Policy: " + std::string(4096, 'p') + "\r\nContent-Length: 4\r\n") +
             "body",
         kHttpHeadDone, 200, ok, 4, "body"},
        {"64 header lines of 1 KB", Head(ok, lines64) + "body", kHttpHeadDone, 200, ok, -1, "body"},
        {"header line filling the buffer to its last byte",
         Head(ok, "X: " + std::string(1019, 'a') + "\r\n") + "body", kHttpHeadDone, 200, ok, -1,
         "body"},
        {"header line one byte longer", Head(ok, "X: " + std::string(1020, 'a') + "\r\n") + "body",
         kHttpHeadDone, 200, ok, -1, "body"},
        // A line whose text is empty ends the head, however long the
        // bytes between its CR and its LF.
        {"long line with empty text", ok + "\r\n\r" + std::string(3000, 'z') + "\nbody",
         kHttpHeadDone, 200, ok, -1, "body"},
        {"status line filling the buffer", Head("HTTP/1.0 200 " + std::string(1009, 's')) + "b",
         kHttpHeadDone, 200, "HTTP/1.0 200 " + std::string(1009, 's'), -1, "b"},
        {"status line one byte longer", Head("HTTP/1.0 200 " + std::string(1010, 's')),
         kHttpHeadLineTooLong, 0, "<none>", -1, ""},
        {"lower-case status line", Head("http/1.0 200 OK") + "body", kHttpHeadInvalid, 0, "<none>",
         -1, ""},
        {"version 2", Head("HTTP/2.0 200 OK"), kHttpHeadInvalid, 0, "<none>", -1, ""},
        {"no status number", Head("HTTP/1.0 OK"), kHttpHeadInvalid, 0, "<none>", -1, ""},
        {"ends inside the head", "HTTP/1.0 200 OK\r\nServer: scripted", kHttpHeadInvalid, 200, ok,
         -1, ""},
        {"ends inside a long line", Head(ok).substr(0, ok.size() + 2) + std::string(5000, 'l'),
         kHttpHeadInvalid, 200, ok, -1, ""},
        {"ends inside the status line", "HTTP/1.0 200 OK", kHttpHeadInvalid, 0, "<none>", -1, ""},
        {"binary junk after the status line",
         ok + "\r\n" + std::string("\0\r\xff\x07", 4) + std::string(2400, '\x01'), kHttpHeadInvalid,
         200, ok, -1, ""},
    };
    for (const auto &c : cases) {
        for (size_t piece : {1, 3, 64, 1024}) {
            SCOPED_TRACE(std::string(c.name) + ", reads of " + std::to_string(piece));
            HttpHeadOutcome out = FeedHttpHead(c.response, piece, piece);
            EXPECT_TRUE(out.sound);
            EXPECT_EQ(c.step, out.step);
            if (c.step == kHttpHeadDone || c.step == kHttpHeadNone || c.statusLine != "<none>") {
                EXPECT_EQ(c.status, out.status);
                EXPECT_EQ(c.statusLine, out.statusLine);
            }
            EXPECT_EQ(c.contentLength, out.contentLength);
            EXPECT_EQ(c.body, out.body);
        }
    }
}

TEST(HttpHead, AHeadSplitBeforeItsEighthByteIsStillAHead) {
    std::string response = Head("HTTP/1.0 200 OK") + "body";
    for (size_t first : {1, 4, 7}) {
        SCOPED_TRACE("first read of " + std::to_string(first));
        HttpHeadOutcome out = FeedHttpHead(response, first, 1);
        EXPECT_TRUE(out.sound);
        EXPECT_EQ(kHttpHeadDone, out.step);
        EXPECT_EQ("HTTP/1.0 200 OK", out.statusLine);
        EXPECT_EQ("body", out.body);
    }
    // Data that ends before its eighth byte has no head, whatever it starts with.
    for (const char *shortData : {"HTTP/1.", "HT", "hello"}) {
        HttpHeadOutcome out = FeedHttpHead(shortData, 1, 1);
        EXPECT_EQ(kHttpHeadNone, out.step);
        EXPECT_EQ(200u, out.status);
        EXPECT_EQ(shortData, out.body);
    }
}

}  // namespace
