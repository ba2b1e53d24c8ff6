"""Downloads from misbehaving servers, end to end.

A web installer carries earlier.txt and downloads payload.txt (both
required), first by HTTP, then by FTP. Each case serves payload.txt from a
scripted server, or from nginx or vsftpd, and ends either with a correct
install or with its error box; in every case the run ends by itself (or
within about a second of a confirmed Cancel), earlier.txt is complete, no
partly written or temporary file is left, an older payload.txt in place is
untouched unless the new one was verified, and the registry record exists
only after a complete run.

The stalled cases wait out the installer's own bounds (30 s for a connect,
60 s of silence; the product's, not shorter ones for the tests), so the
cases run side by side, each in a prefix of its own, the slow ones first:
the table takes a few minutes rather than the quarter of an hour its cases
would take one after another.
"""
import concurrent.futures
import os
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

from e2e import (BUILD, HOSTILE_KEY, OLD, TEMPLATE, Sandbox, hostile_payload, installer, names,
                 set_urls)

# e2e puts tests/net on the path.
import ftpfixture  # noqa: E402
import netfixture  # noqa: E402
from loopback import (CLOSE, PAUSE, RESET, STALL, Data, FtpServer, FullServer,  # noqa: E402
                      HttpServer, http_head, http_ok)
from netfixture import CLOSED  # noqa: E402

PARALLEL = 6
ROBOT_WAIT = 300  # a case with two stalls takes 120 s; more under load
CANCEL_WAIT_MS = 2500  # from the Yes to the end of the run
# From the final error box to the end of the run: once the error is shown,
# nothing waits on a server again (loose, for a loaded machine).
END_WAIT_MS = 10000

NO_DATA = "Can't find data for file 'payload.txt': "
READ_ERROR = "Error reading file to be installed: "
MISMATCH = READ_ERROR + "downloaded file does not match its message digest!"
FTP_DOWN = NO_DATA + "unable to connect to FTP server: Connection refused."
CTRL_TIMED_OUT = "unable to read from the FTP control connection: Connection timed out."


BODY = hostile_payload("payload.txt")
WRONG = BODY[:-3] + b"!!\n"

WAIT = 300.0  # bound on a scripted server's waits for the installer and on its stalls
OPENING = b"150 opening data connection\r\n"

FTP_NORMAL = {
    "greeting": [b"220 hostile FTP server ready\r\n"],
    "USER": [b"331 send your address as password\r\n"],
    "PASS": [b"230 logged in\r\n"],
    "TYPE": [b"200 type set\r\n"],
    "RETR": [OPENING, Data(BODY), b"226 transfer complete\r\n"],
}


def ftp(**replies):
    """An FTP server that answers each verb as replies say, else normally,
    and sends BODY whatever file RETR names."""
    return lambda: FtpServer(replies=dict(FTP_NORMAL, **replies), wait=WAIT)


def ftp_reply(verb, line):
    return ftp(**{verb: [line]})


def transfer(*data, source="127.0.0.1", end=b"226 transfer complete\r\n"):
    """RETR answered with 150, then the data steps on a data connection made
    from source, then end."""
    return ftp(RETR=[OPENING, Data(*data, source=source), end])


def http(steps):
    return lambda: HttpServer(steps, wait=WAIT)


SERVES = ftp()  # an FTP server with the right bytes

