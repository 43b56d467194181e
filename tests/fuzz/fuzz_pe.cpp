// Fuzz target: any file given to LoadLibraryW on the simulated handheld, then every
// resource call the program makes on it. Each byte of each resource handed out is
// read, so a view reaching past the file is caught by AddressSanitizer.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/res_internal.h"

namespace {

std::string filePath;
std::wstring fileName;

[[noreturn]] void Trip(const char* what, unsigned a = 0, unsigned b = 0) {
  std::fprintf(stderr, "fuzz_pe: invariant broken: %s (%u, %u)\n", what, a, b);
  std::abort();
}

volatile uint8_t sink;

void Touch(const void* p, DWORD size) {
  const volatile uint8_t* b = static_cast<const volatile uint8_t*>(p);
  uint8_t sum = 0;
  for (DWORD i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + b[i]);
  sink = sum;
}

void Strings(HMODULE h) {
  const UINT ids[] = {0, 1, 2, 3, 4, 5, 11, 12, 15, 16, 17, 30, 31, 100, 255, 0xFFFF, 0x10000};
  const int sizes[] = {0, 1, 2, 260};
  for (UINT id : ids) {
    for (int max : sizes) {
      // Exactly as long as it says, so a write past it is caught.
      std::vector<WCHAR> buf(max > 0 ? static_cast<size_t>(max) : 1, L'x');
      int n = LoadStringW(h, id, buf.data(), max);
      if (max == 0) {
        if (n != 0) Trip("LoadStringW with no room returned characters", id, static_cast<unsigned>(n));
        continue;
      }
      if (n < 0 || n >= max) Trip("LoadStringW returned more than fits", id, static_cast<unsigned>(n));
      if (buf[static_cast<size_t>(n)] != 0) Trip("LoadStringW left the string unterminated", id, static_cast<unsigned>(n));
    }
  }
}

void Resources(HMODULE h) {
  // The program's types and ids, and those of the test library in the corpus.
  const LPCWSTR types[] = {RT_STRING, RT_MENU, RT_DIALOG, RT_BITMAP, RT_GROUP_ICON, RT_ICON, RT_RCDATA, L"BrindleData"};
  const WORD ids[] = {1, 2, 3, 7, 101, 104, 108, 111, 131, 145, 148, 149, 200, 201, 0xFFFF};
  std::vector<LPCWSTR> names;
  for (WORD id : ids) names.push_back(MAKEINTRESOURCEW(id));
  names.push_back(L"BRINDLE");
  names.push_back(L"Pattern");
  names.push_back(L"#101");
  for (LPCWSTR type : types) {
    for (LPCWSTR name : names) {
      HRSRC r = FindResourceW(h, name, type);
      if (r == nullptr) continue;
      HGLOBAL g = LoadResource(h, r);
      if (g == nullptr) Trip("LoadResource failed on a found resource");
      const void* p = LockResource(g);
      DWORD size = SizeofResource(h, r);
      if (p == nullptr && size != 0) Trip("LockResource gave no data for a resource of size", size);
      Touch(p, size);
    }
  }
}

void Icons(HMODULE h) {
  const WORD ids[] = {1, 108, 111, 112, 113, 145, 151, 152};
  for (WORD id : ids) LoadIconW(h, MAKEINTRESOURCEW(id));
  LoadIconW(h, L"BRINDLE");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* dir = std::getenv("TMPDIR");
  filePath = std::string(dir != nullptr && *dir ? dir : "/tmp") + "/brindle_fuzz_pe_" + std::to_string(getpid()) + ".dll";
  fileName.assign(filePath.begin(), filePath.end());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(filePath.c_str(), "wb");
  if (f == nullptr) Trip("cannot write the scratch file");
  if (size != 0 && std::fwrite(data, 1, size, f) != size) Trip("cannot write the scratch file");
  std::fclose(f);

  HMODULE h = LoadLibraryW(fileName.c_str());
  if (h != nullptr) {
    Strings(h);
    Resources(h);
    Icons(h);
    if (!FreeLibrary(h)) Trip("FreeLibrary refused the module");
  }
  if (sim::LoadedModules() != 0) Trip("a module stayed loaded", static_cast<unsigned>(sim::LoadedModules()));
  std::remove(filePath.c_str());
  if (!bench::Reset()) Trip("bench::Reset failed");
  return 0;
}
