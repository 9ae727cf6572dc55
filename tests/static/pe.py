"""A small reader of PE files (PE32 and PE32+): the headers, the imported
DLLs and the resource tree. Enough for checking what a build produced; it
refuses what it cannot map rather than guessing."""
import struct

RT_ICON = 3
RT_DIALOG = 5
RT_STRING = 6
RT_GROUP_ICON = 14
RT_MANIFEST = 24

PE32 = 0x10B
PE32_PLUS = 0x20B
DIR_IMPORT = 1
DIR_RESOURCE = 2
DIR_DELAY_IMPORT = 13


class PEError(Exception):
    pass


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PEError("no MZ header")
        (lfanew,) = self._unpack("<I", 0x3C)
        if data[lfanew:lfanew + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = self._unpack("<HHIIIHH", lfanew + 4)
        opt = lfanew + 24
        (self.magic,) = self._unpack("<H", opt)
        if self.magic == PE32:
            count_at = opt + 92
        elif self.magic == PE32_PLUS:
            count_at = opt + 108
        else:
            raise PEError(f"unknown optional header magic {self.magic:#x}")
        (self.subsystem,) = self._unpack("<H", opt + 68)
        (count,) = self._unpack("<I", count_at)
        self.directories = [self._unpack("<II", count_at + 4 + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(sections):
            name, vsize, vaddr, raw_size, raw_ptr = self._unpack(
                "<8sIIII", opt + optional_size + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"),
                                  vaddr, max(vsize, raw_size), raw_ptr, raw_size))

    def _unpack(self, fmt, offset):
        if offset < 0 or offset + struct.calcsize(fmt) > len(self.data):
            raise PEError(f"read past the end of the file at {offset:#x}")
        return struct.unpack_from(fmt, self.data, offset)

    def offset(self, rva):
        """The file offset of rva; it must lie in a section's stored bytes."""
        for _, vaddr, span, raw_ptr, raw_size in self.sections:
            if vaddr <= rva < vaddr + span:
                if rva - vaddr >= raw_size:
                    raise PEError(f"RVA {rva:#x} is not stored in the file")
                return raw_ptr + rva - vaddr
        raise PEError(f"RVA {rva:#x} is in no section")

    def read(self, rva, size):
        start = self.offset(rva)
        if size and self.offset(rva + size - 1) != start + size - 1:
            raise PEError(f"{size} bytes at RVA {rva:#x} cross a section")
        if start + size > len(self.data):
            raise PEError(f"{size} bytes at RVA {rva:#x} run past the end of the file")
        return self.data[start:start + size]

    def cstring(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        if end < 0:
            raise PEError(f"unterminated string at RVA {rva:#x}")
        return self.data[start:end].decode("ascii")

    def _directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imports(self):
        """Names of the DLLs the loader binds, ordinary and delay-loaded."""
        names = []
        rva, size = self._directory(DIR_IMPORT)
        if rva:
            at = self.offset(rva)
            while True:
                lookup, _, _, name, thunks = self._unpack("<IIIII", at)
                if not (lookup or name or thunks):
                    break
                names.append(self.cstring(name))
                at += 20
        rva, size = self._directory(DIR_DELAY_IMPORT)
        if rva:
            at = self.offset(rva)
            while True:
                attributes, name = self._unpack("<II", at)
                if not name:
                    break
                if not attributes & 1:  # the old form holds addresses, not RVAs
                    name -= self._image_base()
                names.append(self.cstring(name))
                at += 32
        return names

    def imported_functions(self):
        """[(DLL, function)] of the ordinary import table; a function imported
        by ordinal is named "#N"."""
        functions = []
        rva, _ = self._directory(DIR_IMPORT)
        wide = self.magic != PE32
        entry, flag = (8, 1 << 63) if wide else (4, 1 << 31)
        at = self.offset(rva) if rva else None
        while at is not None:
            lookup, _, _, name, thunks = self._unpack("<IIIII", at)
            if not (lookup or name or thunks):
                break
            dll = self.cstring(name)
            thunk = self.offset(lookup or thunks)
            while True:
                value = self._unpack("<Q" if wide else "<I", thunk)[0]
                if not value:
                    break
                if value & flag:
                    functions.append((dll, f"#{value & 0xFFFF}"))
                else:
                    functions.append((dll, self.cstring((value & 0x7FFFFFFF) + 2)))
                thunk += entry
            at += 20
        return functions

    def _image_base(self):
        opt = self._unpack("<I", 0x3C)[0] + 24
        if self.magic == PE32:
            return self._unpack("<I", opt + 28)[0]
        return self._unpack("<Q", opt + 24)[0]

    def resources(self):
        """{(type, name, language): data}; type and name are numbers, or strings
        for named entries."""
        rva, size = self._directory(DIR_RESOURCE)
        if not rva:
            return {}
        base = self.offset(rva)
        out = {}

        def entries(directory):
            named, ids = self._unpack("<HH", base + directory + 12)
            for i in range(named + ids):
                key, target = self._unpack("<II", base + directory + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    (length,) = self._unpack("<H", at)
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        for rtype, t in entries(0):
            if not t & 0x80000000:
                raise PEError(f"resource type {rtype!r} is not a directory")
            for name, n in entries(t & 0x7FFFFFFF):
                if not n & 0x80000000:
                    raise PEError(f"resource {rtype!r}/{name!r} is not a directory")
                for lang, leaf in entries(n & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise PEError(f"resource {rtype!r}/{name!r}/{lang} nests too deep")
                    data_rva, data_size, _, _ = self._unpack("<IIII", base + leaf)
                    out[(rtype, name, lang)] = self.read(data_rva, data_size)
        return out


def string_blocks(resources):
    """The string table as [(id, language, text)], empty slots left out."""
    strings = []
    for (rtype, block, lang), data in resources.items():
        if rtype != RT_STRING:
            continue
        at = 0
        for slot in range(16):
            if at + 2 > len(data):
                raise PEError(f"string block {block} ends after {slot} strings")
            (length,) = struct.unpack_from("<H", data, at)
            text = data[at + 2:at + 2 + 2 * length]
            if len(text) != 2 * length:
                raise PEError(f"string block {block} is truncated")
            at += 2 + 2 * length
            if length:
                strings.append(((block - 1) * 16 + slot, lang, text.decode("utf-16-le")))
    return strings


def icon_group(data):
    """The icons a group refers to: [(icon id, size in bytes)]."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1 or len(data) != 6 + 14 * count:
        raise PEError("not an icon group")
    entries = [struct.unpack_from("<IH", data, 6 + 14 * i + 8) for i in range(count)]
    return [(icon, size) for size, icon in entries]
