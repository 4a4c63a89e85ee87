#!/usr/bin/env python3
"""Writes the expected values for the Matroska files in this folder.

Everything is read from mkvinfo's element dump (mkvinfo -v -v -X -P -z: every element
with its position and size, every frame as a hex dump), then checked against what
ffprobe reports for the same file and, for H.264 and HEVC, against an ffmpeg decode of
the rewritten frames. Any disagreement stops the script. See README.md for the tables.

Usage:
  make_expected.py [--legacy] FILE.mkv [FILE.mkv ...]
      --legacy also writes the tables of the first file set (packets.tsv, the short
      tracks.tsv, h264config.hex) exactly as before frames.tsv existed.
  make_expected.py --damaged ORIGINAL.mkv CLUSTER_INDEX DAMAGED.mkv
      DAMAGED.mkv is ORIGINAL.mkv with the header of one cluster destroyed; its frames
      are those of the original without the ones of that cluster.
"""

import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import zlib
from fractions import Fraction

TRACK_TYPES = {"video": 1, "audio": 2, "complex": 3, "logo": 16, "subtitles": 17,
               "buttons": 18, "control": 32}
LACING_NAMES = {0: "none", 1: "xiph", 2: "fixed", 3: "ebml"}
START_CODE = b"\x00\x00\x00\x01"
H264_CODEC_ID = "V_MPEG4/ISO/AVC"
HEVC_CODEC_ID = "V_MPEGH/ISO/HEVC"
COMPRESSION_NAMES = {None: "none", 0: "zlib", 3: "header_stripping"}
# Frames of a track without BlockDuration or DefaultDuration end at the next presentation
# time among this many following blocks of the track.
LOOKAHEAD_BLOCKS = 16

LINE = re.compile(r"^(\|?)( *)\+ (.*?)(?: at (\d+) size (\d+)(?: data size (\d+))?)?$")
BLOCK = re.compile(r"^(Simple block|Block): (.*?)track number (\d+), (\d+) frame\(s\), "
                   r"timestamp (-?[0-9:.]+)$")


def Run(args):
    return subprocess.run(args, check=True, capture_output=True).stdout


def Fail(path, message):
    sys.exit("%s: %s" % (os.path.basename(path), message))


def TimeToNs(text):
    """mkvinfo prints times as [-]HH:MM:SS.nnnnnnnnn."""
    sign = -1 if text.startswith("-") else 1
    hours, minutes, seconds = text.lstrip("-").split(":")
    whole, fraction = seconds.split(".")
    ns = ((int(hours) * 60 + int(minutes)) * 60 + int(whole)) * 10**9 + int(fraction.ljust(9, "0"))
    return sign * ns


def ReadVint(data, pos):
    first = data[pos]
    length = 1
    while not first & (0x80 >> (length - 1)):
        length += 1
    value = first & ((0x80 >> (length - 1)) - 1)
    for byte in data[pos + 1:pos + length]:
        value = (value << 8) | byte
    return value, length


class Element:
    def __init__(self, depth, text, pos, size, data_size):
        self.depth, self.text = depth, text
        self.pos = int(pos) if pos else None
        self.size = int(size) if size else None
        self.data_size = int(data_size) if data_size else None

    def Value(self):
        return self.text.split(": ", 1)[1]

    def Hex(self):
        return bytes.fromhex(self.text.split("hexdump", 1)[1]) if "hexdump" in self.text else b""


def ReadDump(path):
    out = Run(["mkvinfo", "-v", "-v", "-X", "-P", "-z", path]).decode("utf-8")
    elements = []
    for line in out.splitlines():
        m = LINE.match(line)
        if not m:
            Fail(path, "unexpected mkvinfo line: " + line[:120])
        elements.append(Element(len(m.group(1)) + len(m.group(2)), m.group(3),
                                m.group(4), m.group(5), m.group(6)))
    return elements


