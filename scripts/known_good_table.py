#!/usr/bin/env python3
"""Turns the per-family sources of the known-good registry table into C++.

A source file holds, in this order of appearance:
  # ...                          a comment line (also allowed between value lines)
  @family <code>                 the OS family code, 0 to 5, once per file
  @sddl <name> <SDDL string>     a named security string, defined before its use
  [<path>] keep=<0|1> sddl=<name>
                                 a record: the key below the services key; the
                                 value lines that follow belong to it
  "<name>"=<data>                a value line in the syntax of exported registry
                                 files, one value per line, no continuation

A key whose values do not fit one value block is written as several
consecutive records with the same header (a split key).

Every line is checked strictly here, so the build fails on a line the
program's parser would reject or read differently than written: string data
ends with its closing quote, double words are eight lowercase hex digits, hex
lists hold only two-digit lowercase bytes separated by single commas, and
every value block stays below 65,536 bytes.

Output: one C++ source per family with its key paths and value blocks, and
KnownGoodTable.cpp with the security strings and the single record array in
family order.
"""

import argparse
import os
import re
import sys

SERVICES_ROOT = "System\\CurrentControlset\\Services\\"
MAX_BLOCK_BYTES = 65536
MAX_NAME_CHARS = 255
FAMILY_SYMBOLS = {0: "Xp", 1: "Vista", 2: "Win7", 3: "Server2003", 4: "Server2008R2", 5: "Server2008"}

HEADER_RE = re.compile(r"^\[(?P<path>[^\]]+)\] keep=(?P<keep>[01]) sddl=(?P<sddl>[A-Za-z][A-Za-z0-9]*)$")
SDDL_DEF_RE = re.compile(r"^@sddl (?P<name>[A-Za-z][A-Za-z0-9]*) (?P<text>\S+)$")
FAMILY_RE = re.compile(r"^@family (?P<code>[0-5])$")
HEX_LIST_RE = re.compile(r"^(?:[0-9a-f]{2}(?:,[0-9a-f]{2})*)?$")
DWORD_RE = re.compile(r"^[0-9a-f]{8}$")
KEY_PATH_RE = re.compile(r"^[A-Za-z0-9_.{}\- ]+(?:\\[A-Za-z0-9_.{}\- ]+)*$")
SDDL_CHARS_RE = re.compile(r"^[A-Za-z0-9:;()\-]+$")


class SourceError(Exception):
    pass


class Record:
    def __init__(self, family, path, keep, sddl_name, where):
        self.family = family
        self.path = path
        self.keep = keep
        self.sddl_name = sddl_name
        self.where = where
        self.lines = []

    def block_bytes(self):
        # Every line and the closing empty line end with a NUL; UTF-16 units.
        return 2 * (sum(len(line) + 1 for line in self.lines) + 1)


def check_value_line(line):
    """Returns the value name, or raises SourceError for a malformed line."""
    if not line.startswith('"'):
        raise SourceError("a value line starts with a double quote")
    end = line.find('"=')
    if end < 0:
        raise SourceError("no name terminator")
    name = line[1:end]
    if len(name) > MAX_NAME_CHARS:
        raise SourceError("value name longer than %d characters" % MAX_NAME_CHARS)
    data = line[end + 2:]
    if data.startswith('"'):
        if len(data) < 2 or not data.endswith('"'):
            raise SourceError("string data without its closing quote")
        if '"' in data[1:-1]:
            raise SourceError("double quote inside string data")
    elif data.startswith("dword:"):
        if not DWORD_RE.match(data[6:]):
            raise SourceError("double word is not eight lowercase hex digits")
    elif data.startswith("hex:"):
        if not HEX_LIST_RE.match(data[4:]):
            raise SourceError("hex list holds more than two-digit bytes and commas")
    elif data.startswith("hex("):
        m = re.match(r"^hex\(([0-9a-f])\):(.*)$", data)
        if not m:
            raise SourceError("hex type is not one hex digit in parentheses")
        kind, lst = int(m.group(1), 16), m.group(2)
        if not HEX_LIST_RE.match(lst):
            raise SourceError("hex list holds more than two-digit bytes and commas")
        count = (len(lst) + 1) // 3
        if kind in (2, 7):
            raw = bytes(int(x, 16) for x in lst.split(",")) if lst else b""
            if count % 2 or raw[-2:] != b"\0\0":
                raise SourceError("string list not ended by a NUL character")
            if kind == 7 and len(raw) > 2 and raw[-4:] != b"\0\0\0\0":
                raise SourceError("multi-string not ended by an empty string")
        if kind == 0xB and count != 8:
            raise SourceError("a quad word has 8 bytes")
    else:
        raise SourceError("unknown data form")
    for ch in line:
        if ord(ch) < 0x20:
            raise SourceError("control character in line")
    return name


