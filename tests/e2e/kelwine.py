"""What every end-to-end scenario needs: the fixture's Wine prefix and
display, the built programs, runs of Windows programs with exact command
lines, the registry, and the sample engine's record.

Wine programs are run with their output going to files, never to pipes: a
Windows process that lives on (a window, a service) would otherwise keep a
pipe open and hang the reader."""
import json
import os
import shutil
import socket
import subprocess
import tempfile
import time

BUILD = os.environ.get("KEL_E2E_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build", "windows"))
BUILD = os.path.abspath(BUILD)
SOURCE = os.path.abspath(os.environ.get("KEL_E2E_SOURCE", os.path.join(os.path.dirname(__file__), "..", "..")))
E2E = os.path.join(BUILD, "e2e")
RUN_DIR = os.path.abspath(os.environ.get("KEL_E2E_RUN_DIR", os.path.join(E2E, "run")))
BIN = os.path.join(BUILD, "bin")
KEL_EXE = os.path.join(BIN, "kel.exe")
# The recording probe engine the scenarios run; the shipped sample engine beside kel.exe.
KEL_DLL = os.path.join(E2E, "probe", "Kel.dll")
SAMPLE_DLL = os.path.join(BIN, "Kel.dll")
HELPERS = os.path.join(E2E, "helpers")
APPS = os.path.join(E2E, "apps")
NOENTRY_DLL = os.path.join(E2E, "noentry", "Kel.dll")

# The build under test: x86_64 (the windows preset) or i686 (windows-x86).
ARCH = os.environ.get("KEL_E2E_ARCH", "x86_64")

# With wine32 installed, Debian's `wine` is the 32-bit loader: it hands
# 64-bit programs on to wine64 but runs Wine's own tools (reg, regedit,
# start) as 32-bit programs. A 32-bit program sees
# HKEY_LOCAL_MACHINE\Software through the 32-bit view (Wow6432Node); the
# classes under HKEY_CLASSES_ROOT are shared by both views. The registry
# tools must see what the launcher under test sees, so they run under the
# loader of its own width.
WINE64 = next((p for p in ("/usr/lib/wine/wine64", shutil.which("wine64")) if p and os.path.exists(p)), "wine")
WINE32 = "/usr/lib/wine/wine" if os.path.exists("/usr/lib/wine/wine") else "wine"
REGISTRY_LOADER = WINE64 if ARCH == "x86_64" else WINE32

ENGINE_VARIABLES = ("KEL_ENGINE_RECORD", "KEL_ENGINE_EXIT", "KEL_ENGINE_LIFETIME_MS", "KEL_ENGINE_SPLASH_MS")

# Wine's own errors stay on: -all alone would also hide why Wine failed to
# start a program (its loader reports that as err: lines, then exits).
WINEDEBUG = "-all,err+all"

# The wineserver's own output (protocol errors among it) goes here; see fixture.py.
WINE_LOG = os.path.join(RUN_DIR, "wine.log")

# Helpers that print this before anything else. A start that ends without
# it never reached the program: Wine itself failed to start it.
ANNOUNCEMENTS = {"spawn.exe": "spawn="}


