#!/usr/bin/env python3
"""End-to-end tests of mkvdemux on the real files in tests/data, against the
tables beside them (see tests/data/README.md) and ffprobe, never the library.

    mkvdemux_test.py --tool PATH --data DIR GROUP [-- EMULATOR ARGS...]

GROUP is info, packets, seek, extract, extract_ffprobe (needs MKV_TOOL_FFPROBE
in the environment) or command_line.
"""
import csv
import hashlib
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = None
DATA = None
EMULATOR = []

FILES = ["h264_aac", "mpeg4_mp3", "theora_vorbis", "h264_aac_manyclusters", "ac3_only"]
# Files of today's codecs, header removal and older AAC IDs.
CODEC_FILES = ["hevc_opus", "hevc_mkvmerge", "vp8_vorbis", "vp9_opus", "av1_flac", "eac3", "pcm", "header_stripped",
               "aac_legacy", "vorbis_opus_mkvmerge"]

# CodecID -> the reported codec: a four-character code or a WAVE format tag.
CODECS = {
    "V_MPEG4/ISO/AVC": ("AVC1", "H.264"),
    "V_MPEG4/ISO/ASP": ("MP4V", "MPEG-4 Visual"),
    "V_THEORA": ("THEO", "Theora"),
    "V_MPEGH/ISO/HEVC": ("HEVC", "HEVC"),
    "V_VP8": ("VP80", "VP8"),
    "V_VP9": ("VP90", "VP9"),
    "V_AV1": ("AV01", "AV1"),
    "A_AAC": ("0x00FF", "AAC"),
    "A_AAC/MPEG4/LC": ("0x00FF", "AAC"),
    "A_AAC/MPEG4/LC/SBR": ("0x00FF", "AAC"),
    "A_MPEG/L3": ("0x0055", "MP3"),
    "A_VORBIS": ("0x674F", "Vorbis"),
    "A_OPUS": ("0x704F", "Opus"),
    "A_FLAC": ("0xF1AC", "FLAC"),
    # E-AC-3 has the AC-3 tag; the format record tells them apart nowhere.
    "A_AC3": ("0x2000", "AC-3/E-AC-3"),
    "A_EAC3": ("0x2000", "AC-3/E-AC-3"),
    "A_PCM/INT/LIT": ("0x0001", "PCM"),
    "S_TEXT/UTF8": ("-", ""),
}
TYPES = {1: "video", 2: "audio", 17: "subtitle"}
# MPEG-4 sampling frequency indexes of the rates in these files.
AAC_FREQUENCY_INDEX = {44100: 4, 48000: 3}

EXIT_USAGE, EXIT_UNREADABLE, EXIT_NOT_LOADABLE, EXIT_NO_TRACK, EXIT_UNSUPPORTED = 2, 3, 4, 5, 6


def run_tool(*args):
    args = [a if isinstance(a, bytes) else str(a) for a in args]
    return subprocess.run(EMULATOR + [TOOL] + args, capture_output=True, timeout=600)


def tool_json(*args):
    result = run_tool(*args)
    assert result.returncode == 0, result.stderr.decode()
    return json.loads(result.stdout)


def read_table(name, suffix):
    with open(os.path.join(DATA, name + suffix), newline="") as table:
        return list(csv.DictReader(table, delimiter="\t"))


def read_configs(name):
    """The decoder configuration of each H.264 or HEVC track of a file, by track index."""
    configs, track = {}, None
    path = os.path.join(DATA, name + ".config.hex")
    if not os.path.exists(path):
        return configs
    with open(path) as table:
        for key, value in (line.rstrip("\n").split("\t") for line in table.readlines()[1:]):
            if key == "track_index":
                track = int(value)
            elif key == "config":
                configs[track] = bytes.fromhex(value)
    return configs


def packet_rows(name):
    """The expected frames of each track, in delivery order."""
    rows = {}
    for row in read_table(name, ".frames.tsv"):
        rows.setdefault(int(row["track_index"]), []).append(row)
    return rows


def mkv(name):
    """The file whose tables are NAME.*.tsv: NAME.mkv, or NAME.webm."""
    path = os.path.join(DATA, name + ".mkv")
    return path if os.path.exists(path) else os.path.join(DATA, name + ".webm")


