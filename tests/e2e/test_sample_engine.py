"""The sample engine (engine/, the Kel.dll beside kel.exe) keeps the
launcher's contract under Wine: its window has the target name's class, so
a second start hands over to it; it takes the splash down once its window
is up; a relayed "quit N" reaches its listener and ends it with exit code N;
and it withdraws its port when it ends. A relaying start whose engine no
longer listens starts an engine of its own beside the first."""
import os
import unittest

import kelwine
from kelwine import place, wait_for, winpath, work_dir

wine = None

# How long spawn.exe lets an engine started here run before it ends it:
# longer than any conversation below takes under Wine.
RUNNING_MS = 180000


def setUpModule():
    global wine
    wine = kelwine.Wine()


def splash_windows():
    return wine.findwin("--class", "KEL_SPLASH", "--timeout", "100", "--hidden").values().get("found")


def server_port():
    """The published "ServerPort" as a number; None when it is absent or no REG_DWORD."""
    found = wine.reg_query(kelwine.ENGINE_KEY, "ServerPort")
    return int(found[1], 16) if found is not None and found[0] == "REG_DWORD" else None


def sample_copy(name):
    """A launcher copy in a folder of its own with the sample engine beside it,
    and no engine's port published. Its splash decodes: the launcher waits
    for the splash's first paint before it enters the engine, and never takes
    it down itself."""
    kelwine.forget_engine_key(wine)
    folder = work_dir(name)
    exe = place(os.path.join(kelwine.APPS, "splash", "Splash.exe"), folder)
    place(kelwine.SAMPLE_DLL, folder)
    return exe


class SampleEngine(unittest.TestCase):
    def start_engine(self, exe, user_line, window_class):
        """Starts exe with user_line and waits until its own engine's window of
        window_class is up and no splash is left. Returns the running start and
        its launcher's process id; the engine is closed after the test if it
        is still running then."""
        running = wine.spawn_start(exe, f'"{winpath(exe)}" {user_line}', cwd=os.path.dirname(exe),
                                   timeout_ms=RUNNING_MS)
        self.addCleanup(self.end, running, window_class)
        pid = running.started_pid()
        self.assertIsNotNone(pid, running.output_so_far())
        window = wine.findwin("--class", window_class, "--timeout", "20000").values()
        self.assertEqual(window.get("found"), "1", f"no window of the class {window_class}")
        self.assertEqual(window.get("pid"), pid, "the window belongs to another process")
        self.assertTrue(wait_for(lambda: splash_windows() != "1", timeout=10), "the splash stayed up")
        return running, pid

    def end(self, running, window_class):
        if running.process.poll() is None:
            wine.findwin("--class", window_class, "--timeout", "2000", "--close")
        running.wait(30)

    def relay(self, exe, command):
        """Relays command through one more start, which hands it over and ends with 0."""
        result = wine.launch(exe, f'-acommand "{command}"', timeout_ms=20000)
        self.assertEqual(result.exit, 0, result)

    def test_handoff_splash_relay_and_exit_code(self):
        exe = sample_copy("sample_engine")
        first, _ = self.start_engine(exe, "shop.Main", "shop_Main")

        second = wine.launch(exe, "shop.Main", timeout_ms=20000)
        self.assertEqual(second.exit, 0, second)
        self.assertIsNone(first.process.poll(), "the running engine ended on a handoff")

        self.assertNotIn(server_port(), (None, 0), "no port published")
        self.relay(exe, "quit 7")
        result = first.wait(30)
        self.assertEqual(result.exit, 7, result)
        self.assertEqual(server_port(), 0)

    def test_refused_relay_starts_an_engine_of_its_own(self):
        exe = sample_copy("sample_engine_refused")
        first, first_pid = self.start_engine(exe, "shop.Main", "shop_Main")
        first_port = server_port()
        self.assertNotIn(first_port, (None, 0), "no port published")

        # As far as a start can tell, the running engine's listener is gone:
        # the published port refuses connections, and stays taken meanwhile.
        stale = kelwine.refusing_port()
        self.addCleanup(stale.close)
        stale_port = stale.getsockname()[1]
        kelwine.set_server_port(wine, stale_port)

        # The refused start goes on as a start of its own. Its line names no
        # target, so its engine's window has the default target name's class.
        second, second_pid = self.start_engine(exe, '-acommand "quit 7"', "StartKel")
        self.assertIsNone(second.process.poll(), f"the refused start ended: {second.output_so_far()}")
        self.assertNotEqual(second_pid, first_pid)
        others = wine.findwin("--class", "shop_Main", "--timeout", "0", "--skip-pid", first_pid).values()
        self.assertEqual(others.get("found"), "0", "a second window of the first engine's class")
        self.assertEqual(wine.findwin("--class", "shop_Main", "--timeout", "0").values().get("pid"), first_pid)

        def published_anew():
            port = server_port()
            return port if port not in (None, 0, stale_port) else None
        second_port = wait_for(published_anew, timeout=10)
        self.assertIsNotNone(second_port, "the second engine published no port")
        self.assertNotEqual(second_port, first_port)

        self.relay(exe, "quit 5")
        result = second.wait(30)
        self.assertEqual(result.exit, 5, result)
        self.assertEqual(server_port(), 0, "the second engine left its port published")
        self.assertIsNone(first.process.poll(), "the first engine ended on the second one's quit")

        kelwine.set_server_port(wine, first_port)
        self.relay(exe, "quit 7")
        result = first.wait(30)
        self.assertEqual(result.exit, 7, result)
        self.assertEqual(server_port(), 0)


if __name__ == "__main__":
    unittest.main()
