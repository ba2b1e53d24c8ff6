"""End-to-end runs of real installers under Wine, answered by the UI robot.

Each run gets a Wine prefix of its own, copied from the template prefix that
scripts/test prepares (E2E_WINE_TEMPLATE), so that files and registry start
clean. The robot's transcript is one JSON object per box it met.
"""
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("E2E_BUILD", "")
TEMPLATE = os.environ.get("E2E_WINE_TEMPLATE", "")
ROBOT = os.path.join(BUILD, "tests", "robot", "robot.exe")


SAMPLE = os.path.join(BUILD, "sample")


def installer(name: str, folder: str = "") -> str:
    return os.path.join(folder or os.path.join(BUILD, "tests", "e2e"), name + ".exe")


MKSETUP = os.path.join(BUILD, "tools", "mksetup-native", "tools", "mksetup", "mksetup")


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


class Run:
    """One installer run in a fresh prefix."""

    def __init__(self, prefix: str):
        self.prefix = prefix
        self.boxes = []
        self.exit_code = None
        self.robot_code = None
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


class InstallerTest(unittest.TestCase):
    """Base class: run() an installer with a robot script in a fresh prefix."""

    def setUp(self):
        # A missing template fails rather than skips: a skipped run would
        # look like a passed one in ctest.
        if not (BUILD and TEMPLATE):
            self.fail("E2E_BUILD and E2E_WINE_TEMPLATE must be set (scripts/test sets them)")
        self.work = tempfile.mkdtemp(prefix="e2e-")
        self.prefix = os.path.join(self.work, "prefix")
        subprocess.run(["cp", "-a", TEMPLATE, self.prefix], check=True)

    def tearDown(self):
        if hasattr(self, "work"):
            self.wine_env_run(["wineserver", "-k"])
            shutil.rmtree(self.work, ignore_errors=True)

    def restart(self):
        """A fresh prefix, for the next case of a table."""
        self.tearDown()
        self.setUp()

    def wine_env(self) -> dict:
        env = dict(os.environ)
        env["WINEPREFIX"] = self.prefix
        env["WINEDEBUG"] = "-all"
        env["WINEDLLOVERRIDES"] = "winemenubuilder.exe=d;mscoree,mshtml="
        return env

    def wine_env_run(self, command, **kwargs):
        return subprocess.run(command, env=self.wine_env(), capture_output=True, **kwargs)

    def run_installer(self, exe: str, script: str, args=(), timeout=60, cwd=None) -> Run:
        script_path = os.path.join(self.work, "script.txt")
        with open(script_path, "w") as f:
            f.write(script.strip() + "\n")
        command = ["wine", ROBOT, "--timeout", str(timeout), script_path, "--", exe, *args]
        proc = self.wine_env_run(command, timeout=timeout + 60, cwd=cwd or self.work, text=True)
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
            elif "caption" in record:
                run.boxes.append(record)
        return run

    def wine(self, *command: str) -> str:
        """Runs a Windows program of the test in this prefix; its output."""
        proc = self.wine_env_run(["wine", *command], text=True, timeout=120)
        return proc.stdout

    def assertCleanRun(self, run: Run):
        self.assertEqual(run.robot_code, 0, "robot failed:\n" + run.raw)
        self.assertEqual(run.exit_code, 0, run.raw)

    def assertBox(self, box: dict, caption: str, text: str, icon: str, owner=None):
        self.assertEqual((box["caption"], box["text"], box["icon"], box["owner"]),
                         (caption, text, icon, owner), box)
