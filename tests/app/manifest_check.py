#!/usr/bin/env python3
"""Checks the application manifest embedded in kelcalib.exe: run as the
invoker without UI access, per-monitor DPI aware (the Windows 10 form and the
older dpiAware form for Windows 7 to 8.1), and Windows 7, 8, 8.1 and 10/11
named as supported systems. Reads the RT_MANIFEST resource straight from the
PE file; prints what is wrong and exits 1.

    manifest_check.py kelcalib.exe
"""
import struct
import sys
import xml.etree.ElementTree as ET

RT_MANIFEST = 24
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


def manifest_of(data):
    """The bytes of the first RT_MANIFEST resource of a PE image, or None."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    spans = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        spans.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA 0x%x lies in no section" % rva)

    base = offset(resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for k in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * k)
            yield name, target

    for type_id, names in entries(0):
        if type_id != RT_MANIFEST or not names & 0x80000000:
            continue
        for _, languages in entries(names & 0x7FFFFFFF):
            for _, leaf in entries(languages & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                return data[offset(rva):offset(rva) + size]
    return None


def problems(text):
    found = []
    root = ET.fromstring(text)
    level = root.find(".//{%s}requestedExecutionLevel" % ASM_V3)
    if level is None or level.get("level") != "asInvoker" or level.get("uiAccess") != "false":
        found.append("requestedExecutionLevel is not asInvoker with uiAccess false")
    settings = root.find("{%s}application/{%s}windowsSettings" % (ASM_V3, ASM_V3))
    aware = settings.find("{%s}dpiAware" % SETTINGS_2005) if settings is not None else None
    awareness = settings.find("{%s}dpiAwareness" % SETTINGS_2016) if settings is not None else None
    if aware is None or (aware.text or "").strip() != "true/pm":
        found.append("no dpiAware true/pm (Windows 7 to 8.1)")
    if awareness is None or (awareness.text or "").strip() != "PerMonitorV2,PerMonitor":
        found.append("no dpiAwareness PerMonitorV2,PerMonitor (Windows 10 and later)")
    ids = {e.get("Id", "").lower() for e in root.iter("{%s}supportedOS" % COMPAT)}
    for guid, system in SUPPORTED_OS.items():
        if guid not in ids:
            found.append("%s is not named as a supported system" % system)
    for guid in sorted(ids - set(SUPPORTED_OS)):
        found.append("unknown supportedOS %s" % guid)
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(sys.argv[1], "rb") as f:
        text = manifest_of(f.read())
    if text is None:
        print("%s: no RT_MANIFEST resource" % sys.argv[1])
        return 1
    found = problems(text)
    for p in found:
        print("%s: %s" % (sys.argv[1], p))
    print("%s: manifest %s" % (sys.argv[1], "wrong" if found else "as expected"))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
