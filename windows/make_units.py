"""Splits an Annex B stream made with access unit delimiters into the units
file dll_check reads: a 4-byte little-endian size, a key byte, the unit."""
import re
import struct
import sys


def main(source, codec, target):
    data = open(source, "rb").read()
    starts = [m.start() for m in re.finditer(b"\x00\x00\x01", data)]
    is_aud = (lambda h: h[0] & 0x1F == 9) if codec == "h264" else (lambda h: (h[0] >> 1) & 0x3F == 35)
    is_key = (lambda h: h[0] & 0x1F == 5) if codec == "h264" else (lambda h: 16 <= (h[0] >> 1) & 0x3F <= 21)
    cuts = [s for s in starts if is_aud(data[s + 3:s + 5])] + [len(data)]
    with open(target, "wb") as out:
        for begin, end in zip(cuts, cuts[1:]):
            unit = b"\x00" + data[begin:end]
            key = any(is_key(data[s + 3:s + 5]) for s in starts if begin <= s < end)
            out.write(struct.pack("<IB", len(unit), key) + unit)


main(*sys.argv[1:])
