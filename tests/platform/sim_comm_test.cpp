// The simulated serial port and the ASIC register block: what a driver sees of the
// keyboard line, the bench that plays the keyboard and the cradle, the tty backend.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"

namespace {

using Strings = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

HANDLE OpenCom1() {
  return CreateFileW(L"COM1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

void ReadImmediately(HANDLE h) {
  COMMTIMEOUTS t{};
  ASSERT_TRUE(GetCommTimeouts(h, &t));
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 0;
  ASSERT_TRUE(SetCommTimeouts(h, &t));
}

Bytes Drain(HANDLE h) {
  Bytes out;
  for (;;) {
    BYTE b = 0;
    DWORD got = 0;
    if (!ReadFile(h, &b, 1, &got, nullptr) || got != 1) return out;
    out.push_back(b);
  }
}

// One WaitCommEvent on a simulated thread, so that Settle says when it is blocked.
struct Waiter {
  HANDLE port;
  std::atomic<int> done{0};
  std::atomic<BOOL> result{FALSE};
  std::atomic<DWORD> events{0xFFFFFFFF};
  std::atomic<DWORD> error{0};
  HANDLE thread = nullptr;

  explicit Waiter(HANDLE h) : port(h) {
    thread = CreateThread(nullptr, 0, &Waiter::Run, this, 0, nullptr);
  }
  ~Waiter() {
    if (thread) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
  }
  static DWORD WINAPI Run(LPVOID p) {
    auto* w = static_cast<Waiter*>(p);
    DWORD ev = 0xFFFFFFFF;
    BOOL ok = WaitCommEvent(w->port, &ev, nullptr);
    w->error = GetLastError();
    w->events = ev;
    w->result = ok;
    w->done = 1;
    return 0;
  }
};

class SimComm : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bench::Reset()); }
  void TearDown() override {
    bench::Settle();
    EXPECT_TRUE(bench::Reset());
  }
};

