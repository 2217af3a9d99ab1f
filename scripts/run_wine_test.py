#!/usr/bin/env python3
"""Runs one Windows test program in a fresh Wine prefix and exits with its code."""
import argparse
import sys

import wineprefix


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--version", default="win7")
    ap.add_argument("argv", nargs=argparse.REMAINDER)
    a = ap.parse_args()
    argv = a.argv[1:] if a.argv[:1] == ["--"] else a.argv
    with wineprefix.Prefix(a.version) as p:
        r = p.run(argv, timeout=800)
    sys.stdout.write(r.stdout.decode("utf-8", "replace"))
    sys.stderr.write(r.stderr.decode("utf-8", "replace"))
    return r.returncode


if __name__ == "__main__":
    sys.exit(main())
