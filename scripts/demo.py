#!/usr/bin/env python3
"""`make demo`: a cleaning run of the real cleaner in a throw-away Windows 7
prefix, answered with 'y', with its console dialogue, exit code and log."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario  # noqa: E402
import wineprefix  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    os.environ.setdefault("VORN_WINE_BASES", os.path.join(ROOT, "build", "test", "wine-bases"))
    exe = os.path.join(ROOT, "build", "test", "src", "driver", "VORNTarnvexEvCleaner.exe")
    print("Preparing a Windows 7 prefix (the first time takes about 20 seconds)...")
    with wineprefix.Prefix("win7") as prefix:
        run = scenario.run_console(prefix, [exe], [("(y/n)?", "y"), ("press any key to reboot...", " ")])
        print("\n=== Console (the key 'y' was typed at the question) ===")
        print(run.text.rstrip())
        print("\n=== Exit code: %d ===" % run.exit_code)
        log = os.path.join(prefix.desktop, "RA Ravariv", "TarnvexFix.log")
        print("\n=== %s ===" % "Desktop\\RA Ravariv\\TarnvexFix.log")
        if os.path.exists(log):
            data = open(log, "rb").read()
            print("(%d bytes, starts with %s)" % (len(data), data[:2].hex(" ").upper()))
            print(data.decode("utf-16").replace("\r\n", "\n").rstrip())
        else:
            print("(no log file)")


if __name__ == "__main__":
    main()
