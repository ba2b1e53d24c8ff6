"""Publishing end to end: a product folder packaged by mksetup as a
publisher would (payloads in subfolders, an empty file, a name with a
non-ASCII letter, a file of a few MB) installs under Wine; its web
installer installs from the mirror the packager laid out, served by nginx
or by vsftpd; an installer signed afterwards still installs."""
import os
import subprocess
import sys
import unittest

from e2e import ACCEPT_ALL, ARCH, KEY, MKSETUP, InstallerTest, description_name

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "net"))
import ftpfixture  # noqa: E402
import netfixture  # noqa: E402
from netfixture import CLOSED  # noqa: E402

FILES = {
    "bin/Finch.exe": bytes(range(256)) * (3 * 4096 + 7),  # a few MB
    "data/sub/empty.dat": b"",
    "V\u00f6gel.txt": "Gr\u00fc\u00dfe aus dem Garten.\r\n".encode("cp1252"),
}
TEMPLATE = """D2026-12-10
TFinch
V3.1
FFinch
L{name:licence.txt}:{size:licence.txt}
I{name:bin/Finch.exe}:{size:bin/Finch.exe}:Finch.exe:R
I{name:data/sub/empty.dat}:{size:data/sub/empty.dat}:empty.dat
I{name:V\u00f6gel.txt}:{size:V\u00f6gel.txt}:V\u00f6gel.txt
PFinch.lnk:Finch.exe
MFinch is installed.
"""


class PublishTest(InstallerTest):
    def setUp(self):
        super().setUp()
        self.servers = []
        self.product = os.path.join(self.work, "product")
        for name, data in list(FILES.items()) + [("licence.txt", b"Do you accept?\r\n")]:
            path = os.path.join(self.product, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        with open(os.path.join(self.product, "setup.in"), "w", encoding="utf-8") as f:
            f.write(TEMPLATE)

    def tearDown(self):
        for server in getattr(self, "servers", []):
            server.stop()
        super().tearDown()

    def mksetup(self, *args) -> subprocess.CompletedProcess:
        return subprocess.run([MKSETUP, *args], capture_output=True, text=True, timeout=120)

    def package(self, name: str, *options: str) -> str:
        exe = os.path.join(self.work, name)
        proc = self.mksetup("build", os.path.join(self.product, "setup.in"), "-o", exe,
                            "--arch", ARCH, *options)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return exe

    def assertInstalled(self, run, exe):
        self.assertCleanRun(run)
        self.assertEqual(run.boxes[-1]["text"], "Finch is installed.")
        folder = run.drive_c("Program Files", "Finch")
        self.assertEqual(sorted(os.listdir(folder)), ["Finch.exe", "V\u00f6gel.txt", "empty.dat"])
        for name, data in FILES.items():
            with open(os.path.join(folder, os.path.basename(name)), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertEqual(run.registry_values(KEY + "Finch"),
                         {"Version": "3.1", "Dir": "C:\\Program Files\\Finch",
                          "Description": description_name(exe)})
        link = run.drive_c("users", os.environ.get("USER", "root"), "AppData", "Roaming",
                           "Microsoft", "Windows", "Start Menu", "Programs", "Finch.lnk")
        self.assertTrue(os.path.exists(link), link)

    def test_full_installer(self):
        exe = self.package("setup.exe")
        self.assertInstalled(self.run_installer(exe, ACCEPT_ALL), exe)

    def test_web_installer_from_its_mirror(self):
        for source in ["nginx", "vsftpd"]:
            with self.subTest(source=source):
                self.restart()
                mirror = os.path.join(self.work, "mirror")
                web = self.package("websetup.exe", "--carry", "none", "--mirror", mirror)
                files = {}
                for name in os.listdir(mirror):
                    with open(os.path.join(mirror, name), "rb") as f:
                        files[name] = f.read()
                if source == "nginx":
                    root = os.path.join(self.work, "www")
                    os.makedirs(os.path.join(root, "dat"))
                    for name, data in files.items():
                        with open(os.path.join(root, "dat", name), "wb") as f:
                            f.write(data)
                    server = netfixture.start_nginx(self.work, root)
                    http, ftp = f"127.0.0.1:{server.port}", CLOSED
                else:
                    root = ftpfixture.make_anon_root(self.work, files)
                    server = ftpfixture.start_vsftpd(self.work, root)
                    http, ftp = CLOSED, f"127.0.0.1:{server.port}"
                self.servers.append(server)
                exe = os.path.join(self.work, "pointed.exe")
                proc = self.mksetup("set-urls", web, "--http", f"http://{http}/dat/",
                                    "--ftp", f"ftp://{ftp}/dat/", "-o", exe)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertInstalled(self.run_installer(exe, ACCEPT_ALL), exe)

    def test_signed_installer(self):
        exe = self.package("setup.exe")
        key, cert = os.path.join(self.work, "key.pem"), os.path.join(self.work, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Finch Publisher", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        signed = os.path.join(self.work, "signed.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", exe,
                        "-out", signed], check=True, capture_output=True)
        self.assertInstalled(self.run_installer(signed, ACCEPT_ALL), signed)

        moved = os.path.join(self.work, "moved.exe")
        proc = self.mksetup("set-urls", signed, "--http", "http://127.0.0.1:8/dat/", "-o", moved)
        self.assertNotEqual(proc.returncode, 0)
        self.assertIn("Authenticode signature", proc.stderr)
        self.assertIn("--strip-signature", proc.stderr)
        self.assertFalse(os.path.exists(moved))
        proc = self.mksetup("set-urls", signed, "--http", "http://127.0.0.1:8/dat/", "-o", moved,
                            "--strip-signature")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertIn("HTTP base URL: http://127.0.0.1:8/dat/", self.mksetup("list", moved).stdout)


if __name__ == "__main__":
    unittest.main()
