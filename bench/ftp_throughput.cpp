// FTP download throughput over loopback, for bench/ftp_throughput.sh.
//
//   ftp_throughput source <host:port> <path>   kFtpSource: Connect, then
//                                             Open, Read(4096) to the end,
//                                             Close
//   ftp_throughput raw <port> <path>           a bare Winsock loop: log in,
//                                             PORT, RETR, then recv() in
//                                             4096-byte reads until the
//                                             server closes
//
// Both time the retrieval alone (from the PORT command to the end of the
// data), not the login. Prints "<bytes> bytes in <seconds> s: <MB/s> MB/s"
// (MB = 2^20 bytes).

#include <winsock.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wfs/ftpsource.h"

namespace {

constexpr int kPiece = 4096;

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

// Bytes of the file, or -1 after printing the failure; *elapsed is the
// retrieval's time.
long long ThroughSource(const char *host, const char *path, double *elapsed) {
    static char buffer[kPiece];
    if (kFtpSource.Init() < 0 || kFtpSource.Connect(host, nullptr, nullptr) < 0) {
        fprintf(stderr, "connect: %s\n", kFtpSource.ErrorText());
        return -1;
    }
    double start = Seconds();
    if (kFtpSource.Open(path) < 0) {
        fprintf(stderr, "open: %s\n", kFtpSource.ErrorText());
        return -1;
    }
    long long total = 0;
    int32_t got;
    while ((got = kFtpSource.Read(buffer, kPiece)) > 0)
        total += got;
    if (got < 0 || kFtpSource.Close() < 0) {
        fprintf(stderr, "read: %s\n", kFtpSource.ErrorText());
        return -1;
    }
    *elapsed = Seconds() - start;
    kFtpSource.Shutdown();
    return total;
}

// Sends a command (when given) and reads replies up to the final line of
// one; gives its number, or -1.
int Command(SOCKET control, const char *command) {
    if (command && send(control, command, (int)strlen(command), 0) != (int)strlen(command))
        return -1;
    char line[512];
    for (;;) {
        int length = 0;
        char c = 0;
        while (length < (int)sizeof line - 1 && recv(control, &c, 1, 0) == 1 && c != '\n')
            line[length++] = c;
        if (c != '\n')
            return -1;
        line[length] = '\0';
        if (length >= 4 && line[3] == ' ')
            return atoi(line);
    }
}

// Bytes of the file, or -1; *elapsed is the retrieval's time.
long long ThroughSocket(unsigned short port, const char *path, double *elapsed) {
    static char buffer[kPiece];
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return -1;
    SOCKET control = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKET transfer = INVALID_SOCKET;
    sockaddr_in to = {}, here = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    here.sin_family = AF_INET;
    here.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof here;
    long long total = -1;
    char text[512];
    double start = 0;
    if (control == INVALID_SOCKET || listener == INVALID_SOCKET ||
        connect(control, (sockaddr *)&to, sizeof to) != 0 || Command(control, nullptr) != 220 ||
        Command(control, "USER anonymous\r\n") != 331 ||
        Command(control, "PASS bench@\r\n") != 230 || Command(control, "TYPE I\r\n") != 200 ||
        bind(listener, (sockaddr *)&here, sizeof here) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, (sockaddr *)&here, &size) != 0) {
        fprintf(stderr, "login: Winsock error %d\n", WSAGetLastError());
        goto done;
    }
    start = Seconds();
    snprintf(text, sizeof text, "PORT 127,0,0,1,%d,%d\r\n", ntohs(here.sin_port) >> 8,
             ntohs(here.sin_port) & 0xFF);
    if (Command(control, text) != 200)
        goto done;
    snprintf(text, sizeof text, "RETR %s\r\n", path);
    if (Command(control, text) != 150 ||
        (transfer = accept(listener, nullptr, nullptr)) == INVALID_SOCKET)
        goto done;
    total = 0;
    for (;;) {
        int got = recv(transfer, buffer, kPiece, 0);
        if (got == 0)
            break;
        if (got < 0) {
            fprintf(stderr, "recv: Winsock error %d\n", WSAGetLastError());
            total = -1;
            goto done;
        }
        total += got;
    }
    closesocket(transfer);
    transfer = INVALID_SOCKET;
    if (Command(control, nullptr) != 226)
        total = -1;
    *elapsed = Seconds() - start;
done:
    if (transfer != INVALID_SOCKET)
        closesocket(transfer);
    closesocket(listener);
    closesocket(control);
    return total;
}

}  // namespace

int main(int argc, char **argv) {
    bool source = argc == 4 && strcmp(argv[1], "source") == 0;
    bool raw = argc == 4 && strcmp(argv[1], "raw") == 0;
    if (!source && !raw) {
        fprintf(stderr, "usage: ftp_throughput source <host:port> <path> | raw <port> <path>\n");
        return 2;
    }
    OleInitialize(nullptr);
    double elapsed = 0;
    long long bytes = source ? ThroughSource(argv[2], argv[3], &elapsed)
                             : ThroughSocket((unsigned short)atoi(argv[2]), argv[3], &elapsed);
    OleUninitialize();
    if (bytes < 0)
        return 1;
    printf("%lld bytes in %.3f s: %.1f MB/s\n", bytes, elapsed,
           (double)bytes / 1048576.0 / elapsed);
    return 0;
}
