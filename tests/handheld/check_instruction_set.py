#!/usr/bin/python3
"""The handheld's brindle.exe holds only ARMv4 ARM-mode code: no Thumb, no bx or blx,
nothing of ARMv5 or later, no floating point or other coprocessor instruction.

    check_instruction_set.py brindle.exe brindle.map

The code is told from the data in .text (literal pools) by following it: decoding starts
at every function of the link map, the entry point, and every address the loader relocates
that points into .text (functions taken by address, jump-table targets), and follows each
branch, call and fall-through. A word that code loads PC-relative, or that the loader
relocates, is data. Every word of .text must end up as code that decodes as an allowed
ARMv4 instruction, as data, or as the zero padding behind the last function; nothing may
be left over. Every other section, and every resource library, must not be executable.

Prints the counts; exits 1 with every fault listed. With --self-test, the check is run
on copies of brindle.exe with one fault put in each (bx, clz, blx, ldrd, a VFP
instruction, an undefined word, a function at a Thumb address), and each must be found.

    check_instruction_set.py --self-test brindle.exe brindle.map
"""

import collections
import glob
import os
import re
import struct
import sys

import capstone
from capstone import arm_const as A
import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pocketpc"))
from ce_emulator import read_map  # noqa: E402

# ARMv4 in ARM mode, as capstone names the instructions (its aliases included: push and
# pop are stm/ldm, lsl/lsr/asr/ror/rrx are mov with a shift). Everything else is refused:
# bx, blx, clz, ldrd/strd, pld, the saturating and DSP multiplies, ldrex/strex, the v6
# media instructions, and every coprocessor, VFP or NEON instruction.
ARMV4 = {
    A.ARM_INS_ADC, A.ARM_INS_ADD, A.ARM_INS_AND, A.ARM_INS_BIC, A.ARM_INS_CMN, A.ARM_INS_CMP, A.ARM_INS_EOR,
    A.ARM_INS_MOV, A.ARM_INS_MVN, A.ARM_INS_ORR, A.ARM_INS_RSB, A.ARM_INS_RSC, A.ARM_INS_SBC, A.ARM_INS_SUB,
    A.ARM_INS_TEQ, A.ARM_INS_TST, A.ARM_INS_LSL, A.ARM_INS_LSR, A.ARM_INS_ASR, A.ARM_INS_ROR, A.ARM_INS_RRX,
    A.ARM_INS_MUL, A.ARM_INS_MLA, A.ARM_INS_UMULL, A.ARM_INS_UMLAL, A.ARM_INS_SMULL, A.ARM_INS_SMLAL,
    A.ARM_INS_LDR, A.ARM_INS_LDRB, A.ARM_INS_LDRT, A.ARM_INS_LDRBT, A.ARM_INS_LDRH, A.ARM_INS_LDRSB,
    A.ARM_INS_LDRSH, A.ARM_INS_STR, A.ARM_INS_STRB, A.ARM_INS_STRT, A.ARM_INS_STRBT, A.ARM_INS_STRH,
    A.ARM_INS_LDM, A.ARM_INS_LDMDA, A.ARM_INS_LDMDB, A.ARM_INS_LDMIB, A.ARM_INS_STM, A.ARM_INS_STMDA,
    A.ARM_INS_STMDB, A.ARM_INS_STMIB, A.ARM_INS_PUSH, A.ARM_INS_POP, A.ARM_INS_SWP, A.ARM_INS_SWPB,
    A.ARM_INS_B, A.ARM_INS_BL, A.ARM_INS_MRS, A.ARM_INS_MSR, A.ARM_INS_SVC,
}
# What a program for the handheld has no business using even where ARMv4 has it.
UNEXPECTED = {A.ARM_INS_MRS, A.ARM_INS_MSR, A.ARM_INS_SVC, A.ARM_INS_LDRT, A.ARM_INS_LDRBT, A.ARM_INS_STRT,
              A.ARM_INS_STRBT}

