"""The splash screen under Wine on screens of 240x320 and 480x640 (Wine
virtual desktops): the best-fitting bitmap shown centred, pixel for pixel
on a screenshot, in a borderless window with the configured title; the
engine entered right after the first paint; no splash from an undecodable
bitmap; and the splash taken down by the engine once its own window is up."""
import os
import unittest

import kelwine
import make_bitmaps
from kelwine import Record, Screenshot, VirtualDesktop, place, winpath, work_dir

wine = None
WS_POPUP_VISIBLE = 0x90000000
WS_CAPTION_OR_BORDER = 0x00C00000 | 0x00800000 | 0x00040000


def setUpModule():
    global wine
    wine = kelwine.Wine()


def install(app, exe_name, folder_name):
    folder = work_dir("splash", folder_name)
    exe = place(os.path.join(kelwine.APPS, app, exe_name), folder)
    place(kelwine.KEL_DLL, folder)
    return exe


class SplashCase:
    """Runs one packaged launcher on a desktop and looks at its splash."""

    def __init__(self, test, desktop, app, exe_name):
        self.test = test
        self.desktop = desktop
        self.exe = install(app, exe_name, f"{desktop.name}_{app}")
        self.record_path = os.path.join(os.path.dirname(self.exe), "record.txt")
        # The engine waits 3 s before it shows its window and ends the
        # splash, so that the screenshot finds the splash alone.
        self.running = desktop.spawn_start(self.exe, f'"{winpath(self.exe)}" shop.Main',
                                           env=kelwine.engine_env(self.record_path, exit_code=31,
                                                                  lifetime_ms=20000, splash_ms=3000))
        self.record = kelwine.wait_entered(self.record_path)
        test.assertTrue(self.record, f"the engine was not entered: {Record(self.record_path).lines}")

    def entered_after_ms(self):
        return int(self.record.get("entered_after_ms"))

    def finish(self):
        """Lets the engine take the splash down, then ends the engine; the record after it."""
        kelwine.wait_for(lambda: Record(self.record_path).get("splash_gone") or Record(self.record_path).get("splash"),
                         timeout=10)
        self.desktop.findwin("--class", "shop_Main", "--timeout", "5000", "--close")
        result = self.running.wait(30)
        self.test.assertEqual(result.exit, 31, result)
        return Record(self.record_path)


class OnScreen:
    """Checks shared by both screen sizes; subclasses name the desktop and the cases."""
    NAME = WIDTH = HEIGHT = None
    CASES = []   # (app folder, exe name, bitmap shown, title)

    @classmethod
    def setUpClass(cls):
        cls.desktop = VirtualDesktop(wine, cls.NAME, cls.WIDTH, cls.HEIGHT)

    @classmethod
    def tearDownClass(cls):
        cls.desktop.close()

    def test_the_best_bitmap_is_shown_centred_with_its_title(self):
        for app, exe_name, bitmap, title in self.CASES:
            with self.subTest(app=app, bitmap=bitmap):
                case = SplashCase(self, self.desktop, app, exe_name)
                width, height, colour = make_bitmaps.expected(bitmap)
                x, y = (self.WIDTH - width) // 2, (self.HEIGHT - height) // 2

                self.assertEqual(case.record.get("screen"), f"{self.WIDTH}x{self.HEIGHT}")
                self.assertEqual(case.record.get("splash_at_entry"), "1", "no splash when the engine was entered")
                print(f"{self.NAME} {bitmap}: engine entered {case.entered_after_ms()} ms after the launcher started")
                self.assertLess(case.entered_after_ms(), 2000, "the launcher did not go on at the first paint")

                window = self.desktop.findwin("--class", "KEL_SPLASH", "--timeout", "3000").values()
                self.assertEqual(window.get("found"), "1")
                self.assertEqual(window.get("title"), title)
                self.assertEqual(window.get("rect"), f"{x},{y},{width},{height}")
                style = int(window["style"], 16)
                self.assertEqual(style & WS_POPUP_VISIBLE, WS_POPUP_VISIBLE)
                self.assertEqual(style & WS_CAPTION_OR_BORDER, 0, "the splash has a caption or border")

                shot_path = os.path.join(os.path.dirname(case.exe), "splash.png")
                shot = Screenshot(wine.display, shot_path)
                ox, oy = self.desktop.origin()
                wrong, examples = shot.mismatches(ox + x, oy + y, width, height, colour)
                self.assertEqual(wrong, 0, f"{wrong} pixels differ, e.g. {examples}; see {shot_path}")
                # The pixels just outside are not the bitmap's: the window is exactly its size.
                self.assertNotEqual(shot.pixel(ox + x - 1, oy + y), tuple(colour(0, 0)))
                print(f"  screenshot {shot_path}")

                record = case.finish()
                self.assertEqual(record.get("splash_title"), title)
                self.assertEqual(record.get("splash_dismissed"), "1")
                self.assertEqual(record.get("splash_gone"), "1", "WM_QUIT did not end the splash thread's window")
                gone = self.desktop.findwin("--class", "KEL_SPLASH", "--timeout", "300").values()
                self.assertEqual(gone.get("found"), "0")


