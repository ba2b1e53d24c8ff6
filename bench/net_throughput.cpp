// Download throughput over loopback, for bench/net_throughput.sh.
//
//   net_throughput source <url>        kHttpSource: Open, Read(4096) to the
//                                      end, Close
//   net_throughput raw <port> <path>   a bare Winsock loop: GET, then recv()
//                                      in 4096-byte reads until the server
//                                      closes
//
// Prints "<bytes> bytes in <seconds> s: <MB/s> MB/s" (MB = 2^20 bytes).

#include <winsock.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wfs/httpsource.h"

namespace {

constexpr int kPiece = 4096;

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

// Bytes of the body, or -1 after printing the failure.
long long ThroughSource(const char *url) {
    static char buffer[kPiece];
    long long total = 0;
    if (kHttpSource.Init() < 0 || kHttpSource.Open(url) < 0) {
        fprintf(stderr, "open: %s\n", kHttpSource.ErrorText());
        return -1;
    }
    int32_t got;
    while ((got = kHttpSource.Read(buffer, kPiece)) > 0)
        total += got;
    if (got < 0) {
        fprintf(stderr, "read: %s\n", kHttpSource.ErrorText());
        return -1;
    }
    kHttpSource.Close();
    kHttpSource.Shutdown();
    return total;
}

// Bytes of the whole response, head included, or -1.
long long ThroughSocket(unsigned short port, const char *path) {
    static char buffer[kPiece];
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return -1;
    SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    long long total = -1;
    char request[512];
    int length = snprintf(request, sizeof request, "GET %s HTTP/1.0\r\n\r\n", path);
    if (sock == INVALID_SOCKET || connect(sock, (sockaddr *)&to, sizeof to) != 0 ||
        length <= 0 || length >= (int)sizeof request ||
        send(sock, request, length, 0) != length) {
        fprintf(stderr, "connect: Winsock error %d\n", WSAGetLastError());
        goto done;
    }
    total = 0;
    for (;;) {
        int got = recv(sock, buffer, kPiece, 0);
        if (got == 0)
            break;
        if (got < 0) {
            fprintf(stderr, "recv: Winsock error %d\n", WSAGetLastError());
            total = -1;
            break;
        }
        total += got;
    }
done:
    if (sock != INVALID_SOCKET)
        closesocket(sock);
    return total;
}

}  // namespace

int main(int argc, char **argv) {
    bool source = argc == 3 && strcmp(argv[1], "source") == 0;
    bool raw = argc == 4 && strcmp(argv[1], "raw") == 0;
    if (!source && !raw) {
        fprintf(stderr, "usage: net_throughput source <url> | raw <port> <path>\n");
        return 2;
    }
    OleInitialize(nullptr);
    double start = Seconds();
    long long bytes = source ? ThroughSource(argv[2])
                             : ThroughSocket((unsigned short)atoi(argv[2]), argv[3]);
    double elapsed = Seconds() - start;
    OleUninitialize();
    if (bytes < 0)
        return 1;
    printf("%lld bytes in %.3f s: %.1f MB/s\n", bytes, elapsed,
           (double)bytes / 1048576.0 / elapsed);
    return 0;
}
