"""The e2e_wine fixture: one private Wine prefix and one Xvfb display for a
whole CTest run.

  fixture.py setup     start Xvfb, create the prefix, keep its wineserver up
  fixture.py cleanup   stop the wineserver and Xvfb, remove the prefix

Everything lives under <build>/e2e/run; state.json there tells the scenarios
which prefix and display to use (kelwine.py reads it). Background processes
get log files, never CTest's pipes, or CTest would wait for them."""
import json
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelwine  # noqa: E402

SCREEN = "480x640x24"


def log(message):
    print(message, flush=True)


def start_xvfb(run_dir):
    """Starts Xvfb on a free display number, which Xvfb picks and reports itself."""
    read_end, write_end = os.pipe()
    with open(os.path.join(run_dir, "xvfb.log"), "wb") as xlog:
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp", "-noreset"],
            stdin=subprocess.DEVNULL, stdout=xlog, stderr=xlog, pass_fds=(write_end,), start_new_session=True)
    os.close(write_end)
    number = b""
    deadline = time.time() + 20
    while not number.endswith(b"\n") and time.time() < deadline:
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip():
        xvfb.kill()
        raise SystemExit("Xvfb did not report a display number; see xvfb.log")
    return xvfb.pid, ":" + number.decode().strip()


def stop_previous(run_dir):
    """A run that was interrupted may have left its display and wineserver behind."""
    try:
        with open(os.path.join(run_dir, "state.json")) as f:
            state = json.load(f)
    except (OSError, ValueError):
        return
    stop(state)


def stop(state):
    env = dict(os.environ, WINEPREFIX=state["prefix"], WINEDEBUG="-all")
    if os.path.isdir(state["prefix"]):
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    pid = state.get("xvfb_pid")
    if pid:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass


def setup():
    run_dir = kelwine.RUN_DIR
    os.makedirs(run_dir, exist_ok=True)
    stop_previous(run_dir)
    for leftover in ("prefix", "work"):
        shutil.rmtree(os.path.join(run_dir, leftover), ignore_errors=True)
    os.makedirs(os.path.join(run_dir, "work"))

    started = time.time()
    xvfb_pid, display = start_xvfb(run_dir)
    prefix = os.path.join(run_dir, "prefix")
    state = {"prefix": prefix, "display": display, "xvfb_pid": xvfb_pid, "screen": SCREEN}
    with open(os.path.join(run_dir, "state.json"), "w") as f:
        json.dump(state, f)
    log(f"Xvfb on display {display} ({SCREEN}), pid {xvfb_pid}")

    env = kelwine.wine_env(state)
    os.makedirs(prefix)
    with open(os.path.join(run_dir, "wine.log"), "ab") as wlog:
        # A persistent server keeps every later wine start quick.
        subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL, stdout=wlog, stderr=wlog,
                       start_new_session=True, check=True)
        subprocess.run(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, stdout=wlog, stderr=wlog,
                       start_new_session=True, check=True, timeout=240)
        # A crashing program must end, not wait for someone to close a crash dialog.
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
                        "/t", "REG_DWORD", "/d", "0", "/f"], env=env, stdin=subprocess.DEVNULL,
                       stdout=wlog, stderr=wlog, check=True, timeout=60)
        # Wine ends its desktop process soon after the last program with a
        # window ends, and the next window then waits ~10 s for a new one: a
        # hidden window open for the whole run keeps the desktop up.
        warm = time.time()
        ready = os.path.join(run_dir, "keepalive.txt")
        keeper = subprocess.Popen(["wine", os.path.join(kelwine.HELPERS, "winrec.exe"), kelwine.winpath(ready),
                                   str(4 * 3600 * 1000), "--hidden", "KelE2eKeepAlive"],
                                  env=env, stdin=subprocess.DEVNULL, stdout=wlog, stderr=wlog, start_new_session=True)
        if not kelwine.wait_for(lambda: os.path.exists(ready) or keeper.poll() is not None, timeout=120):
            raise SystemExit("the keep-alive window did not open in 120 s; see wine.log")
        if not os.path.exists(ready):
            why = f"the keep-alive winrec.exe ended with code {keeper.returncode} before opening its window; see wine.log"
            if kelwine.ARCH != "x86_64":
                why += ". Does Wine run 32-bit programs here? tests/e2e/wine32.py tells (make test asks it first)"
            raise SystemExit(why)
    log(f"desktop up after {time.time() - warm:.1f} s")
    log(f"Wine prefix {prefix} ready in {time.time() - started:.1f} s")


def cleanup():
    run_dir = kelwine.RUN_DIR
    try:
        with open(os.path.join(run_dir, "state.json")) as f:
            state = json.load(f)
    except (OSError, ValueError):
        log("no fixture state: nothing to stop")
        return
    stop(state)
    shutil.rmtree(state["prefix"], ignore_errors=True)
    os.remove(os.path.join(run_dir, "state.json"))
    log("wineserver and Xvfb stopped, prefix removed")


if __name__ == "__main__":
    {"setup": setup, "cleanup": cleanup}[sys.argv[1]]()
