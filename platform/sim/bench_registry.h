// The bench's hands on the simulated registry: set up keys and values before a run and
// look at them afterwards, without going through the program's calls (and without
// entries in the trace). Strings here are UTF-8; they are stored as the program's
// calls store them (UTF-16LE bytes for the string types). Host builds only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace bench {

// Paths are "SOFTWARE\\Corvane\\Tavlo" below one of the predefined roots; the empty
// name is the key's default value. Setting a value creates the keys on its path.
void RegCreateKey(HKEY root, const std::string& path);
void RegSetString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& value, DWORD type = REG_SZ);  // stored with its NUL
void RegSetDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
void RegSetRaw(HKEY root, const std::string& path, const std::string& name, DWORD type,
               const std::vector<uint8_t>& bytes);
bool RegDeleteKey(HKEY root, const std::string& path);  // with its subkeys
bool RegDeleteValue(HKEY root, const std::string& path, const std::string& name);

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> bytes;  // as stored
};
bool RegKeyExists(HKEY root, const std::string& path);
std::optional<RegValue> RegGet(HKEY root, const std::string& path, const std::string& name);
std::optional<DWORD> RegGetDword(HKEY root, const std::string& path, const std::string& name);
// A string value up to its first NUL, as UTF-8.
std::optional<std::string> RegGetString(HKEY root, const std::string& path, const std::string& name);

// An unavailable registry fails every call of the program (opens, creates, reads and
// writes, also on keys opened before) with `error`.
void SetRegistryAvailable(bool available, LONG error = ERROR_ACCESS_DENIED);

// Keys the program opened or created and has not closed.
int OpenRegistryKeys();

// The program's registry reads, in order (writes are in the trace):
//   RegOpenKeyEx(HKLM\Software\X, 0x20019) -> 0
//   RegQueryValueEx(HKLM\Software\X, InstalledDir, 256) -> 0
//   RegCloseKey(HKLM\Software\X)
// The size is the buffer size the program passed; "(default)" names the default value.
std::vector<std::string> RegistryReads();
// Also put those reads into the ordered trace, between the program's other calls, until
// the next bench::Reset.
void TraceRegistryReads(bool on = true);

// ---- the registry file (running as a program; tests keep the registry in memory) ----

// Loads the REGEDIT4 file at `path` (regfile.h says how values are written) in place
// of the registry's contents, and from then on writes the whole registry to it after
// every change, the program's or the bench's. A missing file is an empty registry,
// created at the first change. A file that cannot be read or parsed leaves the registry
// and the file untouched and returns false with "path:line: what" in `error`.
// "" switches the file off again; so does bench::Reset.
bool UseRegistryFile(const std::string& path, std::string* error);
// Why the last save failed ("" when it worked). A failed save keeps the change in
// memory and the program's call still succeeds; stderr gets one warning per run of
// failures.
std::string RegistryFileError();

}  // namespace bench
