#!/usr/bin/env python3
"""Runs the services.exe replacement tests in a fresh prefix with services.exe
loaded native-first, so that version queries read the planted images and not
Wine's built-in service manager."""
import os
import subprocess
import sys

import wineprefix

# Native first, built-in after: Wine's own placeholder in the system
# directory still starts the built-in service manager.
NATIVE_FIRST = "services.exe=n,b"


def main():
    exe = os.path.join(os.environ["VORN_BUILD_DIR"], "tests", "cleanup", "services_exe_restore_tests.exe")
    with wineprefix.Prefix("win7") as p:
        # Start the prefix with the usual load order, so that the service
        # manager is Wine's own before anything is planted.
        p.reg("query", r"HKLM\System\CurrentControlSet\Control\Session Manager")
        env = p.env
        env["WINEDLLOVERRIDES"] += ";" + NATIVE_FIRST
        r = subprocess.run([wineprefix.WINE, exe] + sys.argv[1:], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=800)
    sys.stdout.write(r.stdout.decode("utf-8", "replace"))
    sys.stderr.write(r.stderr.decode("utf-8", "replace"))
    return r.returncode


if __name__ == "__main__":
    sys.exit(main())
