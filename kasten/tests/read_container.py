#!/usr/bin/env python3
"""Independent reader of a container file, written from the file format alone.

usage: read_container.py CONTAINER EXPECTED_DIR
EXPECTED_DIR holds one file per slot (named by the slot index): the item's
name on the first line ("<none>" for an empty slot), then its contents.
Exits 0 when every slot, the hash table and every zlib stream agree.
"""
import struct
import sys
import zlib


def make_hash(name: bytes) -> int:
    h = 0
    for c in name + b"\0":
        signed = c - 256 if c >= 0x80 else c
        h = (((h << 5) | (h >> 27)) - signed - 48) & 0xFFFFFFFF
    return h


def main() -> int:
    data = open(sys.argv[1], "rb").read()
    expected_dir = sys.argv[2]
    count, layout = struct.unpack_from("<II", data, 0)
    table_offset = struct.unpack_from("<I", data, 28)[0]

    # Walk the slot chain from offset 40.
    slots = []
    pos = 40
    while len(slots) < count:
        word = struct.unpack_from("<I", data, pos)[0]
        if word != 0:
            slots.append(pos)
            pos += 4
            continue
        link = struct.unpack_from("<I", data, pos + 4)[0]
        if link == 0:
            break
        pos = link
    if layout == 1 and slots != [40 + 4 * i for i in range(count)]:
        print("layout flag 1 but the chain is not contiguous")
        return 1

    failures = 0
    names = {}
    for i in range(count):
        want = open(f"{expected_dir}/{i}", "rb").read()
        want_name, _, want_text = want.partition(b"\n")
        value = struct.unpack_from("<I", data, slots[i])[0] if i < len(slots) else 0xFFFFFFFF
        if value == 0xFFFFFFFF:
            if want_name != b"<none>":
                print(f"slot {i}: empty, expected {want_name!r}")
                failures += 1
            continue
        size = struct.unpack_from("<H", data, value)[0]
        name = data[value + 2:value + size].split(b"\0", 1)[0]
        method, contents_len, stored_len = struct.unpack_from("<III", data, value + size)
        stored = data[value + size + 12:value + size + 12 + stored_len]
        if method == 0:
            text = stored
        else:
            d = zlib.decompressobj(15)  # a plain RFC 1950 stream
            text = d.decompress(stored)
            if not d.eof or d.unused_data:
                print(f"slot {i}: not one complete zlib stream")
                failures += 1
        if name != want_name or text != want_text or len(text) != contents_len:
            print(f"slot {i}: got {name!r} ({len(text)} bytes), expected {want_name!r} ({len(want_text)} bytes)")
            failures += 1
        names[i] = name

    # The table: slot-count entries sorted by hash; every item's name is there.
    entries = [struct.unpack_from("<II", data, table_offset + 8 * k) for k in range(count)]
    hashes = [h for _, h in entries]
    if hashes != sorted(hashes):
        print("hash table not sorted")
        failures += 1
    for i, name in names.items():
        last = name.rsplit(b"\\", 1)[-1]
        if (i, make_hash(last)) not in entries:
            print(f"slot {i}: no hash entry for {last!r}")
            failures += 1
    # A removed item keeps its entry (it names an empty slot); padding names none.
    for slot, _ in entries:
        if slot != 0xFFFFFFFF and slot >= count:
            print(f"hash entry names slot {slot} beyond the slot count")
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
