"""Runs code of a handheld program (an ARM Windows CE PE file) in unicorn, on a
StrongARM SA-1110 model, with every import trapped.

The image is mapped at its preferred base (where the handheld's loader puts a
program), each import's address slot points into a trap range, and a call into the
trap range runs the Python handler registered for that import, then returns to the
caller as the real call would. An import without a handler stops the run.

    image = CeImage("probe.exe")
    image.on("MessageBoxW", lambda emu, args: 1)
    result = image.call(address, 1, 2, 3)
"""

import struct

import pefile
from unicorn import Uc, UcError, UC_ARCH_ARM, UC_MODE_ARM, UC_HOOK_CODE, UC_PROT_ALL
from unicorn.arm_const import (UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3, UC_ARM_REG_SP,
                               UC_ARM_REG_LR, UC_ARM_REG_PC, UC_CPU_ARM_SA1110)

TRAP_BASE = 0x7F000000
TRAP_SIZE = 0x10000
RETURN_ADDRESS = TRAP_BASE + TRAP_SIZE - 4  # where a call made from here returns
STACK_BASE = 0x7E000000
STACK_SIZE = 0x100000
HEAP_BASE = 0x7D000000
HEAP_SIZE = 0x100000
PAGE = 0x1000

ARG_REGS = (UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3)


class Unhandled(Exception):
    pass


class Args:
    """The arguments of a trapped call, read as 32-bit words (r0-r3, then the stack)."""

    def __init__(self, emu):
        self.emu = emu

    def __getitem__(self, i):
        if i < 4:
            return self.emu.uc.reg_read(ARG_REGS[i])
        sp = self.emu.uc.reg_read(UC_ARM_REG_SP)
        return self.emu.read32(sp + 4 * (i - 4))


