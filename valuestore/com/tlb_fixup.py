#!/usr/bin/env python3
"""Adjusts a compiled type library (MSFT format) where the IDL compiler gives no choice:

    tlb_fixup.py LIBRARY.tlb [--flags NAME FLAGS]... [--last NAME]

--flags NAME FLAGS  ORs type flags into a type description (e.g. non-extensible on a dispinterface,
                    which the compiler refuses).
--last NAME         moves a type description to the end of the library. The compiler places a
                    type where it is first referenced; this restores the declared order of the
                    others. Every internal type reference (an offset into the type description
                    table) is renumbered.
"""
import struct
import sys

HEADER_SIZE = 0x54
HELP_DLL_FLAG = 0x100
SEGMENTS = 15
SEG_TYPEINFO, SEG_REFERENCES, SEG_GUID, SEG_NAME, SEG_TYPEDESC = 0, 3, 5, 7, 9
RECORD = 0x64
FIELD_TYPEKIND, FIELD_FLAGS, FIELD_NAME, FIELD_DATATYPE1 = 0x00, 0x30, 0x34, 0x54
TKIND_INTERFACE, TKIND_DISPATCH = 3, 4
VT_USERDEFINED = 0x1D
NAME_INTRO = 12
GUID_ENTRY = 24
REF_RECORD = 16


class TypeLib:
    def __init__(self, data):
        self.data = data
        magic, _, _, _, _, varflags, _, _, self.count = struct.unpack_from("<9i", data, 0)
        if magic != 0x5446534D:
            raise SystemExit("not a type library")
        offset = HEADER_SIZE + (4 if varflags & HELP_DLL_FLAG else 0) + 4 * self.count
        self.segments = [struct.unpack_from("<2i", data, offset + 16 * i) for i in range(SEGMENTS)]

    def int(self, at):
        return struct.unpack_from("<i", self.data, at)[0]

    def set_int(self, at, value):
        struct.pack_into("<i", self.data, at, value)

    def record(self, index):
        return self.segments[SEG_TYPEINFO][0] + index * RECORD

    def name_of(self, index):
        base = self.segments[SEG_NAME][0] + self.int(self.record(index) + FIELD_NAME)
        length = self.int(base + 8) & 0xFF
        return bytes(self.data[base + NAME_INTRO:base + NAME_INTRO + length]).decode("latin-1")

    def index_of(self, name):
        for index in range(self.count):
            if self.name_of(index) == name:
                return index
        raise SystemExit(f"no type named {name}")

    def entries(self, segment, size):
        start, length = self.segments[segment]
        return range(start, start + length, size) if start >= 0 else range(0)

    def name_entries(self):
        start, length = self.segments[SEG_NAME]
        at = start
        while at < start + length:
            yield at
            at += NAME_INTRO + ((self.int(at + 8) & 0xFF) + 3 & ~3)

    def renumber(self, order):
        """Rewrites the type descriptions in the given order of old indices."""
        moved = {old * RECORD: new * RECORD for new, old in enumerate(order)}

        def remap(at):
            value = self.int(at)
            if value in moved:
                self.set_int(at, moved[value])

        for at in self.entries(SEG_GUID, GUID_ENTRY):
            remap(at + 16)
        for at in self.name_entries():
            remap(at)
        for at in self.entries(SEG_REFERENCES, REF_RECORD):
            remap(at)
        for at in self.entries(SEG_TYPEDESC, 8):
            if self.int(at) & 0xFFFF == VT_USERDEFINED:
                remap(at + 4)
        for index in range(self.count):
            if self.int(self.record(index) + FIELD_TYPEKIND) & 0xF in (TKIND_INTERFACE, TKIND_DISPATCH):
                remap(self.record(index) + FIELD_DATATYPE1)

        records = [bytes(self.data[self.record(old):self.record(old) + RECORD]) for old in order]
        for new, record in enumerate(records):
            at = self.record(new)
            self.data[at:at + RECORD] = record
            self.set_int(at + FIELD_TYPEKIND, (self.int(at + FIELD_TYPEKIND) & 0xFFFF) | new << 16)


def main():
    args = sys.argv[1:]
    if not args:
        raise SystemExit(__doc__)
    path, args = args[0], args[1:]
    lib = TypeLib(bytearray(open(path, "rb").read()))
    while args:
        if args[0] == "--flags" and len(args) >= 3:
            at = lib.record(lib.index_of(args[1])) + FIELD_FLAGS
            lib.set_int(at, lib.int(at) | int(args[2], 0))
            args = args[3:]
        elif args[0] == "--last" and len(args) >= 2:
            last = lib.index_of(args[1])
            lib.renumber([i for i in range(lib.count) if i != last] + [last])
            args = args[2:]
        else:
            raise SystemExit(__doc__)
    open(path, "wb").write(lib.data)


if __name__ == "__main__":
    main()