# (case, HTTP server, FTP server, expected final box or None for a correct
# install, options). Servers: None for a closed port, a factory of a
# scripted server, or the name of a real server. Options: "new" runs without an
# older payload.txt in place; "cancel" presses Cancel and Yes in the middle.
CASES = [
    # The slow cases first, so that they wait side by side.
    # A confirmed Cancel while the installer waits on a stalled server.
    ("cancel: http stall mid-body", http(http_ok(BODY)[:1] + [BODY[:9000], STALL]), None,
     None, "cancel"),
    ("cancel: http silent, a new install", http([STALL]), None, None, "cancel new"),
    ("cancel: ftp 150, then no data connection", None,
     ftp(RETR=[OPENING, STALL]), None, "cancel"),
    ("cancel: ftp data sent, then no 226", None, transfer(BODY, end=STALL), None, "cancel"),
    # HTTP stalls.
    ("http: connect never answered, FTP serves", "full", SERVES, None, ""),
    ("http: silent after connect, FTP down", http([STALL]), None, FTP_DOWN, ""),
    ("http: stall mid-head, FTP serves", http([b"HTTP/1.0 200 OK\r\nServer: x\r\n", STALL]),
     SERVES, None, ""),
    # Never silent for long, and longer than the robot waits for a run.
    ("http: head trickled without end, FTP serves",
     http([b"HTTP/1.0 200 OK\r\n"] + [b"X-Wait: a\r\n", PAUSE] * 400), SERVES, None, ""),
    ("http: stall mid-body", http(http_ok(BODY)[:1] + [BODY[:9000], STALL]), None,
     READ_ERROR + "error receiving response from HTTP server: Connection timed out.", ""),
    # FTP stalls.
    ("ftp: silent greeting", None, ftp_reply("greeting", STALL),
     NO_DATA + CTRL_TIMED_OUT, ""),
    # Never silent for long, and longer than the robot waits for a run.
    ("ftp: greeting trickled without end", None,
     ftp(greeting=[b"220-Welcome\r\n"] + [b"220-still coming\r\n", PAUSE] * 400),
     NO_DATA + CTRL_TIMED_OUT, ""),
    ("ftp: silent after PASS", None, ftp_reply("PASS", STALL), NO_DATA + CTRL_TIMED_OUT, ""),
    ("ftp: silent before 150", None, ftp_reply("RETR", STALL), NO_DATA + CTRL_TIMED_OUT, ""),
    ("ftp: 150, then no data connection", None,
     ftp(RETR=[OPENING, STALL]),
     NO_DATA + "unable to open FTP data connection: Connection timed out.", ""),
    ("ftp: stall mid-body", None, transfer(BODY[:9000], STALL),
     READ_ERROR + "unable to read from FTP data connection: Connection timed out.", ""),
    ("ftp: data sent, then no 226", None, transfer(BODY, end=STALL),
     READ_ERROR + CTRL_TIMED_OUT, ""),
    # HTTP answers, the FTP server down unless it is the point.
    ("http: right bytes", http(http_ok(BODY)), None, None, ""),
    ("http: right bytes, a new install", http(http_ok(BODY)), None, None, "new"),
    ("http: no Content-Length", http([http_head(b"HTTP/1.0 200 OK"), BODY]), None, None, ""),
    ("http: no head at all", http([BODY]), None, None, ""),
    ("http: wrong bytes", http(http_ok(WRONG)), None, MISMATCH, ""),
    ("http: wrong bytes, a new install", http(http_ok(WRONG)), None, MISMATCH, "new"),
    ("http: short body", http(http_ok(BODY)[:1] + [BODY[:9000]]), None, MISMATCH, ""),
    ("http: over-long body", http(http_ok(BODY + b"more")), None, MISMATCH, ""),
    ("http: 0 bytes", http(http_ok(b"")), None, MISMATCH, ""),
    ("http: 404, FTP down", http([http_head(b"HTTP/1.0 404 Not Found")]), None, FTP_DOWN, ""),
    ("http: 500, FTP serves", http([http_head(b"HTTP/1.0 500 Oops")]), SERVES, None, ""),
    ("http: 301, FTP serves", http([http_head(b"HTTP/1.0 301 Moved", b"Location: /x")]),
     SERVES, None, ""),
    ("http: version 2, FTP serves", http([b"HTTP/2.0 200 OK\r\n\r\n", BODY]),
     SERVES, None, ""),
    ("http: status line of 2000 bytes, FTP serves",
     http([b"HTTP/1.0 200 " + b"O" * 2000 + b"\r\n\r\n", BODY]), SERVES, None, ""),
    ("http: header line of 2000 bytes, FTP down",
     http([http_head(b"HTTP/1.0 200 OK", b"X-Long: " + b"a" * 2000), BODY]), None, None, ""),
    ("http: head cut short, FTP down", http([b"HTTP/1.0 200 OK\r\nServer: x"]), None,
     FTP_DOWN, ""),
    # A reset is told from a close, not left to the digest check.
    ("http: reset mid-body", http(http_ok(BODY)[:1] + [BODY[:9000], PAUSE, RESET]), None,
     READ_ERROR + "error receiving response from HTTP server: Connection reset by peer.", ""),
    ("http: reset mid-body, no Content-Length",
     http([http_head(b"HTTP/1.0 200 OK"), BODY[:9000], PAUSE, RESET]), None,
     READ_ERROR + "error receiving response from HTTP server: Connection reset by peer.", ""),
    # FTP answers, the HTTP server down.
    ("ftp: right bytes", None, SERVES, None, ""),
    ("ftp: right bytes, a new install", None, SERVES, None, "new"),
    ("ftp: multi-line greeting", None,
     ftp_reply("greeting", b"220-Welcome\r\n220-to the mirror\r\n220 ready\r\n"), None, ""),
    ("ftp: 421 greeting", None, ftp_reply("greeting", b"421 Too many users\r\n"),
     NO_DATA + "421 Too many users", ""),
    ("ftp: 120 greeting", None, ftp_reply("greeting", b"120 Ready in 5 minutes\r\n"),
     NO_DATA + "unable to connect to FTP server: 120 Ready in 5 minutes", ""),
    ("ftp: USER refused", None, ftp_reply("USER", b"530 No anonymous login\r\n"),
     NO_DATA + "530 No anonymous login", ""),
    ("ftp: PASS refused", None, ftp_reply("PASS", b"530 Login incorrect\r\n"),
     NO_DATA + "530 Login incorrect", ""),
    ("ftp: TYPE refused", None, ftp_reply("TYPE", b"504 Type not supported\r\n"),
     NO_DATA + "504 Type not supported", ""),
    ("ftp: PORT refused", None, ftp_reply("PORT", b"500 Illegal PORT command\r\n"),
     NO_DATA + "500 Illegal PORT command", ""),
    ("ftp: RETR refused", None, ftp_reply("RETR", b"550 No such file\r\n"),
     NO_DATA + "550 No such file", ""),
    ("ftp: RETR answered without 150", None, ftp_reply("RETR", b"250 Done already\r\n"),
     NO_DATA + "unexpected response from FTP server", ""),
    ("ftp: reply line of 300 bytes", None, ftp_reply("greeting", b"220 " + b"w" * 296 + b"\r\n"),
     None, ""),
    ("ftp: endless greeting", None,
     ftp_reply("greeting", b"220-" + b"w" * 100000 + b"\r\n220 ready\r\n"),
     NO_DATA + "the response from the FTP server was too long", ""),
    ("ftp: closed after the greeting", None, ftp(USER=[CLOSE]),
     NO_DATA + "unexpected end-of-file while reading from the FTP control connection", ""),
    ("ftp: wrong bytes", None, transfer(WRONG), MISMATCH, ""),
    ("ftp: truncated", None, transfer(BODY[:9000]), MISMATCH, ""),
    ("ftp: oversized", None, transfer(BODY, b"more"), MISMATCH, ""),
    ("ftp: 0 bytes", None, transfer(), MISMATCH, ""),
    ("ftp: data reset mid-body", None,
     transfer(BODY[:9000], PAUSE, RESET, end=b"426 Transfer aborted\r\n"),
     READ_ERROR + "unable to read from FTP data connection: Connection reset by peer.", ""),
    ("ftp: 426 after the data", None, transfer(BODY, end=b"426 Transfer aborted\r\n"),
     READ_ERROR + "426 Transfer aborted", ""),
    ("ftp: data connection from another address", None, transfer(BODY, source="127.0.0.2"),
     None, ""),
    # Real servers.
    ("nginx: right bytes", "nginx", None, None, ""),
    ("nginx: 404, vsftpd serves", "nginx-empty", "vsftpd", None, ""),
    ("nginx: wrong bytes", "nginx-wrong", None, MISMATCH, ""),
    ("nginx: 0 bytes", "nginx-empty-file", None, MISMATCH, ""),
    ("vsftpd: no such file", None, "vsftpd-empty",
     NO_DATA + "550 Failed to open file.", ""),
    ("vsftpd: truncated", None, "vsftpd-truncated", MISMATCH, ""),
]


