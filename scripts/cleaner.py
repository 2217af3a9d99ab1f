"""Which cleaner the tests and the demo run.

Where Wine runs 32-bit code it is the shipped program itself (build/product),
which then runs under WoW64 in every 64-bit prefix: its real setting on 64-bit
Windows. Where it does not, it is the test tree's 64-bit build of the same
sources, which is no WoW64 process.
"""

import os

import wineprefix

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = "VORNTarnvexEvCleaner.exe"


def shipped_exe():
    return os.environ.get("VORN_PRODUCT_EXE") or os.path.join(ROOT, "build", "product", "src", "driver", NAME)


def exe(build_dir=None):
    if wineprefix.WINE_32BIT:
        return shipped_exe()
    build_dir = build_dir or os.environ.get("VORN_BUILD_DIR") or os.path.join(ROOT, "build", "test")
    return os.path.join(build_dir, "src", "driver", NAME)


def bits(prefix):
    """The word the cleaner logs for the system it runs on in this prefix."""
    return "64 bit" if prefix.wow64 else "32 bit"


def describe():
    if wineprefix.WINE_32BIT:
        return "the shipped 32-bit cleaner (%s), under WoW64 in 64-bit prefixes" % shipped_exe()
    return "a 64-bit build of the cleaner's sources (no 32-bit code runs on this machine)"
