#!/usr/bin/env python3
"""The scan ("-scan") on the lifecycle's infected machine: what it reports,
that it changes nothing but its log, that what it says a cleaning and a
restoration run would change is what they then change, and its exit codes.

Every scan here runs with standard input a closed pipe and output a pipe, as
a deployment tool starts it: no console, no terminal. Its exit codes are
below 256, so the Unix status carries them whole."""

import ntpath
import os
import re
import subprocess
import unittest

import cleaner
import infected_machine
import volume_identity
import wineprefix

BUILD = os.environ.get("VORN_BUILD_DIR", ".")
EXE = cleaner.exe(BUILD)

# "Would <verb> <root>\<path>[ "<name>"|@][...]" in the scan's log.
WOULD = re.compile(r'^info: Would (set value|create key|set key security) (HKCR|HKCU|HKLM)\\(.*?)'
                   r'(?: ("(?:[^"\\]|\\.)*"|@))?(?:(?::| ->) .*)?$')
ROOT_NAMES = {"HKCR": "hkey_classes_root", "HKCU": "hkey_current_user", "HKLM": "hkey_local_machine"}
# The registry backup names a key as the registry does (through its handle);
# the scan's lines name it as the step does. One name for both, under Wine:
# HKCR is HKLM\Software\Classes (no per-user merge), HKCU the prefix user's
# hive, CurrentControlSet the first control set.
SAME_KEY = [
    ("hkey_users\\s-1-5-21-0-0-0-1000\\", "hkey_current_user\\"),
    ("hkey_classes_root\\", "hkey_local_machine\\software\\classes\\"),
    ("hkey_local_machine\\system\\controlset001\\", "hkey_local_machine\\system\\currentcontrolset\\"),
]
# The restart registration follows the answer to the question, which a scan
# does not ask: its key and value are no change the scan can say.
RUN_ONCE = "hkey_current_user\\software\\microsoft\\windows\\currentversion\\runonce"


def same_key(key):
    key = key.lower()
    for prefix, replacement in SAME_KEY:
        if key.startswith(prefix):
            return replacement + key[len(prefix):]
    return key


class Scan:
    def __init__(self, code, console, log_lines):
        self.code = code
        self.console = console
        self.log = log_lines


def run_scan(m, *extra):
    """The scan on the machine, with the volume identity the runs have (so
    that it sees the rootkit's directories), its stdin a pipe closed at once,
    no terminal."""
    env = m.prefix.env
    env["WINEDLLOVERRIDES"] += ";" + infected_machine.NATIVE_SERVICES
    before = len(m.log_text().split("\n")) - 1 if m.log_text() else 0
    cleaner_windows = "C:\\" + os.path.relpath(m.cleaner, os.path.join(m.prefix.root, "drive_c")).replace("/", "\\")
    argv = volume_identity.command(BUILD, [cleaner_windows, "-scan"] + list(extra))
    read_end, write_end = os.pipe()
    os.close(write_end)
    try:
        r = subprocess.run([wineprefix.WINE] + argv, env=env, stdin=read_end,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    finally:
        os.close(read_end)
    out = r.stdout
    lines = [line for line in m.log_text().split("\n")[before:] if line]
    return Scan(r.returncode, out.decode("utf-8", "replace").replace("\r", ""), lines)


def scan_changes(lines):
    """{(kind, key, value name)} the scan's log says the runs would make to the
    registry, in the terms of a registry backup: values and key security of
    keys that exist, and keys created (whose contents the backup removes with
    them)."""
    found = set()
    for line in lines:
        match = WOULD.match(line)
        if not match:
            continue
        verb, root, path, name = match.groups()
        key = same_key(ROOT_NAMES[root] + "\\" + path)
        if verb == "create key":
            found.add(("created", key, None))
        elif verb == "set key security":
            found.add(("security", key, None))
        else:
            found.add(("value", key, "@" if name in (None, "@") else name[1:-1].replace('\\"', '"').lower()))
    created = {key for kind, key, _ in found if kind == "created"}
    return {c for c in found if c[0] == "created" or c[1] not in created}


def backup_changes(path):
    """The same set, read from a run's registry backup."""
    text = wineprefix.read_bytes(path).decode("utf-16")
    found = set()
    key = None
    text = re.sub(r"\\\r?\n\s*", "", text.replace("\r\n", "\n"))
    for line in text.split("\n"):
        if line.startswith("[-") and line.endswith("]"):
            found.add(("created", line[2:-1].lower(), None))
            key = None
        elif line.startswith("[") and line.endswith("]"):
            key = line[1:-1].lower()
        elif key is not None and line.startswith("@="):
            found.add(("value", key, "@"))
        elif key is not None and line.startswith('"'):
            found.add(("value", key, re.match(r'"((?:[^"\\]|\\.)*)"=', line).group(1).replace('\\"', '"').lower()))
    # The file's own first lines stand above its first block too: only a
    # security caption says that a key's security was replaced.
    for key, comments in infected_machine.script_comments(text).items():
        if any(comment.startswith("Security before the run") for comment in comments):
            found.add(("security", key, None))
    return {(kind, same_key(key), name) for kind, key, name in found if same_key(key) != RUN_ONCE}


def registry_snapshot(prefix):
    """Every key and value of HKLM (both views) and HKCU, as `reg export` writes them."""
    snapshot = {}
    target = "C:\\vorn-snapshot.reg"
    trees = [("HKLM", "native"), ("HKCU", "native")]
    if prefix.arch == "win64":
        trees.append(("HKLM", "32"))
    for tree, view in trees:
        code, out = prefix.reg("export", tree, target, "/y", view=view, timeout=300)
        if code != 0:
            raise AssertionError("reg export %s failed: %s" % (tree, out))
        unix = prefix.unix_path(target)
        text = wineprefix.read_bytes(unix).decode("utf-16")
        os.unlink(unix)
        snapshot.update({view + ":" + k: v for k, v in infected_machine.parse_script(text).items()})
    return snapshot


def file_listing(prefix, log_directory):
    """{path: (kind, size, modification time)} of everything on drive C:, but
    the scan's log directory."""
    listing = {}
    drive = os.path.join(prefix.root, "drive_c")
    for root, dirs, names in os.walk(drive):
        if os.path.abspath(root) == os.path.dirname(log_directory) and os.path.basename(log_directory) in dirs:
            dirs.remove(os.path.basename(log_directory))
        for name in dirs + names:
            path = os.path.join(root, name)
            st = os.lstat(path)
            # The directory that receives the log directory changes with it.
            mtime = None if path == os.path.dirname(log_directory) else st.st_mtime_ns
            listing[os.path.relpath(path, drive)] = (st.st_mode, st.st_size, mtime)
    return listing


def difference(before, after):
    return sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))


