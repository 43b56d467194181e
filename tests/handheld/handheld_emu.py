"""brindle.exe as built for the handheld, its engine run in an emulated StrongARM against
a model of the platform that answers as the host reference program's stand-ins do, and
prints each call in the same canonical form (see reference.cpp).

Every import is trapped (ce_emulator.CeImage): the platform calls the engine makes are
printed; the C library and interlocked calls coredll provides (memcpy, memset, towupper,
iswctype, InterlockedTestExchange, InterlockedExchange) are carried out and counted but
not printed, since the host build has them from its own C library and processor. The
shell's entry points the engine calls (OpenPicker, ClosePicker, RedrawPicker,
PauseDriver) are stopped at their first instruction, found through the link map, and
printed as the host's stand-ins print them.

    emu = HandheldEmu("bin/brindle.exe", "bin/brindle.map")
    lines = emu.apply("key 74")      # the calls and the state line, as the host prints them
"""

import bisect
import struct

import pefile
from unicorn import UC_HOOK_CODE, UC_HOOK_MEM_WRITE, UC_PROT_ALL
from unicorn.arm_const import UC_ARM_REG_LR, UC_ARM_REG_PC, UC_ARM_REG_R0

from ce_emulator import CeImage, read_map

# Handles the harness gives the program, as reference.cpp gives them.
SETTINGS_DLG = 0x4000
TOUCH_EVENT = 0x5000
RES_DLL = 0x6000
FOREGROUND = 0x1000
MENU = 0x3000
PORT = 0x7000
EXIT_EVENT = 0x7100
THREAD = 0x7200
FIRST_KEY = 0x100
HKCU = 0x80000001
IDS_LANGUAGE = 20

ASIC_BLOCK = 0x7C000000  # where VirtualAlloc puts the register block's window
ASIC_ON, ASIC_OFF, ASIC_BIT = 0x764, 0x760, 0x10

# The engine's words: their link-map names and widths in bytes (engine/state.h, serial.h).
WORDS = {
    "ShiftDown": 4, "FnDown": 4, "StickyShiftLatched": 4, "StickyFnLatched": 4, "PrevScanCode": 1,
    "PendingAccent": 4, "PickerOpen": 4, "RepeatKey": 1, "RepeatArmed": 4, "RepeatTimerOn": 4,
    "CapsLockOn": 4, "PrefShift": 4, "PrefFn": 4, "InitialDelay": 4, "RepeatRate": 4,
    "PickerBitmapBase": 4, "ReaderStop": 4, "ReaderExited": 4, "ReaderRebuild": 4, "AsicMapped": 4,
}
STATE = ("ShiftDown", "FnDown", "StickyShiftLatched", "StickyFnLatched", "PrevScanCode", "PendingAccent",
         "PickerOpen", "RepeatKey", "RepeatArmed", "RepeatTimerOn", "CapsLockOn")
LOADED = ("InitialDelay", "RepeatRate", "PrefShift", "PrefFn", "PickerBitmapBase", "ShiftDown", "FnDown",
          "StickyShiftLatched", "StickyFnLatched", "RepeatTimerOn")

# Functions the harness calls or stops at, by their names in the link map (which gives
# C++ names demangled, with their parameters).
FUNCTIONS = {
    "TranslateKeyByte": "TranslateKeyByte(unsigned char)",
    "RepeatTick": "RepeatTick()",
    "ReleaseHeldKeys": "ReleaseHeldKeys(bool)",
    "LoadSettings": "LoadSettings()",
    "OpenSerialLink": "OpenSerialLink()",
    "ReaderThread": "ReaderThread(void*)",
    "CloseSerialLink": "CloseSerialLink()",
}
SHELL_ENTRIES = {
    "OpenPicker()": lambda r0: "OpenPicker()",
    "ClosePicker()": lambda r0: "ClosePicker()",
    "RedrawPicker(unsigned short)": lambda r0: "RedrawPicker(%d)" % r0,
    "PauseDriver()": lambda r0: "PauseDriver()",
}
# Calls the host takes from its own C library or processor: carried out, not printed.
LIBRARY = {"memcpy", "memset", "towupper", "iswctype", "InterlockedTestExchange", "InterlockedExchange"}

MASK = 0xFFFFFFFF


def signed(v):
    v &= MASK
    return v - (1 << 32) if v & 0x80000000 else v


class Mismatch(Exception):
    pass


