"""Loopback servers for the tests: one accept loop, one script vocabulary
for HTTP and FTP, and a log of what every connection did.

A server listens on a free port of 127.0.0.1 and serves each connection it
accepts on a thread of its own. What it says is a script, a list of steps
played in order on one connection:
  bytes          sent as they are
  LINE           wait until the client has sent one more line (ending in LF)
  PAUSE          wait a second, for the client to read what was sent
  STALL          hold the connection open in silence until the server stops
  RESET          end the connection with a reset (RST) instead of a close
  CLOSE          close the connection at once (after an end-of-file, so
                 that a command already on its way causes no reset)
  SHUT           half-close: the client reads end-of-file and may still send
  DRAIN          read until the client closes its end
  Trickle(b)     send b a byte at a time, each byte in a segment of its own
  Data(*steps)   connect to the address of the client's last PORT command
                 and play steps there (a data connection); its RESET or
                 CLOSE ends only the data connection, its STALL everything
RESET, CLOSE and STALL end the script; a connection whose script runs out
is closed. Every byte the client sends is recorded (`control`, and `data`
for data connections) and every step is logged. Every wait is bounded, so a
server never outlives its test by much, and a client that waits for a reply
that never comes gets end-of-file instead of hanging.
"""

import re
import socket
import struct
import threading

WAIT = 20.0          # bound on any wait for the client
LINE_LIMIT = 65536   # a client line longer than this ends the connection

LINE, PAUSE, STALL, RESET, CLOSE, SHUT, DRAIN = (
    "line", "pause", "stall", "reset", "close", "shut", "drain")

PORT_RE = re.compile(rb"PORT (\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\r?\n")


class Trickle:
    """Bytes that go out one to a segment, so that the client reads them in
    as many pieces."""

    def __init__(self, data):
        self.data = data


class Data:
    """Steps for a data connection made from source to the client's last
    PORT address; wait bounds each of its waits (None: the server's)."""

    def __init__(self, *steps, source="127.0.0.1", wait=None):
        self.steps, self.source, self.wait = steps, source, wait


class Session:
    """What one control connection's client sent."""

    def __init__(self):
        self.control = bytearray()   # on the control connection
        self.data = bytearray()      # on its data connections
        self.done = threading.Event()


class Connection:
    """One accepted (or, for data, made) connection and its script player."""

    def __init__(self, server, sock, number, session, received, wait):
        self.server, self.sock, self.number = server, sock, number
        self.session = session
        self.received = received     # where the client's bytes are recorded
        self.consumed = 0            # bytes of `received` already awaited as lines
        self.sock.settimeout(wait)

    def log(self, text):
        self.server.log.append("#%s %s" % (self.number, text))

    def play(self, steps) -> bool:
        """Plays steps in order; False when one of them ended the script."""
        for step in steps:
            if not self.step(step):
                return False
        return True

    def step(self, step) -> bool:
        if isinstance(step, bytes):
            self.log("-> %d bytes %r" % (len(step), step[:60]))
            self.sock.sendall(step)
        elif isinstance(step, Trickle):
            self.log("-> %d bytes a byte at a time" % len(step.data))
            self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            for i in range(len(step.data)):
                self.sock.sendall(step.data[i:i + 1])
        elif isinstance(step, Data):
            return self.data_connection(step)
        elif step == LINE:
            return self.line() is not None
        elif step == PAUSE:
            self.server.stopped.wait(1.0)
        elif step == STALL:
            self.log("stalls")
            self.server.stall()
            return False
        elif step == RESET:
            self.log("resets")
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return False
        elif step == CLOSE:
            self.log("closes")
            self.sock.shutdown(socket.SHUT_RDWR)
            return False
        elif step == SHUT:
            self.sock.shutdown(socket.SHUT_WR)
        elif step == DRAIN:
            while self.receive():
                pass
        else:
            raise ValueError("no such step: %r" % (step,))
        return True

    def receive(self) -> bool:
        """Records the client's next bytes; False at its end-of-file."""
        chunk = self.sock.recv(65536)
        self.received += chunk
        return bool(chunk)

    def line(self):
        """The client's next line (with its line end), or None when it
        closed first or sent a line over the limit."""
        while self.received.find(b"\n", self.consumed) < 0:
            if len(self.received) - self.consumed > LINE_LIMIT or not self.receive():
                return None
        end = self.received.index(b"\n", self.consumed) + 1
        line = bytes(self.received[self.consumed:end])
        self.consumed = end
        self.log("<- %r" % line[:80])
        return line

    def data_connection(self, data) -> bool:
        ports = PORT_RE.findall(bytes(self.received))
        if not ports:
            self.log("no PORT command to connect to")
            return False
        h1, h2, h3, h4, p1, p2 = (int(x) for x in ports[-1])
        sock = socket.socket()
        with sock:
            sock.settimeout(self.server.wait)
            sock.bind((data.source, 0))
            sock.connect(("%d.%d.%d.%d" % (h1, h2, h3, h4), p1 * 256 + p2))
            channel = Connection(self.server, sock, "%s data" % self.number, self.session,
                                 self.session.data, data.wait or self.server.wait)
            channel.log("connected")
            return channel.play(data.steps) or STALL not in data.steps


