"""The command line under Wine: the embedded command line merged with the
user's (what the engine receives, unit for unit), the target name a second
start looks for and the activation it posts, and the relay of a command
over loopback TCP to a running engine."""
import os
import time
import unittest

import kelwine
from kelwine import Listener, Record, Recorder, place, winpath, work_dir

wine = None
plain = packaged = cut = None


def setUpModule():
    global wine, plain, packaged, cut
    wine = kelwine.Wine()
    folder = work_dir("cmdline", "launchers")
    place(kelwine.KEL_DLL, folder)
    plain = place(kelwine.KEL_EXE, folder)
    packaged = place(os.path.join(kelwine.APPS, "merge", "App.exe"), folder)
    cut = place(os.path.join(kelwine.APPS, "cut", "Cut.exe"), folder)


def fresh_record(name):
    path = os.path.join(os.path.dirname(plain), name + ".txt")
    if os.path.exists(path):
        os.remove(path)
    return path


class Merge(unittest.TestCase):
    # The user's command line and what the engine of a launcher carrying
    # the embedded command line app.Main must receive.
    CASES = [
        ("", "app.Main"),
        ("doc.kel", " app.Main doc.kel"),
        ("   -x 3  ", " app.Main -x 3  "),
        ("-+ -h 5 -- doc.kel", "-h 5  app.Main doc.kel"),
        ('-+ -t "a b" -- z', '-t "a b"  app.Main z'),
        ("-+x", "x  app.Main"),
        ("-+", " app.Main -+"),
        ("-+ -v", "-v  app.Main"),
        ("   ", " app.Main"),
        ("+", " app.Main +"),
        ("-+ --x -- z", "--x  app.Main z"),
        ("-+ /- z", " app.Main z"),
        ("-+ -/ z", "-/ z  app.Main"),
        ('-+ "a -- b" -- z', '"a -- b"  app.Main z'),
        ('-+ "it\'s" -- z', '"it\'s" -- z  app.Main'),
        ("-+ 'x y' -- z", "'x y'  app.Main z"),
        ("\tx", " app.Main \tx"),
        ("y" * 300, " app.Main " + "y" * 300),
    ]

    def test_the_engine_receives_the_merged_command_line(self):
        for user, merged in self.CASES:
            with self.subTest(user=user):
                path = fresh_record("merge")
                result = wine.launch(packaged, user, env=kelwine.engine_env(path, exit_code=4))
                self.assertEqual(result.exit, 4, result)
                self.assertEqual(Record(path).command_line, merged)

    def test_the_embedded_text_ends_at_its_first_line_break(self):
        for user, merged in (("", "abc"), ("x", " abc x")):
            with self.subTest(user=user):
                path = fresh_record("cut")
                result = wine.launch(cut, user, env=kelwine.engine_env(path))
                self.assertEqual(result.exit, 0, result)
                self.assertEqual(Record(path).command_line, merged)

    def test_a_packaged_plus_is_no_registration(self):
        kelwine.forget_file_type(wine)
        path = fresh_record("plus")
        result = wine.launch(packaged, "+", env=kelwine.engine_env(path, exit_code=8))
        self.assertEqual(result.exit, 8, result)
        self.assertIsNone(wine.reg_query(r"HKCR\.kel"))


