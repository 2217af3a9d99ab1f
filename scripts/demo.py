#!/usr/bin/env python3
"""`make demo`: the whole life of the cleaner on an infected Windows 7 machine
(a throw-away Wine prefix): infect, clean (answered 'y'), restart, the
restoration run that Windows starts at the next logon. Prints what changed.
The shipped cleaner runs unchanged, with its system volume given the identity
that Wine does not give it, so that it finds and removes the rootkit's files."""
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cleaner  # noqa: E402
import infected_machine  # noqa: E402
import malware_files  # noqa: E402
import volume_identity  # noqa: E402
import wineprefix  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VORN_BUILD_DIR") or os.path.join(ROOT, "build", "test")
SERVICES = infected_machine.SERVICES[True]  # the Windows 7 family's
START_NAMES = {"0x0": "boot", "0x1": "system", "0x2": "automatic", "0x3": "manual", "0x4": "disabled"}
ATTRIBUTE_NAMES = {"h": "hidden", "r": "read-only", "s": "system"}


def image_summary(path):
    """'6.1.7601.17514, no dynamic base (infected)' from the PE file itself."""
    if not os.path.exists(path):
        return "(missing)"
    data = wineprefix.read_bytes(path)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    characteristics = struct.unpack_from("<H", data, pe + 24 + (70 if magic in (0x10B, 0x20B) else 0))[0]
    fixed = data.find(b"\xbd\x04\xef\xfe")
    version = "no version"
    if fixed > 0:
        ms, ls = struct.unpack_from("<II", data, fixed + 8)
        version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    if characteristics & 0x40:
        return version + ", dynamic base (clean)"
    return version + ", no dynamic base (infected)"


def start_values(prefix):
    values = []
    for name in SERVICES:
        v = prefix.reg_value("HKLM\\System\\CurrentControlSet\\Services\\" + name, "Start")
        values.append("%s=%s" % (name, START_NAMES.get(v, v or "missing")))
    return " ".join(values)


def recycle_bin(m):
    """Each account's bot directory and what is below it, with attributes."""
    listed = malware_files.attributes(m.prefix, m.bot_dirs)
    for bot in m.bot_dirs:
        found = listed[bot.path]
        print("  %s%s" % (bot.path, "" if found else "   (empty)"))
        for name in sorted(found):
            kind = "\\" if os.path.isdir(os.path.join(m.prefix.unix_path(bot.path), *name.split("\\"))) else ""
            names = [ATTRIBUTE_NAMES[a] for a in sorted(found[name]) if a in ATTRIBUTE_NAMES]
            print("    %-20s %s" % (name + kind, ", ".join(names)))


def section(title):
    print("\n=== %s ===" % title)


def main():
    os.environ.setdefault("VORN_WINE_BASES", os.path.join(BUILD, "wine-bases"))
    exe = cleaner.exe(BUILD)
    print("Cleaner: " + cleaner.describe())
    print("Its system volume is given an identity, which Wine gives none (tests/tools/volume_identity_launcher):"
          " the cleaner derives the identifier %s" % volume_identity.BOT_ID)
    print("Preparing an infected Windows 7 prefix (the first time takes about half a minute)...")
    with wineprefix.Prefix("win7") as prefix:
        m = infected_machine.InfectedMachine(prefix, BUILD)
        m.infect(exe)

        section("Before cleaning")
        for key, _, value in m.com_defaults():
            print("COM  %-75s %s" % (key, value))
        print("services.exe    " + image_summary(m.services_exe))
        print("store copy      " + image_summary(m.clean_source))
        print("Start values    " + start_values(prefix))
        print("RunOnce         %s" % m.run_once())
        print("recycle bin     the rootkit's directories, named by the identifier:")
        recycle_bin(m)

        section("Cleaning run (the key 'y' is typed at the question)")
        run = m.clean("y")
        print(run.text.rstrip())
        print("-> exit code %d" % run.exit_code)

        section("After cleaning, before the restart")
        for key, _, value in m.com_defaults():
            print("COM  %-75s %s" % (key, value))
        print("backup          RA Ravariv\\services.exe.infected: " + image_summary(m.backup))
        print("pending rename  %s" % (", ".join("system32\\" + n for n in m.staged_copies()) + " -> system32\\services.exe"
                                      if m.pending_renames() else "none"))
        print("RunOnce         %s" % m.run_once())
        print("removal         the log's lines:")
        cleaning = m.log_text().split("\n")
        start = cleaning.index("info: Attempting to remove malware files...")
        print("\n".join("  " + line for line in cleaning[start:cleaning.index("info: Cleaning finished", start)]))
        print("recycle bin     after the removal:")
        recycle_bin(m)

        m.restart()
        section("After the restart (wineboot -r)")
        print("services.exe    " + image_summary(m.services_exe))
        print("store copy      " + image_summary(m.clean_source) + " (still in the component store)")

        section("At the next logon Windows starts the RunOnce command line")
        run = m.logon()
        print(run.text.rstrip())
        print("-> exit code %d" % run.exit_code)

        section("After the restoration run")
        print("Start values    " + start_values(prefix))
        print("known-good table check: " + m.verify_services()[1].strip().splitlines()[-1])
        print("RunOnce         %s" % m.run_once())

        section("Registry backups (Desktop\\RA Ravariv, one per run that changed the registry)")
        backups = m.backups()
        for path in backups:
            print(os.path.basename(path))
        if backups:
            print("\nFirst lines of %s:" % os.path.basename(backups[-1]))
            text = wineprefix.read_bytes(backups[-1]).decode("utf-16").replace("\r\n", "\n")
            print("\n".join("  " + line for line in text.split("\n")[:14]))
            start_before = start_values(prefix)
            code, _ = m.import_backup(backups[-1])
            section("The restoration undone: reg import of its backup")
            print("reg import exit code %d" % code)
            print("Start values    " + start_values(prefix) + "   (as before the restoration)")
            print("(after the restoration they were: %s)" % start_before)

        section("Log excerpt (Desktop\\RA Ravariv\\TarnvexFix.log, UTF-16)")
        lines = m.log_text().split("\n")
        restore = [i for i, line in enumerate(lines) if "Processing Windows" in line]
        shown = lines[:40] + ["..."] + (lines[restore[0]:restore[0] + 12] if restore else []) + ["..."] + lines[-3:]
        print("\n".join(shown))
        print("(%d lines in all)" % len([line for line in lines if line]))


if __name__ == "__main__":
    try:
        main()
    except subprocess.CalledProcessError as e:
        sys.exit("demo failed: %s" % e)
