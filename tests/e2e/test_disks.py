"""Files on disks that fail, end to end: a destination folder that refuses
new files, a file in place that another program holds open, a full disk,
a file upgraded on another volume, and a run killed in the middle of a
copy.

The installer carries earlier.txt and payload.txt (both required) and
installs them in that order. Each failure shows its message with the
system's text, leaves nothing partly written, keeps the files already in
the folder as they were, and writes no registry record.
"""
import os
import shutil
import subprocess
import time
import unittest

from e2e import (BUILD, FOLDER_FIELD, HOSTILE_KEY, OLD, InstallerTest, hostile_payload, installer,
                 set_urls)
from loopback import STALL, HttpServer, http_ok
from netfixture import CLOSED

INSTALL = "press OK\nleave\npress OK"


def contents(folder: str) -> dict:
    files = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            files[name] = f.read()
    return files


class DiskTest(InstallerTest):
    def folder(self, *parts):
        return os.path.join(self.prefix, "drive_c", "Program Files", "Hostile", *parts)

    def put_old_file(self, name: str, data: bytes = OLD, folder: str = ""):
        folder = folder or self.folder()
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    def assertFailedWith(self, run, message, left, files):
        """The run ended with message, left the folder holding exactly
        files, and wrote no registry record."""
        self.assertCleanRun(run)
        self.assertEqual((run.boxes[-1]["text"], run.boxes[-1]["owner"]),
                         (message, "Hostile Setup"), run.raw)
        self.assertEqual(left, files)
        self.assertEqual(run.registry_values(HOSTILE_KEY), {})

    def test_folder_that_refuses_new_files(self):
        # An immutable directory refuses every new name, even to root; the
        # file in place stays writable, so only the replacement is refused.
        self.put_old_file("earlier.txt")
        subprocess.run(["chattr", "+i", self.folder()], check=True)
        try:
            run = self.run_installer(installer("disk_setup"), INSTALL)
        finally:
            subprocess.run(["chattr", "-i", self.folder()], check=True)
        self.assertFailedWith(run, "Can't open file 'earlier.txt' for writing: Access is denied.",
                              contents(self.folder()), {"earlier.txt": OLD})

    def test_file_held_open_by_another_program(self):
        self.put_old_file("payload.txt")
        holder = subprocess.Popen(
            ["wine", os.path.join(BUILD, "tests", "e2e", "holdfile.exe"),
             "C:\\Program Files\\Hostile\\payload.txt"],
            env=self.wine_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(holder.stdout.readline().strip(), "held")
            run = self.run_installer(installer("disk_setup"), INSTALL,
                                     before_wait=holder.stdin.close)
        finally:
            holder.stdin.close()
            holder.wait(60)
            holder.stdout.close()
        self.assertFailedWith(
            run, "Can't open file 'payload.txt' for writing: The process cannot access the file "
            "because it is being used by another process.", contents(self.folder()),
            {"earlier.txt": hostile_payload("earlier.txt"), "payload.txt": OLD})

    def test_full_disk(self):
        # Drive D: is a tmpfs of four pages: earlier.txt and the old
        # payload.txt take one each, and the new payload.txt (18000 bytes)
        # does not fit in the two left.
        disk = os.path.join(self.work, "disk")
        os.makedirs(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16k", "tmpfs", disk],
                                 capture_output=True, text=True)
        self.assertEqual(mounted.returncode, 0, "a full disk needs a tmpfs: " + mounted.stderr)
        try:
            os.symlink(disk, os.path.join(self.prefix, "dosdevices", "d:"))
            folder = os.path.join(disk, "Hostile")
            self.put_old_file("payload.txt", folder=folder)
            run = self.run_installer(installer("disk_setup"),
                                     f"type {FOLDER_FIELD} D:\\Hostile\n" + INSTALL)
            left = contents(folder)
        finally:
            subprocess.run(["umount", disk], check=True)
        self.assertFailedWith(run, "Error writing output file: There is not enough space on "
                              "the disk.", left,
                              {"earlier.txt": hostile_payload("earlier.txt"), "payload.txt": OLD})

    def test_upgrade_of_a_file_on_another_volume(self):
        # The subfolder data is a mount point of another volume; the new
        # payload.txt is written beside the old one there and moved over it.
        data = self.folder("data")
        os.makedirs(data)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", data],
                                 capture_output=True, text=True)
        self.assertEqual(mounted.returncode, 0, "another volume needs a tmpfs: " + mounted.stderr)
        try:
            self.put_old_file("payload.txt", folder=data)
            run = self.run_installer(installer("subfolder_disk_setup"), INSTALL)
            left = contents(data)
        finally:
            subprocess.run(["umount", data], check=True)
        self.assertCleanRun(run)
        self.assertEqual(run.boxes[-1]["text"], "Hostile installed.", run.raw)
        self.assertEqual(left, {"payload.txt": hostile_payload("payload.txt")})

    def test_run_killed_mid_copy_then_run_again(self):
        # The server stalls after 9000 bytes, mid-file; once the file being
        # written exists the prefix's programs are killed, as by a power cut. The
        # next run, against a server that answers, completes the install
        # and leaves no partial file.
        body = hostile_payload("payload.txt")
        for upgrade in [True, False]:
            with self.subTest(upgrade=upgrade):
                self.restart()
                server = HttpServer(http_ok(body)[:1] + [body[:9000], STALL], wait=300)
                try:
                    exe = os.path.join(self.work, "hostile_setup.exe")
                    shutil.copy(installer("hostile_setup"), exe)
                    set_urls(exe, f"127.0.0.1:{server.port}", CLOSED)
                    if upgrade:
                        self.put_old_file("payload.txt")
                    partial = "~setup.part" if upgrade else "payload.txt"
                    self.kill_when_created(exe, self.folder(partial))
                    left = contents(self.folder())
                    # Whatever reached the disk before the kill: the copy
                    # gathers its writes, so perhaps nothing.
                    self.assertLess(len(left[partial]), len(body))
                    self.assertTrue(body.startswith(left[partial]))
                    if upgrade:
                        self.assertEqual(left["payload.txt"], OLD)

                    server.answer = http_ok(body)
                    run = self.run_installer(exe, INSTALL)
                finally:
                    server.stop()
                self.assertCleanRun(run)
                self.assertEqual(run.boxes[-1]["text"], "Hostile installed.")
                self.assertEqual(contents(self.folder()),
                                 {"earlier.txt": hostile_payload("earlier.txt"),
                                  "payload.txt": body})
                self.assertEqual(run.registry_values(HOSTILE_KEY)["Version"], "1.0")

    def kill_when_created(self, exe, path):
        """Starts exe and kills every program of the prefix once path
        exists."""
        robot = subprocess.Popen(self.robot_command(exe, "press OK\nleave", timeout=120),
                                 env=self.wine_env(), cwd=self.work,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 120
            while not os.path.exists(path):
                self.assertLess(time.monotonic(), deadline, "no file " + path)
                time.sleep(0.1)
        finally:
            self.wine_env_run(["wineserver", "-k"])
            robot.wait(60)


if __name__ == "__main__":
    unittest.main()
