// A handheld program of the platform's entry and runtime alone, for test_runtime.py to
// run in an emulator: it finds the runtime's functions through this program's link map
// and calls them one by one, and runs the entry with the four WinMain arguments.
#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// Keeps every runtime object in the link, whatever this file itself happens to call.
extern "C" {
uint32_t __aeabi_uidiv(uint32_t, uint32_t);
void __aeabi_memcpy(void*, const void*, size_t);
uint8_t __atomic_load_1(const volatile void*, int);
}
extern "C" const void* const ProbeKeep[] = {
    reinterpret_cast<const void*>(&__aeabi_uidiv),
    reinterpret_cast<const void*>(&__aeabi_memcpy),
    reinterpret_cast<const void*>(&__atomic_load_1),
};

// The flag word of a DCB whose bit fields are set to the given values, as the handheld
// would read it: the test compares it with the documented bit positions.
extern "C" uint32_t ProbeDcbFlags(uint32_t binary, uint32_t dtr, uint32_t rts, uint32_t abort) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.fBinary = binary;
  dcb.fDtrControl = dtr;
  dcb.fRtsControl = rts;
  dcb.fAbortOnError = abort;
  uint32_t word;
  memcpy(&word, reinterpret_cast<const uint8_t*>(&dcb) + 8, 4);
  return word;
}

// std::atomic as the program uses it, on the runtime's calls.
extern "C" uint32_t ProbeAtomics(uint32_t start) {
  std::atomic<uint32_t> word{start};
  std::atomic<uint8_t> byte{static_cast<uint8_t>(start)};
  word.fetch_add(5);
  word.fetch_or(0x100);
  uint32_t expected = word.load();
  word.compare_exchange_strong(expected, expected * 2);
  byte.exchange(static_cast<uint8_t>(byte.load() + 1));
  return word.load() + byte.load();
}

extern "C" int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int showCommand) {
  MessageBoxW(nullptr, commandLine, L"probe", MB_OK);
  return showCommand + 40;
}
