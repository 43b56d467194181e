#!/usr/bin/python3
"""The handheld's compiler driver (cmake/pocketpc-cc): its translation of clang's ELF
assembly for the CE assembler, one directive a row, and whole compiles through clang
and the CE assembler.

    test_driver.py PATH/pocketpc-cc --ce-tools=DIR
"""

import os
import subprocess
import sys
import tempfile
import types
import unittest

DRIVER = TOOLS = None
cc = None  # the driver, loaded as a module


def load_driver(path):
    # The driver has no .py suffix, so it is run into a module of its own.
    module = types.ModuleType("pocketpc_cc")
    module.__file__ = path
    with open(path, encoding="utf-8") as f:
        exec(compile(f.read(), path, "exec"), module.__dict__)
    return module


def body(text):
    """The translated lines, without blank ones."""
    return [line for line in text.split("\n") if line.strip()]


class Translation(unittest.TestCase):
    # (clang's lines, the lines the CE assembler gets)
    KEPT = [
        (["\tmov\tpc, lr"], ["\tmov\tpc, lr"]),
        ([".LBB0_2:", "\tb\t.LBB0_2"], [".LBB0_2:", "\tb\t.LBB0_2"]),
        (["\t.text", "\t.data", "\t.bss"], ["\t.text", "\t.data", "\t.bss"]),
        (["\t.globl\tf", "\t.p2align\t2", "\t.code\t32", "f:"], ["\t.globl\tf", "\t.p2align\t2", "\t.code\t32", "f:"]),
        (["\t.long\t.L.str", "\t.short\t104", "\t.byte\t1", "\t.zero\t3", "\t.asciz\t\"x\""],
         ["\t.long\t.L.str", "\t.short\t104", "\t.byte\t1", "\t.zero\t3", "\t.asciz\t\"x\""]),
        (["\t.file\t\"t.cpp\""], ["\t.file\t\"t.cpp\""]),
        (["\t.syntax unified"], ["\t.syntax unified"]),
    ]
    DROPPED = [
        "\t.eabi_attribute\t67, \"2.09\"", "\t.type\tf,%function", "\t.size\tf, .Lfunc_end0-f",
        "\t.fnstart", "\t.fnend", "\t.cantunwind", "\t.save\t{r4, lr}", "\t.setfp\tr11, sp, #8",
        "\t.pad\t#16", "\t.ident\t\"clang\"", "\t.addrsig", "\t.cpu\tstrongarm", "\t.hidden\tf",
    ]
    SECTIONS = [
        ('\t.section\t.rodata,"a",%progbits', ['\t.section\t.rdata,"dr"']),
        ('\t.section\t.rodata.str2.2,"aMS",%progbits,2', ['\t.section\t.rdata,"dr"']),
        ('\t.section\t.rodata.cst32,"aM",%progbits,32', ['\t.section\t.rdata,"dr"']),
        ('\t.section\t.data.rel.ro,"aw",%progbits', ['\t.section\t.rdata,"dr"']),
        ('\t.section\t.data.x,"aw",%progbits', ["\t.data"]),
        ('\t.section\t.bss.x,"aw",%nobits', ["\t.bss"]),
        ('\t.section\t.text.f,"ax",%progbits', ["\t.text"]),
        ('\t.section\t.text._Z1fv,"axG",%progbits,_Z1fv,comdat', ['\t.section\t.text$_Z1fv,"xr"', "\t.linkonce\tdiscard"]),
        ('\t.section\t.bss._ZZ1fvE1n,"aGw",%nobits,_ZZ1fvE1n,comdat',
         ['\t.section\t.bss$_ZZ1fvE1n,"bw"', "\t.linkonce\tdiscard"]),
        ('\t.section\t.rodata._ZTS1A,"aG",%progbits,_ZTS1A,comdat', ['\t.section\t.rdata$_ZTS1A,"dr"', "\t.linkonce\tdiscard"]),
    ]
    # (clang's lines, a part of the refusal)
    REFUSED = [
        (['\t.section\t.init_array,"aw",%init_array', "\t.long\tinit"], "static constructor"),
        (['\t.section\t.ctors,"aw",%progbits'], "static constructor"),
        (['\t.section\t.fini_array,"aw",%fini_array'], "static destructor"),
        (['\t.section\t.tbss,"awT",%nobits'], "thread_local"),
        (['\t.section\t.ARM.exidx,"ao",%arm_exidx'], "unwind table"),
        (['\t.section\t.debug_info,"",%progbits'], "debug information"),
        (['\t.section\t.weird,"a",%progbits'], "unknown section"),
        (["\t.weak\tf"], "outside a comdat"),
        (["\t.code\t16"], "ARM mode"),
        (["\t.thumb_func"], "ARM mode"),
        (["\t.cpu\tcortex-a8"], "StrongARM"),
        (["\t.arch\tarmv5te"], "StrongARM"),
        (["\t.file\t1 \"/src\" \"t.cpp\""], "debug information"),
        (["\t.cfi_startproc"], "unknown directive"),
        (["\t.loc\t1 2 3"], "unknown directive"),
        (["\t.reloc\t0, R_ARM_NONE, x"], "unknown directive"),
        (["\t.comm\tx,4,3"], "not a power of two"),
        (['\t.section\t".note.GNU-stack","",%progbits', "\tmov\tr0, r0"], "dropped section"),
    ]

    def test_instructions_labels_and_plain_directives_pass_unchanged(self):
        for lines, want in self.KEPT:
            self.assertEqual(body(cc.translate(lines, "t")), want, lines)

    def test_elf_only_notes_are_dropped(self):
        for line in self.DROPPED:
            self.assertEqual(body(cc.translate([line], "t")), [], line)

    def test_sections_map_to_their_pe_kind(self):
        for line, want in self.SECTIONS:
            self.assertEqual(body(cc.translate([line], "t")), want, line)

    def test_the_gnu_stack_note_and_what_follows_it_are_dropped(self):
        lines = ['\t.section\t".note.GNU-stack","",%progbits', "\t.eabi_attribute\t30, 3"]
        self.assertEqual(body(cc.translate(lines, "t")), [])

    def test_the_key_of_a_comdat_is_global_not_weak(self):
        lines = ['\t.section\t.text._Z1fv,"axG",%progbits,_Z1fv,comdat', "\t.weak\t_Z1fv", "_Z1fv:"]
        self.assertIn("\t.globl\t_Z1fv", body(cc.translate(lines, "t")))
        # The .weak may come first.
        self.assertIn("\t.globl\t_Z1fv", body(cc.translate(lines[1:] + lines[:1], "t")))

    def test_local_commons_become_aligned_zeroed_data(self):
        lines = ["\t.text", "\t.local\t_ZL3arr", "\t.comm\t_ZL3arr,400,16", "\tmov\tpc, lr"]
        self.assertEqual(body(cc.translate(lines, "t")),
                         ["\t.text", "\tmov\tpc, lr", "\t.bss", "\t.p2align\t4", "_ZL3arr:", "\t.space\t400"])

    def test_a_common_takes_its_alignment_as_a_power_of_two(self):
        self.assertEqual(body(cc.translate(["\t.comm\tg,8,8"], "t")), ["\t.comm\tg,8,3"])

    def test_what_it_does_not_know_is_refused_with_the_line(self):
        for lines, why in self.REFUSED:
            with self.assertRaises(cc.AsmError, msg=lines) as refused:
                cc.translate(lines, "t.cpp")
            self.assertIn(why, str(refused.exception), lines)
            self.assertIn("t.cpp:", str(refused.exception))


