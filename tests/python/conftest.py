"""What the module's tests compare against: the dunsmere command run on the
same files, its PNG decoded and its OBJ's colours read back here, by code
that shares nothing with the module."""

import os
import struct
import subprocess
import zlib

import numpy as np
import pytest

EXAMPLES = os.environ.get("DUNSMERE_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
CRATE = os.path.join(EXAMPLES, "crate.obj")


def run_command(*args, stdout=False):
    """The command's stderr, or its stdout; fails the test on a non-zero exit."""
    done = subprocess.run([os.environ["DUNSMERE_COMMAND"], "-q", *args], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout if stdout else done.stderr


def decode_png(path):
    """A 16-bit grey or grey-alpha PNG as (levels, alpha or None)."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 16 and colour in (0, 4) and interlace == 0
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    channels = 2 if colour == 4 else 1
    bpp, stride = 2 * channels, 2 * channels * width
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = previous[i], previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    pixels = np.frombuffer(b"".join(rows), dtype=">u2").reshape(height, width, channels).astype(np.uint16)
    return pixels[:, :, 0], (pixels[:, :, 1] if channels == 2 else None)


def obj_corner_colours(path):
    """Faces x 3 x 3: each corner's colour from its v line's r g b."""
    colours, corners = [], []
    for line in open(path):
        parts = line.split()
        if parts and parts[0] == "v":
            colours.append([float(x) for x in parts[4:7]])
        elif parts and parts[0] == "f":
            corners.append([int(p.split("/")[0]) - 1 for p in parts[1:4]])
    return np.array(colours, dtype=np.float32)[np.array(corners)]


@pytest.fixture(scope="session")
def crate():
    import dunsmere
    return dunsmere.read_mesh(CRATE)
