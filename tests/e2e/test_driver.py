"""The setup driver end to end: finding and reading the description, the
T, V and M lines, the registry record and the error boxes."""
import unittest

from e2e import KEY, InstallerTest, description_name, installer, names

INVALID = "Invalid setup description file"


class DriverTest(InstallerTest):
    def test_message_then_registry_record(self):
        run = self.run_installer(installer("demo_setup"), "press OK")
        self.assertCleanRun(run)
        self.assertEqual(len(run.boxes), 1)
        self.assertBox(run.boxes[0], "Demo Setup", "Demo installed.", "information")
        self.assertEqual(run.registry_values(KEY + "Demo"), {"Version": "2.0", "Dir": "", "Description": description_name(installer("demo_setup"))})

    def test_crlf_lines_comments_and_unknown_letters(self):
        run = self.run_installer(installer("crlf_setup"), "press OK")
        self.assertCleanRun(run)
        self.assertBox(run.boxes[0], "Crlf Setup", "With CR LF.", "information")
        self.assertEqual(run.registry_values(KEY + "Crlf"), {"Version": "3.0", "Dir": "",
                          "Description": description_name(installer("crlf_setup"))})

    def test_a_later_title_renames_boxes_and_key(self):
        run = self.run_installer(installer("two_titles_setup"), "press OK\npress OK")
        self.assertCleanRun(run)
        self.assertEqual([(b["caption"], b["text"]) for b in run.boxes],
                         [("First Setup", "One."), ("Second Setup", "Two.")])
        self.assertEqual(run.registry_values(KEY + "First"), {})
        self.assertEqual(run.registry_values(KEY + "Second"),
                         {"Version": "2.0", "Dir": "",
                          "Description": description_name(installer("two_titles_setup"))})

    def test_refusals(self):
        # (installer, arguments, boxes seen before the refusal, message)
        cases = [
            ("no_entry_setup", [], [], "Unable to install application: "
                                       "no setup description file was specified"),
            ("no_entry_setup", ["not-a-digest-name-at-all-0123456789"], [],
             "Unable to install application: no setup description file was specified"),
            ("tampered_description_setup", [], [], "Unable to read setup description file: "
                                                   "downloaded file does not match its message digest!"),
            ("v_before_t_setup", [], [], INVALID),
            ("t_without_v_setup", [], [], INVALID),
            ("no_t_setup", [], ["Shown before the check."], INVALID),
        ]
        for exe, args, before, message in cases:
            with self.subTest(exe=exe, args=args):
                self.restart()
                script = "press OK\n" * (len(before) + 1)
                run = self.run_installer(installer(exe), script, args)
                self.assertCleanRun(run)
                self.assertEqual([b["text"] for b in run.boxes[:-1]], before)
                self.assertBox(run.boxes[-1], "Quillon Internet Setup", message, "error")
                self.assertEqual(run.registry_values(KEY + "Demo"), {})

    def test_command_line_names_the_description_when_entry_123_does_not(self):
        # The forged installers carry demo_setup's description.
        name = names("demo_setup")["description"][0]
        for exe, args in [("no_entry_setup", [name]),
                          ("no_entry_setup", [name, "and", "more"]),
                          ("upper_entry_setup", [name]),
                          ("short_entry_setup", [name]),
                          ("long_entry_setup", [name]),
                          ("demo_setup", ["0" * 32])]:
            with self.subTest(exe=exe, args=args):
                self.restart()
                run = self.run_installer(installer(exe), "press OK", args)
                self.assertCleanRun(run)
                self.assertBox(run.boxes[0], "Demo Setup", "Demo installed.", "information")

    def test_product_name_too_long_for_its_key(self):
        run = self.run_installer(installer("long_name_setup"), "press OK")
        self.assertCleanRun(run)
        self.assertBox(run.boxes[0], "P" * 100 + " Setup",
                       "Can't enter registry information: the product name is too long", "error")


if __name__ == "__main__":
    unittest.main()
