"""The cleaner run with its system volume given an identity.

Wine gives the system volume none (no "\\systemroot" object, no named streams
or reparse points on C:), so a program of its own cannot derive the
per-machine identifier there and never reaches the removal of the rootkit's
files. The test tree's volume_identity_launcher starts the program unchanged
and makes its volume queries answer as an NTFS system volume created at
CREATION_TIME; the identifier the program then derives is BOT_ID.
"""

import hashlib
import os
import struct

# FILETIME of the volume's creation: 2009-07-14 (that of the test build's
# known volume, so both name the same bot directory).
CREATION_TIME = 0x01CA04A5F3C4E000


def bot_id(creation_time):
    """The identifier the cleaner derives from a volume created at
    creation_time: the MD5 of its 8 little-endian bytes, printed as a GUID
    without its dashes and braces, after a '$'."""
    digest = hashlib.md5(struct.pack("<Q", creation_time)).digest()
    data1, data2, data3 = struct.unpack_from("<IHH", digest)
    return "$%08x%04x%04x%s" % (data1, data2, data3, digest[8:].hex())


BOT_ID = bot_id(CREATION_TIME)


def launcher(build_dir):
    return os.path.join(build_dir, "tests", "tools", "volume_identity_launcher.exe")


def command(build_dir, argv, hold=None):
    """The argv for wine that runs argv with the volume identity; hold: a
    Windows path the launcher keeps open without delete sharing while the
    program runs (in the same Wine session), as a running rootkit would."""
    held = ["--hold", hold] if hold else []
    return [launcher(build_dir)] + held + ["%016X" % CREATION_TIME] + list(argv)
