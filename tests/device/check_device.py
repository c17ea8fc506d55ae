#!/usr/bin/env python3
"""The device build checked as files, and the contract header compiled as
every engine author's compiler would (README.md beside this file).

  check_device.py contract COMPILER...   kel.h as C89 (a ...gcc) or C++98 (a ...g++)
  check_device.py device BUILD_DIR        the wince-arm build: headers, imports and
                                          run-time names documented for CE 4.20,
                                          exports, ARMv4 code only, size, the header
                                          and a C engine with the device's compilers;
                                          exit 77 without them

Exit 0 when every check holds, 1 when one fails (each failure is printed),
77 when the device's compiler cannot be had.
"""
import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))

MACHINE_ARM = 0x1C0
SUBSYSTEM_WINDOWS_CE_GUI = 9
NEWEST_SUBSYSTEM = (4, 20)

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def exports_of(name):
    with open(os.path.join(HERE, name)) as f:
        return {line.strip() for line in f if line.strip()}


# What the device's system DLLs export, by the name a program imports them by.
DEVICE_DLLS = {"COREDLL.DLL": exports_of("coredll.txt"), "WS2.DLL": exports_of("ws2.txt")}

# The launcher's size budget.
LAUNCHER_MAX_BYTES = 32 * 1024


def documented():
    """Per function, whether Windows CE 4.20's reference documents it (yes, no, unclear)."""
    with open(os.path.join(HERE, "ce420-api.tsv"), newline="") as f:
        return {row["name"]: row["documented_on_ce420"] for row in csv.DictReader(f, delimiter="\t")}


DOCUMENTED = documented()


def check_documented(what, names):
    """Every name must be one the table says CE 4.20 documents; names the others."""
    others = sorted(f"{n} ({DOCUMENTED.get(n, 'not in the table')})" for n in names if DOCUMENTED.get(n) != "yes")
    check(not others, f"{what}: not documented for CE 4.20: {', '.join(others)}")
    print(f"{what}: {len(names)} names, {len(names) - len(others)} documented for CE 4.20")


def runtime_names(data, dll_exports):
    """The names a program looks up at run time: its UTF-16 strings that the DLL exports."""
    strings = set(re.findall(rb"(?:[\x20-\x7e]\x00){2,}", data))
    return sorted({s.decode("utf-16-le") for s in strings} & dll_exports)


def loader_names():
    """The names the device run's loader provides (tests/celoader/coredll.cpp's table)."""
    with open(os.path.join(TOP, "tests", "celoader", "coredll.cpp")) as f:
        table = f.read().split("const Export kExports[] = {", 1)[1].split("};", 1)[0]
    names = re.findall(r"(?:PLATFORM|WINSOCK|ENGINE|ENGINE_SOCKET)\((\w+)\)", table)
    names += re.findall(r'OWN\("[\w.]+", "(\w+)"', table)
    names += re.findall(r'\{"[\w.]+", "(\w+)", \w+\}', table)
    return names


# ---------------------------------------------------------------- the processor
#
# The device files must run on every ARM a CE 4.20 handheld has: StrongARM
# (ARMv4, no Thumb), ARM920T (ARMv4T) and XScale (ARMv5TE). So their code is
# ARMv4 alone. The compiler's default is ARMv4 (it defines __ARM_ARCH_4__ and
# returns with mov pc, lr); this reads the linked code to see that nothing
# else came in, from the runtime or a library. Thumb code is entered only by
# bx or blx, which are flagged, or through an odd address, which no entry
# point or export of theirs has.

