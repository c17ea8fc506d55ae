"""How the launcher finds its engine under Wine: by name beside it, through
the path registered under HKEY_CLASSES_ROOT\\KelFile10\\DLL (quoted or not),
or not at all, and what a person sees when the engine or its entry routine
is missing."""
import os
import unittest

import kelwine
from kelwine import Record, place, winpath, work_dir

wine = None


def setUpModule():
    global wine
    wine = kelwine.Wine()


def register_engine_path(value):
    """Sets the registered engine path exactly (value is the registry text)."""
    escaped = value.replace("\\", "\\\\").replace('"', '\\"')
    wine.regedit_import(f'[-HKEY_CLASSES_ROOT\\KelFile10]\n\n[HKEY_CLASSES_ROOT\\KelFile10\\DLL]\n@="{escaped}"\n')


class EngineFound(unittest.TestCase):
    def run_launcher(self, folder, exe, exit_code):
        record = os.path.join(folder, "record.txt")
        result = wine.launch(exe, "app.Main", env=kelwine.engine_env(record, exit_code=exit_code))
        return result, Record(record)

    def test_by_name_beside_the_launcher_before_the_registry(self):
        folder = work_dir("loading", "by_name")
        exe = place(kelwine.KEL_EXE, folder)
        beside = place(kelwine.KEL_DLL, folder)
        elsewhere = work_dir("loading", "by_name_registered")
        registered = place(kelwine.KEL_DLL, elsewhere, "Registered.dll")
        register_engine_path(winpath(registered))

        result, record = self.run_launcher(folder, exe, 3)
        self.assertEqual(result.exit, 3, result)
        self.assertEqual(record.runs(), 1)
        self.assertEqual(record.get("engine_path").lower(), winpath(beside).lower())

    def test_through_the_registry_unquoted(self):
        folder = work_dir("loading", "registry_unquoted", "launcher")
        exe = place(kelwine.KEL_EXE, folder)
        engines = work_dir("loading", "registry_unquoted", "Engine Store")
        engine = place(kelwine.KEL_DLL, engines, "Shop Engine.dll")
        register_engine_path(winpath(engine))

        result, record = self.run_launcher(folder, exe, 4)
        self.assertEqual(result.exit, 4, result)
        self.assertEqual(record.get("engine_path"), winpath(engine))
        self.assertEqual(record.get("engine_module_is_self"), "1")

    def test_through_the_registry_quoted(self):
        folder = work_dir("loading", "registry_quoted", "launcher")
        exe = place(kelwine.KEL_EXE, folder)
        engines = work_dir("loading", "registry_quoted", "Engine Store")
        engine = place(kelwine.KEL_DLL, engines, "Shop Engine.dll")
        register_engine_path(f'"{winpath(engine)}"')

        result, record = self.run_launcher(folder, exe, 5)
        self.assertEqual(result.exit, 5, result)
        self.assertEqual(record.get("engine_path"), winpath(engine))

    def test_registered_beside_the_launcher_under_its_own_base_name(self):
        # The registration writes the launcher's path with ".DLL"; an engine
        # installed that way is found although no Kel.dll exists anywhere.
        kelwine.forget_file_type(wine)
        folder = work_dir("loading", "own_base_name", "Shop")
        exe = place(kelwine.KEL_EXE, folder, "Shop.exe")
        engine = place(kelwine.KEL_DLL, folder, "Shop.DLL")
        record_path = os.path.join(folder, "record.txt")

        result = wine.launch(exe, "", env=kelwine.engine_env(record_path, exit_code=6))
        record = Record(record_path)
        self.assertEqual(result.exit, 6, result)
        self.assertEqual(record.get("engine_path").lower(), winpath(engine).lower())
        self.assertEqual(record.command_line, "")


class SearchOrder(unittest.TestCase):
    """Desktop Windows would also load a Kel.dll from the working directory,
    which the device has not: a library planted beside an opened document
    must not run."""

    def test_a_kel_dll_only_in_the_working_directory_is_not_loaded(self):
        kelwine.forget_file_type(wine)
        exe = place(kelwine.KEL_EXE, work_dir("loading", "planted", "launcher"))
        documents = work_dir("loading", "planted", "documents")
        place(kelwine.KEL_DLL, documents)
        kelwine.expect_message_box(self, wine, exe, "Could not find DLL: Kel.DLL", "Error Loading DLL", cwd=documents)

    def test_a_kel_dll_beside_the_launcher_loads_from_any_working_directory(self):
        kelwine.forget_file_type(wine)
        folder = work_dir("loading", "beside_elsewhere", "launcher")
        exe = place(kelwine.KEL_EXE, folder)
        beside = place(kelwine.KEL_DLL, folder)
        elsewhere = work_dir("loading", "beside_elsewhere", "documents")
        record_path = os.path.join(folder, "record.txt")
        result = wine.launch(exe, "app.Main", cwd=elsewhere, env=kelwine.engine_env(record_path, exit_code=8))
        self.assertEqual(result.exit, 8, result)
        self.assertEqual(Record(record_path).get("engine_path").lower(), winpath(beside).lower())


class EngineMissing(unittest.TestCase):
    def test_no_engine_anywhere(self):
        kelwine.forget_file_type(wine)
        folder = work_dir("loading", "no_engine")
        exe = place(kelwine.KEL_EXE, folder)
        kelwine.expect_message_box(self, wine, exe, "Could not find DLL: Kel.DLL", "Error Loading DLL")

    def test_registered_path_that_does_not_load(self):
        folder = work_dir("loading", "registered_missing")
        exe = place(kelwine.KEL_EXE, folder)
        register_engine_path(f'"{winpath(os.path.join(folder, "Gone.dll"))}"')
        kelwine.expect_message_box(self, wine, exe, "Could not find DLL: Kel.DLL", "Error Loading DLL")

    def test_library_without_the_entry_routine(self):
        kelwine.forget_file_type(wine)
        folder = work_dir("loading", "no_entry")
        exe = place(kelwine.KEL_EXE, folder)
        place(kelwine.NOENTRY_DLL, folder)
        kelwine.expect_message_box(self, wine, exe, 'Could not find DLL entry routine "KelMainW"', "Error Starting DLL")


if __name__ == "__main__":
    unittest.main()