IMAGE_SCN_CNT_CODE = 0x20
IMAGE_SCN_MEM_EXECUTE = 0x20000000

faults = []


def fault(what):
    faults.append(what)
    print("FAIL  " + what)


def writes_pc(insn):
    if insn.id in (A.ARM_INS_POP, A.ARM_INS_LDM, A.ARM_INS_LDMDA, A.ARM_INS_LDMDB, A.ARM_INS_LDMIB):
        return any(op.type == A.ARM_OP_REG and op.reg == A.ARM_REG_PC for op in insn.operands)
    ops = insn.operands
    return bool(ops) and ops[0].type == A.ARM_OP_REG and ops[0].reg == A.ARM_REG_PC and insn.id not in (
        A.ARM_INS_CMP, A.ARM_INS_CMN, A.ARM_INS_TST, A.ARM_INS_TEQ, A.ARM_INS_STR, A.ARM_INS_STRB, A.ARM_INS_STRH,
        A.ARM_INS_PUSH, A.ARM_INS_STM, A.ARM_INS_STMDB, A.ARM_INS_STMIB, A.ARM_INS_STMDA)


def constructor_lists(map_path):
    found = {}
    with open(map_path) as f:
        for line in f:
            m = re.match(r"\s+0x([0-9a-fA-F]+)\s+(__[CD]TOR_LIST__) = \.", line)
            if m:
                found[m.group(2)] = int(m.group(1), 16)
    return found