# ARM-state mnemonics newer than ARMv4, without condition or flag suffix.
NEWER_THAN_V4 = [
    "bx",                                                                 # v4T: not on StrongARM
    "blx", "clz", "bkpt", "cdp2", "ldc2", "stc2", "mcr2", "mrc2",         # v5T
    "ldrd", "strd", "pld", "qadd", "qsub", "qdadd", "qdsub", "mcrr", "mrrc",  # v5TE
    "smlabb", "smlabt", "smlatb", "smlatt", "smlawb", "smlawt", "smlalbb", "smlalbt", "smlaltb", "smlaltt",
    "smulbb", "smulbt", "smultb", "smultt", "smulwb", "smulwt",
    "bxj", "ldrex", "strex", "ldrexb", "strexb", "ldrexh", "strexh", "ldrexd", "strexd", "clrex",  # v5TEJ, v6
    "rev", "rev16", "revsh", "sxtb", "sxth", "uxtb", "uxth", "sxtab", "sxtah", "uxtab", "uxtah", "sel",
    "ssat", "usat", "pkhbt", "pkhtb", "cps", "cpsie", "cpsid", "srs", "rfe", "setend", "umaal",
    "smlad", "smlsd", "smmul", "smmla", "smmls", "smuad", "smusd", "usad8", "usada8",
    "yield", "wfe", "wfi", "sev", "dmb", "dsb", "isb", "movw", "movt", "bfi", "bfc", "ubfx", "sbfx",
    "rbit", "mls", "sdiv", "udiv",
]
CONDITIONS = "eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al"
NEWER_PATTERN = re.compile(rf"^({'|'.join(NEWER_THAN_V4)})({CONDITIONS})?(\.[nw])?$|^v[a-z]")
LINE = re.compile(r"^\s*([0-9a-f]+):\s+([0-9a-f]{8})\s+(\S+)([^;]*)(?:;\s*(?:0x)?([0-9a-f]+))?")


def newer_instructions(objdump, path):
    """ARM code newer than ARMv4 in an image: [(address, word, text)], and counts.

    The code section also holds literal pools, data that the disassembler
    shows as instructions: the words a pc-relative load reads, and words that
    hold an address inside the image, are taken as data."""
    pe = pefile.PE(path, fast_load=True)
    low = pe.OPTIONAL_HEADER.ImageBase
    high = low + pe.OPTIONAL_HEADER.SizeOfImage
    listing = subprocess.run([objdump, "-d", path], capture_output=True, text=True, check=True).stdout
    words, pools = [], set()
    for line in listing.splitlines():
        m = LINE.match(line)
        if not m:
            continue
        address, word, mnemonic, operands, target = m.groups()
        words.append((int(address, 16), int(word, 16), mnemonic, (mnemonic + operands).strip()))
        if "[pc" in operands and target:
            pools.add(int(target, 16))
    found, data = [], 0
    for address, word, mnemonic, text in words:
        if address in pools or low <= word < high:
            data += 1
        elif NEWER_PATTERN.match(mnemonic):
            found.append((address, word, text))
    entries = [pe.OPTIONAL_HEADER.AddressOfEntryPoint] if pe.OPTIONAL_HEADER.AddressOfEntryPoint else []
    pe.parse_data_directories()
    entries += [s.address for s in getattr(pe, "DIRECTORY_ENTRY_EXPORT", None).symbols] if hasattr(
        pe, "DIRECTORY_ENTRY_EXPORT") else []
    odd = [hex(low + rva) for rva in entries if rva % 4 != 0]
    return found, odd, len(words) - data, data


def check_processor(objdump, path):
    found, odd, code, data = newer_instructions(objdump, path)
    name = os.path.basename(os.path.dirname(path)) + "/" + os.path.basename(path)
    shown = "; ".join(f"{a:#x}: {t}" for a, _, t in found[:10])
    check(not found, f"{name}: {len(found)} instructions newer than ARMv4: {shown}")
    check(not odd, f"{name}: entry points at addresses no ARM code has: {', '.join(odd)}")
    print(f"{name}: {code} instructions, all ARMv4, no Thumb entry ({data} words of literal data)")


