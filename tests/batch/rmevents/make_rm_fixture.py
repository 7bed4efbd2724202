#!/usr/bin/env python3
"""Makes a RealMedia test file: audio and video from Debian's ffmpeg, then event and image-map
streams added by the test-side writer (rmfile.py), in one of several layouts.

    make_rm_fixture.py OUT.rm [--layout NAME] [--seconds S] [--video rv10|rv20]
                       [--audio real_144|ac3] [--size-mb N] [--num-headers N|every]
                       [--num-streams N] [--data-size N]

Layouts (all carry the marker "ads.example.com" in their advertising and nowhere else):
  events-v0     one DATA chunk; video, audio and a realevent stream, version-0 packets;
                CONT with advertising texts; indexes for video and for the events
  imagemap-v1   one DATA chunk; image map, encrypted realevent and a two-rate multi-rate image
                map in version-1 packets; logical headers (file info, audio, video, image map);
                indexes for video, audio and the image map
  split-data    advertising streams numbered first; audio and video in the first DATA chunk,
                advertising in a second one; no CONT
  mixed-v1      audio and video in version-1 packets too, three DATA chunks with everything
                interleaved (ffmpeg cannot read this one; the tests check it with rmfile.py)
  older-types   the older forms of the advertising types: events typed syncMM/x-pn-realvideo
                (version 0) and syncMM/x-pn-realvideo-encrypted (version 1), an image map typed
                image_map/x-pn-realvideo; indexes for video, the events and the image map
  plain         ffmpeg's file as it is (DATA size 18 bytes too large, 8 zero bytes at the end)

--num-headers writes that count into .RMF instead of the header section's ("every": every
chunk of the file, .RMF included, as the format's reference parser counts); --num-streams that
count into PROP instead of the physical streams; --data-size that size into the first DATA chunk.

--size-mb repeats the media (timestamps running on) until the file is at least that large.
The audio and video packets of every layout are ffmpeg's, byte for byte; ffprobe of the cleaned
file must therefore match ffprobe of ffmpeg's own file (see --keep-base).
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rmfile  # noqa: E402
from rmfile import LogicalStream, Packet, Stream, Index  # noqa: E402

AD_MARKER = b"ads.example.com"
AD_CONT = (b"Free movies at ads.example.com", b"ads.example.com", b"(c) ads.example.com",
           b"comment kept")

LAYOUTS = ("events-v0", "imagemap-v1", "split-data", "mixed-v1", "older-types", "plain")


def make_base(path, seconds, video, audio, size="176x144", bitrate="200k"):
    audio_args = ["-c:a", "real_144", "-ac", "1", "-ar", "8000"] if audio == "real_144" else \
        ["-c:a", "ac3", "-b:a", "96k", "-ar", "48000"]
    cmd = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
           "-f", "lavfi", "-i", "testsrc=size=%s:rate=15" % size,
           "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
           "-t", str(seconds), "-c:v", video, "-b:v", bitrate, "-g", "15"] + audio_args + [path]
    subprocess.run(cmd, check=True)


def event_payload(n, ts):
    url = b"http://ads.example.com/popup?n=%d" % n
    return struct.pack(">HII", 1, ts, ts + 10000) + b"u" + bytes([len(url)]) + url


def imagemap_payload(n, ts):
    text = (b'<MAP START=%d END=%d COORDS=0,0,176,144><AREA SHAPE=RECTANGLE COORDS=0,0,176,144 '
            b'URL="http://ads.example.com/click?n=%d" ALT="buy"></MAP>' % (ts, ts + 5000, n))
    return struct.pack(">H", len(text)) + text


def ad_packets(stream, make, seconds, step_ms, version, start=0):
    packets = []
    for n, ts in enumerate(range(start, int(seconds * 1000), step_ms)):
        payload = make(n, ts)
        if version == 0:
            packets.append(Packet.v0(stream, ts, payload, flags=2))
        else:
            packets.append(Packet.v1(stream, ts, payload, asm_rule=n % 2, asm_flags=2))
    return packets


def interleave(*lists):
    """Merges packet lists by timestamp; equal timestamps keep list order."""
    tagged = [(p.timestamp, i, j, p) for i, lst in enumerate(lists) for j, p in enumerate(lst)]
    tagged.sort(key=lambda t: t[:3])
    return [t[3] for t in tagged]


def renumber(packets, mapping):
    for p in packets:
        p.stream = mapping[p.stream]


def to_v1(p):
    flags = p.extra[1]
    return Packet(1, p.stream, p.timestamp, struct.pack(">HB", 0, flags), p.payload)


def ad_stream(number, mime, name, rate=1000):
    return Stream(number, mime, name, b"\x00\x01ad-stream", avg_bit_rate=rate, max_bit_rate=rate,
                  max_packet_size=200, avg_packet_size=120, duration=0)


def keyframe_index(stream, packets, every=1):
    chosen = [p for p in packets if p.stream == stream and p.keyframe()][::every]
    return Index(stream, [(p.timestamp, p, None) for p in chosen])


def repeat_media(base, min_bytes):
    """Repeats the base packets, timestamps running on, until their payloads reach min_bytes."""
    packets = list(base.packets())
    if not packets:
        return packets
    span = max(p.timestamp for p in packets) + 100
    total, out, round_ = 0, [], 0
    while total < min_bytes:
        for p in packets:
            out.append(Packet(p.version, p.stream, p.timestamp + round_ * span, p.extra, p.payload))
            total += p.size()
        round_ += 1
    for s in base.streams:
        s.duration = span * round_
    base.prop["duration"] = span * round_
    return out


def build(layout, base, seconds, min_bytes=0):
    media = repeat_media(base, min_bytes) if min_bytes else list(base.packets())
    seconds = max(seconds, (max(p.timestamp for p in media) + 1000) / 1000.0)
    video, audio = base.streams[0], base.streams[1]
    rm = rmfile.RmFile()
    rm.prop = dict(base.prop)
    rm.file_version = base.file_version
    if layout == "plain":
        rm.streams = [video, audio]
        rm.data_chunks = [media]
        rm.cont = base.cont
        return rm

    if layout == "events-v0":
        events = ad_packets(2, event_payload, seconds, 500, 0)
        rm.streams = [video, audio, ad_stream(2, "application/x-pn-realevent", "Event Stream")]
        rm.cont = AD_CONT
        rm.data_chunks = [interleave(media, events)]
        rm.indexes = [keyframe_index(0, media), Index(2, [(p.timestamp, p, None) for p in events])]
    elif layout == "imagemap-v1":
        maps = ad_packets(2, imagemap_payload, seconds, 700, 1)
        events = ad_packets(3, event_payload, seconds, 900, 1, start=100)
        rate_lo = ad_packets(4, imagemap_payload, seconds, 1000, 1, start=50)
        rate_hi = ad_packets(5, imagemap_payload, seconds, 500, 1, start=60)
        fileinfo = LogicalStream([], [], [(b"Title", 2, b"fixture\0"), (b"Generated By", 2,
                                                                          b"tests\0")])
        rm.streams = [
            Stream(6, "logical-fileinfo", "", fileinfo),
            video, audio,
            ad_stream(2, "application/x-pn-imagemap", "Image Map"),
            ad_stream(3, "application/x-pn-realevent-encrypted", "Events"),
            ad_stream(4, "application/x-pn-multirate-imagemap", "Image Map 1", 500),
            ad_stream(5, "application/x-pn-multirate-imagemap", "Image Map 2", 2000),
            Stream(7, "logical-video/x-pn-multirate-realvideo", "", LogicalStream([0], [0, 0])),
            Stream(8, "logical-audio/x-pn-multirate-realaudio", "", LogicalStream([1], [1])),
            Stream(9, "logical-application/x-pn-multirate-imagemap", "",
                   LogicalStream([4, 5], [4, 5, 5])),
        ]
        rm.cont = AD_CONT
        rm.data_chunks = [interleave(media, maps, events, rate_lo, rate_hi)]
        rm.indexes = [keyframe_index(0, media), keyframe_index(1, media, every=5),
                      Index(2, [(p.timestamp, p, None) for p in maps])]
    elif layout == "split-data":
        renumber(media, {0: 1, 1: 2})
        video.number, audio.number = 1, 2
        events = ad_packets(0, event_payload, seconds, 400, 0)
        maps = ad_packets(3, imagemap_payload, seconds, 600, 1)
        rm.streams = [ad_stream(0, "application/x-pn-realevent", "Events"), video, audio,
                      ad_stream(3, "application/x-pn-imagemap", "Image Map")]
        rm.data_chunks = [media, interleave(events, maps)]
        rm.indexes = [Index(0, [(p.timestamp, p, None) for p in events]), keyframe_index(1, media)]
    elif layout == "mixed-v1":
        media = [to_v1(p) if i % 3 else p for i, p in enumerate(media)]
        events = ad_packets(2, event_payload, seconds, 300, 0)
        maps = ad_packets(3, imagemap_payload, seconds, 450, 1)
        rm.streams = [video, audio, ad_stream(2, "application/x-pn-realevent", "Events"),
                      ad_stream(3, "application/x-pn-imagemap", "Image Map")]
        rm.cont = AD_CONT
        mixed = interleave(media, events, maps)
        third = len(mixed) // 3
        rm.data_chunks = [mixed[:third], mixed[third:2 * third], mixed[2 * third:]]
        rm.indexes = [Index(0, [(p.timestamp, p, None) for p in mixed if p.stream == 0][::4])]
    elif layout == "older-types":
        events = ad_packets(2, event_payload, seconds, 500, 0)
        secret = ad_packets(3, event_payload, seconds, 800, 1, start=30)
        maps = ad_packets(4, imagemap_payload, seconds, 600, 1, start=70)
        rm.streams = [video, audio, ad_stream(2, "syncMM/x-pn-realvideo", "Events"),
                      ad_stream(3, "syncMM/x-pn-realvideo-encrypted", "Events"),
                      ad_stream(4, "image_map/x-pn-realvideo", "Image Map")]
        rm.cont = AD_CONT
        rm.data_chunks = [interleave(media, events, secret, maps)]
        rm.indexes = [keyframe_index(0, media), Index(2, [(p.timestamp, p, None) for p in events]),
                      Index(4, [(p.timestamp, p, None) for p in maps])]
    else:
        raise ValueError("unknown layout %r" % layout)
    return rm


def every_chunk(rm):
    """.RMF, PROP, CONT, the stream headers, the DATA and INDX chunks."""
    return 2 + (rm.cont is not None) + len(rm.streams) + len(rm.data_chunks) + len(rm.indexes)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("output")
    ap.add_argument("--layout", default="events-v0", choices=LAYOUTS)
    ap.add_argument("--seconds", type=float, default=3)
    ap.add_argument("--video", default="rv10", choices=("rv10", "rv20"))
    ap.add_argument("--audio", default="real_144", choices=("real_144", "ac3"))
    ap.add_argument("--size-mb", type=float, default=0)
    ap.add_argument("--keep-base", metavar="PATH", help="also keep ffmpeg's own file here")
    ap.add_argument("--num-headers")
    ap.add_argument("--num-streams", type=lambda v: int(v, 0))
    ap.add_argument("--data-size", type=lambda v: int(v, 0))
    args = ap.parse_args(argv)
    changes_plain = args.num_headers or args.num_streams is not None or args.data_size is not None

    with tempfile.TemporaryDirectory() as tmp:
        base_path = args.keep_base or os.path.join(tmp, "base.rm")
        big = args.size_mb >= 20
        make_base(base_path, args.seconds, args.video, args.audio,
                  size="640x480" if big else "176x144", bitrate="4M" if big else "200k")
        if args.layout == "plain" and not args.size_mb and not changes_plain:
            with open(base_path, "rb") as src, open(args.output, "wb") as dst:
                dst.write(src.read())
            return 0
        base = rmfile.read(base_path)
        rm = build(args.layout, base, args.seconds, int(args.size_mb * 1024 * 1024))
        if args.num_headers == "every":
            rm.num_headers = every_chunk(rm)
        elif args.num_headers:
            rm.num_headers = int(args.num_headers, 0)
        rm.num_streams = args.num_streams
        rmfile.write(rm, args.output)
    if args.data_size is not None:
        first_data = next(off for fourcc, off, _ in rmfile.read(args.output).chunks
                          if fourcc == b"DATA")
        with open(args.output, "r+b") as f:
            f.seek(first_data + 4)
            f.write(struct.pack(">I", args.data_size))
    return 0


if __name__ == "__main__":
    sys.exit(main())