class Server:
    """Accepts connections and calls serve(connection) for each on a thread
    of its own. wait bounds every wait for the client and every stall."""

    def __init__(self, serve=None, backlog=16, wait=WAIT, accepting=True):
        self.serve_one = serve
        self.wait = wait
        self.log = []            # one line per event, "#<connection> <what>"
        self.sessions = []       # one per accepted connection, in order
        self.stall_marker = None  # a file made when the server starts to stall
        self.stopped = threading.Event()
        self.sock = socket.create_server(("127.0.0.1", 0), backlog=backlog)
        self.port = self.sock.getsockname()[1]
        if accepting:
            threading.Thread(target=self._accept, daemon=True).start()

    @property
    def connections(self) -> int:
        return len(self.sessions)

    def _accept(self):
        while not self.stopped.is_set():
            try:
                sock, _ = self.sock.accept()
            except OSError:
                return
            session = self.new_session()
            self.sessions.append(session)
            connection = Connection(self, sock, len(self.sessions), session, session.control,
                                    self.wait)
            connection.log("accepted")
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def new_session(self) -> Session:
        """The record of a connection just accepted."""
        return Session()

    def _serve(self, connection):
        with connection.sock:
            try:
                self.serve_one(connection)
            except OSError as error:
                connection.log("ends: %s" % error)
            finally:
                connection.session.done.set()

    def stall(self):
        """Tells the test that the client now waits on this server in vain,
        then holds on until the server is stopped."""
        if self.stall_marker:
            open(self.stall_marker, "w").close()
        self.stopped.wait(self.wait)

    def transcript(self) -> str:
        return "\n".join(self.log)

    def stop(self):
        self.stopped.set()
        try:
            self.sock.shutdown(socket.SHUT_RDWR)   # wakes the accept loop
        except OSError:
            pass
        self.sock.close()


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


def http_head(status: bytes, *headers: bytes) -> bytes:
    return b"".join(line + b"\r\n" for line in (status,) + headers) + b"\r\n"


def http_ok(body: bytes, *headers: bytes) -> list:
    return [http_head(b"HTTP/1.0 200 OK", *headers, b"Content-Length: %d" % len(body)), body]


class HttpServer(Server):
    """Reads each request (its head and a body of its Content-Length),
    records its path in `requests`, and answers with the script
    answer(request), or the script `answer` itself when it is a list. An
    answer that runs out half-closes and lets the client hang up first:
    closing with its bytes unread would reset the connection under it."""

    def __init__(self, answer, **options):
        self.answer = answer
        self.requests = []   # paths, in the order they were asked for
        super().__init__(self._http, **options)

    def _http(self, connection):
        request = read_request(connection)
        if request is None:
            return
        self.requests.append(request_path(request))
        steps = self.answer if isinstance(self.answer, list) else self.answer(request)
        connection.play(list(steps) + [SHUT, DRAIN])


def read_request(connection):
    """The request's head and body, or None when the client ends first."""
    length = 0
    while True:
        line = connection.line()
        if line is None:
            return None
        if line.lower().startswith(b"content-length:"):
            length = int(line[15:])
        if line in (b"\r\n", b"\n"):
            break
    end = connection.consumed + length
    while len(connection.received) < end and connection.receive():
        pass
    return bytes(connection.received[:end])


def request_path(request: bytes) -> str:
    try:
        target = request.split(b" ")[1].decode("latin-1")
    except IndexError:
        return ""
    return target.split("?")[0]


class FtpServer(Server):
    """An anonymous FTP server with active-mode transfers.

    Each command is answered with the script its verb maps to in replies
    ("greeting" for the greeting): a script, or a function of the command's
    argument (str) that gives one. By default RETR serves files ({name:
    bytes}) under /dat/ with the script transfer(file's bytes), and 550 for
    anything else. Every command line is recorded in `commands`."""

    NORMAL = {
        "greeting": [b"220 ready\r\n"],
        "USER": [b"331 Please specify the password.\r\n"],
        "PASS": [b"230 Login successful.\r\n"],
        "TYPE": [b"200 Switching to Binary mode.\r\n"],
        "PORT": [b"200 PORT command successful.\r\n"],
        "QUIT": [b"221 Goodbye.\r\n", CLOSE],
    }
    OPENING = b"150 Opening BINARY mode data connection\r\n"
    DONE = b"226 Transfer complete.\r\n"

    def __init__(self, files=None, replies=None, transfer=None, **options):
        self.files = dict(files or {})
        self.replies = {**self.NORMAL, "RETR": self.retrieve, **(replies or {})}
        self.transfer = transfer or (lambda data: [self.OPENING, Data(data), self.DONE])
        self.commands = []   # every command line, without its line end
        super().__init__(self._ftp, **options)

    def retrieve(self, argument):
        name = argument[len("/dat/"):] if argument.startswith("/dat/") else None
        if name not in self.files:
            return [b"550 Failed to open file.\r\n"]
        return self.transfer(self.files[name])

    def _ftp(self, connection):
        if not connection.play(self.replies["greeting"]):
            return
        while True:
            line = connection.line()
            if line is None:
                return
            command = line.rstrip(b"\r\n").decode("latin-1")
            self.commands.append(command)
            verb, _, argument = command.partition(" ")
            reply = self.replies.get(verb.upper(), [b"502 Command not implemented.\r\n"])
            if not connection.play(reply(argument) if callable(reply) else reply):
                return
