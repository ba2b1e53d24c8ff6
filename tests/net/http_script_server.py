"""A scripted HTTP server for the client's protocol tests.

Each request path names a case; the server reads the request head (and a
body of its Content-Length), then sends exactly the case's bytes and closes.
The case "/echo" (and "/", and any path below "/echo/") answers with the
exact bytes the client sent, so a test can assert on the whole request.
Given files, it is also a mirror: "/dat/<name>" answers 200 with the
given header lines and the file. Every path asked for is recorded in
order. Every wait is bounded by socket time-outs.
"""

import socket
import threading

WAIT = 20.0
HEAD_LIMIT = 65536

BODY_300 = b"b" * 300
BODY_600 = bytes(range(200)) * 3


def _head(status_line, *headers):
    return b"".join(l + b"\r\n" for l in (status_line,) + headers) + b"\r\n"


# path -> bytes sent as the whole answer (after which the server closes).
CANNED = {
    "/nohead": b"no head here, just the body",
    "/tiny": b"tiny",
    "/silent": b"",
    "/404": _head(b"HTTP/1.0 404 Not Found") + b"missing",
    "/301": _head(b"HTTP/1.0 301 Moved Permanently", b"Location: /x"),
    "/http2": _head(b"HTTP/2.0 200 OK") + b"body",
    "/bad-status": _head(b"HTTP/1.0 OK") + b"body",
    "/lower-case": _head(b"http/1.0 200 OK") + b"body",
    # A head line of 1022 bytes and its CR LF fill the 1024-byte buffer
    # exactly; longer header lines are skipped, a longer status line cannot
    # be read.
    "/line-1022": _head(b"HTTP/1.0 200 OK", b"X: " + b"a" * 1019) + b"body",
    "/line-1023": _head(b"HTTP/1.0 200 OK", b"X: " + b"a" * 1020) + b"body",
    "/header-4k": _head(b"HTTP/1.0 200 OK", b"Content-Security-Policy: " + b"p" * 4096,
                        b"Content-Length: 4") + b"body",
    "/status-1023": _head(b"HTTP/1.0 200 " + b"s" * 1010) + b"body",
    "/junk-head": b"HTTP/1.0 200 OK\r\n" + bytes([0, 13, 255, 7]) * 600,
    "/cut-head": b"HTTP/1.0 200 OK\r\nServer: scripted",
    "/cut-body": _head(b"HTTP/1.0 200 OK", b"Content-Length: 1000") + BODY_300,
    "/body600": _head(b"HTTP/1.1 200 OK", b"Server: scripted") + BODY_600,
    "/lengths": _head(b"HTTP/1.1 200 OK", b"content-LENGTH:   42",
                      b"X-Other: 7") + b"x" * 42,
    "/bare-lf": b"HTTP/1.0 200 OK\nContent-Length: 4\n\nbody",
}

# Sent a byte at a time, so that the head, its status line too, arrives in
# many reads.
DRIP = _head(b"HTTP/1.0 200 OK", b"Content-Length: 11") + b"hello world"


def _read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk or len(data) > HEAD_LIMIT:
            return data
        data += chunk
    head = data[:data.index(b"\r\n\r\n") + 4]
    length = 0
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line[15:])
    while len(data) < len(head) + length:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


def _path(request):
    try:
        target = request.split(b" ")[1].decode("latin-1")
    except IndexError:
        return ""
    return target.split("?")[0]


def _answer(conn, path, request, files, headers):
    name = path[len("/dat/"):] if path.startswith("/dat/") else None
    if name in files:
        conn.sendall(_head(b"HTTP/1.0 200 OK", *headers,
                           b"Content-Length: %d" % len(files[name])) + files[name])
    elif path == "/" or path == "/echo" or path.startswith("/echo/"):
        conn.sendall(_head(b"HTTP/1.0 200 OK",
                           b"Content-Length: %d" % len(request)) + request)
    elif path == "/drip":
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for i in range(len(DRIP)):
            conn.sendall(DRIP[i:i + 1])
    else:
        conn.sendall(CANNED.get(path, _head(b"HTTP/1.0 500 No Such Case")))


def _serve(conn, server):
    with conn:
        conn.settimeout(WAIT)
        try:
            request = _read_request(conn)
            path = _path(request)
            server.requests.append(path)
            _answer(conn, path, request, server.files, server.headers)
            # Half-close, then wait for the client to hang up: closing with
            # unread bytes would reset the connection under the client.
            conn.shutdown(socket.SHUT_WR)
            while conn.recv(4096):
                pass
        except OSError:
            pass


class ScriptedHttpServer:
    """files: {name: bytes} served under /dat/ with the extra header lines
    headers (bytes each, without line end)."""

    def __init__(self, files=None, headers=()):
        self.files = dict(files or {})
        self.headers = tuple(headers)
        self.requests = []   # paths, in the order they were asked for
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=_serve, args=(conn, self), daemon=True).start()

    def stop(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)   # wakes the accept loop
        except OSError:
            pass
        self.sock.close()