def string_resource(path, number):
    """String `number` of a PE file's string table (any language), or None."""
    pe = pefile.PE(path)
    block, index = number // 16 + 1, number % 16
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return None
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.id != 6:
            continue
        for name in rtype.directory.entries:
            if name.id != block:
                continue
            for lang in name.directory.entries:
                d = lang.data.struct
                data = pe.get_data(d.OffsetToData, d.Size)
                at = 0
                for i in range(16):
                    n = struct.unpack_from("<H", data, at)[0]
                    text = data[at + 2:at + 2 + 2 * n].decode("utf-16-le")
                    if i == index:
                        return text
                    at += 2 + 2 * n
    return None


class HandheldEmu:
    def __init__(self, exe, map_path, wchar_size=2, breaks=()):
        """wchar_size: how wide the platform takes the program's characters to be (the
        handheld's are 2 bytes; anything else is a deliberate fault, to see the comparison
        fail). breaks: (name, other) pairs; each function `name` of the map is made to
        jump to `other` instead, another deliberate fault."""
        self.emu = CeImage(exe)
        self.sym = read_map(map_path)
        self.wchar = wchar_size
        self.fn = {}
        for short, name in FUNCTIONS.items():
            if name not in self.sym:
                raise KeyError("%s is not in the link map" % name)
            self.fn[short] = self.sym[name]
        self.word_at = {}
        for name in WORDS:
            if name not in self.sym:
                raise KeyError("the word %s is not in the link map" % name)
            self.word_at[name] = self.sym[name]
        for name in ("hSettingsDlg", "hTouchEvent", "hResDll", "ActiveLayout", "hComm", "hReaderExitEvent"):
            if name not in self.sym:
                raise KeyError("%s is not in the link map" % name)
        self.lines = []
        self.library_calls = 0
        self.platform_calls = 0
        self.asic_writes = []
        self.shell_execute_sizes = []
        self._models()
        for name, show in SHELL_ENTRIES.items():
            self._stop_at(self.sym[name], show)
        for name, other in breaks:
            self._jump(self.sym[name], self.sym[other])
        self.emu.uc.mem_map(ASIC_BLOCK, 0x1000, UC_PROT_ALL)
        self.emu.uc.hook_add(UC_HOOK_MEM_WRITE, self._asic_write, begin=ASIC_BLOCK, end=ASIC_BLOCK + 0xFFF)
        self.counting = None
        self.reset()

    # ---- the state of the platform model -----------------------------------------------
    def reset(self):
        self.menu_up = False
        self.language = "USA"
        self.registry = {}   # path -> {name: (type, bytes)}
        self.open_keys = {}
        self.next_key = FIRST_KEY
        self.dcb = bytes(28)
        self.timeouts = bytes(20)
        self.waits = []
        self.wait_at = 0
        self.read_at = 0
        self.modem = 0
        self.emu.write(ASIC_BLOCK, bytes(0x1000))
        self.emu.write32(self.sym["hSettingsDlg"], SETTINGS_DLG)
        self.emu.write32(self.sym["hTouchEvent"], TOUCH_EVENT)
        self.emu.write32(self.sym["hResDll"], RES_DLL)
        self.emu.calls.clear()

    def given(self, line):
        what, _, rest = line[len("given "):].partition(" ")
        parts = rest.split()
        if what == "language":
            self.language = rest
        elif what == "value":
            path, name, rtype, data = parts
            self.registry.setdefault(path, {})[name] = (int(rtype), bytes.fromhex(data))
            # Its key's parents exist too.
            while "\\" in path:
                path = path.rsplit("\\", 1)[0]
                if path != "HKCU":
                    self.registry.setdefault(path, {})
        elif what == "dcb":
            self.dcb = bytes.fromhex(rest)
        elif what == "timeouts":
            self.timeouts = bytes.fromhex(rest)
        elif what == "wait":
            ok, events, data, stop, modem = parts
            self.waits.append((ok == "1", int(events, 16), b"" if data == "-" else bytes.fromhex(data),
                               stop == "1", int(modem, 16)))
        else:
            raise ValueError("unknown given line: " + line)

    # ---- words ---------------------------------------------------------------------------
    def word(self, name):
        size = WORDS[name]
        data = self.emu.read(self.word_at[name], size)
        return struct.unpack("<I" if size == 4 else "<B", data)[0]

    def set_word(self, name, value):
        size = WORDS[name]
        self.emu.write(self.word_at[name], struct.pack("<I" if size == 4 else "<B", value & ((1 << 8 * size) - 1)))

    def state_line(self):
        # One read of the span that holds them all: this runs after every step.
        if not hasattr(self, "_state_span"):
            low = min(self.word_at[n] for n in STATE)
            high = max(self.word_at[n] + WORDS[n] for n in STATE)
            fields = [(self.word_at[n] - low, "<I" if WORDS[n] == 4 else "<B") for n in STATE]
            self._state_span = (low, high - low, fields)
        low, size, fields = self._state_span
        data = self.emu.read(low, size)
        return "  =" + "".join(" %d" % signed(struct.unpack_from(f, data, at)[0]) for at, f in fields)

    # ---- steps ---------------------------------------------------------------------------
    def call(self, name, *args):
        return self.emu.call(self.fn[name], *args)[0]

    def apply(self, step):
        """Runs one step line's input ("key 74", "tick", ...) and returns the lines the host
        prints for it: the calls, then what the host prints after that kind of step."""
        self.lines = []
        kind, _, rest = step.partition(" ")
        args = rest.split()
        if kind == "key":
            self.call("TranslateKeyByte", int(args[0], 16))
            self.lines.append(self.state_line())
        elif kind == "set":
            self.set_word(args[0], int(args[1]))
            self.lines.append(self.state_line())
        elif kind == "tick":
            self.call("RepeatTick")
            self.lines.append(self.state_line())
        elif kind == "menu":
            self.menu_up = args[0] == "1"
            self.lines.append(self.state_line())
        elif kind == "end":
            self.call("ReleaseHeldKeys", int(args[0]))
            self.lines.append(self.state_line())
        elif kind == "load":
            self.call("LoadSettings")
            self.loaded_lines()
        elif kind == "open":
            self.lines.append("  -> %d" % signed(self.call("OpenSerialLink")))
            self.link_line()
        elif kind == "reader":
            self.lines.append("  -> %d" % self.call("ReaderThread", 0))
            self.link_line()
        elif kind == "close":
            self.call("CloseSerialLink")
            self.link_line()
        else:
            raise ValueError("unknown step: " + step)
        return self.lines

    def active_layout(self):
        data = self.emu.read(self.sym["ActiveLayout"], 30 * 6)
        return [struct.unpack_from("<HHH", data, 6 * i) for i in range(30)]

    def loaded_lines(self):
        self.lines.append("  =" + "".join(" %d" % self.word(n) for n in LOADED))
        self.lines.append("layout" + "".join(" %x/%x/%x" % cell for cell in self.active_layout()))
        for path in sorted(self.registry):
            for name in sorted(self.registry[path]):
                rtype, data = self.registry[path][name]
                self.lines.append("registry %s %s %d %s" % (path, name, rtype, data.hex()))

    def link_line(self):
        on = self.emu.read32(ASIC_BLOCK + ASIC_ON)
        off = self.emu.read32(ASIC_BLOCK + ASIC_OFF)
        self.lines.append("  = %d %d %d %d 0x%x 0x%x 0x%x" % (
            self.word("ReaderStop"), self.word("ReaderExited"), self.word("AsicMapped"),
            self.emu.read32(self.sym["hComm"]), self.emu.read32(self.sym["hReaderExitEvent"]), on, off))

    # ---- instruction counting --------------------------------------------------------------
    def count_instructions(self, start, end):
        """From now on every instruction executed in [start, end) is counted, by the
        function of the link map it belongs to."""
        starts = sorted((addr, name) for name, addr in self.sym.items() if start <= addr < end)
        self.count_starts = [a for a, _ in starts]
        self.count_names = [n for _, n in starts]
        self.counting = {}

        def hook(uc, address, size, user_data):
            i = bisect.bisect_right(self.count_starts, address) - 1
            name = self.count_names[i] if i >= 0 else "?"
            self.counting[name] = self.counting.get(name, 0) + 1

        self.emu.uc.hook_add(UC_HOOK_CODE, hook, begin=start, end=end - 1)

    # ---- plumbing ----------------------------------------------------------------------------
    def _stop_at(self, address, show):
        def hook(uc, addr, size, user_data):
            self.platform_calls += 1
            self.lines.append("  " + show(uc.reg_read(UC_ARM_REG_R0)))
            uc.reg_write(UC_ARM_REG_PC, uc.reg_read(UC_ARM_REG_LR))

        self.emu.uc.hook_add(UC_HOOK_CODE, hook, begin=address, end=address)

    def _jump(self, address, target):
        # b target: cond AL, offset from address + 8 in words.
        offset = ((target - address - 8) >> 2) & 0xFFFFFF
        self.emu.write32(address, 0xEA000000 | offset)

    def _asic_write(self, uc, access, address, size, value, user_data):
        self.asic_writes.append((address - ASIC_BLOCK, size, value & MASK))

    def wide(self, address):
        """The string at address, read in the platform's character width."""
        out = []
        at = address
        while True:
            c = int.from_bytes(self.emu.read(at, self.wchar), "little")
            if c == 0:
                return "".join(out)
            out.append(chr(c) if c < 0x110000 else "\ufffd")
            at += self.wchar
            if at - address > 4096:
                raise Mismatch("an unterminated string at 0x%x" % address)

    def text(self, address):
        """A string argument as the host prints it (reference.cpp's Text)."""
        if address == 0:
            return "NULL"
        if address < 0x10000:
            return "#%d" % address
        return '"' + "".join(c if 0x20 <= ord(c) < 0x7F and c not in '"\\' else "\\u%04x" % ord(c)
                             for c in self.wide(address)) + '"'

    def narrow(self, address):
        return self.wide(address)

    def _models(self):
        emu = self.emu
        printed = {}

        def show(name, fmt, reply=1):
            """A call the host prints: fmt(e, a) gives its arguments' text."""
            def handler(e, a):
                self.platform_calls += 1
                self.lines.append("  %s(%s)" % (name, fmt(e, a)))
                return reply(e, a) if callable(reply) else reply
            printed[name] = handler

        hx = lambda v: "0x%x" % (v & MASK)

        def event_modify(e, a):
            self.platform_calls += 1
            if a[1] == 3:  # EVENT_SET: SetEvent on the handheld
                self.lines.append("  SetEvent(%s)" % hx(a[0]))
            else:
                self.lines.append("  EventModify(%s,%d)" % (hx(a[0]), a[1]))
            return 1
        printed["EventModify"] = event_modify

        show("keybd_event", lambda e, a: "%s,%s,%s,%s" % (hx(a[0]), hx(a[1]), hx(a[2]), hx(a[3])))

        def keybd_message(e, a):
            count = a[3]
            shifts = [e.read32(a[4] + 4 * i) for i in range(min(count, 8))]
            chars = [e.read32(a[5] + 4 * i) for i in range(min(count, 8))]
            return "%s,%s,%s,%d,[%s],[%s]" % (hx(a[0]), hx(a[1]), hx(a[2]), count, ",".join(map(hx, shifts)),
                                              ",".join(map(hx, chars)))
        show("PostKeybdMessage", keybd_message)
        show("SetTimer", lambda e, a: "%s,%d,%d,%s" % (hx(a[0]), a[1], a[2], hx(a[3])), reply=lambda e, a: a[1])
        show("KillTimer", lambda e, a: "%s,%d" % (hx(a[0]), a[1]))

        def find_window(e, a):
            return MENU if self.menu_up and a[0] and self.text(a[0]) == '"MNU"' and a[1] == 0 else 0
        show("FindWindowW", lambda e, a: "%s,%s" % (self.text(a[0]), self.text(a[1])), reply=find_window)
        show("GetForegroundWindow", lambda e, a: "", reply=FOREGROUND)
        show("PostMessageW", lambda e, a: "%s,%s,%s,%s" % (hx(a[0]), hx(a[1]), hx(a[2]), hx(a[3])))
        show("SHSipPreference", lambda e, a: "%s,%d" % (hx(a[0]), signed(a[1])))

        # ---- registry
        def key_path(parent, sub):
            if parent == HKCU:
                base = "HKCU"
            elif parent in self.open_keys:
                base = self.open_keys[parent]
            else:
                return None
            return base + "\\" + self.narrow(sub)

        def open_key(e, a):
            path = key_path(a[0], a[1])
            if path is None or path not in self.registry:
                return 2
            self.open_keys[self.next_key] = path
            e.write32(a[4], self.next_key)
            self.next_key += 1
            return 0
        show("RegOpenKeyExW", lambda e, a: "%s,%s,%d,%d" % (hx(a[0]), self.text(a[1]), a[2], a[3]), reply=open_key)

        def create_key(e, a):
            path = key_path(a[0], a[1])
            if path is None:
                return 2
            existed = path in self.registry
            self.registry.setdefault(path, {})
            self.open_keys[self.next_key] = path
            e.write32(a[7], self.next_key)
            self.next_key += 1
            if a[8]:
                e.write32(a[8], 2 if existed else 1)
            return 0
        show("RegCreateKeyExW", lambda e, a: "%s,%s,%d,%s,%d,%d,%s" % (
            hx(a[0]), self.text(a[1]), a[2], self.text(a[3]), a[4], a[5], hx(a[6])), reply=create_key)

        def close_key(e, a):
            return 0 if self.open_keys.pop(a[0], None) is not None else 6
        show("RegCloseKey", lambda e, a: hx(a[0]), reply=close_key)

        def set_value(e, a):
            if a[0] not in self.open_keys:
                return 6
            self.registry[self.open_keys[a[0]]][self.narrow(a[1])] = (a[3], e.read(a[4], a[5]))
            return 0
        show("RegSetValueExW", lambda e, a: "%s,%s,%d,%d,[%s],%d" % (
            hx(a[0]), self.text(a[1]), a[2], a[3], e.read(a[4], a[5]).hex(), a[5]), reply=set_value)

        def query_value(e, a):
            if a[0] not in self.open_keys:
                return 6
            values = self.registry[self.open_keys[a[0]]]
            name = self.narrow(a[1])
            if name not in values:
                return 2
            rtype, data = values[name]
            if a[3]:
                e.write32(a[3], rtype)
            room = e.read32(a[5]) if a[5] else 0
            if a[5]:
                e.write32(a[5], len(data))
            if not a[4]:
                return 0
            if len(data) > room:
                return 234  # ERROR_MORE_DATA
            e.write(a[4], data)
            return 0
        show("RegQueryValueExW", lambda e, a: "%s,%s,%s,%s,%s,%s" % (
            hx(a[0]), self.text(a[1]), hx(a[2]), "type" if a[3] else "NULL", "data" if a[4] else "NULL",
            str(e.read32(a[5])) if a[5] else "NULL"), reply=query_value)

        def load_string(e, a):
            limit = signed(a[3])
            if a[1] != IDS_LANGUAGE or limit <= 0:
                return 0
            text = self.language[:limit - 1]
            for i, ch in enumerate(text + "\0"):
                e.write(a[2] + self.wchar * i, ord(ch).to_bytes(self.wchar, "little"))
            return len(text)
        show("LoadStringW", lambda e, a: "%s,%d,%d" % (hx(a[0]), a[1], signed(a[3])), reply=load_string)
        show("SendDlgItemMessageW", lambda e, a: "%s,%d,%s,%s,%s" % (hx(a[0]), signed(a[1]), hx(a[2]), hx(a[3]),
                                                                     hx(a[4])), reply=0)

        # ---- the serial link
        show("CreateEventW", lambda e, a: "%s,%d,%d,%s" % (hx(a[0]), a[1], a[2], self.text(a[3])), reply=EXIT_EVENT)
        show("CreateFileW", lambda e, a: "%s,%s,%d,%s,%d,%s,%s" % (
            self.text(a[0]), hx(a[1]), a[2], hx(a[3]), a[4], hx(a[5]), hx(a[6])), reply=PORT)

        def modem_status(e, a):
            e.write32(a[1], self.modem)
            return 1
        show("GetCommModemStatus", lambda e, a: hx(a[0]), reply=modem_status)

        def get_state(e, a):
            e.write(a[1], self.dcb)
            return 1
        show("GetCommState", lambda e, a: "%s,[%s]" % (hx(a[0]), e.read(a[1], 28).hex()), reply=get_state)
        show("SetCommState", lambda e, a: "%s,[%s]" % (hx(a[0]), e.read(a[1], 28).hex()))

        def get_timeouts(e, a):
            e.write(a[1], self.timeouts)
            return 1
        show("GetCommTimeouts", lambda e, a: "%s,[%s]" % (hx(a[0]), e.read(a[1], 20).hex()), reply=get_timeouts)
        show("SetCommTimeouts", lambda e, a: "%s,[%s]" % (hx(a[0]), e.read(a[1], 20).hex()))
        show("SetCommMask", lambda e, a: "%s,%s" % (hx(a[0]), hx(a[1])))
        show("EscapeCommFunction", lambda e, a: "%s,%d" % (hx(a[0]), a[1]))

        def wait_event(e, a):
            if self.wait_at >= len(self.waits):
                raise Mismatch("the reader waited more often than the script says")
            ok, events, data, stop, modem = self.waits[self.wait_at]
            self.wait_at += 1
            self.read_at = 0
            self.modem = modem
            if stop:
                self.set_word("ReaderStop", 1)
            if not ok:
                return 0
            e.write32(a[1], events)
            return 1
        show("WaitCommEvent", lambda e, a: "%s,%s" % (hx(a[0]), hx(a[2])), reply=wait_event)

        def read_file(e, a):
            data = self.waits[self.wait_at - 1][2]
            e.write32(a[3], 0)
            if self.read_at < len(data) and a[2] >= 1:
                e.write(a[1], data[self.read_at:self.read_at + 1])
                self.read_at += 1
                e.write32(a[3], 1)
            return 1
        show("ReadFile", lambda e, a: "%s,%d,%s" % (hx(a[0]), a[2], hx(a[4])), reply=read_file)
        block = lambda v: "block" if v == ASIC_BLOCK else "elsewhere"
        show("VirtualAlloc", lambda e, a: "%s,%d,%s,%s" % (hx(a[0]), a[1], hx(a[2]), hx(a[3])), reply=ASIC_BLOCK)
        show("VirtualCopy", lambda e, a: "%s,%s,%d,%s" % (block(a[0]), hx(a[1]), a[2], hx(a[3])))
        show("VirtualFree", lambda e, a: "%s,%d,%s" % (block(a[0]), a[1], hx(a[2])))
        show("MessageBoxW", lambda e, a: "%s,%s,%s,%s" % (hx(a[0]), self.text(a[1]), self.text(a[2]), hx(a[3])))
        reader = self.sym["ReaderThread(void*)"]
        show("CreateThread", lambda e, a: "%s,%d,%s,%s,%s,%s" % (
            hx(a[0]), a[1], "ReaderThread" if a[2] == reader else "elsewhere", hx(a[3]), hx(a[4]), hx(a[5])),
            reply=THREAD)
        show("CloseHandle", lambda e, a: hx(a[0]))
        show("SendMessageW", lambda e, a: "%s,%s,%s,%s" % (hx(a[0]), hx(a[1]), hx(a[2]), hx(a[3])), reply=0)

        def shell_execute(e, a):
            # SHELLEXECUTEINFO at the handheld's layout: cbSize, fMask, hwnd, lpVerb,
            # lpFile, lpParameters, lpDirectory, nShow, ...
            size, mask, hwnd, verb, file, params, directory, show_ = struct.unpack("<IIIIIIIi", e.read(a[0], 32))
            self.shell_execute_sizes.append(size)
            return "mask=%s,hwnd=%s,verb=%s,file=%s,parameters=%s,directory=%s,show=%d" % (
                hx(mask), hx(hwnd), self.text(verb), self.text(file), self.text(params), self.text(directory), show_)
        show("ShellExecuteEx", shell_execute)
        show("Sleep", lambda e, a: "%d" % a[0], reply=0)

        for name, handler in printed.items():
            emu.on(name, handler)

        # ---- the C library and the interlocked calls
        def library(fn):
            def handler(e, a):
                self.library_calls += 1
                return fn(e, a)
            return handler

        def test_exchange(e, a):
            found = e.read32(a[0])
            if found == a[1]:
                e.write32(a[0], a[2])
            return found

        def exchange(e, a):
            found = e.read32(a[0])
            e.write32(a[0], a[1])
            return found

        def memcpy(e, a):
            e.write(a[0], e.read(a[1], a[2]))
            return a[0]

        def memset(e, a):
            e.write(a[0], bytes([a[1] & 0xFF]) * a[2])
            return a[0]

        def towupper(e, a):
            c = a[0] & 0xFFFF
            if c >= 0x80:
                raise Mismatch("towupper(0x%x): the program only upper-cases ASCII" % c)
            return ord(chr(c).upper())

        def iswctype(e, a):
            c, mask = a[0] & 0xFFFF, a[1] & 0xFFFF
            if mask != 1 or c >= 0x80:
                raise Mismatch("iswctype(0x%x, 0x%x): the program only asks whether ASCII is upper case" % (c, mask))
            return 1 if chr(c).isupper() else 0

        for name, fn in (("InterlockedTestExchange", test_exchange), ("InterlockedExchange", exchange),
                         ("memcpy", memcpy), ("memset", memset), ("towupper", towupper), ("iswctype", iswctype)):
            emu.on(name, library(fn))