def check_processor_check(objdump, launcher, scratch):
    """The check above sees newer instructions: planted in a copy of the launcher's code, each is named."""
    planted = {"clz": 0xE16F0F11, "blx": 0xE12FFF33, "ldrd": 0xE1C020D0, "smulbb": 0xE1600180, "bx": 0xE12FFF1E}
    copy = os.path.join(scratch, "planted.exe")
    pe = pefile.PE(launcher)
    entry = pe.get_offset_from_rva(pe.OPTIONAL_HEADER.AddressOfEntryPoint)
    data = bytearray(pe.__data__)
    for i, word in enumerate(planted.values()):
        data[entry + 4 * i:entry + 4 * i + 4] = word.to_bytes(4, "little")
    with open(copy, "wb") as f:
        f.write(data)
    found, _, _, _ = newer_instructions(objdump, copy)
    seen = {t.split()[0] for _, _, t in found}
    missed = sorted(set(planted) - seen)
    check(not missed, f"the processor check misses planted instructions: {', '.join(missed)}")
    print(f"processor check: planted {', '.join(planted)} in a copy of kel.exe: "
          f"{'all named' if not missed else 'MISSED ' + ', '.join(missed)}")

# A translation unit that uses every kind of name the header gives: narrow
# and wide literals, the numbers, the entry routine's type.
CONTRACT_USE = r"""
#include <kel/kel.h>
static const char* const kNames[] = {
    KEL_APPLICATION_RESOURCE_TYPE, KEL_APPLICATION_RESOURCE_NAME, KEL_TEXT_RESOURCE_TYPE,
    KEL_COMMAND_LINE_RESOURCE_NAME, KEL_CONFIG_RESOURCE_NAME, KEL_SPLASH_RESOURCE_TYPE,
    KEL_SPLASH_CLASS_NAME, KEL_ENGINE_KEY, KEL_SERVER_PORT_VALUE, KEL_FILE_EXTENSION, KEL_FILE_CLASS,
    KEL_ENGINE_PATH_KEY, KEL_ENGINE_LIBRARY_NAME, KEL_ENTRY_NAME, KEL_HI_RES_AWARE_RESOURCE_TYPE,
    KEL_HI_RES_AWARE_RESOURCE_NAME};
static const wchar_t kWide[] = KEL_WIDE(KEL_SPLASH_CLASS_NAME);
static const unsigned kNumbers[] = {KEL_ICON_GROUP_ID, KEL_ACTIVATION_MESSAGE, KEL_HI_RES_AWARE_VALUE};
#ifdef __cplusplus
extern "C"
#endif
int KelMainW(void* instance, void* previousInstance, const wchar_t* commandLine, int show,
             void* launcherModule, void* engineModule);
int KelMainW(void* instance, void* previousInstance, const wchar_t* commandLine, int show,
             void* launcherModule, void* engineModule) {
    (void)instance; (void)previousInstance; (void)commandLine; (void)launcherModule; (void)engineModule;
    return show + (int)sizeof kNames + (int)sizeof kWide + (int)kNumbers[0];
}
KelMainWProc kEntry = KelMainW;
"""


def header_dir(scratch):
    """A folder laid out as a release installs the header: kel/kel.h."""
    include = os.path.join(scratch, "include")
    os.makedirs(os.path.join(include, "kel"), exist_ok=True)
    shutil.copy(os.path.join(TOP, "src", "contract", "kel.h"), os.path.join(include, "kel", "kel.h"))
    return include


def compile_contract(compiler, scratch):
    """kel.h used from C89 (a C compiler) or C++98 (a C++ compiler), pedantically."""
    cplusplus = compiler.endswith("++")
    source = os.path.join(scratch, "use.cpp" if cplusplus else "use.c")
    with open(source, "w") as f:
        f.write(CONTRACT_USE)
    standard = "-std=c++98" if cplusplus else "-std=c89"
    command = [compiler, standard, "-pedantic-errors", "-Wall", "-Wextra", "-Werror", "-I", header_dir(scratch),
               "-fsyntax-only", source]
    result = subprocess.run(command, capture_output=True, text=True)
    check(result.returncode == 0,
          f"{os.path.basename(compiler)} {standard} -pedantic-errors rejects kel.h:\n{result.stderr.strip()}")
    print(f"contract: {os.path.basename(compiler)} {standard} -pedantic-errors: "
          f"{'ok' if result.returncode == 0 else 'FAILED'}")


