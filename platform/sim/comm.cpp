// The serial port "COM1:" and the ASIC register block of the simulated handheld.
//
// The port is one kernel object with an input buffer, an event mask and the events seen
// since the mask was last set. Two devices feed it: the bench (tests), or a real tty
// named by BRINDLE_COM1, read by a thread of the sim's own that sleeps in poll() and
// turns what arrives into the same port state. Either way WaitCommEvent is one
// sim::Block, so a waiting reader counts as idle for Settle.
//
// The register block is one shared-memory page. VirtualCopy maps it over the region
// that VirtualAlloc reserved, so the program's stores are plain stores, as on the
// device. The power registers are strobes: the sim reads and clears them through a
// view of its own at every call into this file and at every bench query, and puts
// each write it finds into the trace as "Power(on)" / "Power(off)".
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "bench_comm.h"
#include "core.h"

static_assert(sizeof(DCB) == 28, "DCB must have the device's layout");

namespace sim {
namespace {

// A call's argument the port cannot take.
BOOL BadArgument() {
  SetError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

constexpr uintptr_t kAsicBase = 0xA2000000u;
constexpr size_t kPage = 4096;
constexpr size_t kPowerOffReg = 0x760;
constexpr size_t kPowerOnReg = 0x764;
constexpr uint32_t kPowerBit = 0x10;

struct Port : KObject {
  const char* Kind() const override { return "comm"; }
  void LastHandleClosed() override;

  bool open = true;
  DWORD mask = 0;
  DWORD seen = 0;        // events in the mask since the mask was set or a wait returned
  uint64_t maskGen = 0;  // bumped by SetCommMask: ends a pending wait
  uint64_t failGen = 0;  // bumped when the bench makes waits fail: ends a pending wait
  std::deque<uint8_t> rx;
  COMMTIMEOUTS timeouts{};
  // tty backend
  int fd = -1;
  int wakeFd = -1;
  bool dead = false;  // the tty hung up or failed
};

struct Region {
  size_t size = 0;
  bool asic = false;
};

struct Device {
  bool busy = false;
  bool missing = false;
  bool carrier = false;
  int failWaits = 0;
  bool failAllWaits = false;
  bool failReads = false;
  DCB dcb{};
  bool dtr = false;
  bool rts = false;
  std::shared_ptr<Port> port;
  int opensTotal = 0;
  bool comPathSet = false;
  std::string comPath;

  bool failAlloc = false;
  bool failCopy = false;
  std::map<uintptr_t, Region> regions;
  int mapped = 0;
  int peak = 0;
  int regsFd = -1;
  uint8_t* regs = nullptr;  // the sim's own view of the register page
  std::vector<std::string> powerWrites;
  bench::Power power = bench::Power::Unknown;
};

DCB PowerUpDcb() {
  DCB d{};
  d.DCBlength = sizeof(DCB);
  d.BaudRate = 115200;
  d.fBinary = 1;
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fRtsControl = RTS_CONTROL_ENABLE;
  d.XonLim = 512;
  d.XoffLim = 128;
  d.ByteSize = 8;
  d.Parity = NOPARITY;
  d.StopBits = ONESTOPBIT;
  d.XonChar = 0x11;
  d.XoffChar = 0x13;
  return d;
}

DWORD FlagsOf(const DCB& d) {
  DWORD w;
  memcpy(&w, reinterpret_cast<const char*>(&d) + 8, 4);
  return w;
}

void SetFlags(DCB& d, DWORD w) { memcpy(reinterpret_cast<char*>(&d) + 8, &w, 4); }

Device& D() {
  static Device* d = [] {
    auto* dev = new Device;
    dev->dcb = PowerUpDcb();
    return dev;
  }();
  return *d;
}

// ---- the ASIC register page ----

bool EnsureRegisterPage() {
  Device& d = D();
  if (d.regs) return true;
  int fd = memfd_create("brindle-asic", MFD_CLOEXEC);
  if (fd < 0) return false;
  if (ftruncate(fd, kPage) != 0) {
    close(fd);
    return false;
  }
  void* view = mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    close(fd);
    return false;
  }
  d.regsFd = fd;
  d.regs = static_cast<uint8_t*>(view);
  return true;
}

uint32_t TakeRegister(size_t offset) {
  auto* word = reinterpret_cast<uint32_t*>(D().regs + offset);
  return __atomic_exchange_n(word, 0u, __ATOMIC_SEQ_CST);
}

// Reads and clears the power strobes. Two writes found at one look are reported off
// first, then on. Lock held.
void ObservePower() {
  Device& d = D();
  if (!d.regs) return;
  uint32_t off = TakeRegister(kPowerOffReg);
  uint32_t on = TakeRegister(kPowerOnReg);
  if (off) {
    if (off & kPowerBit) {
      Record("Power(off)");
      d.powerWrites.push_back("off");
      d.power = bench::Power::Off;
    } else {
      Record("PowerRegister(0x760, " + Hex(off) + ")");
    }
  }
  if (on) {
    if (on & kPowerBit) {
      Record("Power(on)");
      d.powerWrites.push_back("on");
      d.power = bench::Power::On;
    } else {
      Record("PowerRegister(0x764, " + Hex(on) + ")");
    }
  }
}

// ---- the port ----

std::string ByteList(const uint8_t* p, size_t n) {
  std::string s = "[";
  for (size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += Hex(p[i], 2);
  }
  return s + "]";
}

// Events the device raised: kept when the mask asks for them. Lock held.
void RaiseEvents(Port& p, DWORD ev) {
  DWORD hit = ev & p.mask;
  if (!hit) return;
  p.seen |= hit;
  p.WakeWaiters();
}

// The tty's reader: sleeps in poll() on the tty and the port's wake-up eventfd. A hang-up
// or read error marks the port dead once; from then on it only waits for the close.
void TtyThread(std::shared_ptr<Port> p) {
  int fd, wakeFd;
  {
    Lock lk(Mu());
    fd = p->fd;
    wakeFd = p->wakeFd;
  }
  bool watching = true;
  for (;;) {
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    int n = poll(fds, watching ? 2 : 1, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) watching = false;  // nothing sane left to watch: wait for the close only
    if (fds[0].revents) {
      uint64_t v;
      ssize_t r = read(wakeFd, &v, sizeof v);
      (void)r;
      Lock lk(Mu());
      if (!p->open) break;
    }
    if (!watching || n <= 0) continue;
    uint8_t buf[256];
    std::vector<uint8_t> got;
    bool lost = (fds[1].revents & (POLLERR | POLLNVAL)) != 0;
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      for (;;) {
        ssize_t r = read(fd, buf, sizeof buf);
        if (r > 0) {
          got.insert(got.end(), buf, buf + r);
          continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        lost = true;  // end of file or EIO: the device went away
        break;
      }
      if (fds[1].revents & POLLHUP) lost = true;
    }
    Lock lk(Mu());
    if (!p->open) break;
    if (!got.empty()) {
      p->rx.insert(p->rx.end(), got.begin(), got.end());
      RaiseEvents(*p, EV_RXCHAR);
    }
    if (lost) {
      watching = false;
      p->dead = true;
      Record("COM1: device lost");
      p->WakeWaiters();
    }
  }
  // The port is closed: nobody else touches these descriptors any more.
  close(fd);
  close(wakeFd);
}

speed_t SpeedOf(DWORD baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

// Line settings of the DCB applied to the tty; a speed the tty lacks keeps the old one.
void ApplyTermios(int fd, const DCB& d) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  switch (d.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  if (d.Parity == ODDPARITY) t.c_cflag |= PARENB | PARODD;
  if (d.Parity == EVENPARITY) t.c_cflag |= PARENB;
  if (d.StopBits == TWOSTOPBITS) t.c_cflag |= CSTOPB;
  speed_t s = SpeedOf(d.BaudRate);
  if (s != B0) {
    cfsetispeed(&t, s);
    cfsetospeed(&t, s);
  }
  // With VMIN 0 an empty read returns 0, indistinguishable from a hang-up; with VMIN 1
  // and O_NONBLOCK it fails with EAGAIN.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
}

void SetModemLine(const Port& p, int line, bool on) {
  if (p.fd < 0 || p.dead) return;
  ioctl(p.fd, on ? TIOCMBIS : TIOCMBIC, &line);  // a pseudo-terminal has no modem lines
}

// Drops the port's state and lets its tty thread go. Lock held.
void ClosePort(Port& p) {
  p.open = false;
  p.seen = 0;
  p.rx.clear();
  if (p.wakeFd >= 0) {
    uint64_t one = 1;
    ssize_t r = write(p.wakeFd, &one, sizeof one);
    (void)r;
  }
  p.WakeWaiters();
}

void Port::LastHandleClosed() {
  ObservePower();
  Record("CloseHandle(COM1)");
  Device& d = D();
  ClosePort(*this);
  if (d.port.get() == this) d.port.reset();
  d.dtr = false;
  d.rts = false;
}

bool IsCom1(LPCWSTR name) {
  const wchar_t* want = L"COM1:";
  for (int i = 0; i < 5; ++i)
    if (!name[i] || towupper((wint_t)name[i]) != (wint_t)want[i]) return false;
  return name[5] == 0;
}

std::string ComPath() {
  Device& d = D();
  if (d.comPathSet) return d.comPath;
  const char* env = getenv("BRINDLE_COM1");
  return env ? env : "";
}

DWORD ErrorFromErrno(int e) {
  switch (e) {
    case ENOENT: case ENODEV: case ENXIO: return ERROR_FILE_NOT_FOUND;
    case EACCES: case EPERM: case EBUSY: return ERROR_ACCESS_DENIED;
    default: return ERROR_GEN_FAILURE;
  }
}

std::shared_ptr<Port> PortOf(HANDLE h) {
  auto p = Get<Port>(h);
  if (!p || !p->open) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return p;
}

}  // namespace
}  // namespace sim

using namespace sim;

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD, HANDLE) {
  Lock lk(Mu());
  ObservePower();
  if (!name) {
    SetError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (!IsCom1(name)) {
    SetError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  Device& d = D();
  auto fail = [](DWORD err) {
    Record("CreateFile(COM1:) failed " + std::to_string(err));
    SetError(err);
    return INVALID_HANDLE_VALUE;
  };
  if (disposition != OPEN_EXISTING) return fail(ERROR_INVALID_PARAMETER);
  if ((access & (GENERIC_READ | GENERIC_WRITE)) == 0) return fail(ERROR_ACCESS_DENIED);
  std::string path = ComPath();
  if (path.empty() && d.missing) return fail(ERROR_FILE_NOT_FOUND);
  // The port is never shared: a second open fails as when another program holds it.
  if (d.port || (path.empty() && d.busy)) return fail(ERROR_ACCESS_DENIED);
  auto p = std::make_shared<Port>();
  if (!path.empty()) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(ErrorFromErrno(errno));
    termios t;
    if (tcgetattr(fd, &t) != 0) {
      close(fd);
      return fail(ERROR_FILE_NOT_FOUND);  // not a serial device
    }
    int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
      close(fd);
      return fail(ERROR_GEN_FAILURE);
    }
    ApplyTermios(fd, d.dcb);
    p->fd = fd;
    p->wakeFd = wakeFd;
    std::thread(TtyThread, p).detach();
  }
  d.port = p;
  ++d.opensTotal;
  Record("CreateFile(COM1:)");
  SetError(ERROR_SUCCESS);
  return NewHandle(p);
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buf, DWORD toRead, LPDWORD got, LPOVERLAPPED ov) {
  Lock lk(Mu());
  ObservePower();
  if (got) *got = 0;
  auto p = PortOf(h);
  if (!p) return FALSE;
  if (!got || ov || (!buf && toRead)) return BadArgument();
  if (D().failReads) {
    SetError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const COMMTIMEOUTS& t = p->timeouts;
  bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                   t.ReadTotalTimeoutConstant == 0;
  if (!immediate) {
    // Interval time-outs are not modelled: wait for the whole count or the total time-out.
    uint64_t total = (uint64_t)t.ReadTotalTimeoutMultiplier * toRead + t.ReadTotalTimeoutConstant;
    uint64_t deadline = total ? NowLocked() + total : 0;
    p->waiters.push_back(Self());
    Block(lk, [&p, toRead] { return p->rx.size() >= toRead || !p->open || p->dead; }, deadline, "ReadFile");
    p->waiters.erase(std::find(p->waiters.begin(), p->waiters.end(), Self()));
    if (!p->open) {
      SetError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  if (p->rx.empty() && p->dead) {
    SetError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  DWORD n = (DWORD)std::min<size_t>(toRead, p->rx.size());
  auto* out = static_cast<uint8_t*>(buf);
  for (DWORD i = 0; i < n; ++i) {
    out[i] = p->rx.front();
    p->rx.pop_front();
  }
  *got = n;
  if (n) Record("ReadFile(COM1) " + ByteList(out, n));
  return TRUE;
}

BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb) {
  Lock lk(Mu());
  ObservePower();
  auto p = PortOf(h);
  if (!p) return FALSE;
  if (!dcb) return BadArgument();
  *dcb = D().dcb;
  dcb->DCBlength = sizeof(DCB);
  return TRUE;
}

BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb) {
  Lock lk(Mu());
  ObservePower();
  auto p = PortOf(h);
  if (!p) return FALSE;
  bool bad = !dcb || dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 ||
             dcb->Parity > 4 || dcb->StopBits > 2;
  if (bad) return BadArgument();
  D().dcb = *dcb;
  Record("SetCommState(baud=" + std::to_string(dcb->BaudRate) + ", size=" +
         std::to_string(dcb->ByteSize) + ", parity=" + std::to_string(dcb->Parity) +
         ", stop=" + std::to_string(dcb->StopBits) + ", flags=" + Hex(FlagsOf(*dcb), 8) + ")");
  if (p->fd >= 0 && !p->dead) ApplyTermios(p->fd, *dcb);
  return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t) {
  Lock lk(Mu());
  ObservePower();
  auto p = PortOf(h);
  if (!p) return FALSE;
  if (!t) return BadArgument();
  *t = p->timeouts;
  return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t) {
  Lock lk(Mu());
  ObservePower();
  auto p = PortOf(h);
  if (!p) return FALSE;
  if (!t) return BadArgument();
  p->timeouts = *t;
  Record("SetCommTimeouts(" + Hex(t->ReadIntervalTimeout) + ", " +
         std::to_string(t->ReadTotalTimeoutMultiplier) + ", " +
         std::to_string(t->ReadTotalTimeoutConstant) + ", " +
         std::to_string(t->WriteTotalTimeoutMultiplier) + ", " +
         std::to_string(t->WriteTotalTimeoutConstant) + ")");
  return TRUE;
}

BOOL WINAPI SetCommMask(HANDLE h, DWORD mask) {
  Lock lk(Mu());
  ObservePower();
  auto p = PortOf(h);
  if (!p) return FALSE;
  Record("SetCommMask(" + Hex(mask, 4) + ")");
  p->mask = mask;
  p->seen = 0;
  ++p->maskGen;
  p->WakeWaiters();
  return TRUE;
}

BOOL WINAPI GetCommMask(HANDLE h, LPDWORD mask) {
  Lock lk(Mu());
  auto p = PortOf(h);
  if (!p) return FALSE;
  if (!mask) return BadArgument();
  *mask = p->mask;
  return TRUE;
}

BOOL WINAPI WaitCommEvent(HANDLE h, LPDWORD events, LPOVERLAPPED ov) {
  Lock lk(Mu());
  ObservePower();
  if (events) *events = 0;
  auto p = PortOf(h);
  if (!p) return FALSE;
  Device& d = D();
  auto fail = [](DWORD err) {
    Record("WaitCommEvent -> FALSE");
    SetError(err);
    return FALSE;
  };
  if (!events || ov) return fail(ERROR_INVALID_PARAMETER);
  if (d.failAllWaits || d.failWaits > 0) {
    if (d.failWaits > 0) --d.failWaits;
    return fail(ERROR_GEN_FAILURE);
  }
  if (p->dead) return fail(ERROR_GEN_FAILURE);
  if (p->mask == 0) return fail(ERROR_INVALID_PARAMETER);  // nothing could ever end it
  uint64_t maskGen = p->maskGen, failGen = p->failGen;
  p->waiters.push_back(Self());
  Block(lk, [&] {
    return (p->seen & p->mask) || p->maskGen != maskGen || p->failGen != failGen || !p->open ||
           p->dead;
  }, 0, "WaitCommEvent");
  p->waiters.erase(std::find(p->waiters.begin(), p->waiters.end(), Self()));
  ObservePower();
  if (!p->open) {
    Record("WaitCommEvent -> FALSE");
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (p->maskGen != maskGen) {
    Record("WaitCommEvent -> 0x0000");
    return TRUE;  // the mask changed under the wait: an empty event set
  }
  if (p->seen & p->mask) {
    *events = p->seen & p->mask;
    p->seen = 0;
    Record("WaitCommEvent -> " + Hex(*events, 4));
    return TRUE;
  }
  return fail(ERROR_GEN_FAILURE);
}

BOOL WINAPI GetCommModemStatus(HANDLE h, LPDWORD status) {
  Lock lk(Mu());
  ObservePower();
  if (status) *status = 0;
  auto p = PortOf(h);
  if (!p) return FALSE;
  if (!status) return BadArgument();
  if (p->dead) {
    SetError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  DWORD s = 0;
  if (p->fd >= 0) {
    int lines = 0;
    // A pseudo-terminal has no modem lines: carrier off.
    if (ioctl(p->fd, TIOCMGET, &lines) == 0) {
      if (lines & TIOCM_CTS) s |= MS_CTS_ON;
      if (lines & TIOCM_DSR) s |= MS_DSR_ON;
      if (lines & TIOCM_RNG) s |= MS_RING_ON;
      if (lines & TIOCM_CAR) s |= MS_RLSD_ON;
    }
  } else if (D().carrier) {
    s |= MS_RLSD_ON;
  }
  *status = s;
  Record("GetCommModemStatus -> " + Hex(s, 2));
  return TRUE;
}

BOOL WINAPI EscapeCommFunction(HANDLE h, DWORD func) {
  Lock lk(Mu());
  ObservePower();
  auto p = PortOf(h);
  if (!p) return FALSE;
  Device& d = D();
  switch (func) {
    case SETDTR: d.dtr = true; SetModemLine(*p, TIOCM_DTR, true); break;
    case CLRDTR: d.dtr = false; SetModemLine(*p, TIOCM_DTR, false); break;
    case SETRTS: d.rts = true; SetModemLine(*p, TIOCM_RTS, true); break;
    case CLRRTS: d.rts = false; SetModemLine(*p, TIOCM_RTS, false); break;
    case SETXOFF: case SETXON: case SETBREAK: case CLRBREAK: break;
    default:
      SetError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  Record("EscapeCommFunction(" + std::to_string(func) + ")");
  return TRUE;
}

// ---- virtual memory -----------------------------------------------------------

LPVOID WINAPI VirtualAlloc(LPVOID addr, SIZE_T size, DWORD type, DWORD protect) {
  Lock lk(Mu());
  ObservePower();
  Device& d = D();
  std::string call = "VirtualAlloc(" + std::to_string(size) + ", " + Hex(type) + ", " + Hex(protect) + ")";
  if (d.failAlloc) {
    Record(call + " -> NULL");
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (addr || size == 0 || size > (SIZE_T)1 << 30 || !(type & (MEM_RESERVE | MEM_COMMIT)) ||
      (type & ~(DWORD)(MEM_RESERVE | MEM_COMMIT))) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  size_t len = (size + kPage - 1) / kPage * kPage;
  int prot = PROT_NONE;
  if (type & MEM_COMMIT) {
    if (protect & PAGE_READWRITE) prot = PROT_READ | PROT_WRITE;
    else if (protect & PAGE_READONLY) prot = PROT_READ;
  }
  void* p = mmap(nullptr, len, prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  d.regions[(uintptr_t)p] = Region{len, false};
  Record(call);
  return p;
}

BOOL WINAPI VirtualCopy(LPVOID dest, LPVOID src, DWORD size, DWORD protect) {
  Lock lk(Mu());
  ObservePower();
  Device& d = D();
  std::string call = "VirtualCopy(" + Hex((unsigned)(uintptr_t)src) + ", " + std::to_string(size) +
                     ", " + Hex(protect) + ")";
  if (d.failCopy) {
    Record(call + " -> FALSE");
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto it = d.regions.find((uintptr_t)dest);
  // Only the register block's statically mapped kernel address is known here.
  bool ok = it != d.regions.end() && !it->second.asic && (uintptr_t)src == kAsicBase &&
            size == kPage && it->second.size >= kPage && !(protect & PAGE_PHYSICAL) &&
            (protect & (PAGE_READWRITE | PAGE_READONLY));
  if (!ok || !EnsureRegisterPage()) {
    Record(call + " -> FALSE");
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int prot = (protect & PAGE_READWRITE) ? PROT_READ | PROT_WRITE : PROT_READ;
  if (mmap(dest, kPage, prot, MAP_SHARED | MAP_FIXED, d.regsFd, 0) == MAP_FAILED) {
    Record(call + " -> FALSE");
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  it->second.asic = true;
  d.peak = std::max(d.peak, ++d.mapped);
  Record(call);
  return TRUE;
}

BOOL WINAPI VirtualFree(LPVOID addr, SIZE_T size, DWORD type) {
  Lock lk(Mu());
  ObservePower();
  Device& d = D();
  auto it = d.regions.find((uintptr_t)addr);
  if (it == d.regions.end() || type != MEM_RELEASE || size != 0) return BadArgument();
  munmap(addr, it->second.size);
  if (it->second.asic) --d.mapped;
  Record(std::string("VirtualFree(") + (it->second.asic ? "ASIC" : "region") + ", 0x8000)");
  d.regions.erase(it);
  return TRUE;
}

// ---- the bench ----------------------------------------------------------------

namespace {

struct ResetHook {
  ResetHook() {
    OnReset([] {
      Device& d = D();
      if (d.port) ClosePort(*d.port);
      d.port.reset();
      d.busy = d.missing = d.carrier = false;
      d.failWaits = 0;
      d.failAllWaits = d.failReads = false;
      d.dcb = PowerUpDcb();
      d.dtr = d.rts = false;
      d.opensTotal = 0;
      d.comPathSet = false;
      d.comPath.clear();
      d.failAlloc = d.failCopy = false;
      for (auto& [base, r] : d.regions) munmap((void*)base, r.size);
      d.regions.clear();
      d.mapped = d.peak = 0;
      if (d.regs) memset(d.regs, 0, kPage);
      d.powerWrites.clear();
      d.power = bench::Power::Unknown;
    });
  }
} resetHook;

}  // namespace

namespace bench {

void SendLineEvent(const std::vector<unsigned char>& bytes, bool carrier, bool resume) {
  Lock lk(Mu());
  ObservePower();
  Device& d = D();
  DWORD ev = 0;
  if (carrier != d.carrier) ev |= EV_RLSD;
  d.carrier = carrier;
  if (resume) ev |= EV_POWER;
  auto p = d.port;
  if (!p || p->fd >= 0) return;
  if (!bytes.empty()) {
    p->rx.insert(p->rx.end(), bytes.begin(), bytes.end());
    ev |= EV_RXCHAR;
  }
  RaiseEvents(*p, ev);
}

void SendKeyBytes(const std::vector<unsigned char>& bytes) {
  bool carrier;
  {
    Lock lk(Mu());
    carrier = D().carrier;
  }
  SendLineEvent(bytes, carrier, false);
}

void SetCarrier(bool on) { SendLineEvent({}, on, false); }

void RaiseResume() {
  bool carrier;
  {
    Lock lk(Mu());
    carrier = D().carrier;
  }
  SendLineEvent({}, carrier, true);
}

void SetPortBusy(bool busy) {
  Lock lk(Mu());
  D().busy = busy;
}

void SetPortMissing(bool missing) {
  Lock lk(Mu());
  D().missing = missing;
}

namespace {
void EndPendingWaits() {
  if (auto p = D().port) {
    ++p->failGen;
    p->WakeWaiters();
  }
}
}  // namespace

void FailNextWaits(int n) {
  Lock lk(Mu());
  D().failWaits = std::max(0, n);
}

void FailAllWaits(bool fail) {
  Lock lk(Mu());
  D().failAllWaits = fail;
  if (fail) EndPendingWaits();  // like a pulled adapter: the pending wait fails too
}

void FailReads(bool fail) {
  Lock lk(Mu());
  D().failReads = fail;
}

int PortOpenCount() {
  Lock lk(Mu());
  return D().port ? 1 : 0;
}

int PortOpensTotal() {
  Lock lk(Mu());
  return D().opensTotal;
}

DWORD CommFlags() {
  Lock lk(Mu());
  return FlagsOf(D().dcb);
}

void SetInitialCommFlags(DWORD flags) {
  Lock lk(Mu());
  SetFlags(D().dcb, flags);
}

DWORD CommBaud() {
  Lock lk(Mu());
  return D().dcb.BaudRate;
}

DWORD CommMask() {
  Lock lk(Mu());
  return D().port ? D().port->mask : 0;
}

bool CommDtr() {
  Lock lk(Mu());
  return D().dtr;
}

bool CommRts() {
  Lock lk(Mu());
  return D().rts;
}

void UseComPath(const std::string& path) {
  Lock lk(Mu());
  D().comPathSet = !path.empty();
  D().comPath = path;
}

void MakeVirtualAllocFail(bool fail) {
  Lock lk(Mu());
  D().failAlloc = fail;
}

void MakeVirtualCopyFail(bool fail) {
  Lock lk(Mu());
  D().failCopy = fail;
}

Power PowerState() {
  Lock lk(Mu());
  ObservePower();
  return D().power;
}

std::vector<std::string> PowerWrites() {
  Lock lk(Mu());
  ObservePower();
  return D().powerWrites;
}

int AsicMappedCount() {
  Lock lk(Mu());
  return D().mapped;
}

int AsicMappedPeak() {
  Lock lk(Mu());
  return D().peak;
}

int ReservedRegions() {
  Lock lk(Mu());
  return (int)D().regions.size();
}

}  // namespace bench
