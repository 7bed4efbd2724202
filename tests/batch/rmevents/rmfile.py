"""RealMedia container reader and writer for the tests.

Written apart from the tool's own C++ reader and writer, so that each checks the other. It reads
the files that Debian's ffmpeg writes (whose DATA size is 18 bytes too large and which end in 8
zero bytes) and writes files with several DATA chunks, version-0 and version-1 packets, logical
stream headers and INDX chunks. All numbers are big-endian.
"""
import struct

RMF_HEADER_SIZE = 18
PROP_SIZE = 50
DATA_HEADER_SIZE = 18
INDX_HEADER_SIZE = 20
INDX_RECORD_SIZE = 14


class FormatError(Exception):
    pass


class Packet:
    """One media packet. `extra` holds the version-specific header bytes: packet group and flags
    (version 0, 2 bytes) or ASM rule and ASM flags (version 1, 3 bytes)."""
    __slots__ = ("version", "stream", "timestamp", "extra", "payload", "offset")

    def __init__(self, version, stream, timestamp, extra, payload, offset=None):
        if len(extra) != (2 if version == 0 else 3):
            raise ValueError("packet header extra bytes do not fit its version")
        self.version = version
        self.stream = stream
        self.timestamp = timestamp
        self.extra = bytes(extra)
        self.payload = payload
        self.offset = offset

    @staticmethod
    def v0(stream, timestamp, payload, flags=0, group=0):
        return Packet(0, stream, timestamp, bytes([group, flags]), payload)

    @staticmethod
    def v1(stream, timestamp, payload, asm_rule=0, asm_flags=0):
        return Packet(1, stream, timestamp, struct.pack(">HB", asm_rule, asm_flags), payload)

    def header_size(self):
        return 12 if self.version == 0 else 13

    def size(self):
        return self.header_size() + len(self.payload)

    def key(self):
        """Everything a cleaner must keep unchanged."""
        return (self.version, self.stream, self.timestamp, self.extra, self.payload)

    def keyframe(self):
        return self.version == 0 and (self.extra[1] & 2) != 0

    def pack(self):
        return struct.pack(">HHHI", self.version, self.size(), self.stream, self.timestamp) + \
            self.extra + self.payload


class LogicalStream:
    """Type-specific data of a "logical-..." stream header. Data offsets are filled in when the
    file is written (the DATA chunk that holds each physical stream)."""

    def __init__(self, streams, rules, properties=(), data_offsets=None):
        self.streams = list(streams)
        self.rules = list(rules)
        self.properties = list(properties)  # (name bytes, type, value bytes)
        self.data_offsets = data_offsets

    def pack(self, offsets):
        body = struct.pack(">H", 0) + struct.pack(">H", len(self.streams))
        body += b"".join(struct.pack(">H", s) for s in self.streams)
        body += b"".join(struct.pack(">I", o) for o in offsets)
        body += struct.pack(">H", len(self.rules))
        body += b"".join(struct.pack(">H", r) for r in self.rules)
        body += struct.pack(">H", len(self.properties))
        for name, kind, value in self.properties:
            prop = struct.pack(">HB", 0, len(name)) + name
            prop += struct.pack(">iH", kind, len(value)) + value
            body += struct.pack(">I", 4 + len(prop)) + prop
        return struct.pack(">I", 4 + len(body)) + body

    @staticmethod
    def unpack(data):
        size, version, n = struct.unpack_from(">IHH", data, 0)
        if version != 0 or size > len(data):
            raise FormatError("bad logical stream structure")
        pos = 8
        streams = list(struct.unpack_from(">%dH" % n, data, pos))
        pos += 2 * n
        offsets = list(struct.unpack_from(">%dI" % n, data, pos))
        pos += 4 * n
        (nrules,) = struct.unpack_from(">H", data, pos)
        rules = list(struct.unpack_from(">%dH" % nrules, data, pos + 2))
        pos += 2 + 2 * nrules
        (nprops,) = struct.unpack_from(">H", data, pos)
        pos += 2
        props = []
        for _ in range(nprops):
            psize, _pver, nlen = struct.unpack_from(">IHB", data, pos)
            name = data[pos + 7:pos + 7 + nlen]
            kind, vlen = struct.unpack_from(">iH", data, pos + 7 + nlen)
            value = data[pos + 13 + nlen:pos + 13 + nlen + vlen]
            props.append((name, kind, value))
            pos += psize
        return LogicalStream(streams, rules, props, offsets)


