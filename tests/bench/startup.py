#!/usr/bin/python3
"""Start-up and size figures of kel.exe under Wine, printed as one table.

    tests/bench/startup.sh [--rounds N] [--warmup N] [--analyse] [--keep]

Needs `cmake --build --preset windows` and `--preset windows-x86` first.

What it does:
  - copies the built kel.exe, the bare loader and the timing engine (a Kel.dll
    that imports KERNEL32 only and notes how long after process creation its
    entry was reached) into one folder, and packs a copy of kel.exe with a
    240x320 24-bit splash of a single colour (with kelpack, the project's own
    packer); copies kel.exe and the bare loader once more beside the probe
    engine Kel.dll, which notes its entry the same way;
  - in a private Wine prefix and a private Xvfb display, starts kel.exe, the
    bare loader, the splash copy and the pair beside the probe engine in
    turn, round after round, the order reversed every other round, after a
    few warm-up rounds;
  - then runs the splash copy under a watcher that, from outside, notes when
    the KEL_SPLASH window appears and when its centre pixel on the screen
    takes the bitmap's colour;
  - reads the stripped sizes and import lists of both kel.exe builds.

Medians are printed, with the 25th to 75th percentile beside them, since the
machine is shared. When kel.exe takes more than 1.10 times the bare loader's
start-up (or with --analyse), a second table splits the difference: the bare
loader rebuilt to import kel.exe's system DLLs one at a time, then to make
kel.exe's window-system calls too, then kel.exe with an argument (no file-type
registration), all interleaved in the same rounds.

It is a measurement: it exits 0 whatever the figures, and non-zero only when
something could not be measured, saying why.
"""

import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
X64 = os.path.join(ROOT, "build", "windows")
X86 = os.path.join(ROOT, "build", "windows-x86")

SPLASH_RGB = (0x20, 0x80, 0xC0)  # neither the white class background nor Xvfb's black root
SPLASH_SIZE = (240, 320)
SCREEN = "480x640x24"  # a VGA handheld held upright
HOLD_NOTE = "the timing engine stays 300 ms after its note so the watcher sees the splash"

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ws2_32.dll", "msvcrt.dll",
    "shell32.dll", "ole32.dll", "comctl32.dll", "wsock32.dll", "ntdll.dll", "coredll.dll",
}