class Screen240x320(OnScreen, unittest.TestCase):
    NAME, WIDTH, HEIGHT = "kel240", 240, 320
    CASES = [
        ("splash", "Splash.exe", "S150.bmp", "Shop is starting"),
        ("splashdefault", "SplashDefault.exe", "Splash.bmp", "The Big Splash Screen"),
        ("splashwide", "SplashWide.exe", "Wide.bmp", "Wide splash"),
    ]

    def test_an_undecodable_bitmap_gives_no_splash_and_the_engine_starts(self):
        case = SplashCase(self, self.desktop, "splashbad", "SplashBad.exe")
        self.assertEqual(case.record.get("splash_at_entry"), "0")
        self.assertLess(case.entered_after_ms(), 2000, "the launcher waited for a splash that never came")
        window = self.desktop.findwin("--class", "KEL_SPLASH", "--timeout", "300", "--hidden").values()
        self.assertEqual(window.get("found"), "0")
        record = case.finish()
        self.assertEqual(record.get("splash"), "none")


class Screen480x640(OnScreen, unittest.TestCase):
    NAME, WIDTH, HEIGHT = "kel480", 480, 640
    CASES = [
        ("splash", "Splash.exe", "S300.bmp", "Shop is starting"),
        ("splashdefault", "SplashDefault.exe", "Splash300.bmp", "The Big Splash Screen"),
    ]


class SecondStart(unittest.TestCase):
    def test_a_second_start_shows_no_splash(self):
        exe = install("splash", "Splash.exe", "second_start")
        first_record = os.path.join(os.path.dirname(exe), "first.txt")
        second_record = os.path.join(os.path.dirname(exe), "second.txt")
        first = wine.spawn_start(exe, f'"{winpath(exe)}" shop.Main', cwd=os.path.dirname(exe),
                                 env=kelwine.engine_env(first_record, exit_code=5, lifetime_ms=20000))
        try:
            self.assertTrue(kelwine.wait_for(lambda: Record(first_record).get("splash_gone"), timeout=15),
                            Record(first_record).lines)
            self.assertEqual(Record(first_record).get("splash_gone"), "1")
            # Only a splash of another process than the first launcher's counts.
            watcher = wine.start([os.path.join(kelwine.HELPERS, "findwin.exe"), "--class", "KEL_SPLASH",
                                  "--hidden", "--timeout", "3000", "--skip-pid", Record(first_record).get("pid")])
            second = wine.launch(exe, "shop.Main", env=kelwine.engine_env(second_record))
            seen = watcher.wait(20).values()
            self.assertEqual(second.exit, 0, second)
            self.assertFalse(os.path.exists(second_record), "the second start entered an engine")
            self.assertEqual(seen.get("found"), "0", f"a splash appeared: {seen}")
            self.assertEqual(len(Record(first_record).all("activated")), 1)
        finally:
            wine.findwin("--class", "shop_Main", "--timeout", "3000", "--close")
            result = first.wait(20)
        self.assertEqual(result.exit, 5, result)


if __name__ == "__main__":
    unittest.main()
