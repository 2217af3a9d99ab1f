#!/usr/bin/env python3
"""The real cleaner under Wine: run modes, the question, notices, exit codes,
the log directory and the log file."""

import datetime
import os
import re
import unittest

import cleaner
import scenario
import wineprefix

EXE = cleaner.exe()

BANNER = "VORN Win32/Tarnvex.EV Cleaner v1.0.0.7 (Dec  4 2012 11:33:22)"
HINT = 'If you need only services restoration run "VORNTarnvexEvCleaner -r"'
QUESTION = ("It is recommended to restore some system services that might have been disabled by malware. "
            "Do you want to do that (y/n)?")
FOR_CHANGES = ("System has to be rebooted for changes to come in effect. "
               "You should save all your work and press any key to reboot...")
CONTINUE = ("System has to be rebooted to continue cleaning. "
            "You should save all your work and press any key to reboot...")
FINISH = ("System has to be rebooted to finish cleaning. "
          "You should save all your work and press any key to reboot...")
UNSUPPORTED = ("Not supported OS. Cleaner supports Windows XP, Vista, 7, Windows server 2003 R2 "
               "and Windows server 2008 R2.")
REBOOT_KEY = ("press any key to reboot...", " ")


def finished_notice(prefix):
    return "Cleaner finished, check C:\\users\\%s\\Desktop\\RA Ravariv directory for logs" % prefix.user


def log_path(prefix):
    return os.path.join(prefix.desktop, "RA Ravariv", "TarnvexFix.log")


def cleaning(prefix, key, args=()):
    return scenario.run_console(prefix, [EXE] + list(args), [("(y/n)?", key), REBOOT_KEY])


class Question(unittest.TestCase):
    def test_y_continues_every_other_key_finishes(self):
        with wineprefix.Prefix("win7") as p:
            for key, notice in (("y", CONTINUE), ("Y", CONTINUE), ("n", FINISH), ("N", FINISH),
                                ("\r", FINISH), (" ", FINISH), ("q", FINISH)):
                with self.subTest(key=key):
                    run = cleaning(p, key)
                    self.assertEqual(5, run.exit_code)
                    lines = run.lines
                    self.assertEqual([QUESTION, finished_notice(p), notice], lines[-3:])

    def test_whole_dialogue_of_a_cleaning_run_on_windows_7_and_xp(self):
        for version, os_line in (("win7", "OS: 6.1.7601 SP1"), ("winxp", "OS: 5.1.2600 SP3")):
            with self.subTest(version=version), wineprefix.Prefix(version) as p:
                run = cleaning(p, "y")
                self.assertEqual(5, run.exit_code)
                self.assertEqual(BANNER, run.lines[0])
                self.assertEqual(
                    [HINT, os_line, QUESTION, finished_notice(p), CONTINUE], run.lines[2:])
                # The banner is bright white, everything after it light grey.
                self.assertIn(b"\x1b[97mV", run.raw)


    def test_a_registration_that_fails_says_so_and_asks_for_no_continuation(self):
        fixture = os.path.join(os.environ.get("VORN_BUILD_DIR", "."), "tests", "driver", "MachineFixture.exe")
        with wineprefix.Prefix("win7") as p:
            # Key security lasts only as long as the Wine session.
            p.keep_server_running()
            self.assertEqual(0, p.run([fixture, "lock-runonce"]).returncode)
            run = cleaning(p, "y")
            self.assertEqual(5, run.exit_code)
            self.assertEqual([QUESTION, finished_notice(p), FINISH], run.lines[-3:])
            log = wineprefix.read_bytes(log_path(p)).decode("utf-16").splitlines()
            self.assertEqual(["info: Cleaning finished",
                              "info: Failed to register for start after reboot for services restoration"], log[-2:])
            self.assertIsNone(p.reg_value(r"HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce",
                                          "TarnvexEVCleaner"))


class RunModes(unittest.TestCase):
    def test_lone_dash_r_restores_without_a_question(self):
        with wineprefix.Prefix("win7") as p:
            run = scenario.run_console(p, [EXE, "-r"], [REBOOT_KEY])
            self.assertEqual(5, run.exit_code)
            self.assertNotIn(QUESTION, run.text)
            self.assertEqual([finished_notice(p), FOR_CHANGES], run.lines[-2:])

    def test_every_other_command_line_cleans(self):
        with wineprefix.Prefix("win7") as p:
            for args in (["-R"], ["/r"], ["-r "], ["-r", "x"], ["x", "-r"]):
                with self.subTest(args=args):
                    run = cleaning(p, "n", args)
                    self.assertEqual(5, run.exit_code)
                    self.assertIn(QUESTION, run.lines)

    def test_unsupported_windows_is_refused_without_question_or_restart(self):
        for version, os_line in (("win2k", "OS: 5.0.2195 SP4"), ("win8", "OS: 6.2.9200 SP0")):
            with self.subTest(version=version), wineprefix.Prefix(version) as p:
                run = scenario.run_console(p, [EXE], [])
                self.assertEqual(3, run.exit_code)
                self.assertEqual([HINT, os_line, UNSUPPORTED], run.lines[2:])


