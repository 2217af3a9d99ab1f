"""Throw-away Wine prefixes that report a chosen Windows version.

One base prefix is made per architecture (64-bit, 32-bit) and one per Windows
version on top of it, all cached under VORN_WINE_BASES. Every test run gets a
hard-link copy of a version's base, so it starts in well under a second and
never touches the user's own prefix. Files a test changes in place must be
unlinked first (see Prefix.plant), or the change would reach the base.
"""

import contextlib
import fcntl
import os
import shutil
import subprocess
import tempfile

# name -> (architecture, argument of winecfg -v)
VERSIONS = {
    "winxp": ("win32", "winxp"),
    "win2k": ("win32", "win2k"),
    "winxp64": ("win64", "winxp64"),
    "win2003": ("win64", "win2003"),
    "vista": ("win64", "vista"),
    "win2008": ("win64", "win2008"),
    "win7": ("win64", "win7"),
    "win2008r2": ("win64", "win2008r2"),
    "win8": ("win64", "win8"),
}


def can_run_32bit():
    """False on a kernel without 32-bit x86 support: Wine's 32-bit loader
    then fails with ENOEXEC, and only 64-bit programs and prefixes work.
    VORN_NO_32BIT=1 makes a machine that has it behave as one without, to
    check the other kind of machine here."""
    if os.environ.get("VORN_NO_32BIT") == "1":
        return False
    try:
        r = subprocess.run(["/usr/lib/wine/wine", "--version"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return r.returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


WINE_32BIT = can_run_32bit()
# The loader that starts the test build's programs.
WINE = "wine" if WINE_32BIT else "/usr/lib/wine/wine64"

SUPPORTED = ["winxp", "winxp64", "win2003", "vista", "win2008", "win7", "win2008r2"]
UNSUPPORTED = ["win2k", "win8"]

# Files Wine rewrites in place while it runs; every copy needs its own.
_PRIVATE_FILES = ("system.reg", "user.reg", "userdef.reg", ".update-timestamp")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def bases_dir():
    d = os.environ.get("VORN_WINE_BASES")
    if not d:
        d = os.path.join(tempfile.gettempdir(), "vorn-wine-bases-%d" % os.getuid())
    os.makedirs(d, exist_ok=True)
    return d


def wine_env(prefix, arch=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    # No Mono or Gecko installer dialogues in a fresh prefix.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    if arch:
        env["WINEARCH"] = arch
    return env


def _run_quiet(cmd, env):
    subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def _wait_server(prefix):
    subprocess.run(["wineserver", "-w"], env=wine_env(prefix),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _kill_server(prefix):
    subprocess.run(["wineserver", "-k"], env=wine_env(prefix),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _link_copy(src, dst):
    """Hard-link copy of a prefix with private copies of the registry files."""
    subprocess.run(["cp", "-al", src, dst], check=True)
    for name in _PRIVATE_FILES:
        p = os.path.join(dst, name)
        if os.path.isfile(p):
            data = read_bytes(p)
            os.unlink(p)
            with open(p, "wb") as f:
                f.write(data)


@contextlib.contextmanager
def _locked(path):
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def _private_user_folders(prefix):
    """Wine links the user's shell folders (Desktop, Documents, ...) to the
    Unix home directory; a test prefix gets real directories of its own, so
    nothing a run writes on its desktop leaves the prefix."""
    users = os.path.join(prefix, "drive_c", "users")
    for user in os.listdir(users):
        home = os.path.join(users, user)
        for name in os.listdir(home):
            path = os.path.join(home, name)
            if os.path.islink(path):
                os.unlink(path)
                os.mkdir(path)


def _ensure_arch_base(arch):
    if not WINE_32BIT:
        # No 32-bit Wine here: every version lives in a 64-bit prefix.
        arch = "win64"
    base = os.path.join(bases_dir(), "arch-" + arch)
    with _locked(base):
        if not os.path.isfile(os.path.join(base, ".ready")):
            shutil.rmtree(base, ignore_errors=True)
            env = wine_env(base, arch)
            _run_quiet([WINE, "wineboot", "-i"], env)
            _wait_server(base)
            _private_user_folders(base)
            open(os.path.join(base, ".ready"), "w").close()
    return base


def ensure_base(version):
    """Path of the cached base prefix for a Windows version, made on first use."""
    arch, winecfg_name = VERSIONS[version]
    base = os.path.join(bases_dir(), version)
    with _locked(base):
        if not os.path.isfile(os.path.join(base, ".ready")):
            shutil.rmtree(base, ignore_errors=True)
            _link_copy(_ensure_arch_base(arch), base)
            os.unlink(os.path.join(base, ".ready"))
            env = wine_env(base)
            if arch == "win32" and not WINE_32BIT:
                # winecfg refuses the 32-bit-only versions in a 64-bit prefix;
                # the per-user version setting still selects them.
                _run_quiet([WINE, "winecfg", "-v", "winxp64"], env)
                _run_quiet([WINE, "reg", "add", "HKCU\\Software\\Wine", "/v", "Version",
                            "/d", winecfg_name, "/f"], env)
            else:
                _run_quiet([WINE, "winecfg", "-v", winecfg_name], env)
            _wait_server(base)
            open(os.path.join(base, ".ready"), "w").close()
    return base


class Prefix:
    """A private prefix for one test run; removed on exit unless keep is set."""

    def __init__(self, version="win7", keep=False):
        self.version = version
        self.arch = VERSIONS[version][0] if WINE_32BIT else "win64"
        self.keep = keep or bool(os.environ.get("VORN_KEEP_PREFIX"))
        self.persistent = False
        runs = os.path.join(bases_dir(), "runs")
        os.makedirs(runs, exist_ok=True)
        self.root = tempfile.mkdtemp(prefix=version + "-", dir=runs)
        os.rmdir(self.root)
        _link_copy(ensure_base(version), self.root)
        _private_user_folders(self.root)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        _kill_server(self.root)
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    @property
    def wow64(self):
        """True when the cleaner under test runs under WoW64 in this prefix:
        the shipped 32-bit program in a 64-bit prefix."""
        return WINE_32BIT and self.arch == "win64"

    @property
    def env(self):
        return wine_env(self.root)

    def unix_path(self, win_path):
        """C:\\a\\b -> <prefix>/drive_c/a/b (case as given)."""
        drive, rest = win_path[0].lower(), win_path[2:].replace("\\", "/").lstrip("/")
        assert drive == "c", win_path
        return os.path.join(self.root, "drive_c", rest)

    @property
    def user(self):
        return os.environ.get("USER") or "root"

    @property
    def desktop(self):
        return os.path.join(self.root, "drive_c", "users", self.user, "Desktop")

    def system32(self):
        """Directory of the native system files (64-bit ones on a 64-bit prefix)."""
        return os.path.join(self.root, "drive_c", "windows", "system32")

    def syswow64(self):
        """Directory of the 32-bit system files of a 64-bit prefix: what a
        32-bit process sees as system32 while redirection is on."""
        return os.path.join(self.root, "drive_c", "windows", "syswow64")

    def plant(self, unix_path, data):
        """Write a file without changing a hard-linked twin in the base."""
        os.makedirs(os.path.dirname(unix_path), exist_ok=True)
        if os.path.lexists(unix_path):
            os.unlink(unix_path)
        with open(unix_path, "wb") as f:
            f.write(data)

    def run(self, argv, input=None, timeout=120, check=False):
        """Runs a Windows program (wine argv...) and returns the CompletedProcess."""
        # No terminal on standard input: a console program's key reads return at once.
        stdin = None if input is not None else subprocess.DEVNULL
        return subprocess.run([WINE] + list(argv), env=self.env, input=input, stdin=stdin,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout, check=check)

    def reg(self, *args, timeout=60, view="native"):
        """`wine reg ...`; returns (exit code, stdout text). In a 64-bit prefix
        `wine reg` is the 32-bit reg.exe: it is told the view, the native one
        (the program's) unless view="32"."""
        if self.arch == "win64":
            args = tuple(args) + ("/reg:64" if view == "native" else "/reg:32",)
        r = self.run(["reg"] + list(args), timeout=timeout)
        return r.returncode, r.stdout.decode("utf-8", "replace")

    def reg_value(self, key, name, view="native"):
        """Data of one value as `reg query` prints it, or None when missing."""
        args = [key, "/v", name] if name is not None else [key, "/ve"]
        code, out = self.reg("query", *args, view=view)
        if code != 0:
            return None
        for line in out.splitlines():
            parts = line.strip().split("    ")
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                return parts[2] if len(parts) > 2 else ""
        return None

    def wait_for_session_end(self):
        """Waits until the prefix's Wine session has ended and saved the registry."""
        _wait_server(self.root)

    def keep_server_running(self):
        """Keeps one Wine session for the prefix until close(): Wine runs a
        start-up (pending renames included) whenever a new session begins,
        which would otherwise happen between any two programs."""
        subprocess.run(["wineserver", "-p"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.persistent = True
        # The session's service processes live on: they must not hold a
        # later command's output pipes open.
        _run_quiet([WINE, "reg", "query", "HKLM\\Software\\Wine"], self.env)

    def wineboot_restart(self):
        _run_quiet([WINE, "wineboot", "-r"], self.env)
        if not self.persistent:
            _wait_server(self.root)


if __name__ == "__main__":
    import sys
    for v in sys.argv[1:] or SUPPORTED + UNSUPPORTED:
        print(v, ensure_base(v))
