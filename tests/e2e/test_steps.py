"""The directive steps end to end: destination folder, licence, file
installation with its status window and Cancel, and the Start Menu
shortcut, on the sample installer and on small fixtures."""
import os
import unittest

from e2e import (ACCEPT_ALL, FOLDER_FIELD, KEY, LINKINFO, SAMPLE, SAMPLE_FILES, SAMPLE_MESSAGE,
                 InstallerTest, description_name, installer, names, payload)

# The files of big_setup, in the order it installs them.
BIG_FILES = [f"part{i:02}.bin" for i in range(1, 13)]


class SampleTest(InstallerTest):
    def kestrin_dir(self, run):
        return run.drive_c("Program Files", "Kestrin")

    def test_full_run_with_the_defaults(self):
        run = self.run_installer(installer("kestrin_setup", SAMPLE), ACCEPT_ALL)
        self.assertCleanRun(run)
        folder, licence, status, message = run.boxes
        self.assertEqual((folder["caption"], folder["fields"][FOLDER_FIELD], folder["buttons"]),
                         ("Quillon Setup", "C:\\Program Files\\Kestrin", ["OK", "Browse...", "Cancel"]))
        self.assertEqual(licence["text"].encode(), payload("licence.txt"))
        self.assertBox(licence, "Software License", licence["text"], "question")
        self.assertEqual((status["caption"], status["buttons"]), ("Kestrin Setup", ["Cancel"]))
        self.assertTrue(status["text"].startswith("Installing "), status)
        self.assertBox(message, "Kestrin Setup", SAMPLE_MESSAGE, "information", owner="Kestrin Setup")

        for name in SAMPLE_FILES:
            with open(os.path.join(self.kestrin_dir(run), name), "rb") as f:
                self.assertEqual(f.read(), payload(name), name)
        link = run.drive_c("users", os.environ.get("USER", "root"), "AppData", "Roaming",
                           "Microsoft", "Windows", "Start Menu", "Programs", "Kestrin.lnk")
        info = self.wine(LINKINFO, link).splitlines()
        self.assertEqual(info, ["C:\\Program Files\\Kestrin\\Kestrin.exe",
                                "C:\\Program Files\\Kestrin", "Kestrin.lnk"])
        self.assertEqual(run.registry_values(KEY + "Kestrin"),
                         {"Version": "1.2", "Dir": "C:\\Program Files\\Kestrin",
                          "Description": description_name(installer("kestrin_setup", SAMPLE))})

        # A second run finds every file in place and writes none of them.
        times = {n: os.stat(os.path.join(self.kestrin_dir(run), n)).st_mtime_ns for n in SAMPLE_FILES}
        again = self.run_installer(installer("kestrin_setup", SAMPLE), ACCEPT_ALL)
        self.assertCleanRun(again)
        self.assertEqual(len(again.boxes), 4)
        self.assertEqual({n: os.stat(os.path.join(self.kestrin_dir(run), n)).st_mtime_ns
                          for n in SAMPLE_FILES}, times)

    def test_declining_writes_nothing(self):
        for script in ["press Cancel", "press OK\npress No"]:
            with self.subTest(script=script):
                self.restart()
                run = self.run_installer(installer("kestrin_setup", SAMPLE), script)
                self.assertCleanRun(run)
                self.assertEqual(len(run.boxes), script.count("\n") + 1)
                # The folder step may have created the folder; no file is in it.
                folder = self.kestrin_dir(run)
                self.assertEqual(os.listdir(folder) if os.path.exists(folder) else [], [])
                self.assertEqual(run.registry_values(KEY + "Kestrin"), {})