def check(exe, map_path):
    pe = pefile.PE(exe)
    base = pe.OPTIONAL_HEADER.ImageBase
    texts = [s for s in pe.sections if s.Name.rstrip(b"\0") == b".text"]
    if len(texts) != 1:
        fault("brindle.exe has %d .text sections" % len(texts))
        return {}, 0, 0
    text = texts[0]
    for s in pe.sections:
        if s is not text and s.Characteristics & (IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE):
            fault("brindle.exe: section %s is executable too" % s.Name.rstrip(b"\0").decode())
    start = base + text.VirtualAddress
    size = text.Misc_VirtualSize
    end = start + size
    code_bytes = text.get_data()[:size]

    def word(address):
        return struct.unpack_from("<I", code_bytes, address - start)[0]

    # Data: every word the loader relocates, and every word loaded PC-relative.
    data = set()
    entries = set()
    relocated = 0
    for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
        for entry in block.entries:
            if entry.type != pefile.RELOCATION_TYPE["IMAGE_REL_BASED_HIGHLOW"]:
                if entry.type != pefile.RELOCATION_TYPE["IMAGE_REL_BASED_ABSOLUTE"]:
                    fault("a base relocation of type %d at 0x%x" % (entry.type, base + entry.rva))
                continue
            relocated += 1
            at = base + entry.rva
            value = pe.get_dword_at_rva(entry.rva)
            if start <= at < end:
                data.add(at)
            if start <= value < end:
                entries.add(value)
    symbols = read_map(map_path)
    functions = {a for a in symbols.values() if start <= a < end}
    # The linker's constructor and destructor lists close .text: each must be empty (-1,
    # then the 0 that ends it), since the entry runs no constructor.
    lists = constructor_lists(map_path)
    if sorted(lists) != ["__CTOR_LIST__", "__DTOR_LIST__"]:
        fault("brindle.map names no constructor and destructor lists: %s" % lists)
    for name, at in sorted(lists.items()):
        if not start <= at < end - 4 or (word(at), word(at + 4)) != (0xFFFFFFFF, 0):
            fault("%s at 0x%x is not the empty list (-1, 0)" % (name, at))
        data.update((at, at + 4))
    entries |= functions
    entries.add(base + pe.OPTIONAL_HEADER.AddressOfEntryPoint)

    md = capstone.Cs(capstone.CS_ARCH_ARM, capstone.CS_MODE_ARM)
    md.detail = True
    code = {}
    todo = sorted(entries)
    while todo:
        address = todo.pop()
        while start <= address < end and address not in code:
            if address % 4:
                fault("code at an odd address 0x%x" % address)
                break
            if address in data:
                fault("execution reaches 0x%x, a data word" % address)
                break
            found = list(md.disasm(code_bytes[address - start:address - start + 4], address))
            if not found:
                fault("0x%08x: %08x is no ARM instruction" % (address, word(address)))
                break
            insn = found[0]
            code[address] = insn
            if insn.id not in ARMV4:
                fault("0x%08x: %s %s is not ARMv4" % (address, insn.mnemonic, insn.op_str))
            # A word loaded PC-relative is data.
            for op in insn.operands:
                if op.type == A.ARM_OP_MEM and op.mem.base == A.ARM_REG_PC and op.mem.index == 0:
                    data.add(address + 8 + op.mem.disp)
            conditional = insn.cc not in (A.ARM_CC_AL, A.ARM_CC_INVALID)
            if insn.id in (A.ARM_INS_B, A.ARM_INS_BL):
                todo.append(insn.operands[0].imm)
                if insn.id == A.ARM_INS_B and not conditional:
                    break
            elif writes_pc(insn):
                previous = code.get(address - 4)
                # mov lr, pc; mov pc, rN is ARMv4's call through a register: it returns here.
                call = previous is not None and previous.id == A.ARM_INS_MOV and previous.op_str == "lr, pc"
                if not conditional and not call:
                    break
            address += 4

    # Every word accounted for.
    pad_from = max(code) + 4
    counts = collections.Counter()
    leftover = []
    for address in range(start, end, 4):
        if address in code:
            counts["code"] += 1
        elif address in data:
            counts["data"] += 1
        elif address >= pad_from and word(address) == 0:
            counts["padding"] += 1
        else:
            leftover.append(address)
    for address in leftover[:20]:
        fault("0x%08x: %08x is neither reached code nor data" % (address, word(address)))
    if len(leftover) > 20:
        fault("... and %d more such words" % (len(leftover) - 20))
    unexpected = sorted({"%s %s" % (i.mnemonic, i.op_str) for i in code.values() if i.id in UNEXPECTED})
    if unexpected:
        fault("instructions a program has no use for: %s" % ", ".join(unexpected))

    mnemonics = collections.Counter(i.insn_name() for i in code.values())
    conditional = sum(1 for i in code.values() if i.cc not in (A.ARM_CC_AL, A.ARM_CC_INVALID))
    print("brindle.exe .text: %d bytes at 0x%x: %d instructions reached from %d functions of the map, the entry "
          "and %d relocated code addresses; %d data words (literal pools, and the empty constructor and "
          "destructor lists); %d words of padding"
          % (size, start, counts["code"], len(functions), len(entries - functions) - 1, counts["data"],
             counts["padding"]))
    print("  %d base relocations; %d instructions conditional; by kind: %s" % (
        relocated, conditional, ", ".join("%s %d" % kv for kv in sorted(mnemonics.items()))))
    returns = sum(1 for i in code.values() if i.id == A.ARM_INS_MOV and i.op_str == "pc, lr")
    print("  returns: %d mov pc, lr; %d loads of pc (pop, ldm, ldr)" % (
        returns, sum(1 for i in code.values() if writes_pc(i) and i.id != A.ARM_INS_MOV)))
    return code, start, text.PointerToRawData - text.VirtualAddress