class Compile(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.objdump = os.path.join(TOOLS, "arm-mingw32ce-objdump")

    def tearDown(self):
        self.dir.cleanup()

    def compile(self, source, name="t.cpp", extra=()):
        path = os.path.join(self.dir.name, name)
        with open(path, "w") as f:
            f.write(source)
        obj = path + ".o"
        result = subprocess.run([DRIVER, "--ce-tools=" + TOOLS, "-Os", "-std=c++17", "-c", path, "-o", obj] + list(extra),
                                capture_output=True, text=True)
        return result, obj

    def dump(self, obj, *flags):
        return subprocess.run([self.objdump] + list(flags) + [obj], capture_output=True, text=True, check=True).stdout

    def test_a_function_becomes_an_armv4_coff_object(self):
        result, obj = self.compile('extern "C" int quotient(int a, int b) { return a / b; }\n'
                                   'extern "C" int call(int (*f)(int)) { return f(3) + 1; }\n')
        self.assertEqual(result.returncode, 0, result.stderr)
        text = self.dump(obj, "-d", "-r")
        self.assertIn("file format pe-arm-wince-little", text)
        self.assertIn("__aeabi_idiv", text)
        self.assertIn("mov\tpc, lr", text)
        # ARMv4 has no bx or blx: returns and calls through registers are plain moves.
        self.assertNotIn("\tbx\t", text)
        self.assertNotIn("\tblx\t", text)

    def test_wide_strings_are_16_bit(self):
        result, obj = self.compile('extern "C" const wchar_t* const text = L"ab";\n')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("61006200 0000", self.dump(obj, "-s", "-j", ".rdata"))

    def test_a_static_constructor_is_refused(self):
        result, obj = self.compile("int f();\nint x = f();\n")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("static constructor", result.stderr)
        self.assertFalse(os.path.exists(obj))

    def test_the_assembler_refuses_what_armv4_lacks(self):
        result, obj = self.compile('extern "C" void f() { __asm__ volatile("bx lr"); }\n')
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("bx", result.stderr)

    def test_debug_information_and_linking_are_refused(self):
        result, _ = self.compile("int f() { return 1; }\n", extra=["-g"])
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("debug information", result.stderr)
        result = subprocess.run([DRIVER, "--ce-tools=" + TOOLS, "x.o", "-o", "x.exe"], capture_output=True, text=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("only compiles", result.stderr)

    def test_a_missing_assembler_names_the_script_that_builds_it(self):
        path = os.path.join(self.dir.name, "t.c")
        with open(path, "w") as f:
            f.write("int f(void) { return 1; }\n")
        result = subprocess.run([DRIVER, "--ce-tools=" + self.dir.name, "-c", path, "-o", path + ".o"],
                                capture_output=True, text=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("tools/ce-binutils", result.stderr)


if __name__ == "__main__":
    DRIVER = sys.argv[1]
    TOOLS = sys.argv[2].split("=", 1)[1]
    cc = load_driver(DRIVER)
    unittest.main(argv=[sys.argv[0], "-v"])
