"""Checks a cleaned RealMedia file against its input, with the test-side reader and ffprobe.

    check_cleaned(input, output, texts)  -> list of problems (empty when the output is right)
    expected_counts(input, output)       -> the .RMF and PROP counts the output must carry
    ffprobe_media(path)                  -> {"audio": [...], "video": [...]} packet summaries
"""
import json
import subprocess

import rmfile

AD_MARKER = b"ads.example.com"

# Independent of the tool's classifier: the advertising types written out in full.
AD_TYPES = {
    b"application/x-pn-realevent", b"application/x-pn-realevent-encrypted",
    b"application/x-pn-encrypted-realevent", b"application/x-pn-multirate-realevent",
    b"application/x-pn-multirate-realevent-encrypted", b"application/x-pn-realevents",
    b"application/x-pn-imagemap", b"application/x-pn-imagemap-encrypted",
    b"application/x-pn-encrypted-imagemap", b"application/x-pn-multirate-imagemap",
    b"application/x-pn-multirate-imagemap-encrypted",
    # The older forms: the kind in the major type, the video subtype borrowed.
    b"syncmm/x-pn-realvideo", b"syncmm/x-pn-realvideo-encrypted",
    b"image_map/x-pn-realvideo", b"image_map/x-pn-realvideo-encrypted",
}


def is_ad_type(mime):
    m = mime.lower()
    if m.startswith(b"logical-"):
        m = m[len(b"logical-"):]
    return m in AD_TYPES


def check_cleaned(input_path, output_path, texts):
    """texts: (title, author, copyright) as bytes, None where the input's value stays."""
    problems = []
    src = rmfile.read(input_path)
    with open(output_path, "rb") as f:
        raw = f.read()
    try:
        out = rmfile.parse(raw)
    except rmfile.FormatError as e:
        return ["output does not parse: %s" % e]
    if out.notes:
        problems.append("output has sloppy sizes: %s" % out.notes)
    if AD_MARKER in raw:
        problems.append("output still holds advertising bytes")

    removed = {s.number for s in src.streams if not s.is_logical() and is_ad_type(s.mime)}
    for s in out.streams:
        if is_ad_type(s.mime):
            problems.append("output keeps stream header %d (%s)" % (s.number, s.mime))
        if s.is_logical() and s.type_specific.streams and \
                all(n in removed for n in s.type_specific.streams):
            problems.append("output keeps logical header %d of removed streams" % s.number)
    kept_headers = [(s.number, s.mime) for s in src.streams
                    if not is_ad_type(s.mime) and not (
                        s.is_logical() and s.type_specific.streams and
                        all(n in removed for n in s.type_specific.streams))]
    if [(s.number, s.mime) for s in out.streams] != kept_headers:
        problems.append("stream headers differ: %s" % [(s.number, s.mime) for s in out.streams])

    want = [p.key() for p in src.packets() if p.stream not in removed]
    got = [p.key() for p in out.packets()]
    if want != got:
        first = next((i for i, (a, b) in enumerate(zip(want, got)) if a != b), min(len(want),
                                                                                    len(got)))
        problems.append("media packets differ (%d kept, %d expected, first difference at %d)" %
                        (len(got), len(want), first))

    cont = list(src.cont or (b"", b"", b"", b""))
    for i, text in enumerate(texts):
        if text is not None:
            cont[i] = text
    if texts and any(t is not None for t in texts) or src.cont is not None:
        if out.cont != tuple(cont):
            problems.append("CONT is %r, expected %r" % (out.cont, tuple(cont)))

    headers, streams = expected_counts(src, out)
    if out.num_headers != headers:
        problems.append(".RMF counts %d chunks, expected %d" % (out.num_headers, headers))
    if out.prop["num_streams"] != streams:
        problems.append("PROP counts %d streams, expected %d" % (out.prop["num_streams"], streams))
    problems += _check_offsets(out)
    return problems


def chunk_counts(rm):
    """The chunks after .RMF: those before the first DATA chunk, and all of them."""
    section = every = 0
    in_section = True
    for fourcc, _offset, _size in rm.chunks:
        if fourcc == b".RMF":
            continue
        if fourcc == b"DATA":
            in_section = False
        every += 1
        section += in_section
    return section, every


