"""Checks of the built Windows files themselves: the launcher and the engine
import system DLLs only, the engine exports its entry routine undecorated,
the 32-bit build links, and both launchers carry the release's version and
stay within 32 KiB."""
import json
import os
import re
import subprocess
import unittest

import kelwine

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ws2_32.dll", "msvcrt.dll"}
RUNTIME_DLL = re.compile(r"libstdc\+\+|libgcc|libwinpthread", re.IGNORECASE)
X86_BUILD = os.path.join(kelwine.SOURCE, "build", "windows-x86")
SIZE_LIMIT = 32 * 1024
# Debian's Python, where python3-pefile lives, whichever Python runs the tests.
DEBIAN_PYTHON = "/usr/bin/python3"
# Prints a PE file's version resource as JSON: the fixed part's two numbers
# as four parts each, and the strings of every table.
VERSION_READER = r"""
import json, sys, pefile
pe = pefile.PE(sys.argv[1])
fixed = pe.VS_FIXEDFILEINFO[0]
parts = lambda high, low: [high >> 16, high & 0xffff, low >> 16, low & 0xffff]
strings = {}
for info in getattr(pe, "FileInfo", [[]])[0]:
    for table in getattr(info, "StringTable", []):
        strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
print(json.dumps({"file": parts(fixed.FileVersionMS, fixed.FileVersionLS),
                  "product": parts(fixed.ProductVersionMS, fixed.ProductVersionLS), "strings": strings}))
"""


def objdump(tool, path):
    return subprocess.run([tool, "-p", path], capture_output=True, text=True, check=True).stdout


def imports(tool, path):
    return [name.strip() for name in re.findall(r"DLL Name: (\S+)", objdump(tool, path))]


def exports(tool, path):
    dump = objdump(tool, path)
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return []
    return re.findall(r"^\s+\[\s*\d+\]\s+(\S+)$", table[1].split("\n\n", 1)[0], re.MULTILINE)


class Imports(unittest.TestCase):
    def check_imports(self, tool, path):
        names = imports(tool, path)
        self.assertTrue(names, f"{path} imports nothing at all?")
        self.assertEqual([n for n in names if RUNTIME_DLL.search(n)], [], path)
        self.assertLessEqual({n.lower() for n in names}, SYSTEM_DLLS, path)

    def test_64_bit_files_import_system_dlls_only(self):
        for path in (kelwine.KEL_EXE, kelwine.SAMPLE_DLL, kelwine.KEL_DLL, os.path.join(kelwine.APPS, "sample", "Hello.exe")):
            with self.subTest(path=os.path.basename(path)):
                self.check_imports("x86_64-w64-mingw32-objdump", path)
        print(f"kel.exe: {os.path.getsize(kelwine.KEL_EXE)} bytes (stripped)")

    def test_the_launcher_leaves_winsock_to_the_relay(self):
        # Winsock is loaded only by a start that relays a command; the relay
        # scenarios show that it then works.
        for path in (kelwine.KEL_EXE, os.path.join(kelwine.APPS, "sample", "Hello.exe")):
            with self.subTest(path=os.path.basename(path)):
                names = {n.lower() for n in imports("x86_64-w64-mingw32-objdump", path)}
                self.assertNotIn("ws2_32.dll", names)
                self.assertNotIn("wsock32.dll", names)

    def test_the_engine_exports_KelMainW_undecorated(self):
        for path in (kelwine.SAMPLE_DLL, kelwine.KEL_DLL):
            self.assertEqual(exports("x86_64-w64-mingw32-objdump", path), ["KelMainW"], path)


class Build32(unittest.TestCase):
    def test_the_windows_x86_build_links(self):
        if not os.path.exists(os.path.join(X86_BUILD, "CMakeCache.txt")):
            subprocess.run(["cmake", "--preset", "windows-x86"], cwd=kelwine.SOURCE, check=True,
                           stdout=subprocess.DEVNULL)
        build = subprocess.run(["cmake", "--build", "--preset", "windows-x86", "--target", "kel", "engine"],
                               cwd=kelwine.SOURCE, capture_output=True, text=True)
        self.assertEqual(build.returncode, 0, build.stdout[-3000:] + build.stderr[-3000:])
        kel = os.path.join(X86_BUILD, "bin", "kel.exe")
        engine = os.path.join(X86_BUILD, "bin", "Kel.dll")
        for path in (kel, engine):
            header = subprocess.run(["i686-w64-mingw32-objdump", "-f", path], capture_output=True, text=True,
                                    check=True).stdout
            self.assertIn("file format pei-i386", header, path)
            names = imports("i686-w64-mingw32-objdump", path)
            self.assertEqual([n for n in names if RUNTIME_DLL.search(n)], [], path)
        # The launcher calls the routine by this exact name; a stdcall
        # decoration (KelMainW@24) would leave it unfound.
        self.assertEqual(exports("i686-w64-mingw32-objdump", engine), ["KelMainW"])


class Release(unittest.TestCase):
    """The launcher templates a release ships: x64, and x86 once Build32 has built it."""

    def launchers(self):
        x86 = os.path.join(X86_BUILD, "bin", "kel.exe")
        return [kelwine.KEL_EXE] + ([x86] if os.path.exists(x86) else [])

    def test_the_launchers_carry_the_release_version(self):
        version = os.environ.get("KEL_E2E_VERSION")
        self.assertTrue(version, "KEL_E2E_VERSION is not set: run this through ctest")
        number = [int(part) for part in version.split(".")] + [0]
        expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "Kel",
                    "OriginalFilename": "kel.exe"}
        for path in self.launchers():
            with self.subTest(path=path):
                read = subprocess.run([DEBIAN_PYTHON, "-c", VERSION_READER, path], capture_output=True, text=True)
                self.assertEqual(read.returncode, 0, read.stderr[-2000:])
                info = json.loads(read.stdout)
                self.assertEqual(info["file"], number)
                self.assertEqual(info["product"], number)
                self.assertEqual({key: info["strings"].get(key) for key in expected}, expected)

    def test_the_launchers_stay_within_32_KiB(self):
        for path in self.launchers():
            with self.subTest(path=path):
                self.assertLessEqual(os.path.getsize(path), SIZE_LIMIT)


if __name__ == "__main__":
    unittest.main()
