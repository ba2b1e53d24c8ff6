"""The packager, run as a publisher runs it: what it refuses (a message
naming the file or line, a non-zero exit and no output at all), that its
output is the same on every run and from both of its builds, and set-urls
and list on what it made."""
import hashlib
import os
import pty
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

MKSETUP = os.environ.get("MKSETUP", "")
MKSETUP_EXE = os.environ.get("MKSETUP_EXE", "")

GOOD = "TBirds\nV1.0\nFBirds\nL{name:licence.txt}:{size:licence.txt}\n" \
       "I{name:data/birds.db}:{size:data/birds.db}:birds.db:R\nMDone.\n"


def pe_checksum(data: bytes) -> tuple:
    """(computed, stored) PE checksum of an executable's bytes."""
    field = struct.unpack_from("<I", data, 60)[0] + 24 + 64
    words = bytearray(data)
    words[field:field + 4] = bytes(4)
    if len(words) % 2:
        words += b"\0"
    total = sum(struct.unpack("<%dH" % (len(words) // 2), words))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data), struct.unpack_from("<I", data, field)[0]


def read(path: str) -> bytes:
    with open(path, "rb") as f:
        return f.read()


class Product:
    """A product folder: a template and its files."""

    def __init__(self, root: str, template: str = GOOD, files=None, raw_template: bytes = None):
        self.root = root
        os.makedirs(root, exist_ok=True)
        files = {"licence.txt": b"Accept?\r\n", "data/birds.db": b"wings" * 1000} \
            if files is None else files
        for name, data in files.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        self.template = os.path.join(root, "setup.in")
        with open(self.template, "wb") as f:
            f.write(raw_template if raw_template is not None else template.encode())


class PackagerTest(unittest.TestCase):
    def setUp(self):
        if not MKSETUP:
            self.fail("MKSETUP must name the packager")
        self.work = tempfile.mkdtemp(prefix="mksetup-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def mksetup(self, *args, program=None):
        command = [program or MKSETUP, *args]
        if program and program.endswith(".exe"):
            command = ["wine", *command]
        return subprocess.run(command, capture_output=True, cwd=self.work, timeout=300)

    def build(self, product, *args, out="setup.exe"):
        return self.mksetup("build", product.template, "-o", os.path.join(self.work, out), *args)

    def assertRefused(self, proc, *fragments):
        err = proc.stderr.decode("utf-8", "replace")
        self.assertNotEqual(proc.returncode, 0, err)
        lines = err.strip().splitlines()
        self.assertEqual(len(lines), 1, err)
        self.assertTrue(lines[0].startswith("mksetup: "), err)
        for fragment in fragments:
            self.assertIn(fragment, lines[0])
        self.assertNotIn("Traceback", err)

    def outputs(self):
        """Every file the runs left in the work folder, product folders aside."""
        found = []
        for folder, _, names in os.walk(self.work):
            if "product" not in os.path.relpath(folder, self.work).split(os.sep)[0]:
                found += [os.path.join(folder, name) for name in names]
        return found


class RefusalTest(PackagerTest):
    # (case, template, files or None for the default ones, options, words of the message)
    CASES = [
        ("missing payload", GOOD.replace("data/birds.db", "data/nosuch.db"), None, [],
         ["setup.in:5:", "data/nosuch.db: no such file"]),
        ("missing licence", GOOD.replace("{name:licence.txt}", "{name:nolicence.txt}"), None, [],
         ["setup.in:4:", "nolicence.txt: no such file"]),
        ("placeholder naming a folder", GOOD.replace("{name:data/birds.db}", "{name:data}"),
         None, [], ["setup.in:5:", "is a folder"]),
        ("file name with ':'", GOOD + "I{name:a:b}:1:x\n", None, [],
         ["setup.in:7:", "contains ':'"]),
        ("target with a drive letter", GOOD.replace(":birds.db:R", r":C:\Birds\birds.db"), None,
         [], ["setup.in:5:", "'\\Birds\\birds.db'", "not the R flag"]),
        ("shortcut target with a drive letter", GOOD + "PBirds.lnk:C:\\Birds\\birds.db\n", None,
         [], ["setup.in:7:", "shortcut target", "contains ':'"]),
        ("folder name with a drive letter", GOOD.replace("FBirds", "FD:\\Birds"), None, [],
         ["setup.in:3:", "folder name", "contains ':'"]),
        # Names the installer cannot make in its folder.
        ("file name with '?'", GOOD.replace(":birds.db:R", ":bird?.db:R"), None, [],
         ["setup.in:5:", "file name 'bird?.db'", "Windows refuses"]),
        ("file name in a subfolder", GOOD.replace(":birds.db:R", ":data\\birds.db:R"), None, [],
         ["setup.in:5:", "names a subfolder"]),
        ("folder name in a subfolder", GOOD.replace("FBirds", "FVendor\\Birds"), None, [],
         ["setup.in:3:", "folder name", "names a subfolder"]),
        ("shortcut target with '*'", GOOD + "PBirds.lnk:b*.db\n", None, [],
         ["setup.in:7:", "shortcut target 'b*.db'", "Windows refuses"]),
        ("empty shortcut name", GOOD + "P:birds.db\n", None, [],
         ["setup.in:7:", "shortcut name", "is empty"]),
        ("empty product name", GOOD.replace("TBirds", "T"), None, [],
         ["setup.in:1:", "without a product name"]),
        ("file name of a device", GOOD.replace(":birds.db:R", ":Nul.txt:R"), None, [],
         ["setup.in:5:", "'Nul.txt' is a device name"]),
        ("shortcut target of a device", GOOD + "PBirds.lnk:com1\n", None, [],
         ["setup.in:7:", "'com1' is a device name"]),
        ("file name ending in a dot", GOOD.replace(":birds.db:R", ":birds.db.:R"), None, [],
         ["setup.in:5:", "ends in a dot or a blank"]),
        ("size that is not the file's", GOOD.replace("{size:data/birds.db}", "99"), None, [],
         ["setup.in:5:", "size of 99 bytes", "holds 5000"]),
        ("UTF-16 licence", GOOD, {"licence.txt": "Accept?".encode("utf-16"), "data/birds.db": b"x"},
         [], ["licence.txt: UTF-16 text"]),
        ("NUL byte in the template", GOOD + "Ma\x00b\n", None, [],
         ["setup.in: NUL byte at offset"]),
        ("payload folder that is none", GOOD, None, ["--payloads", "nothere"],
         ["--payloads nothere: no such folder"]),
        ("the installer's own file name", GOOD.replace(":birds.db:R", ":~Setup.part:R"), None, [],
         ["setup.in:5:", "installer's own"]),
        ("misspelt placeholder", GOOD.replace("{size:data/", "{sise:data/"), None, [],
         ["setup.in:5:", "unknown placeholder '{sise:'"]),
        ("unterminated placeholder", GOOD + "I{name:data/birds.db\n", None, [],
         ["setup.in:7:", "closing '}'"]),
        ("description over 4095 bytes", GOOD + "M" + "x" * 4100 + "\n", None, [],
         ["setup.in:", "of 4", "limit of 4095 bytes"]),
        ("licence over 4095 bytes", GOOD, {"licence.txt": b"a" * 4096, "data/birds.db": b"x"}, [],
         ["licence.txt:", "4096 bytes", "limit of 4095 bytes"]),
        ("licence over 64 KiB", GOOD, {"licence.txt": b"a" * 70000, "data/birds.db": b"x"}, [],
         ["licence.txt: licence of more than 65536 bytes", "limit of 4095 bytes"]),
        ("product name too long for the key", GOOD.replace("TBirds", "T" + "b" * 95), None, [],
         ["setup.in:1:", "registry key path", "95 bytes"]),
        ("folder name too long", GOOD.replace("FBirds", "F" + "f" * 243), None, [],
         ["setup.in:3:", "260-byte path"]),
        ("file name too long", GOOD.replace(":birds.db:R", ":" + "n" * 260 + ":R"), None, [],
         ["setup.in:5:", "260-byte path"]),
        ("shortcut name too long", GOOD + "P" + "l" * 259 + ":birds.db\n", None, [],
         ["setup.in:7:", "260-byte path"]),
        ("shortcut without target", GOOD + "PBirds.lnk\n", None, [], ["setup.in:7:", "':'"]),
        ("V line before any T line", "V1.0\n" + GOOD, None, [], ["setup.in:1:", "V line before"]),
        ("no T line", GOOD.replace("TBirds\nV1.0\n", ""), None, [], ["setup.in:", "no T line"]),
        ("T line without V line", GOOD.replace("V1.0\n", ""), None, [], ["setup.in:", "no V line"]),
        ("malformed I line", GOOD + "I{name:data/birds.db}x:birds.db\n", None, [],
         ["setup.in:7:", "I line"]),
        ("character outside code page 1252", GOOD + "M{size:licence.txt} \u03a9mega\n", None,
         [], ["setup.in:7:21:", "code page 1252 cannot represent '\u03a9' (U+03A9)"]),
        ("licence outside code page 1252", GOOD,
         {"licence.txt": "Accept?\n\u00fc\u2603\n".encode(), "data/birds.db": b"x"}, [],
         ["licence.txt:2:2:", "code page 1252 cannot represent '\u2603' (U+2603)"]),
        ("byte neither UTF-8 nor code page 1252", None, None, [],
         ["setup.in:", "0x81", "neither UTF-8 nor code page 1252"]),
        ("HTTP URL without its '/'", GOOD, None, ["--http", "http://host/dat"],
         ["--http http://host/dat", "end in '/'"]),
        ("FTP URL without path", GOOD, None, ["--ftp", "ftp://host"], ["--ftp", "not of the form"]),
        ("HTTP URL of another scheme", GOOD, None, ["--http", "ftp://host/dat/"],
         ["--http", "http://host[:port]/path/"]),
        ("URL with a bad port", GOOD, None, ["--http", "http://host:99999/dat/"], ["--http"]),
        ("URL over 249 characters", GOOD, None,
         ["--http", "http://host/" + "d" * 237 + "/"], ["--http", "250 characters", "249"]),
        ("carry of an unnamed file", GOOD, None, ["--carry", "data/other.db"],
         ["--carry data/other.db", "names no such file"]),
        ("unknown architecture", GOOD, None, ["--arch", "arm64"],
         ["--arch arm64", "unknown architecture"]),
        ("unknown code page", GOOD, None, ["--codepage", "437"], ["--codepage 437", "1250, 1251"]),
        ("double-byte code page", GOOD, None, ["--codepage=932"],
         ["--codepage 932", "double-byte", "'\\'"]),
        ("Greek in the Cyrillic code page", GOOD.replace("TBirds", "T\u041f\u0442\u0438\u0446\u044b \u03a9"),
         None, ["--codepage", "1251"], ["setup.in:1:8:", "code page 1251", "'\u03a9' (U+03A9)"]),
        # Names Windows reserves or no Windows file system takes.
        ("device name with a superscript digit", GOOD.replace(":birds.db:R", ":COM\u00b9.txt:R"),
         None, [], ["setup.in:5:", "'COM\u00b9.txt' is a device name"]),
        ("shortcut target of a device with a superscript", GOOD + "PBirds.lnk:lpt\u00b3.log\n",
         None, [], ["setup.in:7:", "'lpt\u00b3.log' is a device name"]),
        ("file name of 256 characters in 260 bytes",
         GOOD.replace(":birds.db:R", ":" + "\u00df" * 255 + ".txt:R"), None, [],
         ["setup.in:5:", "259 characters long", "at most 255"]),
        # Placeholders that say what is wrong with them.
        ("absolute placeholder path", GOOD + "M{size:/etc/hostname}\n", None, [],
         ["setup.in:7:2:", "'/etc/hostname' is absolute"]),
        ("placeholder closed by the next one",
         GOOD.replace("{name:licence.txt}", "{name:licence.txt"), None, [],
         ["setup.in:4:2:", "closing '}'"]),
        # What the installer would do other than the publisher meant.
        ("two targets differing in letter case",
         GOOD + "I{name:licence.txt}:{size:licence.txt}:BIRDS.db\n", None, [],
         ["setup.in:7:", "'BIRDS.db' is the one line 5 installs"]),
        ("empty V line", GOOD.replace("V1.0", "V"), None, [], ["setup.in:2:", "without a version"]),
        ("undefined define", GOOD.replace("V1.0", "V{define:VERSION}"), None, [],
         ["setup.in:2:2:", "{define:VERSION} is not defined", "--define VERSION=VALUE"]),
        ("ready digest name with other bytes", GOOD + "I" + "0" * 32 + ":5:x.bin\n",
         {"licence.txt": b"Accept?", "data/birds.db": b"x", "0" * 32: b"other"}, [],
         ["00000000000000000000000000000000", "do not match its digest name"]),
    ]

    def test_refusals(self):
        for case, template, files, options, words in self.CASES:
            with self.subTest(case):
                product = Product(os.path.join(self.work, "product-" + str(len(os.listdir(self.work)))),
                                  template or "", files,
                                  raw_template=None if template is not None else
                                  GOOD.encode() + b"M\x81\n")
                mirror = os.path.join(self.work, "mirror", "birds")
                self.assertRefused(self.build(product, "--mirror", mirror, *options), *words)
                self.assertEqual(self.outputs(), [], "a refused build left files")
                self.assertFalse(os.path.exists(os.path.dirname(mirror)),
                                 "a refused build left the mirror's folders")

    def test_output_paths(self):
        product = Product(os.path.join(self.work, "product"))
        file = os.path.join(product.root, "licence.txt")
        for out, mirror, words in [
                (os.path.join(self.work, "nosuch", "setup.exe"), [], ["nosuch/setup.exe: cannot create"]),
                (product.root, [], ["-o", "is a folder"]),
                (os.path.join(self.work, "setup.exe"), ["--mirror", file], ["--mirror", "not a folder"])]:
            with self.subTest(words[-1]):
                self.assertRefused(self.mksetup("build", product.template, "-o", out, *mirror),
                                   *words)
                self.assertEqual(self.outputs(), [])

    def test_output_that_is_an_input(self):
        # The installer must not replace the template or a payload it was
        # made from, under any spelling of its path.
        product = Product(os.path.join(self.work, "product"))
        for out, words in [(product.template, ["the template itself"]),
                           (os.path.join(product.root, "data", "..", "data", "birds.db"),
                            ["the input file", "birds.db"])]:
            with self.subTest(out):
                before = read(out)
                proc = self.mksetup("build", product.template, "-o", out)
                self.assertRefused(proc, *words)
                self.assertEqual(read(out), before)

    def test_payload_of_2_gib(self):
        product = Product(os.path.join(self.work, "product"))
        with open(os.path.join(product.root, "data", "birds.db"), "wb") as f:
            f.truncate(1 << 31)  # sparse: no 2 GiB written
        self.assertRefused(self.build(product), "setup.in:5:", "under 2147483648 bytes")
        self.assertFalse(os.path.exists(os.path.join(self.work, "setup.exe")))

    def test_interrupted_build(self):
        # Ctrl-C while the installer and mirror are being written leaves
        # neither a temporary file nor a mirror folder behind.
        product = Product(os.path.join(self.work, "product"))
        with open(os.path.join(product.root, "data", "birds.db"), "wb") as f:
            f.truncate(1 << 30)  # sparse: quick to make, long to package
        out = os.path.join(self.work, "setup.exe")
        mirror = os.path.join(self.work, "mirror")
        proc = subprocess.Popen([MKSETUP, "build", product.template, "-o", out,
                                 "--mirror", mirror], stderr=subprocess.PIPE)
        deadline = time.monotonic() + 60
        while not os.path.exists(out + ".part") and time.monotonic() < deadline:
            time.sleep(0.01)
        proc.send_signal(signal.SIGINT)
        err = proc.communicate(timeout=60)[1].decode()
        # Ended by the signal, as the calling shell needs to stop too.
        self.assertEqual(proc.returncode, -signal.SIGINT, err)
        self.assertIn("interrupted", err)
        self.assertEqual(self.outputs(), [])
        self.assertFalse(os.path.exists(mirror))

    def test_paths_the_system_will_not_look_at(self):
        # The system's reason, not "no such file": a loop of links, and a
        # folder that may not be entered (which root enters anyway).
        product = Product(os.path.join(self.work, "product"))
        payload = os.path.join(product.root, "data", "birds.db")
        os.remove(payload)
        os.symlink(payload, payload)
        self.assertRefused(self.build(product), "setup.in:5:", "Too many levels of symbolic links")
        os.remove(payload)
        with self.subTest("folder without permission"):
            if os.geteuid() == 0:
                self.skipTest("root enters every folder")
            with open(payload, "wb") as f:
                f.write(b"x")
            os.chmod(os.path.dirname(payload), 0)
            try:
                self.assertRefused(self.build(product), "setup.in:5:", "Permission denied")
            finally:
                os.chmod(os.path.dirname(payload), 0o755)
        self.assertEqual(self.outputs(), [])

    def test_output_that_cannot_be_written(self):
        product = Product(os.path.join(self.work, "product"))
        self.assertEqual(self.build(product).returncode, 0)
        installer = os.path.join(self.work, "setup.exe")
        for args in (["list", installer], ["build", product.template, "-o", installer]):
            with self.subTest(args[0]), open("/dev/full", "w") as full:
                proc = subprocess.run([MKSETUP, *args], stdout=full, stderr=subprocess.PIPE,
                                      timeout=60)
                self.assertRefused(proc, "standard output", "No space left on device")
                self.assertEqual(proc.returncode, 1)
        # A mirror on a full disk (here a file size limit) names the payload
        # it could not copy, not a temporary file.
        def limit_file_size():
            import resource
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
        with open(os.path.join(product.root, "data", "birds.db"), "wb") as f:
            f.write(bytes(2 << 20))
        mirror = os.path.join(self.work, "mirror")
        proc = subprocess.run([MKSETUP, "build", product.template, "-o", installer, "--carry",
                               "none", "--http", "http://h/d/", "--mirror", mirror],
                              capture_output=True, preexec_fn=limit_file_size, timeout=60)
        self.assertRefused(proc, "--mirror", "the copy of data/birds.db", "File too large")
        self.assertFalse(os.path.exists(mirror))

    def test_every_problem_in_one_run(self):
        template = ("TBirds\nV{define:V}\nF{name:data/birds.db\nI{name:gone}:1:a.txt\n"
                    "I{name:data/birds.db}:{size:data/birds.db}:nul.txt\nM\u2603\n")
        proc = self.build(Product(os.path.join(self.work, "product"), template))
        lines = proc.stderr.decode().splitlines()
        self.assertEqual(proc.returncode, 1)
        self.assertEqual([line.split(": ")[1].rsplit("/", 1)[-1] for line in lines],
                         ["setup.in:2:2", "setup.in:3:2", "setup.in:4:2", "setup.in:5",
                          "setup.in:6:2"], lines)
        self.assertEqual(self.outputs(), [])

    def test_payload_that_is_a_device(self):
        product = Product(os.path.join(self.work, "product"))
        payload = os.path.join(product.root, "data", "birds.db")
        os.remove(payload)
        os.symlink("/dev/zero", payload)
        self.assertRefused(self.build(product), "setup.in:5:", "is not a regular file")
        self.assertEqual(self.outputs(), [])

    def test_set_urls_refusals(self):
        product = Product(os.path.join(self.work, "product"))
        self.assertEqual(self.build(product).returncode, 0)
        installer = os.path.join(self.work, "setup.exe")
        with open(installer, "rb") as f:
            before = f.read()
        not_ours = os.path.join(self.work, "other.exe")
        shutil.copy(os.path.join(os.path.dirname(MKSETUP_EXE), "mksetup.exe") if MKSETUP_EXE
                    else MKSETUP, not_ours)
        text = os.path.join(self.work, "text.exe")
        with open(text, "w") as f:
            f.write("not an executable")
        for case, args, words in [
            ("not an installer", [not_ours, "--http", "http://h/d/"], ["other.exe", "not an installer"]),
            ("not an executable", [text, "--http", "http://h/d/"], ["text.exe", "not an installer"]),
            ("missing file", [os.path.join(self.work, "nosuch.exe")], ["nosuch.exe", "no such file"]),
            ("URL without '/'", [installer, "--ftp", "ftp://h/d"], ["--ftp", "end in '/'"]),
        ]:
            with self.subTest(case):
                self.assertRefused(self.mksetup("set-urls", *args, "-o",
                                                os.path.join(self.work, "out.exe")), *words)
                self.assertFalse(os.path.exists(os.path.join(self.work, "out.exe")))
        with open(installer, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_damaged_installers(self):
        # Cut short or with bytes changed in its headers or resource
        # directory, an installer is read without a crash: list either
        # refuses it in one line or reads it.
        product = Product(os.path.join(self.work, "product"))
        self.assertEqual(self.build(product).returncode, 0)
        with open(os.path.join(self.work, "setup.exe"), "rb") as f:
            data = f.read()
        pe = struct.unpack_from("<I", data, 60)[0]
        sections = struct.unpack_from("<H", data, pe + 6)[0]
        optional = struct.unpack_from("<H", data, pe + 20)[0]
        last = pe + 24 + optional + 40 * (sections - 1)
        rsrc = struct.unpack_from("<I", data, last + 20)[0]  # the resource directory's offset
        damaged = os.path.join(self.work, "damaged.exe")
        cases = [data[:n] for n in (0, 2, 63, 64, 300, 1024, len(data) // 2, len(data) - 1)]
        for offset in list(range(0, 1024, 7)) + list(range(rsrc, rsrc + 1024, 3)):
            flipped = bytearray(data)
            flipped[offset] ^= 0xFF
            cases.append(bytes(flipped))
        for case in cases:
            with open(damaged, "wb") as f:
                f.write(case)
            proc = self.mksetup("list", damaged)
            self.assertIn(proc.returncode, (0, 1), proc.stderr)
            if proc.returncode == 1:
                self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)


class OutputTest(PackagerTest):
    def product(self) -> Product:
        files = {
            "licence.txt": "Lizenz f\u00fcr V\u00f6gel.\r\nAccept?\r\n".encode(),
            "data/birds.db": bytes(range(256)) * 8192,
            "data/sub/empty.txt": b"",
            "V\u00f6gel.txt": "Gr\u00fc\u00dfe\n".encode(),
        }
        template = (
            "D2026-12-10\nTV\u00f6gel\nV2.0\nFV\u00f6gel\nL{name:licence.txt}:{size:licence.txt}\n"
            "I{name:data/birds.db}:{size:data/birds.db}:birds.db:R\n"
            "I{name:data/sub/empty.txt}:{size:data/sub/empty.txt}:empty.txt\n"
            "I{name:V\u00f6gel.txt}:{size:V\u00f6gel.txt}:V\u00f6gel.txt\n"
            "PV\u00f6gel.lnk:birds.db\nMFertig.\n")
        return Product(os.path.join(self.work, "product"), template, files)

    def test_two_builds_are_identical_and_valid(self):
        product = self.product()
        runs = []
        for n in range(2):
            mirror = os.path.join(self.work, "mirror%d" % n)
            proc = self.build(product, "--mirror", mirror, "--http", "http://127.0.0.1:8/dat/",
                              out="setup%d.exe" % n)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            with open(os.path.join(self.work, "setup%d.exe" % n), "rb") as f:
                data = f.read()
            tree = {name: read(os.path.join(mirror, name))
                    for name in os.listdir(mirror)}
            runs.append((data, tree, proc.stdout))
        self.assertEqual(runs[0], runs[1])
        data, tree, listing = runs[0]
        computed, stored = pe_checksum(data)
        self.assertEqual(computed, stored)
        # The mirror holds each file under its digest name, the description
        # converted to code page 1252 with LF line ends.
        self.assertEqual(len(tree), 5)
        description = [d for d in tree.values() if d.startswith(b"D2026")][0]
        self.assertIn(b"TV\xf6gel\nV2.0\n", description)
        self.assertIn(b":V\xf6gel.txt\n", description)
        self.assertNotIn(b"\r", description)
        self.assertIn("Lizenz f\u00fcr V\u00f6gel.\r\nAccept?\r\n".encode("cp1252"), tree.values())
        # The listing of build is that of list.
        listed = self.mksetup("list", os.path.join(self.work, "setup0.exe"))
        self.assertEqual(listed.returncode, 0)
        self.assertEqual(listed.stdout, listing)
        lines = listing.decode().splitlines()
        self.assertEqual(lines[0], "Windows: x86 (32-bit, PE32)")
        self.assertEqual(lines[1], "HTTP base URL: http://127.0.0.1:8/dat/")
        self.assertEqual(lines[2], "FTP base URL: (built-in default)")
        self.assertRegex(lines[5], r"^file [0-9a-v]{32} 2097152 carried birds\.db$")
        self.assertEqual(lines[6], "file ev8j3dn1bqqslnvnlic09c0clc2e0cvl 0 empty empty.txt")
        self.assertRegex(lines[7], "^file [0-9a-v]{32} 8 carried V\u00f6gel.txt$")

    def test_licence_warnings(self):
        # Lines the licence box wraps again, and more than fit a screen;
        # the build goes on.
        for case, licence, words in [
            ("wide", b"x" * 100 + b"\r\nAccept?\r\n", ["licence.txt:1:", "100 characters"]),
            ("long", b"line\r\n" * 60, ["licence.txt:", "768-pixel-high"]),
            ("paragraphs hard-wrapped at 72", (b"w" * 72 + b"\r\n") * 30,
             ["licence.txt:1:", "72 characters", "768-pixel-high"]),
            ("UTF-8 and code page 1252 mixed", "V\u00f6gel\r\n".encode() + b"Accept\xbf\r\n",
             ["licence.txt:", "also holds UTF-8 letters"]),
        ]:
            with self.subTest(case):
                product = Product(os.path.join(self.work, "product-" + case), GOOD,
                                  {"licence.txt": licence, "data/birds.db": b"x"})
                proc = self.build(product)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                lines = proc.stderr.decode().splitlines()
                self.assertTrue(lines and all(line.startswith("mksetup: warning: ")
                                                  for line in lines), lines)
                for word in words:
                    self.assertIn(word, " ".join(lines))
        # Descriptions that build but may not do what they seem to: a
        # warning each, and with --strict an error and no output.
        for case, template, options, words in [
                ("file on a skipped line",
                 GOOD + " I{name:data/birds.db}:{size:data/birds.db}:x.db\n", [],
                 "setup.in:7: the installer ignores this line"),
                ("shortcut without .lnk", GOOD + "PBirds:birds.db\n", [],
                 "does not end in .lnk"),
                ("files before any F line", GOOD.replace("FBirds\n", "") + "FBirds\n", [],
                 "setup.in:4: I line before any F line"),
                ("shortcut to a file nothing installs", GOOD + "PBirds.lnk:Birds.exe\n", [],
                 "setup.in:7: no I line installs 'Birds.exe'"),
                ("web installer with the built-in URLs", GOOD, ["--carry", "none"],
                 "http://localhost/dat/ and ftp://localhost/private/dat/")]:
            with self.subTest(case):
                product = Product(os.path.join(self.work, "product-" + case), template)
                proc = self.build(product, *options)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual(proc.stderr.decode().count(words), 1, proc.stderr)
                os.remove(os.path.join(self.work, "setup.exe"))
                proc = self.build(product, *options, "--strict", "--quiet")
                self.assertEqual(proc.returncode, 1, proc.stderr)
                self.assertIn(words, proc.stderr.decode())
                self.assertEqual(proc.stdout, b"")
                self.assertEqual(self.outputs(), [])
        # A paragraph on one line wraps cleanly in the box: no warning.
        product = Product(os.path.join(self.work, "product-paragraph"), GOOD,
                          {"licence.txt": b"w" * 300 + b"\r\n\r\nAccept?\r\n",
                           "data/birds.db": b"x"})
        proc = self.build(product)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))

    def test_defines_for_a_build_script(self):
        # What a CI script does: the version from the command line, in any
        # spelling of the options, a template from standard input, and
        # nothing printed on success.
        product = Product(os.path.join(self.work, "product"),
                          GOOD.replace("V1.0", "V{define:VERSION}").replace(
                              "MDone.", "M{define:NAME} {define:VERSION} is installed."))
        mirror = os.path.join(self.work, "mirror")
        with open(product.template, "rb") as template:
            proc = subprocess.run(
                [MKSETUP, "build", "-", "--payloads", product.root, "--define", "VERSION=1.4.2",
                 "--define=NAME=Birds =x", "--strict", "--quiet", "--mirror=" + mirror,
                 "-o", os.path.join(self.work, "setup.exe")],
                stdin=template, capture_output=True, cwd=self.work, timeout=60)
        self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (0, b"", b""))
        description = [read(os.path.join(mirror, n)) for n in os.listdir(mirror)
                       if read(os.path.join(mirror, n)).startswith(b"TBirds")]
        self.assertEqual(len(description), 1)
        self.assertIn(b"\nV1.4.2\n", description[0])
        self.assertIn(b"\nMBirds =x 1.4.2 is installed.\n", description[0])

    def test_version_and_help(self):
        version = self.mksetup("--version")
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout.decode(), r"^mksetup \d+\.\d+ \(commit [0-9a-f]{7,}")
        # Each command describes every option its usage line names.
        for command, options in [
                ("build", ["-o", "--payloads", "--carry", "--http", "--ftp", "--mirror",
                           "--codepage", "--arch", "--define", "--strict", "--quiet"]),
                ("set-urls", ["--http", "--ftp", "-o", "--strip-signature"]),
                ("list", ["--codepage"]), ("keygen", ["--public"]), ("sign-latest", ["-o"])]:
            with self.subTest(command):
                runs = [self.mksetup(command, "-h"), self.mksetup(command, "x", "--help"),
                        self.mksetup("help", command)]
                self.assertEqual({(p.returncode, p.stdout) for p in runs}, {(0, runs[0].stdout)})
                described = [line.split()[0].rstrip(",") for line in
                             runs[0].stdout.decode().splitlines() if line.startswith("  ")]
                self.assertTrue(set(options) <= set(described), described)

    def test_common_tools_read_every_resource(self):
        # objdump -p walks the whole resource directory: every carried
        # file's resource is listed.
        objdump = shutil.which("i686-w64-mingw32-objdump")
        if objdump is None:
            self.skipTest("no i686-w64-mingw32-objdump")
        product = self.product()
        self.assertEqual(self.build(product).returncode, 0)
        installer = os.path.join(self.work, "setup.exe")
        names = [line.split()[1].upper()
                 for line in self.mksetup("list", installer).stdout.decode().splitlines()
                 if line.split()[0] in ("description", "licence", "file")
                 and "empty" not in line.split()]
        dump = subprocess.run([objdump, "-p", installer], capture_output=True, timeout=60)
        self.assertEqual(dump.returncode, 0, dump.stderr)
        for name in names:
            self.assertIn(name, dump.stdout.decode())
        self.assertNotIn(b"Corrupt", dump.stdout)

    def test_licence_that_is_also_a_payload(self):
        # The licence box gets the text in the code page; the file installed
        # from the same source keeps its own bytes.
        text = "Lizenz f\u00fcr V\u00f6gel.\r\nAccept?\r\n"
        product = Product(os.path.join(self.work, "product"),
                          GOOD + "I{name:licence.txt}:{size:licence.txt}:Lizenz.txt\n",
                          {"licence.txt": text.encode(), "data/birds.db": b"x"})
        mirror = os.path.join(self.work, "mirror")
        proc = self.build(product, "--mirror", mirror)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        stored = {read(os.path.join(mirror, n)) for n in os.listdir(mirror)}
        self.assertIn(text.encode("cp1252"), stored)
        self.assertIn(text.encode(), stored)

    def test_ready_digest_names(self):
        # A description with its digest names written out takes its files
        # from a folder named by them (a mirror), here with one size still
        # a placeholder, and gives the same installer as its template.
        product = self.product()
        mirror = os.path.join(self.work, "mirror")
        self.assertEqual(self.build(product, "--mirror", mirror, out="a.exe").returncode, 0)
        files = {name: read(os.path.join(mirror, name)) for name in os.listdir(mirror)}
        description = [d for d in files.values() if d.startswith(b"D2026")][0].decode("cp1252")
        birds = [name for name, data in files.items() if len(data) == 2097152][0]
        ready = Product(os.path.join(self.work, "ready"),
                        description.replace(":2097152:", ":{size:%s}:" % birds), files={})
        proc = self.build(ready, "--payloads", mirror, out="b.exe")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(read(os.path.join(self.work, "a.exe")),
                         read(os.path.join(self.work, "b.exe")))

    def test_code_pages(self):
        # A description and a licence in the script of each code page come
        # out in that code page, from UTF-8 or from text already in it; the
        # listing shows the names again as they were written.
        for page, name, licence in [
                (1250, "Pta\u0144ki \u017c\u00f3\u0142te", "Zgadzasz si\u0119? \u0104\u0106\u0118\u0141\u0143\u00d3\u015a\u0179\u017b"),
                (1251, "\u041f\u0442\u0438\u0446\u044b", "\u041f\u0440\u0438\u043d\u0438\u043c\u0430\u0435\u0442\u0435? \u0401\u0451\u0404\u0454\u2116"),
                (1253, "\u03a0\u03bf\u03c5\u03bb\u03b9\u03ac", "\u0391\u03c0\u03bf\u03b4\u03ad\u03c7\u03b5\u03c3\u03c4\u03b5; \u0386\u038f\u03b0"),
                (874, "\u0e19\u0e01", "\u0e22\u0e2d\u0e21\u0e23\u0e31\u0e1a\u0e44\u0e2b\u0e21 \u0e3f\u0e5b"),
                (1254, "Ku\u015flar", "Kabul ediyor musunuz? \u011e\u0130\u015e"),
                (1255, "\u05e6\u05d9\u05e4\u05d5\u05e8\u05d9\u05dd", "\u05de\u05e1\u05db\u05d9\u05dd? \u20aa"),
                (1256, "\u0637\u064a\u0648\u0631", "\u0645\u0648\u0627\u0641\u0642\u061f"),
                (1257, "Pauk\u0161\u010diai", "Sutinkate? \u0112\u0101\u0136"),
                (1258, "Chim \u0110\u01b0\u01a1ng", "\u0102n \u01b0 \u01a1 kh\u00f4ng? \u20ab")]:
            template = GOOD.replace("TBirds", "T" + name).replace(
                ":birds.db:R", ":" + name + ".db:R").replace("MDone.", "M" + licence)
            files = {"licence.txt": (licence + "\r\n").encode(), "data/birds.db": b"x"}
            for case, raw in [("UTF-8", template.encode()),
                              ("code page", template.encode("cp%d" % page))]:
                with self.subTest(page=page, written=case):
                    product = Product(os.path.join(self.work, "p%d%s" % (page, case[0])),
                                      files=files, raw_template=raw)
                    mirror = os.path.join(self.work, "mirror%d%s" % (page, case[0]))
                    out = "setup%d%s.exe" % (page, case[0])
                    proc = self.build(product, "--codepage", str(page), "--mirror", mirror, out=out)
                    self.assertEqual(proc.returncode, 0, proc.stderr)
                    stored = {read(os.path.join(mirror, n)) for n in os.listdir(mirror)}
                    description = [d for d in stored if d.startswith(b"T")][0]
                    self.assertTrue(description.startswith(
                        ("T%s\nV1.0\n" % name).encode("cp%d" % page)), description)
                    self.assertTrue(description.endswith(
                        (":%s.db:R\nM%s\n" % (name, licence)).encode("cp%d" % page)), description)
                    self.assertIn((licence + "\r\n").encode("cp%d" % page), stored)
                    listed = self.mksetup("list", os.path.join(self.work, out), "--codepage=%d" % page)
                    self.assertEqual(listed.stdout, proc.stdout)
                    self.assertIn(" %s.db\n" % name, listed.stdout.decode())

    def test_cp1252_template_is_read_as_such(self):
        utf8 = self.product()
        cp1252 = Product(os.path.join(self.work, "product"),
                         raw_template=read(utf8.template).decode().encode("cp1252"),
                         files={})
        self.assertEqual(self.build(utf8, out="a.exe").returncode, 0)
        self.assertEqual(self.build(cp1252, out="b.exe").returncode, 0)
        self.assertEqual(read(os.path.join(self.work, "a.exe")),
                         read(os.path.join(self.work, "b.exe")))

    def test_win32_packager_gives_the_same_bytes(self):
        if not MKSETUP_EXE:
            self.fail("MKSETUP_EXE must name the Win32 packager")
        product = self.product()
        for arch in ["x86", "x64"]:
            outputs = []
            for program in [MKSETUP, MKSETUP_EXE]:
                name = os.path.basename(program) + "." + arch + ".exe"
                mirror = os.path.join(self.work, name + ".mirror")
                proc = self.mksetup("build", product.template, "-o", os.path.join(self.work, name),
                                    "--mirror", mirror, "--carry", "data/birds.db", "--arch", arch,
                                    "--ftp", "ftp://127.0.0.1:21/pub/", program=program)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                outputs.append((read(os.path.join(self.work, name)),
                                sorted((n, hashlib.sha1(read(os.path.join(mirror, n)))
                                        .hexdigest()) for n in os.listdir(mirror)),
                                proc.stdout.replace(b"\r\n", b"\n")))
            self.assertEqual(outputs[0], outputs[1], arch)

    def test_progress_only_on_a_terminal(self):
        # Hashing 1 GiB (a sparse file) lasts long enough for a progress
        # line on a terminal, redrawn in place and cleared; into a pipe
        # nothing of it goes.
        product = Product(os.path.join(self.work, "product"))
        os.truncate(os.path.join(product.root, "data", "birds.db"), 1 << 30)
        args = [MKSETUP, "build", product.template, "-o", os.path.join(self.work, "setup.exe"),
                "--carry", "none", "--http", "http://127.0.0.1:8/dat/"]
        controller, terminal = pty.openpty()
        proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=terminal, cwd=self.work)
        os.close(terminal)
        shown = b""
        try:
            while chunk := os.read(controller, 4096):
                shown += chunk
        except OSError:  # the terminal is gone with the packager
            pass
        os.close(controller)
        self.assertEqual(proc.wait(300), 0, shown)
        self.assertRegex(shown, rb"\rmksetup: \d+ of 1024 MiB hashed and written, \d+ MB/s, \d+ s left")
        self.assertTrue(shown.rstrip(b" ").endswith(b"\r"), shown[-100:])
        piped = subprocess.run(args, capture_output=True, cwd=self.work, timeout=300)
        self.assertEqual(piped.returncode, 0, piped.stderr)
        self.assertEqual(piped.stderr, b"")

    def test_set_urls_rewrites_only_the_urls(self):
        product = self.product()
        for arch in ["x86", "x64"]:
            with self.subTest(arch=arch):
                self.assertEqual(self.build(product, "--carry", "none", "--arch", arch).returncode, 0)
                installer = os.path.join(self.work, "setup.exe")
                moved = os.path.join(self.work, "moved.exe")
                proc = self.mksetup("set-urls", installer, "--http", "http://10.0.0.1:8080/a/b/",
                                    "--ftp", "ftp://10.0.0.1/pub/", "-o", moved)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                before = self.mksetup("list", installer).stdout.decode().splitlines()
                after = self.mksetup("list", moved).stdout.decode().splitlines()
                self.assertEqual(after[1:3], ["HTTP base URL: http://10.0.0.1:8080/a/b/",
                                              "FTP base URL: ftp://10.0.0.1/pub/"])
                self.assertEqual(before[:1] + before[3:], after[:1] + after[3:])
                data = read(moved)
                self.assertEqual(pe_checksum(data)[0], pe_checksum(data)[1])
                # In place, and back to the built-in defaults: the bytes as built.
                with open(installer, "rb") as f:
                    built = f.read()
                proc = self.mksetup("set-urls", moved, "--http", "", "--ftp", "")
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual(read(moved), built)

    def test_executable_formats(self):
        # Each architecture's pair of COFF machine and optional-header magic,
        # with room for all sixteen data directories; a crossed pair or a
        # shorter optional header is refused.
        product = self.product()
        built = {}
        for arch in ["x86", "x64"]:
            self.assertEqual(self.build(product, "--arch", arch, out=arch + ".exe").returncode, 0)
            built[arch] = read(os.path.join(self.work, arch + ".exe"))

        def patched(arch, machine=None, magic=None, optional_size=None):
            data = bytearray(built[arch])
            pe = struct.unpack_from("<I", data, 60)[0]
            if machine is not None:
                struct.pack_into("<H", data, pe + 4, machine)
            if optional_size is not None:
                struct.pack_into("<H", data, pe + 20, optional_size)
            if magic is not None:
                struct.pack_into("<H", data, pe + 24, magic)
            return bytes(data)

        # (case, bytes, the listing's first line or None when refused)
        cases = [
            ("x86: PE32 for i386", patched("x86"), "Windows: x86 (32-bit, PE32)"),
            ("x64: PE32+ for AMD64", patched("x64"), "Windows: x64 (64-bit, PE32+)"),
            ("PE32 for AMD64", patched("x86", machine=0x8664), None),
            ("PE32+ for i386", patched("x64", machine=0x14C), None),
            ("x86 with the PE32+ magic", patched("x86", magic=0x20B), None),
            ("x64 with the PE32 magic", patched("x64", magic=0x10B), None),
            ("PE32 without its last data directory", patched("x86", optional_size=96 + 15 * 8),
             None),
            ("PE32+ without its last data directory", patched("x64", optional_size=112 + 15 * 8),
             None),
            ("PE32+ with the PE32 minimum", patched("x64", optional_size=96 + 16 * 8), None),
        ]
        case_file = os.path.join(self.work, "case.exe")
        for case, data, first_line in cases:
            with self.subTest(case=case):
                with open(case_file, "wb") as f:
                    f.write(data)
                proc = self.mksetup("list", case_file)
                if first_line is None:
                    self.assertRefused(proc, "case.exe", "not a Windows executable for x86 (PE32) "
                                       "or x64 (PE32+)")
                else:
                    self.assertEqual(proc.returncode, 0, proc.stderr)
                    self.assertEqual(proc.stdout.decode().splitlines()[0], first_line)



ALPHABET = "0123456789abcdefghijklmnopqrstuv"


class ReleaseTest(PackagerTest):
    """build --updater and release: the updater as one more payload, a
    mirror that holds every file the description names, and LATEST
    pointing at that description."""

    @classmethod
    def setUpClass(cls):
        # Making a DSA key takes a while: one for the class.
        cls.keys = tempfile.mkdtemp(prefix="mksetup-keys-")
        cls.key = os.path.join(cls.keys, "birds.key")
        cls.public = os.path.join(cls.keys, "birds_key.h")
        subprocess.run([MKSETUP, "keygen", cls.key, "--public", cls.public], check=True,
                       capture_output=True, timeout=900)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys, ignore_errors=True)

    def listing(self, exe: str) -> list:
        return self.mksetup("list", exe).stdout.decode().splitlines()

    def test_release_fills_the_mirror_and_points_latest_at_it(self):
        product = Product(os.path.join(self.work, "product"))
        for arch in ["x86", "x64"]:
            with self.subTest(arch=arch):
                mirror = os.path.join(self.work, "mirror-" + arch)
                exe = os.path.join(self.work, arch + ".exe")
                proc = self.mksetup("release", product.template, "--key", self.key, "--mirror",
                                    mirror, "-o", exe, "--carry", "none", "--arch", arch,
                                    "--http", "http://127.0.0.1:8/dat/")
                self.assertEqual(proc.returncode, 0, proc.stderr)
                listing = self.listing(exe)
                files = [line.split(" ") for line in listing
                         if line.startswith(("description ", "licence ", "file "))]
                # The updater goes in after the last I line, into the folder.
                self.assertEqual([f[0] for f in files] + [files[-1][-1]],
                                 ["description", "licence", "file", "file", "update.exe"])
                for _, name, size, *_ in files:
                    data = read(os.path.join(mirror, name))
                    self.assertEqual(len(data), int(size), name)
                latest = read(os.path.join(mirror, "LATEST"))
                self.assertEqual(len(latest), 60)
                m = int.from_bytes(latest[:20], "little")
                self.assertEqual("".join(ALPHABET[(m >> (5 * k)) & 31] for k in range(32)),
                                 files[0][1])
                self.assertEqual(sorted(os.listdir(mirror)),
                                 sorted([f[1] for f in files] + ["LATEST"]))
                # The updater is an executable of the installer's kind.
                updater = read(os.path.join(mirror, files[-1][1]))
                header = struct.unpack_from("<I", updater, 60)[0]
                self.assertEqual(struct.unpack_from("<H", updater, header + 4)[0],
                                 {"x86": 0x14C, "x64": 0x8664}[arch])

        # The same updater from the public key file and from the key file.
        built = os.path.join(self.work, "built.exe")
        proc = self.build(product, "--carry", "none", "--arch", "x64", "--updater", self.public,
                          "--http", "http://127.0.0.1:8/dat/", out="built.exe")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(self.listing(built), self.listing(os.path.join(self.work, "x64.exe")))

    def test_refusals(self):
        product = Product(os.path.join(self.work, "product"))
        own = Product(os.path.join(self.work, "product-own"),
                      GOOD.replace("birds.db:R", "update.exe"))
        garbage = os.path.join(product.root, "garbage.key")
        with open(garbage, "w") as f:
            f.write("not a key\n")
        out = os.path.join(self.work, "setup.exe")
        for case, args, words in [
            ("key file that is no key",
             ["build", product.template, "-o", out, "--updater", garbage],
             ["garbage.key", "neither a public key file"]),
            ("missing key file", ["build", product.template, "-o", out, "--updater",
                                  os.path.join(self.work, "nosuch.h")], ["nosuch.h"]),
            ("template installing its own update.exe",
             ["build", own.template, "-o", out, "--updater", self.public],
             ["installs a file named update.exe"]),
        ]:
            with self.subTest(case):
                self.assertRefused(self.mksetup(*args), *words)
                self.assertEqual(self.outputs(), [])
        for args in [["release", product.template, "-o", out, "--mirror", "m"],
                     ["release", product.template, "-o", out, "--key", self.key],
                     ["build", product.template, "-o", out, "--key", self.key]]:
            with self.subTest(args=args):
                self.assertEqual(self.mksetup(*args).returncode, 2)
                self.assertEqual(self.outputs(), [])

        # New URLs would change the updater, its digest and the description.
        self.assertEqual(self.build(product, "--updater", self.public).returncode, 0)
        before = read(out)
        self.assertRefused(self.mksetup("set-urls", out, "--http", "http://h/d/"),
                           "carries an updater (update.exe)")
        self.assertEqual(read(out), before)


if __name__ == "__main__":
    unittest.main()
