"""Misbehaving HTTP and FTP servers for the end-to-end runs.

Each server serves one data resource for one installer run and misbehaves
as its script says. A script is a list of steps played on a connection:
bytes are sent as they are, and four markers act:
  PAUSE  wait a second, for the client to read what was sent
  STALL  hold the connection open in silence until the server is stopped
  RESET  end the connection with a reset (RST) instead of a close
  CLOSE  close the connection at once
A script that runs out closes the connection. Every wait is bounded, so a
server never outlives its test by much.
"""

import re
import socket
import struct
import threading

PAUSE, STALL, RESET, CLOSE = "pause", "stall", "reset", "close"
WAIT = 300.0      # bound on any wait for the client and on any stall
LINE_LIMIT = 65536

PORT_RE = re.compile(rb"PORT (\d+),(\d+),(\d+),(\d+),(\d+),(\d+)")


def http_head(status: bytes, *headers: bytes) -> bytes:
    return b"".join(line + b"\r\n" for line in (status,) + headers) + b"\r\n"


def http_ok(body: bytes) -> list:
    return [http_head(b"HTTP/1.0 200 OK", b"Content-Length: %d" % len(body)), body]


class Server:
    """Accepts connections on a free port of 127.0.0.1 and serves each on a
    thread of its own."""

    def __init__(self, backlog=16, accepting=True):
        self.stopped = threading.Event()
        self.stall_marker = None  # a file made when the server starts to stall
        self.sock = socket.create_server(("127.0.0.1", 0), backlog=backlog)
        self.port = self.sock.getsockname()[1]
        if accepting:
            threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self.stopped.is_set():
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self._serve_one, args=(conn,), daemon=True).start()

    def _serve_one(self, conn):
        with conn:
            conn.settimeout(WAIT)
            try:
                self.serve(conn)
            except OSError:
                pass

    def stall(self):
        """Tells the test that the client now waits on this server in vain,
        then holds on until the server is stopped."""
        if self.stall_marker:
            open(self.stall_marker, "w").close()
        self.stopped.wait(WAIT)

    def play(self, conn, steps) -> bool:
        """Plays steps on conn; False when a marker ended the connection."""
        for step in steps:
            if step == PAUSE:
                self.stopped.wait(1.0)
                continue
            if step == STALL:
                self.stall()
                return False
            if step == RESET:
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return False
            if step == CLOSE:
                return False
            conn.sendall(step)
        return True

    def stop(self):
        self.stopped.set()
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


class HttpServer(Server):
    """Reads each request head, then plays the script."""

    def __init__(self, steps):
        self.steps = steps
        super().__init__()

    def serve(self, conn):
        data = b""
        while b"\r\n\r\n" not in data and len(data) < LINE_LIMIT:
            chunk = conn.recv(4096)
            if not chunk:
                return
            data += chunk
        if self.play(conn, self.steps):
            # Half-close and let the client hang up first: closing with its
            # bytes unread would reset the connection under it.
            conn.shutdown(socket.SHUT_WR)
            while conn.recv(4096):
                pass


class FullServer(Server):
    """Never accepts: its listen queue is filled by connections of its own,
    so a client's connection attempt is never answered."""

    def __init__(self):
        super().__init__(backlog=0, accepting=False)
        self.fillers = []
        for _ in range(4):
            filler = socket.socket()
            filler.setblocking(False)
            filler.connect_ex(("127.0.0.1", self.port))
            self.fillers.append(filler)

    def stop(self):
        for filler in self.fillers:
            filler.close()
        super().stop()


class FtpServer(Server):
    """An anonymous FTP server for one file, with active-mode transfers.

    replies maps a command verb to the steps played in place of the normal
    reply ("greeting" for the greeting, "226" for the reply after the data).
    data is what is played on the data connection; data_from is the local
    address the server connects the data connection from; with connect
    False it never opens the data connection."""

    NORMAL = {
        "greeting": [b"220 hostile FTP server ready\r\n"],
        "USER": [b"331 send your address as password\r\n"],
        "PASS": [b"230 logged in\r\n"],
        "TYPE": [b"200 type set\r\n"],
        "PORT": [b"200 PORT command successful\r\n"],
        "RETR": [b"150 opening data connection\r\n"],
        "226": [b"226 transfer complete\r\n"],
    }

    def __init__(self, body, replies=None, data=None, data_from="127.0.0.1", connect=True):
        self.replies = dict(self.NORMAL, **(replies or {}))
        self.data = [body] if data is None else data
        self.data_from = data_from
        self.connect = connect
        self.commands = []
        super().__init__()

    def serve(self, conn):
        reader = conn.makefile("rb")
        if not self.play(conn, self.replies["greeting"]):
            return
        port = None
        while True:
            line = reader.readline(LINE_LIMIT)
            if not line:
                return
            self.commands.append(line)
            verb = line.split(b" ")[0].strip().upper().decode("latin-1")
            if verb == "PORT":
                match = PORT_RE.match(line)
                if match:
                    h1, h2, h3, h4, p1, p2 = (int(x) for x in match.groups())
                    port = ("%d.%d.%d.%d" % (h1, h2, h3, h4), p1 * 256 + p2)
            if verb == "QUIT":
                conn.sendall(b"221 bye\r\n")
                return
            if not self.play(conn, self.replies.get(verb, [b"502 not implemented\r\n"])):
                return
            if verb == "RETR" and self.replies["RETR"][-1].startswith(b"150"):
                if not self.transfer(port) or not self.play(conn, self.replies["226"]):
                    return

    def transfer(self, port) -> bool:
        """Opens the data connection and plays the data on it; False when
        the data stalled, and the control connection falls silent too."""
        if not self.connect or port is None:
            self.stall()
            return False
        data = socket.socket()
        with data:
            data.settimeout(WAIT)
            data.bind((self.data_from, 0))
            data.connect(port)
            return self.play(data, self.data) or STALL not in self.data