class LogDirectory(unittest.TestCase):
    def test_a_file_in_the_way_stops_the_run_before_the_banner(self):
        with wineprefix.Prefix("win7") as p:
            p.plant(os.path.join(p.desktop, "RA Ravariv"), b"not a directory")
            run = scenario.run_console(p, [EXE], [])
            self.assertEqual(255, run.exit_code)  # -1
            self.assertEqual(["Couldn't prepare directory for logs"], run.lines)

    def test_an_existing_directory_is_reused(self):
        with wineprefix.Prefix("win7") as p:
            other = os.path.join(p.desktop, "RA Ravariv", "keep.txt")
            p.plant(other, b"kept")
            run = cleaning(p, "n")
            self.assertEqual(5, run.exit_code)
            self.assertEqual(b"kept", wineprefix.read_bytes(other))
            self.assertTrue(os.path.isfile(log_path(p)))


COM_KEYS = [
    "HKCR\\CLSID\\{5839FCA9-774D-42A1-ACDA-D6A79037F57F}\\InprocServer32",
    "HKLM\\Software\\Classes\\CLSID\\{5839FCA9-774D-42A1-ACDA-D6A79037F57F}\\InprocServer32",
    "HKCR\\CLSID\\{fbeb8a05-beee-4442-804e-409d6c4515e9}\\InprocServer32",
    "HKLM\\Software\\Classes\\CLSID\\{fbeb8a05-beee-4442-804e-409d6c4515e9}\\InprocServer32",
    "HKCR\\CLSID\\{F3130CDB-AA52-4C3A-AB32-85FFC23AF9C1}\\InprocServer32",
    "HKLM\\Software\\Classes\\CLSID\\{f3130cdb-aa52-4c3a-ab32-85ffc23af9c1}\\InprocServer32",
    "HKCR\\CLSID\\{42aedc87-2188-41fd-b9a3-0c966feabec1}\\InprocServer32",
    "HKCU\\Software\\Classes\\CLSID\\{42aedc87-2188-41fd-b9a3-0c966feabec1}\\InprocServer32",
]


def expected_log(started, prefix):
    """The lines of a cleaning run on a fresh Windows 7 prefix, answered 'n'."""
    return (["info: " + "-" * 80,
             "info: " + BANNER,
             "info: " + "-" * 62,
             "info: Log started " + started.strftime("%Y.%m.%d %H:%M:%S"),
             "info: " + "-" * 80,
             "info: OS: 6.1.7601 SP1",
             "info: Product type: workstation",
             "info: WoW64: %d" % prefix.wow64,
             "info: " + "-" * 80,
             "debug: debug mode self-test",
             "info: Detected post-Vista %s windows system" % cleaner.bits(prefix)]
            # The fresh prefix has none of the COM keys.
            + ["info: Failed to open registry key %s " % key for key in COM_KEYS]
            + ["info: services.exe appears to be clean",
               "info: Attempting to remove malware files...",
               "info: Failed to generate BOT ID",
               "info: Cleaning finished"])


class LogFile(unittest.TestCase):
    def logged_run(self, prefix):
        before = datetime.datetime.utcnow().replace(microsecond=0)
        run = cleaning(prefix, "n")
        after = datetime.datetime.utcnow()
        self.assertEqual(5, run.exit_code)
        return before, after

    def run_bytes(self, prefix, data, before, after):
        """The run's lines as UTF-16LE with CR LF, with the logged start time
        taken from the data once it lies within the run."""
        text = data.decode("utf-16-le")
        at = text.index("info: Log started ") + len("info: Log started ")
        started = datetime.datetime.strptime(text[at:at + 19], "%Y.%m.%d %H:%M:%S")
        self.assertTrue(before <= started <= after, (before, started, after))
        return "".join(line + "\r\n" for line in expected_log(started, prefix)).encode("utf-16-le")

    def test_a_run_writes_exactly_its_lines_and_a_second_run_appends(self):
        with wineprefix.Prefix("win7") as p:
            first = self.logged_run(p)
            data = wineprefix.read_bytes(log_path(p))
            self.assertEqual(b"\xff\xfe", data[:2])
            one = self.run_bytes(p, data[2:], *first)
            self.assertEqual(one, data[2:])
            self.assertNotIn("Desktop dir".encode("utf-16-le"), data)

            second = self.logged_run(p)
            data = wineprefix.read_bytes(log_path(p))
            self.assertEqual(b"\xff\xfe" + one, data[:2 + len(one)])
            self.assertEqual(self.run_bytes(p, data[2 + len(one):], *second), data[2 + len(one):])