def ParseFile(path):
    """Collects info, tracks, clusters, blocks and cues from the mkvinfo dump."""
    raw = open(path, "rb").read()
    f = {"timecode_scale": 1000000, "duration_ns": 0, "segment_data": None, "seek_head": 0,
         "tracks": [], "clusters": [], "blocks": [], "cues": [], "raw": raw}
    top = None
    track = block = cue = None
    for e in ReadDump(path):
        name = e.text.split(":", 1)[0]
        if e.depth == 0:
            if e.text.startswith("Segment"):
                f["segment_data"] = SegmentData(raw, e)
            continue
        if e.depth == 1:
            top = name.split(" at ")[0]
            f["seek_head"] = f["seek_head"] or int(top == "Seek head")
            if top == "Cluster" and e.pos is None:
                # "Cluster at N size is unknown": a 4-byte ID, then the size field.
                pos = int(re.search(r" at (\d+) size is unknown", e.text).group(1))
                width = 1
                while not raw[pos + 4] & (0x80 >> (width - 1)):
                    width += 1
                f["clusters"].append({"pos": pos, "header_size": 4 + width, "timecode_ns": None})
            elif top == "Cluster":
                f["clusters"].append({"pos": e.pos, "header_size": e.size - e.data_size,
                                      "timecode_ns": None})
            continue
        if top == "Segment information" and e.depth == 2:
            if name == "Timestamp scale":
                f["timecode_scale"] = int(e.Value())
            elif name == "Duration":
                f["duration_ns"] = TimeToNs(e.Value())
        elif top == "Tracks":
            if e.depth == 2 and name == "Track":
                track = {"number": 0, "type": 0, "codec_id": "", "private": b"",
                         "private_size": 0, "default_duration": 0, "pixel_width": 0,
                         "pixel_height": 0, "display_width": 0, "display_height": 0,
                         "frame_rate": "0", "sampling_frequency": "0", "channels": 0,
                         "bit_depth": 0, "codec_delay_ns": 0, "output_sampling_frequency": None,
                         "encodings": []}
                f["tracks"].append(track)
            elif e.depth >= 3 and track is not None:
                ReadTrackField(track, name, e, raw)
        elif top == "Cluster":
            if e.depth == 2 and name == "Cluster timestamp":
                f["clusters"][-1]["timecode_ns"] = TimeToNs(e.Value())
            elif e.depth == 2 and name == "Block group":
                block = {"kind": "group", "references": 0, "frames": [], "element_pos": e.pos}
            elif BLOCK.match(e.text):
                m = BLOCK.match(e.text)
                if m.group(1) == "Simple block":
                    block = {"kind": "simple", "references": 0, "frames": [],
                             "element_pos": e.pos}
                block.update(flags=[w.strip() for w in m.group(2).split(",") if w.strip()],
                             track=int(m.group(3)), count=int(m.group(4)),
                             time_ns=TimeToNs(m.group(5)), cluster=len(f["clusters"]) - 1,
                             pos=e.pos, size=e.size, data_size=e.data_size)
                ReadBlockHeader(path, raw, block, f)
                f["blocks"].append(block)
            elif name == "Reference block":
                block["references"] += 1
            elif name == "Block duration":
                block["duration_ticks"] = ToTicks(TimeToNs(e.Value()), f["timecode_scale"])
            elif name == "Discard padding":
                block["discard_padding_ns"] = int(e.Value())
            elif e.text.startswith("Frame hexdump"):
                frame = e.Hex()
                if len(frame) != e.size or raw[e.pos:e.pos + e.size] != frame:
                    Fail(path, "frame dump at %d differs from the file bytes" % e.pos)
                block["frames"].append(frame)
        elif top == "Cues":
            if e.depth == 2 and name == "Cue point":
                cue = {"time_ns": 0, "positions": []}
                f["cues"].append(cue)
            elif name == "Cue time":
                cue["time_ns"] = TimeToNs(e.Value())
            elif name == "Cue track positions":
                cue["positions"].append({"track": 0, "cluster": 0, "relative": ""})
            elif name == "Cue track":
                cue["positions"][-1]["track"] = int(e.Value())
            elif name == "Cue cluster position":
                cue["positions"][-1]["cluster"] = int(e.Value())
            elif name == "Cue relative position":
                cue["positions"][-1]["relative"] = e.Value()
    for b in f["blocks"]:
        if len(b["frames"]) != b["count"]:
            Fail(path, "block at %d: %d frames dumped, %d announced"
                 % (b["pos"], len(b["frames"]), b["count"]))
    return f


def SegmentData(raw, e):
    """Offset of the Segment's first child. mkvinfo gives no sizes for a Segment of unknown
    size ("Segment: size unknown at P size is unknown"); its header is then read from the file."""
    if e.pos is not None:
        return e.pos + e.size - e.data_size
    pos = int(re.search(r" at (\d+) size is unknown$", e.text).group(1))
    return pos + 4 + ReadVint(raw, pos + 4)[1]


