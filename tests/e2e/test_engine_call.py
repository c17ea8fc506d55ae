"""The call into the engine under Wine: its six arguments, the command line
unit for unit as the user gave it, the engine's result as the launcher's
exit code, and the application package the engine reaches through the
launcher's module."""
import os
import unittest

import kelwine
from kelwine import Record, place, winpath, work_dir

wine = None
folder = exe = None


def setUpModule():
    global wine, folder, exe
    wine = kelwine.Wine()
    folder = work_dir("call", "plain")
    exe = place(kelwine.KEL_EXE, folder)
    place(kelwine.KEL_DLL, folder)


def fresh_record(name):
    path = os.path.join(folder, name + ".txt")
    if os.path.exists(path):
        os.remove(path)
    return path


class Arguments(unittest.TestCase):
    def test_six_arguments_in_order(self):
        for show in (3, 7):
            with self.subTest(show=show):
                path = fresh_record(f"arguments_{show}")
                result = wine.launch(exe, "app.Main", env=kelwine.engine_env(path), show=show)
                record = Record(path)
                self.assertEqual(result.exit, 0, result)
                self.assertEqual(record.get("instance_is_process_module"), "1")
                self.assertEqual(record.get("previous"), "0x0")
                self.assertEqual(record.get("show"), str(show))
                self.assertEqual(record.get("launcher_module_is_process_module"), "1")
                self.assertEqual(record.get("launcher_path"), winpath(exe))
                self.assertEqual(record.get("engine_module_is_self"), "1")
                self.assertEqual(record.command_line, "app.Main")

    def test_exit_code_is_the_engines_result(self):
        for code in (7, 0, 1, 255, 4096, -5):
            with self.subTest(code=code):
                path = fresh_record("exit")
                result = wine.launch(exe, "app.Main", env=kelwine.engine_env(path, exit_code=code))
                self.assertEqual(result.exit, code, result)
                self.assertEqual(Record(path).get("exit"), str(code))


class CommandLine(unittest.TestCase):
    # What the user typed after the program's name and one space, and what the
    # engine must get: without a "CommandLine" resource, the same text.
    LINES = [
        "app.Main",
        "  two leading spaces",
        "two trailing spaces  ",
        "   both   ends   ",
        "\ttabs\tare\tordinary\t",
        '"a quoted argument" and "an unclosed one',
        "-+ -h 5 -- doc.kel",
        "caf\u00e9 \u20ac \u0416 \u3042",
        "x" * 300 + " y" * 10,
        " ",
    ]

    def test_the_users_text_arrives_unit_for_unit(self):
        for line in self.LINES:
            with self.subTest(line=line):
                path = fresh_record("line")
                result = wine.launch(exe, line, env=kelwine.engine_env(path))
                record = Record(path)
                self.assertEqual(result.exit, 0, result)
                self.assertEqual(record.command_line, line)
                self.assertEqual(record.get("command_line_units"), str(len(line)))

    def test_the_program_name_and_one_space_are_dropped(self):
        spaced = work_dir("call", "Program Files", "Shop Front")
        spaced_exe = place(kelwine.KEL_EXE, spaced)
        place(kelwine.KEL_DLL, spaced)
        plain = winpath(exe)
        cases = [
            # (application, full command line, what the engine must get)
            (exe, f"{plain}  two spaces", " two spaces"),
            (exe, f"{plain}\tafter a tab", "after a tab"),
            (exe, f'"{plain}"glued', "glued"),
            (exe, f'"{plain}"', ""),
            (exe, f'"{plain}"   three', "  three"),
            (spaced_exe, f'"{winpath(spaced_exe)}" -x "a b"', '-x "a b"'),
        ]
        for application, full, expected in cases:
            with self.subTest(command_line=full):
                path = fresh_record("name")
                result = wine.spawn(application, full, env=kelwine.engine_env(path), cwd=os.path.dirname(application))
                self.assertEqual(result.exit, 0, result)
                self.assertEqual(Record(path).command_line, expected)


class Package(unittest.TestCase):
    def test_the_package_reaches_the_engine_byte_for_byte(self):
        packaged = work_dir("call", "packaged")
        shop = place(os.path.join(kelwine.APPS, "package", "Shop.exe"), packaged)
        place(kelwine.KEL_DLL, packaged)
        with open(os.path.join(kelwine.SOURCE, "tests", "e2e", "apps", "package", "shop.kel"), "rb") as f:
            expected = f.read()
        path = os.path.join(packaged, "record.txt")
        result = wine.launch(shop, "shop.Main", env=kelwine.engine_env(path))
        self.assertEqual(result.exit, 0, result)
        self.assertEqual(bytes.fromhex(Record(path).get("package")), expected)

        plain = fresh_record("no_package")
        wine.launch(exe, "app.Main", env=kelwine.engine_env(plain))
        self.assertEqual(Record(plain).get("package"), "none")

    def test_the_engine_window_shows_the_package(self):
        packaged = work_dir("call", "packaged_window")
        shop = place(os.path.join(kelwine.APPS, "package", "Shop.exe"), packaged)
        place(kelwine.KEL_DLL, packaged)
        path = os.path.join(packaged, "record.txt")
        running = wine.spawn_start(shop, f'"{winpath(shop)}" shop.Main', cwd=packaged,
                                   env=kelwine.engine_env(path, exit_code=12, lifetime_ms=20000))
        window = wine.findwin("--class", "shop_Main", "--timeout", "15000", "--close", "--gone", "5000")
        result = running.wait(30)
        found = window.values()
        self.assertEqual(found.get("found"), "1", window)
        self.assertEqual(found.get("pid"), result.values().get("pid"))
        edits = [c.split("|", 3)[3] for c in window.all("child") if c.startswith("Edit|")]
        with open(os.path.join(kelwine.SOURCE, "tests", "e2e", "apps", "package", "shop.kel"), encoding="utf-8") as f:
            text = f.read()
        self.assertEqual(edits, [text.replace("\n", "\\r\\n")])
        self.assertEqual(found.get("gone"), "1")
        self.assertEqual(Record(path).get("ended"), "closed")
        self.assertEqual(result.exit, 12, result)


if __name__ == "__main__":
    unittest.main()
