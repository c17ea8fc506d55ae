"""File-type registration under Wine, read back from the real registry:
a blank command line registers and goes on, a lone "+" registers and ends,
near misses do not register, and a .kel file opened through the shell
afterwards starts the launcher with the file's quoted path."""
import os
import unittest

import kelwine
from kelwine import Record, place, winpath, work_dir

wine = None


def setUpModule():
    global wine
    wine = kelwine.Wine()


def install_shop(name):
    """A launcher copy at <work>/registration/<name>/Program Files/Shop/Shop.exe with its engine."""
    folder = work_dir("registration", name, "Program Files", "Shop")
    exe = place(kelwine.KEL_EXE, folder, "Shop.exe")
    place(kelwine.KEL_DLL, folder)
    return exe


def registered():
    return {
        "class": wine.reg_query(r"HKCR\KelFile10"),
        "open": wine.reg_query(r"HKCR\KelFile10\Shell\Open\Command"),
        "icon": wine.reg_query(r"HKCR\KelFile10\DefaultIcon"),
        "dll": wine.reg_query(r"HKCR\KelFile10\DLL"),
        "extension": wine.reg_query(r"HKCR\.kel"),
    }


def expected_for(exe):
    path = winpath(exe)
    return {
        "class": ("REG_SZ", "Kel Application"),
        "open": ("REG_SZ", f'"{path}" "%1"'),
        "icon": ("REG_SZ", f"{path},-50"),
        "dll": ("REG_SZ", path[: path.rindex(".")] + ".DLL"),
        "extension": ("REG_SZ", "KelFile10"),
    }


NOTHING = {"class": None, "open": None, "icon": None, "dll": None, "extension": None}


class Registration(unittest.TestCase):
    def test_empty_command_line_registers_and_starts_the_engine(self):
        kelwine.forget_file_type(wine)
        exe = install_shop("empty")
        record_path = os.path.join(os.path.dirname(exe), "record.txt")
        result = wine.launch(exe, "", env=kelwine.engine_env(record_path, exit_code=9))
        self.assertEqual(result.exit, 9, result)
        record = Record(record_path)
        self.assertEqual(record.runs(), 1)
        self.assertEqual(record.command_line, "")
        self.assertEqual(registered(), expected_for(exe))

        # The values are whole strings: regedit exports each as "..." text,
        # not as hex, which it uses for a string without its terminator.
        export = wine.reg_export(r"HKEY_CLASSES_ROOT\KelFile10")
        self.assertIsNotNone(export)
        self.assertIn('[HKEY_CLASSES_ROOT\\KelFile10]\r\n@="Kel Application"', export)
        self.assertNotIn("hex(1)", export)

    def test_blank_command_lines_register_and_go_on(self):
        for line in (" ", "   ", "\t"):
            with self.subTest(line=line):
                kelwine.forget_file_type(wine)
                exe = install_shop("blank")
                record_path = os.path.join(os.path.dirname(exe), "record.txt")
                result = wine.launch(exe, line, env=kelwine.engine_env(record_path))
                self.assertEqual(result.exit, 0, result)
                self.assertEqual(Record(record_path).command_line, line)
                self.assertEqual(registered(), expected_for(exe))

    def test_a_lone_plus_registers_and_ends_without_the_engine(self):
        for line in ("+", "+   "):
            with self.subTest(line=line):
                kelwine.forget_file_type(wine)
                exe = install_shop("plus")
                record_path = os.path.join(os.path.dirname(exe), "record.txt")
                result = wine.launch(exe, line, env=kelwine.engine_env(record_path, exit_code=33))
                self.assertEqual(result.exit, 0, result)
                self.assertFalse(os.path.exists(record_path), "the engine was entered")
                self.assertEqual(registered(), expected_for(exe))

    def test_registration_overwrites_and_repeats_the_same(self):
        wine.regedit_import(
            '[-HKEY_CLASSES_ROOT\\KelFile10]\n\n'
            '[HKEY_CLASSES_ROOT\\KelFile10]\n@="Old Application"\n\n'
            '[HKEY_CLASSES_ROOT\\KelFile10\\DLL]\n@="C:\\\\old\\\\Kel.dll"\n\n'
            '[HKEY_CLASSES_ROOT\\.kel]\n@="SomethingElse"\n')
        exe = install_shop("overwrite")
        for attempt in (1, 2):
            with self.subTest(attempt=attempt):
                result = wine.launch(exe, "+")
                self.assertEqual(result.exit, 0, result)
                self.assertEqual(registered(), expected_for(exe))

    def test_near_misses_do_not_register(self):
        for line in ("+x", "+\t", " +", "++"):
            with self.subTest(line=line):
                kelwine.forget_file_type(wine)
                exe = install_shop("near_miss")
                record_path = os.path.join(os.path.dirname(exe), "record.txt")
                result = wine.launch(exe, line, env=kelwine.engine_env(record_path, exit_code=2))
                self.assertEqual(result.exit, 2, result)
                self.assertEqual(Record(record_path).command_line, line)
                self.assertEqual(registered(), NOTHING)


class ShellOpen(unittest.TestCase):
    def test_a_kel_file_opened_through_the_shell_reaches_the_engine(self):
        kelwine.forget_file_type(wine)
        exe = install_shop("shell")
        self.assertEqual(wine.launch(exe, "+").exit, 0)

        documents = work_dir("registration", "shell", "My Documents")
        game = os.path.join(documents, "Game One.kel")
        with open(game, "w") as f:
            f.write("a game\n")
        record_path = os.path.join(documents, "record.txt")
        # start hands the file to the shell, which finds the open command through .kel.
        result = wine.run(["start", "/wait", "/unix", game], env=kelwine.engine_env(record_path, exit_code=21),
                          cwd=documents)
        record = Record(record_path)
        self.assertEqual(record.runs(), 1, result)
        self.assertEqual(record.command_line, f'"{winpath(game)}"')
        self.assertEqual(record.get("launcher_path"), winpath(exe))
        self.assertEqual(result.code, 21, result)


if __name__ == "__main__":
    unittest.main()
