#!/usr/bin/env python3
"""Writes the side-by-side assembly manifest of ValtroveCtrl.ocx, with which a host uses the
control without registration:

    make_manifest.py LIBRARY.tlb control_facts.h ARCH OUTPUT.manifest

ARCH is the processor architecture of the library ("amd64" or "x86"). What the manifest says
comes from where the registration code takes it: the class, the type library and the interfaces
from the compiled type library (the one embedded in the library), the ProgID, threading model,
miscellaneous status and version from control_facts.h. The interfaces get the same
marshallers as in the registry: the type library marshaller for dual and automation interfaces,
the dispatch marshaller for dispinterfaces.
"""
import re
import sys
import uuid

from tlb_fixup import SEG_GUID, TKIND_DISPATCH, TKIND_INTERFACE, TypeLib

TKIND_COCLASS = 5
TYPEFLAG_FDUAL = 0x40
TYPEFLAG_FOLEAUTOMATION = 0x100
FIELD_GUID = 0x2C
LIBFLAGS = [(0x1, "RESTRICTED"), (0x2, "CONTROL"), (0x4, "HIDDEN")]
# The manifest's names of the OLEMISC flags.
OLEMISC = [
    (0x1, "recomposeonresize"), (0x2, "onlyiconic"), (0x4, "insertnotreplace"), (0x8, "static"),
    (0x10, "cantlinkinside"), (0x20, "canlinkbyole1"), (0x40, "islinkobject"), (0x80, "insideout"),
    (0x100, "activatewhenvisible"), (0x200, "renderingisdeviceindependent"),
    (0x400, "invisibleatruntime"), (0x800, "alwaysrun"), (0x1000, "actslikebutton"),
    (0x2000, "actslikelabel"), (0x4000, "nouiactivate"), (0x8000, "alignable"),
    (0x10000, "simpleframe"), (0x20000, "setclientsitefirst"), (0x40000, "imemode"),
    (0x80000, "ignoreactivatewhenvisible"), (0x100000, "wantstomenumerge"),
    (0x200000, "supportsmultilevelundo"),
]
DUAL_MARSHALLER = "{00020424-0000-0000-C000-000000000046}"
DISPATCH_MARSHALLER = "{00020420-0000-0000-C000-000000000046}"


def read_facts(path):
    facts = {}
    for line in open(path, encoding="ascii"):
        match = re.match(r"#define\s+(VTC_\w+)\s+(.+?)\s*$", line)
        if not match:
            continue
        name, value = match.groups()
        facts[name] = value[1:-1] if value.startswith('"') else int(value, 0)
    return facts


def guid_at(lib, offset):
    text = str(uuid.UUID(bytes_le=bytes(lib.data[offset:offset + 16]))).upper()
    return "{" + text + "}"


def flag_names(value, table, what):
    names = [name for bit, name in table if value & bit]
    if value & ~sum(bit for bit, _ in table):
        raise SystemExit(f"{what} 0x{value:x} has flags without a manifest name")
    return ",".join(names)


def main():
    if len(sys.argv) != 5 or sys.argv[3] not in ("amd64", "x86"):
        raise SystemExit(__doc__)
    tlb_path, facts_path, arch, output = sys.argv[1:]
    lib = TypeLib(bytearray(open(tlb_path, "rb").read()))
    facts = read_facts(facts_path)
    guids = lib.segments[SEG_GUID][0]
    posguid, version, libflags = lib.int(8), lib.int(24), lib.int(28)
    libid = guid_at(lib, guids + posguid)

    coclass, interfaces = None, []
    for index in range(lib.count):
        record = lib.record(index)
        kind = lib.int(record) & 0xF
        flags = lib.int(record + 0x30)
        guid = guid_at(lib, guids + lib.int(record + FIELD_GUID))
        if kind == TKIND_COCLASS:
            coclass = guid
        elif kind == TKIND_DISPATCH or (kind == TKIND_INTERFACE and flags & TYPEFLAG_FOLEAUTOMATION):
            dispatch_only = kind == TKIND_DISPATCH and not flags & TYPEFLAG_FDUAL
            interfaces.append((lib.name_of(index), guid, DISPATCH_MARSHALLER if dispatch_only else DUAL_MARSHALLER))
    if coclass is None:
        raise SystemExit("the type library holds no class")

    assembly_version = "{}.{}.{}.{}".format(*(facts["VTC_VERSION_" + part]
                                              for part in ("MAJOR", "MINOR", "BUILD", "REVISION")))
    misc = flag_names(facts["VTC_MISC_STATUS_CONTENT"], OLEMISC, "miscellaneous status")
    lines = [
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
        '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">',
        f'  <assemblyIdentity type="win32" name="{facts["VTC_ASSEMBLY_NAME"]}" version="{assembly_version}"'
        f' processorArchitecture="{arch}"/>',
        f'  <file name="{facts["VTC_FILE_NAME"]}">',
        f'    <comClass clsid="{coclass}" threadingModel="{facts["VTC_THREADING_MODEL"]}"'
        f' progid="{facts["VTC_PROGID"]}" tlbid="{libid}" miscStatusContent="{misc}"/>',
        f'    <typelib tlbid="{libid}" version="{version & 0xFFFF}.{version >> 16 & 0xFFFF}" helpdir=""'
        f' flags="{flag_names(libflags & 0x7, LIBFLAGS, "library flags")}"/>',
        '  </file>',
    ]
    for name, iid, marshaller in interfaces:
        lines.append(f'  <comInterfaceExternalProxyStub name="{name}" iid="{iid}"'
                     f' proxyStubClsid32="{marshaller}" tlbid="{libid}"/>')
    lines.append('</assembly>')
    with open(output, "w", encoding="utf-8", newline="\r\n") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