def check_image(path, allowed_dlls, kind):
    """Machine, subsystem, imports against the device's exports; returns the parsed image."""
    name = os.path.basename(path)
    if not check(os.path.isfile(path), f"{path} was not built"):
        return None
    pe = pefile.PE(path)
    header = pe.OPTIONAL_HEADER
    version = (header.MajorSubsystemVersion, header.MinorSubsystemVersion)
    check(pe.FILE_HEADER.Machine == MACHINE_ARM, f"{name}: machine {pe.FILE_HEADER.Machine:#x}, not ARM (0x1c0)")
    check(header.Subsystem == SUBSYSTEM_WINDOWS_CE_GUI, f"{name}: subsystem {header.Subsystem}, not Windows CE GUI (9)")
    check(version <= NEWEST_SUBSYSTEM, f"{name}: subsystem version {version[0]}.{version[1]} is newer than 4.20")
    check(pe.is_dll() == (kind == "dll"), f"{name}: {'not ' if kind == 'dll' else ''}a DLL")
    imports = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode("ascii", "replace")
        names = [i.name.decode("ascii", "replace") if i.name else f"#{i.ordinal}" for i in entry.imports]
        imports[dll] = names
    for dll, names in imports.items():
        exported = allowed_dlls.get(dll.upper())
        if not check(exported is not None, f"{name}: imports {dll}, which is not one of {sorted(allowed_dlls)}"):
            continue
        missing = [n for n in names if n not in exported]
        check(not missing, f"{name}: imports from {dll} what the device does not export: {', '.join(missing)}")
    print(f"{name}: machine {pe.FILE_HEADER.Machine:#x}, subsystem {header.Subsystem} "
          f"version {version[0]}.{version[1]}, {os.path.getsize(path)} bytes")
    for dll, names in imports.items():
        print(f"  {dll}: {len(names)} names: {' '.join(sorted(names))}")
    return pe, imports


def exported_names(pe):
    symbols = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    return [s.name.decode("ascii", "replace") for s in symbols.symbols if s.name] if symbols else []


def check_launcher(build):
    path = os.path.join(build, "bin", "kel.exe")
    parsed = check_image(path, {"COREDLL.DLL": DEVICE_DLLS["COREDLL.DLL"]}, "exe")
    if parsed is None:
        return
    pe, imports = parsed
    check(list(imports) == ["COREDLL.dll"], f"kel.exe imports {list(imports)}, not COREDLL.dll alone")
    size = os.path.getsize(path)
    check(size <= LAUNCHER_MAX_BYTES, f"kel.exe is {size} bytes, more than {LAUNCHER_MAX_BYTES}")
    # A second start runs beside the first in the device run's loader, mapped elsewhere.
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size
    check(relocations > 0, "kel.exe carries no base relocations: a second instance could not be mapped beside the first")
    print(f"  base relocations: {relocations} bytes")
    # Winsock is bound when the first relay needs it, by the device's name for it.
    with open(path, "rb") as f:
        data = f.read()
    check("ws2.dll".encode("utf-16-le") in data, "kel.exe does not name ws2.dll in UTF-16")
    check("ws2_32.dll".encode("utf-16-le") not in data, "kel.exe names the desktop's ws2_32.dll")
    for dll, names in imports.items():
        check_documented(f"kel.exe imports from {dll}", names)
    looked_up = runtime_names(data, DEVICE_DLLS["WS2.DLL"])
    check(len(looked_up) >= 8, f"kel.exe names only {looked_up} of ws2.dll: its run-time names were not found")
    check_documented("kel.exe looks up in ws2.dll", looked_up)
    print(f"  looked up in ws2.dll at run time: {' '.join(looked_up)}")


