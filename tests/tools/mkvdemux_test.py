#!/usr/bin/env python3
"""End-to-end tests of mkvdemux on the real files in tests/data, against the tables beside them
(see tests/data/README.md) and ffprobe, never the library.

    mkvdemux_test.py --tool PATH --data DIR GROUP [-- EMULATOR ARGS...]

GROUP: info, packets, seek, extract, extract_ffprobe (needs MKV_TOOL_FFPROBE in the environment), command_line.
"""
import csv
import hashlib
import itertools
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL, DATA, EMULATOR, FFPROBE, FFMPEG = None, None, [], None, None  # set by main(); FFPROBE and FFMPEG for the
                                                                      # group extract_ffprobe

FILES = ["h264_aac", "mpeg4_mp3", "theora_vorbis", "h264_aac_manyclusters", "ac3_only"]
# Files of today's codecs, header removal and older AAC IDs.
CODEC_FILES = ["hevc_opus", "hevc_mkvmerge", "vp8_vorbis", "vp9_opus", "av1_flac", "eac3", "pcm", "header_stripped",
               "aac_legacy", "vorbis_opus_mkvmerge", "h264_lossless_444", "h264_lossless_noise", "hevc_lossless_422",
               "ffv1_10bit_422", "hq_10bit", "slideshow_100ns"]
# Tracks coded lossless or at 10 bits whose extracted streams ffmpeg decodes (FFV1 has no stream form).
LOSSLESS_TRACKS = [("h264_lossless_444", 0), ("h264_lossless_noise", 0), ("hevc_lossless_422", 0), ("hq_10bit", 0),
                   ("hq_10bit", 1), ("hq_10bit", 2)]

# CodecID: the codec mkvdemux reports (a four-character code or a WAVE format tag) and its name, the form
# extract writes and the codec ffprobe finds in it (None: frames back to back, with a warning).
CODECS = {
    "V_MPEG4/ISO/AVC": ("AVC1", "H.264", ".h264", "h264"),
    "V_MPEG4/ISO/ASP": ("MP4V", "MPEG-4 Visual", ".m4v", "mpeg4"),
    "V_THEORA": ("THEO", "Theora", ".raw", None),
    "V_MPEGH/ISO/HEVC": ("HEVC", "HEVC", ".hevc", "hevc"),
    "V_VP8": ("VP80", "VP8", ".ivf", "vp8"),
    "V_VP9": ("VP90", "VP9", ".ivf", "vp9"),
    "V_AV1": ("AV01", "AV1", ".ivf", "av1"),
    "A_AAC": ("0x00FF", "AAC", ".aac", "aac"),
    "A_AAC/MPEG4/LC": ("0x00FF", "AAC", ".aac", "aac"),
    "A_AAC/MPEG4/LC/SBR": ("0x00FF", "AAC", ".aac", "aac"),
    "A_MPEG/L3": ("0x0055", "MP3", ".mp3", "mp3"),
    "A_VORBIS": ("0x674F", "Vorbis", ".ogg", "vorbis"),
    "A_OPUS": ("0x704F", "Opus", ".opus", "opus"),
    "A_FLAC": ("0xF1AC", "FLAC", ".flac", "flac"),
    # E-AC-3 has the AC-3 tag; the format record tells them apart nowhere.
    "A_AC3": ("0x2000", "AC-3/E-AC-3", ".ac3", "ac3"),
    "A_EAC3": ("0x2000", "AC-3/E-AC-3", ".eac3", "eac3"),
    "A_PCM/INT/LIT": ("0x0001", "PCM", ".wav", "pcm_s16le"),
    "S_TEXT/UTF8": ("-", "", None, None),
    # Video for Windows: the code is the header's, in these files FFV1, which has no stream form.
    "V_MS/VFW/FOURCC": ("FFV1", "unknown", ".raw", None),
}
TYPES = {1: "video", 2: "audio", 17: "subtitle"}
# MPEG-4 sampling frequency indexes of the rates in these files (HE-AAC: of its core, as in the tables).
AAC_FREQUENCY_INDEX = {48000: 3, 44100: 4, 24000: 6}