class Stream:
    """One MDPR header. `type_specific` is bytes, or a LogicalStream for logical headers."""

    def __init__(self, number, mime, name=b"", type_specific=b"", avg_bit_rate=0, max_bit_rate=0,
                 max_packet_size=0, avg_packet_size=0, start_time=0, preroll=0, duration=0):
        self.number = number
        self.mime = mime if isinstance(mime, bytes) else mime.encode()
        self.name = name if isinstance(name, bytes) else name.encode()
        self.type_specific = type_specific
        self.avg_bit_rate = avg_bit_rate
        self.max_bit_rate = max_bit_rate
        self.max_packet_size = max_packet_size
        self.avg_packet_size = avg_packet_size
        self.start_time = start_time
        self.preroll = preroll
        self.duration = duration

    def is_logical(self):
        return self.mime.startswith(b"logical-")

    def pack(self, data_offset_of):
        ts = self.type_specific
        if isinstance(ts, LogicalStream):
            ts = ts.pack([data_offset_of(s) for s in ts.streams])
        body = struct.pack(">HIIIIIII", self.number, self.max_bit_rate, self.avg_bit_rate,
                           self.max_packet_size, self.avg_packet_size, self.start_time,
                           self.preroll, self.duration)
        body += bytes([len(self.name)]) + self.name + bytes([len(self.mime)]) + self.mime
        body += struct.pack(">I", len(ts)) + ts
        return b"MDPR" + struct.pack(">IH", 10 + len(body), 0) + body


class Index:
    """One INDX chunk. Records are (timestamp, target, packet_count); on writing, a target that
    is a Packet becomes that packet's offset; on reading it is the offset as stored."""

    def __init__(self, stream, records):
        self.stream = stream
        self.records = list(records)


class RmFile:
    def __init__(self):
        self.file_version = 0
        self.num_headers = None  # None: computed on writing (the header section after .RMF)
        self.num_streams = None  # None: the physical streams, on writing
        self.prop = dict(max_bit_rate=0, avg_bit_rate=0, max_packet_size=0, avg_packet_size=0,
                         num_packets=0, duration=0, preroll=0, index_offset=0, data_offset=0,
                         num_streams=0, flags=0)
        self.cont = None  # (title, author, copyright, comment) as bytes
        self.streams = []
        self.data_chunks = []  # lists of Packet
        self.indexes = []
        self.chunks = []  # on reading: (fourcc, offset, size) of every top-level chunk
        self.data_headers = []   # on reading: (offset, num_packets, next_data_header)
        self.index_headers = []  # on reading: (offset, next_index_header)
        self.notes = []   # on reading: what was tolerated

    def stream(self, number):
        for s in self.streams:
            if s.number == number and not s.is_logical():
                return s
        return None

    def packets(self):
        for chunk in self.data_chunks:
            yield from chunk


def _cstr(data, pos, width):
    (n,) = struct.unpack_from(">B" if width == 1 else ">H", data, pos)
    pos += width
    if pos + n > len(data):
        raise FormatError("string runs past its chunk")
    return data[pos:pos + n], pos + n


def read(path):
    with open(path, "rb") as f:
        return parse(f.read())


