#!/usr/bin/env python3
"""Checks of the shipped 32-bit executables that need no Windows to run.

Windows XP and Server 2003 refuse to start a program that imports a function
their DLLs lack, and Wine cannot show it (its msvcrt.dll has everything). So
every import is compared with a reviewed list of functions that exist on
Windows XP SP3 (32-bit); a new import fails here until someone has checked it
and added it to xp_sp3_imports.txt.
"""

import os
import re
import subprocess
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "shell32.dll", "shlwapi.dll",
                "version.dll", "msvcrt.dll", "ntdll.dll"}


def shipped_executables():
    product = os.environ.get("VORN_PRODUCT_EXE")
    if not product:
        raise unittest.SkipTest("no product build given (VORN_PRODUCT_EXE)")
    return [product]


def objdump_tool():
    tool = os.environ.get("VORN_OBJDUMP") or "objdump"
    # The product is 32-bit; the test tree's objdump may be the 64-bit one.
    return tool.replace("x86_64-w64-mingw32", "i686-w64-mingw32")


def objdump(exe):
    return subprocess.run([objdump_tool(), "-p", exe], check=True, stdout=subprocess.PIPE).stdout.decode()


def imports(dump):
    """{dll (lower case): [function names]} from objdump's import tables."""
    result, dll = {}, None
    for line in dump.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            result.setdefault(dll, [])
            continue
        m = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\S+)$", line)
        if dll and m:
            result[dll].append(m.group(1))
        elif dll and not line.strip():
            dll = None
    return result


def reviewed_list():
    entries = set()
    with open(os.path.join(HERE, "xp_sp3_imports.txt")) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                dll, name = line.split()
                entries.add((dll.lower(), name))
    return entries


class ImportTable(unittest.TestCase):
    def setUp(self):
        self.tables = {exe: imports(objdump(exe)) for exe in shipped_executables()}

    def test_only_system_dlls_that_every_supported_windows_has(self):
        for exe, table in self.tables.items():
            self.assertTrue(table, exe)
            self.assertLessEqual(set(table), ALLOWED_DLLS, exe)

    def test_no_bounded_runtime_function_of_later_systems(self):
        for exe, table in self.tables.items():
            bounded = [f for f in table.get("msvcrt.dll", []) if f.endswith("_s")]
            self.assertEqual([], bounded, exe)

    def test_every_import_is_reviewed_for_windows_xp_sp3(self):
        reviewed = reviewed_list()
        for exe, table in self.tables.items():
            unknown = sorted("%s %s" % (dll, f) for dll, fs in table.items() for f in fs
                             if (dll, f) not in reviewed)
            self.assertEqual([], unknown, "imports not on the reviewed XP SP3 list of " + exe)

    def test_every_reviewed_function_is_imported(self):
        # The list is the reviewed import table itself: an entry not found
        # means the table was not read (or the list holds what is no longer used).
        found = {(dll, f) for table in self.tables.values() for dll, fs in table.items() for f in fs}
        self.assertEqual([], sorted("%s %s" % entry for entry in reviewed_list() - found))


class ImageHeaders(unittest.TestCase):
    def test_32_bit_console_program_with_manifest_and_version(self):
        for exe in shipped_executables():
            dump = objdump(exe)
            self.assertIn("file format pei-i386", dump)
            self.assertRegex(dump, r"Subsystem\s+00000003")  # Windows console
            data = open(exe, "rb").read()
            self.assertIn(b'level="requireAdministrator" uiAccess="false"', data)
            for os_id in (b"{e2011457-1546-43c5-a5fe-008deee3d3f0}", b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"):
                self.assertIn(os_id, data)
            for key, value in (("ProductName", "VORN Win32/Tarnvex.EV Cleaner"), ("FileVersion", "1.0.0.7"),
                               ("ProductVersion", "1.0.0.7")):
                entry = (key + "\0").encode("utf-16-le")
                at = data.find(entry)
                self.assertGreaterEqual(at, 0, key)
                tail = data[at + len(entry):at + len(entry) + 200]
                self.assertIn((value + "\0").encode("utf-16-le"), tail, key)
            # Fixed file and product version 1.0.0.7 in VS_FIXEDFILEINFO.
            fixed = data.find(b"\xbd\x04\xef\xfe")
            self.assertGreater(fixed, 0)
            words = [int.from_bytes(data[fixed + 8 + 4 * i:fixed + 12 + 4 * i], "little") for i in range(4)]
            self.assertEqual([0x00010000, 0x00000007, 0x00010000, 0x00000007], words)


    def test_stripped_of_its_symbol_table(self):
        for exe in shipped_executables():
            data = open(exe, "rb").read()
            pe = int.from_bytes(data[60:64], "little")
            self.assertEqual(b"PE\0\0", data[pe:pe + 4])
            # COFF file header: PointerToSymbolTable and NumberOfSymbols.
            self.assertEqual((0, 0), (int.from_bytes(data[pe + 12:pe + 16], "little"),
                                      int.from_bytes(data[pe + 16:pe + 20], "little")), exe)
            self.assertNotIn("HAS_SYMS", objdump_flags(exe))
            # For the record, not a limit.
            print("\n%s: %d bytes, code section %d bytes" % (os.path.basename(exe), len(data), code_size(exe)))


def objdump_flags(exe):
    return subprocess.run([objdump_tool(), "-f", exe], check=True, stdout=subprocess.PIPE).stdout.decode()


def code_size(exe):
    """Size of the .text section as objdump -h lists it."""
    dump = subprocess.run([objdump_tool(), "-h", exe], check=True, stdout=subprocess.PIPE).stdout.decode()
    for line in dump.splitlines():
        fields = line.split()
        if len(fields) > 2 and fields[1] == ".text":
            return int(fields[2], 16)
    return 0


if __name__ == "__main__":
    unittest.main()