def check_engine(path, allowed):
    parsed = check_image(path, allowed, "dll")
    if parsed is None:
        return
    pe, imports = parsed
    for dll, imported in imports.items():
        check_documented(f"{os.path.basename(path)} imports from {dll}", imported)
    names = exported_names(pe)
    check("KelMainW" in names, f"{os.path.basename(path)} does not export KelMainW undecorated: {names}")
    print(f"  exports: {' '.join(names)}")


def check_no_static_constructors(build, bin_dir):
    """A static constructor would need the C++ runtime's start-up; none of the launcher's objects has one."""
    archives = sorted(os.path.join(build, f) for f in os.listdir(build) if f.endswith(".a"))
    check(archives, f"no libraries in {build}")
    objdump = os.path.join(bin_dir, "arm-mingw32ce-objdump")
    with_ctors = []
    for archive in archives:
        listing = subprocess.run([objdump, "-h", archive], capture_output=True, text=True, check=True).stdout
        member = None
        for line in listing.splitlines():
            if ":     file format" in line:
                member = line.split(":")[0]
            elif ".ctors" in line:
                with_ctors.append(f"{os.path.basename(archive)}({member})")
    check(not with_ctors, f"static constructors in {', '.join(with_ctors)}")
    print(f"static constructors in {len(archives)} libraries: {len(with_ctors)}")


def build_c_engine(bin_dir, scratch):
    """The C engine beside this file, built for the device against the installed-style header."""
    output = os.path.join(scratch, "CEngine.dll")
    # gnu89: the device's own headers use inline functions.
    command = [os.path.join(bin_dir, "arm-mingw32ce-gcc"), "-std=gnu89", "-Wall", "-Wextra", "-Werror", "-Os",
               "-shared", "-static-libgcc", "-s", "-Wl,--disable-auto-import", "-I", header_dir(scratch),
               os.path.join(HERE, "c_engine.c"), os.path.join(TOP, "src", "platform", "win32", "ce_runtime.c"),
               "-o", output]
    result = subprocess.run(command, capture_output=True, text=True)
    if check(result.returncode == 0, f"the C engine does not build for the device:\n{result.stderr.strip()}"):
        check_engine(output, {"COREDLL.DLL": DEVICE_DLLS["COREDLL.DLL"]})


def device(build):
    found = subprocess.run(["bash", os.path.join(TOP, "tools", "ce_toolchain.sh")], capture_output=True, text=True)
    if found.returncode != 0:
        print(f"skipped: no device compiler: {found.stderr.strip()}")
        return 77
    bin_dir = found.stdout.strip()
    check_launcher(build)
    check_engine(os.path.join(build, "bin", "Kel.dll"), DEVICE_DLLS)
    check_documented("the device run's loader provides", loader_names())
    check_no_static_constructors(build, bin_dir)
    objdump = os.path.join(bin_dir, "arm-mingw32ce-objdump")
    for image in ("bin/kel.exe", "bin/Kel.dll", "celoader/Kel.dll"):
        if os.path.isfile(os.path.join(build, image)):
            check_processor(objdump, os.path.join(build, image))
    with tempfile.TemporaryDirectory() as scratch:
        if os.path.isfile(os.path.join(build, "bin", "kel.exe")):
            check_processor_check(objdump, os.path.join(build, "bin", "kel.exe"), scratch)
        for compiler in ("arm-mingw32ce-gcc", "arm-mingw32ce-g++"):
            compile_contract(os.path.join(bin_dir, compiler), scratch)
        build_c_engine(bin_dir, scratch)
    return finish()


def contract(compilers):
    with tempfile.TemporaryDirectory() as scratch:
        for compiler in compilers:
            path = shutil.which(compiler)
            if check(path is not None, f"{compiler} is not installed"):
                compile_contract(path, scratch)
    return finish()


def finish():
    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


def main(argv):
    if len(argv) >= 2 and argv[0] == "contract":
        return contract(argv[1:])
    if len(argv) == 2 and argv[0] == "device":
        return device(os.path.abspath(argv[1]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
