#!/usr/bin/env python3
"""Writes the expected values for the Matroska files in this folder.

Everything is read from mkvinfo's element dump (mkvinfo -v -v -X -P -z: every element
with its position and size, every frame as a hex dump), then checked against what
ffprobe reports for the same file and, for H.264, against an ffmpeg decode of the
rewritten frames. Any disagreement stops the script. See README.md for the columns.

Usage: make_expected.py FILE.mkv [FILE.mkv ...]
"""

import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
from fractions import Fraction

TRACK_TYPES = {"video": 1, "audio": 2, "complex": 3, "logo": 16, "subtitles": 17,
               "buttons": 18, "control": 32}
LACING_NAMES = {0: "none", 1: "xiph", 2: "fixed", 3: "ebml"}
START_CODE = b"\x00\x00\x00\x01"
H264_CODEC_ID = "V_MPEG4/ISO/AVC"

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
    f = {"timecode_scale": 1000000, "duration_ns": 0, "segment_data": None,
         "tracks": [], "clusters": [], "blocks": [], "cues": []}
    top = None
    track = block = cue = None
    for e in ReadDump(path):
        name = e.text.split(":", 1)[0]
        if e.depth == 0:
            if e.text.startswith("Segment"):
                f["segment_data"] = e.pos + e.size - e.data_size
            continue
        if e.depth == 1:
            top = name.split(" at ")[0]
            if top == "Cluster":
                f["clusters"].append({"pos": e.pos, "timecode_ns": None})
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
                         "bit_depth": 0}
                f["tracks"].append(track)
            elif e.depth >= 3 and track is not None:
                ReadTrackField(track, name, e)
        elif top == "Cluster":
            if e.depth == 2 and name == "Cluster timestamp":
                f["clusters"][-1]["timecode_ns"] = TimeToNs(e.Value())
            elif e.depth == 2 and name == "Block group":
                block = {"kind": "group", "references": 0, "frames": []}
            elif BLOCK.match(e.text):
                m = BLOCK.match(e.text)
                if m.group(1) == "Simple block":
                    block = {"kind": "simple", "references": 0, "frames": []}
                block.update(flags=[w.strip() for w in m.group(2).split(",") if w.strip()],
                             track=int(m.group(3)), count=int(m.group(4)),
                             time_ns=TimeToNs(m.group(5)), cluster=len(f["clusters"]) - 1,
                             pos=e.pos, size=e.size, data_size=e.data_size)
                ReadBlockHeader(path, raw, block)
                f["blocks"].append(block)
            elif name == "Reference block":
                block["references"] += 1
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


def ReadTrackField(track, name, e):
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


def FormatFloat(text):
    return format(float(text), "g")


def ReadBlockHeader(path, raw, block):
    """Lacing lives in the flags byte, which mkvinfo does not print: read it from the file."""
    pos = block["pos"] + block["size"] - block["data_size"]
    track, length = ReadVint(raw, pos)
    if track != block["track"]:
        Fail(path, "block at %d: track number %d in the file" % (block["pos"], track))
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


def ToTicks(ns, scale):
    if ns % scale:
        raise ValueError("time %d ns is not a whole number of ticks" % ns)
    return ns // scale


def BuildPackets(path, f):
    """One row per frame of every audio and video track, as delivered to a host."""
    rows, block_rows = [], []
    for index, t in enumerate(f["tracks"]):
        if t["type"] not in (1, 2):
            continue
        length_size = None
        if t["codec_id"] == H264_CODEC_ID:
            length_size = AvcConfig(path, t["private"])[1] + 1
        blocks = [b for b in f["blocks"] if b["track"] == t["number"]]
        t["frames"] = []
        for j, b in enumerate(blocks):
            t0 = To100ns(b["time_ns"])
            n = len(b["frames"])
            key = int("key" in b["flags"]) if b["kind"] == "simple" else int(b["references"] == 0)
            block_rows.append([index, b["cluster"], t0, b["kind"], LACING_NAMES[b["lacing"]], n,
                               key, b["references"], len(t["frames"])])
            step = None
            if j + 1 < len(blocks):
                t1 = To100ns(blocks[j + 1]["time_ns"])
                step = (float(t1) - float(t0)) / n
            for k, frame in enumerate(b["frames"]):
                start = int(float(t0) + k * step) if step is not None else t0
                delivered = ToStartCodes(path, frame, length_size) if length_size else frame
                rows.append([index, start, len(delivered), key,
                             hashlib.md5(delivered).hexdigest()])
                t["frames"].append({"stored": frame, "delivered": delivered, "key": key,
                                    "start": start, "laced": n > 1, "block_time": t0})
    return rows, block_rows


