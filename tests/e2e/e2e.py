"""End-to-end runs of real installers under Wine, answered by the UI robot.

Each run gets a Wine prefix of its own, copied from the template prefix that
scripts/test prepares (E2E_WINE_TEMPLATE), so that files and registry start
clean. The robot's transcript is one JSON object per box it met.

Also the facts that several scenarios share: the sample product, the
registry key of the record, the script that accepts every default.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "net"))
import netfixture  # noqa: E402

BUILD = os.environ.get("E2E_BUILD", "")
TEMPLATE = os.environ.get("E2E_WINE_TEMPLATE", "")
ROBOT = os.path.join(BUILD, "tests", "robot", "robot.exe")
LINKINFO = os.path.join(BUILD, "tests", "e2e", "linkinfo.exe")


def resource_id(name: str) -> str:
    """A control id of base/resids.h, as the robot names controls."""
    with open(os.path.join(HERE, "..", "..", "base", "resids.h")) as f:
        for line in f:
            fields = line.split()
            if fields[:2] == ["#define", name]:
                return fields[2]
    raise LookupError(name)


# The destination folder dialog's text field.
FOLDER_FIELD = resource_id("IDC_FOLDER_FIELD")

# The installer's record of each product: this key followed by its name.
KEY = "Software\\Quillon\\Update\\Programs\\"

# The sample product (sample/): its installers, payloads and closing message.
SAMPLE = os.path.join(BUILD, "sample")
SAMPLE_FILES = ["License.txt", "Kestrin.exe", "Kestrin.map", "Kestrin.hlp", "Kestrin.cnt",
                "Meadow.kpk"]
SAMPLE_MESSAGE = ("Kestrin installation successful!  "
                  "Click on the Kestrin icon in the Start Menu to begin playing.")

# The hostile scenario (tests/e2e/hostile): the installer that misbehaving
# servers and failing disks feed, its record, and the bytes of an older
# version that only a verified payload may replace.
HOSTILE_KEY = KEY + "Hostile"
OLD = b"The payload of an older version, which only a verified one replaces.\r\n"


def hostile_payload(name: str) -> bytes:
    """The bytes of one of the hostile installer's payload files."""
    with open(os.path.join(HERE, "hostile", "payloads", name), "rb") as f:
        return f.read()


# Folder dialog, licence, status window (left open), closing message.
with open(os.path.join(HERE, "accept-all.txt")) as _f:
    ACCEPT_ALL = "\n".join(line for line in _f.read().splitlines()
                           if line and not line.startswith("#"))


def payload(name: str) -> bytes:
    """The bytes of one of the sample's payload files."""
    with open(os.path.join(SAMPLE, "payloads", name), "rb") as f:
        return f.read()


def installer(name: str, folder: str = "") -> str:
    return os.path.join(folder or os.path.join(BUILD, "tests", "e2e"), name + ".exe")


MKSETUP = os.path.join(BUILD, "tools", "mksetup-native", "tools", "mksetup", "mksetup")
# The build's architecture, x86 or x64: what installers packaged by a test
# are made for.
ARCH = os.environ.get("E2E_ARCH", "x86")


def description_name(exe: str) -> str:
    """The digest name of the description an installer carries, which its
    record names as "Description"."""
    listing = subprocess.run([MKSETUP, "list", exe], check=True, capture_output=True,
                             text=True).stdout
    return next(line.split(" ")[1] for line in listing.splitlines()
                if line.startswith("description "))


def names(name: str, folder: str = "") -> dict:
    """File name -> (digest name, size) of what an installer's description
    names, from the packager's listing; the description as "description"."""
    listing = subprocess.run([MKSETUP, "list", installer(name, folder)], check=True,
                             capture_output=True, text=True).stdout
    table = {}
    for line in listing.splitlines():
        fields = line.split(" ", 4)
        if fields[0] == "description":
            table["description"] = (fields[1], int(fields[2]))
        elif fields[0] == "file":
            table[fields[4]] = (fields[1], int(fields[2]))
    return table


def set_urls(exe: str, http_host: str, ftp_host: str):
    """Points the installer exe at http://HTTP_HOST/dat/ and
    ftp://FTP_HOST/dat/ (each host as host:port)."""
    subprocess.run([MKSETUP, "set-urls", exe, "--http", f"http://{http_host}/dat/",
                    "--ftp", f"ftp://{ftp_host}/dat/"], check=True, capture_output=True)


