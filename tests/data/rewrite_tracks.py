#!/usr/bin/env python3
"""Rewrites chosen tracks of a Matroska file the way older muxers wrote them.

Current mkvmerge no longer writes some forms that files in the wild still carry, so
they are made here from an mkvmerge file:

  --strip N            header removal on track number N: the bytes that every frame of
                       the track starts with are cut from each frame (laced frames
                       included, lace sizes recomputed) and the TrackEntry gets a
                       ContentEncoding with ContentCompAlgo 3 and those bytes as
                       ContentCompSettings
  --codec-id N=ID      replace the CodecID of track N
  --drop-private N     remove the CodecPrivate of track N
  --codec-private N=HEX  set the CodecPrivate of track N to the given bytes
  --nalu-length N=L    store the NAL unit lengths of the H.264 track N in L bytes
                       (1 to 4) instead of the avcC record's size, in every frame and in
                       byte 4 of avcC
  --cues-every N       keep only every Nth cue point (the first, the N+1st, ...), as an
                       index that lists some key frames only
  --no-relative-positions  remove CueRelativePosition from every cue point
  --cue-into-frame K   point cue point K (0-based, after thinning) 64 bytes into its
                       cluster, where a frame lies, as a damaged index does
  --unknown-cluster-sizes  write every Cluster with the all-ones "unknown" size, as a
                       live recorder does

The whole file is written again with correct element sizes; SeekHead positions,
CueClusterPosition and CueRelativePosition are moved to where the elements now are.
Element headers keep their original size-field widths where the new size fits.
Afterwards ffprobe must read the same frames (times, sizes and MD5, after it undoes
header removal) from both files, and a track whose NAL unit lengths were rewritten must
decode to the same pictures; otherwise the script stops with an error.

Usage: rewrite_tracks.py IN.mkv OUT.mkv OPTION...
"""

import json
import subprocess
import sys

ID_EBML = 0x1A45DFA3
ID_SEGMENT = 0x18538067
ID_SEEK_HEAD, ID_SEEK, ID_SEEK_ID, ID_SEEK_POSITION = 0x114D9B74, 0x4DBB, 0x53AB, 0x53AC
ID_TRACKS, ID_TRACK_ENTRY, ID_TRACK_NUMBER = 0x1654AE6B, 0xAE, 0xD7
ID_CODEC_ID, ID_CODEC_PRIVATE = 0x86, 0x63A2
ID_CONTENT_ENCODINGS, ID_CONTENT_ENCODING = 0x6D80, 0x6240
ID_ENCODING_ORDER, ID_ENCODING_SCOPE, ID_ENCODING_TYPE = 0x5031, 0x5032, 0x5033
ID_COMPRESSION, ID_COMP_ALGO, ID_COMP_SETTINGS = 0x5034, 0x4254, 0x4255
ID_CLUSTER, ID_BLOCK_GROUP, ID_BLOCK, ID_SIMPLE_BLOCK = 0x1F43B675, 0xA0, 0xA1, 0xA3
ID_CUES, ID_CUE_POINT, ID_CUE_TRACK_POSITIONS = 0x1C53BB6B, 0xBB, 0xB7
ID_CUE_CLUSTER_POSITION, ID_CUE_RELATIVE_POSITION = 0xF1, 0xF0
ID_CRC32 = 0xBF

# Master elements the rewriter walks into; every other element is kept as raw bytes.
MASTERS = {ID_EBML, ID_SEGMENT, ID_SEEK_HEAD, ID_SEEK, ID_TRACKS, ID_TRACK_ENTRY,
           ID_CONTENT_ENCODINGS, ID_CONTENT_ENCODING, ID_COMPRESSION, ID_CLUSTER,
           ID_BLOCK_GROUP, ID_CUES, ID_CUE_POINT, ID_CUE_TRACK_POSITIONS}

LACING_NONE, LACING_XIPH, LACING_FIXED, LACING_EBML = 0, 1, 2, 3


class Element:
    """One element: its ID, the width of its size field, and payload or children."""

    def __init__(self, eid, size_width, data=b"", children=None):
        self.id, self.size_width = eid, size_width
        self.data, self.children = data, children
        self.old_offset = None   # where the element started in the input file

    def Find(self, eid):
        return [c for c in self.children if c.id == eid]

    def Uint(self):
        return int.from_bytes(self.data, "big")


