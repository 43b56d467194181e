// The registry file of a running program: a REGEDIT4 text file, read at start and
// rewritten whole after every change. The registry's tree goes in and out as a flat
// list of keys, in the order they appear in the file.
//
// How values are written:
//   REG_DWORD of 4 bytes          "name"=dword:000001f4
//   REG_SZ that is plain text     "name"="text"   (with \\ and \" the only escapes)
//   anything else                 "name"=hex(N):.. / hex:.. for REG_BINARY, the stored
//                                 bytes as they are (UTF-16LE for the string types)
// The format is 8-bit: text between quotes (names, REG_SZ data) is UTF-8. A REG_SZ is
// plain text when it is well-formed UTF-16 ending in its one NUL; otherwise hex(1).
// On reading, a byte that cannot start a UTF-8 sequence is taken as Latin-1, so a
// file written in the Western code page still loads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "win32.h"

namespace sim {

struct RegFileValue {
  std::wstring name;  // empty: the key's default value (@=)
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct RegFileKey {
  int root = 0;  // 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE, 3 HKEY_USERS
  std::vector<std::wstring> path;  // below the root
  std::vector<RegFileValue> values;
};

// The file's text -> keys. On a malformed file returns false with the 1-based line
// and what is wrong with it.
bool ParseRegFile(const std::string& text, std::vector<RegFileKey>* keys, int* line, std::string* why);
std::string FormatRegFile(const std::vector<RegFileKey>& keys);

// Writes `text` to a temporary file beside `path` and renames it over `path`, so the
// file is always either the old one or the new one. On failure nothing is left behind.
bool ReplaceFile(const std::string& path, const std::string& text, std::string* error);

}  // namespace sim
