"""A scripted HTTP server for the client's protocol tests.

Each request path names a case; the server reads the request head (and a
body of its Content-Length), then sends exactly the case's bytes and closes.
The case "/echo" (and "/", and any path below "/echo/") answers with the
exact bytes the client sent, so a test can assert on the whole request.
Given files, it is also a mirror: "/dat/<name>" answers 200 with the
given header lines and the file. Every path asked for is recorded in
order.
"""

from loopback import HttpServer, Trickle, http_head, http_ok, request_path

BODY_300 = b"b" * 300
BODY_600 = bytes(range(200)) * 3


# path -> bytes sent as the whole answer (after which the server closes).
CANNED = {
    "/nohead": b"no head here, just the body",
    "/tiny": b"tiny",
    "/silent": b"",
    "/404": http_head(b"HTTP/1.0 404 Not Found") + b"missing",
    "/301": http_head(b"HTTP/1.0 301 Moved Permanently", b"Location: /x"),
    "/http2": http_head(b"HTTP/2.0 200 OK") + b"body",
    "/bad-status": http_head(b"HTTP/1.0 OK") + b"body",
    "/lower-case": http_head(b"http/1.0 200 OK") + b"body",
    # A head line of 1022 bytes and its CR LF fill the 1024-byte buffer
    # exactly; longer header lines are skipped, a longer status line cannot
    # be read.
    "/line-1022": http_head(b"HTTP/1.0 200 OK", b"X: " + b"a" * 1019) + b"body",
    "/line-1023": http_head(b"HTTP/1.0 200 OK", b"X: " + b"a" * 1020) + b"body",
    "/header-4k": http_head(b"HTTP/1.0 200 OK", b"Content-Security-Policy: " + b"p" * 4096,
                        b"Content-Length: 4") + b"body",
    "/status-1023": http_head(b"HTTP/1.0 200 " + b"s" * 1010) + b"body",
    "/junk-head": b"HTTP/1.0 200 OK\r\n" + bytes([0, 13, 255, 7]) * 600,
    "/cut-head": b"HTTP/1.0 200 OK\r\nServer: scripted",
    "/cut-body": http_head(b"HTTP/1.0 200 OK", b"Content-Length: 1000") + BODY_300,
    "/body600": http_head(b"HTTP/1.1 200 OK", b"Server: scripted") + BODY_600,
    "/lengths": http_head(b"HTTP/1.1 200 OK", b"content-LENGTH:   42",
                      b"X-Other: 7") + b"x" * 42,
    "/bare-lf": b"HTTP/1.0 200 OK\nContent-Length: 4\n\nbody",
}

# Sent a byte at a time, so that the head, its status line too, arrives in
# many reads.
DRIP = http_head(b"HTTP/1.0 200 OK", b"Content-Length: 11") + b"hello world"




def answer(request, files, headers):
    """The script that answers request."""
    path = request_path(request)
    name = path[len("/dat/"):] if path.startswith("/dat/") else None
    if name in files:
        return http_ok(files[name], *headers)
    if path == "/" or path == "/echo" or path.startswith("/echo/"):
        return http_ok(request)
    if path == "/drip":
        return [Trickle(DRIP)]
    return [CANNED.get(path, http_head(b"HTTP/1.0 500 No Such Case"))]


def scripted_http_server(files=None, headers=()):
    """files: {name: bytes} served under /dat/ with the extra header lines
    headers (bytes each, without line end)."""
    files, headers = dict(files or {}), tuple(headers)
    return HttpServer(lambda request: answer(request, files, headers))
