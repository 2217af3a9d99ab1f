#!/usr/bin/env python3
"""The Windows 7 restoration pass against `wine reg import` of the same keys
and values, from a .reg file made from the family's table source. Prints
figures; it is not a test.

Every run gets a fresh win7 prefix copied from the same base, whose Wine
session is started before the clock, so each side pays only for its own
process. Both are timed from here around the whole process; the pass also
reports its own time. Afterwards the lifecycle fixture's verify mode reads
back every key and value of the family: a run that left one missing or
different makes the comparison void. The pass also sets every key's
security, which reg import leaves as created.
"""

import argparse
import os
import re
import statistics
import sys
import time

import known_good_table
import wineprefix

FAMILY = 2
LOG = "C:\\restoration-bench.log"
REG_FILE = "C:\\restoration-bench.reg"
EMPTY_REG_FILE = "C:\\restoration-empty.reg"
CLEAR_REG_FILE = "C:\\restoration-clear.reg"
# By its full path: Wine's search for a bare "reg" costs about 75 ms per start
# here, more than the benchmark program's whole start.
REG_EXE = "C:\\windows\\system32\\reg.exe"
REG_HEADER = "Windows Registry Editor Version 5.00"


def reg_escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def reg_value_line(line):
    """A table value line in .reg syntax. Table strings are taken literally
    (a backslash is a backslash); the other data forms are the same."""
    end = line.find('"=')
    name, data = line[1:end], line[end + 2:]
    if data.startswith('"'):
        data = '"%s"' % reg_escape(data[1:-1])
    return ("@" if name == "" else '"%s"' % reg_escape(name)) + "=" + data


def reg_text(records):
    lines = [REG_HEADER]
    previous = None
    for r in records:
        # A split key is one key in the file.
        if r.path != previous:
            lines += ["", "[HKEY_LOCAL_MACHINE\\%s%s]" % (known_good_table.SERVICES_ROOT, r.path)]
            previous = r.path
        lines += [reg_value_line(line) for line in r.lines]
    return "\r\n".join(lines + [""]) + "\r\n"


def clear_text(records):
    """Deletes the family's service keys: a fresh prefix has a few of them
    (Wine's own BITS and wuauserv), and every value is to be written."""
    services = []
    for r in records:
        service = r.path.split("\\")[0]
        if service.lower() not in [s.lower() for s in services]:
            services.append(service)
    lines = [REG_HEADER, ""]
    lines += ["[-HKEY_LOCAL_MACHINE\\%s%s]" % (known_good_table.SERVICES_ROOT, s) for s in services]
    return "\r\n".join(lines + [""]) + "\r\n"


def reg_bytes(text):
    return ("\ufeff" + text).encode("utf-16-le")


def timed(prefix, argv):
    start = time.perf_counter()
    r = prefix.run(argv, timeout=600)
    elapsed = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit("%s exited with %d:\n%s%s" % (" ".join(argv), r.returncode,
                                                r.stdout.decode("utf-8", "replace"),
                                                r.stderr.decode("utf-8", "replace")))
    return elapsed, r.stdout.decode("utf-8", "replace")


def verify(prefix, fixture):
    """Missing keys, differing values and keys whose security is not the
    table's, as the fixture reports them."""
    r = prefix.run([fixture, "verify", str(FAMILY)], timeout=300)
    out = r.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    if not re.search(r"^\d+ records, \d+ values, \d+ differences", out, re.M):
        sys.exit("the fixture's verify mode printed no summary:\n" + out)
    return {
        "missing keys": len(set(re.findall(r"^missing key (.*)$", out, re.M))),
        "values differing": len(re.findall(r"^value .* differs$", out, re.M)),
        "keys without the table's security": len(set(re.findall(r"^security of (.*?): ", out, re.M))),
    }


def pass_log_counts(prefix):
    with open(prefix.unix_path(LOG), "rb") as f:
        text = f.read().decode("utf-16")
    return {
        "opened": text.count("info: Creating "),
        "created": text.count(" - created new"),
        "written": text.count(", current doesn't exist"),
        "updated": text.count("current value differs from known good one"),
        "matching": text.count("matches known good one"),
        "succeeded": text.count("info: ... success"),
        "security set": text.count("Successfully set security information"),
        "failed": len(re.findall(r"failed|Failed", text)),
    }