class TargetName(unittest.TestCase):
    # A command line given to the launcher, and the window class of the
    # running instance it must find and activate.
    CASES = [
        ("plain", r'"\My Documents\Game.kel"', "Game_run"),
        ("plain", "/Temp/Game.kel", "Game_run"),
        ("plain", "GAME.KEL", "GAME_run"),
        ("plain", "-h 5 app.Main", "app_Main"),
        ("plain", "-z app.Main", "app_Main"),
        ("plain", "Kel app.Main", "app_Main"),
        ("plain", "KEL app.Main", "KEL"),
        ("plain", "-- app.Main", "StartKel"),
        ("plain", "-k", "StartKel"),
        ("plain", "-x /Temp/Game.kel", "StartKel"),
        ("plain", "-Q -R -m -n -p -r -s -z y", "y"),
        ("plain", "- x y", "y"),
        ("plain", "first.app second.kel", "first_app"),
        ("plain", '"a b.c" d', "a b_c"),
        ("plain", '"ab"cd', "ab"),
        ("plain", r"dir\name.x", r"dir\name_x"),
        ("plain", "tab\tbed.x", "tab\tbed_x"),
        ("plain", "a\rb", "a"),
        ("plain", "-acomman x y", "y"),
        ("plain", "", "StartKel"),
        ("packaged", "doc.kel", "app_Main"),
        ("packaged", "-+ 'x y' -- z", "'x"),
    ]

    def test_a_running_instance_is_found_and_activated_once(self):
        # One window of every class at once; each launch must reach exactly
        # the window of its own target name. Class names ignore case (GAME_run
        # is Game_run), so names that differ only in case wait for a second batch.
        batches = []
        for case in self.CASES:
            for batch in batches:
                if all(case[2].lower() != other[2].lower() or case[2] == other[2] for other in batch):
                    batch.append(case)
                    break
            else:
                batches.append([case])
        for number, batch in enumerate(batches):
            classes = sorted({klass for _, _, klass in batch})
            recorder = Recorder(wine, classes, work_dir("cmdline", f"target{number}"))
            try:
                for launcher, line, klass in batch:
                    with self.subTest(line=line, klass=klass):
                        seen = len(recorder.messages())
                        path = fresh_record("target")
                        exe = plain if launcher == "plain" else packaged
                        result = wine.launch(exe, line, env=kelwine.engine_env(path))
                        self.assertEqual(result.exit, 0, result)
                        self.assertFalse(os.path.exists(path), f"the engine started: {Record(path).lines}")
                        kelwine.wait_for(lambda: len(recorder.messages()) > seen, timeout=5)
                        time.sleep(0.1)   # a second, wrong message would arrive by now
                        self.assertEqual(recorder.messages()[seen:],
                                         [f"{klass} 1038 wparam=0 lparam=0 foreground=1"])
            finally:
                recorder.close(wine)

    def test_no_instance_of_another_name_is_disturbed(self):
        recorder = Recorder(wine, ["app_Main"], work_dir("cmdline", "other"))
        try:
            path = fresh_record("other")
            result = wine.launch(plain, "other.App", env=kelwine.engine_env(path, exit_code=3))
            self.assertEqual(result.exit, 3, result)
            self.assertEqual(Record(path).command_line, "other.App")
            time.sleep(0.3)
            self.assertEqual(recorder.messages(), [])
        finally:
            recorder.close(wine)


class SecondStart(unittest.TestCase):
    def test_a_second_start_hands_over_to_the_running_engine(self):
        first_record = fresh_record("first")
        second_record = fresh_record("second")
        first = wine.spawn_start(packaged, f'"{winpath(packaged)}" doc.kel', cwd=os.path.dirname(packaged),
                                 env=kelwine.engine_env(first_record, exit_code=17, lifetime_ms=30000))
        try:
            self.assertTrue(kelwine.wait_for(lambda: Record(first_record).get("window_shown"), timeout=15),
                            Record(first_record).lines)
            self.assertEqual(Record(first_record).get("window_class"), "app_Main")

            started = time.time()
            second = wine.launch(packaged, "doc.kel", env=kelwine.engine_env(second_record, exit_code=99))
            took = time.time() - started
            self.assertEqual(second.exit, 0, second)
            self.assertFalse(os.path.exists(second_record), "the second launcher entered an engine")
            print(f"second start handed over and ended in {took:.2f} s")
            activations = kelwine.wait_for(lambda: Record(first_record).all("activated"), timeout=5)
            self.assertEqual(activations, ["1 wparam=0 lparam=0"])
        finally:
            wine.findwin("--class", "app_Main", "--timeout", "2000", "--close")
            result = first.wait(20)
        self.assertEqual(result.exit, 17, result)
        self.assertEqual(len(Record(first_record).all("activated")), 1)