class StepsTest(InstallerTest):
    def test_cancel_confirmed_during_a_copy_ends_the_run(self):
        # Twelve copies of one 128 MiB payload, all optional, so that the
        # copy outlasts the robot's Cancel and Yes however fast it runs: the
        # abort ends the run anyway. A Yes that lands after a file's last
        # chunk lets that file complete and stops the next one instead.
        run = self.run_installer(installer("big_setup"),
                                 "press OK\nleave\nclick Cancel\npress Yes")
        self.assertCleanRun(run)
        question = run.boxes[-1]
        self.assertBox(question, "Big Setup", "Are you sure you want to abort installation?\n",
                       "question")
        folder = run.drive_c("Program Files", "Big")
        size = names("big_setup")[BIG_FILES[0]][1]
        left = sorted(os.listdir(folder))
        self.assertLess(len(left), len(BIG_FILES))
        self.assertEqual(left, BIG_FILES[:len(left)])
        for name in left:
            self.assertEqual(os.path.getsize(os.path.join(folder, name)), size)
        self.assertEqual(run.registry_values(KEY + "Big"), {})

    def test_cancel_declined_lets_the_copy_complete(self):
        run = self.run_installer(installer("big_setup"),
                                 "press OK\nleave\nclick Cancel\npress No\npress OK")
        self.assertCleanRun(run)
        self.assertEqual(run.boxes[-1]["text"], "Big installed.")
        size = names("big_setup")[BIG_FILES[0]][1]
        for name in BIG_FILES:
            self.assertEqual(os.path.getsize(run.drive_c("Program Files", "Big", name)), size)
        self.assertEqual(run.registry_values(KEY + "Big")["Version"], "1.0")

    def test_wrong_bytes_and_missing_subfolder(self):
        # good.txt installs; optional.txt fails its digest and is skipped;
        # nosuch\good.txt cannot be created; required.txt fails and ends it.
        run = self.run_installer(installer("mismatch_setup"),
                                 "press OK\nleave\npress OK\npress OK\npress OK")
        self.assertCleanRun(run)
        mismatch = "Error reading file to be installed: downloaded file does not match its message digest!"
        self.assertEqual([(b["text"], b["icon"], b["owner"]) for b in run.boxes[2:]], [
            (mismatch, "error", "Mismatch Setup"),
            ("Can't open file 'nosuch\\good.txt' for writing: The system cannot find the specified path.",
             "error", "Mismatch Setup"),
            (mismatch, "error", "Mismatch Setup"),
        ])
        folder = run.drive_c("Program Files", "Mismatch")
        self.assertEqual(sorted(os.listdir(folder)), ["good.txt"])
        self.assertEqual(run.registry_values(KEY + "Mismatch"), {})

    def test_typed_path_of_missing_levels_with_forward_slashes(self):
        run = self.run_installer(installer("small_setup"),
                                 f"type {FOLDER_FIELD} C:/deep/er/still/here\n"
                                 "press OK\nleave\npress OK")
        self.assertCleanRun(run)
        self.assertTrue(os.path.isfile(run.drive_c("deep", "er", "still", "here", "readme.txt")))
        self.assertEqual(run.registry_values(KEY + "Small")["Dir"], "C:/deep\\er\\still\\here")

    def test_browse_for_the_folder(self):
        # The shell's folder browser, opened over a typed path: a chosen
        # folder replaces the field's whole text and the files go there;
        # cancelling the browser leaves the field as it was. The folder
        # dialog stays open either way, for its OK.
        cases = [
            # (steps in the browser, the field afterwards, folder under drive_c)
            ("choose Desktop\\My Computer\\(C:)\\Chosen\npress OK", "C:\\Chosen", "Chosen"),
            ("press Cancel", "C:\\Typed", "Typed"),
        ]
        for browser, field, folder in cases:
            with self.subTest(browser=browser):
                self.restart()
                os.makedirs(os.path.join(self.prefix, "drive_c", "Chosen"))
                run = self.run_installer(installer("small_setup"),
                                         f"type {FOLDER_FIELD} C:\\Typed\npress Browse...\n" + browser +
                                         "\nclick OK\nleave\npress OK")
                self.assertCleanRun(run)
                shown = run.boxes[1]
                self.assertEqual((shown["text"], shown["owner"], shown["buttons"]),
                                 ("Select Folder for Kestrin", "Quillon Setup", ["OK", "Cancel"]))
                self.assertEqual(run.clicked[0]["fields"][FOLDER_FIELD], field)
                self.assertTrue(os.path.isfile(run.drive_c(folder, "readme.txt")))
                self.assertEqual(run.registry_values(KEY + "Small")["Dir"], field)

    def test_folder_that_cannot_be_created(self):
        # An empty name, and a root-relative path whose first directory to
        # create is the empty name.
        for typed in ["", "\\nohost\\x"]:
            with self.subTest(typed=typed):
                self.restart()
                run = self.run_installer(installer("small_setup"),
                                         f"type {FOLDER_FIELD} {typed}\npress OK\npress OK")
                self.assertCleanRun(run)
                self.assertTrue(run.boxes[-1]["text"].startswith(
                    "Unable to create destination directory: "), run.boxes[-1])
                self.assertEqual(run.registry_values(KEY + "Small"), {})


class RegistryTest(InstallerTest):
    """The per-user values the folder and shortcut steps read."""

    CURRENT_VERSION = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion"
    SHELL_FOLDERS = CURRENT_VERSION + "\\Explorer\\Shell Folders"

    def test_program_files_from_the_current_user(self):
        self.wine("reg", "add", self.CURRENT_VERSION, "/v", "ProgramFilesDir", "/d", "C:\\Apps", "/f")
        run = self.run_installer(installer("small_setup"), "press OK\nleave\npress OK")
        self.assertCleanRun(run)
        self.assertEqual(run.boxes[0]["fields"][FOLDER_FIELD], "C:\\Apps\\Small")
        self.assertTrue(os.path.isfile(run.drive_c("Apps", "Small", "readme.txt")))

    def test_programs_folder_without_its_value(self):
        # Without the "Programs" value the link goes to the Windows folder's
        # Start Menu\Programs, which is not created when it is missing.
        for make_folder in [False, True]:
            with self.subTest(make_folder=make_folder):
                self.restart()
                self.wine("reg", "delete", self.SHELL_FOLDERS, "/v", "Programs", "/f")
                programs = os.path.join(self.prefix, "drive_c", "windows", "Start Menu", "Programs")
                if make_folder:
                    os.makedirs(programs)
                run = self.run_installer(installer("shortcut_setup"),
                                         "press OK\nleave\npress OK")
                self.assertCleanRun(run)
                if make_folder:
                    self.assertEqual(run.boxes[-1]["text"], "Shortcut installed.")
                    info = self.wine(LINKINFO, os.path.join(programs, "Readme.lnk")).splitlines()
                    self.assertEqual(info, ["C:\\Program Files\\Shortcut\\readme.txt",
                                            "C:\\Program Files\\Shortcut", "Readme.lnk"])
                else:
                    self.assertBox(run.boxes[-1], "Shortcut Setup",
                                   "Can't create shortcut in Programs/Start Menu: Unknown error.",
                                   "error", owner="Shortcut Setup")
                    self.assertEqual(run.registry_values(KEY + "Shortcut"), {})


if __name__ == "__main__":
    unittest.main()
