"""A launcher copy packed by kelpack behaves under Wine as the copy windres
built from the same resources: the engine receives the same merged command
line and shows the same application package, and the same splash bitmap
shows, pixel for pixel, on a 480x640 screen. PNG, GIF, JPEG and top-down
32-bit BMP pictures packed by kelpack show as their own pixels, from bitmaps
at the smallest exact depth. What `kelpack preview` draws for a screen is
what that screen shows, pixel for pixel over the splash window, on screens of
240x320 (where the window overhangs) and 480x640. The Windows build of
kelpack packs and explains under Wine with file names and arguments beyond
ASCII."""
import json
import os
import re
import struct
import subprocess
import unittest
import zlib

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


def show_splash(test, desktop, exe, label, window_class, width, height, colour):
    """Starts exe on the 480x640 desktop; the splash window, the count of
    pixels of the centred width x height rectangle that differ from
    colour(x, y) (with examples and the screenshot's path), and the engine's
    record. The engine's own window, of window_class, is closed at the end."""
    record_path = os.path.join(os.path.dirname(exe), f"splash_{label}.txt")
    if os.path.exists(record_path):
        os.remove(record_path)
    running = desktop.spawn_start(exe, f'"{winpath(exe)}"',
                                  env=kelwine.engine_env(record_path, exit_code=31, lifetime_ms=20000, splash_ms=3000))
    try:
        entered = kelwine.wait_entered(record_path)
        test.assertTrue(entered, f"{label}: the engine was not entered: {Record(record_path).lines}")
        window = desktop.findwin("--class", "KEL_SPLASH", "--timeout", "3000").values()
        x, y = (desktop.width - width) // 2, (desktop.height - height) // 2
        shot_path = os.path.join(os.path.dirname(exe), f"splash_{label}.png")
        shot = Screenshot(wine.display, shot_path)
        ox, oy = desktop.origin()
        wrong, examples = shot.mismatches(ox + x, oy + y, width, height, colour)
    finally:
        kelwine.wait_for(lambda: Record(record_path).get("splash_gone"), timeout=10)
        desktop.findwin("--class", window_class, "--timeout", "5000", "--close")
        result = running.wait(30)
    test.assertEqual(result.exit, 31, f"{label}: {result}")
    return window, (wrong, examples, shot_path), Record(record_path)


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
        width, height, colour = make_bitmaps.expected("S300.bmp")
        return show_splash(self, self.desktop, exe, label, "hello_Main", width, height, colour)

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


# ---------------------------------------------------------------- pictures of every kind

