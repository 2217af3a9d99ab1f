"""The table generator refuses every malformed source line, so a broken line
can never reach the compiled table."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
sys.path.insert(0, SCRIPTS)
import known_good_table  # noqa: E402

HEAD = "# test source\n@family 2\n@sddl plain O:BAG:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)\n"


def run(source_text):
    with tempfile.TemporaryDirectory() as d:
        src = os.path.join(d, "win7.txt")
        with open(src, "w", encoding="utf-8") as f:
            f.write(source_text)
        out = os.path.join(d, "out")
        proc = subprocess.run([sys.executable, os.path.join(SCRIPTS, "known_good_table.py"), "--out-dir", out, src],
                              capture_output=True, text=True)
        files = {}
        if os.path.isdir(out):
            for name in os.listdir(out):
                with open(os.path.join(out, name), encoding="utf-8") as f:
                    files[name] = f.read()
        return proc.returncode, proc.stderr, files


class CheckValueLine(unittest.TestCase):
    def test_accepts_every_form_the_table_uses(self):
        for line in ['"Type"=dword:00000020', '"Collection"=hex:87,00,01,00', '"X"=hex:', '"X"=""',
                     '"DependOnGroup"=hex(7):00,00', '"1008"=hex(b):96,a0,7a,d1,5c,38,cd,01',
                     '"ServiceDll"=hex(2):41,00,00,00', '"%windir%\\system32\\sessmgr.exe"="a:*:enabled:@x.dll,-1"',
                     '"Object List"="1908"']:
            with self.subTest(line=line):
                known_good_table.check_value_line(line)

    def test_rejects_what_the_parser_would_reject_or_misread(self):
        cases = {
            '@="x"': "default value with an at sign",
            '"X"=hexz:00': "unknown hex form",
            '"X"="abc': "missing closing quote",
            '"X"="a"b"': "quote inside the text",
            '"X"=dword:20': "short double word",
            '"X"=dword:0000002G': "non-hex digit",
            '"X"=dword:000000AB': "capital digits",
            '"X"=hex:87,0,01': "one-digit byte",
            '"X"=hex:87, 00': "space in list",
            '"X"=hex:87,00,': "trailing comma",
            '"X"=hex:87,00,\\': "continuation",
            '"X"=hex(10):00,00': "two-digit type",
            '"X"=hex(2):41,00': "expand string without its NUL",
            '"X"=hex(7):41,00,00,00': "multi-string without its closing empty string",
            '"X"=hex(b):01,02': "short quad word",
            '"X"=DWORD:00000001': "capital keyword",
            '"X"=-': "deletion",
            '"' + "n" * 256 + '"=dword:00000001': "name too long",
            '"X"="a\tb"': "control character",
        }
        for line, why in cases.items():
            with self.subTest(why=why):
                with self.assertRaises(known_good_table.SourceError):
                    known_good_table.check_value_line(line)


class Generate(unittest.TestCase):
    def test_good_source_gives_a_family_source_and_the_table(self):
        rc, err, files = run(HEAD + '[BITS\\Enum] keep=1 sddl=plain\n"0"="Root\\LEGACY_BITS\\0000"\n'
                                    '"Count"=dword:00000001\n\n[BITS\\Empty] keep=0 sddl=plain\n')
        self.assertEqual(0, rc, err)
        self.assertEqual({"KnownGood_win7.cpp", "KnownGoodData.h", "KnownGoodTable.cpp"}, set(files))
        family = files["KnownGood_win7.cpp"]
        self.assertIn('"System\\\\CurrentControlset\\\\Services\\\\BITS\\\\Enum"', family)
        self.assertIn('L"\\"0\\"=\\"Root\\\\LEGACY_BITS\\\\0000\\"" L"\\0"', family)
        self.assertIn('kWin7Lines1[] = L"";', family)
        self.assertIn("{2, 1, HKEY_LOCAL_MACHINE, kWin7Key0, kSddl0, kWin7Lines0},", files["KnownGoodTable.cpp"])

    def test_malformed_sources_fail_with_file_and_line(self):
        cases = {
            "bad value line": HEAD + '[BITS] keep=0 sddl=plain\n"X"=hex:8,00\n',
            "value outside a record": HEAD + '"X"=dword:00000001\n',
            "undefined security": HEAD + '[BITS] keep=0 sddl=other\n',
            "bad keep flag": HEAD + '[BITS] keep=2 sddl=plain\n',
            "stray text": HEAD + '[BITS] keep=0 sddl=plain\nType=4\n',
            "split record differs": HEAD + '[A] keep=0 sddl=plain\n"X"=dword:00000001\n[A] keep=1 sddl=plain\n"Y"=dword:00000001\n',
            "key twice": HEAD + '[A] keep=0 sddl=plain\n[B] keep=0 sddl=plain\n[A] keep=0 sddl=plain\n',
            "value twice in a split key": HEAD + '[A] keep=0 sddl=plain\n"X"=dword:00000001\n[A] keep=0 sddl=plain\n"X"=dword:00000002\n',
            "no family": "@sddl plain O:BAG:SY\n",
        }
        for why, text in cases.items():
            with self.subTest(why=why):
                rc, err, files = run(text)
                self.assertEqual(1, rc)
                self.assertIn("win7.txt", err)
                self.assertEqual({}, files)

    def test_block_of_65536_bytes_is_refused(self):
        # 2 * (chars + NULs) bytes: one line of 32,766 characters plus its NUL and the closing NUL.
        line = '"X"="' + "a" * (32766 - 6) + '"'
        self.assertEqual(32766, len(line))
        rc, err, _ = run(HEAD + "[A] keep=0 sddl=plain\n" + line + "\n")
        self.assertEqual(1, rc)
        self.assertIn("65536 bytes", err)
        rc, err, _ = run(HEAD + "[A] keep=0 sddl=plain\n" + line[:-2] + '"' + "\n")
        self.assertEqual(0, rc, err)


if __name__ == "__main__":
    unittest.main()
