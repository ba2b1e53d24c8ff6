"""The Internet setup end to end: a web installer that carries only its
description and licence installs the sample payloads from a real web
server, falls back to a real FTP server, and refuses wrong bytes."""
import os
import shutil
import unittest

from e2e import (ACCEPT_ALL, BUILD, SAMPLE, SAMPLE_FILES, SAMPLE_MESSAGE, InstallerTest, installer,
                 payload, set_urls)

# e2e puts tests/net on the path.
import ftpfixture  # noqa: E402
import netfixture  # noqa: E402
from netfixture import CLOSED  # noqa: E402
from http_script_server import scripted_http_server  # noqa: E402
from loopback import Data, FtpServer  # noqa: E402

MIRROR = os.path.join(BUILD, "mirror")


def mirror_files() -> dict:
    files = {}
    for name in os.listdir(MIRROR):
        with open(os.path.join(MIRROR, name), "rb") as f:
            files[name] = f.read()
    return files


class InternetTest(InstallerTest):
    def setUp(self):
        super().setUp()
        self.servers = []

    def tearDown(self):
        for server in getattr(self, "servers", []):
            server.stop()
        super().tearDown()

    def web_root(self, files: dict) -> str:
        root = os.path.join(self.work, "www")
        os.makedirs(os.path.join(root, "dat"), exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(root, "dat", name), "wb") as f:
                f.write(data)
        return root

    def nginx(self, files: dict) -> str:
        server = netfixture.start_nginx(self.work, self.web_root(files))
        self.servers.append(server)
        return f"127.0.0.1:{server.port}"

    def ftp(self, start) -> str:
        root = ftpfixture.make_anon_root(self.work, mirror_files())
        server = start(self.work, root)
        self.servers.append(server)
        return f"127.0.0.1:{server.port}"

    def web_installer(self, http: str, ftp: str) -> str:
        """A copy of the web installer pointed at these servers."""
        exe = os.path.join(self.work, "websetup.exe")
        shutil.copy(installer("kestrin_websetup", SAMPLE), exe)
        set_urls(exe, http, ftp)
        return exe

    def assertInstalled(self, run):
        self.assertCleanRun(run)
        self.assertEqual((run.boxes[-1]["caption"], run.boxes[-1]["text"]),
                         ("Kestrin Setup", SAMPLE_MESSAGE))
        for name in SAMPLE_FILES:
            with open(run.drive_c("Program Files", "Kestrin", name), "rb") as f:
                self.assertEqual(f.read(), payload(name), name)

    def test_installs_from_the_web_server(self):
        run = self.run_installer(self.web_installer(self.nginx(mirror_files()), CLOSED), ACCEPT_ALL)
        self.assertInstalled(run)

    def assertFtpDialogue(self, commands):
        """The anonymous login, binary type, then one PORT and RETR a file."""
        expected = ["USER anonymous", r"PASS \S+@\S+", "TYPE I"] + \
            [r"PORT 127,0,0,1,\d+,\d+", r"RETR /dat/[0-9a-v]{32}"] * len(SAMPLE_FILES)
        self.assertEqual(len(commands), len(expected), commands)
        for pattern, command in zip(expected, commands):
            self.assertRegex(command, "^" + pattern + "$")

    def test_installs_from_a_name_based_virtual_host(self):
        # One nginx port, two sites: the default one serves an empty folder,
        # the one named "localhost" the mirror.
        empty = os.path.join(self.work, "empty")
        os.makedirs(empty)
        server = netfixture.start_nginx(self.work, empty,
                                        {"localhost": self.web_root(mirror_files())})
        self.servers.append(server)
        run = self.run_installer(self.web_installer(f"localhost:{server.port}", CLOSED),
                                 ACCEPT_ALL)
        self.assertInstalled(run)

    def test_long_header_lines_install_over_http(self):
        cases = {
            "a header line of 4 KB": [b"Content-Security-Policy: " + b"p" * 4096],
            "64 header lines of 1 KB": [b"X-Line-%02d: " % i + b"k" * 1013 for i in range(64)],
        }
        for name, headers in cases.items():
            with self.subTest(name):
                self.restart()
                web = scripted_http_server(mirror_files(), headers)
                ftp = FtpServer(mirror_files())
                self.servers += [web, ftp]
                run = self.run_installer(
                    self.web_installer(f"127.0.0.1:{web.port}", f"127.0.0.1:{ftp.port}"),
                    ACCEPT_ALL)
                self.assertInstalled(run)
                # Each file once, and the FTP server never asked.
                self.assertEqual(len(web.requests), len(SAMPLE_FILES), web.requests)
                self.assertEqual(len(set(web.requests)), len(SAMPLE_FILES), web.requests)
                self.assertEqual(ftp.connections, 0)

    def test_long_ftp_reply_lines(self):
        long = b"x" * 1000
        opening = b"150 " + long + b"\r\n"
        cases = {
            "a 1000-character line inside the greeting":
                dict(replies={"greeting": [b"220-Welcome\r\n220-" + long + b"\r\n220 ready\r\n"]}),
            "a 1000-character 150":
                dict(transfer=lambda data: [opening, Data(data), FtpServer.DONE]),
            "the 226 in the same piece as a long 150":
                dict(transfer=lambda data: [opening + FtpServer.DONE, Data(data)]),
        }
        for name, options in cases.items():
            with self.subTest(name):
                self.restart()
                ftp = FtpServer(mirror_files(), **options)
                self.servers.append(ftp)
                run = self.run_installer(self.web_installer(CLOSED, f"127.0.0.1:{ftp.port}"),
                                         ACCEPT_ALL)
                self.assertInstalled(run)
                self.assertFtpDialogue(ftp.commands)

    def test_falls_back_to_ftp_over_one_login(self):
        # (web server, FTP server): nginx answering 404 for everything, or
        # no web server at all; vsftpd, or pyftpdlib, which logs each login.
        for web, ftp in [("404", "vsftpd"), ("down", "pyftpdlib")]:
            with self.subTest(web=web, ftp=ftp):
                self.restart()
                http = self.nginx({}) if web == "404" else CLOSED
                start = ftpfixture.start_vsftpd if ftp == "vsftpd" else ftpfixture.start_pyftpdlib
                run = self.run_installer(self.web_installer(http, self.ftp(start)), ACCEPT_ALL)
                self.assertInstalled(run)
                if ftp == "pyftpdlib":
                    with open(os.path.join(self.work, "pyftpd.log")) as f:
                        log = f.read()
                    self.assertEqual(log.count("USER 'anonymous' logged in"), 1, log)
                    self.assertEqual(log.count("<- RETR "), len(SAMPLE_FILES), log)

    def test_wrong_bytes_on_the_server_leave_no_file(self):
        files = mirror_files()
        license_name = [n for n, d in files.items() if d == payload("License.txt")][0]
        files[license_name] = b"Not the licence at all.\r\n"
        run = self.run_installer(self.web_installer(self.nginx(files), CLOSED), ACCEPT_ALL)
        self.assertCleanRun(run)
        self.assertEqual(run.boxes[-1]["text"], "Error reading file to be installed: "
                                                "downloaded file does not match its message digest!")
        self.assertEqual(os.listdir(run.drive_c("Program Files", "Kestrin")), [])

    def test_both_servers_down(self):
        run = self.run_installer(self.web_installer(CLOSED, CLOSED), ACCEPT_ALL)
        self.assertCleanRun(run)
        text = run.boxes[-1]["text"]
        self.assertTrue(text.startswith("Can't find data for file 'License.txt': "), text)
        # The FTP source's text with the socket layer's text merged in.
        self.assertIn(": Connection refused.", text)
        self.assertEqual(os.listdir(run.drive_c("Program Files", "Kestrin")), [])


if __name__ == "__main__":
    unittest.main()
