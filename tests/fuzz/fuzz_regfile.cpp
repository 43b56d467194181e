// Fuzz target: any text as the registry file of a running program. The reader must
// either name a line and what is wrong with it, or give keys that the writer writes
// out and the reader reads back as they were; and the registry takes exactly the files
// the reader takes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_registry.h"
#include "platform/sim/regfile.h"

namespace {

std::string filePath;

[[noreturn]] void Trip(const char* what, const std::string& detail = std::string()) {
  std::fprintf(stderr, "fuzz_regfile: invariant broken: %s %s\n", what, detail.c_str());
  std::abort();
}

bool SameValues(const std::vector<sim::RegFileValue>& a, const std::vector<sim::RegFileValue>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].data != b[i].data) return false;
  return true;
}

bool SameKeys(const std::vector<sim::RegFileKey>& a, const std::vector<sim::RegFileKey>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].root != b[i].root || a[i].path != b[i].path || !SameValues(a[i].values, b[i].values)) return false;
  return true;
}

int Lines(const std::string& text) {
  int n = 1;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* dir = std::getenv("TMPDIR");
  filePath = std::string(dir != nullptr && *dir ? dir : "/tmp") + "/brindle_fuzz_regfile_" + std::to_string(getpid()) + ".reg";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<sim::RegFileKey> keys;
  int line = 0;
  std::string why;
  const bool parsed = sim::ParseRegFile(text, &keys, &line, &why);
  if (!parsed) {
    if (line < 1 || line > Lines(text)) Trip("a failure names a line outside the file", std::to_string(line));
    if (why.empty()) Trip("a failure says nothing about what is wrong");
    if (!keys.empty()) Trip("a failed read handed out keys");
  } else {
    // A line break cannot stand in a key line: the writer puts U+FFFD there.
    std::vector<sim::RegFileKey> expected = keys;
    for (auto& k : expected)
      for (auto& part : k.path)
        for (auto& c : part)
          if (c == L'\r' || c == L'\n') c = 0xFFFD;
    const std::string written = sim::FormatRegFile(keys);
    std::vector<sim::RegFileKey> again;
    if (!sim::ParseRegFile(written, &again, &line, &why))
      Trip("the reader refuses what the writer wrote:", std::to_string(line) + ": " + why);
    if (!SameKeys(again, expected)) Trip("keys written and read back are not the keys read");
    if (sim::FormatRegFile(again) != written) Trip("writing what was read back gives other text");
  }

  // The registry takes the file exactly when the reader does, and names the line.
  FILE* f = std::fopen(filePath.c_str(), "wb");
  if (f == nullptr) Trip("cannot write the scratch file");
  if (size != 0 && std::fwrite(data, 1, size, f) != size) Trip("cannot write the scratch file");
  std::fclose(f);
  std::string error;
  if (bench::UseRegistryFile(filePath, &error) != parsed) Trip("the registry and the reader disagree:", error);
  if (!parsed && error.rfind(filePath + ":" + std::to_string(line) + ": ", 0) != 0)
    Trip("the registry's error does not name the file and line:", error);
  bench::UseRegistryFile("", nullptr);
  std::remove(filePath.c_str());
  if (!bench::Reset()) Trip("bench::Reset failed");
  return 0;
}
