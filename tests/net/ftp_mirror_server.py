"""A small active-mode FTP mirror whose replies a test chooses.

It serves files under /dat/ to an anonymous client and answers with the
greeting and the transfer's opening reply it was given, so that a test can
send long reply lines, and optionally sends the transfer's 226 in the same
piece as its 150, before the data. Every command line it receives is
recorded. Every wait is bounded by socket time-outs.
"""

import re
import socket
import threading

WAIT = 20.0

PORT_RE = re.compile(r"PORT (\d+),(\d+),(\d+),(\d+),(\d+),(\d+)$")


class MirrorFtpServer:
    """files: {name: bytes}; greeting and opening: whole replies (bytes,
    with their line ends); together: 226 goes out with the opening reply."""

    def __init__(self, files, greeting=b"220 ready\r\n",
                 opening=b"150 Opening BINARY mode data connection\r\n", together=False):
        self.files = dict(files)
        self.greeting, self.opening, self.together = greeting, opening, together
        self.commands = []     # every command line, without its line end
        self.connections = 0   # control connections accepted
        self.sock = socket.create_server(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.connections += 1
            threading.Thread(target=self._session, args=(conn,), daemon=True).start()

    def _session(self, conn):
        with conn:
            conn.settimeout(WAIT)
            try:
                conn.sendall(self.greeting)
                reader = conn.makefile("rb")
                port = None
                while True:
                    line = reader.readline()
                    if not line:
                        return
                    command = line.rstrip(b"\r\n").decode("latin-1")
                    self.commands.append(command)
                    port = self._answer(conn, command, port)
            except OSError:
                pass

    def _answer(self, conn, command, port):
        verb = command.split(" ", 1)[0].upper()
        if verb == "USER":
            conn.sendall(b"331 Please specify the password.\r\n")
        elif verb == "PASS":
            conn.sendall(b"230 Login successful.\r\n")
        elif verb == "TYPE":
            conn.sendall(b"200 Switching to Binary mode.\r\n")
        elif verb == "PORT" and PORT_RE.match(command):
            n = [int(x) for x in PORT_RE.match(command).groups()]
            port = ("%d.%d.%d.%d" % tuple(n[:4]), n[4] * 256 + n[5])
            conn.sendall(b"200 PORT command successful.\r\n")
        elif verb == "RETR" and port and command[5:].startswith("/dat/") \
                and command[10:] in self.files:
            self._send_file(conn, self.files[command[10:]], port)
            port = None
        else:
            conn.sendall(b"550 Failed to open file.\r\n")
        return port

    def _send_file(self, conn, data, port):
        done = b"226 Transfer complete.\r\n"
        conn.sendall(self.opening + done if self.together else self.opening)
        with socket.create_connection(port, timeout=WAIT) as channel:
            channel.sendall(data)
        if not self.together:
            conn.sendall(done)

    def stop(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)   # wakes the accept loop
        except OSError:
            pass
        self.sock.close()