class Relay(unittest.TestCase):
    def setUp(self):
        kelwine.forget_engine_key(wine)

    def relay(self, line, launcher=None):
        listener = Listener()
        kelwine.set_server_port(wine, listener.port)
        path = fresh_record("relay")
        try:
            result = wine.launch(launcher or plain, line, env=kelwine.engine_env(path, exit_code=6))
        finally:
            connections = listener.close()
        return result, connections, path

    def test_a_command_reaches_the_listener_exactly(self):
        cases = [
            ('-acommand "go home"', b"go home\n"),
            ('-acommand ""', b"\n"),
            ("/acommand x", b"x\n"),
            ("-acommand caf\u00e9\u20ac", b"caf\xe9\xac\n"),
            ("-z -acommand late", b"late\n"),
        ]
        for line, sent in cases:
            with self.subTest(line=line):
                result, connections, path = self.relay(line)
                self.assertEqual(result.exit, 0, result)
                self.assertEqual(connections, [sent])
                self.assertFalse(os.path.exists(path), "the engine started after a delivered relay")

    def test_a_packaged_launcher_relays_from_its_prefix_section(self):
        result, connections, path = self.relay("-+ -acommand stop --", launcher=packaged)
        self.assertEqual(result.exit, 0, result)
        self.assertEqual(connections, [b"stop\n"])

    def test_near_misses_of_the_option_are_not_relayed(self):
        for line in ("-acomman x y", "-acommandx x y", "-Acommand x y", "y -acommand x"):
            with self.subTest(line=line):
                result, connections, path = self.relay(line)
                self.assertEqual(connections, [])
                self.assertEqual(result.exit, 6, result)
                self.assertEqual(Record(path).command_line, line)

    def test_nothing_listening_starts_the_engine_with_the_whole_line(self):
        kelwine.set_server_port(wine, kelwine.closed_port())
        path = fresh_record("refused")
        result = wine.launch(packaged, '-+ -acommand "go home" --', env=kelwine.engine_env(path, exit_code=6))
        self.assertEqual(result.exit, 6, result)
        record = Record(path)
        self.assertEqual(record.command_line, '-acommand "go home"  app.Main')
        self.assertEqual(record.get("scan"), "relay")
        self.assertEqual(bytes.fromhex(record.get("relay_option_command")).decode("utf-16-be"), "go home")

    def test_no_port_starts_the_engine_and_creates_the_key(self):
        for setup, line in ((None, "-acommand x"), (0, "-acommand x"), (None, "-acommand")):
            with self.subTest(port=setup, line=line):
                kelwine.forget_engine_key(wine)
                if setup is not None:
                    kelwine.set_server_port(wine, setup)
                path = fresh_record("no_port")
                result = wine.launch(plain, line, env=kelwine.engine_env(path, exit_code=6))
                self.assertEqual(result.exit, 6, result)
                self.assertEqual(Record(path).command_line, line)
                self.assertTrue(wine.reg_key_exists(kelwine.ENGINE_KEY), "the key was not created")

    def test_a_two_byte_port_value(self):
        listener = Listener()
        port = listener.port
        kelwine.set_server_port(wine, bytes((port & 0xFF, port >> 8)), kind="hex")
        try:
            result = wine.launch(plain, "-acommand short", env=kelwine.engine_env(fresh_record("short")))
        finally:
            connections = listener.close()
        self.assertEqual(result.exit, 0, result)
        self.assertEqual(connections, [b"short\n"])

    def test_a_port_under_a_key_this_user_may_only_read(self):
        # An administrator's key that ordinary users may read but not write:
        # the port is still read and the command delivered.
        listener = Listener()
        kelwine.set_server_port(wine, listener.port)
        locked = wine.run([os.path.join(kelwine.HELPERS, "regacl.exe"), kelwine.ENGINE_SUBKEY, "D:P(A;;KR;;;WD)"])
        try:
            self.assertEqual(locked.values().get("status"), "0", locked)
            result = wine.launch(plain, "-acommand locked", env=kelwine.engine_env(fresh_record("locked")))
        finally:
            connections = listener.close()
            wine.run([os.path.join(kelwine.HELPERS, "regacl.exe"), kelwine.ENGINE_SUBKEY, "D:P(A;;KA;;;WD)"])
        self.assertEqual(result.exit, 0, result)
        self.assertEqual(connections, [b"locked\n"])

    def test_a_relayed_quit_ends_the_running_engine(self):
        first_record = fresh_record("engine")
        first = wine.spawn_start(plain, f'"{winpath(plain)}" game.App', cwd=os.path.dirname(plain),
                                 env=kelwine.engine_env(first_record, lifetime_ms=30000))
        self.assertTrue(kelwine.wait_for(lambda: Record(first_record).get("server_port_published"), timeout=15),
                        Record(first_record).lines)
        port = int(Record(first_record).get("server_port"))
        self.assertEqual(wine.reg_query(kelwine.ENGINE_KEY, "ServerPort"), ("REG_DWORD", f"0x{port:x}"))

        second_record = fresh_record("relayer")
        relayed = wine.launch(plain, '-acommand "hello there"', env=kelwine.engine_env(second_record))
        self.assertEqual(relayed.exit, 0, relayed)
        quit = wine.launch(plain, '-acommand "quit 23"', env=kelwine.engine_env(second_record))
        self.assertEqual(quit.exit, 0, quit)
        result = first.wait(20)
        self.assertEqual(result.exit, 23, result)
        record = Record(first_record)
        self.assertEqual([bytes.fromhex(r) for r in record.all("relay")], [b"hello there", b"quit 23"])
        self.assertFalse(os.path.exists(second_record), "a relaying launcher entered an engine")
        # The engine withdraws its port when it ends, so a later relay does not knock on a closed door.
        self.assertEqual(wine.reg_query(kelwine.ENGINE_KEY, "ServerPort"), ("REG_DWORD", "0x0"))


if __name__ == "__main__":
    unittest.main()
