"""The sample engine (engine/, the Kel.dll beside kel.exe) keeps the
launcher's contract under Wine: its window has the target name's class, so
a second start hands over to it; it takes the splash down once its window
is up; a relayed "quit N" reaches its listener and ends it with exit code N;
and it withdraws its port when it ends."""
import os
import unittest

import kelwine
from kelwine import place, winpath, work_dir

wine = None


def setUpModule():
    global wine
    wine = kelwine.Wine()


def splash_windows():
    return wine.findwin("--class", "KEL_SPLASH", "--timeout", "100", "--hidden").values().get("found")


class SampleEngine(unittest.TestCase):
    def test_handoff_splash_relay_and_exit_code(self):
        kelwine.forget_engine_key(wine)
        folder = work_dir("sample_engine")
        # A copy with a splash that decodes: the launcher waits for its first
        # paint before it enters the engine, and never takes it down itself.
        exe = place(os.path.join(kelwine.APPS, "splash", "Splash.exe"), folder)
        place(kelwine.SAMPLE_DLL, folder)
        first = wine.spawn_start(exe, f'"{winpath(exe)}" shop.Main', cwd=folder)
        try:
            window = wine.findwin("--class", "shop_Main", "--timeout", "20000").values()
            self.assertEqual(window.get("found"), "1", "no window of the target class")
            self.assertTrue(kelwine.wait_for(lambda: splash_windows() != "1", timeout=10), "the splash stayed up")

            second = wine.launch(exe, "shop.Main", timeout_ms=20000)
            self.assertEqual(second.exit, 0, second)
            self.assertIsNone(first.process.poll(), "the running engine ended on a handoff")

            kind, port = wine.reg_query(kelwine.ENGINE_KEY, "ServerPort")
            self.assertNotEqual(int(port, 16), 0, "no port published")
            relayed = wine.launch(exe, '-acommand "quit 7"', timeout_ms=20000)
            self.assertEqual(relayed.exit, 0, relayed)
        finally:
            result = first.wait(30)
        self.assertEqual(result.exit, 7, result)
        self.assertEqual(wine.reg_query(kelwine.ENGINE_KEY, "ServerPort"), ("REG_DWORD", "0x0"))


if __name__ == "__main__":
    unittest.main()
