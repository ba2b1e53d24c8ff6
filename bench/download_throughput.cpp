// Download throughput over loopback, for bench/download_throughput.sh.
//
//   download_throughput store <http-base> <ftp-base> <digest-name>
//       the store: WfsOpen, WfsRead of 4096 bytes to the end (each chunk
//       hashed), WfsClose with the digest check, as the installer drives it
//   download_throughput raw-http <port> <path> <piece>
//       a bare Winsock loop: GET, then recv() of <piece> bytes (at most
//       65536) until the server closes
//   download_throughput raw-ftp <port> <path> <piece>
//       a bare Winsock loop: anonymous login, PORT, RETR, then recv() of
//       <piece> bytes until the server closes
//   download_throughput hash
//       no network: SHA-1 of 256 MiB in 4096-byte updates, the part of the
//       store's time that hashing takes
//
// The time covers the download alone, from the open (the PORT command for
// raw-ftp, after the login) to the end of the data. Prints
// "<bytes> bytes in <seconds> s: <MB/s> MB/s" (MB = 2^20 bytes).

#include <winsock.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wfs/sha1.h"
#include "wfs/wfs.h"

namespace {

// The installer reads 4096 bytes a call; a bare loop reads up to 64 KiB.
constexpr int kStorePiece = 4096;
constexpr int kMaxRawPiece = 65536;

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

// Bytes of the data resource, or -1 after printing the failure.
long long ThroughStore(const char *httpBase, const char *ftpBase, const char *name,
                       double *elapsed) {
    static char buffer[kStorePiece];
    Digest digest;
    if (NameToDigest(name, &digest) < 0 || WfsInit(httpBase, ftpBase) < 0) {
        fprintf(stderr, "init: %s\n", WfsLastError() ? WfsLastError() : "bad digest name");
        return -1;
    }
    double start = Seconds();
    if (WfsOpen(&digest) < 0) {
        fprintf(stderr, "open: %s\n", WfsLastError());
        return -1;
    }
    long long total = 0;
    int32_t got;
    while ((got = WfsRead(buffer, kStorePiece)) > 0)
        total += got;
    if (got < 0 || WfsClose() < 0) {
        fprintf(stderr, "read: %s\n", WfsLastError());
        return -1;
    }
    *elapsed = Seconds() - start;
    WfsShutdown();
    return total;
}

long long HashAlone(double *elapsed) {
    static char buffer[kStorePiece];
    constexpr long long kBytes = 256LL << 20;
    Sha1Context context;
    double start = Seconds();
    Sha1Init(&context);
    for (long long done = 0; done < kBytes; done += kStorePiece)
        Sha1Update(&context, buffer, kStorePiece);
    Sha1Final(&context);
    *elapsed = Seconds() - start;
    return kBytes;
}

// recv() of piece bytes until the peer closes; the byte count, or -1.
long long Drain(SOCKET sock, int piece) {
    static char buffer[kMaxRawPiece];
    long long total = 0;
    for (;;) {
        int got = recv(sock, buffer, piece, 0);
        if (got == 0)
            return total;
        if (got < 0) {
            fprintf(stderr, "recv: Winsock error %d\n", WSAGetLastError());
            return -1;
        }
        total += got;
    }
}

SOCKET ConnectLoopback(unsigned short port) {
    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sock != INVALID_SOCKET && connect(sock, (sockaddr *)&to, sizeof to) != 0) {
        closesocket(sock);
        sock = INVALID_SOCKET;
    }
    return sock;
}

// Bytes of the whole response, head included, or -1.
long long ThroughHttpSocket(unsigned short port, const char *path, int piece, double *elapsed) {
    char request[512];
    int length = snprintf(request, sizeof request, "GET %s HTTP/1.0\r\n\r\n", path);
    double start = Seconds();
    SOCKET sock = ConnectLoopback(port);
    if (sock == INVALID_SOCKET || length <= 0 || length >= (int)sizeof request ||
        send(sock, request, length, 0) != length) {
        fprintf(stderr, "connect: Winsock error %d\n", WSAGetLastError());
        if (sock != INVALID_SOCKET)
            closesocket(sock);
        return -1;
    }
    long long total = Drain(sock, piece);
    *elapsed = Seconds() - start;
    closesocket(sock);
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

// Bytes of the file, or -1.
long long ThroughFtpSocket(unsigned short port, const char *path, int piece, double *elapsed) {
    SOCKET control = ConnectLoopback(port);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKET transfer = INVALID_SOCKET;
    sockaddr_in here = {};
    here.sin_family = AF_INET;
    here.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof here;
    long long total = -1;
    char text[512];
    double start = 0;
    if (control == INVALID_SOCKET || listener == INVALID_SOCKET ||
        Command(control, nullptr) != 220 || Command(control, "USER anonymous\r\n") != 331 ||
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
    total = Drain(transfer, piece);
    closesocket(transfer);
    transfer = INVALID_SOCKET;
    if (total >= 0 && Command(control, nullptr) != 226)
        total = -1;
    *elapsed = Seconds() - start;
done:
    if (transfer != INVALID_SOCKET)
        closesocket(transfer);
    if (listener != INVALID_SOCKET)
        closesocket(listener);
    if (control != INVALID_SOCKET)
        closesocket(control);
    return total;
}

}  // namespace

int main(int argc, char **argv) {
    const char *mode = argc > 1 ? argv[1] : "";
    bool store = argc == 5 && strcmp(mode, "store") == 0;
    bool rawHttp = argc == 5 && strcmp(mode, "raw-http") == 0;
    bool rawFtp = argc == 5 && strcmp(mode, "raw-ftp") == 0;
    bool hash = argc == 2 && strcmp(mode, "hash") == 0;
    int piece = rawHttp || rawFtp ? atoi(argv[4]) : 0;
    if (!store && !hash && !((rawHttp || rawFtp) && piece > 0 && piece <= kMaxRawPiece)) {
        fprintf(stderr,
                "usage: download_throughput store <http-base> <ftp-base> <digest-name>\n"
                "       download_throughput raw-http|raw-ftp <port> <path> <piece>\n"
                "       download_throughput hash\n");
        return 2;
    }
    OleInitialize(nullptr);
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    double elapsed = 0;
    long long bytes =
        hash      ? HashAlone(&elapsed)
        : store   ? ThroughStore(argv[2], argv[3], argv[4], &elapsed)
        : rawHttp ? ThroughHttpSocket((unsigned short)atoi(argv[2]), argv[3], piece, &elapsed)
                  : ThroughFtpSocket((unsigned short)atoi(argv[2]), argv[3], piece, &elapsed);
    WSACleanup();
    OleUninitialize();
    if (bytes < 0)
        return 1;
    printf("%lld bytes in %.3f s: %.1f MB/s\n", bytes, elapsed,
           (double)bytes / 1048576.0 / elapsed);
    return 0;
}
