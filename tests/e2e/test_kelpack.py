"""A launcher copy packed by kelpack behaves under Wine as the copy windres
built from the same resources: the engine receives the same merged command
line and shows the same application package, and the same splash bitmap
shows, pixel for pixel, on a 480x640 screen. What `kelpack preview` draws
for a screen is what that screen shows, pixel for pixel over the splash
window, on screens of 240x320 (where the window overhangs) and 480x640. The
Windows build of kelpack packs and explains under Wine with file names and
arguments beyond ASCII."""
import json
import os
import re
import subprocess
import unittest

import kelwine
import make_bitmaps
from kelwine import Picture, Record, Screenshot, VirtualDesktop, place, winpath, work_dir

KELPACK = os.path.join(kelwine.SOURCE, "build", "host", "bin", "kelpack")
KELPACK_EXE = os.path.join(kelwine.BIN, "kelpack.exe")
APPS_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "apps")
HELLO_KEL = os.path.join(APPS_SOURCE, "sample", "hello.kel")
COMMAND_LINE_FILE = os.path.join(APPS_SOURCE, "sample", "commandline.txt")
CONFIG_FILE = os.path.join(APPS_SOURCE, "splash", "config.txt")

wine = None
built = packed = None


def setUpModule():
    global wine, built, packed
    wine = kelwine.Wine()
    if not os.access(KELPACK, os.X_OK):
        raise AssertionError(f"no kelpack at {KELPACK}: build the host preset first")
    folder = work_dir("kelpack", "launchers")
    place(kelwine.KEL_DLL, folder)
    built = place(os.path.join(kelwine.APPS, "kelpackref", "KelpackRef.exe"), folder)
    packed = os.path.join(folder, "Packed.exe")
    with open(COMMAND_LINE_FILE, encoding="ascii") as f:
        command_line = f.read()
    result = subprocess.run(
        [KELPACK, "pack", kelwine.KEL_EXE, "-o", packed, "--app", HELLO_KEL, "--command-line", command_line,
         "--config", CONFIG_FILE,
         "--bitmap", "S150=" + os.path.join(kelwine.APPS, "S150.bmp"),
         "--bitmap", "S300=" + os.path.join(kelwine.APPS, "S300.bmp"),
         "--icon", os.path.join(kelwine.APPS, "app.ico")],
        capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        raise AssertionError(f"kelpack pack failed ({result.returncode}): {result.stderr}")


def run_both(user, name):
    """Runs the windres-built and the kelpack-built copy with the same user
    command line; their records."""
    records = []
    for label, exe in (("built", built), ("packed", packed)):
        path = os.path.join(os.path.dirname(exe), f"{name}_{label}.txt")
        if os.path.exists(path):
            os.remove(path)
        result = wine.launch(exe, user, env=kelwine.engine_env(path, exit_code=9))
        if result.exit != 9:
            raise AssertionError(f"{label} copy with {user!r}: {result}")
        records.append(Record(path))
    return records


class SameAsWindres(unittest.TestCase):
    # The user's command line and what the engine must receive: the embedded
    # hello.Main -v merged in.
    CASES = [
        ("", "hello.Main -v"),
        ("doc.kel", " hello.Main -v doc.kel"),
        ("-+ -h 5 -- doc.kel", "-h 5  hello.Main -v doc.kel"),
    ]

    def test_the_engine_receives_the_same_command_line_and_package(self):
        with open(HELLO_KEL, "rb") as f:
            package = f.read().hex()
        for number, (user, merged) in enumerate(self.CASES):
            with self.subTest(user=user):
                from_built, from_packed = run_both(user, f"line{number}")
                self.assertEqual(from_built.command_line, merged)
                self.assertEqual(from_packed.command_line, from_built.command_line)
                self.assertEqual(from_built.get("package", "").lower(), package)
                self.assertEqual(from_packed.get("package"), from_built.get("package"))


class SameSplash(unittest.TestCase):
    WIDTH, HEIGHT = 480, 640

    @classmethod
    def setUpClass(cls):
        cls.desktop = VirtualDesktop(wine, "kelpack480", cls.WIDTH, cls.HEIGHT)

    @classmethod
    def tearDownClass(cls):
        cls.desktop.close()

    def show(self, exe, label):
        """Starts exe on the desktop; the splash window, the count of wrong
        pixels against S300.bmp centred, and the engine's record."""
        record_path = os.path.join(os.path.dirname(exe), f"splash_{label}.txt")
        if os.path.exists(record_path):
            os.remove(record_path)
        running = self.desktop.spawn_start(exe, f'"{winpath(exe)}"',
                                           env=kelwine.engine_env(record_path, exit_code=31, lifetime_ms=20000,
                                                                  splash_ms=3000))
        try:
            entered = kelwine.wait_entered(record_path)
            self.assertTrue(entered, f"{label}: the engine was not entered: {Record(record_path).lines}")
            window = self.desktop.findwin("--class", "KEL_SPLASH", "--timeout", "3000").values()
            width, height, colour = make_bitmaps.expected("S300.bmp")
            x, y = (self.WIDTH - width) // 2, (self.HEIGHT - height) // 2
            shot_path = os.path.join(os.path.dirname(exe), f"splash_{label}.png")
            shot = Screenshot(wine.display, shot_path)
            ox, oy = self.desktop.origin()
            wrong, examples = shot.mismatches(ox + x, oy + y, width, height, colour)
        finally:
            kelwine.wait_for(lambda: Record(record_path).get("splash_gone"), timeout=10)
            self.desktop.findwin("--class", "hello_Main", "--timeout", "5000", "--close")
            result = running.wait(30)
        self.assertEqual(result.exit, 31, f"{label}: {result}")
        return window, (wrong, examples, shot_path), Record(record_path)

    def test_the_same_splash_shows(self):
        built_window, built_pixels, built_record = self.show(built, "built")
        packed_window, packed_pixels, packed_record = self.show(packed, "packed")
        self.assertEqual(built_window.get("found"), "1")
        self.assertEqual(built_pixels[0], 0, f"windres-built copy: {built_pixels}")
        self.assertEqual(packed_pixels[0], 0, f"kelpack-built copy: {packed_pixels}")
        for key in ("found", "title", "rect", "style"):
            self.assertEqual(packed_window.get(key), built_window.get(key), key)
        self.assertEqual(built_record.get("splash_title"), "Shop is starting")
        for key in ("command_line", "package", "screen", "splash_at_entry", "splash_title", "splash_rect"):
            self.assertEqual(packed_record.get(key), built_record.get(key), key)
        self.assertEqual(packed_record.get("splash_at_entry"), "1")


class Preview(unittest.TestCase):
    """A copy packed with a 300x300 bitmap for 240x320 screens and a 150x150
    one for 480x640 screens, previewed for both, then run on both."""
    SCREENS = [(240, 320), (480, 640)]

    @classmethod
    def setUpClass(cls):
        folder = work_dir("kelpack", "preview")
        place(kelwine.KEL_DLL, folder)
        cls.exe = os.path.join(folder, "Preview.exe")
        cls.previews = os.path.join(folder, "previews")
        os.makedirs(cls.previews)
        packing = subprocess.run(
            [KELPACK, "pack", kelwine.KEL_EXE, "-o", cls.exe, "--title", "Preview",
             "--splash", "240x320:" + os.path.join(kelwine.APPS, "S300.bmp"),
             "--splash", "480x640:" + os.path.join(kelwine.APPS, "S150.bmp")],
            capture_output=True, text=True, timeout=30)
        if packing.returncode != 0:
            raise AssertionError(f"kelpack pack failed ({packing.returncode}): {packing.stderr}")
        args = [KELPACK, "preview", cls.exe, "-o", cls.previews]
        for width, height in cls.SCREENS:
            args += ["--screen", f"{width}x{height}"]
        cls.preview = subprocess.run(args, capture_output=True, text=True, timeout=30)

    def said_window(self, width, height):
        """Where kelpack said the window lies on a screen: "X,Y"."""
        found = re.search(rf"preview-{width}x{height}\.png .*the window at (-?\d+),(-?\d+)", self.preview.stdout)
        return f"{found[1]},{found[2]}" if found else None

    def run_on(self, desktop, label):
        """Starts the copy on the desktop; the splash window and a screenshot
        taken while it is up, and the engine's exit."""
        record_path = os.path.join(os.path.dirname(self.exe), f"record_{label}.txt")
        running = desktop.spawn_start(self.exe, f'"{winpath(self.exe)}" prev.Main',
                                      env=kelwine.engine_env(record_path, exit_code=31, lifetime_ms=20000,
                                                             splash_ms=3000))
        try:
            self.assertTrue(kelwine.wait_entered(record_path), f"{label}: the engine was not entered")
            window = desktop.findwin("--class", "KEL_SPLASH", "--timeout", "3000").values()
            shot = Screenshot(wine.display, os.path.join(os.path.dirname(self.exe), f"screen_{label}.png"))
        finally:
            kelwine.wait_for(lambda: Record(record_path).get("splash_gone"), timeout=10)
            desktop.findwin("--class", "prev_Main", "--timeout", "5000", "--close")
            result = running.wait(30)
        self.assertEqual(result.exit, 31, f"{label}: {result}")
        return window, shot

    def test_the_screen_shows_what_the_preview_draws(self):
        self.assertEqual(self.preview.returncode, 0, self.preview.stderr)
        for width, height in self.SCREENS:
            with self.subTest(screen=f"{width}x{height}"):
                picture = Picture(os.path.join(self.previews, f"preview-{width}x{height}.png"))
                self.assertEqual((picture.width, picture.height), (width, height))
                desktop = VirtualDesktop(wine, f"kelpreview{width}", width, height)
                try:
                    window, shot = self.run_on(desktop, f"{width}x{height}")
                    ox, oy = desktop.origin()
                finally:
                    desktop.close()
                self.assertEqual(window.get("found"), "1")
                x, y, w, h = (int(n) for n in window["rect"].split(","))
                self.assertEqual(f"{x},{y}", self.said_window(width, height), self.preview.stdout)
                # The part of the window on the screen: all of it on 480x640,
                # 240x300 of the 300x300 on 240x320.
                left, top, right, bottom = max(x, 0), max(y, 0), min(x + w, width), min(y + h, height)
                self.assertGreater((right - left) * (bottom - top), 0)
                wrong = [((sx, sy), shot.pixel(ox + sx, oy + sy), picture.pixel(sx, sy))
                         for sy in range(top, bottom) for sx in range(left, right)
                         if shot.pixel(ox + sx, oy + sy) != picture.pixel(sx, sy)]
                self.assertEqual(len(wrong), 0, f"{len(wrong)} pixels differ (place, screen, preview), e.g. "
                                                f"{wrong[:5]}; see {shot.path} and {picture.path}")
                print(f"{width}x{height}: window at {x},{y} ({w}x{h}), {(right - left) * (bottom - top)} pixels "
                      f"on the screen equal the preview's")


class WindowsBuild(unittest.TestCase):
    """kelpack.exe takes its arguments as wide text: paths and arguments the
    ANSI code page cannot hold reach it intact."""

    def test_packs_and_explains_with_names_beyond_ascii(self):
        folder = work_dir("kelpack", "Pakete ü 包")
        launcher = place(kelwine.KEL_EXE, folder)
        app = place(HELLO_KEL, folder, "spiel ü 包.kel")
        bitmap = place(os.path.join(kelwine.APPS, "S150.bmp"), folder, "grüß 包.bmp")
        output = os.path.join(folder, "Spiel 包.exe")
        with open(launcher, "rb") as f:
            launcher_bytes = f.read()

        packed_run = wine.run([KELPACK_EXE, "pack", winpath(launcher), "-o", winpath(output), "--app", winpath(app),
                               "--command-line", "hello.Main", "--bitmap", "S150=" + winpath(bitmap)], timeout=60)
        self.assertEqual(packed_run.code, 0, packed_run)
        self.assertTrue(os.path.exists(output), packed_run)
        with open(launcher, "rb") as f:
            self.assertEqual(f.read(), launcher_bytes, "the input launcher was changed")

        # What was packed, read back by the host build.
        shown = subprocess.run([KELPACK, "show", "--json", output], capture_output=True, text=True, timeout=30)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        view = json.loads(shown.stdout)
        self.assertEqual(view.get("command_line"), "hello.Main", view)
        self.assertEqual(view.get("application_size"), os.path.getsize(HELLO_KEL), view)
        self.assertIn({"type": "SPLASHSCREEN", "name": "S150", "lang": 0, "size": os.path.getsize(bitmap)},
                      view.get("resources"))

        explained = wine.run([KELPACK_EXE, "explain", winpath(output), "--json", "--", "包 ü.kel", "-v"],
                             timeout=60)
        self.assertEqual(explained.code, 0, explained)
        answer = json.loads(explained.out)
        self.assertEqual(answer["arguments"], ["hello.Main", "包", "ü.kel", "-v"], answer)
        self.assertEqual(answer["handoff"]["target"], "hello_Main")


if __name__ == "__main__":
    unittest.main()