class ScanOnTheInfectedMachine(unittest.TestCase):
    def scan_then_runs(self, version, check_unchanged):
        with wineprefix.Prefix(version) as p:
            m = infected_machine.InfectedMachine(p, BUILD)
            m.infect(EXE)
            log_directory = os.path.join(p.desktop, "RA Ravariv")
            if check_unchanged:
                registry = registry_snapshot(p)
                files = file_listing(p, log_directory)

            scan = run_scan(m)
            self.assertEqual(2, scan.code, scan.console)
            if check_unchanged:
                self.assertEqual([], difference(registry, registry_snapshot(p)))
                self.assertEqual([], difference(files, file_listing(p, log_directory)))
                self.assertEqual(["TarnvexFix.log"], os.listdir(log_directory))
            self.check_report(m, scan)

            # The runs that follow make what the scan said, and nothing else.
            logged = len(m.log_text().split("\n"))
            run = m.clean("y")
            self.assertEqual(5, run.exit_code, run.text)
            cleaning = m.log_text().split("\n")[logged - 1:]
            m.restart()
            self.assertEqual(5, m.logon().exit_code)
            backups = m.backups()
            self.assertEqual(2, len(backups), backups)
            made = backup_changes(backups[0]) | backup_changes(backups[1])
            said = scan_changes(scan.log)
            self.assertEqual(sorted(made - said), [], "made, not said")
            self.assertEqual(sorted(said - made), [], "said, not made")
            self.assertEqual(self.file_changes_said(scan.log), self.file_changes_made(m, cleaning))
            return p, m

    def check_report(self, m, scan):
        hijacked = [line for line in scan.console.split("\n") if line.startswith("Hijacked COM row: ")]
        self.assertEqual(8, len(hijacked), scan.console)
        self.assertTrue(all(infected_machine.MODULE in line for line in hijacked), hijacked)
        for name in ("BITS", "wscsvc", "wuauserv"):
            # Disabled: its Start value differs from the table's (SharedAccess
            # is disabled in some families' own configuration).
            self.assertRegex(scan.console, r"Service record HKLM\\System\\CurrentControlset\\Services\\%s: "
                                           r"values differ: [^;]*\bStart\b" % name)
        if m.post_vista:
            self.assertIn("services.exe: infected\n", scan.console)
            self.assertIn("Clean replacement in the component store: C:\\windows\\winsxs\\"
                          + infected_machine.STORE_ENTRY % "6.1.7601.17514" + "\\services.exe", scan.console)
        else:
            self.assertNotIn("services.exe", scan.console)
        entries = len(infected_machine.BOT_TREE)
        for bot in m.bot_dirs:
            self.assertIn("Rootkit directory %s: %d entries\n" % (bot.long, entries), scan.console)
        # The scan goes the cleaning run's way and then the restoration's.
        self.assertEqual(2, scan.log.count("info: Cleaning finished"))
        self.assertFalse([line for line in scan.log if "Registry backup" in line])

    @staticmethod
    def file_changes_said(log):
        """The replacement and removal a scan reports: the clean copy, where the
        backup goes, what the restart would move, and every removal."""
        said = []
        for line in log:
            match = re.match(r"info: Would copy file (.*) -> (.*)$", line)
            if match:
                said.append(("copy", match.group(1), ntpath.basename(match.group(2)).split(" ")[0]))
            match = re.match(r"info: Would schedule rename at restart .* -> (.*)$", line)
            if match:
                said.append(("rename to", match.group(1)))
            match = re.match(r"info: Would (delete file|remove directory) (.*)$", line)
            if match:
                said.append(("removed", match.group(2)))
        return said

    @staticmethod
    def file_changes_made(m, cleaning):
        made = []
        located = [line for line in cleaning if line.startswith("info: Located clean services exe: ")]
        if "info: Making backup of current services.exe" in cleaning:
            made.append(("copy", "C:\\windows\\system32\\services.exe", "services.exe.infected"))
        if located:
            made.append(("copy", located[0].split(": ", 2)[2], "svcXXXX.tmp"))
            made.append(("rename to", "C:\\windows\\system32\\services.exe"))
        for line in cleaning:
            match = re.match(r"info: Removing (?:file|directory) (.*)\.\.\. success$", line)
            if match:
                made.append(("removed", match.group(1)))
        return made

    def test_windows_7(self):
        self.scan_then_runs("win7", check_unchanged=True)

    def test_windows_xp(self):
        self.scan_then_runs("winxp", check_unchanged=False)


