"""The updater end to end: a product released with `mksetup release` onto
a real nginx mirror, installed by its installer, then brought to a newer
release by the update.exe installed beside it. nginx's access log shows
what each run fetched; the product folder and the registry record show
what it changed."""
import os
import shutil
import subprocess
import tempfile
import unittest

from e2e import ACCEPT_ALL, ARCH, BUILD, FOLDER_FIELD, KEY, MKSETUP, InstallerTest

# e2e puts tests/net on the path.
import netfixture  # noqa: E402
from netfixture import CLOSED  # noqa: E402

FOLDER = "C:\\Program Files\\Kestrin"
UPDATER = FOLDER + "\\update.exe"
RECORD = KEY + "Kestrin"
CAPTION = "Kestrin Update"

# The question, the status window (left open), the closing message.
UPDATE = "press Yes\nleave\npress OK"

LICENCE = b"Kestrin may be used by anyone.\r\n"

# Release 1.0: five files. 1.1 changes one and adds one.
FILES_10 = {
    "Kestrin.exe": b"MZ the program " * 300,
    "a.dat": b"first data file\n" * 40,
    "b.dat": b"second data file, version 1.0\n" * 50,
    "c.dat": b"third\n",
    "readme.txt": b"Read me.\r\n",
}
FILES_11 = dict(FILES_10, **{"b.dat": b"second data file, version 1.1\n" * 60,
                             "d.dat": b"a file new in 1.1\n" * 7})


def template(version: str, files: dict, product: str) -> str:
    lines = [f"T{product}", f"V{version}", "FKestrin", "L{name:licence.txt}:{size:licence.txt}"]
    lines += [f"I{{name:{n}}}:{{size:{n}}}:{n}" for n in files]
    lines += ["PKestrin.lnk:Kestrin.exe", "MKestrin is installed."]
    return "\n".join(lines) + "\n"


class Keys:
    """The publisher's signing key and a stranger's, made once for the
    module: making a DSA key takes a while."""
    folder = None

    @classmethod
    def path(cls, name: str) -> str:
        if cls.folder is None:
            cls.folder = tempfile.mkdtemp(prefix="e2e-keys-")
            for key in ["publisher", "stranger"]:
                subprocess.run([MKSETUP, "keygen", os.path.join(cls.folder, key + ".key")],
                               check=True, capture_output=True)
        return os.path.join(cls.folder, name + ".key")


def tearDownModule():
    if Keys.folder:
        shutil.rmtree(Keys.folder, ignore_errors=True)


