"""An infected machine in a Wine prefix, and the steps of its cleaning.

The registry side (the family's services damaged, the COM servers redirected)
is done by the test build's MachineFixture program; this module plants the
files: the rootkit's module, an infected services.exe with a clean copy of
the same version and decoys in the component store, the rootkit's files in
the recycle bin, and the cleaner itself in a desktop folder with a space in
its name.
"""

import os
import re
import subprocess

import malware_files
import scenario
import volume_identity
import wineprefix

# version name -> (family of the known-good table, post-Vista)
FAMILIES = {
    "winxp": (0, False),
    "winxp64": (0, False),
    "win2003": (3, False),
    "vista": (1, True),
    "win2008": (5, True),
    "win7": (2, True),
    "win2008r2": (4, True),
}

# The services each family's table restores.
SERVICES = {
    False: ["BITS", "SharedAccess", "wscsvc", "wuauserv"],
    True: ["BFE", "BITS", "iphlpsvc", "MpsSvc", "SharedAccess", "WinDefend", "wscsvc", "wuauserv"],
}
COM_KEYS = [
    r"HKLM\Software\Classes\CLSID\{5839FCA9-774D-42A1-ACDA-D6A79037F57F}\InprocServer32",
    r"HKLM\Software\Classes\CLSID\{fbeb8a05-beee-4442-804e-409d6c4515e9}\InprocServer32",
    r"HKLM\Software\Classes\CLSID\{f3130cdb-aa52-4c3a-ab32-85ffc23af9c1}\InprocServer32",
    r"HKLM\Software\Classes\CLSID\{42aedc87-2188-41fd-b9a3-0c966feabec1}\InprocServer32",
    r"HKCU\Software\Classes\CLSID\{42aedc87-2188-41fd-b9a3-0c966feabec1}\InprocServer32",
]
MODULE = "C:\\windows\\system32\\tarnvex.dll"
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
RUN_ONCE = r"HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce"
STORE_ENTRY = "amd64_microsoft-windows-s..s-controlmanager_31bf3856ad364e35_%s_none_4aa7d2a0a7bd7b5c"
# The rootkit's files in each account's bot directory: {name: (content, or
# None for a directory; attributes)}.
BOT_TREE = {
    "cfg.ini": (b"[main]\r\n", "h"),
    "tarnvex.dat": (b"\x00" * 32, "r"),
    "modules": (None, "h"),
    "modules\\x86.bin": (b"\x90" * 64, "hr"),
    "modules\\x64.bin": (b"\x90" * 64, ""),
}
# Planted in the 32-bit view of a 64-bit prefix (Software\Wow6432Node\Classes).
WOW64_COM_KEY = COM_KEYS[0]
WOW64_COM_VALUE = "C:\\windows\\syswow64\\planted32.dll"
WOW64_SERVICES_EXE = "v6.1.7601.17515-dyn.exe"
# Version queries on a file named services.exe must reach the file, not
# Wine's own service manager of that name.
NATIVE_SERVICES = "services.exe=n,b"


