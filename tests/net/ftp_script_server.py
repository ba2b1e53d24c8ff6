"""A scripted FTP server for the client's protocol tests.

The test program arms the server with a script over a side channel, drives
the FTP client against it, then asks for the exact bytes the client sent.

Side channel (one TCP connection per case, on the control port):
  test -> "PLAY <n>\n", then n steps, each "<op> <length>\n" and <length>
          bytes of payload; server -> "OK\n" once the script is armed.
  test -> "DIALOGUE\n"; server -> "<a> <b>\n", then the a bytes the client
          sent on the control connection and the b bytes it sent on data
          connections.

Steps, played in order on the next FTP control connection the client opens
(the loopback kit's steps, named by one letter):
  S  send the payload on the control connection
  L  wait until the client has sent one more line (ending in LF)
  O  connect to the client's last PORT address, send the payload, close
  I  connect to the client's last PORT address, read until the client closes
  H  connect to the client's last PORT address, send the payload, then hold
     the connection silent until the client closes it (a stalled transfer)
  C  close the control connection: the client reads end-of-file, and what
     it still sends is recorded
After the last step the server keeps reading (and recording) until the client
closes the control connection, then closes its end.
"""

import threading

from loopback import DRAIN, LINE, SHUT, Data, Server, Session

WAIT = 20.0          # bound on any single wait for the client
DRAIN_WAIT = 10.0    # bound on waiting for the client to hang up at the end
HOLD_WAIT = 90.0     # a held transfer outlasts the client's 60 s bound on silence
SIDE_WAIT = 150.0    # the test's side channel, idle while a transfer is held

STEPS = {
    "S": lambda payload: payload,
    "L": lambda payload: LINE,
    "O": lambda payload: Data(payload),
    "I": lambda payload: Data(DRAIN),
    "H": lambda payload: Data(payload, DRAIN, wait=HOLD_WAIT),
    "C": lambda payload: SHUT,
}


class ArmedServer(Server):
    """Plays each script armed on the next control connection it accepts;
    one accepted while none is armed is closed at once."""

    def __init__(self):
        self.armed = None   # the session of the script armed, with .steps
        self.lock = threading.Lock()
        super().__init__(self._play, wait=WAIT)

    def arm(self, steps) -> Session:
        session = Session()
        session.steps = steps
        with self.lock:
            self.armed = session
        return session

    def new_session(self) -> Session:
        with self.lock:
            session, self.armed = self.armed, None
        if session is None:
            session = Session()
            session.steps = None
        return session

    def _play(self, connection):
        steps = connection.session.steps
        if steps is not None and connection.play(steps):
            connection.sock.settimeout(DRAIN_WAIT)
            connection.play([DRAIN])


class ScriptServer:
    """Listens for FTP clients and for the test's side channel."""

    def __init__(self):
        self.session = None     # of the latest script armed
        self.ftp = ArmedServer()
        self.side = Server(self.talk, wait=SIDE_WAIT)
        self.ftp_port, self.side_port = self.ftp.port, self.side.port

    def talk(self, connection):
        reader = connection.sock.makefile("rb")
        while True:
            line = reader.readline()
            if not line:
                return
            words = line.split()
            if words[0] == b"PLAY":
                steps = []
                for _ in range(int(words[1])):
                    op, length = reader.readline().split()
                    steps.append(STEPS[op.decode()](reader.read(int(length))))
                self.finish_session()
                self.session = self.ftp.arm(steps)
                connection.sock.sendall(b"OK\n")
            elif words[0] == b"DIALOGUE":
                self.finish_session()
                s = self.session
                control = bytes(s.control) if s else b""
                data = bytes(s.data) if s else b""
                connection.sock.sendall(b"%d %d\n" % (len(control), len(data)) + control + data)

    def finish_session(self):
        if self.session is not None:
            self.session.done.wait(WAIT + DRAIN_WAIT + WAIT)

    def stop(self):
        self.side.stop()
        self.ftp.stop()
