#!/usr/bin/python3
"""The handheld's brindle.exe, run in an emulated StrongARM, against the host build of the
same sources: the host reference program (reference.cpp) writes the inputs and its own
platform calls; each input is applied to the emulated program, whose calls are printed in
the same form, and the two are compared line for line. The first difference is printed
with its stream or scenario and step, and the inputs that led there.

    compare_with_host.py BIN REFERENCE MODE [options]

BIN is the handheld tree's bin/ (brindle.exe, brindle.map, the resource libraries);
REFERENCE the host program. Modes:

    streams [--variant V] [--first N] [--count N]   random key streams (default 10^4 from 0)
    paragraph                                      the paragraph engine_bench types
    settings                                       the settings load, empty and stored registry
    serial                                         the serial link: configuration, reading, hand-off
    layouts                                        each national build's picker layout

Deliberate faults, to see the comparison fail (with --expect-difference the run passes
only when a difference is found):

    --wchar-size N          the platform reads and writes the program's characters N bytes wide
    --break NAME=OTHER      the function NAME of the link map jumps to OTHER
"""

import argparse
import os
import struct
import subprocess
import sys
import time

from handheld_emu import ASIC_BIT, ASIC_OFF, ASIC_ON, HandheldEmu, Mismatch, string_resource

NATIONAL = ("USA", "FRA", "GER", "ESP", "PTB", "ITA")
KINDS = ("key", "set", "tick", "menu", "end", "load", "open", "reader", "close")


class Difference(Exception):
    pass


class Comparison:
    def __init__(self, emu, out=sys.stdout):
        self.emu = emu
        self.out = out
        self.units = self.steps = self.lines = 0
        self.language = None  # when set, string 20 as the emulated LoadStringW gives it
        self.after_step = None  # check(unit, step, lines) run on the emulator's lines
        self.seen = {}  # what the compared steps did, by kind (see tally)

    def run(self, lines):
        unit, step, host, inputs = None, None, [], []

        def finish():
            if step is None:
                return
            inputs.append(step)
            try:
                got = self.emu.apply(step.split(" ", 2)[2])
            except Exception as e:  # a fault of the emulated program or of its model
                self.report(unit, inputs, host, self.emu.lines, "the emulated run stopped: %s" % e)
                raise
            self.steps += 1
            self.lines += len(host)
            if got != host:
                self.report(unit, inputs, host, got, None)
                raise Difference("%s, %s" % (unit, step))
            self.tally(step, got)
            if self.after_step:
                self.after_step(unit, step, got)

        for line in lines:
            line = line.rstrip("\n")
            if line.startswith(("stream ", "scenario ")):
                finish()
                unit, step, host, inputs = line, None, [], []
                self.emu.reset()
                self.units += 1
            elif line.startswith("given "):
                self.emu.given(line)
                if self.language is not None:
                    self.emu.language = self.language
            elif line.startswith("step "):
                finish()
                step, host = line, []
            else:
                host.append(line)
        finish()

    def tally(self, step, lines):
        """Counts what the compared steps exercised, so a run can say what it covered."""
        seen = self.seen
        kind = step.split(" ", 3)[2]
        seen[kind] = seen.get(kind, 0) + 1
        menu_checked = False
        for line in lines:
            if not line.startswith("  ") or line.startswith("  ="):
                continue
            name, _, args = line[2:].partition("(")
            label = None
            if name == "PostKeybdMessage":
                char = int(args.rstrip(")]").rsplit("[", 1)[1].split(",")[0], 16)
                label = "Enter or Tab as a message" if not args.startswith("0xffffffff,0x0,") else \
                    "composed accented letters" if char >= 0xC0 else "characters"
            elif name == "keybd_event":
                vk, flags = int(args.split(",")[0], 16), int(args.split(",")[2], 16)
                if flags == 4 and vk == 0xA0:
                    label = "sticky Shift latched (silent Shift)"
                elif vk == 0x14:
                    label = "Caps Lock toggled (Fn+Shift)"
                elif vk == 0xDF:
                    label = "power off (Fn+Space)"
                elif vk in (0x21, 0x22):
                    label = "Page Up/Down (Fn+Right/Left)"
                elif vk == 0x2E:
                    label = "Delete (Shift+Backspace)"
                elif vk in (0x0D, 0x09) and menu_checked and flags == 0:
                    label = "Enter or Tab into an open menu"
                elif kind == "tick" and flags == 0:
                    label = "repeats pressed by a tick"
            elif name == "FindWindowW":
                menu_checked = True
            elif name in ("OpenPicker", "ClosePicker", "PostMessageW", "SHSipPreference", "RedrawPicker"):
                label = name
            if label:
                seen[label] = seen.get(label, 0) + 1

    def report(self, unit, inputs, host, got, why):
        w = self.out.write
        w("FIRST DIFFERENCE in %s, %s\n" % (unit, inputs[-1]))
        if why:
            w("  %s\n" % why)
        w("  the inputs of this %s so far:\n" % unit.split()[0])
        for s in inputs[-40:]:
            w("    %s\n" % s)
        n = max(len(host), len(got))
        first = next((i for i in range(n) if i >= len(host) or i >= len(got) or host[i] != got[i]), n)
        w("  the step's lines, host | handheld (first difference marked >>):\n")
        for i in range(n):
            h = host[i] if i < len(host) else "(none)"
            g = got[i] if i < len(got) else "(none)"
            w("  %s %-60s | %s\n" % (">>" if i == first else "  ", h.strip(), g.strip()))


