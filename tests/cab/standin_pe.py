#!/usr/bin/python3
"""The headers of a PE image and no code: a stand-in for a program where only its
machine and subsystem are looked at (the handheld's program, which these machines
cannot build without its toolchain).

    standin_pe.py OUT [MACHINE [SUBSYSTEM [PAYLOAD_BYTES]]]    default: ARM, Windows CE GUI
"""

import random
import struct
import sys


def write(path, machine=0x1C0, subsystem=9, payload=b""):
    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 60, 64)                  # e_lfanew
    coff = struct.pack("<HHIIIHH", machine, 0, 0, 0, 0, 224, 0x0102)
    opt = bytearray(224)                                 # PE32 optional header
    struct.pack_into("<H", opt, 0, 0x10B)                # magic
    struct.pack_into("<I", opt, 28, 0x10000)             # image base
    struct.pack_into("<II", opt, 32, 0x1000, 0x200)      # section, file alignment
    struct.pack_into("<I", opt, 56, 0x1000)              # size of image
    struct.pack_into("<I", opt, 60, 0x200)               # size of headers
    struct.pack_into("<H", opt, 68, subsystem)
    struct.pack_into("<I", opt, 92, 16)                  # number of data directories
    data = bytes(dos) + b"PE\0\0" + coff + bytes(opt)
    with open(path, "wb") as f:
        f.write(data + bytes(0x200 - len(data)) + payload)


if __name__ == "__main__":
    args = sys.argv[1:]
    machine = int(args[1], 0) if len(args) > 1 else 0x1C0
    subsystem = int(args[2]) if len(args) > 2 else 9
    size = int(args[3]) if len(args) > 3 else 20000
    rng = random.Random(size)
    write(args[0], machine, subsystem, bytes(rng.randrange(256) for _ in range(size)))