def parse(buf):
    rm = RmFile()
    size = len(buf)
    if size < RMF_HEADER_SIZE or buf[:4] != b".RMF":
        raise FormatError("not a RealMedia file")
    pos = 0
    while pos + 10 <= size:
        fourcc, csize, version = struct.unpack_from(">4sIH", buf, pos)
        if csize < 10:
            raise FormatError("chunk %r at %d has size %d" % (fourcc, pos, csize))
        end = pos + csize
        rm.chunks.append((fourcc, pos, csize))
        if fourcc == b"DATA":
            end = _parse_data(rm, buf, pos, csize)
        elif end > size:
            raise FormatError("chunk %r at %d runs past the end of the file" % (fourcc, pos))
        else:
            body = buf[pos + 10:end]
            if fourcc == b".RMF":
                rm.file_version, rm.num_headers = struct.unpack_from(">II", body, 0)
            elif fourcc == b"PROP":
                names = ("max_bit_rate", "avg_bit_rate", "max_packet_size", "avg_packet_size",
                         "num_packets", "duration", "preroll", "index_offset", "data_offset")
                values = struct.unpack_from(">9IHH", body, 0)
                rm.prop = dict(zip(names, values[:9]), num_streams=values[9], flags=values[10])
            elif fourcc == b"CONT":
                p = 0
                fields = []
                for _ in range(4):
                    text, p = _cstr(body, p, 2)
                    fields.append(text)
                rm.cont = tuple(fields)
            elif fourcc == b"MDPR":
                rm.streams.append(_parse_mdpr(body))
            elif fourcc == b"INDX":
                n, stream, nxt = struct.unpack_from(">IHI", body, 0)
                rm.index_headers.append((pos, nxt))
                if 10 + 10 + n * INDX_RECORD_SIZE > csize:
                    raise FormatError("INDX at %d holds fewer records than it counts" % pos)
                records = []
                for i in range(n):
                    at = 10 + i * INDX_RECORD_SIZE
                    _v, ts, off, count = struct.unpack_from(">HIII", body, at)
                    records.append((ts, off, count))
                rm.indexes.append(Index(stream, records))
        pos = end
    tail = buf[pos:]
    if tail.strip(b"\0"):
        raise FormatError("%d bytes after the last chunk" % len(tail))
    return rm


def _parse_mdpr(body):
    (number, max_br, avg_br, max_ps, avg_ps, start, preroll, duration) = \
        struct.unpack_from(">HIIIIIII", body, 0)
    name, p = _cstr(body, 30, 1)
    mime, p = _cstr(body, p, 1)
    (tlen,) = struct.unpack_from(">I", body, p)
    ts = body[p + 4:p + 4 + tlen]
    if mime.startswith(b"logical-"):
        ts = LogicalStream.unpack(ts)
    return Stream(number, mime, name, ts, avg_br, max_br, max_ps, avg_ps, start, preroll, duration)


def _parse_data(rm, buf, pos, csize):
    size = len(buf)
    num_packets, nxt = struct.unpack_from(">II", buf, pos + 10)
    rm.data_headers.append((pos, num_packets, nxt))
    declared_end = pos + csize
    end = min(declared_end, size)
    if declared_end > size:
        rm.notes.append("DATA at %d declares %d bytes past the end of the file" %
                        (pos, declared_end - size))
    p = pos + DATA_HEADER_SIZE
    packets = []
    while (len(packets) < num_packets) if num_packets else (p + 12 <= end):
        if p + 12 > end:
            raise FormatError("packet header at %d runs past its DATA chunk" % p)
        version, length, stream, ts = struct.unpack_from(">HHHI", buf, p)
        hsize = 12 if version == 0 else 13
        if version > 1 or length < hsize or p + length > end:
            raise FormatError("bad packet at %d" % p)
        packets.append(Packet(version, stream, ts, buf[p + 10:p + hsize],
                              bytes(buf[p + hsize:p + length]), offset=p))
        p += length
    if p < end:
        rm.notes.append("%d bytes after the last packet of DATA at %d" % (end - p, pos))
    rm.data_chunks.append(packets)
    return end