def fresh_prefix(clear_file):
    """A win7 prefix with its session running and none of the family's keys."""
    p = wineprefix.Prefix("win7")
    p.plant(p.unix_path(CLEAR_REG_FILE), clear_file)
    p.plant(p.unix_path(EMPTY_REG_FILE), reg_bytes(REG_HEADER + "\r\n\r\n"))
    try:
        p.keep_server_running()
        timed(p, [REG_EXE, "import", CLEAR_REG_FILE])
    except BaseException:
        p.close()
        raise
    return p


def pass_time(out):
    m = re.search(r"^pass ([0-9.]+)", out, re.M)
    if not m:
        sys.exit("the benchmark program printed no pass time:\n" + out)
    return float(m.group(1))


def cleaner_run(bench, fixture, values, keys, clear_file):
    with fresh_prefix(clear_file) as p:
        start, _ = timed(p, [bench, "start"])
        total, out = timed(p, [bench, "pass", LOG])
        log = pass_log_counts(p)
        check = verify(p, fixture)
    if (log["written"] != values or log["succeeded"] != values or log["created"] != keys or
            log["security set"] != log["opened"] or log["failed"]):
        sys.exit("the pass did not write every value: %s" % log)
    if any(check.values()):
        sys.exit("after the pass: %s" % check)
    return {"total": total, "start": start, "pass": pass_time(out), "log": log}


def unlogged_pass(bench, fixture, clear_file):
    """The in-process time of the pass with no log target."""
    with fresh_prefix(clear_file) as p:
        _, out = timed(p, [bench, "pass"])
        check = verify(p, fixture)
    if any(check.values()):
        sys.exit("after the pass without a log file: %s" % check)
    return pass_time(out)


def import_run(fixture, reg_file, clear_file):
    with fresh_prefix(clear_file) as p:
        p.plant(p.unix_path(REG_FILE), reg_file)
        start, _ = timed(p, [REG_EXE, "import", EMPTY_REG_FILE])
        total, _ = timed(p, [REG_EXE, "import", REG_FILE])
        check = verify(p, fixture)
    if check["missing keys"] or check["values differing"]:
        sys.exit("after reg import: %s" % check)
    return {"total": total, "start": start, "check": check}


BACKUP_DIR = "C:\\restoration-backup"
MODULE = "C:\\windows\\system32\\tarnvex.dll"


def infected_pass(bench, fixture, backup):
    """The pass on a machine the rootkit damaged (every service key there,
    values and security changed), with or without the registry backup."""
    p = wineprefix.Prefix("win7")
    try:
        os.makedirs(os.path.join(p.unix_path(BACKUP_DIR), "RA Ravariv"))
        p.keep_server_running()
        r = p.run([fixture, "infect", str(FAMILY), MODULE], timeout=300)
        if r.returncode != 0:
            sys.exit("infecting the prefix failed: " + r.stdout.decode("utf-8", "replace"))
        argv = [bench, "pass", LOG] + ([BACKUP_DIR] if backup else [])
        _, out = timed(p, argv)
        check = verify(p, fixture)
        backups = os.listdir(os.path.join(p.unix_path(BACKUP_DIR), "RA Ravariv"))
        size = sum(os.path.getsize(os.path.join(p.unix_path(BACKUP_DIR), "RA Ravariv", n)) for n in backups)
    finally:
        p.close()
    if check["missing keys"] or check["values differing"]:
        sys.exit("after the pass on an infected machine: %s" % check)
    if backup != bool(backups):
        sys.exit("backup files: %s" % backups)
    return pass_time(out), size