EXIT_USAGE, EXIT_UNREADABLE, EXIT_NOT_LOADABLE, EXIT_NO_TRACK, EXIT_UNSUPPORTED = 2, 3, 4, 5, 6


def run_tool(*args):
    args = [a if isinstance(a, bytes) else str(a) for a in args]
    return subprocess.run(EMULATOR + [TOOL] + args, capture_output=True, timeout=600)


def tool_json(*args):
    result = run_tool(*args)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    return json.loads(result.stdout)


def tracks(name):
    with open(os.path.join(DATA, name + ".tracks.tsv"), newline="") as table:
        return list(csv.DictReader(table, delimiter="\t"))


def packet_rows(name):
    """The expected frames of each track, in delivery order."""
    rows = {}
    with open(os.path.join(DATA, name + ".frames.tsv"), newline="") as table:
        for row in csv.DictReader(table, delimiter="\t"):
            rows.setdefault(int(row["track_index"]), []).append(row)
    return rows


def read_configs(name):
    """The decoder configuration of each H.264 or HEVC track of a file, by track index."""
    path = os.path.join(DATA, name + ".config.hex")
    if not os.path.exists(path):
        return {}
    with open(path) as table:
        pairs = [line.rstrip("\n").split("\t") for line in table]
    return dict(zip([int(value) for key, value in pairs if key == "track_index"],
                    [bytes.fromhex(value) for key, value in pairs if key == "config"]))


def mkv(name):
    """The file whose tables are NAME.*.tsv: NAME.mkv, or NAME.webm."""
    path = os.path.join(DATA, name + ".mkv")
    return path if os.path.exists(path) else os.path.join(DATA, name + ".webm")