TEST_F(SimComm, OpenConfiguresAndRecords) {
  bench::SetInitialCommFlags(0xA5A50000u | 0x4C00u | 0x1u);
  HANDLE h = OpenCom1();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(bench::PortOpenCount(), 1);

  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(h, &dcb));
  EXPECT_EQ(sizeof(DCB), 28u);
  DWORD flags;
  memcpy(&flags, reinterpret_cast<char*>(&dcb) + 8, 4);
  EXPECT_EQ(flags, 0xA5A54C01u);
  EXPECT_EQ(dcb.fRtsControl, 0u);  // bits 12-13 of 0x4C00: 0
  EXPECT_EQ(dcb.fAbortOnError, 1u);
  EXPECT_EQ(dcb.fNull, 1u);
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  flags = (flags & 0xFFFF9093u) | 0x1093u;
  memcpy(reinterpret_cast<char*>(&dcb) + 8, &flags, 4);
  ASSERT_TRUE(SetCommState(h, &dcb));
  EXPECT_EQ(bench::CommFlags(), 0xA5A51093u);  // the reserved upper bits survive
  EXPECT_EQ(bench::CommBaud(), 9600u);

  EXPECT_TRUE(EscapeCommFunction(h, SETDTR));
  EXPECT_TRUE(EscapeCommFunction(h, SETRTS));
  EXPECT_TRUE(bench::CommDtr());
  EXPECT_TRUE(bench::CommRts());
  EXPECT_FALSE(EscapeCommFunction(h, 77));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(SetCommMask(h, 0x2139));
  DWORD mask = 0;
  EXPECT_TRUE(GetCommMask(h, &mask));
  EXPECT_EQ(mask, 0x2139u);

  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(bench::PortOpenCount(), 0);
  EXPECT_FALSE(bench::CommDtr());
  EXPECT_EQ(bench::Trace({"CreateFile", "SetCommState", "EscapeComm", "SetCommMask", "CloseHandle"}),
            (Strings{"CreateFile(COM1:)",
                     "SetCommState(baud=9600, size=8, parity=0, stop=0, flags=0xA5A51093)",
                     "EscapeCommFunction(5)", "EscapeCommFunction(3)", "SetCommMask(0x2139)",
                     "CloseHandle(COM1)"}));
  EXPECT_FALSE(SetCommMask(h, 0x2139));  // the handle is gone
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST_F(SimComm, RefusedOpens) {
  struct Case {
    const char* what;
    const wchar_t* name;
    DWORD disposition;
    bool busy, missing, alreadyOpen;
    DWORD error;
  };
  const Case cases[] = {
      {"free port", L"COM1:", OPEN_EXISTING, false, false, false, 0},
      {"lower case", L"com1:", OPEN_EXISTING, false, false, false, 0},
      {"held by another program", L"COM1:", OPEN_EXISTING, true, false, false, ERROR_ACCESS_DENIED},
      {"no such port", L"COM1:", OPEN_EXISTING, false, true, false, ERROR_FILE_NOT_FOUND},
      {"already open here", L"COM1:", OPEN_EXISTING, false, false, true, ERROR_ACCESS_DENIED},
      {"other port", L"COM2:", OPEN_EXISTING, false, false, false, ERROR_FILE_NOT_FOUND},
      {"no colon", L"COM1", OPEN_EXISTING, false, false, false, ERROR_FILE_NOT_FOUND},
      {"created", L"COM1:", CREATE_ALWAYS, false, false, false, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(bench::Reset());
    bench::SetPortBusy(c.busy);
    bench::SetPortMissing(c.missing);
    HANDLE first = c.alreadyOpen ? OpenCom1() : INVALID_HANDLE_VALUE;
    HANDLE h = CreateFileW(c.name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, c.disposition, 0, nullptr);
    if (c.error == 0) {
      EXPECT_NE(h, INVALID_HANDLE_VALUE);
      EXPECT_TRUE(CloseHandle(h));
    } else {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (first != INVALID_HANDLE_VALUE) CloseHandle(first);
    EXPECT_EQ(bench::PortOpenCount(), 0);
    EXPECT_EQ(bench::OpenHandles(), 0);
  }
  // Freed again, the port opens.
  ASSERT_TRUE(bench::Reset());
  bench::SetPortBusy(true);
  EXPECT_EQ(OpenCom1(), INVALID_HANDLE_VALUE);
  bench::SetPortBusy(false);
  HANDLE h = OpenCom1();
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(bench::PortOpensTotal(), 1);
}

TEST_F(SimComm, SetCommMaskFromAnotherThreadEndsThePendingWait) {
  HANDLE h = OpenCom1();
  ASSERT_TRUE(SetCommMask(h, 0x2139));
  {
    Waiter w(h);
    bench::Settle();  // the waiter counts as idle while it waits
    EXPECT_EQ(w.done, 0);
    ASSERT_TRUE(SetCommMask(h, 0));
    bench::Settle();
    EXPECT_EQ(w.done, 1);
    EXPECT_TRUE(w.result);
    EXPECT_EQ(w.events, 0u);  // an empty event set
  }
  CloseHandle(h);
}

TEST_F(SimComm, WaitEnteredAfterTheMaskWasClearedReturnsAtOnce) {
  HANDLE h = OpenCom1();
  ASSERT_TRUE(SetCommMask(h, 0x2139));
  ASSERT_TRUE(SetCommMask(h, 0));
  {
    Waiter w(h);
    bench::Settle();
    EXPECT_EQ(w.done, 1);
    EXPECT_FALSE(w.result);
    EXPECT_EQ(w.events, 0u);
  }
  CloseHandle(h);
}

TEST_F(SimComm, BytesAndCarrierInOneEvent) {
  HANDLE h = OpenCom1();
  ReadImmediately(h);
  ASSERT_TRUE(SetCommMask(h, 0x2139));
  {
    Waiter w(h);
    bench::Settle();
    bench::SendLineEvent({0x1C, 0x9C, 0x05}, true, false);
    bench::Settle();
    ASSERT_EQ(w.done, 1);
    EXPECT_TRUE(w.result);
    EXPECT_EQ(w.events, (DWORD)(EV_RXCHAR | EV_RLSD));
  }
  EXPECT_EQ(Drain(h), (Bytes{0x1C, 0x9C, 0x05}));
  DWORD status = 0;
  EXPECT_TRUE(GetCommModemStatus(h, &status));
  EXPECT_EQ(status, (DWORD)MS_RLSD_ON);
  EXPECT_EQ(bench::Trace({"WaitCommEvent", "ReadFile", "GetCommModemStatus"}),
            (Strings{"WaitCommEvent -> 0x0021", "ReadFile(COM1) [0x1C]", "ReadFile(COM1) [0x9C]",
                     "ReadFile(COM1) [0x05]", "GetCommModemStatus -> 0x80"}));
  CloseHandle(h);
}

TEST_F(SimComm, EventsAreKeptUntilTheNextWaitAndOnlyThoseInTheMask) {
  HANDLE h = OpenCom1();
  ReadImmediately(h);
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR | EV_POWER));
  bench::SetCarrier(true);  // not in the mask: nothing
  bench::RaiseResume();     // before any wait: kept for it
  DWORD ev = 0;
  EXPECT_TRUE(WaitCommEvent(h, &ev, nullptr));
  EXPECT_EQ(ev, (DWORD)EV_POWER);
  bench::SendKeyBytes({0x20});
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR | EV_POWER));  // setting the mask forgets what was seen
  {
    Waiter w(h);
    bench::Settle();
    EXPECT_EQ(w.done, 0);
    bench::SetCarrier(false);
    bench::Settle();
    EXPECT_EQ(w.done, 0);
    bench::SendKeyBytes({0x21});
    bench::Settle();
    EXPECT_EQ(w.done, 1);
    EXPECT_EQ(w.events, (DWORD)EV_RXCHAR);
  }
  EXPECT_EQ(Drain(h), (Bytes{0x20, 0x21}));  // the bytes themselves stay in the buffer
  CloseHandle(h);
}