def png_bytes(width, height, rgba):
    """A PNG of 8-bit RGBA pixels; rgba(x, y) -> (r, g, b, a)."""
    rows = b"".join(b"\0" + bytes(v for x in range(width) for v in rgba(x, y)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def top_down_bmp32(width, height, rgb):
    """A top-down 32-bit BMP (negative height, rows top first, blue green red and an unused byte)."""
    pixels = b"".join(bytes((b, g, r, 0)) for y in range(height) for x in range(width) for r, g, b in [rgb(x, y)])
    info = struct.pack("<IiiHHIIiiII", 40, width, -height, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) + info + pixels


def ppm_bytes(width, height, rgb):
    return f"P6 {width} {height} 255\n".encode() + bytes(v for y in range(height) for x in range(width) for v in rgb(x, y))


def read_ppm(data):
    """(width, height, pixels) of a binary PPM with single-space separated header fields."""
    fields = data.split(maxsplit=4)
    return int(fields[1]), int(fields[2]), fields[4]


def blend(c, a, background):
    """A colour level laid over the background level, rounded to nearest."""
    return (c * a + background * (255 - a) + 127) // 255


def packed_24bit_pixels(exe_path, width, height):
    """The pixels of the 24-bit bitmap of that size packed in exe_path, read
    from its bytes (file header: "BM", then the file's size)."""
    stride = (3 * width + 3) // 4 * 4
    size = 54 + stride * height
    with open(exe_path, "rb") as f:
        data = f.read()
    at = data.find(b"BM" + struct.pack("<I", size))
    if at < 0:
        raise AssertionError(f"no {width}x{height} 24-bit bitmap in {exe_path}")
    rows = data[at + 54:at + size]

    def colour(x, y):
        i = (height - 1 - y) * stride + 3 * x
        return rows[i + 2], rows[i + 1], rows[i]
    return colour


BACKGROUND = (0x33, 0x66, 0x99)
PALETTE_200 = [((i * 37) % 256, (i * 91) % 256, (i * 53 + 7) % 256) for i in range(200)]


def png_art(x, y):
    """Three opaque colours, a clear band and a half-clear band: four colours over the background."""
    if y < 30:
        return (255, 0, 0, 128)
    if x < 80:
        return (250, 220, 0, 255)
    if x < 160:
        return (20, 40, 160, 255)
    return (0, 0, 0, 0) if x < 200 else (20, 40, 160, 255)


def png_art_shown(x, y):
    r, g, b, a = png_art(x, y)
    return tuple(blend(c, a, bg) for c, bg in zip((r, g, b), BACKGROUND))


def gif_art(x, y):
    return (250, 220, 0) if (x // 10 + y // 10) % 2 else (20, 40, 160)


def bmp_art(x, y):
    return PALETTE_200[(x // 4 + (y // 5) * 7) % 200]


def gradient_art(x, y):
    return (x, (2 * y) % 256, (x + 3 * y) % 256)


def photo_art(x, y):
    return ((x * 255) // 319, (y * 255) // 239, (128 + x - y) % 256)


class PicturesOfEveryKind(unittest.TestCase):
    """kelpack packs PNG, GIF, JPEG and top-down 32-bit BMP pictures as
    bitmaps at the smallest exact depth; the launcher shows the lossless
    ones as their own pixels. The JPEG shows exactly as the bitmap kelpack
    packed for it, which is read back from the copy and must be close to the
    source as ImageMagick decodes it (kelpack decodes with stb_image)."""

    # name, file, its bytes or how to make it, kelpack options, bits packed, size, colour shown
    @classmethod
    def setUpClass(cls):
        cls.folder = work_dir("kelpack", "pictures")
        place(kelwine.KEL_DLL, cls.folder)

        def write(name, data):
            path = os.path.join(cls.folder, name)
            with open(path, "wb") as f:
                f.write(data)
            return path

        ppm = write("gif_art.ppm", ppm_bytes(160, 120, gif_art))
        subprocess.run(["convert", ppm, os.path.join(cls.folder, "art.gif")], check=True, timeout=60)
        ppm = write("photo.ppm", ppm_bytes(320, 240, photo_art))
        subprocess.run(["convert", ppm, "-quality", "95", "-sampling-factor", "1x1",
                        os.path.join(cls.folder, "photo.jpg")], check=True, timeout=60)
        cls.cases = [
            ("png", write("art.png", png_bytes(240, 180, png_art)), ["--background", "336699"], 4, 240, 180,
             png_art_shown),
            ("gif", os.path.join(cls.folder, "art.gif"), [], 1, 160, 120, gif_art),
            ("bmp", write("art.bmp", top_down_bmp32(200, 150, bmp_art)), [], 8, 200, 150, bmp_art),
            ("gradient", write("gradient.png", png_bytes(256, 100, lambda x, y: gradient_art(x, y) + (255,))), [], 24,
             256, 100, gradient_art),
            ("jpeg", os.path.join(cls.folder, "photo.jpg"), [], 24, 320, 240, None),
        ]
        cls.desktop = VirtualDesktop(wine, "kelpackart", 480, 640)

    @classmethod
    def tearDownClass(cls):
        cls.desktop.close()

    def pack(self, label, picture, options):
        exe = os.path.join(self.folder, f"Art_{label}.exe")
        result = subprocess.run([KELPACK, "pack", kelwine.KEL_EXE, "-o", exe, "--command-line", "art.Main",
                                 "--splash", f"{picture}:Art", "--title", "Art"] + options,
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        print(f"  {result.stderr.strip()}")
        return exe, result.stderr

    def test_each_picture_shows_as_its_pixels_from_the_smallest_exact_depth(self):
        for label, picture, options, bits, width, height, colour in self.cases:
            with self.subTest(picture=label):
                exe, notes = self.pack(label, picture, options)
                self.assertIn(f"written as {bits}-bit", notes)
                shown = subprocess.run([KELPACK, "show", "--json", exe], capture_output=True, text=True, timeout=30)
                self.assertEqual(shown.returncode, 0, shown.stderr)
                entry = json.loads(shown.stdout)["config_entries"][0]
                self.assertEqual((entry["bitmap_width"], entry["bitmap_height"], entry["bitmap_bits"]),
                                 (width, height, bits), entry)

                if colour is None:
                    # The JPEG: what kelpack decoded, close to ImageMagick's decode of the source.
                    colour = packed_24bit_pixels(exe, width, height)
                    w, h, source = read_ppm(subprocess.run(["convert", picture, "ppm:-"], capture_output=True,
                                                           check=True, timeout=60).stdout)
                    self.assertEqual((w, h), (width, height))
                    differences = [abs(source[3 * (y * w + x) + i] - colour(x, y)[i])
                                   for y in range(h) for x in range(w) for i in range(3)]
                    print(f"  jpeg: stb and ImageMagick differ by {max(differences)} at most, "
                          f"{sum(differences) / len(differences):.2f} on average")
                    self.assertLessEqual(max(differences), 8)
                    self.assertLessEqual(sum(differences) / len(differences), 1.0)

                window, (wrong, examples, shot_path), record = show_splash(self, self.desktop, exe, label, "art_Main",
                                                                           width, height, colour)
                self.assertEqual(window.get("found"), "1", f"{label}: no splash window")
                self.assertEqual(record.get("splash_at_entry"), "1")
                self.assertEqual(wrong, 0, f"{label}: {wrong} pixels differ, e.g. {examples}; see {shot_path}")


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
