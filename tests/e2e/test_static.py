"""The installers of both architectures, checked without running them: the
packager makes the sample installer for x86 and for x64, and each must be
the executable format of its architecture, a Windows GUI program that
imports only from the system's own libraries, and carry the installer's
dialogs, string table and description. This runs on any host, also where
one of the two cannot be run."""
import os
import re
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("E2E_BUILD", "")
MKSETUP = os.environ.get("MKSETUP", "")
# This objdump reads PE32 and PE32+ alike.
OBJDUMP = "x86_64-w64-mingw32-objdump"

SYSTEM_LIBRARIES = {"advapi32.dll", "comctl32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
                    "oleaut32.dll", "shell32.dll", "user32.dll", "wsock32.dll"}
FORMATS = {"x86": ("pei-i386", "010b", "x86 (32-bit, PE32)"),
           "x64": ("pei-x86-64", "020b", "x64 (64-bit, PE32+)")}


class StaticTest(unittest.TestCase):
    def setUp(self):
        if not (BUILD and MKSETUP):
            self.fail("E2E_BUILD and MKSETUP must be set (ctest sets them)")
        self.work = tempfile.TemporaryDirectory()
        self.addCleanup(self.work.cleanup)

    def package(self, arch: str) -> str:
        exe = os.path.join(self.work.name, f"kestrin_{arch}.exe")
        subprocess.run([MKSETUP, "build", os.path.join(ROOT, "sample", "description.in"),
                        "-o", exe, "--payloads", os.path.join(BUILD, "sample", "payloads"),
                        "--arch", arch], check=True, stdout=subprocess.DEVNULL)
        return exe

    def test_each_architecture(self):
        for arch, (file_format, magic, listed) in FORMATS.items():
            with self.subTest(arch=arch):
                exe = self.package(arch)
                dump = subprocess.run([OBJDUMP, "-p", exe], check=True, capture_output=True,
                                      text=True).stdout
                self.assertIn("file format " + file_format, dump)
                self.assertRegex(dump, rf"\nMagic\s+{magic}\s")
                self.assertRegex(dump, r"\nSubsystem\s+00000002\s+\(Windows GUI\)")
                imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
                self.assertTrue(imports, dump)
                self.assertLessEqual(imports, SYSTEM_LIBRARIES)
                # The packager's listing reads the dialogs, the string table
                # and the carried description, and refuses an installer
                # without them.
                listing = subprocess.run([MKSETUP, "list", exe], check=True, capture_output=True,
                                         text=True).stdout
                self.assertEqual(listing.splitlines()[0], "Windows: " + listed)
                self.assertRegex(listing, r"\nfile [0-9a-z]{32} \d+ carried Kestrin\.exe\n")


if __name__ == "__main__":
    unittest.main()