class InfectedMachine:
    def __init__(self, prefix, build_dir):
        self.prefix = prefix
        self.version = prefix.version
        self.family, self.post_vista = FAMILIES[prefix.version]
        self.build = build_dir
        self.fixture_tool = os.path.join(build_dir, "tests", "driver", "MachineFixture.exe")
        self.images = os.path.join(build_dir, "tests", "cleanup", "image-fixtures")
        self.cleaner_dir = os.path.join(prefix.desktop, "VORN Tools")
        self.cleaner = os.path.join(self.cleaner_dir, "VORNTarnvexEvCleaner.exe")
        self.cleaner_windows = "C:\\users\\%s\\Desktop\\VORN Tools\\VORNTarnvexEvCleaner.exe" % prefix.user
        system = prefix.system32()
        self.services_exe = os.path.join(system, "services.exe")
        store = os.path.join(prefix.root, "drive_c", "windows", "winsxs")
        self.clean_source = os.path.join(store, STORE_ENTRY % "6.1.7601.17514", "services.exe")
        self.decoys = {
            os.path.join(store, STORE_ENTRY % "6.1.7601.17515", "services.exe"): "v6.1.7601.17515-dyn.exe",
            os.path.join(store, STORE_ENTRY % "6.1.7602.17514", "services.exe"): "v6.1.7602.17514-dyn.exe",
        }
        self.recycle_dir = malware_files.recycle_dir(self.post_vista)
        self.bot_dirs = [malware_files.BotDirectory("%s\\%s\\%s" % (self.recycle_dir, sid, volume_identity.BOT_ID))
                         for sid in malware_files.ACCOUNTS]
        self.backup = os.path.join(prefix.desktop, "RA Ravariv", "services.exe.infected")
        # A 64-bit prefix has the 32-bit registry view and system directory
        # beside the native ones.
        self.has_32bit_view = prefix.arch == "win64"
        self.services_exe_32bit = os.path.join(prefix.syswow64(), "services.exe")
        self.log = os.path.join(prefix.desktop, "RA Ravariv", "TarnvexFix.log")

    def image(self, name):
        return wineprefix.read_bytes(os.path.join(self.images, name))

    def tool(self, *args):
        r = self.prefix.run([self.fixture_tool] + list(args))
        return r.returncode, r.stdout.decode("utf-8", "replace").replace("\r", "")

    def infect(self, cleaner_exe):
        # Wine's own service manager is started once before anything is
        # planted over its name, in a session that lasts until the restart.
        self.prefix.keep_server_running()
        self.prefix.reg("query", SESSION_MANAGER)
        code, out = self.tool("infect", str(self.family), MODULE)
        if code != 0:
            raise RuntimeError("infecting the registry failed: " + out)
        self.prefix.plant(self.prefix.unix_path(MODULE), b"MZ rootkit module")
        if self.post_vista:
            self.prefix.plant(self.services_exe, self.image("v6.1.7601.17514-nodyn.exe"))
            self.prefix.plant(self.clean_source, self.image("v6.1.7601.17514-dyn.exe"))
            for path, name in self.decoys.items():
                self.prefix.plant(path, self.image(name))
        if self.has_32bit_view:
            # What a 32-bit process sees with redirection on: the cleaner must
            # neither judge nor touch these.
            if self.post_vista:
                self.prefix.plant(self.services_exe_32bit, self.image(WOW64_SERVICES_EXE))
            code, out = self.prefix.reg("add", WOW64_COM_KEY, "/ve", "/d", WOW64_COM_VALUE, "/f", view="32")
            if code != 0:
                raise RuntimeError("planting the 32-bit view's value failed: " + out)
        malware_files.plant_tree(self.prefix, self.bot_dirs, BOT_TREE)
        self.prefix.plant(self.cleaner, wineprefix.read_bytes(cleaner_exe))

    def run_cleaner(self, args=(), answers=(), hold=None):
        """hold: a Windows path kept open during the run, as by the running rootkit."""
        argv = volume_identity.command(self.build, [self.cleaner_windows] + list(args), hold)
        return scenario.run_console(self.prefix, argv, answers, dll_overrides=NATIVE_SERVICES)

    def clean(self, answer="y", hold=None):
        return self.run_cleaner([], [("(y/n)?", answer), ("press any key to reboot...", " ")], hold)

    def restart(self):
        self.prefix.wineboot_restart()

    def logon(self):
        """Windows at the next logon: the RunOnce command lines are started."""
        return scenario.run_console(self.prefix, [self.fixture_tool, "logon"],
                                    [("press any key to reboot...", " ")], dll_overrides=NATIVE_SERVICES)

    def verify_services(self):
        return self.tool("verify", str(self.family))

    def com_defaults(self):
        _, out = self.tool("com")
        return [line.split("\t") for line in out.splitlines() if line]

    def run_once(self):
        return self.prefix.reg_value(RUN_ONCE, "TarnvexEVCleaner")

    def com_32bit_view(self):
        return self.prefix.reg_value(WOW64_COM_KEY, None, view="32")

    def staged_copies(self):
        """Clean images the cleaner copied beside services.exe for the restart."""
        return sorted(n for n in os.listdir(self.prefix.system32()) if re.fullmatch(r"svc[0-9A-Fa-f]+\.tmp", n))

    def touched_keys(self):
        """The key trees a cleaning and a restoration run change."""
        return COM_KEYS + ["HKLM\\System\\CurrentControlSet\\Services\\" + name
                           for name in SERVICES[self.post_vista]]

    def export(self):
        """{key (lower case): sorted value lines} of the touched key trees, as
        `reg export` writes them in the native view."""
        keys = {}
        target = "C:\\vorn-export.reg"
        for tree in self.touched_keys():
            code, out = self.prefix.reg("export", tree, target, "/y")
            if code != 0:
                raise AssertionError("reg export %s failed (%d): %s" % (tree, code, out))
            text = wineprefix.read_bytes(self.prefix.unix_path(target)).decode("utf-16")
            keys.update(parse_script(text))
        return keys

    def key_security(self):
        """{key path (lower case): SDDL of owner, group and DACL} of the family's keys."""
        _, out = self.tool("security", str(self.family))
        return {k.lower(): v for k, v in (line.split("\t") for line in out.splitlines() if "\t" in line)}

    def backups(self):
        """In the order of the runs: a run in the same second as the one
        before names its backup "<time> (2).reg", which sorts before
        "<time>.reg" by name but after it without the extension."""
        directory = os.path.join(self.prefix.desktop, "RA Ravariv")
        names = sorted((n for n in os.listdir(directory) if n.startswith("Registry backup ")),
                       key=lambda n: os.path.splitext(n)[0])
        return [os.path.join(directory, n) for n in names]

    def import_backup(self, path):
        windows_path = "C:\\" + os.path.relpath(path, os.path.join(self.prefix.root, "drive_c")).replace("/", "\\")
        return self.prefix.reg("import", windows_path)

    def pending_renames(self):
        code, out = self.prefix.reg("query", SESSION_MANAGER, "/v", "PendingFileRenameOperations")
        return out if code == 0 else None

    def log_text(self):
        if not os.path.exists(self.log):
            return ""
        return wineprefix.read_bytes(self.log).decode("utf-16").replace("\r\n", "\n")

    def removal_lines(self):
        """Per account, the log lines of a removal that takes everything at once."""
        return [bot.removal_lines(BOT_TREE) for bot in self.bot_dirs]

    def bot_files(self):
        """Files and directories below the bot directories, relative to the
        recycle directory."""
        found = []
        recycle = self.prefix.unix_path(self.recycle_dir)
        for bot in self.bot_dirs:
            for root, dirs, files in os.walk(self.prefix.unix_path(bot.path)):
                found += [os.path.relpath(os.path.join(root, name), recycle) for name in dirs + files]
        return sorted(found)


def parse_script(text):
    """{key (lower case): sorted value lines} of a registry script; folded
    lines are joined and comments dropped."""
    keys, key = {}, None
    text = re.sub(r"\\\r?\n\s*", "", text.replace("\r\n", "\n"))
    for line in text.split("\n"):
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1].lower()
            keys.setdefault(key, [])
        elif key is not None and line and not line.startswith(";"):
            keys[key].append(line)
    return {k: sorted(v) for k, v in keys.items()}


def script_comments(text):
    """{key (lower case): the comment lines just above its header}."""
    found, comments = {}, []
    for line in text.replace("\r\n", "\n").split("\n"):
        if line.startswith(";"):
            comments.append(line[1:].strip())
        elif line.startswith("[") and line.endswith("]"):
            if comments:
                found[line[1:-1].lower()] = comments
            comments = []
    return found
