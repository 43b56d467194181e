// The keyboard's line as a pseudo-terminal: the program opens the far end by its name,
// a test or a tool writes key bytes into the near one. Shared by tests and tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace support {

struct Pty {
  int master = -1;  // where key bytes are written
  int slave = -1;   // held open so the terminal outlives the program's own opening
  std::string name;

  Pty() = default;
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  ~Pty() { Close(); }

  // False (errno set) when no pair could be made.
  bool Open();
  void Close();
  // All of it, through interruptions; false when the terminal stops taking bytes.
  bool Write(const uint8_t* bytes, size_t n);
  bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
};

// User and system time this process has used, in seconds.
double CpuSeconds();

}  // namespace support
