#!/usr/bin/env python3
"""Runs one family's restoration test program in a fresh prefix, then reads
the registry back on its own: the Services tree exported with `reg export`
(native view) before and after, every value of the family's records
compared with the table's sources as the build's generator reads them.
Nothing of the program's own parser or comparison is used here."""
import argparse
import glob
import os
import re
import sys

import known_good_table
import wineprefix

FAMILY_OF_VERSION = {"winxp": 0, "vista": 1, "win7": 2, "win2003": 3, "win2008r2": 4, "win2008": 5}
SERVICES = "HKLM\\System\\CurrentControlSet\\Services"
SERVICES_EXPORTED = "hkey_local_machine\\system\\currentcontrolset\\services"
DATA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "registry", "data")

REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4


class LineError(Exception):
    pass


def unescape(text):
    """The text of a quoted string in an exported script (\\\\ and \\" escaped)."""
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\":
            if i + 1 >= len(text) or text[i + 1] not in '\\"':
                raise LineError("bad escape in %r" % text)
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out)


def hex_bytes(lst):
    if lst == "":
        return b""
    if not re.fullmatch(r"[0-9a-fA-F]{2}(,[0-9a-fA-F]{2})*", lst):
        raise LineError("bad byte list %r" % lst)
    return bytes(int(x, 16) for x in lst.split(","))


def decode(line, exported):
    """(name lower case, (type, bytes)) of one value line: a source line takes
    names and strings as written; an exported one escapes them."""
    if exported:
        m = re.fullmatch(r'"((?:[^"\\]|\\.)*)"=(.*)', line)
    else:
        m = re.fullmatch(r'"(.*?)"=(.*)', line)
    if not m:
        raise LineError("no value line: %r" % line)
    name, data = (unescape(m.group(1)) if exported else m.group(1)), m.group(2)
    if data.startswith('"'):
        if not data.endswith('"') or len(data) < 2:
            raise LineError("unterminated string: %r" % line)
        text = unescape(data[1:-1]) if exported else data[1:-1]
        value = (REG_SZ, (text + "\0").encode("utf-16-le"))
    elif data.startswith("dword:"):
        if not re.fullmatch(r"[0-9a-fA-F]{8}", data[6:]):
            raise LineError("bad double word: %r" % line)
        value = (REG_DWORD, int(data[6:], 16).to_bytes(4, "little"))
    elif data.startswith("hex:"):
        value = (REG_BINARY, hex_bytes(data[4:]))
    else:
        m = re.fullmatch(r"hex\(([0-9a-fA-F]+)\):(.*)", data)
        if not m:
            raise LineError("unknown data form: %r" % line)
        value = (int(m.group(1), 16), hex_bytes(m.group(2)))
    return name.lower(), value


def exported_values(text):
    """{key below Services (lower case): {name: (type, bytes)}} of an export."""
    keys, key = {}, None
    text = re.sub(r"\\\n\s*", "", text.replace("\r\n", "\n"))
    for line in text.split("\n"):
        if line.startswith("[") and line.endswith("]"):
            path = line[1:-1].lower()
            key = path[len(SERVICES_EXPORTED) + 1:] if path.startswith(SERVICES_EXPORTED + "\\") else None
            if key is not None:
                keys.setdefault(key, {})
        elif key is not None and line.startswith('"'):
            name, value = decode(line, exported=True)
            keys[key][name] = value
    return keys


def export_services(p):
    target = "C:\\vorn-services.reg"
    code, out = p.reg("export", SERVICES, target, "/y")
    if code != 0:
        raise AssertionError("reg export failed (%d): %s" % (code, out))
    return exported_values(wineprefix.read_bytes(p.unix_path(target)).decode("utf-16"))


def family_records(family):
    for path in sorted(glob.glob(os.path.join(DATA_DIR, "*.txt"))):
        if os.path.basename(path) == "CMakeLists.txt":
            continue
        code, records, _ = known_good_table.read_source(path)
        if code == family:
            return records
    raise AssertionError("no source for family %d" % family)


def compare(records, before, after):
    """The differences between the table and the registry after the pass; a
    value kept from before (keep=1) must be as it was."""
    problems = []
    for r in records:
        key = r.path.lower()
        if key not in after:
            problems.append("%s: key missing" % r.path)
            continue
        for line in r.lines:
            try:
                name, expected = decode(line, exported=False)
            except LineError as e:
                problems.append("%s: source line not readable: %s" % (r.path, e))
                continue
            if r.keep and name in before.get(key, {}):
                expected = before[key][name]
            actual = after[key].get(name)
            if actual != expected:
                problems.append("%s: %s is %r, expected %r" % (r.path, name, actual, expected))
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--version", required=True, choices=sorted(FAMILY_OF_VERSION))
    ap.add_argument("argv", nargs=argparse.REMAINDER)
    a = ap.parse_args()
    argv = a.argv[1:] if a.argv[:1] == ["--"] else a.argv
    records = family_records(FAMILY_OF_VERSION[a.version])
    with wineprefix.Prefix(a.version) as p:
        before = export_services(p)
        r = p.run(argv, timeout=800)
        sys.stdout.write(r.stdout.decode("utf-8", "replace"))
        sys.stderr.write(r.stderr.decode("utf-8", "replace"))
        if r.returncode != 0:
            return r.returncode
        problems = compare(records, before, export_services(p))
    values = sum(len(r.lines) for r in records)
    if problems:
        print("read back: %d of %d values of %d records differ from the table's sources" %
              (len(problems), values, len(records)))
        for line in problems[:50]:
            print("  " + line)
        return 1
    print("read back: all %d values of %d records equal the table's sources" % (values, len(records)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