def write(rm, path, fix_prop=True):
    """Writes rm: .RMF, PROP, CONT, the stream headers in list order, the DATA chunks, then the
    INDX chunks. Offsets, counts and sizes are computed here."""
    cont = b""
    if rm.cont is not None:
        body = b"".join(struct.pack(">H", len(t)) + t for t in rm.cont)
        cont = b"CONT" + struct.pack(">IH", 10 + len(body), 0) + body

    # Header sizes do not depend on offsets, so lay them out with placeholder offsets first.
    mdpr_size = sum(len(s.pack(lambda _s: 0)) for s in rm.streams)
    pos = RMF_HEADER_SIZE + PROP_SIZE + len(cont) + mdpr_size
    data_offsets = []
    first_chunk_of = {}
    for i, chunk in enumerate(rm.data_chunks):
        data_offsets.append(pos)
        pos += DATA_HEADER_SIZE
        for packet in chunk:
            packet.offset = pos
            pos += packet.size()
            first_chunk_of.setdefault(packet.stream, i)
    index_offsets = []
    for index in rm.indexes:
        index_offsets.append(pos)
        pos += INDX_HEADER_SIZE + INDX_RECORD_SIZE * len(index.records)

    def data_offset_of(stream):
        return data_offsets[first_chunk_of.get(stream, 0)] if data_offsets else 0

    prop = dict(rm.prop)
    if fix_prop:
        all_packets = list(rm.packets())
        physical = [s for s in rm.streams if not s.is_logical()]
        prop.update(
            num_packets=len(all_packets),
            data_offset=data_offsets[0] if data_offsets else 0,
            index_offset=index_offsets[0] if index_offsets else 0,
            num_streams=len(physical) if rm.num_streams is None else rm.num_streams,
            avg_bit_rate=sum(s.avg_bit_rate for s in physical),
            max_bit_rate=sum(s.max_bit_rate for s in physical),
            max_packet_size=max((p.size() for p in all_packets), default=0),
            avg_packet_size=(sum(p.size() for p in all_packets) // len(all_packets)
                             if all_packets else 0))
    num_headers = rm.num_headers
    if num_headers is None:
        num_headers = 1 + (1 if cont else 0) + len(rm.streams)

    ordinal = {id(p): n for n, p in enumerate(rm.packets())}
    with open(path, "wb") as f:
        f.write(b".RMF" + struct.pack(">IHII", RMF_HEADER_SIZE, 0, rm.file_version, num_headers))
        f.write(b"PROP" + struct.pack(">IH", PROP_SIZE, 0) + struct.pack(
            ">9IHH", prop["max_bit_rate"], prop["avg_bit_rate"], prop["max_packet_size"],
            prop["avg_packet_size"], prop["num_packets"], prop["duration"], prop["preroll"],
            prop["index_offset"], prop["data_offset"], prop["num_streams"], prop["flags"]))
        f.write(cont)
        for s in rm.streams:
            f.write(s.pack(data_offset_of))
        for i, chunk in enumerate(rm.data_chunks):
            size = DATA_HEADER_SIZE + sum(p.size() for p in chunk)
            nxt = data_offsets[i + 1] if i + 1 < len(data_offsets) else 0
            f.write(b"DATA" + struct.pack(">IHII", size, 0, len(chunk), nxt))
            for packet in chunk:
                f.write(packet.pack())
        for i, index in enumerate(rm.indexes):
            nxt = index_offsets[i + 1] if i + 1 < len(index_offsets) else 0
            size = INDX_HEADER_SIZE + INDX_RECORD_SIZE * len(index.records)
            f.write(b"INDX" + struct.pack(">IHIHI", size, 0, len(index.records), index.stream, nxt))
            for ts, target, count in index.records:
                off = target.offset if isinstance(target, Packet) else target
                if count is None:
                    count = ordinal[id(target)]
                f.write(struct.pack(">HIII", 0, ts, off, count))
    return pos
