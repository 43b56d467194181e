#!/usr/bin/python3
"""ARM instructions the handheld's brindle.exe executes per key byte, over the paragraph
engine_bench types, counted in the emulator: every instruction of .text run while
TranslateKeyByte handles a byte (the engine, the runtime's atomics and division, the
import thunks), none of the platform's (the trapped coredll calls run no ARM code here).
The run is the comparison with the host (compare_with_host.py paragraph), so the figure
is of a run that did what the host build does.

    count_instructions.py BIN REFERENCE [--at-most N]

Prints the figure and the functions that take the most; the line starting "figures:"
is for tools/bench. With --at-most, exits 1 when the figure is above N.
"""

import argparse
import os
import sys

import pefile

from compare_with_host import Comparison, Difference, reference_lines
from handheld_emu import HandheldEmu

CLOCK_MHZ = 206  # the StrongARM SA-1110 of the oldest Pocket PCs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bin")
    ap.add_argument("reference")
    ap.add_argument("--at-most", type=int)
    a = ap.parse_args()

    exe = os.path.join(a.bin, "brindle.exe")
    emu = HandheldEmu(exe, os.path.join(a.bin, "brindle.map"))
    pe = pefile.PE(exe)
    text = [s for s in pe.sections if s.Name.rstrip(b"\0") == b".text"][0]
    start = pe.OPTIONAL_HEADER.ImageBase + text.VirtualAddress
    emu.count_instructions(start, start + text.Misc_VirtualSize)

    totals = {"bytes": 0, "instructions": 0, "platform": 0, "library": 0}
    by_function = {}
    apply = emu.apply

    def counted(step):
        if not step.startswith("key "):
            return apply(step)
        before = dict(emu.counting)
        calls = emu.platform_calls, emu.library_calls
        lines = apply(step)
        totals["bytes"] += 1
        totals["platform"] += emu.platform_calls - calls[0]
        totals["library"] += emu.library_calls - calls[1]
        for name, n in emu.counting.items():
            d = n - before.get(name, 0)
            totals["instructions"] += d
            by_function[name] = by_function.get(name, 0) + d
        return lines

    emu.apply = counted
    try:
        Comparison(emu).run(reference_lines(a.reference, "paragraph"))
    except Difference as e:
        print("FAILED: the paragraph's calls differ from the host's (%s)" % e)
        return 1

    n = totals["bytes"]
    per = totals["instructions"] / n
    print("%d key bytes of the paragraph, %d ARM instructions: %.0f a key byte (%.2f us at %d MHz, one "
          "instruction a cycle)" % (n, totals["instructions"], per, per / CLOCK_MHZ, CLOCK_MHZ))
    print("platform calls a key byte: %.2f printed (key events, characters, timers, the touch event), "
          "%.2f C library and interlocked calls" % (totals["platform"] / n, totals["library"] / n))
    print("instructions a key byte, by function:")
    for name, count in sorted(by_function.items(), key=lambda kv: -kv[1])[:12]:
        print("  %7.1f  %s" % (count / n, name))
    print("figures: bytes=%d instructions=%d per_byte=%.0f platform_calls_per_byte=%.2f library_calls_per_byte=%.2f"
          % (n, totals["instructions"], per, totals["platform"] / n, totals["library"] / n))
    if a.at_most is not None and per > a.at_most:
        print("FAILED: %.0f instructions a key byte, more than %d" % (per, a.at_most))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
