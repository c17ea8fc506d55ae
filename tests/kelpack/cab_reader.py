#!/usr/bin/env python3
"""Reads a CE installation cabinet without kelpack, for the tests.

Debian's cabextract unpacks and lists the container; the installation data
(the member ending in .000) is parsed here from the format's description:
a 100-byte header, then APPNAME, PROVIDER, UNSUPPORTED, STRINGS, DIRS, FILES,
REGHIVES, REGKEYS and LINKS at the offsets it gives. Prints one JSON object:
the members in cabinet order, the names, versions and processor, each file
with its folder and installed path, each registry value, each shortcut.

Usage: cab_reader.py CAB
Exit: 0 read; 1 the cabinet breaks a rule of the format (said on stderr);
77 cabextract is missing.
"""
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

ROOTS = {1: "HKEY_CLASSES_ROOT", 2: "HKEY_CURRENT_USER", 3: "HKEY_LOCAL_MACHINE", 4: "HKEY_USERS"}


class Broken(Exception):
    pass


def need(condition, why):
    if not condition:
        raise Broken(why)


def members(cab):
    """Names and sizes as cabextract lists them, in the cabinet's order."""
    out = subprocess.run(["cabextract", "-l", cab], capture_output=True, text=True)
    need(out.returncode == 0, f"cabextract -l failed: {out.stderr.strip()}")
    found = []
    for line in out.stdout.splitlines():
        m = re.match(r"^\s*(\d+) \| [0-9.]+ [0-9:]+ \| (.+)$", line)
        if m:
            found.append({"name": m.group(2), "size": int(m.group(1))})
    return found


def text_at(data, offset, length, what):
    need(offset + length <= len(data), f"{what} runs past the end of the .000")
    raw = data[offset:offset + length]
    need(length == 0 or raw.endswith(b"\0"), f"{what} does not end in NUL")
    return raw.split(b"\0")[0].decode("latin-1")


def sections(data):
    """Each section's entries as (head fields, body bytes)."""
    counts = struct.unpack_from("<6H", data, 48)
    offsets = struct.unpack_from("<6I", data, 60)
    heads = ["<H", "<H", "<HHHI", "<HHH", "<HHHI", "<HHHHH"]  # before each entry's 16-bit length
    out = []
    for count, at, head in zip(counts, offsets, heads):
        entries = []
        for _ in range(count):
            fields = struct.unpack_from(head, data, at)
            at += struct.calcsize(head)
            (length,) = struct.unpack_from("<H", data, at)
            at += 2
            need(at + length <= len(data), "a section entry runs past the end of the .000")
            entries.append((fields, data[at:at + length]))
            at += length
        out.append(entries)
    return out


def ids(body):
    """String ids up to their 0."""
    values = struct.unpack_from(f"<{len(body) // 2}H", body)
    need(0 in values, "a list of string ids does not end in 0")
    return values[:values.index(0)]


