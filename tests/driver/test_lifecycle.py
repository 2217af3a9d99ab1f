#!/usr/bin/env python3
"""The whole lifecycle of the real cleaner on every supported Windows:
infect, clean (answered 'y', the rootkit's files removed), restart, the
registered restoration run at the next logon, and a second restoration run
that finds nothing to change."""

import os
import re
import unittest

import cleaner
import infected_machine
import scenario
import wineprefix

BUILD = os.environ.get("VORN_BUILD_DIR", ".")
EXE = cleaner.exe(BUILD)

QUESTION = ("It is recommended to restore some system services that might have been disabled by malware. "
            "Do you want to do that (y/n)?")
CONTINUE = ("System has to be rebooted to continue cleaning. "
            "You should save all your work and press any key to reboot...")
FOR_CHANGES = ("System has to be rebooted for changes to come in effect. "
               "You should save all your work and press any key to reboot...")
REPAIRED_COM = [
    ("2", "%systemroot%\\system32\\wbem\\fastprox.dll"),
    ("2", "%systemroot%\\system32\\wbem\\fastprox.dll"),
    ("2", "%systemroot%\\system32\\shell32.dll"),
    ("2", "%systemroot%\\system32\\shell32.dll"),
    ("2", "%systemroot%\\system32\\wbem\\wbemess.dll"),
    ("2", "%systemroot%\\system32\\wbem\\wbemess.dll"),
]
# The lifecycles whose backups are imported back at the end.
ROUND_TRIP = ("winxp", "win7")
STORE = "C:\\windows\\winsxs\\" + infected_machine.STORE_ENTRY % "6.1.7601.17514" + "\\services.exe"


def run_lines(log_text, run):
    """The lines of the given run (0 = first) of a log holding several."""
    runs = re.split(r"(?m)^info: -{80}\ninfo: VORN Win32", log_text)
    return [line for line in runs[run + 1].split("\n")[1:] if line]