def expected_counts(src, out):
    """The counts of .RMF and PROP that describe out, counted the way src counted; a count of
    src that fits no way gives every chunk with .RMF, and every stream header."""
    s_in, a_in = chunk_counts(src)
    s_out, a_out = chunk_counts(out)
    ways = ((s_in, s_out), (s_in + 1, s_out + 1), (a_in, a_out), (a_in + 1, a_out + 1))
    headers = next((o for i, o in ways if i == src.num_headers), a_out + 1)
    physical_in = sum(1 for s in src.streams if not s.is_logical())
    physical_out = sum(1 for s in out.streams if not s.is_logical())
    streams = physical_out if src.prop["num_streams"] == physical_in else len(out.streams)
    return headers, streams


def _check_offsets(out):
    problems = []
    packets = list(out.packets())
    data_offsets = [off for off, _n, _next in out.data_headers]
    index_offsets = [off for off, _next in out.index_headers]
    p = out.prop
    if p["num_packets"] != len(packets):
        problems.append("PROP counts %d packets, the file has %d" %
                        (p["num_packets"], len(packets)))
    if p["data_offset"] != data_offsets[0]:
        problems.append("PROP data offset %d, first DATA at %d" %
                        (p["data_offset"], data_offsets[0]))
    if p["index_offset"] != (index_offsets[0] if index_offsets else 0):
        problems.append("PROP index offset %d, indexes at %s" % (p["index_offset"], index_offsets))
    for i, (off, n, nxt) in enumerate(out.data_headers):
        expect = data_offsets[i + 1] if i + 1 < len(data_offsets) else 0
        if nxt != expect or n != len(out.data_chunks[i]):
            problems.append("DATA at %d: %d packets, next %d" % (off, n, nxt))
    for i, (off, nxt) in enumerate(out.index_headers):
        if nxt != (index_offsets[i + 1] if i + 1 < len(index_offsets) else 0):
            problems.append("INDX at %d: next %d" % (off, nxt))
    by_offset = {pk.offset: (n, pk) for n, pk in enumerate(packets)}
    for index in out.indexes:
        for ts, off, count in index.records:
            hit = by_offset.get(off)
            if hit is None or hit[1].stream != index.stream or hit[1].timestamp != ts:
                problems.append("index of stream %d: entry at %d hits no packet of its own" %
                                (index.stream, off))
                break
            if count != hit[0]:
                problems.append("index of stream %d: entry counts %d, packet number is %d" %
                                (index.stream, count, hit[0]))
                break
    chunk_of = {}
    for i, chunk in enumerate(out.data_chunks):
        for pk in chunk:
            chunk_of.setdefault(pk.stream, data_offsets[i])
    for s in out.streams:
        if not s.is_logical():
            continue
        for n, off in zip(s.type_specific.streams, s.type_specific.data_offsets):
            if off != chunk_of.get(n, data_offsets[0]):
                problems.append("logical header %d names DATA at %d for stream %d" %
                                (s.number, off, n))
    return problems


def ffprobe_media(path):
    """Audio and video packets as ffprobe sees them: (pts, size, MD5 of the data) per type."""
    run = subprocess.run(
        ["ffprobe", "-v", "error", "-show_packets", "-show_streams", "-show_data_hash", "MD5",
         "-of", "json", path], capture_output=True, text=True)
    if run.returncode != 0:
        raise AssertionError("ffprobe failed on %s: %s" % (path, run.stderr))
    info = json.loads(run.stdout)
    kind = {s["index"]: s["codec_type"] for s in info["streams"]}
    media = {"audio": [], "video": [], "errors": run.stderr.strip()}
    for pk in info.get("packets", []):
        k = kind.get(pk["stream_index"])
        if k in ("audio", "video"):
            media[k].append((pk.get("pts"), pk["size"], pk["data_hash"]))
    media["codecs"] = sorted(s.get("codec_name", "?") for s in info["streams"]
                             if s["codec_type"] in ("audio", "video"))
    return media
