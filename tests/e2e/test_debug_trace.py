"""The start-up trace under Wine: a debug build (the windows-debug preset)
sends its three messages to the debugger; the shipped build sends none.

Wine 8 prints debug strings on its seh channel as warnings
(warn:seh:OutputDebugStringA "..."), so WINEDEBUG=warn+seh shows them;
+debugstr, the channel of older Wines, shows nothing there."""
import os
import re
import subprocess
import unittest

import kelwine
from kelwine import Record, place, work_dir

DEBUG_BUILD = os.path.join(kelwine.SOURCE, "build", "windows-debug")
MESSAGES = ["Registering Kel Info", "Going to load Kel.dll", "Now running KelMainW() in dll"]

wine = None


def setUpModule():
    global wine
    wine = kelwine.Wine()


def traced(exe):
    """The debug strings kel.exe sent while registering (blank line) and starting the engine."""
    kelwine.forget_file_type(wine)
    folder = os.path.dirname(exe)
    record = os.path.join(folder, "record.txt")
    if os.path.exists(record):
        os.remove(record)
    result = wine.launch(exe, "", env=dict(kelwine.engine_env(record, exit_code=3), WINEDEBUG="warn+seh"))
    strings = re.findall(r'warn:seh:OutputDebugStringA "((?:[^"\\]|\\.)*)"', result.err)
    return result, strings, Record(record)


class Trace(unittest.TestCase):
    def test_a_debug_build_traces_three_messages_in_order(self):
        if not os.path.exists(os.path.join(DEBUG_BUILD, "CMakeCache.txt")):
            subprocess.run(["cmake", "--preset", "windows-debug"], cwd=kelwine.SOURCE, check=True,
                           stdout=subprocess.DEVNULL)
        build = subprocess.run(["cmake", "--build", "--preset", "windows-debug", "--target", "kel"],
                               cwd=kelwine.SOURCE, capture_output=True, text=True)
        self.assertEqual(build.returncode, 0, build.stdout[-3000:] + build.stderr[-3000:])
        folder = work_dir("trace", "debug")
        exe = place(os.path.join(DEBUG_BUILD, "bin", "kel.exe"), folder)
        place(kelwine.KEL_DLL, folder)
        result, strings, record = traced(exe)
        self.assertEqual(result.exit, 3, result)
        self.assertEqual([s for s in strings if s in MESSAGES], MESSAGES, result.err[-3000:])
        self.assertEqual(record.runs(), 1)

    def test_the_shipped_build_traces_nothing(self):
        folder = work_dir("trace", "release")
        exe = place(kelwine.KEL_EXE, folder)
        place(kelwine.KEL_DLL, folder)
        result, strings, record = traced(exe)
        self.assertEqual(result.exit, 3, result)
        self.assertEqual([s for s in strings if s in MESSAGES], [])
        self.assertEqual(record.runs(), 1)


if __name__ == "__main__":
    unittest.main()