class Unmeasurable(Exception):
    pass


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write_bmp(path, width, height, rgb):
    """A bottom-up 24-bit BMP with a 40-byte header, every pixel rgb."""
    row = bytes((rgb[2], rgb[1], rgb[0])) * width
    row += b"\0" * ((4 - len(row) % 4) % 4)
    pixels = row * height
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def start_xvfb():
    for display in range(70, 100):
        if os.path.exists("/tmp/.X%d-lock" % display) or os.path.exists("/tmp/.X11-unix/X%d" % display):
            continue
        proc = subprocess.Popen(["Xvfb", ":%d" % display, "-screen", "0", SCREEN, "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists("/tmp/.X11-unix/X%d" % display):
                return proc, ":%d" % display
            if proc.poll() is not None:
                break
            time.sleep(0.1)
        if proc.poll() is None:
            proc.terminate()
            proc.wait()
    raise Unmeasurable("no Xvfb display could be started")


def run(cmd, env, cwd, timeout, what):
    # Output goes to files, not pipes: Wine's helper processes inherit the
    # handles and can hold a pipe open long after the program has ended.
    with tempfile.TemporaryFile("w+", errors="replace") as out, \
            tempfile.TemporaryFile("w+", errors="replace") as err:
        proc = subprocess.Popen(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise Unmeasurable("%s did not finish within %d s" % (what, timeout))
        out.seek(0)
        err.seek(0)
        stdout, stderr = out.read(), err.read()
    if code != 0:
        raise Unmeasurable("%s failed (exit %d): %s" % (what, code, (stderr or stdout).strip()[-400:]))
    return stdout


def parse_runs(text, kind):
    """The measured (non-warm-up) lines of one kind, split into fields; failures counted."""
    rows, failures = [], []
    for line in text.splitlines():
        fields = line.split()
        if not fields:
            continue
        if fields[0] == "fail":
            failures.append(" ".join(fields[1:]))
        elif fields[0] == kind and fields[1] != "warmup":
            rows.append([int(v) for v in fields[1:]])
    return rows, failures


def quartiles(values):
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], statistics.median(values), q[2]


def ms(us):
    return us / 1000.0


def imports(pe, objdump):
    out = subprocess.run([objdump, "-p", pe], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         text=True).stdout
    return [line.split("DLL Name:")[1].strip() for line in out.splitlines() if "DLL Name:" in line]


def load():
    return "%.2f" % os.getloadavg()[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=25, help="measured rounds (at least 20)")
    parser.add_argument("--warmup", type=int, default=3, help="warm-up rounds, not counted")
    parser.add_argument("--analyse", action="store_true", help="split kel.exe's start-up even within target")
    parser.add_argument("--keep", action="store_true", help="keep the work folder (build/windows/bench/startup)")
    args = parser.parse_args()
    if args.rounds < 20:
        parser.error("--rounds must be at least 20")

    bench = os.path.join(X64, "bench")
    needed = [os.path.join(X64, "bin", "kel.exe"), os.path.join(X86, "bin", "kel.exe"),
              os.path.join(bench, "Kel.dll"), os.path.join(bench, "bareloader.exe"),
              os.path.join(bench, "benchrun.exe")]
    for tool in ("wine", "wineserver", "Xvfb", "x86_64-w64-mingw32-objdump", "i686-w64-mingw32-objdump"):
        if shutil.which(tool) is None:
            raise Unmeasurable("%s is not installed" % tool)
    missing = [p for p in needed if not os.path.exists(p)]
    if missing:
        raise Unmeasurable("not built: %s (run cmake --build --preset windows and --preset windows-x86)"
                           % ", ".join(os.path.relpath(p, ROOT) for p in missing))
    kelpack_host = os.path.join(ROOT, "build", "host", "bin", "kelpack")
    kelpack_exe = os.path.join(X64, "bin", "kelpack.exe")
    if not os.path.exists(kelpack_host) and not os.path.exists(kelpack_exe):
        raise Unmeasurable("no kelpack to pack the splash copy (build/host/bin/kelpack or build/windows/bin/kelpack.exe)")

    work = os.path.join(bench, "startup")
    shutil.rmtree(work, ignore_errors=True)
    folder = os.path.join(work, "run")
    os.makedirs(folder)
    shutil.copy2(os.path.join(X64, "bin", "kel.exe"), folder)
    for name in os.listdir(bench):
        if name.endswith(".exe") or name == "Kel.dll":
            shutil.copy2(os.path.join(bench, name), folder)
    write_bmp(os.path.join(folder, "splash.bmp"), SPLASH_SIZE[0], SPLASH_SIZE[1], SPLASH_RGB)
    # The same pair again beside the recording probe engine, which notes its
    # entry time as the timing engine does and, told to, returns at once.
    sample_folder = os.path.join(work, "sample-engine")
    sample_engine = os.path.join(X64, "e2e", "probe", "Kel.dll")
    if os.path.exists(sample_engine):
        os.makedirs(sample_folder)
        shutil.copy2(os.path.join(X64, "bin", "kel.exe"), sample_folder)
        shutil.copy2(os.path.join(bench, "bareloader.exe"), sample_folder)
        shutil.copy2(sample_engine, sample_folder)

    load_before = load()
    xvfb, display = start_xvfb()
    env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=display, WINEARCH="win64",
               KEL_ENGINE_LIFETIME_MS="0")
    for name in ("KEL_ENGINE_RECORD", "KEL_ENGINE_EXIT", "KEL_ENGINE_SPLASH_MS"):
        env.pop(name, None)
    env.pop("WAYLAND_DISPLAY", None)
    try:
        run(["wine", "wineboot", "-i"], env, folder, 300, "creating the Wine prefix")
        # One server for the whole run, not one per program started.
        subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

        pack = ["pack", "kel.exe", "-o", "kel-splash.exe", "--splash",
                "%dx%d:splash.bmp" % SPLASH_SIZE]
        if os.path.exists(kelpack_host):
            run([kelpack_host] + pack, env, folder, 60, "kelpack")
        else:
            run(["wine", kelpack_exe] + pack, env, folder, 60, "kelpack")

        note = windows_path(os.path.join(folder, "note.txt"))
        prog = lambda name, arguments=None: windows_path(os.path.join(folder, name)) + (
            "::" + arguments if arguments else "")
        rounds, warmup = str(args.rounds), str(args.warmup)
        timeout = 60 + args.rounds * 20

        # kel, bare, splash copy (and the pair beside the probe engine); reversed every other round.
        programs = [prog("kel.exe"), prog("bareloader.exe"), prog("kel-splash.exe")]
        if os.path.isdir(sample_folder):
            programs += [windows_path(os.path.join(sample_folder, "kel.exe")),
                         windows_path(os.path.join(sample_folder, "bareloader.exe"))]
        out = run(["wine", "benchrun.exe", "entry", rounds, warmup, note] + programs,
                  env, folder, timeout * len(programs), "the start-up runs")
        rows, failures = parse_runs(out, "entry")
        entry = {i: [] for i in range(len(programs))}
        by_round = {}
        for rnd, index, micros, code in rows:
            if micros >= 0 and code == 0:
                entry[index].append(micros)
                by_round.setdefault(rnd, {})[index] = micros
            else:
                failures.append("round %d program %d: note %d, exit %d" % (rnd, index, micros, code))
        for index, name in ((0, "kel.exe"), (1, "bareloader.exe"), (2, "kel-splash.exe")):
            if len(entry[index]) < 20:
                raise Unmeasurable("%s reached the engine in only %d runs: %s"
                                   % (name, len(entry[index]), "; ".join(failures[:5])))

        out = run(["wine", "benchrun.exe", "splash", rounds, warmup, note,
                   "%02X%02X%02X" % SPLASH_RGB, "0", prog("kel-splash.exe")],
                  env, folder, timeout, "the splash runs")
        splash_rows, splash_failures = parse_runs(out, "splash")
        splash_rows = [r for r in splash_rows if r[1] >= 0 and r[4] == 0]
        if len(splash_rows) < 20:
            raise Unmeasurable("the splash was seen painted in only %d runs: %s"
                               % (len(splash_rows), "; ".join(splash_failures[:5]) or out[-400:]))

        analysis = None
        analysis_failure = None
        kel_median = statistics.median(entry[0])
        bare_median = statistics.median(entry[1])
        if args.analyse or kel_median > 1.10 * bare_median:
            steps = [("bare loader", "bareloader.exe", None),
                     ("  + imports USER32", "bareloader-user32.exe", None),
                     ("  + imports GDI32", "bareloader-gdi32.exe", None),
                     ("  + imports ADVAPI32", "bareloader-advapi32.exe", None),
                     ("  + imports WS2_32", "bareloader-ws2_32.exe", None),
                     ("  + all four imports", "bareloader-all.exe", None),
                     ("  + all four + screen size", "bareloader-all-metrics.exe", None),
                     ("  + all four + FindWindowW", "bareloader-all-findwindow.exe", None),
                     ("  + all four + screen size, FindWindowW", "bareloader-all-ui.exe", None),
                     ("kel.exe Game.kel (no registration)", "kel.exe", "Game.kel"),
                     ("kel.exe, blank command line", "kel.exe", None)]
            steps = [s for s in steps if os.path.exists(os.path.join(folder, s[1]))]
            # The split is an explanation, not a figure: when its runs fail
            # (Wine refuses a CreateProcess now and then on a loaded machine),
            # the figures are still printed, and the failure after them.
            try:
                out = run(["wine", "benchrun.exe", "entry", rounds, warmup, note] +
                          [prog(s[1], s[2]) for s in steps],
                          env, folder, 60 + args.rounds * 20 * len(steps), "the analysis runs")
                arows, _ = parse_runs(out, "entry")
                analysis = []
                for index, (label, _, _) in enumerate(steps):
                    values = [r[2] for r in arows if r[1] == index and r[2] >= 0 and r[3] == 0]
                    analysis.append((label, quartiles(values) if len(values) >= 3 else None, len(values)))
            except Unmeasurable as reason:
                analysis_failure = str(reason)
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        xvfb.terminate()
        try:
            xvfb.wait(timeout=10)
        except subprocess.TimeoutExpired:
            xvfb.kill()
    load_after = load()

    sizes = {}
    import_lists = {}
    for arch, base, objdump in (("x64", X64, "x86_64-w64-mingw32-objdump"), ("x86", X86, "i686-w64-mingw32-objdump")):
        exe = os.path.join(base, "bin", "kel.exe")
        # Measured as shipped, and once more after a strip here, in case the build left symbols in.
        stripped = os.path.join(tempfile.mkdtemp(), "kel.exe")
        shutil.copy2(exe, stripped)
        strip = objdump.replace("objdump", "strip")
        subprocess.run([strip, stripped], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        sizes[arch] = (os.path.getsize(exe), os.path.getsize(stripped))
        shutil.rmtree(os.path.dirname(stripped))
        import_lists[arch] = imports(exe, objdump)

    # ---- the table ----
    rows = []

    def figure(label, q, target=""):
        lo, mid, hi = q
        rows.append((label, "%.1f ms" % ms(mid), "%.1f-%.1f" % (ms(lo), ms(hi)), target))

    kel_q, bare_q, splash_q = quartiles(entry[0]), quartiles(entry[1]), quartiles(entry[2])
    figure("start-up to engine entry, bare loader", bare_q)
    figure("start-up to engine entry, kel.exe", kel_q)
    ratio = kel_q[1] / bare_q[1]
    paired = statistics.median([r[0] / r[1] for r in by_round.values() if 0 in r and 1 in r])
    rows.append(("ratio kel/bare (of the medians)", "%.2fx" % ratio, "paired %.2fx" % paired,
                 "<= 1.10 " + ("met" if ratio <= 1.10 else "MISSED")))
    if len(entry) == 5 and len(entry[3]) >= 20 and len(entry[4]) >= 20:
        sample_kel, sample_bare = quartiles(entry[3]), quartiles(entry[4])
        figure("the probe engine Kel.dll: bare loader", sample_bare)
        figure("the probe engine Kel.dll: kel.exe", sample_kel)
        sample_paired = statistics.median([r[3] / r[4] for r in by_round.values() if 3 in r and 4 in r])
        sample_ratio = sample_kel[1] / sample_bare[1]
        rows.append(("  ratio kel/bare with that engine", "%.2fx" % sample_ratio, "paired %.2fx" % sample_paired,
                     "<= 1.10 " + ("met" if sample_ratio <= 1.10 else "MISSED")))
    figure("with splash: start-up to engine entry", splash_q)
    figure("  watched: start-up to engine entry", quartiles([r[1] for r in splash_rows]))
    figure("  watched: start-up to splash window", quartiles([r[2] for r in splash_rows]))
    figure("splash window creation to first paint", quartiles([r[3] for r in splash_rows]))
    for arch in ("x64", "x86"):
        shipped, stripped = sizes[arch]
        target = ""
        if arch == "x64":
            target = "<= 32 KiB " + ("met" if stripped <= 32 * 1024 else "MISSED")
        value = "%.1f KiB" % (stripped / 1024.0)
        detail = "%d bytes" % stripped + ("" if shipped == stripped else " (shipped %d)" % shipped)
        rows.append(("kel.exe %s stripped" % arch, value, detail, target))
    for arch in ("x64", "x86"):
        names = import_lists[arch]
        foreign = [n for n in names if n.lower() not in SYSTEM_DLLS]
        rows.append(("kel.exe %s imports" % arch, " ".join(n.rsplit(".", 1)[0].upper() for n in names),
                     "", "system only: " + ("yes" if not foreign else "NO: " + " ".join(foreign))))

    width = max(len(r[0]) for r in rows) + 2
    print()
    print("%-*s %-12s %-22s %s" % (width, "figure", "median", "25th-75th pct / detail", "target"))
    for label, value, detail, target in rows:
        if len(value) > 12:  # the import list
            print("%-*s %s  (%s)" % (width, label, value, target))
        else:
            print("%-*s %-12s %-22s %s" % (width, label, value, detail, target))
    print()
    print("runs: %d measured rounds each after %d warm-up rounds, interleaved (kel, bare, splash copy, and kel, bare"
          % (len(entry[0]), args.warmup))
    print("      beside the probe engine Kel.dll, which imports USER32 GDI32 ADVAPI32 WS2_32;")
    print("      reversed every other round);")
    print("      splash watched in %d runs (%s)." % (len(splash_rows), HOLD_NOTE))
    print("Wine %s, Xvfb %s, %d processors, 1-minute load average %s before and %s after."
          % (subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, text=True).stdout.strip(), SCREEN,
             os.cpu_count(), load_before, load_after))
    if failures or splash_failures:
        print("runs left out: %s" % "; ".join((failures + splash_failures)[:8]))

    if analysis is not None:
        print()
        print("where kel.exe's start-up goes (one more interleaved set of %d rounds; medians, 25th-75th pct):"
              % args.rounds)
        base = analysis[0][1][1] if analysis[0][1] else None
        for label, q, n in analysis:
            if q is None:
                print("  %-44s not measured (%d runs)" % (label, n))
                continue
            extra = " %+.1f ms over the bare loader" % ms(q[1] - base) if base is not None and label != "bare loader" else ""
            print("  %-44s %7.1f ms  %5.1f-%5.1f%s" % (label, ms(q[1]), ms(q[0]), ms(q[2]), extra))

    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    if analysis_failure is not None:
        print("startup: the split of kel.exe's start-up was not measured: %s" % analysis_failure.splitlines()[0],
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Unmeasurable as reason:
        print("startup: not measured: %s" % reason, file=sys.stderr)
        sys.exit(1)
