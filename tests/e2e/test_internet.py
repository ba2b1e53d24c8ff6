"""The Internet setup end to end: a web installer that carries only its
description and licence installs the sample payloads from a real web
server, falls back to a real FTP server, and refuses wrong bytes."""
import os
import shutil
import subprocess
import sys
import unittest

from e2e import BUILD, MKSETUP, SAMPLE, InstallerTest, installer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "net"))
import ftpfixture  # noqa: E402
import netfixture  # noqa: E402

ACCEPT_ALL = "press OK\npress Yes\nleave\npress OK"
FILES = ["License.txt", "Kestrin.exe", "Kestrin.map", "Kestrin.hlp", "Kestrin.cnt", "Meadow.kpk"]
MIRROR = os.path.join(BUILD, "mirror")
CLOSED = "127.0.0.1:1"  # nothing listens on port 1


def mirror_files() -> dict:
    files = {}
    for name in os.listdir(MIRROR):
        with open(os.path.join(MIRROR, name), "rb") as f:
            files[name] = f.read()
    return files


def payload(name: str) -> bytes:
    with open(os.path.join(SAMPLE, "payloads", name), "rb") as f:
        return f.read()


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
        subprocess.run([MKSETUP, "set-urls", exe, "--http", f"http://{http}/dat/",
                        "--ftp", f"ftp://{ftp}/dat/"], check=True, capture_output=True)
        return exe

    def assertInstalled(self, run):
        self.assertCleanRun(run)
        self.assertEqual(run.boxes[-1]["caption"], "Kestrin Setup")
        self.assertTrue(run.boxes[-1]["text"].startswith("Kestrin installation successful!"))
        for name in FILES:
            with open(run.drive_c("Program Files", "Kestrin", name), "rb") as f:
                self.assertEqual(f.read(), payload(name), name)

    def test_installs_from_the_web_server(self):
        run = self.run_installer(self.web_installer(self.nginx(mirror_files()), CLOSED), ACCEPT_ALL)
        self.assertInstalled(run)

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
                    self.assertEqual(log.count("<- RETR "), len(FILES), log)

    def test_wrong_bytes_on_the_server_leave_no_file(self):
        files = mirror_files()
        license_name = [n for n, d in files.items() if d == payload("License.txt")][0]
        files[license_name] = b"Not the licence at all.\r\n"
        run = self.run_installer(self.web_installer(self.nginx(files), CLOSED),
                                 "press OK\npress Yes\nleave\npress OK")
        self.assertCleanRun(run)
        self.assertEqual(run.boxes[-1]["text"], "Error reading file to be installed: "
                                                "downloaded file does not match its message digest!")
        self.assertEqual(os.listdir(run.drive_c("Program Files", "Kestrin")), [])

    def test_both_servers_down(self):
        run = self.run_installer(self.web_installer(CLOSED, CLOSED),
                                 "press OK\npress Yes\nleave\npress OK")
        self.assertCleanRun(run)
        text = run.boxes[-1]["text"]
        self.assertTrue(text.startswith("Can't find data for file 'License.txt': "), text)
        # The FTP source's text with the socket layer's text merged in.
        self.assertIn(": Connection refused.", text)
        self.assertEqual(os.listdir(run.drive_c("Program Files", "Kestrin")), [])


if __name__ == "__main__":
    unittest.main()