class Info(unittest.TestCase):
    def test_json_and_table_show_every_track(self):
        for name in FILES + CODEC_FILES:
            with self.subTest(file=name):
                expected = tracks(name)
                listed = tool_json("info", "--json", mkv(name))["tracks"]
                codecs = [CODECS[row["codec_id"]][:2] for row in expected]
                self.assertEqual([(track["codec"], track["codec_name"]) for track in listed], codecs)
                if name in FILES:
                    for track, row in zip(listed, expected):
                        self.check_track(name, track, row)
                result = run_tool("info", mkv(name))
                text = result.stdout.decode()
                # The library's own lines (load time, destruction) stay out of the output.
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertFalse("loding" in text or "~Matroska" in text, text)
                table = text.splitlines()[3:]
                self.assertEqual(len(table), len(codecs))
                for line, (code, codec_name) in zip(table, codecs):
                    self.assertIn(f"  {code} ({codec_name})  " if codec_name else "  -  ", line)
        # --verbose shows the library's lines on stderr and changes nothing else.
        plain, verbose = run_tool("info", mkv("h264_aac")), run_tool("info", "--verbose", mkv("h264_aac"))
        self.assertEqual(verbose.stdout, plain.stdout)
        self.assertTrue(b"MKV loding time:" in verbose.stderr and b"~Matroska" in verbose.stderr, verbose.stderr)
        self.assertTrue(all(s in plain.stdout for s in [b"3 tracks", b"320x240, 25.000 fps", b"44100 Hz, 2 ch"]))

    def check_track(self, name, track, row):
        kind, index = TYPES[int(row["track_type"])], int(row["index"])
        self.assertEqual((track["index"], track["type"], track["seekable"]), (index, kind, True))  # all have a SeekHead
        if kind == "subtitle":
            self.assertEqual(track["max_sample_size"], 65535)
            return
        # Theora's headers are not passed on; MPEG-4 Visual's VOL header is its configuration too.
        private_size = 0 if track["codec"] == "THEO" else int(row["codec_private_size"])
        config = track["codec_private"] if track["codec"] == "MP4V" else read_configs(name).get(index, b"").hex()
        self.assertEqual((track["duration_100ns"], track["codec_private_size"], track["config"]),
                         (int(row["segment_duration_ns"]) // 100, private_size, config))
        self.assertEqual(len(bytes.fromhex(track["codec_private"])), private_size)
        if kind == "video":
            # Frames per 1000 s from DefaultDuration (no file has FrameRate); 8-bit 4:2:0 coded lossy: a buffer
            # of twice the picture and 8 KiB for headers.
            width, height = int(row["pixel_width"]), int(row["pixel_height"])
            self.assertEqual([track[key] for key in ("width", "height", "display_width", "display_height",
                                                     "max_sample_size", "frame_rate")],
                             [width, height, int(row["display_width"]), int(row["display_height"]),
                              width * height * 2 + 8192, 10**12 // int(row["default_duration_ns"])])
        else:  # channels left out of the file mean one channel
            self.assertEqual([track[key] for key in ("sample_rate", "channels", "bits_per_sample", "max_sample_size")],
                             [int(float(row["sampling_frequency"])), int(row["channels"]) or 1, int(row["bit_depth"]),
                              409600])

    def test_json_is_valid_whatever_bytes_the_file_name_holds(self):
        # Latin-1 e, a euro sign, a cut sequence, a surrogate, an emoji, an overlong slash, a quote
        # and a backslash: each invalid byte is one U+FFFD, valid sequences pass unchanged.
        name = b'caf\xe9-\xe2\x82\xac-\xe2\x82-\xed\xa0\x80-\xf0\x9f\x8e\xac-\xc0\xaf-"\\.mkv'
        shown = 'caf\ufffd-\u20ac-\ufffd\ufffd-\ufffd\ufffd\ufffd-\U0001f3ac-\ufffd\ufffd-"\\.mkv'
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(os.fsencode(work), name)
            os.symlink(os.path.abspath(mkv("ac3_only")), path)
            self.assertEqual(tool_json("info", "--json", path)["file"], os.path.join(work, shown))  # strict UTF-8


class Packets(unittest.TestCase):
    def test_json_matches_the_packet_tables(self):
        keys = ("track", "kind", "start_100ns", "end_100ns", "size", "sync", "md5")
        for name in FILES:
            with self.subTest(file=name):
                expected = []
                for track, rows in sorted(packet_rows(name).items()):  # no subtitle track
                    config = read_configs(name).get(track)
                    if config is not None:  # the parameter sets come first, as a sample of their own
                        expected.append((track, "config", 0, 0, len(config), True, hashlib.md5(config).hexdigest()))
                    video = tracks(name)[track]["track_type"] == "1"
                    expected += [(track, "frame", int(r["start_100ns"]), int(r["end_100ns"]), int(r["size"]),
                                  not video or r["key"] == "1", r["md5"]) for r in rows]
                listed = tool_json("packets", "--json", "--md5", mkv(name))["packets"]
                self.assertEqual([tuple(packet[key] for key in keys) for packet in listed], expected)
                self.assertEqual([packet["start"] for packet in listed], [t[2] / 1e7 for t in expected])

    def test_one_track_and_the_text_table_list_the_same_samples(self):
        every = tool_json("packets", "--json", "--md5", mkv("mpeg4_mp3"))["packets"]
        audio = tool_json("packets", "--md5", "--track=1", mkv("mpeg4_mp3"), "--json")["packets"]
        self.assertEqual(audio, [p for p in every if p["track"] == 1])
        lines = run_tool("packets", "--md5", mkv("h264_aac")).stdout.decode().splitlines()
        self.assertTrue(lines[0].split()[0] == "track" and lines[0].split()[-1] == "md5")
        rows = packet_rows("h264_aac")
        self.assertEqual(len(lines), 1 + 1 + len(rows[0]) + len(rows[1]))  # heading, config, frames
        self.assertEqual(lines[1].split()[-2:], ["config", hashlib.md5(read_configs("h264_aac")[0]).hexdigest()])
        first = rows[0][0]
        self.assertEqual(lines[2].split(),
                         ["0", "0.0000000", "0", "0.0400000", "400000", first["size"], "1", "frame", first["md5"]])


class Seek(unittest.TestCase):
    def test_lands_on_the_latest_suitable_frame_and_lists_the_samples_from_there(self):
        # file, track index, time, where it lands (the latest key frame at or before the time for video,
        # the latest frame for audio): inside GOPs, on a key frame, in a GOP of ten seconds, before the start
        cases = [("h264_aac", 0, "1.5", 10000000), ("h264_aac", 0, "0.5", 0), ("h264_aac", 1, "1.5", 14860000),
                 ("h264_aac", 1, "-1", 0), ("h264_aac_manyclusters", 0, "3.5", 30000000), ("ac3_only", 0, "1", 9920010),
                 ("ffmpeg_gop2s", 0, "0:04.021", 40210000), ("x264_default_gop", 0, "15", 100210000)]
        for name, track, time, landing in cases:
            with self.subTest(file=name, time=time):
                result = run_tool("seek", mkv(name), "--track", track, "--time", time, "--count", 3)
                lines = result.stdout.decode().splitlines()
                self.assertTrue(lines[0].endswith(f"status 0x00000000 (ok), time {landing / 1e7:.7f} s ({landing})"),
                                lines[0])
                rows = packet_rows(name)[track]
                first = [int(row["start_100ns"]) for row in rows].index(landing)
                samples = [line.split() for line in lines[2:]]
                if track in read_configs(name):  # a fresh handle hands out the parameter sets first
                    self.assertEqual(samples.pop(0)[-1], "config")
                self.assertEqual([(s[2], s[5]) for s in samples],
                                 [(r["start_100ns"], r["size"]) for r in rows[first:first + 3]])


def ogg_crc(data):
    crc = 0
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = (crc << 1 ^ 0x104C11DB7) if crc & 0x80000000 else crc << 1
    return crc


def parse_ogg(stream):
    """Checks each page's capture pattern, checksum and number; returns (flags, granule, serial) of each
    page and the packets with the granule position of the page each ends on."""
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


class Extract(unittest.TestCase):
    def test_each_codec_is_written_in_its_stream_form_with_every_frame(self):
        forms = {".h264": self.check_annex_b, ".hevc": self.check_annex_b, ".aac": self.check_adts,
                 ".m4v": self.check_vol_header, ".ivf": self.check_ivf, ".opus": self.check_ogg,
                 ".ogg": self.check_ogg, ".flac": self.check_flac, ".wav": self.check_wav}
        with tempfile.TemporaryDirectory() as work:
            media = [(name, row) for name in FILES + CODEC_FILES for row in tracks(name) if row["track_type"] != "17"]
            for name, row in media:  # every audio and video track; subtitle tracks are refused
                _, codec_name, suffix, codec = CODECS[row["codec_id"]]
                with self.subTest(file=name, track=row["index"]):
                    out = os.path.join(work, f"{name}.{row['index']}{suffix}")
                    result = run_tool("extract", mkv(name), "--track", row["index"], "-o", out)
                    self.assertEqual(result.returncode, 0, result.stderr.decode())
                    with open(out, "rb") as stream:
                        data = stream.read()
                    # Only a codec without an elementary stream format warns, and names itself.
                    warnings = [line for line in result.stderr.decode().splitlines() if "warning" in line]
                    self.assertEqual([f"({codec_name}))" in line for line in warnings], [] if codec else [True])
                    rows = packet_rows(name)[int(row["index"])]
                    forms.get(suffix, self.check_frames)(data, rows, name, row)
                    if FFPROBE and codec:
                        self.check_ffprobe(out, codec, row, len(rows))

    def test_lossless_and_10_bit_streams_decode_to_the_pictures_of_the_file(self):
        if not FFMPEG:
            self.skipTest("needs ffmpeg (group extract_ffprobe)")

        def pictures(path, stream):
            result = subprocess.run([FFMPEG, "-v", "error", "-nostdin", "-threads", "1", "-i", path, "-map", stream,
                                     "-f", "framemd5", "-"], capture_output=True, timeout=600)
            self.assertEqual(result.returncode, 0, result.stderr.decode())
            return [line.split(",")[-1].strip() for line in result.stdout.decode().splitlines()
                    if line and not line.startswith("#")]

        with tempfile.TemporaryDirectory() as work:
            for name, track in LOSSLESS_TRACKS:
                with self.subTest(file=name, track=track):
                    out = os.path.join(work, f"{name}.{track}{CODECS[tracks(name)[track]['codec_id']][2]}")
                    self.assertEqual(run_tool("extract", mkv(name), "--track", track, "-o", out).returncode, 0)
                    expected = pictures(mkv(name), f"0:{track}")
                    self.assertEqual((len(expected), pictures(out, "0:v:0")), (len(packet_rows(name)[track]), expected))

    def check_ffprobe(self, path, codec, row, frames):
        """ffprobe reads the stream as what it is, with every frame."""
        entries = "stream=codec_name,nb_read_frames,nb_read_packets,sample_rate,channels,width,height"
        result = subprocess.run([FFPROBE, "-v", "error", "-count_frames", "-count_packets", "-show_entries",
                                 entries, "-of", "json", path], capture_output=True, timeout=600)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        [probed] = json.loads(result.stdout)["streams"]
        # A Vorbis decoder's first packet only primes it.
        self.assertEqual((probed["codec_name"], int(probed["nb_read_packets"]), int(probed["nb_read_frames"])),
                         (codec, frames, frames - 1 if codec == "vorbis" else frames))
        if row["track_type"] == "1":
            self.assertEqual((probed["width"], probed["height"]), (int(row["pixel_width"]), int(row["pixel_height"])))
        else:  # AAC in ADTS names the rate of its core, which the tables give
            self.assertEqual((int(probed["sample_rate"]), probed["channels"]),
                             (int(float(row["sampling_frequency"])), int(row["channels"]) or 1))

    def check_frames(self, frames, rows, *_):
        """frames: the frames of rows, in a list or back to back."""
        if isinstance(frames, bytes):
            self.assertEqual(len(frames), sum(int(row["size"]) for row in rows))
            ends = itertools.accumulate(int(row["size"]) for row in rows)
            frames = [frames[end - int(row["size"]):end] for end, row in zip(ends, rows)]
        self.assertEqual([hashlib.md5(frame).hexdigest() for frame in frames], [row["md5"] for row in rows])

    def check_annex_b(self, stream, rows, name, row):
        config = read_configs(name)[int(row["index"])]
        self.assertEqual(stream[:len(config)], config)
        self.check_frames(stream[len(config):], rows)

    def check_vol_header(self, stream, rows, name, row):
        self.assertEqual(stream[:4], b"\x00\x00\x01\xb0")  # a visual object sequence
        self.check_frames(stream[int(row["codec_private_size"]):], rows)

    def check_flac(self, stream, rows, name, row):
        self.assertEqual((stream[:4], stream[4] & 0x80), (b"fLaC", 0x80))  # STREAMINFO, the last metadata block
        self.check_frames(stream[int(row["codec_private_size"]):], rows)

    def check_adts(self, stream, rows, name, row):
        # Every header from the LC core of the configuration: HE-AAC at its core rate.
        payloads, headers, position = [], set(), 0
        while position < len(stream):
            header = stream[position:position + 7]
            length = (header[3] & 3) << 11 | header[4] << 3 | header[5] >> 5
            self.assertTrue(header[0] == 0xFF and header[1] & 0xF6 == 0xF0 and length > 7, f"no header at {position}")
            headers.add((header[2] >> 6, header[2] >> 2 & 15, (header[2] & 1) << 2 | header[3] >> 6))
            payloads.append(stream[position + 7:position + length])
            position += length
        rate = int(float(row["sampling_frequency"]))
        self.assertEqual(headers, {(1, AAC_FREQUENCY_INDEX[rate], int(row["channels"]))})
        self.check_frames(payloads, rows)

    def check_ivf(self, stream, rows, name, row):
        # A 32-byte header, then each frame behind its size and its start in milliseconds.
        frames, times, position = [], [], 32
        while position < len(stream):
            size, time = struct.unpack("<IQ", stream[position:position + 12])
            frames.append(stream[position + 12:position + 12 + size])
            times.append(time)
            position += 12 + size
        starts = [int(r["start_100ns"]) // 10000 for r in rows]
        fourcc = CODECS[row["codec_id"]][0].encode()
        self.assertEqual(struct.unpack("<4sHH4sHHIII4x", stream[:32]),
                         (b"DKIF", 0, 32, fourcc, int(row["pixel_width"]), int(row["pixel_height"]), 1000, 1,
                          int(rows[-1]["end_100ns"]) // 10000 - starts[0]))
        self.assertEqual(times, starts)
        if fourcc == b"AV01":  # each temporal unit opens with a temporal delimiter
            self.assertTrue(all(frame.startswith(b"\x12\x00") for frame in frames))
            frames = [frame[2:] for frame in frames]
        self.check_frames(frames, rows)

    def check_ogg(self, stream, rows, name, row):
        pages, packets = parse_ogg(stream)
        self.assertEqual(len({serial for _, _, serial in pages}), 1)
        self.assertEqual([flags for flags, _, _ in pages], [2] + [0] * (len(pages) - 2) + [4])
        private_size = int(row["codec_private_size"])
        if row["codec_id"] == "A_OPUS":
            self.assertTrue(packets[0][0].startswith(b"OpusHead") and len(packets[0][0]) == private_size)
            self.assertTrue(packets[1][0].startswith(b"OpusTags"))
            headers, rate = packets[:2], 48000
        else:  # the three header packets, without the lacing in front of them
            headers, rate = packets[:3], int(float(row["sampling_frequency"]))
            self.assertEqual([packet[:7] for packet, _ in headers], [bytes([kind]) + b"vorbis" for kind in (1, 3, 5)])
            lacing = 1 + len(headers[0][0]) // 255 + 1 + len(headers[1][0]) // 255 + 1
            self.assertEqual(lacing + sum(len(packet) for packet, _ in headers), private_size)
        self.assertEqual([granule for _, granule in headers], [0] * len(headers))
        frames = packets[len(headers):]
        self.check_frames([packet for packet, _ in frames], rows)
        # A page's granule is its frame's end in samples, to the nearest, never going back.
        granules = [0]
        for r in rows:
            granules.append(max(granules[-1], (int(r["end_100ns"]) * rate + 5 * 10**6) // 10**7))
        self.assertEqual([granule for _, granule in frames], granules[1:])

    def check_wav(self, stream, rows, name, row):
        # RIFF size, WAVE, a 16-byte fmt chunk (PCM, 2 channels, 8000 Hz, 32000 bytes/s, 4-byte
        # blocks, 16 bits), the data chunk's size; on standard output both sizes are unknown.
        self.assertEqual(struct.unpack("<4sI4s4sIHHIIHH4sI", stream[:44]),
                         (b"RIFF", len(stream) - 8, b"WAVE", b"fmt ", 16, 1, 2, 8000, 32000, 4, 16, b"data",
                          len(stream) - 44))
        self.check_frames(stream[44:], rows)
        piped = run_tool("extract", "-t", row["index"], "--output", "-", mkv(name)).stdout
        self.assertEqual(piped[:4] + piped[8:40] + piped[44:], stream[:4] + stream[8:40] + stream[44:])
        self.assertEqual(struct.unpack("<II", piped[4:8] + piped[40:44]), (0xFFFFFFFF, 0xFFFFFFFF))


class CommandLine(unittest.TestCase):
    def expect_error(self, code, message, *args):
        result = run_tool(*args)
        errors = result.stderr.decode()
        self.assertEqual((result.returncode, result.stdout, len(errors.splitlines())), (code, b"", 1), errors)
        self.assertTrue(errors.startswith("mkvdemux: ") and message in errors, errors)

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
            self.expect_error(EXIT_NO_TRACK, "no track 3 (tracks are 0 to 2)", "packets", sample, "--track", "3")
            self.expect_error(EXIT_UNSUPPORTED, "subtitle", "extract", sample, "--track", "2", "-o", out)
            self.expect_error(EXIT_UNSUPPORTED, "subtitle", "seek", sample, "--track", "2", "--time", "1")
            self.expect_error(EXIT_UNSUPPORTED, "subtitle", "packets", sample, "--track", "2")
            self.assertFalse(os.path.exists(out))

    def test_a_file_that_ends_before_its_segment_is_read_to_the_cut_with_one_line_saying_so(self):
        sample = mkv("h264_aac")  # its Segment ends where the file does
        size = os.path.getsize(sample)
        with tempfile.TemporaryDirectory() as work:
            cut, head, out = (os.path.join(work, name) for name in ("cut.mkv", "head.mkv", "out"))
            with open(sample, "rb") as whole:
                data = whole.read()
            for path, length in [(cut, size * 6 // 10), (head, 1000)]:
                with open(path, "wb") as part:
                    part.write(data[:length])
            commands = [["info"], ["packets"], ["extract", "-t", "0", "-o", out], ["seek", "-t", "0", "--time", "1"]]
            # file, bytes missing: the cut file, then complete ones (the last with a Segment of unknown size)
            for path, missing in [(cut, size - size * 6 // 10), (sample, None), (mkv("unknown_size_clusters"), None),
                                  (mkv("x264_default_gop_nocues"), None)]:
                line = f"mkvdemux: {path}: the file ends {missing} bytes before its Segment does (cut short, or " \
                       "still being written)"
                for command in commands:
                    with self.subTest(file=os.path.basename(path), command=command[0]):
                        result = run_tool(*command, path)
                        said = [s for s in result.stderr.decode().splitlines() if "before its Segment" in s]
                        self.assertEqual((result.returncode, said), (0, [line] if missing else []))
            # Cut inside the Segment's head: the library loads it but finds no track, an error of its own.
            result = run_tool("info", head)
            self.assertEqual((result.returncode, result.stderr.decode().splitlines()),
                             (EXIT_NOT_LOADABLE, [f"mkvdemux: {head}: the file ends {size - 1000} bytes before its "
                                                  "Segment does (cut short, or still being written)",
                                                  f"mkvdemux: {head}: the library loads it but finds no track in it "
                                                  "(is the file cut short?)"]))

    def test_time_takes_seconds_and_clock_forms_and_rejects_malformed_ones(self):
        sample = mkv("h264_aac")
        # The seek line repeats the requested time in 100-ns units.
        for text, units in [("1.5", 15000000), ("0:01.5", 15000000), ("00:00:01.5", 15000000), ("-0.5", -5000000),
                            ("2:03.25", 1232500000), ("1:02:03", 37230000000), ("90:00", 54000000000)]:
            with self.subTest(time=text):
                first = run_tool("seek", sample, "-t", "1", "--time", text, "-n", "0").stdout.decode().splitlines()[0]
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
                self.assertLessEqual(max(len(line) for line in text.splitlines()), 80)
                self.assertEqual(run_tool("help", *first).stdout, result.stdout)
                # Each command lists the exit codes it can return, no other.
                listed = [int(line.split()[0]) for line in text.split("Exit codes:\n")[1].splitlines()]
                self.assertEqual(listed, list(every_code.get(command, range(8))))
                self.assertEqual(run_tool(*first, mkv("h264_aac"), "--version").stdout, version.stdout)
        self.expect_error(EXIT_USAGE, "no command 'play'", "help", "play")


GROUPS = {"info": Info, "packets": Packets, "seek": Seek, "extract": Extract, "extract_ffprobe": Extract,
          "command_line": CommandLine}


def main(argv):
    global TOOL, DATA, EMULATOR, FFPROBE, FFMPEG
    if "--" in argv:
        argv, EMULATOR = argv[:argv.index("--")], argv[argv.index("--") + 1:]
    if len(argv) != 6 or argv[1] != "--tool" or argv[3] != "--data" or argv[5] not in GROUPS:
        sys.exit(__doc__)
    TOOL, DATA = argv[2], argv[4]
    FFPROBE = os.environ["MKV_TOOL_FFPROBE"] if argv[5] == "extract_ffprobe" else None
    FFMPEG = os.environ["MKV_TOOL_FFMPEG"] if argv[5] == "extract_ffprobe" else None
    result = unittest.TextTestRunner(verbosity=2).run(unittest.TestLoader().loadTestsFromTestCase(GROUPS[argv[5]]))
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main(sys.argv)