def digest_name() -> str:
    return names("hostile_setup")["payload.txt"][0]


class Case(Sandbox):
    """One row of the table, run in a sandbox of its own on display."""

    def __init__(self, display, name, http_server, ftp_server, expected, options):
        self.display = display
        self.name, self.expected, self.options = name, expected, options.split()
        self.http_spec, self.ftp_spec = http_server, ftp_server
        self.servers = []

    def wine_env(self) -> dict:
        return dict(super().wine_env(), DISPLAY=self.display)

    def start(self, spec):
        if spec is None:
            return CLOSED
        if callable(spec):
            server = spec()
            server.stall_marker = self.stall_marker
        elif spec == "full":
            server = FullServer()
        elif spec.startswith("nginx"):
            files = {"nginx": BODY, "nginx-wrong": WRONG, "nginx-empty-file": b""}
            server = netfixture.start_nginx(self.work, self.web_root(files.get(spec)))
        else:
            files = {"vsftpd": BODY, "vsftpd-truncated": BODY[:9000]}
            server = ftpfixture.start_vsftpd(self.work, self.ftp_root(files.get(spec)))
        self.servers.append(server)
        return "127.0.0.1:%d" % server.port

    @property
    def stall_marker(self) -> str:
        """The file a scripted server makes once it starts to stall."""
        return os.path.join(self.work, "stalled")

    def web_root(self, body):
        root = os.path.join(self.work, "www")
        os.makedirs(os.path.join(root, "dat"))
        if body is not None:
            with open(os.path.join(root, "dat", digest_name()), "wb") as f:
                f.write(body)
        return root

    def ftp_root(self, body):
        files = {} if body is None else {digest_name(): body}
        return ftpfixture.make_anon_root(self.work, files)

    def run(self):
        self.open_sandbox()
        try:
            exe = os.path.join(self.work, "hostile_setup.exe")
            shutil.copy(installer("hostile_setup"), exe)
            http_host = self.start(self.http_spec)
            ftp_host = self.start(self.ftp_spec)
            set_urls(exe, http_host, ftp_host)
            self.folder = os.path.join(self.prefix, "drive_c", "Program Files", "Hostile")
            if "new" not in self.options:
                os.makedirs(self.folder)
                with open(os.path.join(self.folder, "payload.txt"), "wb") as f:
                    f.write(OLD)
            script = "press OK\nleave\n"
            # Cancel once the installer waits on the stalled server.
            script += f"wait {self.stall_marker}\nclick Cancel\npress Yes" \
                if "cancel" in self.options else "press OK"
            self.result = self.run_installer(exe, script, timeout=ROBOT_WAIT)
            self.files = {}
            for name in sorted(os.listdir(self.folder)):
                with open(os.path.join(self.folder, name), "rb") as f:
                    self.files[name] = f.read()
            self.registry = self.result.registry_values(HOSTILE_KEY)
        finally:
            for server in self.servers:
                server.stop()
            self.close_sandbox()
        # What the scripted servers saw, for the failure messages.
        self.server_log = "\n".join(server.transcript() for server in self.servers
                                     if hasattr(server, "transcript"))
        return self