TEST_F(SimComm, BytesSentWhileClosedAreLost) {
  bench::SendKeyBytes({1, 2, 3});
  HANDLE h = OpenCom1();
  ReadImmediately(h);
  EXPECT_EQ(Drain(h), Bytes{});
  CloseHandle(h);
}

TEST_F(SimComm, InjectedFailures) {
  HANDLE h = OpenCom1();
  ReadImmediately(h);
  ASSERT_TRUE(SetCommMask(h, 0x2139));
  bench::FailNextWaits(2);
  for (int i = 0; i < 2; ++i) {
    DWORD ev = 0xFF;
    EXPECT_FALSE(WaitCommEvent(h, &ev, nullptr));
    EXPECT_EQ(ev, 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_GEN_FAILURE);
  }
  {
    Waiter w(h);
    bench::Settle();
    EXPECT_EQ(w.done, 0);  // the third wait blocks again
    bench::FailAllWaits(true);  // and a pulled adapter fails it
    bench::Settle();
    EXPECT_EQ(w.done, 1);
    EXPECT_FALSE(w.result);
  }
  DWORD ev;
  EXPECT_FALSE(WaitCommEvent(h, &ev, nullptr));
  bench::FailAllWaits(false);

  bench::SendKeyBytes({0x41});
  bench::FailReads(true);
  BYTE b;
  DWORD got = 7;
  EXPECT_FALSE(ReadFile(h, &b, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  bench::FailReads(false);
  EXPECT_EQ(Drain(h), Bytes{0x41});
  CloseHandle(h);
}

TEST_F(SimComm, ClosingEndsAPendingWaitAndTheHandleFailsAfterwards) {
  HANDLE h = OpenCom1();
  ASSERT_TRUE(SetCommMask(h, 0x2139));
  {
    Waiter w(h);
    bench::Settle();
    EXPECT_TRUE(CloseHandle(h));
    bench::Settle();
    EXPECT_EQ(w.done, 1);
    EXPECT_FALSE(w.result);
    EXPECT_EQ(w.error, (DWORD)ERROR_INVALID_HANDLE);
  }
  DWORD ev, status;
  BYTE b;
  DWORD got;
  EXPECT_FALSE(WaitCommEvent(h, &ev, nullptr));
  EXPECT_FALSE(GetCommModemStatus(h, &status));
  EXPECT_FALSE(ReadFile(h, &b, 1, &got, nullptr));
  EXPECT_FALSE(CloseHandle(h));
}

TEST_F(SimComm, BadArguments) {
  HANDLE h = OpenCom1();
  BYTE b;
  DWORD got;
  OVERLAPPED ov{};
  EXPECT_FALSE(ReadFile(h, &b, 1, nullptr, nullptr));
  EXPECT_FALSE(ReadFile(h, nullptr, 1, &got, nullptr));
  EXPECT_FALSE(ReadFile(h, &b, 1, &got, &ov));
  EXPECT_FALSE(GetCommState(h, nullptr));
  EXPECT_FALSE(SetCommState(h, nullptr));
  DCB bad{};
  EXPECT_FALSE(SetCommState(h, &bad));  // no speed, no byte size
  EXPECT_FALSE(GetCommTimeouts(h, nullptr));
  EXPECT_FALSE(WaitCommEvent(h, nullptr, nullptr));
  EXPECT_FALSE(GetCommModemStatus(nullptr, &got));
  EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

// ---- the ASIC register block ----

volatile DWORD* Reg(LPVOID base, size_t offset) {
  return reinterpret_cast<volatile DWORD*>(static_cast<char*>(base) + offset);
}

TEST_F(SimComm, PowerWritesReachTheTraceInOrder) {
  LPVOID regs = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(regs, nullptr);
  ASSERT_TRUE(VirtualCopy(regs, (LPVOID)(uintptr_t)0xA2000000u, 4096, PAGE_READWRITE | PAGE_NOCACHE));
  EXPECT_EQ(bench::AsicMappedCount(), 1);
  EXPECT_EQ(bench::PowerState(), bench::Power::Unknown);
  HANDLE h = OpenCom1();
  *Reg(regs, 0x764) = 0x10;
  SetCommMask(h, 0x2139);
  *Reg(regs, 0x764) = 0x10;  // the same value again is a write of its own
  EXPECT_EQ(bench::PowerState(), bench::Power::On);
  *Reg(regs, 0x760) = 0x10;
  SetCommMask(h, 0);
  CloseHandle(h);
  EXPECT_TRUE(VirtualFree(regs, 0, MEM_RELEASE));
  EXPECT_EQ(bench::AsicMappedCount(), 0);
  EXPECT_EQ(bench::PowerState(), bench::Power::Off);
  EXPECT_EQ(bench::PowerWrites(), (Strings{"on", "on", "off"}));
  EXPECT_EQ(bench::Trace({"Power", "SetCommMask", "Virtual"}),
            (Strings{"VirtualAlloc(4096, 0x2000, 0x1)", "VirtualCopy(0xA2000000, 4096, 0x204)", "Power(on)",
                     "SetCommMask(0x2139)", "Power(on)", "Power(off)", "SetCommMask(0x0000)",
                     "VirtualFree(ASIC, 0x8000)"}));
}

TEST_F(SimComm, PowerWriteOnAnotherThreadIsSeenAtItsNextCall) {
  LPVOID regs = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_TRUE(VirtualCopy(regs, (LPVOID)(uintptr_t)0xA2000000u, 4096, PAGE_READWRITE | PAGE_NOCACHE));
  HANDLE h = OpenCom1();
  ASSERT_TRUE(SetCommMask(h, 0x2139));
  struct Ctx {
    HANDLE port;
    LPVOID regs;
  } ctx{h, regs};
  HANDLE t = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
    auto* c = static_cast<Ctx*>(p);
    DWORD ev;
    WaitCommEvent(c->port, &ev, nullptr);
    if (ev & EV_POWER) *Reg(c->regs, 0x764) = 0x10;  // re-power after a resume
    DWORD status;
    GetCommModemStatus(c->port, &status);
    return 0;
  }, &ctx, 0, nullptr);
  bench::Settle();
  bench::RaiseResume();
  bench::Settle();
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  EXPECT_EQ(bench::Trace({"Power", "WaitComm", "GetCommModem"}),
            (Strings{"WaitCommEvent -> 0x2000", "Power(on)", "GetCommModemStatus -> 0x00"}));
  CloseHandle(h);
  VirtualFree(regs, 0, MEM_RELEASE);
}

TEST_F(SimComm, MappingFailuresAndMisuse) {
  bench::MakeVirtualAllocFail(true);
  EXPECT_EQ(VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS), nullptr);
  bench::MakeVirtualAllocFail(false);
  LPVOID regs = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(regs, nullptr);
  LPVOID asic = (LPVOID)(uintptr_t)0xA2000000u;
  bench::MakeVirtualCopyFail(true);
  EXPECT_FALSE(VirtualCopy(regs, asic, 4096, PAGE_READWRITE | PAGE_NOCACHE));
  bench::MakeVirtualCopyFail(false);
  EXPECT_EQ(bench::AsicMappedCount(), 0);
  EXPECT_FALSE(VirtualCopy(regs, (LPVOID)(uintptr_t)0xA3000000u, 4096, PAGE_READWRITE));  // unknown address
  EXPECT_FALSE(VirtualCopy(regs, asic, 4096, PAGE_READWRITE | PAGE_PHYSICAL));
  EXPECT_FALSE(VirtualCopy(nullptr, asic, 4096, PAGE_READWRITE));
  int local = 0;
  EXPECT_FALSE(VirtualCopy(&local, asic, 4096, PAGE_READWRITE));  // not a reservation
  ASSERT_TRUE(VirtualCopy(regs, asic, 4096, PAGE_READWRITE | PAGE_NOCACHE));
  EXPECT_FALSE(VirtualCopy(regs, asic, 4096, PAGE_READWRITE | PAGE_NOCACHE));  // mapped there already
  // A second reservation may map the block too: both views are the same registers.
  LPVOID second = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_TRUE(VirtualCopy(second, asic, 4096, PAGE_READWRITE | PAGE_NOCACHE));
  EXPECT_EQ(bench::AsicMappedCount(), 2);
  EXPECT_EQ(bench::AsicMappedPeak(), 2);
  *Reg(second, 0x760) = 0x10;
  EXPECT_EQ(bench::PowerWrites(), Strings{"off"});
  EXPECT_TRUE(VirtualFree(second, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(regs, 4096, MEM_RELEASE));  // MEM_RELEASE takes size 0
  EXPECT_FALSE(VirtualFree(regs, 0, MEM_DECOMMIT));
  EXPECT_TRUE(VirtualFree(regs, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(regs, 0, MEM_RELEASE));  // released once only
  EXPECT_EQ(bench::AsicMappedCount(), 0);
  EXPECT_EQ(bench::ReservedRegions(), 0);
}

// ---- the tty backend, on a pseudo-terminal ----

struct Pty {
  int master = -1, slave = -1;
  std::string name;
  Pty() {
    char buf[128];
    if (openpty(&master, &slave, buf, nullptr, nullptr) == 0) name = buf;
  }
  ~Pty() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
};

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

TEST_F(SimComm, PseudoTerminalEndToEnd) {
  Pty pty;
  ASSERT_FALSE(pty.name.empty());
  close(pty.slave);  // the sim opens its own end
  pty.slave = -1;
  bench::UseComPath(pty.name);
  HANDLE h = OpenCom1();
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << pty.name;
  DWORD status = 0xFF;
  EXPECT_TRUE(GetCommModemStatus(h, &status));
  EXPECT_EQ(status & MS_RLSD_ON, 0u);  // a pseudo-terminal has no carrier
  EXPECT_TRUE(EscapeCommFunction(h, SETDTR));
  ReadImmediately(h);
  ASSERT_TRUE(SetCommMask(h, 0x2139));
  const unsigned char keys[] = {0x1C, 0x9C, 0x1D, 0x9D};
  ASSERT_EQ(write(pty.master, keys, sizeof keys), (ssize_t)sizeof keys);
  Bytes got;
  while (got.size() < sizeof keys) {
    DWORD ev = 0;
    ASSERT_TRUE(WaitCommEvent(h, &ev, nullptr));
    EXPECT_EQ(ev, (DWORD)EV_RXCHAR);
    ASSERT_TRUE(SetCommMask(h, 0x2139));  // as a reader re-arms: what is seen before the drain goes
    Bytes more = Drain(h);
    got.insert(got.end(), more.begin(), more.end());
  }
  EXPECT_EQ(got, (Bytes{0x1C, 0x9C, 0x1D, 0x9D}));
  // A wait with nothing on the line blocks until SetCommMask ends it.
  {
    Waiter w(h);
    bench::Settle();
    EXPECT_EQ(w.done, 0);
    SetCommMask(h, 0x2139);
    bench::Settle();
    EXPECT_EQ(w.done, 1);
    EXPECT_EQ(w.events, 0u);
  }
  EXPECT_TRUE(CloseHandle(h));
  // Closed and opened again, the same tty works.
  h = OpenCom1();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(SimComm, PseudoTerminalThatHangsUpFailsWaitsWithoutSpinning) {
  Pty pty;
  ASSERT_FALSE(pty.name.empty());
  close(pty.slave);
  pty.slave = -1;
  bench::UseComPath(pty.name);
  HANDLE h = OpenCom1();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetCommMask(h, 0x2139));
  {
    Waiter w(h);
    bench::Settle();
    EXPECT_EQ(w.done, 0);
    close(pty.master);  // the adapter is pulled
    pty.master = -1;
    WaitForSingleObject(w.thread, INFINITE);
    EXPECT_EQ(w.done, 1);
    EXPECT_FALSE(w.result);
  }
  // Gone for good: every later wait fails at once, and nothing in the sim spins meanwhile.
  double before = CpuSeconds();
  auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cpu = CpuSeconds() - before;
  EXPECT_LT(cpu / seconds, 0.05) << cpu << " s of CPU in " << seconds << " s";
  DWORD ev = 0xFF;
  EXPECT_FALSE(WaitCommEvent(h, &ev, nullptr));
  EXPECT_EQ(ev, 0u);
  BYTE b;
  DWORD got;
  EXPECT_FALSE(ReadFile(h, &b, 1, &got, nullptr));
  EXPECT_EQ(bench::Trace({"COM1: device lost"}).size(), 1u);
  EXPECT_TRUE(CloseHandle(h));
  // The device cannot be opened again.
  EXPECT_EQ(OpenCom1(), INVALID_HANDLE_VALUE);
}

}  // namespace
