#!/usr/bin/env python3
"""Makes installation cabinets from the real device launcher and checks them
with readers that are not kelpack's own.

The device's kel.exe (build/wince-arm) is packed, then `kelpack cab` makes a
cabinet of it for each case. Debian's cabextract tests (-t) and lists (-l)
every cabinet, cab_reader.py reads the installation data inside, and what it
gives back is checked against what was asked: the folders, the files and
their bytes, the registry rows and the shortcuts. The registry rows, with
the install folder put in as the device does, must be the launcher's own
for the path it is installed at, as `kelpack explain --installed-as` gives
them. Then the refusals, each with its message and exit code, and what
`kelpack show` says of a cabinet.

Usage: cab_roundtrip.py KELPACK SOURCE_DIR WORKDIR
Exit: 0 pass, 1 fail, 77 skipped (no device build, or no cabextract).
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys

KELPACK, SOURCE, WORK = (os.path.abspath(a) for a in sys.argv[1:4])
READER = os.path.join(SOURCE, "tests", "kelpack", "cab_reader.py")
DEVICE = os.path.join(SOURCE, "build", "wince-arm", "bin")
DESKTOP = os.path.join(SOURCE, "build", "windows", "bin", "kel.exe")
fails = []


def check(condition, what):
    if not condition:
        fails.append(what)
        print("FAIL:", what)


def kelpack(*args):
    return subprocess.run([KELPACK, *args], capture_output=True, text=True, cwd=WORK)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def launcher_rows(copy, installed_as):
    """The rows the launcher writes at `installed_as`, as kelpack explain gives them."""
    r = kelpack("explain", copy, "--installed-as", installed_as, "--json")
    check(r.returncode == 0, f"explain --installed-as {installed_as}: {r.stderr}")
    return [(row["key"], row["value"]) for row in json.loads(r.stdout)["registration_rows"]]


def read_cab(cab):
    for flag in ("-t", "-l"):
        r = subprocess.run(["cabextract", flag, cab], capture_output=True, text=True)
        check(r.returncode == 0 and "All done, no errors." in r.stdout, f"cabextract {flag} {cab}: {r.stdout}{r.stderr}")
    r = subprocess.run([sys.executable, READER, cab], capture_output=True, text=True)
    check(r.returncode == 0, f"cab_reader {cab}: {r.stderr}")
    return json.loads(r.stdout) if r.returncode == 0 else None


def expect_cab(case, got):
    name, engine = case["name"], case.get("engine")
    folder = case.get("folder", "%CE1%\\" + name)
    copy, installed = case.get("copy", os.path.join(WORK, "Game.exe")), case.get("installed", "Game.exe")
    check(got["app_name"] == name and got["provider"] == case["provider"],
          f"{case['cab']}: names {got['app_name']!r} {got['provider']!r}")
    check(got["processor"] == 2577 and got["min_version"] == [4, 20] and got["max_version"] == [0, 0],
          f"{case['cab']}: processor {got['processor']}, versions {got['min_version']} {got['max_version']}")
    files = [{"path": folder + "\\" + installed, "sha256": sha256(copy), "flags": 0}]
    if engine:
        files.append({"path": "%CE2%\\Kel.dll", "sha256": sha256(engine), "flags": 0x80000000 | 0x20000000})
    check([{k: f[k] for k in ("path", "sha256", "flags")} for f in got["files"]] == files,
          f"{case['cab']}: files {got['files']}")
    shortcuts = []
    if case["shortcut"]:
        shortcuts = [{"folder": case["shortcut"], "name": name + ".lnk", "target": folder + "\\" + installed}]
    check(got["shortcuts"] == shortcuts, f"{case['cab']}: shortcuts {got['shortcuts']}")
    if not case.get("register"):
        check(got["registry"] == [], f"{case['cab']}: registry {got['registry']}")
        return
    # The device puts \Windows in for %CE2%: the rows are then the ones the
    # runtime's launcher writes itself there.
    rows = [(r["key"], r["value"].replace("%CE2%", "\\Windows")) for r in got["registry"]]
    want = launcher_rows(copy, "\\Windows\\" + installed)
    check(rows == want, f"{case['cab']}: rows {rows} != the launcher's {want}")
    check(all(r["root"] == "HKEY_CLASSES_ROOT" and r["name"] == "" and r["type"] == 0 for r in got["registry"]),
          f"{case['cab']}: registry {got['registry']}")
    check([r["substitute"] for r in got["registry"]] == ["%CE2%" in r["value"] for r in got["registry"]],
          f"{case['cab']}: substitution flags {got['registry']}")


def expect_show(cab, got):
    """kelpack show --json says what the independent reader found."""
    r = kelpack("show", "--json", cab)
    check(r.returncode == 0, f"show {cab}: {r.stderr}")
    if r.returncode != 0:
        return
    shown = json.loads(r.stdout)
    for field in ("app_name", "provider", "processor", "min_version", "max_version", "builds", "unsupported"):
        check(shown[field] == got[field], f"show {cab}: {field} {shown[field]!r}, the reader says {got[field]!r}")
    check([(f["destination"], f["flags"]) for f in shown["files"]] == [(f["path"], f["flags"]) for f in reversed(got["files"])],
          f"show {cab}: files {shown['files']}")
    check([(v["key"], v["value"]) for v in shown["registry"]] ==
          [(v["root"] + "\\" + v["key"], '"' + v["value"] + '"') for v in got["registry"]], f"show {cab}: registry {shown['registry']}")
    check(shown["shortcuts"] == [{k: s[k] for k in ("folder", "name", "target")} for s in got["shortcuts"]],
          f"show {cab}: shortcuts {shown['shortcuts']}")
    programs = shown["programs"]
    check(len(programs) == 1 and programs[0]["show"]["command_line"] == "game.Main"
          and programs[0]["destination"] == got["files"][0]["path"], f"show {cab}: programs {programs}")


def main():
    kel, dll = os.path.join(DEVICE, "kel.exe"), os.path.join(DEVICE, "Kel.dll")
    if not (os.path.isfile(kel) and os.path.isfile(dll)):
        print(f"SKIP: {kel} and Kel.dll not built (make device)")
        return 77
    if shutil.which("cabextract") is None:
        print("SKIP: cabextract is not installed (make deps installs it)")
        return 77
    os.makedirs(WORK, exist_ok=True)
    with open(os.path.join(WORK, "game.kel"), "wb") as f:
        f.write(b"KEL\0 sample package")
    r = kelpack("pack", kel, "-o", "Game.exe", "--app", "game.kel", "--command-line", "game.Main", "--title", "Space Race")
    check(r.returncode == 0, f"pack: {r.stderr}")

    cases = [
        {"cab": "plain.cab", "args": [], "name": "Space Race", "provider": "Game", "shortcut": "%CE11%"},
        {"cab": "full.cab", "args": ["--name", "Race", "--provider", "Example Software", "--shortcut", "games",
                                     "--engine", dll, "--compress"],
         "name": "Race", "provider": "Example Software", "shortcut": "%CE14%", "engine": dll},
        {"cab": "bare.cab", "args": ["--shortcut", "none"], "name": "Space Race", "provider": "Game", "shortcut": None},
        # The runtime: the device's kel.exe as built, beside the engine, owning .kel.
        {"cab": "runtime.cab", "args": ["--runtime", "--engine", dll, "--compress"], "copy": kel, "installed": "Kel.exe",
         "folder": "%CE2%", "name": "Kel Runtime", "provider": "Norvane", "shortcut": None, "engine": dll, "register": True},
    ]
    for case in cases:
        r = kelpack("cab", case.get("copy", "Game.exe"), "-o", case["cab"], *case["args"])
        check(r.returncode == 0, f"cab {case['args']}: {r.stderr}")
        got = read_cab(os.path.join(WORK, case["cab"])) if r.returncode == 0 else None
        if got:
            expect_cab(case, got)
            if "copy" not in case:
                expect_show(case["cab"], got)

    # The refusals, each with its reason and exit code; no output is left.
    with open(dll, "rb") as f:
        renamed = f.read().replace(b"KelMainW\0", b"KelMainX\0")
    with open(os.path.join(WORK, "NoEntry.dll"), "wb") as f:
        f.write(renamed)
    refusals = [
        (["Game.exe", "-o", "Game.exe"], 1, "are the same file; kelpack never changes its input"),
        ([dll, "-o", "x.cab"], 4, "not a launcher copy for the device: it is a DLL, not a program"),
        (["Game.exe", "-o", "x.cab", "--engine", "NoEntry.dll"], 4, "it does not export KelMainW"),
    ]
    if os.path.isfile(DESKTOP):
        r = kelpack("pack", DESKTOP, "-o", "Desk.exe", "--title", "Desk")
        check(r.returncode == 0, f"pack {DESKTOP}: {r.stderr}")
        refusals.append((["Desk.exe", "-o", "x.cab"], 4, "it is built for x64 (PE32+), not for the ARM processor"))
    else:
        print(f"note: {DESKTOP} not built; the desktop copy's refusal is left to the unit tests")
    for args, code, message in refusals:
        r = kelpack("cab", *args)
        print(f"kelpack cab {' '.join(args)} -> exit {r.returncode}: {r.stderr.strip()}")
        check(r.returncode == code and message in r.stderr, f"cab {args}: exit {r.returncode}, {r.stderr}")
        check(not os.path.exists(os.path.join(WORK, "x.cab")), f"cab {args} left x.cab")

    print(f"{len(cases)} cabinets, {len(refusals)} refusals checked; {len(fails)} failures")
    return 1 if fails else 0


if __name__ == "__main__":
    sys.exit(main())