def reference_lines(reference, *args):
    p = subprocess.Popen([reference] + [str(a) for a in args], stdout=subprocess.PIPE, text=True, bufsize=1 << 16)
    complete = False
    try:
        yield from p.stdout
        complete = True
    finally:
        if not complete:  # the comparison stopped early: the rest is not wanted
            p.kill()
        p.stdout.close()
        p.wait()
    if p.returncode != 0:
        raise RuntimeError("%s %s failed with %d" % (reference, " ".join(map(str, args)), p.returncode))


# ---- what the handheld must do whatever the host does: the platform's documented rules ----

def check_defaults(unit, step, lines):
    """An empty registry: the four settings written back, each a REG_DWORD of 4 bytes."""
    if unit != "scenario settings-empty" or not step.endswith(" load"):
        return
    written = []
    for line in lines:
        if line.startswith("  RegSetValueExW("):
            key, name, reserved, rtype, data, size = line[len("  RegSetValueExW("):-1].split(",")
            written.append((name.strip('"'), int(rtype), bytes.fromhex(data.strip("[]")), int(size)))
    want = [(name, 4, struct.pack("<I", value), 4)
            for name, value in (("InitialDelay", 500), ("RepeatRate", 20), ("PrefShift", 0), ("PrefFn", 0))]
    if written != want:
        raise Difference("the defaults written to an empty registry are %s, not %s" % (written, want))
    print("ok    an empty registry gets its four defaults, each REG_DWORD (4) of 4 bytes: "
          + ", ".join("%s=%d" % (n, struct.unpack("<I", d)[0]) for n, _, d, _ in written))


