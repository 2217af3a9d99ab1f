#!/usr/bin/env python3
"""Runs one Windows test program in a fresh Wine prefix and exits with its code."""
import argparse
import subprocess
import sys

import wineprefix

# Native first, built-in after: Wine's own placeholder in the system
# directory still starts the built-in service manager.
NATIVE_SERVICES_FIRST = "services.exe=n,b"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--version", default="win7")
    ap.add_argument("--native-services", action="store_true",
                    help="load services.exe native-first, so that version queries read a planted image "
                         "and not Wine's built-in service manager")
    ap.add_argument("argv", nargs=argparse.REMAINDER)
    a = ap.parse_args()
    argv = a.argv[1:] if a.argv[:1] == ["--"] else a.argv
    with wineprefix.Prefix(a.version) as p:
        if not a.native_services:
            r = p.run(argv, timeout=800)
        else:
            # The session starts with the usual load order, so that the
            # service manager is Wine's own before anything is planted.
            p.reg("query", r"HKLM\System\CurrentControlSet\Control\Session Manager")
            env = p.env
            env["WINEDLLOVERRIDES"] += ";" + NATIVE_SERVICES_FIRST
            r = subprocess.run([wineprefix.WINE] + argv, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=800)
    sys.stdout.write(r.stdout.decode("utf-8", "replace"))
    sys.stderr.write(r.stderr.decode("utf-8", "replace"))
    return r.returncode


if __name__ == "__main__":
    sys.exit(main())