class Info(unittest.TestCase):
    def test_json_matches_the_track_tables(self):
        for name in FILES:
            with self.subTest(file=name):
                tracks = tool_json("info", "--json", mkv(name))["tracks"]
                expected = read_table(name, ".tracks.tsv")
                self.assertEqual(len(tracks), len(expected))
                for track, row in zip(tracks, expected):
                    self.check_track(name, track, row)

    def check_track(self, name, track, row):
        kind = TYPES[int(row["track_type"])]
        code, codec_name = CODECS[row["codec_id"]]
        self.assertEqual(track["index"], int(row["index"]))
        self.assertEqual(track["type"], kind)
        self.assertEqual(track["codec"], code)
        self.assertEqual(track["codec_name"], codec_name)
        self.assertTrue(track["seekable"])  # every file has a SeekHead
        if kind == "subtitle":
            self.assertEqual(track["max_sample_size"], 65535)
            return
        self.assertEqual(track["duration_100ns"], int(row["segment_duration_ns"]) // 100)
        private_size = int(row["codec_private_size"])
        if kind == "video":
            width, height = int(row["pixel_width"]), int(row["pixel_height"])
            self.assertEqual((track["width"], track["height"]), (width, height))
            self.assertEqual((track["display_width"], track["display_height"]),
                             (int(row["display_width"]), int(row["display_height"])))
            self.assertEqual(track["max_sample_size"], width * height * 2)
            # Frames per 1000 s from DefaultDuration (no file has FrameRate).
            self.assertEqual(track["frame_rate"], 10**12 // int(row["default_duration_ns"]))
            if code == "AVC1":
                config = read_configs(name)[int(row["index"])]
                self.assertEqual(track["codec_private_size"], private_size)
                self.assertEqual(bytes.fromhex(track["config"]), config)
            elif code == "MP4V":  # the VOL header, twice
                self.assertEqual(track["codec_private_size"], private_size)
                self.assertEqual(track["config"], track["codec_private"])
            else:  # Theora's headers are not passed on
                self.assertEqual((track["codec_private_size"], track["config_size"]), (0, 0))
        else:
            rate, channels = int(float(row["sampling_frequency"])), int(row["channels"])
            self.assertEqual(track["sample_rate"], rate)
            # Channels left out of the file mean one channel.
            self.assertEqual(track["channels"], channels or 1)
            self.assertEqual(track["bits_per_sample"], int(row["bit_depth"]))
            self.assertEqual(track["max_sample_size"], 409600)
            self.assertEqual(track["config_size"], 0)
            if code == "0x00FF":
                # The file's own LC AudioSpecificConfig: object type 2,
                # frequency index, channels.
                index = AAC_FREQUENCY_INDEX[rate]
                asc = bytes([2 << 3 | index >> 1, (index & 1) << 7 | channels << 3])
                self.assertEqual(bytes.fromhex(track["codec_private"]), asc)
            else:
                self.assertEqual(track["codec_private_size"], private_size)

    def test_table_names_the_codecs_and_hides_library_output(self):
        result = run_tool("info", mkv("h264_aac"))
        self.assertEqual(result.returncode, 0)
        text = result.stdout.decode()
        self.assertIn("3 tracks", text)
        self.assertIn("AVC1 (H.264)", text)
        self.assertIn("320x240, 25.000 fps", text)
        self.assertIn("0x00FF (AAC)", text)
        self.assertIn("44100 Hz, 2 ch", text)
        self.assertNotIn("loding", text)
        self.assertNotIn("~Matroska", text)
        self.assertEqual(result.stderr, b"")

    def test_names_the_codecs_of_today_in_json_and_in_the_table(self):
        for name in CODEC_FILES:
            with self.subTest(file=name):
                expected = [CODECS[row["codec_id"]] for row in read_table(name, ".tracks.tsv")]
                tracks = tool_json("info", "--json", mkv(name))["tracks"]
                self.assertEqual([(track["codec"], track["codec_name"]) for track in tracks], expected)
                table = run_tool("info", mkv(name)).stdout.decode().splitlines()[3:]
                self.assertEqual(len(table), len(expected))
                for line, (code, codec_name) in zip(table, expected):
                    self.assertIn(f"  {code} ({codec_name})  ", line)

    def test_json_is_valid_whatever_bytes_the_file_name_holds(self):
        # Latin-1 e, a euro sign, a cut sequence, a surrogate, an emoji, an
        # overlong slash, and a quote and backslash: each invalid byte is
        # one U+FFFD, valid sequences pass unchanged.
        name = b'caf\xe9-\xe2\x82\xac-\xe2\x82-\xed\xa0\x80-\xf0\x9f\x8e\xac-\xc0\xaf-"\\.mkv'
        shown = 'caf\ufffd-\u20ac-\ufffd\ufffd-\ufffd\ufffd\ufffd-\U0001f3ac-\ufffd\ufffd-"\\.mkv'
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(os.fsencode(work), name)
            os.symlink(os.path.abspath(mkv("ac3_only")), path)
            for command in ["info", "packets"]:
                with self.subTest(command=command):
                    result = run_tool(command, "--json", path)
                    self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
                    listing = json.loads(result.stdout)  # strict UTF-8
                    self.assertEqual(listing["file"], os.path.join(work, shown))

    def test_verbose_sends_the_library_lines_to_stderr(self):
        result = run_tool("info", "--json", "--verbose", mkv("ac3_only"))
        self.assertEqual(result.returncode, 0)
        json.loads(result.stdout)
        self.assertIn(b"MKV loding time:", result.stderr)
        self.assertIn(b"~Matroska", result.stderr)


class Packets(unittest.TestCase):
    def test_json_matches_the_packet_tables(self):
        for name in FILES:
            with self.subTest(file=name):
                listing = tool_json("packets", "--json", "--md5", mkv(name))
                listed = {}
                for packet in listing["packets"]:
                    listed.setdefault(packet["track"], []).append(packet)
                expected = packet_rows(name)
                self.assertEqual(sorted(listed), sorted(expected))  # no subtitle track
                types = {int(r["index"]): TYPES[int(r["track_type"])] for r in read_table(name, ".tracks.tsv")}
                for track, rows in expected.items():
                    self.check_track(name, track, types[track], listed[track], rows)

    def check_track(self, name, track, kind, packets, rows):
        config_bytes = read_configs(name).get(track)
        if config_bytes is not None:
            # The parameter sets come first, as a sample of their own.
            config = packets.pop(0)
            self.assertEqual(config["kind"], "config")
            self.assertEqual(config["size"], len(config_bytes))
            self.assertEqual(config["md5"], hashlib.md5(config_bytes).hexdigest())
            self.assertEqual((config["start_100ns"], config["end_100ns"], config["sync"]), (0, 0, True))
        self.assertEqual(len(packets), len(rows))
        for i, (packet, row) in enumerate(zip(packets, rows)):
            start = int(row["start_100ns"])
            self.assertEqual(packet["kind"], "frame")
            self.assertEqual((packet["start_100ns"], packet["end_100ns"], packet["size"], packet["md5"]),
                             (start, int(row["end_100ns"]), int(row["size"]), row["md5"]), f"sample {i}")
            self.assertEqual(packet["start"], start / 1e7)
            if kind == "video":
                self.assertEqual(packet["sync"], row["key"] == "1" or start == 0, f"sample {i}")
            else:
                self.assertTrue(packet["sync"])

    def test_one_track_and_the_text_table_list_the_same_samples(self):
        every = tool_json("packets", "--json", "--md5", mkv("mpeg4_mp3"))["packets"]
        audio = tool_json("packets", "--json", "--md5", "--track", "1", mkv("mpeg4_mp3"))["packets"]
        self.assertEqual(audio, [p for p in every if p["track"] == 1])

        result = run_tool("packets", "--md5", mkv("h264_aac"))
        self.assertEqual(result.returncode, 0)
        lines = result.stdout.decode().splitlines()
        self.assertTrue(lines[0].split()[0] == "track" and lines[0].split()[-1] == "md5")
        rows = packet_rows("h264_aac")
        self.assertEqual(len(lines), 1 + 1 + len(rows[0]) + len(rows[1]))  # heading, config, frames
        self.assertEqual(lines[1].split()[-2:], ["config", hashlib.md5(read_configs("h264_aac")[0]).hexdigest()])
        first = rows[0][0]
        self.assertEqual(lines[2].split(),
                         ["0", "0.0000000", "0", "0.0400000", "400000", first["size"], "1", "frame", first["md5"]])


def expected_seek(name, track, seconds):
    """Where a seek lands: for video the latest key frame at or before the
    time, for audio the latest frame; the row index in the track's frames."""
    rows = packet_rows(name)[track]
    video = int(read_table(name, ".tracks.tsv")[track]["track_type"]) == 1
    time = round(seconds * 10**7)
    suitable = [i for i, r in enumerate(rows) if not video or r["key"] == "1"]
    before = [i for i in suitable if int(rows[i]["start_100ns"]) <= time]
    return max(before, key=lambda i: int(rows[i]["start_100ns"])) if before else suitable[0]


class Seek(unittest.TestCase):
    def test_lands_on_the_latest_suitable_frame_and_lists_the_samples_from_there(self):
        # file, track index, seconds: inside GOPs, on a key frame, in a GOP of ten seconds
        cases = [("h264_aac", 0, "1.5"), ("h264_aac", 0, "0.5"), ("h264_aac_manyclusters", 0, "3.5"),
                 ("ac3_only", 0, "1"), ("h264_aac", 1, "1.5"), ("ffmpeg_gop2s", 0, "0:04.021"),
                 ("x264_default_gop", 0, "15")]
        for name, track, seconds in cases:
            with self.subTest(file=name, time=seconds):
                result = run_tool("seek", mkv(name), "--track", track, "--time", seconds, "--count", 3)
                self.assertEqual(result.returncode, 0, result.stderr.decode())
                lines = result.stdout.decode().splitlines()
                clock = [float(part) for part in seconds.split(":")]
                first = expected_seek(name, track, clock[-1] + 60 * sum(clock[:-1]))
                rows = packet_rows(name)[track]
                self.assertIn("status 0x00000000 (ok)", lines[0])
                self.assertTrue(lines[0].endswith(f"({rows[first]['start_100ns']})"), lines[0])
                samples = [line.split() for line in lines[2:]]
                if track in read_configs(name):  # a fresh handle hands out the parameter sets first
                    self.assertEqual(samples.pop(0)[-1], "config")
                self.assertEqual([(s[2], s[5]) for s in samples],
                                 [(r["start_100ns"], r["size"]) for r in rows[first:first + 3]])


def parse_adts(stream):
    """Splits an ADTS stream at its headers' frame lengths; returns the
    payloads and the distinct (profile, frequency index, channels)."""
    payloads, headers, position = [], set(), 0
    while position < len(stream):
        header = stream[position:position + 7]
        assert header[0] == 0xFF and header[1] & 0xF6 == 0xF0, f"no ADTS sync word at {position}"
        length = (header[3] & 3) << 11 | header[4] << 3 | header[5] >> 5
        headers.add((header[2] >> 6, header[2] >> 2 & 15, (header[2] & 1) << 2 | header[3] >> 6))
        payloads.append(stream[position + 7:position + length])
        position += length
    return payloads, headers


def parse_ivf(stream):
    """The file header fields and each frame as (time, bytes)."""
    header = struct.unpack("<4sHH4sHHIII4x", stream[:32])
    frames, position = [], 32
    while position < len(stream):
        size, time = struct.unpack("<IQ", stream[position:position + 12])
        frames.append((time, stream[position + 12:position + 12 + size]))
        position += 12 + size
    return header, frames


def ogg_crc(data):
    crc = 0
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = (crc << 1 ^ 0x104C11DB7) if crc & 0x80000000 else crc << 1
    return crc


def parse_ogg(stream):
    """Checks every page's capture pattern, checksum and sequence number;
    returns the flags, granule position and serial number of each page, and
    the packets with the granule position of the page each ends on."""
    pages, packets, partial, position = [], [], b"", 0
    while position < len(stream):
        assert stream[position:position + 5] == b"OggS\0", f"no page at {position}"
        flags, granule, serial, sequence, crc, count = struct.unpack("<BqIIIB", stream[position + 5:position + 27])
        lacing = stream[position + 27:position + 27 + count]
        body = position + 27 + count
        page = bytearray(stream[position:body + sum(lacing)])
        page[22:26] = bytes(4)
        assert ogg_crc(page) == crc, f"page {sequence}: wrong checksum"
        assert sequence == len(pages), f"page {len(pages)} numbered {sequence}"
        pages.append((flags, granule, serial))
        for value in lacing:
            partial += stream[body:body + value]
            body += value
            if value < 255:
                packets.append((partial, granule))
                partial = b""
        position = body
    assert partial == b"", "the last packet is not complete"
    return pages, packets


class ExtractCase(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.work = scratch.name

    def extract(self, name, track, *extra):
        out = os.path.join(self.work, f"{name}.{track}")
        result = run_tool("extract", mkv(name), "--track", track, "-o", out, *extra)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        with open(out, "rb") as stream:
            return stream.read(), result.stderr.decode()

    def check_frames(self, frames, rows):
        """frames: the frames of rows, in a list or back to back."""
        if isinstance(frames, bytes):
            sizes = [int(row["size"]) for row in rows]
            self.assertEqual(len(frames), sum(sizes))
            ends = [sum(sizes[:i + 1]) for i in range(len(sizes))]
            frames = [frames[end - size:end] for end, size in zip(ends, sizes)]
        self.assertEqual(len(frames), len(rows))
        for i, (frame, row) in enumerate(zip(frames, rows)):
            self.assertEqual(hashlib.md5(frame).hexdigest(), row["md5"], f"frame {i}")


class Extract(ExtractCase):
    def test_annex_b_streams_are_the_configuration_then_every_frame(self):
        for name in ["h264_aac", "h264_aac_manyclusters", "hevc_opus", "hevc_mkvmerge"]:
            with self.subTest(file=name):
                track, config = next(iter(read_configs(name).items()))
                stream, _ = self.extract(name, track)
                self.assertTrue(stream.startswith(config))
                self.check_frames(stream[len(config):], packet_rows(name)[track])

    def test_aac_gets_adts_headers_from_the_core_of_its_configuration(self):
        # file, track, (profile, frequency index, channels): LC at 44.1 and
        # 48 kHz; HE-AAC announced by the codec ID, by a sync extension and
        # as object type 5, each with an LC core at 24 kHz.
        cases = [("h264_aac", 1, (1, 4, 2)), ("h264_aac_manyclusters", 1, (1, 3, 2)), ("aac_legacy", 0, (1, 3, 2)),
                 ("aac_legacy", 1, (1, 6, 2)), ("aac_legacy", 2, (1, 6, 2)), ("aac_legacy", 3, (1, 6, 2))]
        for name, track, fields in cases:
            with self.subTest(file=name, track=track):
                payloads, headers = parse_adts(self.extract(name, track)[0])
                self.assertEqual(headers, {fields})
                self.check_frames(payloads, packet_rows(name)[track])

    def test_other_codecs_are_the_frames_back_to_back_and_warn_only_without_a_stream_format(self):
        # file, track, the codec a warning names (None: no warning), bytes
        # before the frames
        cases = [("mpeg4_mp3", 1, None, 0), ("ac3_only", 0, None, 0), ("eac3", 0, None, 0),
                 ("theora_vorbis", 0, "Theora", 0),
                 # header removal undone
                 ("header_stripped", 1, None, 0), ("header_stripped", 2, None, 0), ("header_stripped", 3, None, 0),
                 # MPEG-4 Visual: the VOL header from the codec private data
                 ("mpeg4_mp3", 0, None, int(read_table("mpeg4_mp3", ".tracks.tsv")[0]["codec_private_size"])),
                 ("header_stripped", 0, None,
                  int(read_table("header_stripped", ".tracks.tsv")[0]["codec_private_size"]))]
        for name, track, warned, header in cases:
            with self.subTest(file=name, track=track):
                stream, errors = self.extract(name, track)
                self.check_frames(stream[header:], packet_rows(name)[track])
                if header:
                    self.assertTrue(stream.startswith(b"\x00\x00\x01\xb0"))  # visual object sequence
                warnings = [line for line in errors.splitlines() if "warning" in line]
                self.assertEqual(len(warnings), 1 if warned else 0, errors)
                if warned:
                    self.assertIn(f"({warned})", warnings[0])

    def test_vp8_vp9_and_av1_are_in_ivf_with_millisecond_times(self):
        for name, fourcc in [("vp8_vorbis", b"VP80"), ("vp9_opus", b"VP90"), ("av1_flac", b"AV01")]:
            with self.subTest(file=name):
                header, frames = parse_ivf(self.extract(name, 0)[0])
                rows = packet_rows(name)[0]
                row = read_table(name, ".tracks.tsv")[0]
                starts = [int(r["start_100ns"]) // 10000 for r in rows]
                length = int(rows[-1]["end_100ns"]) // 10000 - starts[0]
                self.assertEqual(header, (b"DKIF", 0, 32, fourcc, int(row["pixel_width"]), int(row["pixel_height"]),
                                          1000, 1, length))
                self.assertEqual([time for time, _ in frames], starts)
                if fourcc == b"AV01":  # each temporal unit opens with a temporal delimiter
                    self.assertTrue(all(frame.startswith(b"\x12\x00") for _, frame in frames))
                    frames = [(time, frame[2:]) for time, frame in frames]
                self.check_frames([frame for _, frame in frames], rows)

    def test_opus_and_vorbis_are_in_ogg_with_granules_from_the_end_times(self):
        for name, track in [("hevc_opus", 1), ("vp9_opus", 1), ("vorbis_opus_mkvmerge", 1), ("vp8_vorbis", 1),
                            ("vorbis_opus_mkvmerge", 0)]:
            with self.subTest(file=name, track=track):
                pages, packets = parse_ogg(self.extract(name, track)[0])
                row = read_table(name, ".tracks.tsv")[track]
                self.assertEqual(len({serial for _, _, serial in pages}), 1)
                self.assertEqual([flags for flags, _, _ in pages], [2] + [0] * (len(pages) - 2) + [4])
                private_size = int(row["codec_private_size"])
                if row["codec_id"] == "A_OPUS":
                    self.assertTrue(packets[0][0].startswith(b"OpusHead") and len(packets[0][0]) == private_size)
                    self.assertTrue(packets[1][0].startswith(b"OpusTags"))
                    headers, rate = packets[:2], 48000
                else:  # the three header packets, without the lacing in front of them
                    headers, rate = packets[:3], int(float(row["sampling_frequency"]))
                    self.assertEqual([packet[:7] for packet, _ in headers],
                                     [bytes([kind]) + b"vorbis" for kind in (1, 3, 5)])
                    lacing = 1 + len(headers[0][0]) // 255 + 1 + len(headers[1][0]) // 255 + 1
                    self.assertEqual(lacing + sum(len(packet) for packet, _ in headers), private_size)
                self.assertEqual([granule for _, granule in headers], [0] * len(headers))
                rows = packet_rows(name)[track]
                frames = packets[len(headers):]
                self.check_frames([packet for packet, _ in frames], rows)
                # The frame's end in samples, to the nearest, never going back.
                granules = [0]
                for r in rows:
                    granules.append(max(granules[-1], (int(r["end_100ns"]) * rate + 5 * 10**6) // 10**7))
                self.assertEqual([granule for _, granule in frames], granules[1:])

    def test_flac_is_its_stream_header_then_the_frames(self):
        stream, _ = self.extract("av1_flac", 1)
        header = int(read_table("av1_flac", ".tracks.tsv")[1]["codec_private_size"])
        self.assertEqual(stream[:4], b"fLaC")
        self.assertEqual(stream[4] & 0x80, 0x80)  # STREAMINFO is the last metadata block
        self.check_frames(stream[header:], packet_rows("av1_flac")[1])

    def test_pcm_is_in_wav_with_sizes_filled_in_or_unknown_on_standard_output(self):
        stream, _ = self.extract("pcm", 0)
        piped = run_tool("extract", mkv("pcm"), "--track", 0, "-o", "-").stdout
        # RIFF size, WAVE, a 16-byte fmt chunk (PCM, 2 channels, 8000 Hz,
        # 32000 bytes/s, 4-byte blocks, 16 bits), the data chunk's size
        fields = "<4sI4s4sIHHIIHH4sI"
        self.assertEqual(struct.unpack(fields, stream[:44]),
                         (b"RIFF", len(stream) - 8, b"WAVE", b"fmt ", 16, 1, 2, 8000, 32000, 4, 16, b"data",
                          len(stream) - 44))
        self.check_frames(stream[44:], packet_rows("pcm")[0])
        unknown = 0xFFFFFFFF
        self.assertEqual(piped[:4] + piped[8:40] + piped[44:], stream[:4] + stream[8:40] + stream[44:])
        self.assertEqual(struct.unpack("<I", piped[4:8]) + struct.unpack("<I", piped[40:44]), (unknown, unknown))


class ExtractFfprobe(ExtractCase):
    """ffprobe reads the extracted streams as what they are, with every frame."""

    def probe(self, data, suffix):
        path = os.path.join(self.work, "probe" + suffix)
        with open(path, "wb") as stream:
            stream.write(data)
        result = subprocess.run([os.environ["MKV_TOOL_FFPROBE"], "-v", "error", "-count_frames", "-count_packets",
                                 "-show_entries",
                                 "stream=codec_name,nb_read_frames,nb_read_packets,sample_rate,channels,width,height",
                                 "-of", "json", path], capture_output=True, timeout=600)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        streams = json.loads(result.stdout)["streams"]
        self.assertEqual(len(streams), 1)
        return streams[0]

    def test_ffprobe_reads_every_frame(self):
        # file, track, suffix, codec name as ffprobe says it
        cases = [("h264_aac", 0, ".h264", "h264"), ("h264_aac_manyclusters", 0, ".h264", "h264"),
                 ("h264_aac", 1, ".aac", "aac"), ("h264_aac_manyclusters", 1, ".aac", "aac"),
                 ("mpeg4_mp3", 0, ".m4v", "mpeg4"), ("mpeg4_mp3", 1, ".mp3", "mp3"), ("ac3_only", 0, ".ac3", "ac3"),
                 ("hevc_opus", 0, ".hevc", "hevc"), ("hevc_mkvmerge", 0, ".hevc", "hevc"),
                 ("vp8_vorbis", 0, ".ivf", "vp8"), ("vp9_opus", 0, ".ivf", "vp9"), ("av1_flac", 0, ".ivf", "av1"),
                 ("hevc_opus", 1, ".opus", "opus"), ("vp9_opus", 1, ".opus", "opus"),
                 ("vorbis_opus_mkvmerge", 1, ".opus", "opus"), ("vorbis_opus_mkvmerge", 0, ".ogg", "vorbis"),
                 ("vp8_vorbis", 1, ".ogg", "vorbis"), ("theora_vorbis", 1, ".ogg", "vorbis"),
                 ("av1_flac", 1, ".flac", "flac"), ("pcm", 0, ".wav", "pcm_s16le"), ("eac3", 0, ".eac3", "eac3"),
                 ("header_stripped", 0, ".m4v", "mpeg4"), ("header_stripped", 1, ".mp3", "mp3"),
                 ("header_stripped", 2, ".mp3", "mp3"), ("header_stripped", 3, ".ac3", "ac3")]
        cases += [("aac_legacy", track, ".aac", "aac") for track in range(4)]
        for name, track, suffix, codec in cases:
            with self.subTest(file=name, track=track):
                stream, _ = self.extract(name, track)
                probed = self.probe(stream, suffix)
                row = read_table(name, ".tracks.tsv")[track]
                frames = len(packet_rows(name)[track])
                self.assertEqual(probed["codec_name"], codec)
                self.assertEqual(int(probed["nb_read_packets"]), frames)
                # A Vorbis decoder's first packet only primes it.
                self.assertEqual(int(probed["nb_read_frames"]), frames - 1 if codec == "vorbis" else frames)
                if row["track_type"] == "1":
                    self.assertEqual((probed["width"], probed["height"]),
                                     (int(row["pixel_width"]), int(row["pixel_height"])))
                else:
                    # AAC in ADTS names the rate of its core, which the
                    # tables give (HE-AAC decodes at twice that).
                    self.assertEqual(int(probed["sample_rate"]), int(float(row["sampling_frequency"])))
                    self.assertEqual(probed["channels"], int(row["channels"]) or 1)


class CommandLine(unittest.TestCase):
    def expect_error(self, code, message, *args):
        result = run_tool(*args)
        errors = result.stderr.decode()
        self.assertEqual(result.returncode, code, errors)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(len(errors.splitlines()), 1, errors)
        self.assertTrue(errors.startswith("mkvdemux: "), errors)
        self.assertIn(message, errors)

    def test_each_failure_has_its_exit_code_and_one_line(self):
        sample = mkv("h264_aac")
        with tempfile.TemporaryDirectory() as work:
            out = os.path.join(work, "out")
            self.expect_error(EXIT_USAGE, "no command given")
            self.expect_error(EXIT_USAGE, "unknown command 'play'", "play", sample)
            self.expect_error(EXIT_USAGE, "'--md5' is not an option of info", "info", "--md5", sample)
            self.expect_error(EXIT_USAGE, "--track needs a whole number", "packets", sample, "--track", "one")
            self.expect_error(EXIT_USAGE, "needs --time", "seek", sample, "--track", "0")
            self.expect_error(EXIT_USAGE, "needs -o", "extract", sample, "--track", "0")
            self.expect_error(EXIT_USAGE, "overwrite the input", "extract", sample, "--track", "0", "-o", sample)
            self.expect_error(EXIT_UNREADABLE, "No such file", "info", os.path.join(work, "missing.mkv"))
            self.expect_error(EXIT_UNREADABLE, "is a directory", "packets", work)
            self.expect_error(EXIT_NOT_LOADABLE, "cannot load", "info", os.path.join(DATA, "README.md"))
            # Cut inside the Segment's head: the library loads it but finds no track.
            cut = os.path.join(work, "cut.mkv")
            with open(sample, "rb") as whole, open(cut, "wb") as part:
                part.write(whole.read(1000))
            self.expect_error(EXIT_NOT_LOADABLE, "finds no track", "info", cut)
            self.expect_error(EXIT_NO_TRACK, "no track 3 (tracks are 0 to 2)", "packets", sample, "--track", "3")
            self.expect_error(EXIT_NO_TRACK, "no track 7", "seek", sample, "--track", "7", "--time", "1")
            self.expect_error(EXIT_UNSUPPORTED, "subtitle", "extract", sample, "--track", "2", "-o", out)
            self.expect_error(EXIT_UNSUPPORTED, "subtitle", "seek", sample, "--track", "2", "--time", "1")
            self.expect_error(EXIT_UNSUPPORTED, "subtitle", "packets", sample, "--track", "2")
            self.assertFalse(os.path.exists(out))

    def test_options_take_values_in_every_form(self):
        sample = mkv("h264_aac")
        self.assertEqual(tool_json("packets", "--json", "--track=1", sample),
                         tool_json("packets", "-t", "1", sample, "--json"))
        with tempfile.TemporaryDirectory() as work:
            out = os.path.join(work, "audio.aac")
            self.assertEqual(run_tool("extract", sample, "--track", "1", "--output", out).returncode, 0)
            to_stdout = run_tool("extract", "-t", "1", "-o", "-", sample)
            with open(out, "rb") as written:
                self.assertEqual(to_stdout.stdout, written.read())
        # A negative time is a value, not an option; it seeks to the start.
        lines = run_tool("seek", sample, "--track", "1", "--time", "-1", "-n", "1").stdout.decode().splitlines()
        self.assertIn("status 0x00000000 (ok)", lines[0])
        first = packet_rows("h264_aac")[1][0]
        self.assertEqual(len(lines), 3)
        self.assertEqual(lines[2].split()[2], first["start_100ns"])

    def test_time_takes_seconds_and_clock_forms_and_rejects_malformed_ones(self):
        sample = mkv("h264_aac")
        # The seek line repeats the requested time in 100-ns units.
        for text, units in [("1.5", 15000000), ("0:01.5", 15000000), ("00:00:01.5", 15000000), ("-0.5", -5000000),
                            ("2:03.25", 1232500000), ("1:02:03", 37230000000), ("90:00", 54000000000)]:
            with self.subTest(time=text):
                result = run_tool("seek", sample, "--track", "1", "--time", text, "--count", "0")
                first = result.stdout.decode().splitlines()[0]
                self.assertTrue(first.startswith(f"seek track 1 to {units / 1e7:.7f} s ({units}):"), first)
        for text in ["1:60", "0:00:60", "1:60:00", "a:b", "1:", ":30", "1::30", "-1:30", "1:-3", "1:5", "1:30.",
                     "1.5:30", "1:02:03:04", "", "1e3", "+1"]:
            with self.subTest(time=text):
                self.expect_error(EXIT_USAGE, f"--time needs seconds (1.5), mm:ss(.fff) or hh:mm:ss(.fff), "
                                  f"not '{text}'", "seek", sample, "--track", "0", "--time", text)

    def test_help_and_version_answer_for_every_command(self):
        version = run_tool("--version")
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout.decode(), r"^mkvdemux \d+\.\d+")
        every_code = {"info": range(5), "help": [0, 2]}
        for command in ["", "info", "packets", "extract", "seek", "help"]:
            with self.subTest(command=command):
                first = [command] if command else []
                result = run_tool(*first, "--help")
                self.assertEqual(result.returncode, 0)
                text = result.stdout.decode()
                self.assertTrue(text.startswith("Usage: mkvdemux " + (command or "COMMAND")), text)
                self.assertEqual(run_tool("help", *first).stdout, result.stdout)
                # Each command lists the exit codes it can return, no other.
                listed = [int(line.split()[0]) for line in text.split("Exit codes:\n")[1].splitlines()]
                self.assertEqual(listed, list(every_code.get(command, range(8))))
                self.assertEqual(run_tool(*first, mkv("h264_aac"), "--version").stdout, version.stdout)
        self.expect_error(EXIT_USAGE, "no command 'play'", "help", "play")


GROUPS = {"info": Info, "packets": Packets, "seek": Seek, "extract": Extract, "extract_ffprobe": ExtractFfprobe,
          "command_line": CommandLine}


def main(argv):
    global TOOL, DATA, EMULATOR
    if "--" in argv:
        EMULATOR = argv[argv.index("--") + 1:]
        argv = argv[:argv.index("--")]
    if len(argv) != 6 or argv[1] != "--tool" or argv[3] != "--data" or argv[5] not in GROUPS:
        sys.exit(__doc__)
    TOOL, DATA, group = argv[2], argv[4], GROUPS[argv[5]]
    suite = unittest.TestLoader().loadTestsFromTestCase(group)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main(sys.argv)