def read_source(path):
    family = None
    sddl = {}
    records = []
    current = None
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for number, raw in enumerate(text.split("\n"), 1):
        where = "%s:%d" % (path, number)
        line = raw.rstrip("\r")
        try:
            if line == "" or line.startswith("#"):
                continue
            if line.startswith("@family"):
                m = FAMILY_RE.match(line)
                if not m or family is not None:
                    raise SourceError("bad or repeated @family line")
                family = int(m.group("code"))
            elif line.startswith("@sddl"):
                m = SDDL_DEF_RE.match(line)
                if not m or m.group("name") in sddl:
                    raise SourceError("bad or repeated @sddl line")
                if not SDDL_CHARS_RE.match(m.group("text")) or not m.group("text").startswith("O:"):
                    raise SourceError("security string is not owner-first SDDL")
                sddl[m.group("name")] = m.group("text")
            elif line.startswith("["):
                m = HEADER_RE.match(line)
                if not m:
                    raise SourceError("bad record header")
                if family is None:
                    raise SourceError("record before @family")
                if m.group("sddl") not in sddl:
                    raise SourceError("undefined security string " + m.group("sddl"))
                if not KEY_PATH_RE.match(m.group("path")):
                    raise SourceError("bad key path")
                current = Record(family, m.group("path"), int(m.group("keep")), m.group("sddl"), where)
                records.append(current)
            elif line.startswith('"'):
                if current is None:
                    raise SourceError("value line outside a record")
                check_value_line(line)
                current.lines.append(line)
            else:
                raise SourceError("line is neither comment, directive, record nor value")
        except SourceError as e:
            raise SourceError("%s: %s" % (where, e))
    if family is None:
        raise SourceError("%s: no @family line" % path)
    check_records(path, records)
    return family, records, sddl


def check_records(path, records):
    seen_keys = set()
    previous = None
    names_of_key = set()
    for r in records:
        if r.block_bytes() >= MAX_BLOCK_BYTES:
            raise SourceError("%s: value block of %d bytes" % (r.where, r.block_bytes()))
        split = previous is not None and previous.path == r.path
        if split:
            if previous.keep != r.keep or previous.sddl_name != r.sddl_name:
                raise SourceError("%s: split record differs from the one before" % r.where)
            if not r.lines:
                raise SourceError("%s: split record without values" % r.where)
        else:
            if r.path.lower() in seen_keys:
                raise SourceError("%s: key appears twice" % r.where)
            seen_keys.add(r.path.lower())
            names_of_key = set()
        for line in r.lines:
            name = line[1:line.find('"=')].lower()
            if name in names_of_key:
                raise SourceError("%s: value %s appears twice in the key" % (r.where, name))
            names_of_key.add(name)
        previous = r


def c_literal(text, wide):
    """A C++ string literal of `text`; narrow literals hold ASCII only."""
    out = []
    for ch in text:
        if ch in '\\"?':
            out.append("\\" + ch)
        elif 0x20 <= ord(ch) < 0x7F:
            out.append(ch)
        elif not wide:
            raise SourceError("non-ASCII character in narrow string: %r" % text)
        else:
            # A universal character name cannot run into a following digit.
            out.append("\\u%04x" % ord(ch) if ord(ch) <= 0xFFFF else "\\U%08x" % ord(ch))
    return ('L"' if wide else '"') + "".join(out) + '"'


def narrow_literal(text):
    return c_literal(text, wide=False)