def wine_env(state, extra=None):
    env = {k: v for k, v in os.environ.items() if k not in ENGINE_VARIABLES}
    env.update(WINEPREFIX=state["prefix"], DISPLAY=state["display"], WINEDEBUG=WINEDEBUG,
               WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("WAYLAND_DISPLAY", None)
    if extra:
        env.update(extra)
    return env


def announced(text, announcement):
    """Whether a line of text starts with announcement."""
    return text.startswith(announcement) or ("\n" + announcement) in text


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def log_size():
    try:
        return os.path.getsize(WINE_LOG)
    except OSError:
        return 0


def log_since(size):
    """What the wineserver wrote to its log after it had size bytes."""
    try:
        with open(WINE_LOG, "rb") as f:
            f.seek(size)
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def report_failed_start(what, result, server_log):
    """Says, in the test's output, that Wine did not start a program and why, as far as Wine told."""
    said = result.err.strip()[-2000:] or "nothing on stderr"
    server = server_log.strip()[-2000:] or "nothing"
    print(f"kelwine: Wine did not start {what}: exit code {result.code} after {result.seconds:.1f} s "
          f"without a word from the program; Wine said: {said}; the wineserver log gained: {server}. "
          "Starting it once more.", flush=True)


def winpath(path):
    """The Windows name Wine gives a Unix path: drive Z: is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Result:
    def __init__(self, code, out, err, seconds):
        self.code = code
        self.out = out
        self.err = err
        self.seconds = seconds

    @property
    def exit(self):
        """The exit code spawn.exe reported for the program it ran, if it did."""
        value = self.values().get("exit")
        return int(value) if value is not None else None

    def values(self):
        """The helper programs' "key=value" lines, first value of each key."""
        found = {}
        for line in self.out.splitlines():
            key, sep, value = line.partition("=")
            if sep and key not in found:
                found[key] = value
        return found

    def all(self, key):
        return [line.partition("=")[2] for line in self.out.splitlines() if line.partition("=")[0] == key]

    def __repr__(self):
        return f"Result(code={self.code}, {self.seconds:.1f} s, out={self.out!r}, err={self.err[-2000:]!r})"


class Running:
    """A Wine program started in the background."""

    def __init__(self, process, out, err, started):
        self.process = process
        self._out = out
        self._err = err
        self._started = started
        self._result = None

    def output_so_far(self):
        # pread leaves the file offset alone: the program writes through the same open file.
        return os.pread(self._out.fileno(), 1 << 16, 0).decode("utf-8", "replace")

    def reached(self, announcement, timeout=60):
        """Waits until the program announces itself (True) or ends without
        doing so (False). One still silently running after timeout counts as
        reached: it is not a failed start, and the caller's wait shows what it did."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if announced(self.output_so_far(), announcement):
                return True
            if self.process.poll() is not None:
                return announced(self.output_so_far(), announcement)
            time.sleep(0.01)
        return True

    def started_pid(self, timeout=20):
        """The process id spawn.exe reported for the program it started, as text; None if it did not in time."""
        return wait_for(lambda: Result(None, self.output_so_far(), "", 0).values().get("pid"), timeout=timeout)

    def wait(self, timeout=60):
        """The program's Result, once it has ended (killed after timeout); the same Result when asked again."""
        if self._result is not None:
            return self._result
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        self._out.seek(0)
        self._err.seek(0)
        out = self._out.read().decode("utf-8", "replace")
        err = self._err.read().decode("utf-8", "replace")
        self._out.close()
        self._err.close()
        self._result = Result(code, out, err, time.time() - self._started)
        return self._result


class Wine:
    def __init__(self):
        with open(os.path.join(RUN_DIR, "state.json")) as f:
            self.state = json.load(f)
        self.prefix = self.state["prefix"]
        self.display = self.state["display"]

    def env(self, extra=None):
        return wine_env(self.state, extra)

    def start(self, args, env=None, cwd=None, wine=True, loader="wine"):
        """Starts a program. A helper that announces itself is waited for
        until it has; when Wine fails to start it (it ends without a word),
        that is said in the test's output and it is started once more. A
        start that reached the program is never repeated."""
        program = os.path.basename(str(args[0])).lower()
        announcement = ANNOUNCEMENTS.get(program) if wine else None
        size = log_size()
        running = self._start(args, env, cwd, wine, loader)
        if announcement is None or running.reached(announcement):
            return running
        report_failed_start(program, running.wait(5), log_since(size))
        return self._start(args, env, cwd, wine, loader)

    def _start(self, args, env, cwd, wine, loader):
        out = tempfile.TemporaryFile()
        err = tempfile.TemporaryFile()
        command = ([loader] + list(args)) if wine else list(args)
        process = subprocess.Popen(command, env=self.env(env), cwd=cwd or RUN_DIR, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err)
        return Running(process, out, err, time.time())

    def run(self, args, env=None, cwd=None, timeout=60, wine=True, loader="wine"):
        return self.start(args, env=env, cwd=cwd, wine=wine, loader=loader).wait(timeout)

    # ------------------------------------------------------------ programs

    def spawn_start(self, application, command_line, env=None, cwd=None, show=None, timeout_ms=30000, desktop=None):
        """Starts application with exactly command_line through spawn.exe."""
        args = [os.path.join(HELPERS, "spawn.exe"), "--timeout", str(timeout_ms)]
        if desktop is not None:
            args += ["--desktop", desktop]
        if show is not None:
            args += ["--show", str(show)]
        if cwd is not None:
            args += ["--cwd", winpath(cwd)]
        args += [winpath(application) if application != "-" else "-", command_line.encode("utf-8").hex()]
        return self.start(args, env=env, cwd=cwd)

    def spawn(self, application, command_line, env=None, cwd=None, show=None, timeout_ms=30000, desktop=None):
        return self.spawn_start(application, command_line, env, cwd, show, timeout_ms,
                                desktop).wait(timeout_ms / 1000 + 30)

    def launch(self, exe, user_line, env=None, cwd=None, show=None, timeout_ms=30000):
        """Runs a launcher so that user_line is exactly what it takes as the user's
        command line: the program's path in quotes, one space, then the line."""
        command_line = f'"{winpath(exe)}"' + (" " + user_line if user_line else "")
        return self.spawn(exe, command_line, env=env, cwd=cwd or os.path.dirname(exe), show=show,
                          timeout_ms=timeout_ms)

    def findwin(self, *args, timeout=60):
        return self.run([os.path.join(HELPERS, "findwin.exe")] + list(args), timeout=timeout)

    # ------------------------------------------------------------ registry

    def regedit_import(self, text):
        """Applies a .reg file's text with regedit /S."""
        with tempfile.NamedTemporaryFile("w", suffix=".reg", dir=RUN_DIR, delete=False, encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n" + text.replace("\n", "\r\n") + "\r\n")
            name = f.name
        try:
            result = self.run(["regedit", "/S", winpath(name)], loader=REGISTRY_LOADER)
            if result.code != 0:
                raise AssertionError(f"regedit /S failed: {result}")
        finally:
            os.remove(name)

    def reg_query(self, key, value=None):
        """One value as (type, data) from `wine reg query`; None when it is absent.
        value None asks for the default value."""
        args = ["reg", "query", key] + (["/v", value] if value is not None else ["/ve"])
        result = self.run(args, loader=REGISTRY_LOADER)
        if result.code != 0:
            return None
        name = "(Default)" if value is None else value
        for line in result.out.splitlines():
            parts = line.strip().split("    ")
            if len(parts) >= 2 and parts[0].lower() == name.lower():
                kind = parts[1]
                data = "    ".join(parts[2:]) if len(parts) > 2 else ""
                return kind, data
        return None

    def reg_key_exists(self, key):
        return self.run(["reg", "query", key], loader=REGISTRY_LOADER).code == 0

    def reg_export(self, key):
        """A key exported with regedit /E, as text."""
        path = os.path.join(RUN_DIR, "export.reg")
        if os.path.exists(path):
            os.remove(path)
        result = self.run(["regedit", "/E", winpath(path), key], loader=REGISTRY_LOADER)
        if result.code != 0 or not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            raw = f.read()
        os.remove(path)
        return raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode("latin-1")


def forget_file_type(wine):
    """Removes what a registration writes, so that a scenario starts from nothing."""
    wine.regedit_import("[-HKEY_CLASSES_ROOT\\KelFile10]\n\n[-HKEY_CLASSES_ROOT\\.kel]\n")


def work_dir(*names):
    """A fresh, empty folder for one case."""
    path = os.path.join(RUN_DIR, "work", *names)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def place(source, folder, name=None):
    """Copies a built file into a case's folder, under name if given."""
    target = os.path.join(folder, name or os.path.basename(source))
    shutil.copyfile(source, target)
    return target


class Record:
    """The sample engine's record: "key=value" lines in the order they happened."""

    def __init__(self, path):
        self.path = path
        self.lines = []
        if os.path.exists(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                for line in f.read().splitlines():
                    key, _, value = line.partition("=")
                    self.lines.append((key, value))

    @property
    def exists(self):
        return os.path.exists(self.path)

    def get(self, key, default=None):
        for k, v in self.lines:
            if k == key:
                return v
        return default

    def all(self, key):
        return [v for k, v in self.lines if k == key]

    def keys(self):
        return [k for k, _ in self.lines]

    @property
    def command_line(self):
        """The command line the engine received, decoded from its 16-bit units."""
        units = self.get("command_line")
        if units is None:
            return None
        return bytes.fromhex(units).decode("utf-16-be", "surrogatepass")

    def runs(self):
        """How many times an engine was entered and wrote to this record."""
        return len(self.all("pid"))


def wait_for(predicate, timeout=10.0, interval=0.1):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


def expect_message_box(test, wine, exe, text, caption, cwd=None):
    """Starts exe with app.Main (in its own folder, or cwd) and checks that it
    shows one message box of style 0 with the given text and caption, ends
    with exit code 0 once OK is pressed, and enters no engine."""
    folder = os.path.dirname(exe)
    record = os.path.join(folder, "record.txt")
    running = wine.spawn_start(exe, f'"{winpath(exe)}" app.Main', env=engine_env(record), cwd=cwd or folder)
    box = wine.findwin("--class", "#32770", "--timeout", "20000", "--press", "1", "--gone", "5000")
    result = running.wait(60)
    found = box.values()
    test.assertEqual(found.get("found"), "1", f"no message box appeared: {box} {result}")
    test.assertEqual(found.get("pid"), result.values().get("pid"), "the box belongs to another process")
    test.assertEqual(found.get("title"), caption)
    children = [c.split("|", 3) for c in box.all("child")]
    shown_texts = [shown for cls, _, visible, shown in children if cls == "Static" and visible == "1" and shown]
    test.assertEqual(shown_texts, [text])
    buttons = [shown for cls, _, visible, shown in children if cls == "Button" and visible == "1"]
    test.assertEqual(buttons, ["OK"], "style 0 offers a single OK button")
    test.assertEqual(found.get("gone"), "1", "OK did not dismiss the box")
    test.assertEqual(result.values().get("exit"), "0", result)
    test.assertFalse(os.path.exists(record), "an engine was entered")


def wait_entered(record_path, timeout=20):
    """The engine's record once the engine has written all it records on
    entry; None if it was not entered in time. Waiting for the first line
    alone would read a record that is still being written."""
    if not wait_for(lambda: Record(record_path).get("entry_recorded"), timeout=timeout):
        return None
    return Record(record_path)


def engine_env(record_path, exit_code=None, lifetime_ms=0, splash_ms=None):
    env = {"KEL_ENGINE_RECORD": record_path, "KEL_ENGINE_LIFETIME_MS": str(lifetime_ms)}
    if exit_code is not None:
        env["KEL_ENGINE_EXIT"] = str(exit_code)
    if splash_ms is not None:
        env["KEL_ENGINE_SPLASH_MS"] = str(splash_ms)
    return env


# ---------------------------------------------------------------- running instances and the relay

ENGINE_SUBKEY = r"Software\Norvane\KelVM"
ENGINE_KEY = "HKEY_LOCAL_MACHINE\\" + ENGINE_SUBKEY


def set_server_port(wine, value, kind="dword"):
    """Writes "ServerPort" as a .reg file would: kind "dword" with a number, or
    "hex" with the value's raw bytes."""
    if kind == "dword":
        data = f"dword:{value:08x}"
    else:
        data = "hex:" + ",".join(f"{b:02x}" for b in value)
    wine.regedit_import(f"[{ENGINE_KEY}]\n\"ServerPort\"={data}\n")


def forget_engine_key(wine):
    wine.regedit_import(f"[-{ENGINE_KEY}]\n")


class Recorder:
    """winrec.exe standing in for running applications, one window of each class."""

    def __init__(self, wine, classes, folder, lifetime_ms=120000):
        self.classes = list(classes)
        self.path = os.path.join(folder, "winrec.txt")
        if os.path.exists(self.path):
            os.remove(self.path)
        self.running = wine.start([os.path.join(HELPERS, "winrec.exe"), winpath(self.path), str(lifetime_ms)]
                                  + self.classes)
        if not wait_for(lambda: "ready=1" in self.lines(), timeout=20):
            raise AssertionError(f"winrec did not open its windows: {self.running.wait(5)}")

    def lines(self):
        try:
            with open(self.path, encoding="utf-8") as f:
                return f.read().splitlines()
        except OSError:
            return []

    def messages(self):
        """Each message received: "CLASS MESSAGE wparam=W lparam=L foreground=F"."""
        return [line.partition("=")[2] for line in self.lines() if line.startswith("message=")]

    def close(self, wine):
        """Closes the windows and waits for winrec to end."""
        wine.findwin("--class", self.classes[0], "--timeout", "2000", "--close")
        return self.running.wait(15)


def read_until_closed(client, timeout, marker):
    """Everything a peer sends until it closes; marker is appended when it stays open past timeout."""
    client.settimeout(timeout)
    data = b""
    try:
        while True:
            chunk = client.recv(4096)
            if not chunk:
                break
            data += chunk
    except socket.timeout:
        data += marker
    return data


class Listener:
    """A TCP listener on 127.0.0.1 that keeps what each connection sent."""

    def __init__(self):
        import threading
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(8)
        self.server.settimeout(0.2)
        self.port = self.server.getsockname()[1]
        self.connections = []
        self._stop = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._stop:
            try:
                client, _ = self.server.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            data = read_until_closed(client, 10, b"<still open after 10 s>")
            client.close()
            self.connections.append(data)

    def close(self):
        self._stop = True
        self._thread.join(5)
        self.server.close()
        return self.connections


def refusing_port():
    """A loopback socket bound without listening: a connection to its port is
    refused, and no other program can take the port while it stays open."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    return s


def closed_port():
    """A loopback port that nothing listens on (it was bound and let go)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


# ---------------------------------------------------------------- screens of a given size

class VirtualDesktop:
    """A Wine virtual desktop of a given screen size, kept up by a hidden
    window for as long as it is needed. Programs are started on it with
    spawn.exe --desktop, and found on it with findwin.exe --desktop."""

    def __init__(self, wine, name, width, height):
        self.wine = wine
        self.name = name
        self.width = width
        self.height = height
        folder = work_dir("desktops", name)
        ready = os.path.join(folder, "ready.txt")
        self.keeper = f"KelKeep_{name}"
        self.running = wine.start(["explorer", f"/desktop={name},{width}x{height}",
                                   os.path.join(HELPERS, "winrec.exe"), winpath(ready), str(600000), "--hidden",
                                   self.keeper], cwd=folder)
        if not wait_for(lambda: os.path.exists(ready), timeout=60):
            raise AssertionError(f"virtual desktop {name} did not come up: {self.running.wait(5)}")

    def findwin(self, *args, timeout=60):
        return self.wine.findwin("--desktop", self.name, *args, timeout=timeout)

    def spawn_start(self, application, command_line, env=None, cwd=None, timeout_ms=30000):
        """Starts application on this desktop with exactly command_line.

        spawn.exe runs under explorer /desktop so that every thread of the
        program lands on this desktop (spawn.exe --desktop would put only its
        first thread here), and reports through a file."""
        folder = cwd or os.path.dirname(application)
        # One report per start: several programs may run on the desktop at once.
        report = tempfile.NamedTemporaryFile(prefix="spawn-", suffix=".txt", dir=folder, delete=False).name
        os.remove(report)
        args = ["explorer", f"/desktop={self.name}", os.path.join(HELPERS, "spawn.exe"), "--timeout",
                str(timeout_ms), "--out", winpath(report), "--cwd", winpath(folder), winpath(application),
                command_line.encode("utf-8").hex()]
        size = log_size()
        run = DesktopRun(self.wine.start(args, env=env, cwd=folder), report)
        if run.reached():
            return run
        report_failed_start("spawn.exe under explorer", run.ended, log_since(size))
        return DesktopRun(self.wine.start(args, env=env, cwd=folder), report)

    def origin(self):
        """Where the desktop's X window lies on the X screen."""
        tree = subprocess.run(["xwininfo", "-display", self.wine.display, "-root", "-tree"],
                              capture_output=True, text=True).stdout
        for line in tree.splitlines():
            if f'"{self.name} - Wine desktop"' in line:
                geometry = line.split(")")[-1].split()[0]   # WxH+X+Y
                _, x, y = geometry.replace("+", " ").replace("-", " -").split()[:3]
                return int(x), int(y)
        raise AssertionError(f"no X window for the desktop {self.name}")

    def close(self):
        self.findwin("--class", self.keeper, "--hidden", "--close", "--timeout", "2000")
        return self.running.wait(30)


class DesktopRun:
    """A program started on a virtual desktop; its spawn.exe reports to a file."""

    def __init__(self, running, report):
        self.running = running
        self.report = report
        self.ended = None   # explorer's Result, once reached() has seen it end

    def reached(self, timeout=60, grace=5):
        """Whether spawn.exe announced itself in its report. explorer may end
        as soon as it has started it, or linger; only an explorer that ended
        with no announcement even a few seconds later counts as a failed start."""
        announcement = ANNOUNCEMENTS["spawn.exe"]
        deadline = time.time() + timeout
        while time.time() < deadline:
            if announced(read_text(self.report), announcement):
                return True
            if self.running.process.poll() is not None:
                self.ended = self.running.wait(5)
                return bool(wait_for(lambda: announced(read_text(self.report), announcement), timeout=grace))
            time.sleep(0.02)
        return True

    def wait(self, timeout=60):
        def finished():
            try:
                with open(self.report) as f:
                    text = f.read()
            except OSError:
                return None
            return text if ("exit=" in text or "timeout=" in text or "create_error=" in text) else None
        text = wait_for(finished, timeout=timeout, interval=0.1) or ""
        # explorer itself may linger; what it started has ended.
        if self.running.process.poll() is None:
            self.running.process.kill()
        self.running.wait(5)
        return Result(0 if text else None, text, "", 0.0)


class Picture:
    """A picture file read back pixel by pixel, as ImageMagick decodes it."""

    def __init__(self, path):
        size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True, check=True)
        self.width, self.height = (int(n) for n in size.stdout.split())
        self.pixels = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
        if len(self.pixels) != self.width * self.height * 3:
            raise AssertionError(f"{path}: {len(self.pixels)} bytes of pixels for {self.width}x{self.height}")
        self.path = path

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])


