#!/usr/bin/env python3
"""The unattended life of the real cleaner, as a deployment tool runs it:
"-silent" with standard input closed and no terminal, the exit code read in
full, the restoration run by its temporary service at the next start with
nobody logged on, the service gone and its copy removed at the start after,
and a later run on the clean machine that changes nothing."""

import os
import re
import subprocess
import time
import unittest

import cleaner
import infected_machine
import malware_files
import wineprefix

BUILD = os.environ.get("VORN_BUILD_DIR", ".")
EXE = cleaner.exe(BUILD)

SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\VORNTarnvexRestoration"
STATE_KEY = r"HKLM\Software\VORN\Tarnvex.EV Cleaner"
LOG_DIR = "C:\\vorn logs"
DEBUG_DIR = "C:\\windows\\Debug\\RA Ravariv"
COPY_PATTERN = r"C:\\windows\\VORN Tarnvex\.EV Cleaner [0-9a-f]{8}\\VORNTarnvexEvCleaner\.exe"
# Who may change the service's copy: LocalSystem, the administrators, and the
# run's own token user (under Wine the prefix user, an administrator).
TRUSTED = {"SY", "BA", "S-1-5-18", "S-1-5-32-544", malware_files.USER_SID}
# Rights that change a file or directory or its security.
WRITE_TOKENS = {"FA", "FW", "GA", "GW", "WD", "WO", "SD", "DC", "CC", "WP", "DT"}
WRITE_MASK = 0x500D0156


