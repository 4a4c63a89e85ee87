#!/usr/bin/env python3
"""Copies a Matroska file with the header of one Cluster overwritten by garbage.

The Cluster's ID bytes and its size field are replaced by bytes that start with 0x00,
which no EBML ID or size can start with, so the element cannot be read; everything
else, the file length included, stays as it was. Prints the cluster's file offset and
the bytes before and after.

Usage: damage_cluster.py IN.mkv OUT.mkv CLUSTER_INDEX
"""

import sys

sys.dont_write_bytecode = True  # keep the folder free of a __pycache__
from rewrite_tracks import ID_CLUSTER, ID_SEGMENT, ReadId, ReadVint

GARBAGE = bytes.fromhex("00474152424147454747")  # 0x00 then "GARBAGEGG"


def ClusterHeaders(data):
    """(offset, header length) of every Cluster, in file order."""
    pos = 0
    while pos < len(data):
        eid, id_width = ReadId(data, pos)
        size, size_width = ReadVint(data, pos + id_width)
        if eid == ID_SEGMENT:
            pos += id_width + size_width
            continue
        if eid == ID_CLUSTER:
            yield pos, id_width + size_width
        pos += id_width + size_width + size


def main(args):
    if len(args) != 3:
        sys.exit(__doc__)
    data = bytearray(open(args[0], "rb").read())
    offset, length = list(ClusterHeaders(data))[int(args[2])]
    before = bytes(data[offset:offset + length])
    data[offset:offset + length] = GARBAGE[:length]
    open(args[1], "wb").write(data)
    print("%s: cluster %s at %d: %s -> %s" % (args[1].rsplit("/", 1)[-1], args[2], offset,
                                             before.hex(), GARBAGE[:length].hex()))


if __name__ == "__main__":
    main(sys.argv[1:])