class Lifecycle(unittest.TestCase):
    def lifecycle(self, version):
        with wineprefix.Prefix(version) as p:
            m = infected_machine.InfectedMachine(p, BUILD)
            m.infect(EXE)
            self.assertNotEqual(0, m.verify_services()[0], "the fixture damaged nothing")
            services_32bit = wineprefix.read_bytes(m.services_exe_32bit) if m.has_32bit_view and m.post_vista else None
            round_trip = version in ROUND_TRIP
            if round_trip:
                registry_before = m.export()
                security_before = m.key_security()

            # The cleaning run, answered with 'y'.
            run = m.clean("y")
            self.assertEqual(5, run.exit_code, run.text)
            self.assertEqual(QUESTION, run.lines[-3])
            self.assertEqual(CONTINUE, run.lines[-1])
            com = m.com_defaults()
            self.assertEqual(REPAIRED_COM, [(t, v) for _, t, v in com[:6]])
            fourth = "shell32.dll" if m.post_vista else "shdocvw.dll"
            self.assertTrue(all(v.lower().endswith("\\system32\\" + fourth) for _, _, v in com[6:]), com)
            # Read in the native view, as the 64-bit logon reads it.
            self.assertEqual('"%s" -r' % m.cleaner_windows, m.run_once())
            cleaning = run_lines(m.log_text(), 0)
            self.assertIn("info: WoW64: %d" % p.wow64, cleaning)
            self.assertIn("info: Detected %s %s windows system"
                          % ("post-Vista" if m.post_vista else "pre-Vista", cleaner.bits(p)), cleaning)
            if m.has_32bit_view:
                # The repair writes the native view; the 32-bit one is left as it was.
                self.assertEqual(infected_machine.WOW64_COM_VALUE, m.com_32bit_view())
            else:
                print("%s: a 32-bit prefix has one registry view and one system directory" % version)
            self.check_removal(m, cleaning)
            backups = m.backups()
            self.assertEqual(1, len(backups))
            self.assertEqual(["info: Cleaning finished",
                              "info: Successfully registered for start after reboot for services restoration",
                              "info: Registry backup: " + os.path.basename(backups[0])],
                             cleaning[-3:])
            infected = wineprefix.read_bytes(m.services_exe) if m.post_vista else None
            if m.post_vista:
                self.assertIn("info: services.exe appears to be infected", cleaning)
                self.assertIn("info: Located clean services exe: " + STORE, cleaning)
                self.assertIn("info: Restored services.exe successfully", cleaning)
                self.assertEqual(infected, wineprefix.read_bytes(m.backup))
                # A copy beside the image is moved, not the store's own file.
                staged = m.staged_copies()
                self.assertEqual(1, len(staged), staged)
                self.assertIn("C:\\windows\\system32\\" + staged[0], m.pending_renames())
                self.assertNotIn(STORE, m.pending_renames())
            else:
                self.assertFalse([line for line in cleaning if "services.exe" in line])
                self.assertFalse(os.path.exists(m.backup))
                self.assertIsNone(m.pending_renames())

            # The restart carries out the replacement.
            m.restart()
            if m.post_vista:
                clean = m.image("v6.1.7601.17514-dyn.exe")
                self.assertEqual(clean, wineprefix.read_bytes(m.services_exe))
                self.assertEqual(clean, wineprefix.read_bytes(m.clean_source), "the store keeps its file")
                self.assertEqual([], m.staged_copies())
                self.assertEqual(infected, wineprefix.read_bytes(m.backup))
                if services_32bit is not None:
                    self.assertEqual(services_32bit, wineprefix.read_bytes(m.services_exe_32bit))

            # At the next logon Windows starts the registered command line.
            run = m.logon()
            self.assertEqual(5, run.exit_code, run.text)
            self.assertNotIn(QUESTION, run.text)
            self.assertEqual(FOR_CHANGES, run.lines[-1])
            self.assertIsNone(m.run_once())
            code, report = m.verify_services()
            self.assertEqual(0, code, report)
            if m.has_32bit_view:
                # HKLM\System has one view: 32-bit and 64-bit readers agree.
                bits = "HKLM\\System\\CurrentControlSet\\Services\\BITS"
                native = p.reg_value(bits, "Start")
                self.assertIsNotNone(native)
                self.assertEqual(native, p.reg_value(bits, "Start", view="32"))
            restoring = run_lines(m.log_text(), 1)
            self.assertTrue(any("Writing value" in line or "Updating value" in line for line in restoring))

            backups = m.backups()
            self.assertEqual(2, len(backups), backups)
            self.assertEqual("info: Registry backup: " + os.path.basename(backups[1]), restoring[-1])

            # A second restoration run changes nothing, and backs up nothing.
            run = m.run_cleaner(["-r"], [("press any key to reboot...", " ")])
            self.assertEqual(5, run.exit_code)
            again = run_lines(m.log_text(), 2)
            changes = [line for line in again if re.search(r"Writing value|Updating value|created new|failed", line)]
            self.assertEqual([], changes)
            self.assertTrue(any("matches known good one" in line for line in again))
            self.assertEqual(0, m.verify_services()[0])
            self.assertEqual(backups, m.backups())
            self.assertFalse([line for line in again if "Registry backup" in line])

            if round_trip:
                self.undo_with_backups(m, backups, registry_before, security_before)

    def check_removal(self, m, cleaning):
        """The cleaner itself removed the rootkit's files below both accounts'
        recycle directories: account by account, each directory after its
        contents."""
        removal = cleaning[cleaning.index("info: Attempting to remove malware files...") + 1:
                           cleaning.index("info: Cleaning finished")]
        expected = m.removal_lines()
        self.assertEqual(sorted(sum(expected, [])), sorted(removal))
        self.assertEqual([expected[0][0], expected[1][0]], [removal[0], removal[len(expected[0])]])
        for bot in m.bot_dirs:
            for name, (content, _) in infected_machine.BOT_TREE.items():
                inside = [n for n in infected_machine.BOT_TREE if n.startswith(name + "\\")]
                if content is None and inside:
                    kinds = ["directory" if infected_machine.BOT_TREE[n][0] is None else "file" for n in inside]
                    self.assertLess(max(removal.index(bot.removal(k, n)) for k, n in zip(kinds, inside)),
                                    removal.index(bot.removal("directory", name)))
        self.assertEqual([], m.bot_files())

    def undo_with_backups(self, m, backups, registry_before, security_before):
        """Both backups imported, the restoration's first, give back every
        value of every touched key, and remove the keys the runs created; the
        security comments name the security the keys had before."""
        restoration = wineprefix.read_bytes(backups[1]).decode("utf-16")
        comments = infected_machine.script_comments(restoration)
        self.assertTrue(comments)
        for key, lines in comments.items():
            path = key.split("\\", 1)[1]
            self.assertIn(path, security_before, key)
            self.assertEqual(security_before[path], re.sub(r"S:.*$", "", lines[-1]), key)
        for backup in reversed(backups):
            code, out = m.import_backup(backup)
            self.assertEqual(0, code, out)
        after = m.export()
        for key in sorted(set(registry_before) | set(after)):
            self.assertEqual(registry_before.get(key), after.get(key), key)

    def test_windows_xp(self):
        self.lifecycle("winxp")

    def test_windows_xp_x64(self):
        self.lifecycle("winxp64")

    def test_windows_server_2003(self):
        self.lifecycle("win2003")

    def test_windows_vista(self):
        self.lifecycle("vista")

    def test_windows_server_2008(self):
        self.lifecycle("win2008")

    def test_windows_7(self):
        self.lifecycle("win7")

    def test_windows_server_2008_r2(self):
        self.lifecycle("win2008r2")