class UpdateTest(InstallerTest):
    def setUp(self):
        super().setUp()
        self.root = os.path.join(self.work, "www")
        self.mirror = os.path.join(self.root, "dat")
        os.makedirs(self.mirror)
        self.log = os.path.join(self.work, "access.log")
        self.serve()

    def serve(self, slow_after=None):
        """(Re)starts the mirror's nginx; releases made afterwards name it."""
        if getattr(self, "server", None):
            self.server.stop()
        self.server = netfixture.start_nginx(self.work, self.root, access_log=self.log,
                                             slow_after=slow_after)
        self.http = f"http://127.0.0.1:{self.server.port}/dat/"

    def tearDown(self):
        self.server.stop()
        super().tearDown()

    def release(self, version: str, files: dict, licence=LICENCE, product="Kestrin") -> str:
        """Releases the files as version onto the mirror; returns the
        installer."""
        payloads = os.path.join(self.work, "release-" + version)
        os.makedirs(payloads)
        for name, data in dict(files, **{"licence.txt": licence}).items():
            with open(os.path.join(payloads, name), "wb") as f:
                f.write(data)
        with open(os.path.join(payloads, "setup.in"), "w") as f:
            f.write(template(version, files, product))
        exe = os.path.join(self.work, f"setup-{version}.exe")
        proc = subprocess.run(
            [MKSETUP, "release", os.path.join(payloads, "setup.in"), "--key",
             Keys.path("publisher"), "--mirror", self.mirror, "-o", exe, "--carry", "none",
             "--http", self.http, "--ftp", f"ftp://{CLOSED}/dat/", "--arch", ARCH, "--quiet"],
            capture_output=True, text=True, timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return exe

    def listing(self, exe: str) -> dict:
        """File name -> digest name of what the installer names; its
        description as "description", its licence as "licence"."""
        out = subprocess.run([MKSETUP, "list", exe], check=True, capture_output=True,
                             text=True).stdout
        table = {}
        for line in out.splitlines():
            fields = line.split(" ", 4)
            if fields[0] in ("description", "licence"):
                table[fields[0]] = fields[1]
            elif fields[0] == "file":
                table[fields[4]] = fields[1]
        return table

    def install(self, exe: str):
        self.assertCleanRun(self.run_installer(exe, ACCEPT_ALL))

    def update(self, script: str, args=(), updater=UPDATER):
        """Runs the installed updater; the requests it made are
        self.requests ("GET /dat/NAME STATUS")."""
        open(self.log, "w").close()
        run = self.run_installer(updater, script, args)
        with open(self.log) as f:
            self.requests = f.read().splitlines()
        return run

    def folder(self, run, top=None) -> dict:
        """Every file of the product folder (or of top) and its bytes."""
        top = top or run.drive_c("Program Files", "Kestrin")
        files = {}
        for name in os.listdir(top):
            with open(os.path.join(top, name), "rb") as f:
                files[name] = f.read()
        return files

    def expected_folder(self, exe: str, files: dict) -> dict:
        """What a release's installer puts into the folder: its files, the
        licence's own copy aside, and its update.exe from the mirror."""
        with open(os.path.join(self.mirror, self.listing(exe)["update.exe"]), "rb") as f:
            return dict(files, **{"update.exe": f.read()})

    def assertRecord(self, run, version: str, exe: str):
        self.assertEqual(run.registry_values(RECORD),
                         {"Version": version, "Dir": FOLDER,
                          "Description": self.listing(exe)["description"]})

    def test_update_fetches_only_what_changed(self):
        setup10 = self.release("1.0", FILES_10)
        self.install(setup10)
        with open(os.path.join(self.mirror, "LATEST"), "rb") as f:
            latest10 = f.read()
        setup11 = self.release("1.1", FILES_11)

        run = self.update(UPDATE)
        self.assertCleanRun(run)
        question, status, done = run.boxes
        self.assertBox(question, CAPTION, "Update Kestrin 1.0 to 1.1?", "question")
        self.assertEqual((status["caption"], status["buttons"]), (CAPTION, ["Cancel"]))
        self.assertBox(done, CAPTION, "Kestrin has been updated to 1.1.", "information",
                       owner=CAPTION)
        names = self.listing(setup11)
        self.assertEqual(self.requests, [f"GET /dat/{name} 200" for name in
                                         ["LATEST", names["description"], names["b.dat"],
                                          names["d.dat"]]])
        self.assertEqual(self.folder(run), self.expected_folder(setup11, FILES_11))
        self.assertRecord(run, "1.1", setup11)

        # Up to date, with a box and without one.
        run = self.update("press OK")
        self.assertCleanRun(run)
        self.assertBox(run.boxes[0], CAPTION, "Kestrin 1.1 is up to date.", "information")
        run = self.update("", ["/quiet"])
        self.assertEqual((run.robot_code, run.exit_code, run.boxes), (0, 0, []), run.raw)

        # A replayed LATEST of 1.0 verifies but would go back.
        with open(os.path.join(self.mirror, "LATEST"), "wb") as f:
            f.write(latest10)
        run = self.update("press OK")
        self.assertEqual(run.exit_code, 2, run.raw)
        self.assertEqual(run.boxes[0]["text"], "Unable to update: the latest release, 1.0, "
                                               "is older than the installed 1.1")
        self.assertEqual(self.folder(run), self.expected_folder(setup11, FILES_11))
        self.assertRecord(run, "1.1", setup11)

    def test_new_licence_and_new_updater(self):
        self.install(self.release("1.0", FILES_10))
        # Another licence gives another update.exe (it carries the licences
        # it was released with): the running one is replaced too.
        new_licence = b"Kestrin may be used by anyone who feeds the birds.\r\n"
        setup12 = self.release("1.2", FILES_10, licence=new_licence)
        run = self.update("press Yes\npress Yes\nleave\npress OK")
        self.assertCleanRun(run)
        self.assertEqual([b["text"] for b in run.boxes],
                         ["Update Kestrin 1.0 to 1.2?", new_licence.decode(),
                          run.boxes[2]["text"], "Kestrin has been updated to 1.2."])
        names = self.listing(setup12)
        self.assertEqual(self.requests[-2:], [f"GET /dat/{names['licence']} 200",
                                              f"GET /dat/{names['update.exe']} 200"])
        left = self.folder(run)
        self.assertIn("update.exe.~old", left)
        del left["update.exe.~old"]
        self.assertEqual(left, self.expected_folder(setup12, FILES_10))
        self.assertRecord(run, "1.2", setup12)

        # The new updater runs, finds the product current, and removes the
        # old one.
        run = self.update("press OK")
        self.assertCleanRun(run)
        self.assertEqual(run.boxes[0]["text"], "Kestrin 1.2 is up to date.")
        self.assertEqual(self.folder(run), self.expected_folder(setup12, FILES_10))

    def test_run_killed_during_the_swap_is_finished(self):
        setup10 = self.release("1.0", FILES_10)
        self.install(setup10)
        setup11 = self.release("1.1", FILES_11)
        # As a run killed in the middle of its moves leaves the folder:
        # b.dat moved in, d.dat verified and waiting under its temporary
        # name, the record still naming 1.0.
        top = os.path.join(self.prefix, "drive_c", "Program Files", "Kestrin")
        for name, path in [("b.dat", "b.dat"), ("d.dat", "d.dat.~update")]:
            with open(os.path.join(top, path), "wb") as f:
                f.write(FILES_11[name])
        run = self.update(UPDATE)
        self.assertCleanRun(run)
        self.assertEqual(run.boxes[0]["text"], "Update Kestrin 1.0 to 1.1?")
        names = self.listing(setup11)
        self.assertEqual(self.requests, ["GET /dat/LATEST 200",
                                         f"GET /dat/{names['description']} 200"])
        self.assertEqual(self.folder(run), self.expected_folder(setup11, FILES_11))
        self.assertRecord(run, "1.1", setup11)

    def test_cancel_during_a_download(self):
        # Responses slow down after 128 KB; the file new in 1.1 is far
        # larger, and the Cancel lands while it comes in.
        self.serve(slow_after="128k")
        setup10 = self.release("1.0", FILES_10)
        self.install(setup10)
        installed = self.folder(self.update("", ["/quiet"]))
        self.release("1.1", dict(FILES_10, **{"big.dat": bytes(range(256)) * 4096}))
        run = self.update("press Yes\nawait Installing big.dat\nleave\nclick Cancel\npress Yes")
        self.assertEqual((run.robot_code, run.exit_code, run.unused_steps), (0, 2, 0), run.raw)
        self.assertEqual(run.boxes[-1]["text"], "Are you sure you want to abort installation?\n")
        self.assertEqual(self.folder(run), installed)
        self.assertRecord(run, "1.0", setup10)

    def test_full_disk(self):
        # Drive D: is a tmpfs that holds 1.0 but not the large file that
        # 1.1 adds.
        disk = os.path.join(self.work, "disk")
        os.makedirs(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk],
                                 capture_output=True, text=True)
        self.assertEqual(mounted.returncode, 0, "a full disk needs a tmpfs: " + mounted.stderr)
        try:
            os.symlink(disk, os.path.join(self.prefix, "dosdevices", "d:"))
            setup10 = self.release("1.0", FILES_10)
            self.assertCleanRun(self.run_installer(
                setup10, f"type {FOLDER_FIELD} D:\\Kestrin\n" + ACCEPT_ALL))
            top = os.path.join(disk, "Kestrin")
            installed = self.folder(None, top)
            self.release("1.1", dict(FILES_11, **{"big.dat": bytes(range(256)) * 2048}))
            run = self.update(UPDATE, updater="D:\\Kestrin\\update.exe")
            left = self.folder(None, top)
        finally:
            subprocess.run(["umount", disk], check=True)
        self.assertEqual((run.robot_code, run.exit_code, run.unused_steps), (0, 2, 0), run.raw)
        self.assertEqual(run.boxes[-1]["text"],
                         "Error writing output file: There is not enough space on the disk.")
        self.assertEqual(left, installed)
        self.assertEqual(run.registry_values(RECORD)["Version"], "1.0")

    def test_refusals_change_nothing(self):
        """Each case starts from 1.0 installed and 1.1 on the mirror, breaks
        something, and must leave 1.0 as it was, with no temporary file."""
        setup10 = self.release("1.0", FILES_10)
        self.install(setup10)
        setup11 = self.release("1.1", FILES_11)
        names = self.listing(setup11)
        installed = self.folder(self.update("", ["/quiet"]))
        snapshot = os.path.join(self.work, "snapshot")
        shutil.copytree(self.prefix, os.path.join(snapshot, "prefix"), symlinks=True)
        shutil.copytree(self.mirror, os.path.join(snapshot, "dat"))

        def flip_bit(mirror):
            with open(os.path.join(mirror, "LATEST"), "r+b") as f:
                first = f.read(1)[0]
                f.seek(0)
                f.write(bytes([first ^ 1]))

        def cut_latest(mirror):
            with open(os.path.join(mirror, "LATEST"), "r+b") as f:
                f.truncate(59)

        def stranger_latest(_):
            subprocess.run([MKSETUP, "sign-latest", Keys.path("stranger"), names["description"],
                            "-o", os.path.join(self.mirror, "LATEST")], check=True)

        def wrong_bytes(_):
            with open(os.path.join(self.mirror, names["b.dat"]), "r+b") as f:
                f.seek(100)
                f.write(b"?")

        def another_product(_):
            self.release("2.0", FILES_10, product="Finch")

        def forget_installation(_):
            self.wine_env_run(["wine", "reg", "delete", "HKCU\\" + RECORD, "/f"], timeout=120)
            self.wine_env_run(["wineserver", "-w"], timeout=60)

        check = "Unable to check for updates: "
        # (case, change to the mirror, script, arguments, exit code, start of the last box)
        cases = [
            ("not installed", forget_installation, "press OK", [], 2,
             "Unable to update: the product is not installed"),
            ("another product", another_product, "press OK", [], 2,
             "Unable to update: the latest release is of Finch"),
            ("update available, quiet", None, "", ["/quiet"], 1, None),
            ("tampered LATEST", flip_bit, "press OK", [], 2,
             check + "signature does not match public key"),
            ("LATEST of another key", stranger_latest, "press OK", [], 2,
             check + "signature does not match public key"),
            ("LATEST of the wrong size", cut_latest, "press OK", [], 2,
             check + "signature file is the wrong size"),
            ("changed file with wrong bytes", wrong_bytes, "press Yes\nleave\npress OK", [], 2,
             "Error reading file to be installed: downloaded file does not match its message "
             "digest!"),
            ("declined", None, "press No", [], 1, "Update Kestrin 1.0 to 1.1?"),
            # Last: the updater names this server's port, which a new one
            # would not have.
            ("mirror down, quiet", "stop", "", ["/quiet"], 2, None),
            ("mirror down", "stop", "press OK", [], 2, check),
        ]
        for case, change, script, args, code, message in cases:
            with self.subTest(case=case):
                self.restore(snapshot)
                if change == "stop":
                    self.server.stop()
                elif change:
                    change(self.mirror)
                run = self.update(script, args)
                self.assertEqual((run.robot_code, run.exit_code, run.unused_steps), (0, code, 0),
                                 run.raw)
                if message is None:
                    self.assertEqual(run.boxes, [])
                else:
                    self.assertTrue(run.boxes[-1]["text"].startswith(message), run.boxes[-1])
                    self.assertEqual(run.boxes[-1]["caption"], CAPTION)
                self.assertEqual(self.folder(run), installed)
                if change is forget_installation:
                    self.assertEqual(run.registry_values(RECORD), {})
                else:
                    self.assertRecord(run, "1.0", setup10)

    def test_product_in_use(self):
        """The product running with a file open that the update replaces."""
        setup10 = self.release("1.0", FILES_10)
        self.install(setup10)
        self.release("1.1", FILES_11)
        installed = self.folder(self.update("", ["/quiet"]))
        holder = subprocess.Popen(
            ["wine", os.path.join(BUILD, "tests", "e2e", "holdfile.exe"),
             FOLDER + "\\b.dat"],
            env=self.wine_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(holder.stdout.readline().strip(), "held")
            open(self.log, "w").close()
            run = self.run_installer(UPDATER, "press Yes\nleave\npress OK",
                                     before_wait=holder.stdin.close)
        finally:
            holder.stdin.close()
            holder.wait(60)
            holder.stdout.close()
        self.assertEqual(run.exit_code, 2, run.raw)
        self.assertEqual(run.boxes[-1]["text"],
                         "Please close Kestrin, then run the update again: 'b.dat' is in use")
        self.assertEqual(self.folder(run), installed)
        self.assertRecord(run, "1.0", setup10)

    def restore(self, snapshot: str):
        """The prefix and the mirror as the snapshot holds them."""
        self.wine_env_run(["wineserver", "-k"])
        shutil.rmtree(self.prefix)
        shutil.copytree(os.path.join(snapshot, "prefix"), self.prefix, symlinks=True)
        shutil.rmtree(self.mirror)
        shutil.copytree(os.path.join(snapshot, "dat"), self.mirror)


if __name__ == "__main__":
    unittest.main()