def Fail(message):
    sys.exit("rewrite_tracks.py: " + message)


def ReadVint(data, pos):
    first = data[pos]
    if first == 0:
        Fail("invalid variable-size integer at %d" % pos)
    width = 1
    while not first & (0x80 >> (width - 1)):
        width += 1
    value = first & ((0x80 >> (width - 1)) - 1)
    for byte in data[pos + 1:pos + width]:
        value = (value << 8) | byte
    return value, width


def ReadId(data, pos):
    width = ReadVint(data, pos)[1]
    return int.from_bytes(data[pos:pos + width], "big"), width


def EncodeVint(value, width=0):
    """Big-endian variable-size integer in at least `width` bytes; all-ones is left free."""
    needed = 1
    while value >= (1 << (7 * needed)) - 1:
        needed += 1
    width = max(width, needed)
    return ((1 << (7 * width)) | value).to_bytes(width, "big")


def EncodeId(eid):
    return eid.to_bytes((eid.bit_length() + 7) // 8, "big")


def EncodeUint(value, width=1):
    return value.to_bytes(max(width, (value.bit_length() + 7) // 8, 1), "big")


def Parse(data, start, end, base):
    """Elements between start and end; `base` is the input offset of data[0]."""
    out, pos = [], start
    while pos < end:
        eid, id_width = ReadId(data, pos)
        size, size_width = ReadVint(data, pos + id_width)
        body = pos + id_width + size_width
        if size == (1 << (7 * size_width)) - 1:
            Fail("element 0x%X at %d has an unknown size" % (eid, base + pos))
        if body + size > end:
            Fail("element 0x%X at %d runs past its parent" % (eid, base + pos))
        if eid == ID_CRC32:
            Fail("CRC-32 elements are not rewritten; make the input without them")
        if eid in MASTERS:
            e = Element(eid, size_width, children=Parse(data, body, body + size, base))
        else:
            e = Element(eid, size_width, data=data[body:body + size])
        e.old_offset = base + pos
        out.append(e)
        pos = body + size
    return out


def Serialize(e):
    payload = e.data if e.children is None else b"".join(Serialize(c) for c in e.children)
    if getattr(e, "unknown_size", False):
        return EncodeId(e.id) + b"\x01" + b"\xff" * 7 + payload
    return EncodeId(e.id) + EncodeVint(len(payload), e.size_width) + payload


def Layout(elements, offset, positions):
    """Records the new offset of every element (by identity) and returns the end offset."""
    for e in elements:
        positions[id(e)] = offset
        header = len(EncodeId(e.id))
        if e.children is None:
            size = len(e.data)
        else:
            size = Layout(e.children, offset + header + 1, {}) - (offset + header + 1)
        width = len(EncodeVint(size, e.size_width))
        if e.children is not None:
            Layout(e.children, offset + header + width, positions)
        offset += header + width + size
    return offset


# --- Blocks and lacing ---------------------------------------------------------------

def SplitBlock(data):
    """(header bytes up to the flags byte, lacing, frames) of a Block or SimpleBlock."""
    track_width = ReadVint(data, 0)[1]
    flags = data[track_width + 2]
    header, lacing, pos = data[:track_width + 3], (flags >> 1) & 3, track_width + 3
    if lacing == LACING_NONE:
        return header, lacing, [data[pos:]]
    count = data[pos] + 1
    pos += 1
    sizes = []
    if lacing == LACING_XIPH:
        for _ in range(count - 1):
            size = 0
            while True:
                size += data[pos]
                pos += 1
                if data[pos - 1] != 255:
                    break
            sizes.append(size)
    elif lacing == LACING_EBML:
        size, width = ReadVint(data, pos)
        pos += width
        sizes.append(size)
        for _ in range(count - 2):
            raw, width = ReadVint(data, pos)
            pos += width
            size += raw - ((1 << (7 * width - 1)) - 1)
            sizes.append(size)
    else:
        if (len(data) - pos) % count:
            Fail("fixed-size lace does not divide evenly")
        sizes = [(len(data) - pos) // count] * (count - 1)
    frames = []
    for size in sizes:
        frames.append(data[pos:pos + size])
        pos += size
    frames.append(data[pos:])
    if pos > len(data) or any(len(f) != s for f, s in zip(frames, sizes)):
        Fail("lace sizes run past the block")
    return header, lacing, frames


def EncodeSignedVint(value):
    width = 1
    while abs(value) > (1 << (7 * width - 1)) - 1:
        width += 1
    return EncodeVint(value + (1 << (7 * width - 1)) - 1, width)


def JoinBlock(header, lacing, frames):
    if lacing == LACING_NONE:
        return header + frames[0]
    out = bytearray(header)
    out.append(len(frames) - 1)
    if lacing == LACING_XIPH:
        for f in frames[:-1]:
            out += b"\xff" * (len(f) // 255) + bytes([len(f) % 255])
    elif lacing == LACING_EBML:
        out += EncodeVint(len(frames[0]))
        for prev, f in zip(frames[:-2], frames[1:-1]):
            out += EncodeSignedVint(len(f) - len(prev))
    elif len(set(len(f) for f in frames)) != 1:
        Fail("frames of a fixed-size lace no longer have one size")
    return bytes(out) + b"".join(frames)


def Blocks(segment):
    """Every Block and SimpleBlock element of the segment."""
    for cluster in segment.Find(ID_CLUSTER):
        for child in cluster.children:
            if child.id == ID_SIMPLE_BLOCK:
                yield child
            elif child.id == ID_BLOCK_GROUP:
                yield from child.Find(ID_BLOCK)


def BlockTrack(block):
    return ReadVint(block.data, 0)[0]


def RewriteFrames(segment, track, change):
    for block in Blocks(segment):
        if BlockTrack(block) == track:
            header, lacing, frames = SplitBlock(block.data)
            block.data = JoinBlock(header, lacing, [change(f) for f in frames])


def TrackFrames(segment, track):
    return [f for b in Blocks(segment) if BlockTrack(b) == track for f in SplitBlock(b.data)[2]]


# --- Track changes -------------------------------------------------------------------

def TrackEntry(segment, number):
    for tracks in segment.Find(ID_TRACKS):
        for entry in tracks.Find(ID_TRACK_ENTRY):
            if entry.Find(ID_TRACK_NUMBER)[0].Uint() == number:
                return entry
    Fail("no track number %d" % number)


def Strip(segment, number):
    entry = TrackEntry(segment, number)
    if entry.Find(ID_CONTENT_ENCODINGS):
        Fail("track %d already has content encodings" % number)
    frames = TrackFrames(segment, number)
    prefix = frames[0]
    for f in frames:
        while not f.startswith(prefix):
            prefix = prefix[:-1]
    if not prefix:
        Fail("the frames of track %d share no leading bytes" % number)
    RewriteFrames(segment, number, lambda f: f[len(prefix):])
    compression = Element(ID_COMPRESSION, 1, children=[
        Element(ID_COMP_ALGO, 1, data=EncodeUint(3)),
        Element(ID_COMP_SETTINGS, 1, data=prefix)])
    encoding = Element(ID_CONTENT_ENCODING, 1, children=[
        Element(ID_ENCODING_ORDER, 1, data=EncodeUint(0)),
        Element(ID_ENCODING_SCOPE, 1, data=EncodeUint(1)),
        Element(ID_ENCODING_TYPE, 1, data=EncodeUint(0)),
        compression])
    entry.children.append(Element(ID_CONTENT_ENCODINGS, 1, children=[encoding]))
    return "track %d: stripped %s from %d frames" % (number, prefix.hex(), len(frames))


def SetCodecId(segment, number, codec_id):
    entry = TrackEntry(segment, number)
    entry.Find(ID_CODEC_ID)[0].data = codec_id.encode("ascii")
    return "track %d: CodecID %s" % (number, codec_id)


def DropPrivate(segment, number):
    entry = TrackEntry(segment, number)
    entry.children = [c for c in entry.children if c.id != ID_CODEC_PRIVATE]
    return "track %d: CodecPrivate removed" % number


def SetPrivate(segment, number, private):
    entry = TrackEntry(segment, number)
    existing = entry.Find(ID_CODEC_PRIVATE)
    if existing:
        existing[0].data = private
    else:
        entry.children.append(Element(ID_CODEC_PRIVATE, 1, data=private))
    return "track %d: CodecPrivate %s" % (number, private.hex())


def SetNaluLength(segment, number, new_size):
    entry = TrackEntry(segment, number)
    private = entry.Find(ID_CODEC_PRIVATE)[0]
    if private.data[0] != 1:
        Fail("track %d has no avcC record" % number)
    old_size = (private.data[4] & 3) + 1

    def Change(frame):
        out, pos = b"", 0
        while pos < len(frame):
            size = int.from_bytes(frame[pos:pos + old_size], "big")
            nal = frame[pos + old_size:pos + old_size + size]
            if len(nal) != size or size >= 1 << (8 * new_size):
                Fail("track %d: a NAL unit of %d bytes cannot be rewritten" % (number, size))
            out += size.to_bytes(new_size, "big") + nal
            pos += old_size + size
        return out

    RewriteFrames(segment, number, Change)
    private.data = private.data[:4] + bytes([(private.data[4] & 0xFC) | (new_size - 1)]) \
        + private.data[5:]
    return "track %d: NAL unit lengths in %d bytes" % (number, new_size)


# --- Cues and cluster sizes ---------------------------------------------------------

def CuePoints(segment):
    return [p for cues in segment.Find(ID_CUES) for p in cues.Find(ID_CUE_POINT)]


def ThinCues(segment, every):
    for cues in segment.Find(ID_CUES):
        points = cues.Find(ID_CUE_POINT)
        kept = [p for k, p in enumerate(points) if k % every == 0]
        cues.children = [c for c in cues.children if c.id != ID_CUE_POINT or c in kept]
    return "one cue point in %d kept" % every


def DropRelativePositions(segment):
    for point in CuePoints(segment):
        for where in point.Find(ID_CUE_TRACK_POSITIONS):
            where.children = [c for c in where.children if c.id != ID_CUE_RELATIVE_POSITION]
    return "no CueRelativePosition"


def UnknownClusterSizes(segment):
    for cluster in segment.Find(ID_CLUSTER):
        cluster.size_width, cluster.unknown_size = 8, True
    return "clusters of unknown size"


def CueIntoFrame(segment, index):
    """After positions are final: cue point `index` points 64 bytes into its cluster."""
    where = CuePoints(segment)[index].Find(ID_CUE_TRACK_POSITIONS)[0]
    position = where.Find(ID_CUE_CLUSTER_POSITION)[0]
    position.data = EncodeUint(position.Uint() + 64, len(position.data))
    return "cue point %d points into a frame" % index


# --- Positions -----------------------------------------------------------------------

def FixPositions(segment, segment_data_old, segment_data_new, positions):
    """Points SeekHead and Cues entries at the new offsets; True when nothing moved."""
    level1 = {e.old_offset - segment_data_old: positions[id(e)] - segment_data_new
              for e in segment.children}
    in_cluster = {}
    for cluster in segment.Find(ID_CLUSTER):
        old_body = cluster.children[0].old_offset
        new_body = positions[id(cluster.children[0])]
        in_cluster[cluster.old_offset - segment_data_old] = {
            c.old_offset - old_body: positions[id(c)] - new_body for c in cluster.children}
    stable = True

    def Move(element, table):
        nonlocal stable
        old = element.old_value
        new = EncodeUint(table[old], len(element.data))
        stable &= new == element.data
        element.data = new

    for head in segment.Find(ID_SEEK_HEAD):
        for seek in head.Find(ID_SEEK):
            Move(seek.Find(ID_SEEK_POSITION)[0], level1)
    for cues in segment.Find(ID_CUES):
        for point in cues.Find(ID_CUE_POINT):
            for where in point.Find(ID_CUE_TRACK_POSITIONS):
                cluster = where.Find(ID_CUE_CLUSTER_POSITION)[0]
                Move(cluster, level1)
                for relative in where.Find(ID_CUE_RELATIVE_POSITION):
                    Move(relative, in_cluster[cluster.old_value])
    return stable


def RememberPositionValues(segment):
    for head in segment.Find(ID_SEEK_HEAD):
        for seek in head.Find(ID_SEEK):
            for e in seek.Find(ID_SEEK_POSITION):
                e.old_value = e.Uint()
    for cues in segment.Find(ID_CUES):
        for point in cues.Find(ID_CUE_POINT):
            for where in point.Find(ID_CUE_TRACK_POSITIONS):
                for e in where.Find(ID_CUE_CLUSTER_POSITION) + where.Find(ID_CUE_RELATIVE_POSITION):
                    e.old_value = e.Uint()


# --- Check with ffprobe --------------------------------------------------------------

def Run(args):
    return subprocess.run(args, check=True, capture_output=True).stdout


def ProbeFrames(path, rewritten):
    """Per frame: stream, time, size and MD5 as ffprobe reads them; only stream and time
    for the streams in `rewritten`, whose stored bytes were changed on purpose."""
    out = Run(["ffprobe", "-v", "error", "-of", "json", "-show_packets",
               "-show_data_hash", "md5", path])
    return [(p["stream_index"], p.get("pts")) + (() if p["stream_index"] in rewritten
                                                 else (p["size"], p["data_hash"]))
            for p in json.loads(out)["packets"]]


def Pictures(path, stream):
    return Run(["ffmpeg", "-v", "error", "-nostdin", "-threads", "1", "-i", path,
                "-map", "0:%d" % stream, "-f", "framemd5", "-"])


def StreamIndex(segment, number):
    """ffprobe numbers streams in TrackEntry order."""
    numbers = [e.Find(ID_TRACK_NUMBER)[0].Uint()
               for tracks in segment.Find(ID_TRACKS) for e in tracks.Find(ID_TRACK_ENTRY)]
    return numbers.index(number)


def main(args):
    if len(args) < 3:
        sys.exit(__doc__)
    source, target, options = args[0], args[1], args[2:]
    data = open(source, "rb").read()
    top = Parse(data, 0, len(data), 0)
    segments = [e for e in top if e.id == ID_SEGMENT]
    if len(segments) != 1:
        Fail("expected one Segment")
    segment = segments[0]
    RememberPositionValues(segment)
    for block in Blocks(segment):
        if JoinBlock(*SplitBlock(block.data)) != block.data:
            Fail("block at %d: lacing is not written back as it was" % block.old_offset)

    notes, rewritten, into_frame = [], set(), []
    while options:
        option = options[0]
        if option in ("--no-relative-positions", "--unknown-cluster-sizes"):
            notes.append(DropRelativePositions(segment) if option == "--no-relative-positions"
                         else UnknownClusterSizes(segment))
            options = options[1:]
            continue
        option, value = options[0], options[1]
        options = options[2:]
        if option == "--cues-every":
            notes.append(ThinCues(segment, int(value)))
        elif option == "--cue-into-frame":
            into_frame.append(int(value))
        elif option == "--strip":
            notes.append(Strip(segment, int(value)))
        elif option == "--codec-id":
            number, codec_id = value.split("=", 1)
            notes.append(SetCodecId(segment, int(number), codec_id))
        elif option == "--drop-private":
            notes.append(DropPrivate(segment, int(value)))
        elif option == "--codec-private":
            number, private = value.split("=")
            notes.append(SetPrivate(segment, int(number), bytes.fromhex(private)))
        elif option == "--nalu-length":
            number, size = value.split("=")
            notes.append(SetNaluLength(segment, int(number), int(size)))
            rewritten.add(StreamIndex(segment, int(number)))
        else:
            Fail("unknown option " + option)

    segment_data_old = segment.children[0].old_offset
    for _ in range(10):
        positions = {}
        Layout(top, 0, positions)
        if FixPositions(segment, segment_data_old, positions[id(segment.children[0])], positions):
            break
    else:
        Fail("element positions did not settle")
    for index in into_frame:
        notes.append(CueIntoFrame(segment, index))  # same width: nothing moves
    with open(target, "wb") as out:
        for e in top:
            out.write(Serialize(e))

    if ProbeFrames(source, rewritten) != ProbeFrames(target, rewritten):
        Fail("ffprobe reads other frames from %s than from %s" % (target, source))
    for stream in sorted(rewritten):
        if Pictures(source, stream) != Pictures(target, stream):
            Fail("stream %d of %s decodes to other pictures" % (stream, target))
    print("%s: %s" % (target.rsplit("/", 1)[-1], "; ".join(notes)))


if __name__ == "__main__":
    main(sys.argv[1:])