class ComponentStore(unittest.TestCase):
    """The cleaner takes a store copy only when it is clean itself and not the
    image under another name: on Vista and later the image is normally a hard
    link into the store, so an image patched in place is patched there too."""

    def cleaning_with_the_store_copy_linked_to_the_image(self, p, later_clean_copy):
        m = infected_machine.InfectedMachine(p, BUILD)
        m.infect(EXE)
        os.unlink(m.clean_source)
        os.link(m.services_exe, m.clean_source)
        later = os.path.join(os.path.dirname(os.path.dirname(m.clean_source)),
                             "x86_microsoft-windows-s..s-controlmanager_6.1.7601.17514", "services.exe")
        if later_clean_copy:
            p.plant(later, m.image("v6.1.7601.17514-dyn.exe"))
        infected = wineprefix.read_bytes(m.services_exe)
        bot_files = m.bot_files()
        run = m.clean("n")
        self.assertEqual(5, run.exit_code)
        cleaning = run_lines(m.log_text(), 0)
        staged = m.staged_copies()
        pending = m.pending_renames()
        m.restart()
        return m, cleaning, staged, pending, infected, later, bot_files

    def test_no_clean_copy_means_no_replacement_and_no_removal(self):
        with wineprefix.Prefix("win7") as p:
            self.check_no_clean_copy(*self.cleaning_with_the_store_copy_linked_to_the_image(p, False))

    def check_no_clean_copy(self, m, cleaning, staged, pending, infected, _, bot_files):
        self.assertIn("info: Failed to locate clean services.exe", cleaning)
        self.assertIn("info: Failed to restore services.exe", cleaning)
        self.assertNotIn("info: Attempting to remove malware files...", cleaning)
        self.assertEqual(([], None), (staged, pending))
        self.assertEqual(infected, wineprefix.read_bytes(m.services_exe))
        self.assertEqual(infected, wineprefix.read_bytes(m.clean_source))
        self.assertEqual(bot_files, m.bot_files())

    def test_a_link_to_the_image_is_passed_over_for_a_later_clean_copy(self):
        with wineprefix.Prefix("win7") as p:
            self.check_later_clean_copy(*self.cleaning_with_the_store_copy_linked_to_the_image(p, True))

    def check_later_clean_copy(self, m, cleaning, staged, _, infected, later, __):
        self.assertIn("info: Located clean services exe: C:\\windows\\winsxs\\"
                      "x86_microsoft-windows-s..s-controlmanager_6.1.7601.17514\\services.exe", cleaning)
        self.assertIn("info: Restored services.exe successfully", cleaning)
        self.assertEqual(1, len(staged))
        clean = m.image("v6.1.7601.17514-dyn.exe")
        self.assertEqual(clean, wineprefix.read_bytes(m.services_exe))
        self.assertEqual(clean, wineprefix.read_bytes(later), "the store keeps its file")
        self.assertEqual(infected, wineprefix.read_bytes(m.backup))


def registry_keys(prefix):
    """{key: value lines} of both registry files, without Wine's time stamps."""
    keys = {}
    for name in ("system.reg", "user.reg"):
        key = None
        with open(os.path.join(prefix.root, name), encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("["):
                    key = name + ":" + line[:line.rindex("]") + 1]
                    keys[key] = []
                elif key and line.strip() and not line.startswith("#time="):
                    keys[key].append(line)
    return keys


def files(prefix):
    """Contents of every file on drive C:, except the cleaner's log directory."""
    found = {}
    drive = os.path.join(prefix.root, "drive_c")
    for root, dirs, names in os.walk(drive):
        if root == prefix.desktop and "RA Ravariv" in dirs:
            dirs.remove("RA Ravariv")
        for name in names:
            path = os.path.join(root, name)
            if not os.path.islink(path):
                with open(path, "rb") as f:
                    found[os.path.relpath(path, drive)] = f.read()
    return found


def changed_keys(before, after):
    return {k for k in set(before) | set(after) if before.get(k) != after.get(k)}


class Unsupported(unittest.TestCase):
    def test_windows_2000_and_8_change_nothing(self):
        for version in ("win2k", "win8"):
            with self.subTest(version=version), wineprefix.Prefix(version) as p:
                # Every Wine session rewrites a few keys of its own when it
                # starts (devices, fonts, version); the registry files are
                # written when a session ends. A session without the cleaner
                # shows what that noise is.
                def session_end():
                    p.wait_for_session_end()
                    return registry_keys(p), files(p)

                p.reg("query", infected_machine.SESSION_MANAGER)
                start = session_end()
                p.reg("query", infected_machine.SESSION_MANAGER)
                control = session_end()
                noise = changed_keys(start[0], control[0])

                run = scenario.run_console(p, [EXE], [])
                self.assertEqual(3, run.exit_code)
                self.assertNotIn(QUESTION, run.text)
                after = session_end()
                # Wine's crash handler writes its own key when any process of
                # the session fails (seen under load); the cleaner's exit code
                # above says that it was not the cleaner.
                noise.add("user.reg:[Software\\\\Wine\\\\WineDbg]")
                self.assertEqual(set(), changed_keys(control[0], after[0]) - noise)
                self.assertEqual(sorted(control[1]), sorted(after[1]))
                self.assertTrue(control[1] == after[1], "a file changed")
                self.assertTrue(os.path.isfile(os.path.join(p.desktop, "RA Ravariv", "TarnvexFix.log")))


if __name__ == "__main__":
    print("cleaner under test: " + cleaner.describe())
    unittest.main()