def ReadTrackField(track, name, e, raw):
    if name == "Track number":
        track["number"] = int(e.Value().split()[0])
    elif name == "Track type":
        track["type"] = TRACK_TYPES[e.Value()]
    elif name == "Codec ID":
        track["codec_id"] = e.Value()
    elif name == "Codec's private data":
        track["private"] = e.Hex()
        track["private_size"] = int(e.Value().split()[1])
        if len(track["private"]) != track["private_size"]:
            raise ValueError("codec private dump is incomplete")
    elif name == "Default duration":
        track["default_duration"] = TimeToNs(e.Value().split()[0])
    elif name in ("Pixel width", "Pixel height", "Display width", "Display height",
                  "Channels", "Bit depth"):
        track[name.lower().replace(" ", "_")] = int(e.Value())
    elif name == "Frame rate":
        track["frame_rate"] = FormatFloat(e.Value().split()[0])
    elif name == "Sampling frequency":
        track["sampling_frequency"] = FormatFloat(e.Value())
    elif name == "Output sampling frequency":
        track["output_sampling_frequency"] = FormatFloat(e.Value())
    elif name == "Codec-inherent delay":
        track["codec_delay_ns"] = TimeToNs(e.Value())
    elif name == "Content encoding":
        # Matroska defaults: order 0, scope 1 (all frames), type 0 (compression).
        track["encodings"].append({"order": 0, "scope": 1, "type": 0, "algorithm": None,
                                   "settings": b""})
    elif name in ("Order", "Scope", "Type"):
        track["encodings"][-1][name.lower()] = int(e.Value().split()[0])
    elif name == "Content compression":
        track["encodings"][-1]["algorithm"] = 0   # zlib unless ContentCompAlgo says otherwise
    elif name == "Algorithm":
        track["encodings"][-1]["algorithm"] = int(e.Value().split()[0])
    elif name == "Settings":
        # mkvinfo shortens long settings; the bytes come from the file.
        start = e.pos + e.size - e.data_size
        track["encodings"][-1]["settings"] = raw[start:start + e.data_size]


def FormatFloat(text):
    return format(float(text), "g")


def ReadBlockHeader(path, raw, block, f):
    """Lacing lives in the flags byte, which mkvinfo does not print: read it from the file,
    with the relative timecode, and check the block time mkvinfo gives against them."""
    pos = block["pos"] + block["size"] - block["data_size"]
    track, length = ReadVint(raw, pos)
    if track != block["track"]:
        Fail(path, "block at %d: track number %d in the file" % (block["pos"], track))
    relative = int.from_bytes(raw[pos + length:pos + length + 2], "big", signed=True)
    scale = f["timecode_scale"]
    block["ticks"] = ToTicks(f["clusters"][-1]["timecode_ns"], scale) + relative
    if block["ticks"] * scale != block["time_ns"]:
        Fail(path, "block at %d: mkvinfo time %d ns, file %d ticks"
             % (block["pos"], block["time_ns"], block["ticks"]))
    flags = raw[pos + length + 2]
    block["lacing"] = (flags >> 1) & 3
    if block["count"] > 1 and block["lacing"] == 0:
        Fail(path, "block at %d has several frames but no lacing" % block["pos"])


def AvcConfig(path, private):
    """Parameter sets of an avcC record, each behind a start code, and lengthSizeMinusOne."""
    if len(private) < 7 or private[0] != 1:
        Fail(path, "CodecPrivate is not an avcC record")
    length_size_minus_one = private[4] & 3
    pos, config = 5, b""
    for count_mask in (0x1F, 0xFF):
        count = private[pos] & count_mask
        pos += 1
        for _ in range(count):
            size = int.from_bytes(private[pos:pos + 2], "big")
            pos += 2
            config += START_CODE + private[pos:pos + size]
            pos += size
    if pos > len(private):
        Fail(path, "avcC record is truncated")
    return config, length_size_minus_one


def HevcConfig(path, private):
    """Every NAL unit of every hvcC array in record order, each behind a start code, and
    lengthSizeMinusOne."""
    if len(private) < 23 or private[0] != 1:
        Fail(path, "CodecPrivate is not an hvcC record")
    length_size_minus_one = private[21] & 3
    pos, config = 23, b""
    for _ in range(private[22]):
        count = int.from_bytes(private[pos + 1:pos + 3], "big")
        pos += 3
        for _ in range(count):
            size = int.from_bytes(private[pos:pos + 2], "big")
            pos += 2
            config += START_CODE + private[pos:pos + size]
            pos += size
    if pos != len(private):
        Fail(path, "hvcC record does not end with its last NAL unit")
    return config, length_size_minus_one