def wide_literal(text):
    return c_literal(text, wide=True)


def family_source(family, records):
    sym = FAMILY_SYMBOLS[family]
    out = ["// Generated from the family's table source by scripts/known_good_table.py.",
           "#include \"KnownGoodData.h\"", "", "namespace known_good_data {", ""]
    for i, r in enumerate(records):
        out.append("extern const char k%sKey%d[] = %s;" % (sym, i, narrow_literal(SERVICES_ROOT + r.path)))
        if r.lines:
            # Each line is its own literal ending in a NUL; the closing NUL of
            # the last literal is the empty line that ends the block.
            parts = ["    %s L\"\\0\"" % wide_literal(line) for line in r.lines]
            out.append("extern const wchar_t k%sLines%d[] =\n%s;" % (sym, i, "\n".join(parts)))
        else:
            out.append("extern const wchar_t k%sLines%d[] = L\"\";" % (sym, i))
        out.append("static_assert(sizeof(k%sLines%d) < %d, \"value block too large\");" % (sym, i, MAX_BLOCK_BYTES))
        out.append("")
    out.append("}  // namespace known_good_data")
    return "\n".join(out) + "\n"


def data_header(families):
    out = ["// Generated by scripts/known_good_table.py: the symbols of the family sources.",
           "#pragma once", "", "namespace known_good_data {", ""]
    for family, records in families:
        sym = FAMILY_SYMBOLS[family]
        for i in range(len(records)):
            out.append("extern const char k%sKey%d[];" % (sym, i))
            out.append("extern const wchar_t k%sLines%d[];" % (sym, i))
    out.append("")
    out.append("}  // namespace known_good_data")
    return "\n".join(out) + "\n"


def table_source(families, sddl_of):
    strings = []
    index = {}
    for family, records in families:
        for r in records:
            text = sddl_of[family][r.sddl_name]
            if text not in index:
                index[text] = len(strings)
                strings.append(text)
    out = ["// Generated by scripts/known_good_table.py: the known-good registry table.",
           "#include \"registry/KnownGoodRecord.h\"", "", "#include \"KnownGoodData.h\"", "",
           "namespace {", "", "using namespace known_good_data;", ""]
    for i, text in enumerate(strings):
        out.append("const char kSddl%d[] = %s;" % (i, narrow_literal(text)))
    out.append("")
    out.append("const KnownGoodRecord kTable[] = {")
    for family, records in families:
        sym = FAMILY_SYMBOLS[family]
        for i, r in enumerate(records):
            out.append("    {%d, %d, HKEY_LOCAL_MACHINE, k%sKey%d, kSddl%d, k%sLines%d}," % (
                family, r.keep, sym, i, index[sddl_of[family][r.sddl_name]], sym, i))
    out.append("};")
    out.append("")
    out.append("}  // namespace")
    out.append("")
    out.append("KnownGoodTable BuiltInKnownGoodTable() {")
    out.append("    return KnownGoodTable{kTable, sizeof(kTable) / sizeof(kTable[0])};")
    out.append("}")
    return "\n".join(out) + "\n"


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out-dir", required=True)
    parser.add_argument("sources", nargs="+")
    args = parser.parse_args(argv)
    by_family = {}
    sddl_of = {}
    names = {}
    try:
        for path in args.sources:
            family, records, sddl = read_source(path)
            if family in by_family:
                raise SourceError("%s: family %d given twice" % (path, family))
            by_family[family] = records
            sddl_of[family] = sddl
            names[family] = os.path.splitext(os.path.basename(path))[0]
    except SourceError as e:
        print("known_good_table: %s" % e, file=sys.stderr)
        return 1
    families = [(code, by_family[code]) for code in sorted(by_family)]
    os.makedirs(args.out_dir, exist_ok=True)
    for family, records in families:
        write(os.path.join(args.out_dir, "KnownGood_%s.cpp" % names[family]), family_source(family, records))
    write(os.path.join(args.out_dir, "KnownGoodData.h"), data_header(families))
    write(os.path.join(args.out_dir, "KnownGoodTable.cpp"), table_source(families, sddl_of))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
