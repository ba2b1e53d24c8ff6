"""The 32-bit installer on 64-bit Windows: in the 64-bit build's prefix,
64-bit Wine runs the x86 sample installer as Windows' WoW64 layer does. It
installs as the 64-bit installer does: the folder it proposes comes from
the current user's key, which WoW64 does not redirect, and it records the
product in the same per-user key. (Vector code on a stack that WoW64 left
aligned to 4 bytes made it crash here once.)

A host that runs no 32-bit programs cannot run it; the test then ends with
exit status 77, which ctest reports as skipped."""
import os
import subprocess
import sys
import unittest

from e2e import (ACCEPT_ALL, FOLDER_FIELD, KEY, MKSETUP, SAMPLE, SAMPLE_FILES, InstallerTest,
                 description_name, payload)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


class Wow64Test(InstallerTest):
    def test_x86_installer_on_64_bit_windows(self):
        exe = os.path.join(self.work, "kestrin_x86.exe")
        subprocess.run([MKSETUP, "build", os.path.join(ROOT, "sample", "description.in"),
                        "-o", exe, "--payloads", os.path.join(SAMPLE, "payloads"),
                        "--arch", "x86"], check=True, stdout=subprocess.DEVNULL)
        run = self.run_installer(exe, ACCEPT_ALL)
        self.assertCleanRun(run)
        folder = "C:\\Program Files\\Kestrin"
        self.assertEqual(run.boxes[0]["fields"][FOLDER_FIELD], folder)
        for name in SAMPLE_FILES:
            with open(run.drive_c("Program Files", "Kestrin", name), "rb") as f:
                self.assertEqual(f.read(), payload(name), name)
        self.assertEqual(run.registry_values(KEY + "Kestrin"), {"Version": "1.2", "Dir": folder,
                                                               "Description": description_name(exe)})


if __name__ == "__main__":
    if os.environ.get("QUILLON_HOST_RUNS_X86") != "1":
        print("not run: this host runs no 32-bit programs, so 32-bit installers cannot run here")
        sys.exit(77)
    unittest.main(verbosity=2)