class PrivateDisplay:
    """An X server of the table's own. Each prefix draws a full-screen
    virtual desktop, and the table's would cover the windows of the tests
    running beside it, whose robot reads icons off the screen."""

    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix="xvfb-")
        number = os.path.join(self.folder, "display")
        with open(number, "w") as out:
            # The X server command of scripts/wine-env.
            self.xvfb = subprocess.Popen(
                shlex.split(os.environ["QUILLON_XVFB"]) + ["-displayfd", str(out.fileno())],
                pass_fds=(out.fileno(),), stderr=subprocess.DEVNULL)
        for _ in range(100):
            with open(number) as f:
                text = f.read().strip()
            if text:
                return ":" + text
            if self.xvfb.poll() is not None:
                break
            time.sleep(0.1)
        raise RuntimeError("Xvfb did not start")

    def __exit__(self, *exc):
        self.xvfb.terminate()
        self.xvfb.wait(10)
        shutil.rmtree(self.folder, ignore_errors=True)


class HostileServerTest(unittest.TestCase):
    def setUp(self):
        if not (BUILD and TEMPLATE):
            self.fail("E2E_BUILD and E2E_WINE_TEMPLATE must be set (scripts/test sets them)")

    def test_every_case_ends_cleanly(self):
        with PrivateDisplay() as display, \
                concurrent.futures.ThreadPoolExecutor(PARALLEL) as pool:
            cases = list(pool.map(lambda row: Case(display, *row).run(), CASES))
        for case in cases:
            with self.subTest(case.name):
                self.check(case)

    def check(self, case):
        run = case.result
        raw = run.raw + "\n" + case.server_log
        self.assertEqual((run.robot_code, run.exit_code), (0, 0), raw)
        old = {} if "new" in case.options else {"payload.txt": OLD}
        earlier = {"earlier.txt": hostile_payload("earlier.txt")}
        if "cancel" in case.options:
            question = run.boxes[-1]
            self.assertEqual(question["text"], "Are you sure you want to abort installation?\n")
            self.assertLess(run.exit_ms - question["ms"], CANCEL_WAIT_MS, raw)
            self.assertEqual(case.files, dict(earlier, **old))
            self.assertEqual(case.registry, {})
        elif case.expected is None:
            self.assertEqual(run.boxes[-1]["text"], "Hostile installed.", raw)
            self.assertEqual(case.files, dict(earlier, **{"payload.txt": BODY}))
            self.assertEqual(case.registry["Version"], "1.0")
        else:
            box = run.boxes[-1]
            self.assertEqual((box["text"], box["owner"]), (case.expected, "Hostile Setup"), raw)
            self.assertLess(run.exit_ms - box["ms"], END_WAIT_MS, raw)
            self.assertEqual(case.files, dict(earlier, **old))
            self.assertEqual(case.registry, {})


if __name__ == "__main__":
    unittest.main()
