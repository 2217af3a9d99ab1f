#!/usr/bin/env python3
"""The scheduled replacement of services.exe carried out by a restart: after
`wineboot -r` the system directory holds a copy of the clean image from the
component store, and the store keeps its own file."""
import os
import re
import subprocess
import unittest

import wineprefix

BUILD = os.environ.get("VORN_BUILD_DIR", "")
TESTS = os.path.join(BUILD, "tests", "cleanup")
PROBE = os.path.join(TESTS, "services_exe_probe.exe")
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
STORE_ENTRY = "amd64_microsoft-windows-s..s-controlmanager_31bf3856ad364e35_%s_none_4aa7d2a0a7bd7b5c"


def fixture(name):
    with open(os.path.join(TESTS, "image-fixtures", name), "rb") as f:
        return f.read()


def read(path):
    with open(path, "rb") as f:
        return f.read()


class ServicesExeRestartTest(unittest.TestCase):
    def run_probe(self, prefix, *args):
        # Version queries on files named services.exe must reach the files,
        # not Wine's built-in service manager.
        env = prefix.env
        env["WINEDLLOVERRIDES"] += ";services.exe=n,b"
        r = subprocess.run([wineprefix.WINE, PROBE] + list(args), env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        return r.returncode, r.stdout.decode("utf-8", "replace").replace("\r", "").splitlines()

    def test_restart_puts_the_clean_copy_in_place(self):
        infected = fixture("v6.1.7601.17514-nodyn.exe")
        clean = fixture("v6.1.7601.17514-dyn.exe")
        with wineprefix.Prefix("win7") as p:
            # Started once with Wine's own service manager before anything
            # is planted over it.
            p.reg("query", SESSION_MANAGER)
            image = os.path.join(p.system32(), "services.exe")
            store = os.path.join(p.root, "drive_c", "windows", "winsxs")
            decoy = os.path.join(store, STORE_ENTRY % "6.1.7601.17515", "services.exe")
            source = os.path.join(store, STORE_ENTRY % "6.1.7601.17514", "services.exe")
            p.plant(image, infected)
            p.plant(decoy, fixture("v6.1.7601.17515-dyn.exe"))
            p.plant(source, clean)
            # The run's current directory, as the desktop is for the cleaner.
            work = os.path.join(p.root, "drive_c", "cleaner-run")
            os.makedirs(os.path.join(work, "RA Ravariv"))
            backup = os.path.join(work, "RA Ravariv", "services.exe.infected")

            self.assertEqual((0, ["infected"]), self.run_probe(p, "check"))
            code, lines = self.run_probe(p, "restore", "C:\\cleaner-run")
            self.assertEqual(0, code, lines)
            staged = [name for name in os.listdir(p.system32()) if re.fullmatch(r"svc[0-9A-Fa-f]+\.tmp", name)]
            self.assertEqual(1, len(staged), staged)
            self.assertEqual([
                "info: Current infected services.exe version: 6.1.7601.17514",
                "info: Located clean services exe: C:\\windows\\winsxs\\%s\\services.exe"
                % (STORE_ENTRY % "6.1.7601.17514"),
                "info: Making backup of current services.exe",
                "pending:",
                "\\??\\C:\\windows\\system32\\" + staged[0],
                "!\\??\\C:\\windows\\system32\\services.exe",
            ], lines)
            self.assertTrue(read(backup) == infected)
            self.assertTrue(read(image) == infected, "nothing moves before the restart")

            p.wineboot_restart()

            self.assertTrue(read(image) == clean, "the system directory holds the clean copy")
            self.assertTrue(read(source) == clean, "the component store keeps its file")
            self.assertFalse(os.path.exists(os.path.join(p.system32(), staged[0])))
            self.assertTrue(read(decoy) == fixture("v6.1.7601.17515-dyn.exe"))
            self.assertIsNone(p.reg_value(SESSION_MANAGER, "PendingFileRenameOperations"))
            self.assertTrue(read(backup) == infected)
            self.assertEqual((0, ["clean"]), self.run_probe(p, "check"))


if __name__ == "__main__":
    unittest.main()
