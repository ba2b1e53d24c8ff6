"""A scripted FTP server for the client's protocol tests.

The test program arms the server with a script over a side channel, drives
the FTP client against it, then asks for the exact bytes the client sent.

Side channel (one TCP connection per case, on the control port):
  test -> "PLAY <n>\n", then n steps, each "<op> <length>\n" and <length>
          bytes of payload; server -> "OK\n" once the script is armed.
  test -> "DIALOGUE\n"; server -> "<a> <b>\n", then the a bytes the client
          sent on the control connection and the b bytes it sent on data
          connections.

Steps, played in order on the one FTP control connection the client opens:
  S  send the payload on the control connection
  L  wait until the client has sent one more line (ending in LF)
  O  connect to the client's last PORT address, send the payload, close
  I  connect to the client's last PORT address, read until the client closes
  H  connect to the client's last PORT address, send the payload, then hold
     the connection silent until the client closes it (a stalled transfer)
  C  close the control connection
After the last step the server keeps reading (and recording) until the client
closes the control connection, then closes its end. Every wait is bounded, so
a client that waits for a reply the script never sends gets end-of-file
instead of hanging.
"""

import re
import socket
import threading

WAIT = 20.0          # bound on any single wait for the client
DRAIN_WAIT = 10.0    # bound on waiting for the client to hang up at the end
HOLD_WAIT = 90.0     # a held transfer outlasts the client's 60 s bound on silence
SIDE_WAIT = 150.0    # the test's side channel, idle while a transfer is held

PORT_RE = re.compile(rb"PORT (\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\r\n")


class Session:
    """Plays one script on one accepted control connection."""

    def __init__(self, listener, steps):
        self.listener = listener
        self.steps = steps
        self.control = bytearray()   # everything the client sent on control
        self.data = bytearray()      # everything the client sent on data
        self.lines_seen = 0          # lines of `control` already awaited
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        conn = None
        try:
            self.listener.settimeout(WAIT)
            conn, _ = self.listener.accept()
            conn.settimeout(WAIT)
            for op, payload in self.steps:
                if not self.step(conn, op, payload):
                    break
            self.drain(conn)
        except OSError:
            pass
        finally:
            if conn is not None:
                conn.close()
            self.done.set()

    def step(self, conn, op, payload):
        if op == "S":
            conn.sendall(payload)
        elif op == "L":
            return self.await_line(conn)
        elif op == "O":
            with self.connect_data() as data:
                data.sendall(payload)
        elif op == "H":
            with self.connect_data() as data:
                data.sendall(payload)
                data.settimeout(HOLD_WAIT)
                while data.recv(65536):
                    pass
        elif op == "I":
            with self.connect_data() as data:
                while True:
                    chunk = data.recv(65536)
                    if not chunk:
                        break
                    self.data += chunk
        elif op == "C":
            conn.shutdown(socket.SHUT_RDWR)
            return False
        return True

    def await_line(self, conn):
        while self.control.count(b"\n") <= self.lines_seen:
            chunk = conn.recv(4096)
            if not chunk:
                return False
            self.control += chunk
        self.lines_seen += 1
        return True

    def connect_data(self):
        ports = PORT_RE.findall(bytes(self.control))
        if not ports:
            raise OSError("no PORT command to connect to")
        h1, h2, h3, h4, p1, p2 = (int(x) for x in ports[-1])
        return socket.create_connection(
            ("%d.%d.%d.%d" % (h1, h2, h3, h4), p1 * 256 + p2), timeout=WAIT)

    def drain(self, conn):
        conn.settimeout(DRAIN_WAIT)
        try:
            while True:
                chunk = conn.recv(4096)
                if not chunk:
                    break
                self.control += chunk
        except OSError:
            pass


class ScriptServer:
    """Listens for FTP clients and for the test's side channel."""

    def __init__(self):
        self.ftp = socket.create_server(("127.0.0.1", 0))
        self.side = socket.create_server(("127.0.0.1", 0))
        self.ftp_port = self.ftp.getsockname()[1]
        self.side_port = self.side.getsockname()[1]
        self.session = None
        self.stopping = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while not self.stopping:
            try:
                conn, _ = self.side.accept()
            except OSError:
                return
            with conn:
                conn.settimeout(SIDE_WAIT)
                try:
                    self.talk(conn.makefile("rb"), conn)
                except (OSError, ValueError):
                    pass

    def talk(self, reader, conn):
        while True:
            line = reader.readline()
            if not line:
                return
            words = line.split()
            if words[0] == b"PLAY":
                steps = []
                for _ in range(int(words[1])):
                    op, length = reader.readline().split()
                    steps.append((op.decode(), reader.read(int(length))))
                self.finish_session()
                self.session = Session(self.ftp, steps)
                conn.sendall(b"OK\n")
            elif words[0] == b"DIALOGUE":
                self.finish_session()
                s = self.session
                control = bytes(s.control) if s else b""
                data = bytes(s.data) if s else b""
                conn.sendall(b"%d %d\n" % (len(control), len(data))
                             + control + data)

    def finish_session(self):
        if self.session is not None:
            self.session.done.wait(WAIT + DRAIN_WAIT + WAIT)

    def stop(self):
        self.stopping = True
        self.side.close()
        self.ftp.close()
