#include "base/errtext.h"
#include "base/errtext_table.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <map>
#include <vector>

namespace {

const char kUnknown[] = "Unknown error.";

struct CodeRange {
    int32_t first;
    int32_t last;
};

// The table's code set, group by group; a single code is a range of one.
const CodeRange kLzCodes[] = {{-8, -1}};
const CodeRange kNoErrorCode[] = {{0, 0}};
const CodeRange kWin32Codes[] = {
    {1, 34},      {36, 36},     {38, 39},     {50, 72},     {80, 80},     {82, 89},
    {100, 114},   {117, 162},   {164, 164},   {167, 167},   {170, 170},   {173, 174},
    {180, 180},   {182, 183},   {186, 203},   {205, 210},   {212, 212},   {214, 215},
    {230, 234},   {240, 240},   {254, 255},   {259, 259},   {266, 267},   {275, 278},
    {282, 282},   {288, 288},   {298, 298},   {317, 317},   {487, 487},   {534, 536},
    {994, 999},   {1001, 1022}, {1051, 1078}, {1100, 1131}, {1200, 1221}, {1300, 1338},
    {1340, 1394}, {1400, 1449}, {1500, 1503}, {1700, 1728}, {1730, 1737}, {1739, 1753},
    {1755, 1757}, {1759, 1762}, {1764, 1816}, {1898, 1900}, {2138, 2138}, {2202, 2202},
    {2250, 2250}, {2401, 2401}, {2404, 2404}, {6118, 6118},
};
const CodeRange kWinsockCodes[] = {
    {10004, 10004}, {10009, 10009}, {10013, 10014}, {10022, 10022}, {10024, 10024},
    {10035, 10071}, {10091, 10093}, {10101, 10101}, {11001, 11004},
};

template <size_t N>
std::vector<int32_t> Expand(const CodeRange (&ranges)[N]) {
    std::vector<int32_t> codes;
    for (const CodeRange &range : ranges)
        for (int32_t code = range.first; code <= range.last; code++)
            codes.push_back(code);
    return codes;
}

std::vector<int32_t> ExpectedCodes() {
    std::vector<int32_t> codes;
    for (const std::vector<int32_t> &group :
         {Expand(kLzCodes), Expand(kNoErrorCode), Expand(kWin32Codes), Expand(kWinsockCodes)})
        codes.insert(codes.end(), group.begin(), group.end());
    return codes;
}

std::map<int32_t, const char *> RowsByCode() {
    std::map<int32_t, const char *> rows;
    for (int i = 0; i < kErrorRowCount; i++)
        rows[kErrorRows[i].code] = kErrorRows[i].text;
    return rows;
}

struct TextCase {
    int32_t code;
    const char *text;
};

// Every text the table must hold word for word: the LZ rows, row 0, the quoted Win32 rows
// and the Winsock rows in full.
const TextCase kQuotedTexts[] = {
    {-8, "Compression algorithm not recognized."},
    {-7, "Input parameter out of acceptable range."},
    {-6, "Bad global handle."},
    {-5, "Insufficient memory for LZFile structure."},
    {-4, "Out of space for output file."},
    {-3, "Corrupt compressed file format."},
    {-2, "Invalid output handle."},
    {-1, "Invalid input handle."},
    {0, "No error."},
    {1, "The function is incorrect."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the specified path."},
    {5, "Access is denied."},
    {15, "The system cannot find the specified drive."},
    {19, "The media is write protected."},
    {21, "The drive is not ready."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {39, "The disk is full."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {123, "The file name, directory name, or volume label is syntactically incorrect."},
    {161, "The specified path name is invalid."},
    {183, "Attempt to create file that already exists."},
    {206, "The file name or extension is too long."},
    {1009, "The configuration registry database is damaged."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key cannot be opened."},
    {1012, "The configuration registry key cannot be read."},
    {1013, "The configuration registry key cannot be written."},
    {6118, "The list of servers for this workgroup is not currently available"},
    {10004, "The system call was interrupted."},
    {10009, "Bad file number."},
    {10013, "Permission denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files open at once."},
    {10035, "The operation would block."},
    {10036, "The operation is now in progress."},
    {10037, "The operation is already in progress."},
    {10038, "A socket operation was attempted on a non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Wrong protocol type for this socket."},
    {10042, "Protocol not available."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on transport endpoint."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported."},
    {10048, "Address already in use."},
    {10049, "Cannot assign the requested address."},
    {10050, "The network is down."},
    {10051, "The network is unreachable."},
    {10052, "Network dropped connection because of reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Transport endpoint is already connected."},
    {10057, "Transport endpoint is not connected."},
    {10058, "Cannot send after transport endpoint shutdown."},
    {10059, "Too many references: cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many symbolic links encountered."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty."},
    {10067, "Process limit reached."},
    {10068, "Too many users."},
    {10069, "Quota exceeded."},
    {10070, "Stale NFS file handle."},
    {10071, "Remote I/O error."},
    {10091, "System not ready."},
    {10092, "Saver not supported."},
    {10093, "Winsock has not been initialized."},
    {10101, "Disconnected."},
    {11001, "The specified host could not be found."},
    {11002, "The specified host was not found; try again later."},
    {11003, "Non-recoverable error."},
    {11004, "Valid name, but no data record of requested type."},
};

TEST(ErrorTextTable, GroupsHaveTheirRowCounts) {
    EXPECT_EQ(Expand(kLzCodes).size(), 8u);
    EXPECT_EQ(Expand(kNoErrorCode).size(), 1u);
    EXPECT_EQ(Expand(kWin32Codes).size(), 567u);
    EXPECT_EQ(Expand(kWinsockCodes).size(), 51u);
}

TEST(ErrorTextTable, HasExactlyItsCodesInStrictlyAscendingOrder) {
    std::vector<int32_t> expected = ExpectedCodes();
    ASSERT_EQ(kErrorRowCount, 627);
    ASSERT_EQ(expected.size(), 627u);
    for (int i = 0; i < kErrorRowCount; i++) {
        EXPECT_EQ(kErrorRows[i].code, expected[i]) << "row " << i;
        if (i > 0) {
            EXPECT_LT(kErrorRows[i - 1].code, kErrorRows[i].code) << "row " << i;
        }
    }
}

TEST(ErrorTextTable, EveryRowIsOneNonEmptySentence) {
    for (int i = 0; i < kErrorRowCount; i++) {
        const char *text = kErrorRows[i].text;
        int32_t code = kErrorRows[i].code;
        ASSERT_NE(text, nullptr) << "code " << code;
        size_t length = strlen(text);
        ASSERT_GT(length, 0u) << "code " << code;
        EXPECT_EQ(strstr(text, ". "), nullptr) << "code " << code << ": " << text;
        if (code != 6118) {
            EXPECT_EQ(text[length - 1], '.') << "code " << code << ": " << text;
        }
    }
}

TEST(ErrorTextTable, FixedRowsHaveTheirExactTexts) {
    std::map<int32_t, const char *> rows = RowsByCode();
    for (const TextCase &quoted : kQuotedTexts) {
        ASSERT_EQ(rows.count(quoted.code), 1u) << "code " << quoted.code;
        EXPECT_STREQ(rows[quoted.code], quoted.text) << "code " << quoted.code;
        EXPECT_STREQ(ErrorText(quoted.code), quoted.text) << "code " << quoted.code;
    }
}

TEST(ErrorText, KeepsPlaceholdersUnfilled) {
    EXPECT_NE(strstr(ErrorText(34), "%1"), nullptr) << ErrorText(34);
}

TEST(ErrorText, EveryRowsCodeFindsThatRowsText) {
    for (int i = 0; i < kErrorRowCount; i++)
        EXPECT_EQ(ErrorText(kErrorRows[i].code), kErrorRows[i].text)
            << "row " << i << ", code " << kErrorRows[i].code;
}

TEST(ErrorText, EdgeRowsAreFound) {
    EXPECT_STREQ(ErrorText(-8), "Compression algorithm not recognized.");
    EXPECT_STREQ(ErrorText(0), "No error.");
    EXPECT_STREQ(ErrorText(6118),
                 "The list of servers for this workgroup is not currently available");
    EXPECT_STREQ(ErrorText(10004), "The system call was interrupted.");
    EXPECT_STREQ(ErrorText(11004), "Valid name, but no data record of requested type.");
}

TEST(ErrorText, CodesWithoutARowAreUnknown) {
    const int32_t codes[] = {
        -9,
        11005,
        35,
        10000,
        10090,
        1000,
        1339,
        1729,
        1738,
        6117,
        6119,
        INT32_MIN,
        INT32_MAX,
        (int32_t)0x80004005u,  // E_FAIL
        (int32_t)0x80004001u,  // E_NOTIMPL
        (int32_t)0x80004002u,  // E_NOINTERFACE
        (int32_t)0x80070002u,  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
        (int32_t)0x80070005u,  // E_ACCESSDENIED
        (int32_t)0x8007000Eu,  // E_OUTOFMEMORY
        (int32_t)0x800401F0u,  // CO_E_NOTINITIALIZED
    };
    for (int32_t code : codes)
        EXPECT_STREQ(ErrorText(code), kUnknown) << "code " << code;
}

// Every code around and between the rows: a row's text where the code has
// one, "Unknown error." everywhere else.
TEST(ErrorText, SweepMatchesTheTable) {
    std::map<int32_t, const char *> rows = RowsByCode();
    for (int32_t code = -100; code <= 11100; code++) {
        auto row = rows.find(code);
        if (row != rows.end()) {
            EXPECT_EQ(ErrorText(code), row->second) << "code " << code;
        } else {
            EXPECT_STREQ(ErrorText(code), kUnknown) << "code " << code;
        }
    }
}

}  // namespace