def best_median(samples):
    return min(samples), statistics.median(samples)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--benchmark", required=True, help="RestorationBenchmark.exe")
    ap.add_argument("--fixture", required=True, help="MachineFixture.exe")
    ap.add_argument("--table", required=True, help="the family's table source (win7.txt)")
    ap.add_argument("--repeats", type=int, default=7)
    a = ap.parse_args()

    family, records, _ = known_good_table.read_source(a.table)
    if family != FAMILY:
        sys.exit("%s is the table source of family %d" % (a.table, family))
    keys = len({r.path.lower() for r in records})
    values = sum(len(r.lines) for r in records)
    reg_file = reg_bytes(reg_text(records))
    clear_file = reg_bytes(clear_text(records))
    print("Windows 7 family: %d records, %d keys, %d values; .reg file of %d bytes" %
          (len(records), keys, values, len(reg_file)))

    cleaner, imports, unlogged = [], [], []
    for run in range(1, a.repeats + 1):
        c = cleaner_run(a.benchmark, a.fixture, values, keys, clear_file)
        i = import_run(a.fixture, reg_file, clear_file)
        u = unlogged_pass(a.benchmark, a.fixture, clear_file)
        cleaner.append(c)
        imports.append(i)
        unlogged.append(u)
        print("run %d: pass %.3f s (in-process %.3f s, without a log file %.3f s, process start %.3f s; "
              "%d keys created, %d values written, security set %d times), "
              "reg import %.3f s (empty import %.3f s; %d of %d keys without the table's security)" %
              (run, c["total"], c["pass"], u, c["start"], c["log"]["created"], c["log"]["written"],
               c["log"]["security set"], i["total"], i["start"], i["check"]["keys without the table's security"],
               keys))
        sys.stdout.flush()

    def row(label, samples):
        print("  %-44s best %6.3f s   median %6.3f s" % (label, min(samples), statistics.median(samples)))

    def ratio(label, ours, theirs):
        print("  %-44s of the bests %.2f   of the medians %.2f" % (
            label, min(ours) / min(theirs), statistics.median(ours) / statistics.median(theirs)))

    pass_total = [c["total"] for c in cleaner]
    import_total = [i["total"] for i in imports]
    pass_start = [c["start"] for c in cleaner]
    import_start = [i["start"] for i in imports]
    print("%d runs of each, every one in a fresh win7 prefix; every key and value read back equal after each" %
          a.repeats)
    row("restoration pass (whole process):", pass_total)
    row("reg import (whole process):", import_total)
    ratio("ratio pass / reg import:", pass_total, import_total)
    row("start of the pass's process:", pass_start)
    row("reg import of an empty file:", import_start)
    # Starts and runs are separate samples: the best less the best, the
    # median less the median.
    for label, total, start in (("pass", pass_total, pass_start), ("reg import", import_total, import_start)):
        print("  %-44s best %6.3f s   median %6.3f s" % (
            label + " less its start:", min(total) - min(start),
            statistics.median(total) - statistics.median(start)))
    print("  %-44s of the bests %.2f   of the medians %.2f" % (
        "ratio less the starts:", (min(pass_total) - min(pass_start)) / (min(import_total) - min(import_start)),
        (statistics.median(pass_total) - statistics.median(pass_start)) /
        (statistics.median(import_total) - statistics.median(import_start))))
    row("pass, in-process clock:", [c["pass"] for c in cleaner])
    row("pass with no log file, in-process clock:", unlogged)

    # The registry backup costs most where most is replaced: on a machine the
    # rootkit damaged, every service key's security and many values.
    without, with_backup, sizes = [], [], []
    for run in range(1, a.repeats + 1):
        without.append(infected_pass(a.benchmark, a.fixture, False)[0])
        elapsed, size = infected_pass(a.benchmark, a.fixture, True)
        with_backup.append(elapsed)
        sizes.append(size)
        print("run %d on an infected machine: pass %.3f s, with the registry backup %.3f s (backup file %d bytes)" %
              (run, without[-1], with_backup[-1], size))
        sys.stdout.flush()
    print("Registry backup, %d runs of each on an infected win7 prefix (in-process clock):" % a.repeats)
    row("pass without the backup:", without)
    row("pass with the backup:", with_backup)
    ratio("ratio with / without:", with_backup, without)
    return 0


if __name__ == "__main__":
    sys.exit(main())