class CeImage:
    def __init__(self, path, base=None):
        """base: load the image there instead, applying its base relocations as a loader
        does when the preferred base is taken."""
        self.pe = pefile.PE(path)
        if self.pe.FILE_HEADER.Machine != 0x1C0:
            raise ValueError("%s is not an ARM (0x1C0) PE file" % path)
        preferred = self.pe.OPTIONAL_HEADER.ImageBase
        if base is not None and base != preferred:
            # Also moves ImageBase and the parsed import addresses to the new base.
            self.pe.relocate_image(base)
        self.base = self.pe.OPTIONAL_HEADER.ImageBase
        self.uc = Uc(UC_ARCH_ARM, UC_MODE_ARM)
        self.uc.ctl_set_cpu_model(UC_CPU_ARM_SA1110)
        size = (self.pe.OPTIONAL_HEADER.SizeOfImage + PAGE - 1) // PAGE * PAGE
        self.uc.mem_map(self.base, size, UC_PROT_ALL)
        self.uc.mem_write(self.base, bytes(self.pe.get_memory_mapped_image()[:size]))
        self.uc.mem_map(TRAP_BASE, TRAP_SIZE, UC_PROT_ALL)
        self.uc.mem_map(STACK_BASE, STACK_SIZE, UC_PROT_ALL)
        self.uc.mem_map(HEAP_BASE, HEAP_SIZE, UC_PROT_ALL)
        self.heap_next = HEAP_BASE
        self.handlers = {}
        self.calls = []  # (dll, name) of every trapped call, in order
        self.trap_names = {}
        slot = TRAP_BASE
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []):
            dll = entry.dll.decode()
            for imp in entry.imports:
                name = imp.name.decode() if imp.name else "#%d" % imp.ordinal
                self.trap_names[slot] = (dll, name)
                self.write32(imp.address, slot)
                slot += 4
        self.uc.hook_add(UC_HOOK_CODE, self._trap, begin=TRAP_BASE, end=TRAP_BASE + TRAP_SIZE - 1)
        self.stopped_by = None

    # ---- memory -----------------------------------------------------------------------
    def read(self, address, size):
        return bytes(self.uc.mem_read(address, size))

    def write(self, address, data):
        self.uc.mem_write(address, bytes(data))

    def read32(self, address):
        return struct.unpack("<I", self.read(address, 4))[0]

    def write32(self, address, value):
        self.write(address, struct.pack("<I", value & 0xFFFFFFFF))

    def alloc(self, size, align=8):
        self.heap_next = (self.heap_next + align - 1) // align * align
        address = self.heap_next
        self.heap_next += size
        if self.heap_next > HEAP_BASE + HEAP_SIZE:
            raise MemoryError("emulated heap exhausted")
        self.write(address, b"\0" * size)
        return address

    def wide(self, text):
        """A NUL-terminated UTF-16LE copy of text in emulated memory."""
        data = text.encode("utf-16-le") + b"\0\0"
        address = self.alloc(len(data))
        self.write(address, data)
        return address

    def read_wide(self, address, limit=4096):
        out = bytearray()
        while len(out) < limit:
            pair = self.read(address + len(out), 2)
            if pair == b"\0\0":
                break
            out += pair
        return out.decode("utf-16-le")

    # ---- imports ------------------------------------------------------------------------
    def on(self, name, handler):
        """handler(emu, args) -> r0 (None for 0); raising StopRun ends the run."""
        self.handlers[name] = handler

    def _trap(self, uc, address, size, user_data):
        if address == RETURN_ADDRESS:
            return
        if address not in self.trap_names:
            self.stopped_by = Unhandled("jump into the trap range at 0x%08x" % address)
            uc.emu_stop()
            return
        dll, name = self.trap_names[address]
        self.calls.append((dll, name))
        handler = self.handlers.get(name)
        if handler is None:
            self.stopped_by = Unhandled("call of %s!%s, which has no handler" % (dll, name))
            uc.emu_stop()
            return
        try:
            result = handler(self, Args(self))
        except StopRun as stop:
            self.stopped_by = stop
            uc.emu_stop()
            return
        except Exception as e:  # a fault of the handler: reported, not swallowed by unicorn
            self.stopped_by = e
            uc.emu_stop()
            return
        uc.reg_write(UC_ARM_REG_R0, (result or 0) & 0xFFFFFFFF)
        uc.reg_write(UC_ARM_REG_PC, uc.reg_read(UC_ARM_REG_LR))

    # ---- running ------------------------------------------------------------------------
    def call(self, address, *args, stack_args=(), max_instructions=5_000_000):
        """Calls the function at address with up to four word arguments (and more on the
        stack); returns (r0, r1) once it returns, or raises what stopped it."""
        if len(args) > 4:
            stack_args = tuple(args[4:]) + tuple(stack_args)
            args = args[:4]
        sp = STACK_BASE + STACK_SIZE - 0x100
        sp -= 4 * len(stack_args)
        sp &= ~7
        for i, value in enumerate(stack_args):
            self.write32(sp + 4 * i, value)
        self.uc.reg_write(UC_ARM_REG_SP, sp)
        for reg, value in zip(ARG_REGS, args):
            self.uc.reg_write(reg, value & 0xFFFFFFFF)
        self.uc.reg_write(UC_ARM_REG_LR, RETURN_ADDRESS)
        self.stopped_by = None
        try:
            self.uc.emu_start(address, RETURN_ADDRESS, count=max_instructions)
        except UcError as e:
            pc = self.uc.reg_read(UC_ARM_REG_PC)
            raise RuntimeError("emulation fault at 0x%08x: %s" % (pc, e))
        if self.stopped_by is not None:
            raise self.stopped_by
        pc = self.uc.reg_read(UC_ARM_REG_PC)
        if pc != RETURN_ADDRESS:
            raise RuntimeError("stopped at 0x%08x after %d instructions without returning" % (pc, max_instructions))
        return self.uc.reg_read(UC_ARM_REG_R0), self.uc.reg_read(UC_ARM_REG_R1)

    def entry(self):
        return self.base + self.pe.OPTIONAL_HEADER.AddressOfEntryPoint


class StopRun(Exception):
    """Raised by a handler to end the run there (ExitThread, for one)."""

    def __init__(self, name, value):
        super().__init__("%s(%d)" % (name, value))
        self.name = name
        self.value = value


def read_map(path):
    """Global symbols and their addresses from a GNU ld link map, by name as printed
    (C names plain, C++ names demangled with their parameters)."""
    symbols = {}
    with open(path) as f:
        for line in f:
            parts = line.split(None, 1)
            if len(parts) == 2 and parts[0].startswith("0x") and line.startswith(" " * 16):
                name = parts[1].strip()
                if name and not name.startswith(("0x", "*", ".")) and " = " not in name:
                    try:
                        symbols[name] = int(parts[0], 16)
                    except ValueError:
                        pass
    return symbols