class RegistryBackup(unittest.TestCase):
    HIJACKED = "HKCU\\Software\\Classes\\CLSID\\{42aedc87-2188-41fd-b9a3-0c966feabec1}\\InprocServer32"

    def hijacked_run(self, block_backup):
        """A cleaning run on Windows 7 with one hijacked COM default; with
        block_backup, every backup name the run can take is a directory."""
        with wineprefix.Prefix("win7") as p:
            self.assertEqual(0, p.reg("add", self.HIJACKED, "/ve", "/d", "C:\\x\\tarnvex.dll", "/f")[0])
            directory = os.path.join(p.desktop, "RA Ravariv")
            if block_backup:
                now = datetime.datetime.utcnow()
                for second in range(0, 120):
                    name = (now + datetime.timedelta(seconds=second)).strftime("Registry backup %Y.%m.%d %H-%M-%S.reg")
                    os.makedirs(os.path.join(directory, name))
            run = cleaning(p, "n")
            self.assertEqual(5, run.exit_code)
            log = wineprefix.read_bytes(log_path(p)).decode("utf-16").splitlines()
            files = sorted(n for n in os.listdir(directory) if n.endswith(".reg")
                           and os.path.isfile(os.path.join(directory, n)))
            return log, files, p.reg_value(self.HIJACKED, None)

    def test_a_backup_that_cannot_be_written_is_one_line_and_the_same_repair(self):
        log, files, value = self.hijacked_run(block_backup=False)
        self.assertEqual(1, len(files))
        self.assertEqual("info: Registry backup: " + files[0], log[-1])
        blocked_log, blocked_files, blocked_value = self.hijacked_run(block_backup=True)
        self.assertEqual([], blocked_files)
        self.assertEqual(["info: Failed to write registry backup"],
                         [line for line in blocked_log if "registry backup" in line.lower()])
        self.assertEqual("%SystemRoot%\\system32\\shell32.dll", value)
        self.assertEqual(value, blocked_value)
        # The same lines but the backup's, in the same order.
        strip = re.compile(r"info: Log started .*|.*[Rr]egistry backup.*")
        self.assertEqual([line for line in log if not strip.fullmatch(line)],
                         [line for line in blocked_log if not strip.fullmatch(line)])


class RedirectedOutput(unittest.TestCase):
    def test_a_file_receives_the_same_texts_in_order_without_colour_codes(self):
        with wineprefix.Prefix("win7") as p:
            on_console = cleaning(p, "n").lines
            # Standard input without a terminal: both key reads return at once,
            # which is no 'y'.
            redirected = p.run([EXE])
            self.assertEqual(5, redirected.returncode)
            text = redirected.stdout.decode("ascii")
            self.assertNotIn("\x1b", text)
            self.assertEqual(on_console, [line for line in text.replace("\r\n", "\n").split("\n") if line.strip()])


class Undo(unittest.TestCase):
    """ "-undo FILE" takes a run back with its registry backup; a file the
    program did not write, or one cut short, changes nothing and is said so."""

    def test_a_foreign_or_cut_file_is_refused_and_the_backup_taken_back(self):
        run_once = r"HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce"
        with wineprefix.Prefix("win7") as p:
            self.assertEqual(5, cleaning(p, "y").exit_code)
            registered = p.reg_value(run_once, "TarnvexEVCleaner")
            self.assertIsNotNone(registered)
            directory = os.path.join(p.desktop, "RA Ravariv")
            backups = [n for n in os.listdir(directory) if n.startswith("Registry backup ")]
            self.assertEqual(1, len(backups), backups)
            backup = wineprefix.read_bytes(os.path.join(directory, backups[0]))
            foreign = ("\ufeffWindows Registry Editor Version 5.00\r\n\r\n[%s]\r\n\"TarnvexEVCleaner\"=-\r\n"
                       % run_once.replace("HKCU", "HKEY_CURRENT_USER")).encode("utf-16-le")
            for name, data, message in (
                    ("foreign.reg", foreign, "is not a registry backup written by this program"),
                    ("cut.reg", backup[:len(backup) - 20], "is cut short or damaged")):
                with self.subTest(file=name):
                    p.plant(os.path.join(directory, name), data)
                    run = scenario.run_console(p, [EXE, "-undo", name], [])
                    self.assertEqual(1, run.exit_code, run.text)
                    self.assertIn(message, run.lines[-1])
                    self.assertTrue(run.lines[-1].endswith("Nothing was changed."), run.lines[-1])
                    self.assertEqual(registered, p.reg_value(run_once, "TarnvexEVCleaner"))
                    self.assertEqual(backups, [n for n in os.listdir(directory) if n.startswith("Registry backup ")])

            run = scenario.run_console(p, [EXE, "-undo", backups[0]], [REBOOT_KEY])
            self.assertEqual(5, run.exit_code, run.text)
            self.assertEqual([finished_notice(p), FOR_CHANGES], run.lines[-2:])
            self.assertIsNone(p.reg_value(run_once, "TarnvexEVCleaner"))
            # The undo's own backup holds what it removed.
            after = sorted(n for n in os.listdir(directory) if n.startswith("Registry backup "))
            self.assertEqual(2, len(after), after)
            own = wineprefix.read_bytes(os.path.join(directory, [n for n in after if n not in backups][0]))
            self.assertIn('"TarnvexEVCleaner"=', own.decode("utf-16"))


if __name__ == "__main__":
    print("cleaner under test: " + cleaner.describe())
    unittest.main()