def VideoConfig(path, t):
    """(config, lengthSizeMinusOne, raw stream format) of an H.264 or HEVC track, else None."""
    if t["codec_id"] == H264_CODEC_ID:
        return AvcConfig(path, t["private"]) + ("h264",)
    if t["codec_id"] == HEVC_CODEC_ID:
        return HevcConfig(path, t["private"]) + ("hevc",)
    return None


def ToStartCodes(path, frame, length_size):
    out, pos = b"", 0
    while pos < len(frame):
        size = int.from_bytes(frame[pos:pos + length_size], "big")
        pos += length_size
        if pos + size > len(frame):
            Fail(path, "NAL unit runs past the end of its frame")
        out += START_CODE + frame[pos:pos + size]
        pos += size
    return out


def To100ns(ns):
    """Block, cluster and cue times in 100 ns: ticks x TimecodeScale / 100, truncated."""
    if ns < 0:
        raise ValueError("negative time %d ns" % ns)
    return ns // 100


def TicksTo100ns(ticks, scale):
    """ticks x TimecodeScale / 100, truncated toward zero also for negative times."""
    ns = ticks * scale
    return ns // 100 if ns >= 0 else -(-ns // 100)


def ToTicks(ns, scale):
    if ns % scale:
        raise ValueError("time %d ns is not a whole number of ticks" % ns)
    return ns // scale


def Compression(path, t):
    """(algorithm, settings) of the track's one compression layer, or (None, b"")."""
    layers = [e for e in t["encodings"] if e["type"] == 0]
    if len(t["encodings"]) > 1 or len(layers) != len(t["encodings"]):
        Fail(path, "track %d: only a single compression layer is handled" % t["number"])
    if layers and (layers[0]["algorithm"] not in COMPRESSION_NAMES or layers[0]["scope"] != 1):
        Fail(path, "track %d: unexpected content encoding %s" % (t["number"], layers[0]))
    return (layers[0]["algorithm"], layers[0]["settings"]) if layers else (None, b"")


def BlockKey(b):
    """The SimpleBlock key flag, or for a Block: 1 when its group has no ReferenceBlock."""
    return int("key" in b["flags"]) if b["kind"] == "simple" else int(b["references"] == 0)


def BuildPackets(path, f):
    """Rows of the first packet table: start times by the earlier rule (see README.md)."""
    rows = []
    for index, t in enumerate(f["tracks"]):
        if t["type"] not in (1, 2):
            continue
        length_size = None
        if t["codec_id"] == H264_CODEC_ID:
            length_size = AvcConfig(path, t["private"])[1] + 1
        blocks = [b for b in f["blocks"] if b["track"] == t["number"]]
        for j, b in enumerate(blocks):
            t0 = To100ns(b["time_ns"])
            n = len(b["frames"])
            key = BlockKey(b)
            step = None
            if j + 1 < len(blocks):
                t1 = To100ns(blocks[j + 1]["time_ns"])
                step = (float(t1) - float(t0)) / n
            for k, frame in enumerate(b["frames"]):
                start = int(float(t0) + k * step) if step is not None else t0
                delivered = ToStartCodes(path, frame, length_size) if length_size else frame
                rows.append([index, start, len(delivered), key,
                             hashlib.md5(delivered).hexdigest()])
    return rows


def FlacBlockSize(frame):
    """Samples in a FLAC frame, from its header (sync code, block size code, the UTF-8 coded
    frame or sample number, an 8- or 16-bit block size, an 8- or 16-bit rate, CRC-8), or None
    when the header does not read cleanly."""
    if len(frame) < 6 or frame[0] != 0xFF or frame[1] & 0xFE != 0xF8 or frame[3] & 1 or \
            frame[3] >> 4 > 10 or (frame[3] >> 1) & 7 == 3:
        return None
    code, rate_code = frame[2] >> 4, frame[2] & 15
    ones = 0
    while ones < 8 and frame[4] & (0x80 >> ones):
        ones += 1
    if ones in (1, 8) or code == 0 or rate_code == 15:
        return None
    pos = 4 + max(ones, 1)
    size = {6: 1, 7: 2}.get(code, 0)
    block_size = int.from_bytes(frame[pos:pos + size], "big") + 1 if size else \
        192 if code == 1 else 576 << (code - 2) if code <= 5 else 256 << (code - 8)
    pos += size + {12: 1, 13: 2, 14: 2}.get(rate_code, 0)
    crc = 0
    for byte in frame[:pos]:
        crc ^= byte
        for _ in range(8):
            crc = (crc << 1 ^ 0x107) if crc & 0x80 else crc << 1
    return block_size if pos < len(frame) and crc == frame[pos] else None


