"""The packager and the installer agree on the installer's limits: for each
limit, a template at the limit is packaged and the installer carries it
out; one byte over, the packager refuses it, and an installer forged to
carry it anyway refuses it too. Both take the limits from one header
(setup/rules.h), so that changing one changes both."""
import os
import shutil
import subprocess
import tempfile
import unittest

from e2e import ARCH, BUILD, KEY, MKSETUP, InstallerTest

FORGE = os.path.join(BUILD, "tools", "mksetup-native", "tools", "mksetup", "forge_installer")
INVALID = "Invalid setup description file"
TOO_LONG = "The file name or extension is too long."


def template(name="Lim", folder="Lim", padding=0) -> str:
    """A description of T, V, F and M lines; padding adds a comment line (a
    letter the installer skips) so that the whole has that many more
    bytes."""
    text = f"T{name}\nV1\nF{folder}\nMDone.\n"
    if padding:
        text += "#" + "c" * (padding - 2) + "\n"
    return text


BASE = len(template())

# (limit, the template at the limit, one byte over it, the packager's words
# for the one over, the boxes the installer shows for the one over (the
# last one its message), that message and its caption)
ROWS = [
    ("product name of 94 bytes", template(name="P" * 94), template(name="P" * 95),
     "product name of 95 bytes", 3,
     "Can't enter registry information: the product name is too long", "P" * 95 + " Setup"),
    ("folder name of 242 bytes", template(folder="f" * 242), template(folder="f" * 243),
     "folder name of 243 bytes", 1,
     "Unable to create destination directory: " + TOO_LONG, "Lim Setup"),
    ("description of 4095 bytes", template(padding=4095 - BASE), template(padding=4096 - BASE),
     "4096 bytes", 1, INVALID, "Quillon Internet Setup"),
]


class LimitTest(InstallerTest):
    def setUp(self):
        super().setUp()
        # The installers outlive each case's sandbox.
        self.made = tempfile.mkdtemp(prefix="limits-")
        self.addCleanup(shutil.rmtree, self.made, ignore_errors=True)

    def package(self, text: str, name: str) -> subprocess.CompletedProcess:
        path = os.path.join(self.made, name + ".in")
        with open(path, "w") as f:
            f.write(text)
        return subprocess.run([MKSETUP, "build", path, "-o", os.path.join(self.made, name + ".exe"),
                               "--arch", ARCH], capture_output=True, text=True)

    def test_both_sides_of_each_limit(self):
        for limit, at, over, words, boxes, message, caption in ROWS:
            with self.subTest(limit=limit):
                self.restart()
                self.assertEqual(self.package(at, "at").returncode, 0, limit)
                name = at.split("\n")[0][1:]
                run = self.run_installer(os.path.join(self.made, "at.exe"),
                                         "press OK\n" * (1 + at.count("\nF")))
                self.assertCleanRun(run)
                self.assertEqual(run.boxes[-1]["text"], "Done.", run.raw)
                self.assertEqual(run.registry_values(KEY + name)["Version"], "1")

                refused = self.package(over, "over")
                self.assertNotEqual(refused.returncode, 0)
                self.assertIn(words, refused.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.made, "over.exe")))
                forged = os.path.join(self.made, "forged.exe")
                subprocess.run([FORGE, os.path.join(self.made, "at.exe"), forged, "--description",
                                os.path.join(self.made, "over.in")], check=True,
                               capture_output=True)
                self.restart()
                run = self.run_installer(forged, "press OK\n" * boxes)
                self.assertCleanRun(run)
                self.assertEqual((run.boxes[-1]["caption"], run.boxes[-1]["text"]),
                                 (caption, message), run.raw)


if __name__ == "__main__":
    unittest.main()
