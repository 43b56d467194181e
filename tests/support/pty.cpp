#include "tests/support/pty.h"

#include <errno.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

namespace support {

bool Pty::Open() {
  Close();
  char buf[256];
  if (openpty(&master, &slave, buf, nullptr, nullptr) != 0) {
    master = slave = -1;
    return false;
  }
  name = buf;
  return true;
}

void Pty::Close() {
  if (master >= 0) close(master);
  if (slave >= 0) close(slave);
  master = slave = -1;
  name.clear();
}

bool Pty::Write(const uint8_t* bytes, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t w = write(master, bytes + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace support
