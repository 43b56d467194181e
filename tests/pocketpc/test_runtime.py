#!/usr/bin/python3
"""The handheld's entry and runtime, run in an emulated StrongARM: each helper the
compiler calls (division, atomics, memory) is called directly and its result checked
against Python's own arithmetic, and the entry is run as the loader runs it.

    test_runtime.py PROBE.exe PROBE.map
"""

import random
import struct
import sys
import unittest

from ce_emulator import CeImage, StopRun, read_map

PROBE = MAP = None
MASK32 = 0xFFFFFFFF


def signed(v):
    v &= MASK32
    return v - (1 << 32) if v & 0x80000000 else v


def c_divmod(n, d):
    """C's division: the quotient rounds toward zero, the remainder has n's sign."""
    q = abs(n) // abs(d)
    if (n < 0) != (d < 0):
        q = -q
    return q, n - q * d


class Runtime(unittest.TestCase):
    def setUp(self):
        self.emu = CeImage(PROBE)
        self.sym = read_map(MAP)
        self.interlocked = []
        # Coredll's calls, with the semantics their documentation gives.
        self.emu.on("InterlockedTestExchange", self.interlocked_test_exchange)
        self.emu.on("InterlockedExchange", self.interlocked_exchange)
        self.emu.on("memcpy", lambda e, a: self.memcpy(a[0], a[1], a[2]))
        self.emu.on("memset", lambda e, a: self.memset(a[0], a[1], a[2]))
        # Set by a test: runs once, just before an exchange compares, as another thread
        # scheduled at that moment would.
        self.meddle = None

    def interlocked_test_exchange(self, emu, a):
        target, old, new = a[0], a[1], a[2]
        self.interlocked.append(("InterlockedTestExchange", target))
        if self.meddle:
            meddle, self.meddle = self.meddle, None
            meddle()
        found = emu.read32(target)
        if found == old:
            emu.write32(target, new)
        return found

    def interlocked_exchange(self, emu, a):
        self.interlocked.append(("InterlockedExchange", a[0]))
        found = emu.read32(a[0])
        emu.write32(a[0], a[1])
        return found

    def memcpy(self, dest, src, n):
        self.emu.write(dest, self.emu.read(src, n))
        return dest

    def memset(self, dest, c, n):
        self.emu.write(dest, bytes([c & 0xFF]) * n)
        return dest

    def fn(self, name):
        self.assertIn(name, self.sym, "%s is not in the probe's link map" % name)
        return self.sym[name]

    def call(self, name, *args):
        return self.emu.call(self.fn(name), *args)

    # ---- division ----------------------------------------------------------------------
    def division_cases(self):
        edges = [0, 1, 2, 3, 7, 10, 0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF, 1000, 30]
        rng = random.Random(20240611)
        cases = [(n, d) for n in edges for d in edges if d != 0]
        cases += [(rng.getrandbits(32), rng.getrandbits(rng.choice((3, 8, 16, 31, 32))) or 1) for _ in range(400)]
        return cases

    def test_unsigned_division(self):
        for n, d in self.division_cases():
            q, r = n // d, n % d
            self.assertEqual(self.call("__aeabi_uidiv", n, d)[0], q, "%#x / %#x" % (n, d))
            self.assertEqual(self.call("__aeabi_uidivmod", n, d), (q, r), "%#x divmod %#x" % (n, d))

    def test_signed_division(self):
        for n, d in self.division_cases():
            sn, sd = signed(n), signed(d)
            q, r = c_divmod(sn, sd)
            q &= MASK32  # INT32_MIN / -1 wraps, as two's complement does
            self.assertEqual(self.call("__aeabi_idiv", n, d)[0], q, "%d / %d" % (sn, sd))
            self.assertEqual(self.call("__aeabi_idivmod", n, d), (q, r & MASK32), "%d divmod %d" % (sn, sd))

    def test_division_by_zero_keeps_the_identity(self):
        for n in (0, 1, 0x80000000, 0xFFFFFFFF, 12345):
            self.assertEqual(self.call("__aeabi_uidivmod", n, 0), (0, n))
            self.assertEqual(self.call("__aeabi_idivmod", n, 0), (0, n))

    # ---- memory --------------------------------------------------------------------------
    def test_memory_helpers(self):
        buf = self.emu.alloc(64)
        src = self.emu.alloc(64)
        pattern = bytes(range(1, 65))
        for suffix in ("", "4", "8"):
            self.emu.write(src, pattern)
            self.emu.write(buf, b"\xEE" * 64)
            self.call("__aeabi_memcpy" + suffix, buf + 8, src, 40)
            self.assertEqual(self.emu.read(buf, 64), b"\xEE" * 8 + pattern[:40] + b"\xEE" * 16)
            # destination, size, value: the EABI order, not memset's.
            self.call("__aeabi_memset" + suffix, buf + 8, 16, 0x5A)
            self.assertEqual(self.emu.read(buf + 4, 24), b"\xEE" * 4 + b"\x5A" * 16 + pattern[16:20])
            self.call("__aeabi_memclr" + suffix, buf + 16, 24)
            self.assertEqual(self.emu.read(buf + 8, 40), b"\x5A" * 8 + b"\0" * 24 + pattern[32:40])

    # ---- atomics -------------------------------------------------------------------------
    OPS = {
        "add": lambda a, b: a + b, "sub": lambda a, b: a - b, "and": lambda a, b: a & b,
        "or": lambda a, b: a | b, "xor": lambda a, b: a ^ b, "nand": lambda a, b: ~(a & b),
    }
    SIZES = {1: "<B", 2: "<H", 4: "<I"}

    def word_with(self, size, offset, value, around):
        """A word (at an aligned address) holding `value` at `offset`, `around` elsewhere."""
        address = self.emu.alloc(8, 4)
        self.emu.write(address, around)
        self.emu.write(address + offset, struct.pack(self.SIZES[size], value))
        return address

    def expect_word(self, address, size, offset, value, around):
        want = bytearray(around)
        want[offset:offset + size] = struct.pack(self.SIZES[size], value)
        self.assertEqual(self.emu.read(address, 4).hex(), bytes(want).hex())

    def test_load_and_store_touch_only_their_bytes(self):
        around = b"\xA1\xB2\xC3\xD4"
        for size in (1, 2, 4):
            for offset in range(0, 4, size):
                a = self.word_with(size, offset, 0x7E5D4C3B & ((1 << 8 * size) - 1), around)
                self.assertEqual(self.call("__atomic_load_%d" % size, a + offset, 5)[0],
                                 0x7E5D4C3B & ((1 << 8 * size) - 1))
                self.call("__atomic_store_%d" % size, a + offset, 0x11223344, 5)
                self.expect_word(a, size, offset, 0x11223344 & ((1 << 8 * size) - 1), around)

    def test_read_modify_write(self):
        around = b"\x5C\xA3\x0F\xF0"
        values = [0, 1, 0x7F, 0x80, 0xFF, 0x1234, 0xFFFF, 0x80000000, 0xFFFFFFFF, 0x0BADF00D]
        for size in (1, 2, 4):
            mask = (1 << 8 * size) - 1
            for offset in range(0, 4, size):
                for name, op in self.OPS.items():
                    for start in values:
                        for operand in (1, 0xF0F0F0F0, 0x5A5A5A5A):
                            start &= mask
                            result = op(start, operand & mask) & mask
                            a = self.word_with(size, offset, start, around)
                            got = self.call("__atomic_fetch_%s_%d" % (name, size), a + offset, operand & mask, 5)[0]
                            self.assertEqual(got, start, "fetch_%s_%d old value" % (name, size))
                            self.expect_word(a, size, offset, result, around)
                            a = self.word_with(size, offset, start, around)
                            got = self.call("__atomic_%s_fetch_%d" % (name, size), a + offset, operand & mask, 5)[0]
                            self.assertEqual(got, result, "%s_fetch_%d new value" % (name, size))
                            self.expect_word(a, size, offset, result, around)

    def test_exchange(self):
        around = b"\x01\x02\x03\x04"
        for size in (1, 2, 4):
            mask = (1 << 8 * size) - 1
            for offset in range(0, 4, size):
                a = self.word_with(size, offset, 0x9ABCDEF0 & mask, around)
                got = self.call("__atomic_exchange_%d" % size, a + offset, 0x13572468 & mask, 5)[0]
                self.assertEqual(got, 0x9ABCDEF0 & mask)
                self.expect_word(a, size, offset, 0x13572468 & mask, around)
        # A word is exchanged by InterlockedExchange itself, on the word's own address.
        self.assertIn(("InterlockedExchange", a), self.interlocked)

    def test_compare_exchange(self):
        around = b"\x10\x20\x30\x40"
        for size in (1, 2, 4):
            mask = (1 << 8 * size) - 1
            for offset in range(0, 4, size):
                expected = self.emu.alloc(4)
                # Succeeds: the value was as expected.
                a = self.word_with(size, offset, 0x55 & mask, around)
                self.emu.write32(expected, 0x55 & mask)
                ok = self.call("__atomic_compare_exchange_%d" % size, a + offset, expected, 0x66 & mask, 5, 5)[0]
                self.assertEqual(ok & 0xFF, 1)
                self.expect_word(a, size, offset, 0x66 & mask, around)
                # Fails: nothing stored, the value found goes back through `expected`.
                a = self.word_with(size, offset, 0x77 & mask, around)
                self.emu.write32(expected, 0x55 & mask)
                ok = self.call("__atomic_compare_exchange_%d" % size, a + offset, expected, 0x66 & mask, 5, 5)[0]
                self.assertEqual(ok & 0xFF, 0)
                self.expect_word(a, size, offset, 0x77 & mask, around)
                self.assertEqual(struct.unpack(self.SIZES[size], self.emu.read(expected, size))[0], 0x77 & mask)

    def test_a_neighbour_changed_meanwhile_is_kept(self):
        # Another thread stores into a neighbouring byte between the helper's read and its
        # exchange: the exchange fails, the helper reads again, and both changes stand.
        for name in ("__atomic_fetch_add_1", "__atomic_exchange_1"):
            a = self.word_with(1, 1, 10, b"\x00\x00\x00\x00")
            self.meddle = lambda a=a: self.emu.write(a + 3, b"\x99")
            before = len(self.interlocked)
            self.call(name, a + 1, 5, 5)
            self.assertEqual(self.emu.read(a, 4), bytes([0, 15 if "add" in name else 5, 0, 0x99]))
            self.assertEqual(len(self.interlocked) - before, 2, "one failed exchange, one that took")
        a = self.word_with(2, 2, 0x1234, b"\x00\x00\x00\x00")
        expected = self.emu.alloc(4)
        self.emu.write32(expected, 0x1234)
        self.meddle = lambda: self.emu.write(a, b"\x42")
        ok = self.call("__atomic_compare_exchange_2", a + 2, expected, 0xBEEF, 5, 5)[0]
        self.assertEqual(ok & 0xFF, 1)
        self.assertEqual(self.emu.read(a, 4), b"\x42\x00\xEF\xBE")

    def test_std_atomic_as_compiled(self):
        for start in (0, 1, 0xFE, 0x12345678, 0xFFFFFFFF):
            word = (start + 5) & MASK32
            word |= 0x100
            word = (word * 2) & MASK32
            byte = ((start & 0xFF) + 1) & 0xFF
            self.assertEqual(self.call("ProbeAtomics", start)[0], (word + byte) & MASK32)

    # ---- layout --------------------------------------------------------------------------
    def test_dcb_flag_bits_sit_where_win32_documents_them(self):
        # fBinary bit 0, fDtrControl bits 4-5, fRtsControl bits 12-13, fAbortOnError bit 14.
        for binary, dtr, rts, abort in ((1, 0, 0, 0), (0, 1, 0, 0), (0, 2, 0, 0), (0, 0, 1, 0), (0, 0, 3, 0),
                                        (0, 0, 0, 1), (1, 3, 3, 1)):
            want = binary | dtr << 4 | rts << 12 | abort << 14
            self.assertEqual(self.call("ProbeDcbFlags", binary, dtr, rts, abort)[0], want)

    # ---- the entry -----------------------------------------------------------------------
    def test_entry_passes_the_four_arguments_and_exits_with_the_result(self):
        seen = {}

        def controls(emu, a):
            seen["controls"] = emu.read(a[0], 8)
            return 1

        def message_box(emu, a):
            seen["box"] = (a[0], emu.read_wide(a[1]), emu.read_wide(a[2]), a[3])
            return 1

        def exit_thread(emu, a):
            raise StopRun("ExitThread", a[0])

        self.emu.on("InitCommonControlsEx", controls)
        self.emu.on("MessageBoxW", message_box)
        self.emu.on("ExitThread", exit_thread)
        command_line = self.emu.wide("-probe \u00e9")
        with self.assertRaises(StopRun) as stop:
            self.emu.call(self.emu.entry(), self.emu.base, 0, command_line, 5)
        self.assertEqual(stop.exception.value, 45)
        # INITCOMMONCONTROLSEX {8, ICC_BAR_CLASSES}, before the program runs.
        self.assertEqual(seen["controls"], struct.pack("<II", 8, 4))
        self.assertEqual(seen["box"], (0, "-probe \u00e9", "probe", 0))
        names = [name for _, name in self.emu.calls]
        self.assertEqual(names, ["InitCommonControlsEx", "MessageBoxW", "ExitThread"])


if __name__ == "__main__":
    PROBE, MAP = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0], "-v"])