class Screenshot:
    """The X screen as a person sees it, read back pixel by pixel."""

    def __init__(self, display, png_path):
        ppm = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "ppm:-"],
                             capture_output=True, check=True).stdout
        # P6 header: magic, width, height, maximum value, one whitespace byte.
        fields = []
        position = 0
        while len(fields) < 4:
            while ppm[position:position + 1].isspace():
                position += 1
            end = position
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[position:end])
            position = end
        self.width, self.height = int(fields[1]), int(fields[2])
        if fields[3] != b"255":
            raise AssertionError(f"screenshot has {fields[3]!r} levels per channel, not 8 bits")
        self.pixels = ppm[position + 1:]
        subprocess.run(["convert", "ppm:-", png_path], input=ppm, check=True)
        self.path = png_path

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def mismatches(self, left, top, width, height, colour, limit=10):
        """Pixels of the rectangle that differ from colour(x, y), with x, y
        relative to the rectangle; at most limit of them are listed."""
        wrong = []
        count = 0
        for y in range(height):
            for x in range(width):
                sx, sy = left + x, top + y
                if not (0 <= sx < self.width and 0 <= sy < self.height):
                    continue
                seen = self.pixel(sx, sy)
                want = tuple(colour(x, y))
                if seen != want:
                    count += 1
                    if len(wrong) < limit:
                        wrong.append(((x, y), seen, want))
        return count, wrong
