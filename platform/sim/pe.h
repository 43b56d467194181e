// A reader for PE image files (DLLs and programs) and their resource tree: the
// simulated handheld loads resource libraries from the very files the Windows build
// ships. Parse checks every offset against the file, so any file, however damaged,
// gives either a complete index or a refusal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {
namespace pe {

// A resource type or name: a 16-bit id, or a string kept in upper case (UTF-16)
// because resource names compare without regard to case.
struct Key {
  bool isId = true;
  uint16_t id = 0;
  std::u16string name;
};
bool operator==(const Key& a, const Key& b);

// One language variant of a resource: where its bytes lie in the file.
struct Entry {
  uint16_t lang = 0;
  uint32_t offset = 0;  // file offset
  uint32_t size = 0;
};

struct Name {
  Key key;
  size_t first = 0;  // index of its first entry in Image::entries
  size_t count = 0;
};

struct Type {
  Key key;
  std::vector<Name> names;
};

struct Image {
  std::vector<uint8_t> bytes;   // the whole file
  bool hasResources = false;    // a resource directory is present
  std::vector<Type> types;
  std::vector<Entry> entries;   // never changes after Parse: Entry addresses are stable
};

// Parses a whole file into *out. False when it is not a PE image or anything in it
// (headers, section table, resource tree, string blocks) is out of bounds or malformed.
bool Parse(std::vector<uint8_t> bytes, Image* out);

// The variant a lookup uses: neutral first, then US English, then any English, then
// the first there is. Null when the name has no entries.
const Entry* PickLanguage(const Image& img, const Name& name);

// Upper-cases one UTF-16 unit the way names are compared.
char16_t Upper(char16_t c);

}  // namespace pe
}  // namespace sim