class ExitCodes(unittest.TestCase):
    def test_a_cleaned_machine_then_an_unreadable_services_exe_then_a_changed_service(self):
        with wineprefix.Prefix("win7") as p:
            m = infected_machine.InfectedMachine(p, BUILD)
            m.infect(EXE)
            # Cleaned with -log: the restoration after the restart logs there too.
            run = m.run_cleaner(["-log", "C:\\vorn logs"], [("(y/n)?", "y"), ("press any key to reboot...", " ")])
            self.assertEqual(5, run.exit_code, run.text)
            self.assertIn("Cleaner finished, check C:\\vorn logs directory for logs", run.text)
            self.assertEqual('"%s" -r -log "C:\\vorn logs"' % m.cleaner_windows, m.run_once())
            m.restart()
            self.assertEqual(5, m.logon().exit_code)
            self.assertEqual(0, m.verify_services()[0])
            logs = sorted(os.listdir(p.unix_path("C:\\vorn logs")))
            self.assertEqual(["Registry backup ", "Registry backup ", "TarnvexFix.log", "services.exe.infected"],
                             [re.sub(r"^(Registry backup ).*", r"\1", name) for name in logs])
            self.assertFalse(os.path.exists(os.path.join(p.desktop, "RA Ravariv")))

            scan = run_scan(m)
            self.assertEqual(0, scan.code, scan.console)
            self.assertIn("COM rows: 0 hijacked, 0 defaults missing", scan.console)

            # A directory in its place: the image cannot be opened for reading.
            os.unlink(m.services_exe)
            os.mkdir(m.services_exe)
            scan = run_scan(m)
            self.assertEqual(1, scan.code, scan.console)
            self.assertIn("services.exe: could not be checked", scan.console)

            # Service records that differ win over a check that could not be made.
            code, out = p.reg("add", r"HKLM\System\CurrentControlSet\Services\BITS", "/v", "Start", "/t",
                              "REG_DWORD", "/d", "4", "/f")
            self.assertEqual(0, code, out)
            # With no desktop folder (as for LocalSystem) a run with -log works.
            away = p.desktop + "-away"
            os.rename(p.desktop, away)
            m.cleaner = os.path.join(away, os.path.relpath(m.cleaner, p.desktop))
            scan = run_scan(m)
            self.assertEqual((255, "Couldn't retrieve path to Desktop\n"), (scan.code, scan.console))
            scan = run_scan(m, "-log", "C:\\scan logs")
            self.assertEqual(4, scan.code, scan.console)
            self.assertIn("Service record HKLM\\System\\CurrentControlset\\Services\\BITS: values differ: Start;",
                          scan.console)
            log = wineprefix.read_bytes(p.unix_path("C:\\scan logs\\TarnvexFix.log")).decode("utf-16")
            self.assertIn("Would set value HKLM\\System\\CurrentControlset\\Services\\BITS \"Start\"", log)


if __name__ == "__main__":
    print("cleaner under test: " + cleaner.describe())
    unittest.main()
