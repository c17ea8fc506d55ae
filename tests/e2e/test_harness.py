"""The harness's own promise about starts, checked without Wine: a start of
an announcing helper that ends without a word (Wine failed before the
program ran) is said so in the test's output and made once more, never
twice; a start that reached the program is never repeated, whatever it then
did. A stand-in loader plays Wine: it fails as many starts as it is told,
ending at once with code 1 and printing nothing, as the flaky starts did,
and otherwise plays the program."""
import contextlib
import io
import os
import shutil
import stat
import tempfile
import unittest

import kelwine

# The stand-in for `wine`: $FAKE_DIR/count counts its starts; the first
# $FAKE_FAILS of them fail. A start that gets through plays the program:
# "announce" prints the announcement and exits with $FAKE_CODE, "silent"
# exits with $FAKE_CODE printing nothing.
# Started as "explorer /desktop=NAME spawn.exe ... --out Z:\\REPORT ...", it
# plays explorer and spawn.exe at once: spawn.exe's report goes to REPORT.
FAKE_LOADER = """#!/bin/bash
n=$(( $(cat "$FAKE_DIR/count" 2>/dev/null || echo 0) + 1 ))
echo $n > "$FAKE_DIR/count"
[ $n -le "$FAKE_FAILS" ] && exit 1
if [ "$1" = explorer ]; then
    while [ $# -gt 0 ] && [ "$1" != --out ]; do shift; done
    report=${2#Z:}
    printf 'spawn=42\\npid=43\\nexit=%s\\n' "$FAKE_CODE" > "${report//\\\\//}"
    exit 0
fi
[ "$FAKE_PLAY" = announce ] && printf 'spawn=42\\npid=43\\n'
exit "$FAKE_CODE"
"""


class Starts(unittest.TestCase):
    # program, starts Wine fails, how a start that gets through plays,
    # its exit code; then the starts made, the exit code seen, whether a
    # failed start was reported.
    CASES = [
        ("spawn.exe", 0, "announce", 0, 1, 0, False),
        ("spawn.exe", 1, "announce", 0, 2, 0, True),
        ("spawn.exe", 1, "announce", 5, 2, 5, True),
        # Only once: a second failure is the test's to see.
        ("spawn.exe", 2, "announce", 0, 2, 1, True),
        # The program ran and failed: that is a result, not a failed start.
        ("spawn.exe", 0, "announce", 1, 1, 1, False),
        # A program that says nothing cannot be told from a failed start; it is left alone.
        ("findwin.exe", 1, "silent", 0, 1, 1, False),
        ("findwin.exe", 0, "silent", 3, 1, 3, False),
    ]

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="kelwine-harness-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        self.loader = os.path.join(self.folder, "wine")
        with open(self.loader, "w") as f:
            f.write(FAKE_LOADER)
        os.chmod(self.loader, os.stat(self.loader).st_mode | stat.S_IXUSR)
        self.wine = kelwine.Wine.__new__(kelwine.Wine)
        self.wine.state = {"prefix": self.folder, "display": ":0"}

    def start(self, program, fails, play, code):
        count = os.path.join(self.folder, "count")
        if os.path.exists(count):
            os.remove(count)
        env = {"FAKE_DIR": self.folder, "FAKE_FAILS": str(fails), "FAKE_PLAY": play, "FAKE_CODE": str(code)}
        said = io.StringIO()
        with contextlib.redirect_stdout(said):
            result = self.wine.start([os.path.join(self.folder, program), "x"], env=env, cwd=self.folder,
                                     loader=self.loader).wait(10)
        with open(count) as f:
            return int(f.read()), result, said.getvalue()

    def test_only_a_start_that_never_reached_the_program_is_made_again_once(self):
        for program, fails, play, code, starts, seen, reported in self.CASES:
            with self.subTest(program=program, fails=fails, play=play, code=code):
                made, result, said = self.start(program, fails, play, code)
                self.assertEqual(made, starts, said)
                self.assertEqual(result.code, seen, result)
                self.assertEqual("Wine did not start" in said, reported, said)
                if reported:
                    self.assertIn(f"{program}: exit code 1", said)

    def test_on_a_virtual_desktop_too_a_start_that_never_reached_spawn_is_made_again_once(self):
        # explorer /desktop starts spawn.exe, which reports through a file.
        desktop = kelwine.VirtualDesktop.__new__(kelwine.VirtualDesktop)
        desktop.wine, desktop.name = self.wine, "Harness"
        env = {"PATH": self.folder + os.pathsep + os.environ["PATH"], "FAKE_DIR": self.folder, "FAKE_CODE": "9"}
        for fails, starts, seen, reported in ((0, 1, "9", False), (1, 2, "9", True), (2, 2, None, True)):
            with self.subTest(fails=fails):
                count = os.path.join(self.folder, "count")
                if os.path.exists(count):
                    os.remove(count)
                said = io.StringIO()
                with contextlib.redirect_stdout(said):
                    result = desktop.spawn_start(os.path.join(self.folder, "app.exe"), "app",
                                                 env=dict(env, FAKE_FAILS=str(fails)), cwd=self.folder).wait(3)
                with open(count) as f:
                    self.assertEqual(int(f.read()), starts, said.getvalue())
                self.assertEqual(result.values().get("exit"), seen, result)
                self.assertEqual("Wine did not start" in said.getvalue(), reported, said.getvalue())

    def test_the_announcement_is_looked_for_at_the_start_of_a_line(self):
        for text, found in (("spawn=1\n", True), ("x\nspawn=1\n", True), ("respawn=1\n", False), ("", False),
                            ("pid=3\n", False)):
            with self.subTest(text=text):
                self.assertEqual(kelwine.announced(text, "spawn="), found)


if __name__ == "__main__":
    unittest.main()
