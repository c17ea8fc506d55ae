"""The demo's scenes; demo.sh sets up the display and the prefix first.

  demo.py DEMO_DIR KELPACK"""
import os
import shutil
import subprocess
import sys
import time

import kelwine
from kelwine import Record, Screenshot, winpath


def say(text=""):
    print(text, flush=True)


def shown(text):
    """A command line as a person can read it: its quotes, and its spaces made visible where they count."""
    return "\u00ab" + text + "\u00bb"


def make_assets(folder):
    """The sample application: its package, its icon and three splash bitmaps of different sizes."""
    with open(os.path.join(folder, "hello.kel"), "w", encoding="utf-8") as f:
        f.write("Hello 1.0 \u2014 a sample Kel application\n"
                "main = hello.Main\n"
                "screens = welcome, about\n"
                "\n"
                "This text is the application package the launcher carries;\n"
                "the sample engine shows it in its window.\n")
    looks = {
        150: ("gradient:#102a5c-#3d7cc9", "#ffd54a"),
        300: ("gradient:#0b3d2e-#35b37e", "#fff3b0"),
        420: ("gradient:#4a0d2b-#d9487c", "#ffe0f0"),
    }
    bitmaps = []
    for size, (background, ring) in looks.items():
        path = os.path.join(folder, f"splash{size}.bmp")
        c, r = size // 2, size // 3
        subprocess.run(["convert", "-size", f"{size}x{size}", background,
                        "-fill", "none", "-stroke", ring, "-strokewidth", str(max(4, size // 25)),
                        "-draw", f"circle {c},{c} {c},{c - r}",
                        "-fill", ring, "-stroke", "none", "-draw", f"rectangle {c - size // 12},{c - size // 12} "
                        f"{c + size // 12},{c + size // 12}",
                        "-type", "truecolor", f"BMP3:{path}"], check=True)
        bitmaps.append((size, path))
    icon = os.path.join(folder, "hello.ico")
    subprocess.run(["convert", "-size", "32x32", "xc:#3d7cc9", "-fill", "#ffd54a", "-draw", "circle 16,16 16,6",
                    icon], check=True)
    return os.path.join(folder, "hello.kel"), bitmaps, icon


def main(demo_dir, kelpack):
    wine = kelwine.Wine()
    # A Wine virtual desktop draws window frames and a background itself, as the device does.
    desktop = kelwine.VirtualDesktop(wine, "Handheld", 480, 640)
    try:
        return scenes(wine, desktop, demo_dir, kelpack)
    finally:
        desktop.close()


def scenes(wine, desktop, demo_dir, kelpack):
    app_dir = os.path.join(demo_dir, "Hello")
    assets = os.path.join(demo_dir, "assets")
    shots = os.path.join(demo_dir, "screenshots")
    for folder in (app_dir, assets, shots):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)

    say("== Packaging the sample application")
    package, bitmaps, icon = make_assets(assets)
    exe = os.path.join(app_dir, "Hello.exe")
    pack = [kelpack, "pack", kelwine.KEL_EXE, "-o", exe, "--app", package, "--command-line", "hello.Main",
            "--title", "Hello is starting", "--icon", icon]
    for size, path in bitmaps:
        pack += ["--splash", f"{size}x{size}:{path}"]
    subprocess.run(pack, check=True, stdout=subprocess.DEVNULL)
    shutil.copyfile(kelwine.KEL_DLL, os.path.join(app_dir, "Kel.dll"))
    say(f"   {exe}")
    say("   carries: the package hello.kel, the command line \"hello.Main\", the icon, and splash")
    say("   bitmaps of " + ", ".join(f"{s}x{s}" for s, _ in bitmaps) + " pixels")
    say()

    record_path = os.path.join(demo_dir, "engine-record.txt")
    if os.path.exists(record_path):
        os.remove(record_path)
    user_line = "welcome.kel -v"
    say(f"== Starting it as a user would: Hello.exe {user_line}")
    started = time.time()
    first = desktop.spawn_start(exe, f'"{winpath(exe)}" {user_line}',
                                env=kelwine.engine_env(record_path, exit_code=0, lifetime_ms=60000, splash_ms=2500))
    record = kelwine.wait_entered(record_path, timeout=30)
    if record is None:
        say("   the engine was never entered; see " + record_path)
        return 1
    time.sleep(0.3)
    splash_shot = Screenshot(wine.display, os.path.join(shots, "1-splash.png"))
    say(f"   the engine was entered {record.get('entered_after_ms')} ms after the launcher started,")
    say(f"   with the splash already up ({record.get('splash_title_at_entry')!r}) on a {record.get('screen')} screen")
    say(f"   screenshot of the splash: {splash_shot.path}")
    say(f"   command line the engine received: {shown(record.command_line)}")
    say("     (the embedded \"hello.Main\" with the user's words behind it, each after one space)")

    kelwine.wait_for(lambda: Record(record_path).get("splash_gone"), timeout=15)
    time.sleep(0.5)
    record = Record(record_path)
    app_shot = Screenshot(wine.display, os.path.join(shots, "2-application.png"))
    say(f"   the engine showed its window (class {record.get('window_class')}) and took the splash down")
    say(f"   screenshot of the application: {app_shot.path}")
    say()

    say("== Starting it a second time while it runs")
    second_record = os.path.join(demo_dir, "second-record.txt")
    if os.path.exists(second_record):
        os.remove(second_record)
    second = desktop.spawn_start(exe, f'"{winpath(exe)}" {user_line}',
                                 env=kelwine.engine_env(second_record)).wait(30)
    activations = kelwine.wait_for(lambda: Record(record_path).all("activated"), timeout=5) or []
    say(f"   the second launcher ended with exit code {second.exit}, without a splash or an engine of its own;")
    say(f"   the running application was brought forward: {len(activations)} activation message(s) received")
    say()

    say(f"== Relaying commands to the running engine over 127.0.0.1:{record.get('server_port')}")
    for command in ("say hello", "quit 7"):
        line = f'-+ -acommand "{command}" --'
        relayed = desktop.spawn_start(exe, f'"{winpath(exe)}" {line}', env=kelwine.engine_env(second_record)).wait(30)
        say(f"   Hello.exe {line}   -> launcher exit code {relayed.exit}")
    result = first.wait(30)
    record = Record(record_path)
    received = [bytes.fromhex(r).decode("latin-1") for r in record.all("relay")]
    say(f"   the engine received the lines: {', '.join(repr(r) for r in received)}")
    say()

    say("== How it ended")
    say(f"   the first launcher ended after {time.time() - started:.1f} s with exit code {result.exit}"
        f" (the engine's result, asked for by \"quit 7\")")
    say(f"   everything the engine recorded: {record_path}")
    say(f"   screenshots: {shots}")
    say()
    installed = device_installer(demo_dir, kelpack, package, bitmaps, icon)
    return 0 if result.exit == 7 and installed else 1


def device_installer(demo_dir, kelpack, package, bitmaps, icon):
    """The same application for the handheld: a copy of the device's launcher and the
    installation cabinet the device installs it from, and what that installs."""
    say("== The installer for the device")
    device = os.path.join(kelwine.SOURCE, "build", "wince-arm", "bin")
    if not os.path.isfile(os.path.join(device, "kel.exe")):
        say("   skipped: the device's kel.exe is not built here (its compiler cannot be had; see make device)")
        return True
    folder = os.path.join(demo_dir, "device")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    exe, cab = os.path.join(folder, "Hello.exe"), os.path.join(folder, "Hello.cab")
    pack = [kelpack, "pack", os.path.join(device, "kel.exe"), "-o", exe, "--app", package, "--command-line", "hello.Main",
            "--title", "Hello", "--icon", icon]
    for size, path in bitmaps:
        pack += ["--splash", f"{size}x{size}:{path}"]
    engine = os.path.join(device, "Kel.dll")
    stored, runtime = os.path.join(folder, "Hello-stored.cab"), os.path.join(folder, "KelRuntime.cab")
    make = [kelpack, "cab", exe, "-o", cab, "--provider", "Kel Samples", "--engine", engine, "--compress"]
    # The same cabinet stored, as most are, to show what compression saves on the sync cable.
    plain = [kelpack, "cab", exe, "-o", stored, "--provider", "Kel Samples", "--engine", engine]
    # The runtime: the plain launcher beside the engine, the handler of .kel files.
    shared = [kelpack, "cab", "--runtime", os.path.join(device, "kel.exe"), "--engine", engine, "-o", runtime, "--compress"]
    said = {}
    for output, step in ((exe, pack), (cab, make), (stored, plain), (runtime, shared)):
        done = subprocess.run(step, capture_output=True, text=True)
        if done.returncode != 0:
            say(f"   kelpack {step[1]} failed: {done.stderr.strip()}")
            return False
        said[output] = done.stdout.strip()
    say(f"   {exe}: the device's launcher carrying the same package, splash and icon")
    say("   " + said[cab])
    say(f"   {cab}: {os.path.getsize(cab)} bytes compressed with MSZIP; {os.path.getsize(stored)} bytes stored ({stored})")
    say("   " + said[runtime])
    say("   what the device's installer makes of it (kelpack show Hello.cab):")
    shown_cab = subprocess.run([kelpack, "show", cab], capture_output=True, text=True)
    # Up to the program inside, which show then lists as it lists any launcher copy.
    for line in shown_cab.stdout.split("\n\nThe program ")[0].splitlines():
        say("     " + line if line else "")
    say("   Tap KelRuntime.cab, then Hello.cab, on the device (or copy them over with the desktop sync")
    say("   tool) to install them; Remove Programs takes each away again. The runtime owns the .kel file")
    say("   type, so that removing one application leaves it to the others.")
    return shown_cab.returncode == 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