class SerialChecks:
    """The DCB and time-outs the handheld's serial driver receives, read by the documented
    layout of those records rather than by the program's own declarations."""

    DCB = struct.Struct("<III HHH BBB bbbbb H")
    FLAGS = (("fBinary", 0, 1), ("fParity", 1, 1), ("fOutxCtsFlow", 2, 1), ("fOutxDsrFlow", 3, 1),
             ("fDtrControl", 4, 2), ("fDsrSensitivity", 6, 1), ("fTXContinueOnXoff", 7, 1), ("fOutX", 8, 1),
             ("fInX", 9, 1), ("fErrorChar", 10, 1), ("fNull", 11, 1), ("fRtsControl", 12, 2),
             ("fAbortOnError", 14, 1), ("fDummy2", 15, 17))

    def __init__(self, emu):
        self.emu = emu
        self.checked = 0

    def fields(self, data):
        (length, baud, flags, reserved, xon_lim, xoff_lim, byte_size, parity, stop_bits, xon, xoff, error, eof,
         evt, reserved1) = self.DCB.unpack(data)
        out = dict(DCBlength=length, BaudRate=baud, wReserved=reserved, XonLim=xon_lim, XoffLim=xoff_lim,
                   ByteSize=byte_size, Parity=parity, StopBits=stop_bits, XonChar=xon, XoffChar=xoff,
                   ErrorChar=error, EofChar=eof, EvtChar=evt, wReserved1=reserved1)
        for name, bit, width in self.FLAGS:
            out[name] = (flags >> bit) & ((1 << width) - 1)
        return out

    def __call__(self, unit, step, lines):
        for line in lines:
            if line.startswith("  SetCommState("):
                given = self.fields(self.emu.dcb)
                got = self.fields(bytes.fromhex(line.split("[")[1].rstrip("])")))
                # 9600 8N1, binary, DTR and RTS on, no flow control; everything else as the
                # port reported it, the reserved bits among them.
                want = dict(given, DCBlength=28, BaudRate=9600, ByteSize=8, Parity=0, StopBits=0, fBinary=1,
                            fParity=1, fOutxCtsFlow=0, fOutxDsrFlow=0, fDtrControl=1, fDsrSensitivity=0,
                            fTXContinueOnXoff=1, fOutX=0, fInX=0, fErrorChar=0, fNull=0, fRtsControl=1,
                            fAbortOnError=0)
                if got != want:
                    raise Difference("the DCB the port receives: %s" % {k: (got[k], want[k]) for k in want
                                                                        if got[k] != want[k]})
                self.checked += 1
            elif line.startswith("  SetCommTimeouts("):
                given = struct.unpack("<5I", self.emu.timeouts)
                got = struct.unpack("<5I", bytes.fromhex(line.split("[")[1].rstrip("])")))
                # Reads return at once with what has arrived; the write time-outs are kept.
                want = (0xFFFFFFFF, 0, 0) + given[3:]
                if got != want:
                    raise Difference("the time-outs the port receives: %s, not %s" % (got, want))
                self.checked += 1

    def finish(self):
        sizes = self.emu.shell_execute_sizes
        if not sizes or any(s != 60 for s in sizes):
            raise Difference("SHELLEXECUTEINFO.cbSize as the handheld receives it: %s (its record is 60 bytes)"
                             % sizes)
        writes = self.emu.asic_writes
        want = [(ASIC_ON, 4, ASIC_BIT), (ASIC_ON, 4, ASIC_BIT), (ASIC_OFF, 4, ASIC_BIT), (ASIC_ON, 4, ASIC_BIT),
                (ASIC_ON, 4, ASIC_BIT), (ASIC_OFF, 4, ASIC_BIT)]
        if writes != want:
            raise Difference("the keyboard's power register writes (offset, size, value): %s, not %s"
                             % (writes, want))
        print("ok    %d DCB and time-out records as the documented layout wants them; SHELLEXECUTEINFO of %d "
              "bytes; %d power register writes, each one 32-bit store of 0x10" % (self.checked, sizes[0],
                                                                                   len(writes)))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("bin")
    ap.add_argument("reference")
    ap.add_argument("mode", choices=("streams", "paragraph", "settings", "serial", "layouts"))
    ap.add_argument("--variant", type=int, default=1)
    ap.add_argument("--first", type=int, default=0)
    ap.add_argument("--count", type=int, default=10000)
    ap.add_argument("--wchar-size", type=int, default=2)
    ap.add_argument("--break", dest="breaks", action="append", default=[], metavar="NAME=OTHER")
    ap.add_argument("--expect-difference", action="store_true")
    a = ap.parse_args()

    breaks = [tuple(b.split("=", 1)) for b in a.breaks]
    emu = HandheldEmu(os.path.join(a.bin, "brindle.exe"), os.path.join(a.bin, "brindle.map"),
                      wchar_size=a.wchar_size, breaks=breaks)
    cmp = Comparison(emu)
    t0 = time.monotonic()
    try:
        if a.mode == "streams":
            cmp.run(reference_lines(a.reference, "streams", a.variant, a.first, a.count))
        elif a.mode == "paragraph":
            cmp.run(reference_lines(a.reference, "paragraph"))
        elif a.mode == "settings":
            cmp.after_step = check_defaults
            cmp.run(reference_lines(a.reference, "settings"))
        elif a.mode == "serial":
            checks = SerialChecks(emu)
            cmp.after_step = checks
            cmp.run(reference_lines(a.reference, "serial"))
            checks.finish()
        elif a.mode == "layouts":
            for code in NATIONAL:
                dll = os.path.join(a.bin, "brindleres.dll") if code == "USA" else \
                    os.path.join(a.bin, "national", code, "brindleres.dll")
                string = string_resource(dll, 20)
                if string is None or string.upper() != code:
                    raise Difference("%s: string 20 is %r, not its code %s" % (dll, string, code))
                # The emulated program reads the library's own string; the host is told the code.
                cmp.language = string
                cmp.run(reference_lines(a.reference, "layout", code))
                layout = emu.active_layout()
                print("ok    %s: string 20 %r, ActiveLayout as the host's, %d cells with a character"
                      % (code, string, sum(1 for _, plain, shifted in layout if plain or shifted)))
    except Difference as e:
        print("DIFFERENCE: %s" % e)
        if a.expect_difference:
            print("ok    the comparison found the difference the deliberate fault makes")
            return 0
        return 1
    except (Mismatch, RuntimeError, KeyError) as e:
        print("FAILED: %s" % e)
        return 1
    took = time.monotonic() - t0
    print("%d %s, %d steps, %d host lines matched one for one (%d platform calls printed, %d C library and "
          "interlocked calls carried out) in %.1f s" % (
              cmp.units, "streams" if a.mode == "streams" else "scenarios", cmp.steps, cmp.lines,
              emu.platform_calls, emu.library_calls, took))
    print("the steps: " + ", ".join("%s %d" % kv for kv in sorted(cmp.seen.items()) if kv[0] in KINDS))
    print("what they did: " + ", ".join("%s %d" % kv for kv in sorted(cmp.seen.items()) if kv[0] not in KINDS))
    if a.expect_difference:
        print("FAILED: the deliberate fault made no difference")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