def CheckAgainstProbe(path, f):
    """ffprobe's demuxer must see the same tracks and the same frames in the same order."""
    probe = json.loads(Run(["ffprobe", "-v", "error", "-of", "json", "-show_format",
                            "-show_streams", "-show_packets", "-show_data_hash", "md5", path]))
    streams = probe["streams"]
    if len(streams) != len(f["tracks"]):
        Fail(path, "ffprobe sees %d streams, mkvinfo %d tracks" % (len(streams), len(f["tracks"])))
    kinds = {1: "video", 2: "audio", 17: "subtitle"}
    notes = []
    for index, (s, t) in enumerate(zip(streams, f["tracks"])):
        if s["codec_type"] != kinds.get(t["type"]):
            Fail(path, "track %d: ffprobe type %s" % (index, s["codec_type"]))
        if t["type"] == 1 and (s["width"], s["height"]) != (t["pixel_width"], t["pixel_height"]):
            Fail(path, "track %d: ffprobe size %dx%d" % (index, s["width"], s["height"]))
        if t["type"] == 2:
            if float(s["sample_rate"]) != float(t["sampling_frequency"]):
                Fail(path, "track %d: ffprobe sample rate %s" % (index, s["sample_rate"]))
            if s["channels"] != (t["channels"] or 1):
                Fail(path, "track %d: ffprobe channels %d" % (index, s["channels"]))
        if t["private_size"] and s.get("extradata_size", 0) != t["private_size"]:
            notes.append("track %d: ffprobe extradata %d bytes, CodecPrivate %d"
                         % (index, s.get("extradata_size", 0), t["private_size"]))
    probe_ns = Fraction(probe["format"]["duration"]) * 10**9
    if abs(probe_ns - f["duration_ns"]) > 1000:
        Fail(path, "ffprobe duration %s s" % probe["format"]["duration"])
    for index, t in enumerate(f["tracks"]):
        if "frames" not in t:
            continue
        base = Fraction(streams[index]["time_base"])
        packets = [p for p in probe["packets"] if p["stream_index"] == index]
        if len(packets) != len(t["frames"]):
            Fail(path, "track %d: ffprobe %d packets, mkvinfo %d frames"
                 % (index, len(packets), len(t["frames"])))
        for n, (p, fr) in enumerate(zip(packets, t["frames"])):
            where = "track %d frame %d" % (index, n)
            if int(p["size"]) != len(fr["stored"]):
                Fail(path, where + ": ffprobe size %s" % p["size"])
            if p["data_hash"] != "MD5:" + hashlib.md5(fr["stored"]).hexdigest():
                Fail(path, where + ": ffprobe md5 differs")
            if int(p["flags"].startswith("K")) != fr["key"]:
                Fail(path, where + ": ffprobe flags %s" % p["flags"])
            if not fr["laced"] and p.get("pts") is not None:
                probe_time = Fraction(p["pts"]) * base * 10**7
                if probe_time != fr["start"]:
                    Fail(path, where + ": ffprobe time %s, expected %d" % (probe_time, fr["start"]))
    return notes


def CheckH264Decode(path, index, config, frames):
    """Decoding config + rewritten frames as a raw stream must give the pictures of the file."""
    with tempfile.TemporaryDirectory() as tmp:
        stream = os.path.join(tmp, "track.h264")
        with open(stream, "wb") as out:
            out.write(config)
            for fr in frames:
                out.write(fr["delivered"])
        ffmpeg = ["ffmpeg", "-v", "error", "-nostdin", "-threads", "1"]
        mine = Run(ffmpeg + ["-f", "h264", "-i", stream, "-f", "framemd5", "-"])
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


def Process(path):
    f = ParseFile(path)
    stem = os.path.splitext(path)[0]
    rows, block_rows = BuildPackets(path, f)
    notes = CheckAgainstProbe(path, f)

    WriteTsv(stem + ".tracks.tsv",
             ["index", "track_number", "track_type", "codec_id", "pixel_width", "pixel_height",
              "display_width", "display_height", "default_duration_ns", "frame_rate",
              "sampling_frequency", "channels", "bit_depth", "codec_private_size",
              "segment_duration_ns", "timecode_scale"],
             [[i, t["number"], t["type"], t["codec_id"], t["pixel_width"], t["pixel_height"],
               t["display_width"], t["display_height"], t["default_duration"], t["frame_rate"],
               t["sampling_frequency"], t["channels"], t["bit_depth"], t["private_size"],
               f["duration_ns"], f["timecode_scale"]] for i, t in enumerate(f["tracks"])])
    WriteTsv(stem + ".packets.tsv", ["track_index", "start_100ns", "size", "key", "md5"], rows)
    WriteTsv(stem + ".blocks.tsv",
             ["track_index", "cluster_index", "block_time_100ns", "kind", "lacing", "frames",
              "key", "references", "first_frame"], block_rows)
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

    summary = []
    for index, t in enumerate(f["tracks"]):
        if t["codec_id"] != H264_CODEC_ID:
            continue
        config, length_size_minus_one = AvcConfig(path, t["private"])
        pictures = CheckH264Decode(path, index, config, t["frames"])
        summary.append("track %d: %d decoded pictures match" % (index, pictures))
        with open(stem + ".h264config.hex", "w") as out:
            out.write("key\tvalue\n")
            out.write("track_index\t%d\n" % index)
            out.write("length_size_minus_one\t%d\n" % length_size_minus_one)
            out.write("config_size\t%d\n" % len(config))
            out.write("config\t%s\n" % config.hex())
    print("%s: %d tracks, %d clusters, %d frames checked against ffprobe%s%s"
          % (os.path.basename(path), len(f["tracks"]), len(f["clusters"]), len(rows),
             "; " + "; ".join(summary) if summary else "",
             "; " + "; ".join(notes) if notes else ""))


def main(paths):
    if not paths:
        sys.exit(__doc__)
    for path in paths:
        Process(path)


if __name__ == "__main__":
    main(sys.argv[1:])