def parse_install(data):
    need(data[:4] == b"MSCE", "the .000 does not start with MSCE")
    (length,) = struct.unpack_from("<I", data, 8)
    need(length == len(data), f"the .000 says it is {length} bytes, it has {len(data)}")
    processor, minmaj, minmin, maxmaj, maxmin, minbuild, maxbuild = struct.unpack_from("<7I", data, 20)
    app_at, app_len, prov_at, prov_len, uns_at, uns_len = struct.unpack_from("<6H", data, 84)
    strings_s, dirs_s, files_s, hives_s, keys_s, links_s = sections(data)
    strings = {}
    for (sid,), body in strings_s:
        need(sid not in strings, f"string {sid} given twice")
        strings[sid] = body.split(b"\0")[0].decode("latin-1")

    def path(body):
        pieces = []
        for i in ids(body):
            need(i in strings, f"string {i} is not in STRINGS")
            pieces.append(strings[i])
        return "\\".join(pieces)

    dirs = {did: path(body) for (did,), body in dirs_s}
    files = []
    for (fid, did, fid2, flags), body in files_s:
        need(fid == fid2, f"file {fid} gives a second id {fid2}")
        need(did in dirs, f"file {fid} names directory {did}, not in DIRS")
        name = body.split(b"\0")[0].decode("latin-1")
        files.append({"id": fid, "dir": dirs[did], "name": name, "path": dirs[did] + "\\" + name, "flags": flags})
    hives = {}
    for (hid, root, zero), body in hives_s:
        need(root in ROOTS, f"registry key {hid} has root {root}")
        hives[hid] = (ROOTS[root], path(body))
    registry = []
    for (vid, hid, substitute, kind), body in keys_s:
        need(hid in hives, f"registry value {vid} names key {hid}, not in REGHIVES")
        name, _, value = body.partition(b"\0")
        entry = {"root": hives[hid][0], "key": hives[hid][1], "name": name.decode("latin-1"),
                 "type": kind, "substitute": bool(substitute)}
        if kind & ~2 == 0:  # a string, with its NUL
            need(value.endswith(b"\0"), f"registry value {vid}: a string without its NUL")
            entry["value"] = value[:-1].decode("latin-1")
        elif kind & ~2 == 0x10001:
            entry["value"] = struct.unpack("<I", value)[0]
        else:
            entry["value"] = value.hex()
        registry.append(entry)
    by_id = {f["id"]: f["path"] for f in files}
    shortcuts = []
    for (lid, zero, base, target, kind), body in links_s:
        folder = "%InstallDir%" if base == 0 else f"%CE{base}%"
        if kind == 1:
            need(target in by_id, f"shortcut {lid} points at file {target}, not in FILES")
            goes_to = by_id[target]
        else:
            need(target in dirs, f"shortcut {lid} points at directory {target}, not in DIRS")
            goes_to = dirs[target]
        shortcuts.append({"folder": folder, "name": path(body), "target": goes_to})
    unsupported = []
    if uns_len:
        unsupported = [n.decode("latin-1") for n in data[uns_at:uns_at + uns_len].split(b"\0") if n]
    return {
        "app_name": text_at(data, app_at, app_len, "APPNAME"),
        "provider": text_at(data, prov_at, prov_len, "PROVIDER"),
        "processor": processor,
        "min_version": [minmaj, minmin], "max_version": [maxmaj, maxmin], "builds": [minbuild, maxbuild],
        "unsupported": unsupported,
        "dirs": sorted(dirs.values()),
        "files": files,
        "registry": registry,
        "shortcuts": shortcuts,
    }


def read(cab):
    listed = members(cab)
    need(listed, "cabextract lists no files")
    work = tempfile.mkdtemp()
    try:
        out = subprocess.run(["cabextract", "-q", "-d", work, cab], capture_output=True, text=True)
        need(out.returncode == 0, f"cabextract failed: {out.stderr.strip()}")
        need(listed[0]["name"].endswith(".000"), f"the first member is {listed[0]['name']}, not the .000")
        numbers = [int(m["name"].rsplit(".", 1)[1]) for m in listed[1:]]
        need(numbers == sorted(numbers, reverse=True), f"the members after the .000 are not in descending order: {numbers}")
        for m in listed:
            need(re.fullmatch(r"[A-Za-z0-9_-]{8}\.\d{3}", m["name"]), f"member {m['name']} is not named XXXXXXXX.NNN")
        with open(os.path.join(work, listed[0]["name"]), "rb") as f:
            install = parse_install(f.read())
        by_number = {int(m["name"][-3:]): m["name"] for m in listed[1:]}
        for f in install["files"]:
            need(f["id"] in by_number, f"file {f['id']} ({f['name']}) has no member .{f['id']:03d}")
            member = by_number[f["id"]]
            with open(os.path.join(work, member), "rb") as data:
                content = data.read()
            f["member"] = member
            f["size"] = len(content)
            f["sha256"] = hashlib.sha256(content).hexdigest()
        need(len(by_number) == len(install["files"]), "the cabinet has members no FILES entry installs")
        install["members"] = listed
        return install
    finally:
        shutil.rmtree(work)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    if shutil.which("cabextract") is None:
        print("SKIP: cabextract is not installed (make deps installs it)")
        return 77
    try:
        json.dump(read(sys.argv[1]), sys.stdout, indent=2)
        print()
    except (Broken, struct.error) as e:
        print(f"cab_reader: {sys.argv[1]}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