def FrameTimes(t, blocks, j, scale, previous):
    """(start, end) of each frame of blocks[j], in 100 ns; `previous` is the duration of
    the track's frame before this block. Returns the rule used as well (1 to 6)."""
    b = blocks[j]
    t0 = TicksTo100ns(b["ticks"], scale)
    n = len(b["frames"])
    if "duration_ticks" in b:
        total = TicksTo100ns(b["duration_ticks"], scale)
        return [(t0 + k * total // n, t0 + (k + 1) * total // n) for k in range(n)], 1
    # PCM and FLAC frames say how many samples they hold.
    rate = int(float(t["sampling_frequency"]) or 8000)
    samples = None
    if t["codec_id"].startswith("A_PCM/") and t["bit_depth"]:
        align = (t["channels"] or 1) * ((t["bit_depth"] + 7) // 8)
        samples = Fraction(sum(len(frame) for frame in b["frames"]), align)
    elif t["codec_id"] == "A_FLAC" and n == 1:
        samples = FlacBlockSize(b["frames"][0])
    if samples is not None:
        total = samples * 10**7 / rate
        return [(t0 + int(k * total / n), t0 + int((k + 1) * total / n)) for k in range(n)], 2
    d = t["default_duration"]
    if d > 0:
        return [(t0 + k * d // 100, t0 + (k + 1) * d // 100) for k in range(n)], 3
    later = [TicksTo100ns(x["ticks"], scale) for x in blocks[j + 1:j + 1 + LOOKAHEAD_BLOCKS]]
    if n > 1 and later and later[0] > t0:
        total = later[0] - t0
        return [(t0 + k * total // n, t0 + (k + 1) * total // n) for k in range(n)], 4
    # The next frame in presentation order may have been decoded before this one.
    earlier = [TicksTo100ns(x["ticks"], scale) for x in blocks[max(0, j - LOOKAHEAD_BLOCKS):j]]
    if n == 1 and any(x > t0 for x in later + earlier):
        return [(t0, min(x for x in later + earlier if x > t0))], 5
    return [(t0 + k * previous, t0 + (k + 1) * previous) for k in range(n)], 6


def BuildFrames(path, f):
    """One row per frame of every audio and video track, as delivered to a host, with
    its start and end time; and one row per block."""
    rows, block_rows = [], []
    scale = f["timecode_scale"]
    for index, t in enumerate(f["tracks"]):
        if t["type"] not in (1, 2):
            continue
        config = VideoConfig(path, t)
        algorithm, settings = Compression(path, t)
        blocks = [b for b in f["blocks"] if b["track"] == t["number"]]
        t["frames"], previous = [], 0
        for j, b in enumerate(blocks):
            times, rule = FrameTimes(t, blocks, j, scale, previous)
            key = BlockKey(b)
            block_rows.append([index, b["cluster"], TicksTo100ns(b["ticks"], scale), b["kind"],
                               LACING_NAMES[b["lacing"]], len(b["frames"]), key,
                               b["references"], len(t["frames"]), b["element_pos"]])
            for lace, (stored, (start, end)) in enumerate(zip(b["frames"], times)):
                delivered = stored
                probed = stored            # the bytes ffprobe reports for the frame
                if algorithm == 3:
                    delivered = probed = settings + stored
                elif algorithm == 0:
                    probed = zlib.decompress(stored)
                if config:
                    delivered = ToStartCodes(path, delivered, config[1] + 1)
                if end < start:
                    Fail(path, "track %d: frame ends before it starts" % index)
                rows.append([index, b["cluster"], start, end, len(delivered), key,
                             hashlib.md5(delivered).hexdigest(), hashlib.md5(stored).hexdigest()])
                t["frames"].append({"stored": stored, "delivered": delivered, "probed": probed,
                                    "key": key, "start": start, "end": end, "rule": rule,
                                    "lace": lace, "padding": Fraction(
                                        b.get("discard_padding_ns", 0), 100) if rule == 1 else 0,
                                    "cluster": b["cluster"], "row": rows[-1]})
            previous = times[-1][1] - times[-1][0]
    return rows, block_rows


def CheckAgainstProbe(path, f, probe_path=None):
    """ffprobe's demuxer must see the same tracks and the same frames in the same order,
    at the same times. Frames of a cluster left out of f (see --damaged) are expected to
    be missing from ffprobe's list too."""
    probe = json.loads(Run(["ffprobe", "-v", "error", "-of", "json", "-show_format",
                            "-show_streams", "-show_packets", "-show_data_hash", "md5",
                            probe_path or path]))
    # Attachments are streams to ffprobe (after the tracks), not tracks.
    streams = [s for s in probe["streams"] if s["codec_type"] != "attachment"]
    if len(streams) != len(f["tracks"]):
        Fail(path, "ffprobe sees %d streams, mkvinfo %d tracks" % (len(streams), len(f["tracks"])))
    kinds = {1: "video", 2: "audio", 17: "subtitle"}
    notes = []
    for index, (s, t) in enumerate(zip(streams, f["tracks"])):
        if s["codec_type"] != kinds.get(t["type"]):
            Fail(path, "track %d: ffprobe type %s" % (index, s["codec_type"]))
        if t["type"] == 1 and (s["width"], s["height"]) != (t["pixel_width"], t["pixel_height"]):
            Fail(path, "track %d: ffprobe size %dx%d" % (index, s["width"], s["height"]))
        t["pix_fmt"] = s.get("pix_fmt", "") if t["type"] == 1 else ""
        if t["type"] == 2:
            rate = t["output_sampling_frequency"] or t["sampling_frequency"]
            if float(s["sample_rate"]) != float(rate):
                Fail(path, "track %d: ffprobe sample rate %s" % (index, s["sample_rate"]))
            if s["channels"] != (t["channels"] or 1):
                Fail(path, "track %d: ffprobe channels %d" % (index, s["channels"]))
        if t["private_size"] and s.get("extradata_size", 0) != t["private_size"]:
            notes.append("track %d: ffprobe extradata %d bytes, CodecPrivate %d"
                         % (index, s.get("extradata_size", 0), t["private_size"]))
    if f["duration_ns"]:
        probe_ns = Fraction(probe["format"]["duration"]) * 10**9
        if abs(probe_ns - f["duration_ns"]) > 1000:
            Fail(path, "ffprobe duration %s s" % probe["format"]["duration"])
    for index, t in enumerate(f["tracks"]):
        if "frames" not in t:
            continue
        base = Fraction(streams[index]["time_base"])
        unit = base * 10**7     # one time-base unit in 100 ns
        delay = Fraction(t["codec_delay_ns"], 100)
        packets = [p for p in probe["packets"] if p["stream_index"] == index]
        estimates = {}
        if len(packets) != len(t["frames"]):
            Fail(path, "track %d: ffprobe %d packets, mkvinfo %d frames"
                 % (index, len(packets), len(t["frames"])))
        for n, (p, fr) in enumerate(zip(packets, t["frames"])):
            where = "track %d frame %d" % (index, n)
            if int(p["size"]) != len(fr["probed"]):
                Fail(path, where + ": ffprobe size %s" % p["size"])
            if p["data_hash"] != "MD5:" + hashlib.md5(fr["probed"]).hexdigest():
                Fail(path, where + ": ffprobe md5 differs")
            if int(p["flags"].startswith("K")) != fr["key"]:
                Fail(path, where + ": ffprobe flags %s" % p["flags"])
            # ffprobe moves a track's times back by its CodecDelay, and steps through the
            # frames of a laced block by a duration rounded to its time base, so its time
            # of lace k can be k units further off.
            if p.get("pts") is not None:
                probe_time = Fraction(p["pts"]) * unit
                if abs(probe_time - (fr["start"] - delay)) > (fr["lace"] + 1) * unit:
                    Differ(path, estimates, fr, where, n, "start", probe_time - delay, fr["start"])
            # A BlockDuration leaves out the DiscardPadding at the end of the frame;
            # ffprobe's duration is that of the whole frame.
            if p.get("duration") is not None:
                probe_duration = Fraction(p["duration"]) * unit - fr["padding"]
                if abs(probe_duration - (fr["end"] - fr["start"])) > unit:
                    Differ(path, estimates, fr, where, n, "duration", probe_duration,
                           fr["end"] - fr["start"])
        for (rule, what), cases in sorted(estimates.items()):
            n, theirs, mine = cases[0]
            worst = max(abs(a - b) for _, a, b in cases) / 10**4
            notes.append("track %d %s rule %d: %d %ss differ from ffprobe by up to %.3f ms "
                         "(first: frame %d, ffprobe %.4f ms, table %.4f ms)"
                         % (index, t["codec_id"], rule, len(cases), what, worst, n,
                            float(theirs) / 10**4, mine / 10**4))
    return notes


def Differ(path, estimates, fr, where, n, what, theirs, mine):
    """A frame time that differs from ffprobe's stops the script, except where the table
    estimates it (rules 4 and 6: durations, and the starts of later frames of a lace),
    which ffprobe derives from the codec data instead; those are collected for the report."""
    if fr["rule"] not in (4, 6) or (what == "start" and fr["lace"] == 0):
        Fail(path, "%s: ffprobe %s %s, table %d (rule %d)"
             % (where, what, float(theirs), mine, fr["rule"]))
    estimates.setdefault((fr["rule"], what), []).append((n, theirs, mine))


def CheckDecode(path, index, config, stream_format, frames):
    """Decoding config + rewritten frames as a raw stream must give the pictures of the file."""
    with tempfile.TemporaryDirectory() as tmp:
        stream = os.path.join(tmp, "track." + stream_format)
        with open(stream, "wb") as out:
            out.write(config)
            for fr in frames:
                out.write(fr["delivered"])
        ffmpeg = ["ffmpeg", "-v", "error", "-nostdin", "-threads", "1"]
        mine = Run(ffmpeg + ["-f", stream_format, "-i", stream, "-f", "framemd5", "-"])
        theirs = Run(ffmpeg + ["-i", path, "-map", "0:%d" % index, "-f", "framemd5", "-"])

    def Hashes(text):
        return [line.split(",")[-1].strip() for line in text.decode().splitlines()
                if line and not line.startswith("#")]

    mine, theirs = Hashes(mine), Hashes(theirs)
    if not mine or mine != theirs:
        Fail(path, "track %d: decoding the rewritten frames gives other pictures" % index)
    return len(mine)


def WriteTsv(path, header, rows):
    with open(path, "w") as out:
        out.write("\t".join(header) + "\n")
        for row in rows:
            out.write("\t".join(str(v) for v in row) + "\n")


TRACK_COLUMNS = ["index", "track_number", "track_type", "codec_id", "pixel_width",
                 "pixel_height", "display_width", "display_height", "default_duration_ns",
                 "frame_rate", "sampling_frequency", "channels", "bit_depth",
                 "codec_private_size", "segment_duration_ns", "timecode_scale"]
# Not in the first file set.
EXTRA_TRACK_COLUMNS = ["compression", "content_comp_settings", "pix_fmt", "seek_head"]
FRAME_COLUMNS = ["track_index", "cluster_index", "start_100ns", "end_100ns", "size", "key",
                 "md5", "stored_md5"]


def TrackRows(path, f, legacy):
    rows = []
    for i, t in enumerate(f["tracks"]):
        row = [i, t["number"], t["type"], t["codec_id"], t["pixel_width"], t["pixel_height"],
               t["display_width"], t["display_height"], t["default_duration"], t["frame_rate"],
               t["sampling_frequency"], t["channels"], t["bit_depth"], t["private_size"],
               f["duration_ns"], f["timecode_scale"]]
        if not legacy:
            algorithm, settings = Compression(path, t)
            row += [COMPRESSION_NAMES[algorithm], settings.hex(), t["pix_fmt"], f["seek_head"]]
        rows.append(row)
    return rows


def WriteConfigs(path, stem, f, decode):
    """NAME.config.hex: one key/value group per H.264 or HEVC track. With `decode`, first
    checks each track by decoding it; returns what was checked."""
    groups, summary = [], []
    for index, t in enumerate(f["tracks"]):
        config = VideoConfig(path, t)
        if not config:
            continue
        if decode:
            pictures = CheckDecode(path, index, config[0], config[2], t["frames"])
            summary.append("track %d: %d decoded pictures match" % (index, pictures))
        groups.append([("track_index", index), ("codec_id", t["codec_id"]),
                       ("length_size_minus_one", config[1]), ("config_size", len(config[0])),
                       ("config", config[0].hex())])
    if groups:
        with open(stem + ".config.hex", "w") as out:
            out.write("key\tvalue\n")
            for group in groups:
                for key, value in group:
                    out.write("%s\t%s\n" % (key, value))
    return summary


def WriteLegacyTables(path, stem, f):
    """The tables of the first file set, unchanged in content and format."""
    WriteTsv(stem + ".packets.tsv", ["track_index", "start_100ns", "size", "key", "md5"],
             BuildPackets(path, f))
    for index, t in enumerate(f["tracks"]):
        if t["codec_id"] != H264_CODEC_ID:
            continue
        config, length_size_minus_one = AvcConfig(path, t["private"])
        with open(stem + ".h264config.hex", "w") as out:
            out.write("key\tvalue\n")
            out.write("track_index\t%d\n" % index)
            out.write("length_size_minus_one\t%d\n" % length_size_minus_one)
            out.write("config_size\t%d\n" % len(config))
            out.write("config\t%s\n" % config.hex())


def Process(path, legacy):
    f = ParseFile(path)
    stem = os.path.splitext(path)[0]
    rows, block_rows = BuildFrames(path, f)
    notes = CheckAgainstProbe(path, f)

    WriteTsv(stem + ".tracks.tsv",
             TRACK_COLUMNS + ([] if legacy else EXTRA_TRACK_COLUMNS),
             TrackRows(path, f, legacy))
    WriteTsv(stem + ".frames.tsv", FRAME_COLUMNS, rows)
    WriteTsv(stem + ".blocks.tsv",
             ["track_index", "cluster_index", "block_time_100ns", "kind", "lacing", "frames",
              "key", "references", "first_frame"] + ([] if legacy else ["file_offset"]),
             [row[:-1] if legacy else row for row in block_rows])
    scale = f["timecode_scale"]
    WriteTsv(stem + ".clusters.tsv", ["cluster_index", "file_offset", "segment_offset",
                                      "timecode", "time_100ns"],
             [[i, c["pos"], c["pos"] - f["segment_data"], ToTicks(c["timecode_ns"], scale),
               To100ns(c["timecode_ns"])] for i, c in enumerate(f["clusters"])])
    cluster_at = {c["pos"] - f["segment_data"]: i for i, c in enumerate(f["clusters"])}
    WriteTsv(stem + ".cues.tsv", ["cue_time", "cue_time_100ns", "track_number",
                                  "cluster_position", "cluster_index", "relative_position"],
             [[ToTicks(c["time_ns"], scale), To100ns(c["time_ns"]), p["track"], p["cluster"],
               cluster_at.get(p["cluster"], -1), p["relative"]]
              for c in f["cues"] for p in c["positions"]])
    if legacy:
        WriteLegacyTables(path, stem, f)
    summary = WriteConfigs(path, stem, f, decode=True)
    Report(path, f, len(f["clusters"]), rows, summary + notes)


def ProcessDamaged(original, cluster, path):
    """Expected values of a copy of `original` whose cluster `cluster` cannot be read."""
    f = ParseFile(original)
    BuildFrames(original, f)
    damaged = open(path, "rb").read()
    c = f["clusters"][cluster]
    changed = [i for i, (a, b) in enumerate(zip(f["raw"], damaged)) if a != b]
    if len(damaged) != len(f["raw"]) or not changed or changed[0] < c["pos"] \
            or changed[-1] >= c["pos"] + c["header_size"]:
        Fail(path, "differs from %s elsewhere than in the header of cluster %d"
             % (os.path.basename(original), cluster))
    for t in f["tracks"]:
        if "frames" in t:
            t["frames"] = [fr for fr in t["frames"] if fr["cluster"] != cluster]
    notes = CheckAgainstProbe(path, f, probe_path=path)
    stem = os.path.splitext(path)[0]
    rows = [fr["row"] for t in f["tracks"] for fr in t.get("frames", [])]
    WriteTsv(stem + ".tracks.tsv", TRACK_COLUMNS + EXTRA_TRACK_COLUMNS,
             TrackRows(path, f, False))
    WriteTsv(stem + ".frames.tsv", FRAME_COLUMNS, rows)
    WriteConfigs(path, stem, f, decode=False)
    Report(path, f, len(f["clusters"]) - 1, rows,
           ["cluster %d at %d left out" % (cluster, c["pos"])] + notes)


def Report(path, f, clusters, rows, notes):
    print("%s: %d tracks, %d clusters, %d frames checked against ffprobe%s"
          % (os.path.basename(path), len(f["tracks"]), clusters, len(rows),
             "; " + "; ".join(notes) if notes else ""))


def main(args):
    if args[:1] == ["--damaged"] and len(args) == 4:
        ProcessDamaged(args[1], int(args[2]), args[3])
        return
    legacy = args[:1] == ["--legacy"]
    paths = args[1:] if legacy else args
    if not paths:
        sys.exit(__doc__)
    for path in paths:
        Process(path, legacy)


if __name__ == "__main__":
    main(sys.argv[1:])
