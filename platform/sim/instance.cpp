// Top-level windows shared with other processes (see instance.h).
#include "instance.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core.h"

namespace sim {
namespace {

// One posted message on the wire.
struct Packet {
  uint32_t magic;
  uint32_t msg;
  uint64_t wp;
  uint64_t lp;
};
const uint32_t kMagic = 0x42524E44;

struct Published {
  std::string path;
  int fd = -1;
};

struct Instance {
  std::mutex mu;  // taken after the platform lock, never before it
  bool on = false;
  std::string dir;
  std::map<HWND, Published> windows;
  std::vector<int> closing;  // withdrawn sockets; the receiver closes them
  int wake[2] = {-1, -1};    // tells the receiver its set of sockets changed
  bool receiver = false;
  std::map<HWND, std::string> proxies;
  uintptr_t nextProxy = 0x7F000000;
  unsigned seq = 0;
  bool atExit = false;
};

Instance& I() {
  static Instance* i = new Instance;
  return *i;
}

uint64_t Hash(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::string ClassKey(const WCHAR* cls) {
  std::wstring lower;
  for (; cls && *cls; ++cls) lower += (WCHAR)towlower(*cls);
  return Narrow(lower.c_str());
}

// The socket's name carries the identity, so that FindWindowW with only a class or only
// a title can match: <class hash>.<title hash>.<pid>.<n>.
std::string SocketName(const std::wstring& cls, const std::wstring& title, unsigned seq) {
  char buf[80];
  snprintf(buf, sizeof buf, "%016llx.%016llx.%d.%u", (unsigned long long)Hash(ClassKey(cls.c_str())),
           (unsigned long long)Hash(Narrow(title.c_str())), (int)getpid(), seq);
  return buf;
}

bool Address(const std::string& path, sockaddr_un* addr) {
  memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  memcpy(addr->sun_path, path.c_str(), path.size());
  return true;
}

// The folder, made private if new; refused when someone else owns it or anyone else
// may enter it and it cannot be closed.
bool EnsureFolder(const std::string& dir) {
  mkdir(dir.c_str(), 0700);
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
  return (st.st_mode & 077) == 0 || chmod(dir.c_str(), 0700) == 0;
}

void WakeReceiver() {
  char b = 1;
  if (I().wake[1] >= 0) (void)!write(I().wake[1], &b, 1);
}

void Deliver(int fd) {
  for (;;) {
    Packet p;
    ssize_t n = recv(fd, &p, sizeof p, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
    if (n != (ssize_t)sizeof p || p.magic != kMagic) continue;  // not ours: dropped
    HWND target = nullptr;
    {
      std::lock_guard<std::mutex> g(I().mu);
      for (auto& [hwnd, pub] : I().windows)
        if (pub.fd == fd) target = hwnd;
    }
    if (target) PostMessageW(target, p.msg, (WPARAM)p.wp, (LPARAM)p.lp);
  }
}

// Sleeps in poll() on the published sockets; not a simulated thread, so Settle never
// waits for it.
void Receiver() {
  Instance& in = I();
  for (;;) {
    std::vector<pollfd> fds;
    {
      std::lock_guard<std::mutex> g(in.mu);
      for (int fd : in.closing) close(fd);
      in.closing.clear();
      fds.push_back(pollfd{in.wake[0], POLLIN, 0});
      for (auto& [hwnd, pub] : in.windows) fds.push_back(pollfd{pub.fd, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) {
      char buf[64];
      while (read(in.wake[0], buf, sizeof buf) > 0) {
      }
    }
    for (size_t k = 1; k < fds.size(); ++k)
      if (fds[k].revents & POLLIN) Deliver(fds[k].fd);
  }
}

void WithdrawLocked(HWND hwnd) {
  Instance& in = I();
  auto it = in.windows.find(hwnd);
  if (it == in.windows.end()) return;
  unlink(it->second.path.c_str());
  in.closing.push_back(it->second.fd);
  in.windows.erase(it);
  WakeReceiver();
}

void WithdrawAllLocked() {
  while (!I().windows.empty()) WithdrawLocked(I().windows.begin()->first);
}

void WithdrawAtExit() {
  std::lock_guard<std::mutex> g(I().mu);
  for (auto& [hwnd, pub] : I().windows) unlink(pub.path.c_str());
}

const bool kResetHook = (OnReset([] {
                           std::lock_guard<std::mutex> g(I().mu);
                           WithdrawAllLocked();
                           I().proxies.clear();
                           I().on = false;
                         }),
                         true);

}  // namespace

void ShareWindowsAcrossProcesses(bool on) {
  Lock lk(Mu());
  Instance& in = I();
  std::lock_guard<std::mutex> g(in.mu);
  if (!on) {
    WithdrawAllLocked();
    in.proxies.clear();
    in.on = false;
    return;
  }
  const char* xdg = getenv("XDG_RUNTIME_DIR");
  in.dir = xdg && *xdg ? std::string(xdg) + "/brindle" : "/tmp/brindle-" + std::to_string(getuid());
  in.on = true;
  if (!in.atExit) {
    in.atExit = true;
    atexit(WithdrawAtExit);
  }
}

std::string SharedWindowFolder() {
  std::lock_guard<std::mutex> g(I().mu);
  return I().dir;
}

void PublishWindow(HWND hwnd, const std::wstring& className, const std::wstring& title) {
  Instance& in = I();
  std::lock_guard<std::mutex> g(in.mu);
  if (!in.on || in.windows.count(hwnd) || !EnsureFolder(in.dir)) return;
  std::string path = in.dir + "/" + SocketName(className, title, ++in.seq);
  sockaddr_un addr;
  if (!Address(path, &addr)) return;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  if (bind(fd, (sockaddr*)&addr, sizeof addr) != 0) {
    close(fd);
    return;
  }
  if (in.wake[0] < 0 && pipe2(in.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    in.wake[0] = in.wake[1] = -1;
    unlink(path.c_str());
    close(fd);
    return;
  }
  in.windows[hwnd] = Published{path, fd};
  if (!in.receiver) {
    in.receiver = true;
    std::thread(Receiver).detach();
  }
  WakeReceiver();
}

void RetitleWindow(HWND hwnd, const std::wstring& className, const std::wstring& title) {
  Instance& in = I();
  std::lock_guard<std::mutex> g(in.mu);
  auto it = in.windows.find(hwnd);
  if (it == in.windows.end()) return;
  // The same socket under its new name: a message on its way is not lost.
  std::string path = in.dir + "/" + SocketName(className, title, ++in.seq);
  sockaddr_un addr;
  if (Address(path, &addr) && rename(it->second.path.c_str(), path.c_str()) == 0) it->second.path = path;
}

void WithdrawWindow(HWND hwnd) {
  std::lock_guard<std::mutex> g(I().mu);
  WithdrawLocked(hwnd);
}

HWND FindSharedWindow(const WCHAR* className, const WCHAR* title) {
  Instance& in = I();
  std::lock_guard<std::mutex> g(in.mu);
  if (!in.on) return nullptr;
  DIR* d = opendir(in.dir.c_str());
  if (!d) return nullptr;
  char want[40];
  snprintf(want, sizeof want, "%016llx.%016llx", (unsigned long long)Hash(ClassKey(className)),
           (unsigned long long)Hash(title ? Narrow(title) : std::string()));
  std::string found;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    unsigned long long c, t;
    int pid;
    unsigned seq;
    if (name.size() < 37 || name[16] != '.' || name[33] != '.' ||
        sscanf(name.c_str(), "%16llx.%16llx.%d.%u", &c, &t, &pid, &seq) != 4)
      continue;
    if (pid == (int)getpid()) continue;  // ours are found as local windows
    if (className && name.compare(0, 16, want, 16) != 0) continue;
    if (title && name.compare(17, 16, want + 17, 16) != 0) continue;
    std::string path = in.dir + "/" + name;
    sockaddr_un addr;
    if (!Address(path, &addr)) continue;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    int rc = connect(fd, (sockaddr*)&addr, sizeof addr);
    int err = errno;
    close(fd);
    if (rc == 0) {
      found = path;
      break;
    }
    // Nobody bound to it: left behind by a process that died.
    if (err == ECONNREFUSED) unlink(path.c_str());
  }
  closedir(d);
  if (found.empty()) return nullptr;
  for (auto& [proxy, path] : in.proxies)
    if (path == found) return proxy;
  HWND proxy = (HWND)in.nextProxy;
  in.nextProxy += 4;
  in.proxies[proxy] = found;
  return proxy;
}

bool IsSharedWindowProxy(HWND hwnd) {
  std::lock_guard<std::mutex> g(I().mu);
  return I().proxies.count(hwnd) != 0;
}

BOOL PostToSharedWindow(HWND proxy, UINT msg, WPARAM wp, LPARAM lp) {
  std::string path;
  {
    std::lock_guard<std::mutex> g(I().mu);
    auto it = I().proxies.find(proxy);
    if (it != I().proxies.end()) path = it->second;
  }
  sockaddr_un addr;
  if (path.empty() || !Address(path, &addr)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  Packet p{kMagic, msg, (uint64_t)wp, (uint64_t)lp};
  // Never blocks: a queue that is full fails the post, as a full Windows queue does.
  ssize_t n = sendto(fd, &p, sizeof p, MSG_DONTWAIT, (sockaddr*)&addr, sizeof addr);
  int err = errno;
  close(fd);
  if (n == (ssize_t)sizeof p) return TRUE;
  if (err == EAGAIN || err == EWOULDBLOCK) {
    SetError(1816);  // ERROR_NOT_ENOUGH_QUOTA
  } else {
    if (err == ECONNREFUSED) unlink(path.c_str());
    SetError(ERROR_INVALID_WINDOW_HANDLE);
  }
  return FALSE;
}

}  // namespace sim
