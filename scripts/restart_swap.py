"""The swap before the restart, on the cleaner the scenarios run.

A file of the rootkit's is held open during the cleaning run, so that its
deletion fails and is left to the restart. After the run, a local user
renames the directory that holds it and puts a link to a folder outside the
recycle bin in its place; that folder holds a file of the same name. The
restart (`wineboot -r`) then carries out what the run scheduled. A removal
that is safe against the swap leaves the folder outside as it was.
"""

import collections
import os

import infected_machine
import malware_files

# Planted beside the machine's own tree in the user's bot directory.
BUSY = "busy"
LOCKED = BUSY + "\\locked.bin"
SWAP_TREE = {
    BUSY: (None, ""),
    LOCKED: (b"rootkit, held open", ""),
    BUSY + "\\free.txt": (b"rootkit", ""),
}
OUTSIDE = "C:\\vorn-outside"
OUTSIDE_FILES = {"locked.bin": b"not the rootkit's"}

SwapReport = collections.namedtuple("SwapReport", [
    "run",             # the cleaning run (scenario.ConsoleRun)
    "removal",         # the log lines of the removal
    "pending",         # the names the restart was to delete, in order
    "outside_before",  # {name: content} of the folder outside, before the restart
    "outside_after",   # the same after the restart, None when the folder is gone
    "moved_after",     # what is left in the renamed directory after the restart
])


def folder(path):
    """{relative name: content} of the files below a Unix path, None when it is missing."""
    if not os.path.isdir(path):
        return None
    found = {}
    for root, _, files in os.walk(path):
        for name in files:
            with open(os.path.join(root, name), "rb") as f:
                found[os.path.relpath(os.path.join(root, name), path)] = f.read()
    return found


def pending_deletions(machine):
    """The names of the pending renames with an empty target, in order."""
    value = machine.prefix.reg_value(infected_machine.SESSION_MANAGER, "PendingFileRenameOperations")
    names = (value or "").split("\\0")
    return [source for source, target in zip(names[0::2], names[1::2]) if source and not target]


def run(prefix, build_dir, cleaner_exe):
    """Infects the prefix, runs the swap around a cleaning run and the
    restart, and reports what happened (SwapReport)."""
    m = infected_machine.InfectedMachine(prefix, build_dir)
    m.infect(cleaner_exe)  # one Wine session until the restart: the pending list waits for it
    bot = m.bot_dirs[0]
    malware_files.plant_tree(prefix, [bot], SWAP_TREE)
    outside = prefix.unix_path(OUTSIDE)
    for name, content in OUTSIDE_FILES.items():
        prefix.plant(os.path.join(outside, name), content)

    cleaning = m.clean("n", hold=bot.path + "\\" + LOCKED)
    log = m.log_text().split("\n")
    start = log.index("info: Attempting to remove malware files...")
    removal = log[start + 1:log.index("info: Cleaning finished", start)]
    pending = pending_deletions(m)

    before = folder(outside)
    malware_files.swap_for_link(prefix, bot, BUSY, OUTSIDE)
    m.restart()
    moved = folder(os.path.join(prefix.unix_path(bot.path), BUSY + ".moved"))
    return SwapReport(cleaning, removal, pending, before, folder(outside), moved)
