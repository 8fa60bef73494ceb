#!/usr/bin/env python3
"""Example host in Python (ctypes): loads the library from a folder, as a marking program does,
opens the card, applies the parameter file, marks the drawing of examples/host_demo.cpp (a square,
a circle of vectors, a row of dots, an output switched) and closes the card, printing what the
library answers.

Usage: host_demo.py <folder of the library>

Every export returns an unsigned result (0 for success; qzmark.h names each code). Arrays of
points are doubles, three per point (x, y in mm and a third that is not read); the pen record of
QZ_SetMarkPara is 1696 bytes with its fields at the byte offsets qzmark.h gives.
"""
import ctypes
import math
import os
import struct
import sys


def load(folder):
    if os.name == "nt":
        # The standard calling convention of 32-bit Windows.
        return ctypes.WinDLL(os.path.join(folder, "QZMark.dll"))
    return ctypes.CDLL(os.path.join(folder, "libqzmark.so"))


def points(coords):
    """A ctypes array of doubles: three per point."""
    flat = [v for x, y in coords for v in (x, y, 0.0)]
    return (ctypes.c_double * len(flat))(*flat)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    lib = load(os.path.abspath(folder))
    u32, i32, dbl = ctypes.c_uint32, ctypes.c_int32, ctypes.c_double
    ptr = ctypes.c_void_p
    signatures = {
        "QZ_GetSwVer": [ctypes.POINTER(u32)],
        "QZ_GetCardsNo": [ptr, ptr],
        "QZ_InitCard": [],
        "QZ_GetHdVer": [ctypes.POINTER(u32)],
        "QZ_GetWaitInfo": [ctypes.c_char_p],
        "QZ_SetCardParaFile": [u32],
        "QZ_SetMarkPara": [ptr, i32],
        "QZ_MarkStart": [u32, u32, u32],
        "QZ_MarkVector": [ptr, i32, u32],
        "QZ_MarkDot": [ptr, i32, dbl, i32],
        "QZ_MarkBufIO": [u32, u32, u32, u32],
        "QZ_MarkEnd": [u32],
        "QZ_GetMarkTime": [ctypes.POINTER(u32)],
        "QZ_CloseCard": [],
    }
    qz = {}
    for name, args in signatures.items():
        f = getattr(lib, name)
        f.argtypes = args
        f.restype = u32
        qz[name] = f

    version = u32()
    print("QZ_GetSwVer: %u, library version 0x%04X" % (qz["QZ_GetSwVer"](ctypes.byref(version)), version.value))
    cards, first = u32(), u32()
    rc = qz["QZ_GetCardsNo"](ctypes.byref(cards), ctypes.byref(first))
    print("QZ_GetCardsNo: %u, cards %u" % (rc, cards.value))
    opened = qz["QZ_InitCard"]()
    print("QZ_InitCard: %u" % opened)
    if opened != 0:
        return 1
    hw = u32()
    print("QZ_GetHdVer: %u, hardware word 0x%X" % (qz["QZ_GetHdVer"](ctypes.byref(hw)), hw.value))
    text = ctypes.create_string_buffer(1024)
    rc = qz["QZ_GetWaitInfo"](text)
    print('QZ_GetWaitInfo: %u, "%s"' % (rc, text.value.decode("utf-8", "replace")))
    # The configuration in ini/ is applied and uploaded to the card.
    print("QZ_SetCardParaFile: %u" % qz["QZ_SetCardParaFile"](0))
    # Pen 0: 20 kHz at 50 %, marking at 500 mm/s, jumping at 2000 mm/s (little-endian reals at
    # their byte offsets of the 1696-byte record).
    pen = bytearray(1696)
    for offset, value in ((28, 20.0), (36, 50.0), (432, 500.0), (440, 2000.0)):
        struct.pack_into("<d", pen, offset, value)
    pen_buffer = (ctypes.c_ubyte * len(pen)).from_buffer(pen)
    print("QZ_SetMarkPara: %u" % qz["QZ_SetMarkPara"](pen_buffer, 1))

    print("QZ_MarkStart: %u" % qz["QZ_MarkStart"](0, 0, 0))
    # A square of 8 mm.
    square = [(-6, -6), (2, -6), (2, 2), (-6, 2), (-6, -6)]
    print("QZ_MarkVector (square): %u" % qz["QZ_MarkVector"](points(square), len(square), 0))
    # A circle of 3 mm radius around (4, 4), as 36 vectors.
    step = 2.0 * math.pi / 36.0
    circle = [(4.0 + 3.0 * math.cos(i * step), 4.0 + 3.0 * math.sin(i * step))
              for i in range(37)]
    print("QZ_MarkVector (circle): %u" % qz["QZ_MarkVector"](points(circle), len(circle), 0))
    # A row of five dots of 200 us.
    dots = [(-6.0 + 2.0 * i, 6.0) for i in range(5)]
    print("QZ_MarkDot: %u" % qz["QZ_MarkDot"](points(dots), len(dots), 200.0, 0))
    # Output 5 switched on in the job.
    print("QZ_MarkBufIO: %u" % qz["QZ_MarkBufIO"](1 << 5, 1 << 5, 0, 0))
    ended = qz["QZ_MarkEnd"](0)
    print("QZ_MarkEnd: %u" % ended)
    us = u32()
    qz["QZ_GetMarkTime"](ctypes.byref(us))
    print("QZ_GetMarkTime: %u us of stream" % us.value)
    print("QZ_CloseCard: %u" % qz["QZ_CloseCard"]())
    return 0 if ended == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
