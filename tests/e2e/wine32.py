"""Whether Wine runs this build's 32-bit programs here, found out by running one.

  wine32.py [BUILD]    exit 0: it does; 77 (CTest's skip code): it does not, and why

Debian's amd64 Wine runs 64-bit programs only unless wine32:i386 is
installed, which `make deps` tries but the archive does not always allow.
Without it a 32-bit program neither runs nor fails loudly: Wine ends it at
once with exit code 0 and prints nothing on standard output. So the verdict
comes from running the windows-x86 build's own spawn.exe in a new prefix: it
must announce itself and answer a call without arguments with its usage
error and exit code 2, as it does under a Wine that runs it.

BUILD defaults to $KEL_E2E_BUILD (build/windows-x86 in that build's tests).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

if len(sys.argv) > 1:
    os.environ["KEL_E2E_BUILD"] = sys.argv[1]
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelwine  # noqa: E402

SKIP = 77
# What make deps found when it tried to install wine32 (tools/deps.sh).
DEPS_NOTE = os.path.join(kelwine.SOURCE, "build", "deps", "wine32.txt")


def wine_errors(text, limit=2):
    """Wine's first error lines, without the thread numbers in front."""
    lines = [re.sub(r"^[0-9a-f]{4}:", "", line.strip()) for line in text.splitlines()]
    return [line for line in lines if line.startswith(("err:", "wine:"))][:limit]


def probe(spawn):
    """(True, what it answered) or (False, why not)."""
    prefix = tempfile.mkdtemp(prefix="wine32-probe-", dir=os.path.dirname(os.path.dirname(spawn)))
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINEPREFIX=prefix, WINEDEBUG=kelwine.WINEDEBUG, WINEDLLOVERRIDES="mscoree,mshtml=")
    try:
        subprocess.run(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        run = subprocess.run(["wine", spawn], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=120)
    except subprocess.TimeoutExpired as e:
        return False, f"{' '.join(e.cmd)} did not end within {e.timeout} s"
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)
    out = run.stdout.decode("utf-8", "replace").replace("\r", "")
    err = run.stderr.decode("utf-8", "replace")
    if kelwine.announced(out, kelwine.ANNOUNCEMENTS["spawn.exe"]) and "\nerror=usage" in out and run.returncode == 2:
        return True, "the i686 spawn.exe announced itself and answered with its usage error"
    said = f"printed {out.strip()[:120]!r}" if out.strip() else "printed nothing"
    why = f"the i686 spawn.exe ended with code {run.returncode} and {said}"
    errors = wine_errors(err)
    if errors:
        why += "; Wine: " + " / ".join(errors)
    return False, why


def main():
    spawn = os.path.join(kelwine.HELPERS, "spawn.exe")
    if not shutil.which("wine"):
        return SKIP, "Wine is not installed"
    if not os.path.exists(spawn):
        return SKIP, f"{spawn} is not built (cmake --build --preset windows-x86)"
    works, why = probe(spawn)
    if works:
        return 0, why
    if not os.path.exists("/usr/lib/wine/wine"):
        why += "; there is no 32-bit Wine loader (/usr/lib/wine/wine, from Debian's wine32:i386)"
    if os.path.exists(DEPS_NOTE):
        with open(DEPS_NOTE) as f:
            why += "; make deps: " + " ".join(f.read().split())
    return SKIP, why


if __name__ == "__main__":
    code, why = main()
    print(("32-bit Wine runs i686 programs: " if code == 0 else
           "SKIP: 32-bit Wine does not run i686 programs here, so the 32-bit Wine runs are skipped: ") + why,
          flush=True)
    sys.exit(code)