def run_silent(m, args):
    """The cleaner started by a batch file with stdin closed and no terminal,
    as a deployment tool starts it; (full exit code, console lines)."""
    p = m.prefix
    line = '@"%s" %s\r\n@echo code=%%errorlevel%%\r\n' % (m.cleaner_windows, " ".join(args))
    p.plant(p.unix_path("C:\\vorn-run.bat"), line.encode())
    env = p.env
    env["WINEDLLOVERRIDES"] += ";" + infected_machine.NATIVE_SERVICES
    r = subprocess.run([wineprefix.WINE, "cmd", "/c", "C:\\vorn-run.bat"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=180)
    lines = [l for l in r.stdout.decode("utf-8", "replace").replace("\r", "").split("\n") if l.strip()]
    code = re.fullmatch(r"code=(-?\d+)", lines[-1])
    if not code:
        raise AssertionError("no exit code: %r" % lines)
    return int(code.group(1)), lines[:-1]


def next_start(p):
    """Shuts the prefix's session down and starts the next one, with nobody
    logged on: pending renames are carried out and automatically started
    services run. The session is kept, so that key security written by the
    service can be read."""
    subprocess.run(["wineserver", "-k"], env=p.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=p.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    p.keep_server_running()


def backups(directory):
    return [n for n in os.listdir(directory) if n.startswith("Registry backup ")]


def state(p):
    return p.reg_value(STATE_KEY, "Restoration")


def writers(m, path):
    """SIDs whose DACL entries let them change the file or directory."""
    code, out = m.tool("file-security", path)
    if code != 0:
        raise AssertionError("security of %s unreadable" % path)
    found = set()
    for ace_type, rights, sid in re.findall(r"\(([A-Z]+);[A-Z]*;([^;]*);[^;]*;[^;]*;([^)]*)\)", out):
        if ace_type != "A":
            continue
        if rights.startswith("0x"):
            changes = int(rights, 16) & WRITE_MASK
        else:
            changes = {rights[i:i + 2] for i in range(0, len(rights), 2)} & WRITE_TOKENS
        if changes:
            found.add(sid)
    owner = re.match(r"O:([A-Z]{2}|S-[0-9-]+)", out)
    return found | ({owner.group(1)} if owner else {"(no owner)"})


class Unattended(unittest.TestCase):
    def unattended_life(self, version):
        with wineprefix.Prefix(version) as p:
            m = infected_machine.InfectedMachine(p, BUILD)
            m.infect(EXE)

            code, lines = run_silent(m, ["-silent", "-norestart", "-log", '"%s"' % LOG_DIR])
            self.assertEqual(3010, code, lines)
            self.assertTrue(lines[-1].startswith("Summary: rootkit traces found"), lines)
            self.assertNotIn("(y/n)", "\n".join(lines))
            image_path = p.reg_value(SERVICE_KEY, "ImagePath")
            self.assertRegex(image_path, '^"%s" -silent -r -service -log "%s" -norestart$'
                             % (COPY_PATTERN, re.escape(LOG_DIR)))
            self.assertEqual("LocalSystem", p.reg_value(SERVICE_KEY, "ObjectName"))
            self.assertEqual("0x2", p.reg_value(SERVICE_KEY, "Start"))
            self.assertEqual("pending", state(p))
            copy = image_path.split('"')[1]
            for path in (copy, os.path.dirname(copy.replace("\\", "/")).replace("/", "\\")):
                self.assertLessEqual(writers(m, path), TRUSTED, path)
            self.assertIsNone(m.run_once(), "no RunOnce value: nobody may log on")
            self.assertFalse(os.path.exists(m.log), "nothing on the desktop")
            log_dir = p.unix_path(LOG_DIR)
            self.assertEqual(1, len(backups(log_dir)))

            # Run again before the restart (a script retried): no second service.
            code, lines = run_silent(m, ["-silent", "-norestart", "-log", '"%s"' % LOG_DIR])
            self.assertEqual(3010, code, lines)
            self.assertIn("restoration already scheduled", lines[-1])
            self.assertEqual(image_path, p.reg_value(SERVICE_KEY, "ImagePath"))
            self.assertEqual(1, len([n for n in os.listdir(p.unix_path("C:\\windows")) if n.startswith("VORN ")]))
            self.assertEqual("pending", state(p))
            cleaning_backups = len(backups(log_dir))

            # The next start: the service runs the restoration by itself.
            next_start(p)
            for _ in range(60):
                if state(p) != "pending":
                    break
                time.sleep(1)
            self.assertRegex(state(p) or "", r"^done \d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d exit 3010$")
            verified, report = m.verify_services()
            self.assertEqual(0, verified, report)
            self.assertIsNone(p.reg_value(SERVICE_KEY, "ImagePath"), "the service deleted its registration")
            log = wineprefix.read_bytes(os.path.join(log_dir, "TarnvexFix.log")).decode("utf-16")
            self.assertIn("info: Deleted the restoration service", log)
            self.assertEqual(cleaning_backups + 1, len(backups(log_dir)), "the restoration's own backup")
            self.assertTrue(os.path.exists(p.unix_path(copy)))

            # The start after removes the copy and its directory.
            next_start(p)
            p.reg("query", STATE_KEY)
            self.assertFalse(os.path.exists(os.path.dirname(p.unix_path(copy))))

            # A later run (a startup script runs at every start) changes nothing.
            before = os.listdir(log_dir)
            code, lines = run_silent(m, ["-silent", "-log", '"%s"' % LOG_DIR])
            self.assertEqual(0, code, lines)
            self.assertIn("nothing changed", lines[-1])
            self.assertIn("no restart needed", lines[-1])
            self.assertEqual(sorted(before), sorted(os.listdir(log_dir)), "no registry backup: nothing changed")
            self.assertIsNone(p.reg_value(SERVICE_KEY, "ImagePath"))
            self.assertRegex(state(p), " exit 3010$")

    def test_windows_7(self):
        self.unattended_life("win7")

    def test_windows_xp(self):
        self.unattended_life("winxp")

    def test_no_desktop_logs_in_the_windows_debug_directory_and_restarts(self):
        """As LocalSystem on 64-bit Windows: no desktop folder, no -log."""
        with wineprefix.Prefix("win7") as p:
            m = infected_machine.InfectedMachine(p, BUILD)
            m.infect(EXE)
            # The cleaner stays where it is; only the folder's name goes.
            os.rename(p.desktop, p.desktop + ".gone")
            m.cleaner_windows = m.cleaner_windows.replace("\\Desktop\\", "\\Desktop.gone\\")
            code, lines = run_silent(m, ["-silent"])
            self.assertEqual(1641, code, lines)
            self.assertIn("restart initiated", lines[-1])
            debug = p.unix_path(DEBUG_DIR)
            self.assertIn("TarnvexFix.log", os.listdir(debug))
            self.assertTrue(backups(debug))
            self.assertRegex(p.reg_value(SERVICE_KEY, "ImagePath"),
                             '^"%s" -silent -r -service -log "%s"$' % (COPY_PATTERN, re.escape(DEBUG_DIR)))
            # Without -silent the run keeps its old answer.
            code, lines = run_silent(m, [])
            self.assertEqual(-1, code, lines)
            self.assertEqual(["Couldn't retrieve path to Desktop"], lines)


if __name__ == "__main__":
    unittest.main()
