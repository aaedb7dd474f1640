"""A small MP4 box walker for the interop checks: what a peer cannot see."""
import struct

CONTAINERS = {b"moov", b"trak", b"mdia", b"minf", b"stbl", b"moof", b"traf", b"mvex",
              b"edts", b"mfra", b"dinf"}


class Box:
    def __init__(self, kind, data, start, body, end):
        self.kind, self.data, self.start, self.body, self.end = kind, data, start, body, end

    def payload(self):
        return self.data[self.body:self.end]

    def children(self):
        offset = self.body
        if self.kind == b"stsd":
            offset += 8
        elif self.kind in (b"avc1", b"hvc1", b"hev1"):
            offset += 78
        elif self.kind == b"mp4a":
            offset += 28
        return boxes(self.data, offset, self.end)

    def find(self, *path):
        """Every box at the end of path (kinds, one level each) below this one."""
        found = [self]
        for kind in path:
            found = [c for b in found for c in b.children() if c.kind == kind.encode()]
        return found


def boxes(data, start=0, end=None):
    end = len(data) if end is None else end
    found = []
    while end - start >= 8:
        size, kind = struct.unpack(">I4s", data[start:start + 8])
        header = 8
        if size == 1:
            size, header = struct.unpack(">Q", data[start + 8:start + 16])[0], 16
        elif size == 0:
            size = end - start
        if size < header or start + size > end:
            raise ValueError("box %r at %d runs past its container" % (kind, start))
        found.append(Box(kind, data, start, start + header, start + size))
        start += size
    return found


def root(data):
    return Box(b"root", data, 0, 0, len(data))


def tracks(data):
    """{track_ID: handler ('vide' or 'soun')} from the moov."""
    result = {}
    for trak in root(data).find("moov", "trak"):
        track_id = trak_id(trak)
        handler = trak.find("mdia", "hdlr")[0].payload()[8:12].decode()
        result[track_id] = handler
    return result


def trak_id(trak):
    tkhd = trak.find("tkhd")[0].payload()
    return struct.unpack(">I", tkhd[20:24] if tkhd[0] == 1 else tkhd[12:16])[0]


def fragment_starts(moof, track_id):
    """(tfhd flags, base media decode time, first sample is a sync sample) of the
    track's run in this moof, or None when the moof has none of it."""
    for traf in moof.find("traf"):
        tfhd = traf.find("tfhd")[0].payload()
        if struct.unpack(">I", tfhd[4:8])[0] != track_id:
            continue
        tf_flags = struct.unpack(">I", tfhd[0:4])[0] & 0xFFFFFF
        at = 8 + (8 if tf_flags & 1 else 0) + (4 if tf_flags & 2 else 0)
        at += 4 if tf_flags & 8 else 0
        at += 4 if tf_flags & 0x10 else 0
        default_flags = struct.unpack(">I", tfhd[at:at + 4])[0] if tf_flags & 0x20 else None
        tfdt = traf.find("tfdt")[0].payload()
        time = struct.unpack(">Q", tfdt[4:12])[0] if tfdt[0] == 1 else struct.unpack(
            ">I", tfdt[4:8])[0]
        trun = traf.find("trun")[0].payload()
        run_flags = struct.unpack(">I", trun[0:4])[0] & 0xFFFFFF
        at = 8 + (4 if run_flags & 1 else 0)
        if run_flags & 4:
            first = struct.unpack(">I", trun[at:at + 4])[0]
        elif run_flags & 0x400:
            at += (4 if run_flags & 0x100 else 0) + (4 if run_flags & 0x200 else 0)
            first = struct.unpack(">I", trun[at:at + 4])[0]
        else:
            first = default_flags
        if first is None:
            raise ValueError("no sample flags for the first sample of track %d" % track_id)
        return tf_flags, time, not first & 0x10000
    return None


def random_access_entries(data):
    """{track_ID: [moof offset, ...]} from the index at the end of the file."""
    entries = {}
    for tfra in root(data).find("mfra", "tfra"):
        p = tfra.payload()
        version = p[0]
        track_id, lengths, count = struct.unpack(">III", p[4:16])
        wide = 8 if version == 1 else 4
        sizes = [((lengths >> shift) & 3) + 1 for shift in (4, 2, 0)]
        at, offsets = 16, []
        for _ in range(count):
            offsets.append(int.from_bytes(p[at + wide:at + 2 * wide], "big"))
            at += 2 * wide + sum(sizes)
        entries[track_id] = offsets
    return entries


def bit_rates(data):
    """{sample entry kind: (buffer size, max rate, average rate)} of every btrt."""
    rates = {}
    for entry in root(data).find("moov", "trak", "mdia", "minf", "stbl", "stsd"):
        for sample_entry in entry.children():
            for btrt in sample_entry.find("btrt"):
                rates[sample_entry.kind.decode()] = struct.unpack(">III", btrt.payload()[:12])
    return rates


def sample_entries(data):
    return [e.kind.decode() for stsd in root(data).find("moov", "trak", "mdia", "minf", "stbl",
                                                         "stsd") for e in stsd.children()]


def media_segments(data):
    """(end of the init segment, [Fragment] for each moof + mdat)."""
    top = boxes(data)
    video = next(t for t, h in tracks(data).items() if h == "vide")
    mdhd = next(trak for trak in root(data).find("moov", "trak")
                if trak_id(trak) == video).find("mdia", "mdhd")[0].payload()
    scale = struct.unpack(">I", mdhd[20:24] if mdhd[0] == 1 else mdhd[12:16])[0]
    moov = next(b for b in top if b.kind == b"moov")
    fragments = []
    for box, following in zip(top, top[1:]):
        if box.kind == b"moof":
            # The sound left after the last picture comes in a fragment of its own.
            starts = fragment_starts(box, video)
            tf_flags, time, key = starts or (fragments[-1].tf_flags, fragments[-1].seconds * scale, False)
            fragments.append(Fragment(box.start, following.end, tf_flags, time / scale, key))
    return moov.end, fragments


class Fragment:
    def __init__(self, start, end, tf_flags, seconds, key):
        self.start, self.end, self.tf_flags, self.seconds, self.key = (start, end, tf_flags,
                                                                       seconds, key)


def hevc_codec(kind, hvcc):
    """kind.[space]profile.compatibility.tier+level[.constraints] from an hvcC."""
    space = ("", "A", "B", "C")[hvcc[1] >> 6]
    compatibility = int("{:032b}".format(struct.unpack(">I", hvcc[2:6])[0])[::-1], 2)
    constraints = list(hvcc[6:12])
    while constraints and not constraints[-1]:
        constraints.pop()
    return ".".join([kind, "%s%d" % (space, hvcc[1] & 0x1f), "%x" % compatibility,
                     "%s%d" % ("H" if hvcc[1] & 0x20 else "L", hvcc[12])] + ["%x" % b for b in constraints])


def mse_codecs(data):
    """The codecs parameter a browser needs for the tracks of a stream."""
    codecs = []
    for trak in root(data).find("moov", "trak"):
        handler = trak.find("mdia", "hdlr")[0].payload()[8:12]
        entry = trak.find("mdia", "minf", "stbl", "stsd")[0].children()[0]
        if handler == b"vide" and entry.kind == b"avc1":
            avc = entry.find("avcC")[0].payload()
            codecs.append("%s.%02x%02x%02x" % (entry.kind.decode(), avc[1], avc[2], avc[3]))
        elif handler == b"vide":
            codecs.append(hevc_codec(entry.kind.decode(), entry.find("hvcC")[0].payload()))
        elif handler == b"soun":
            codecs.append("mp4a.40.2")
    return codecs