class Run:
    """One installer run in a fresh prefix."""

    def __init__(self, prefix: str):
        self.prefix = prefix
        self.boxes = []     # each box as it first showed
        self.clicked = []   # an earlier box as it was when a click step acted on it
        self.exit_code = None
        self.exit_ms = None   # when the robot saw the program end
        self.robot_code = None
        self.unused_steps = None
        self.raw = ""

    def drive_c(self, *parts: str) -> str:
        return os.path.join(self.prefix, "drive_c", *parts)

    def registry_values(self, key: str) -> dict:
        """Values of an HKEY_CURRENT_USER key as Wine saved them, or {}."""
        section = "[" + key.replace("\\", "\\\\") + "]"
        values, inside = {}, False
        with open(os.path.join(self.prefix, "user.reg"), encoding="latin-1") as f:
            for line in f:
                line = line.rstrip("\n")
                if line.startswith("["):
                    inside = line.split("]")[0] + "]" == section
                elif inside:
                    m = re.match(r'^"((?:[^"\\]|\\.)*)"=str:"(.*)"$', line) or \
                        re.match(r'^"((?:[^"\\]|\\.)*)"="(.*)"$', line)
                    if m:
                        values[m.group(1)] = m.group(2).replace("\\\\", "\\").replace('\\"', '"')
        return values


class Sandbox:
    """A work folder with a fresh Wine prefix in it, for installer runs.
    Sandboxes are independent: several can run installers at once."""

    def open_sandbox(self):
        self.work = tempfile.mkdtemp(prefix="e2e-")
        self.prefix = os.path.join(self.work, "prefix")
        subprocess.run(["cp", "-a", TEMPLATE, self.prefix], check=True)

    def close_sandbox(self):
        if hasattr(self, "work"):
            self.wine_env_run(["wineserver", "-k"])
            shutil.rmtree(self.work, ignore_errors=True)

    def wine_env(self) -> dict:
        return netfixture.wine_env({"WINEPREFIX": self.prefix})

    def wine_env_run(self, command, **kwargs):
        return subprocess.run(command, env=self.wine_env(), capture_output=True, **kwargs)

    def robot_command(self, exe: str, script: str, args=(), timeout=60) -> list:
        script_path = os.path.join(self.work, "script.txt")
        with open(script_path, "w") as f:
            f.write(script.strip() + "\n")
        return ["wine", ROBOT, "--timeout", str(timeout), script_path, "--", exe, *args]

    def run_installer(self, exe: str, script: str, args=(), timeout=60, cwd=None,
                      before_wait=None) -> Run:
        """Runs exe under the robot. before_wait, when given, is called once
        the robot has ended, before waiting for the prefix's other
        programs to end."""
        command = self.robot_command(exe, script, args, timeout)
        proc = self.wine_env_run(command, timeout=timeout + 60, cwd=cwd or self.work, text=True)
        if before_wait:
            before_wait()
        # The registry reaches user.reg when the prefix's server ends.
        self.wine_env_run(["wineserver", "-w"], timeout=60)
        run = Run(self.prefix)
        run.raw = proc.stdout
        run.robot_code = proc.returncode
        for line in proc.stdout.splitlines():
            line = line.strip()
            if not line.startswith("{"):
                continue
            record = json.loads(line)
            if "exit" in record:
                run.exit_code = record["exit"]
                run.unused_steps = record["unused_steps"]
                run.exit_ms = record["ms"]
            elif "clicked" in record:
                run.clicked.append(record)
            elif "caption" in record:
                run.boxes.append(record)
        return run

    def wine(self, *command: str) -> str:
        """Runs a Windows program of the test in this prefix; its output."""
        proc = self.wine_env_run(["wine", *command], text=True, timeout=120)
        return proc.stdout


class InstallerTest(Sandbox, unittest.TestCase):
    """Base class: run() an installer with a robot script in a fresh prefix."""

    def setUp(self):
        # A missing template fails rather than skips: a skipped run would
        # look like a passed one in ctest.
        if not (BUILD and TEMPLATE):
            self.fail("E2E_BUILD and E2E_WINE_TEMPLATE must be set (scripts/test sets them)")
        self.open_sandbox()

    def tearDown(self):
        self.close_sandbox()

    def restart(self):
        """A fresh prefix, for the next case of a table."""
        self.tearDown()
        self.setUp()

    def assertCleanRun(self, run: Run):
        """The robot answered every box, the installer ended with 0, and the
        script had no step left: a left-over step means a box the script
        expected never came."""
        self.assertEqual(run.robot_code, 0, "robot failed:\n" + run.raw)
        self.assertEqual(run.exit_code, 0, run.raw)
        self.assertEqual(run.unused_steps, 0, "steps left over:\n" + run.raw)

    def assertBox(self, box: dict, caption: str, text: str, icon: str, owner=None):
        self.assertEqual((box["caption"], box["text"], box["icon"], box["owner"]),
                         (caption, text, icon, owner), box)