def check_libraries(bin_dir):
    libs = [os.path.join(bin_dir, "brindleres.dll")] + sorted(
        glob.glob(os.path.join(bin_dir, "national", "*", "brindleres.dll")))
    empty_lists = struct.pack("<IIII", 0xFFFFFFFF, 0, 0xFFFFFFFF, 0)
    for path in libs:
        pe = pefile.PE(path)
        name = os.path.relpath(path, bin_dir)
        for s in pe.sections:
            if s.Characteristics & (IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE):
                # The linker gives a library a .text of its empty constructor and
                # destructor lists; no instruction.
                held = s.get_data()[:s.Misc_VirtualSize]
                if held.rstrip(b"\0") != empty_lists.rstrip(b"\0"):
                    fault("%s: %s holds %s, not only the empty constructor and destructor lists"
                          % (name, s.Name.rstrip(b"\0").decode(), held[:64].hex()))
    print("%d resource libraries, their executable sections hold no instruction (only the empty constructor "
          "and destructor lists)" % len(libs))


def self_test(exe, map_path):
    """The check on copies of brindle.exe with one fault each, as a compiler or a hand-written
    helper could bring in: each must be found."""
    import shutil
    import tempfile

    code, start, file_delta = check(exe, map_path)
    if faults:
        return
    symbols = read_map(map_path)
    translate = symbols["TranslateKeyByte(unsigned char)"]
    a_return = min(a for a, i in code.items() if i.id == A.ARM_INS_MOV and i.op_str == "pc, lr")
    image_base = pefile.PE(exe).OPTIONAL_HEADER.ImageBase

    def offset(address):
        return address - image_base + file_delta

    cases = [
        ("bx lr in place of a return", a_return, 0xE12FFF1E, "bx"),
        ("clz (ARMv5) in TranslateKeyByte", translate, 0xE16F0F10, "clz"),
        ("blx r3 (ARMv5) in TranslateKeyByte", translate, 0xE12FFF33, "blx"),
        ("ldrd (ARMv5TE) in TranslateKeyByte", translate, 0xE1C020D0, "ldrd"),
        ("a VFP add in TranslateKeyByte", translate, 0xEE300A00, "not ARMv4"),
        ("an undefined word in TranslateKeyByte", translate, 0xE7F000F0, "ARM"),
    ]
    with tempfile.TemporaryDirectory() as d:
        broken_exe = os.path.join(d, "brindle.exe")
        for what, address, insn, expected in cases:
            shutil.copyfile(exe, broken_exe)
            with open(broken_exe, "r+b") as f:
                f.seek(offset(address))
                f.write(struct.pack("<I", insn))
            found = run_quietly(check, broken_exe, map_path)
            ok = any(expected in x for x in found)
            print("%s  %s: %s" % ("ok   " if ok else "FAIL ", what, found[0] if found else "nothing found"))
            if not ok:
                faults.append("the check missed: " + what)
        # A Thumb function: its address has bit 0 set.
        broken_map = os.path.join(d, "brindle.map")
        with open(map_path) as src, open(broken_map, "w") as dst:
            for line in src:
                dst.write(line.replace("0x%08x                TranslateKeyByte(" % translate,
                                       "0x%08x                TranslateKeyByte(" % (translate + 1)))
        found = run_quietly(check, exe, broken_map)
        ok = any("odd address" in x for x in found)
        print("%s  a function at an odd (Thumb) address: %s" % ("ok   " if ok else "FAIL ",
                                                               found[0] if found else "nothing found"))
        if not ok:
            faults.append("the check missed a function at an odd address")


def run_quietly(fn, *args):
    """The faults fn finds, its printing kept back."""
    import contextlib
    import io

    global faults
    kept, faults = faults, []
    with contextlib.redirect_stdout(io.StringIO()):
        fn(*args)
    found, faults = faults, kept
    return found


def main(argv):
    if len(argv) == 3 and argv[0] == "--self-test":
        self_test(argv[1], argv[2])
        if faults:
            print("%d fault(s)" % len(faults))
            return 1
        print("ok    each fault put in a copy of brindle.exe is found")
        return 0
    if len(argv) != 2:
        print(__doc__)
        return 2
    check(argv[0], argv[1])
    check_libraries(os.path.dirname(os.path.abspath(argv[0])))
    if faults:
        print("%d fault(s)" % len(faults))
        return 1
    print("ok    only ARMv4 ARM-mode instructions")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
