// Modules and resources of the simulated handheld: LoadLibraryW maps nothing, it reads
// the PE file whole and indexes its resource tree; lookups then work on that index.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "bench_modules.h"
#include "core.h"
#include "pe.h"
#include "res_internal.h"
#include "win32.h"

namespace sim {
namespace pe {

namespace {

const uint16_t kStringType = 6;
const uint32_t kHighBit = 0x80000000u;
const size_t kMaxSections = 96;

bool InRange(uint64_t len, uint64_t off, uint64_t n) { return off <= len && n <= len - off; }

uint16_t Le16(const std::vector<uint8_t>& b, size_t off) {
  return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t off) {
  return static_cast<uint32_t>(b[off]) | (static_cast<uint32_t>(b[off + 1]) << 8) |
         (static_cast<uint32_t>(b[off + 2]) << 16) | (static_cast<uint32_t>(b[off + 3]) << 24);
}

struct Section {
  uint32_t va, raw, rawSize;
};

// The file offset of `size` bytes at `rva`, when they all lie in one section's data.
bool MapRva(const std::vector<Section>& secs, uint32_t rva, uint32_t size, uint32_t* off) {
  for (const Section& s : secs) {
    if (rva < s.va) continue;
    uint64_t into = static_cast<uint64_t>(rva) - s.va;
    if (into >= s.rawSize && !(into == s.rawSize && size == 0)) continue;
    if (!InRange(s.rawSize, into, size)) return false;
    *off = static_cast<uint32_t>(s.raw + into);
    return true;
  }
  return false;
}

// Walks the resource tree below the directory at file offset `base` (`len` bytes
// available from there). Each directory may be reached once: a tree that shares or
// loops back to a directory is refused.
class TreeReader {
 public:
  TreeReader(Image* img, const std::vector<Section>& secs, uint32_t base, uint32_t len)
      : img_(img), b_(img->bytes), secs_(secs), base_(base), len_(len) {}

  bool Run() {
    uint32_t count, first;
    if (!Dir(0, &count, &first)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      Type type;
      uint32_t sub;
      if (!Item(first + 8 * i, &type.key, &sub, true)) return false;
      uint32_t ncount, nfirst;
      if (!Dir(sub, &ncount, &nfirst)) return false;
      for (uint32_t j = 0; j < ncount; ++j) {
        Name name;
        uint32_t langDir;
        if (!Item(nfirst + 8 * j, &name.key, &langDir, true)) return false;
        uint32_t lcount, lfirst;
        if (!Dir(langDir, &lcount, &lfirst)) return false;
        name.first = img_->entries.size();
        for (uint32_t k = 0; k < lcount; ++k) {
          Key lang;
          uint32_t dataRel;
          if (!Item(lfirst + 8 * k, &lang, &dataRel, false) || !lang.isId) return false;
          Entry e;
          e.lang = lang.id;
          if (!Data(dataRel, &e)) return false;
          img_->entries.push_back(e);
        }
        name.count = lcount;
        type.names.push_back(name);
      }
      img_->types.push_back(type);
    }
    return true;
  }

 private:
  // A directory header at `rel`: how many entries follow and where (relative).
  bool Dir(uint32_t rel, uint32_t* count, uint32_t* first) {
    if (!seen_.insert(rel).second) return false;
    if (!InRange(len_, rel, 16)) return false;
    uint32_t n = static_cast<uint32_t>(Le16(b_, base_ + rel + 12)) + Le16(b_, base_ + rel + 14);
    if (!InRange(len_, rel + 16, 8ull * n)) return false;
    *count = n;
    *first = rel + 16;
    return true;
  }

  // One directory entry: its key, and where it points. Types and names point to
  // subdirectories, languages to data entries; anything else is malformed.
  bool Item(uint32_t rel, Key* key, uint32_t* target, bool wantDir) {
    uint32_t nameField = Le32(b_, base_ + rel);
    uint32_t dataField = Le32(b_, base_ + rel + 4);
    if (nameField & kHighBit) {
      uint32_t off = nameField & ~kHighBit;
      if (!InRange(len_, off, 2)) return false;
      uint16_t n = Le16(b_, base_ + off);
      if (!InRange(len_, off + 2ull, 2ull * n)) return false;
      key->isId = false;
      key->name.clear();
      for (uint16_t i = 0; i < n; ++i) key->name.push_back(Upper(Le16(b_, base_ + off + 2 + 2 * i)));
    } else {
      if (nameField > 0xFFFF) return false;
      key->isId = true;
      key->id = static_cast<uint16_t>(nameField);
    }
    if (((dataField & kHighBit) != 0) != wantDir) return false;
    *target = dataField & ~kHighBit;
    return true;
  }

  bool Data(uint32_t rel, Entry* e) {
    if (!InRange(len_, rel, 16)) return false;
    uint32_t rva = Le32(b_, base_ + rel);
    e->size = Le32(b_, base_ + rel + 4);
    return MapRva(secs_, rva, e->size, &e->offset);
  }

  Image* img_;
  const std::vector<uint8_t>& b_;
  const std::vector<Section>& secs_;
  uint32_t base_, len_;
  std::set<uint32_t> seen_;
};

// A string block is up to 16 counted UTF-16 strings; a count running past the end
// of the block makes the file unusable.
bool StringBlockOk(const Image& img, const Entry& e) {
  uint64_t pos = 0;
  for (int i = 0; i < 16 && pos < e.size; ++i) {
    if (!InRange(e.size, pos, 2)) return false;
    uint16_t n = Le16(img.bytes, e.offset + pos);
    if (!InRange(e.size, pos + 2, 2ull * n)) return false;
    pos += 2 + 2ull * n;
  }
  return true;
}

}  // namespace

bool operator==(const Key& a, const Key& b) {
  if (a.isId != b.isId) return false;
  return a.isId ? a.id == b.id : a.name == b.name;
}

char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
  if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF)) return c;
  wint_t u = towupper(static_cast<wint_t>(c));
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

bool Parse(std::vector<uint8_t> bytes, Image* out) {
  Image img;
  img.bytes = std::move(bytes);
  const std::vector<uint8_t>& b = img.bytes;
  const uint64_t n = b.size();

  if (n < 64 || b[0] != 'M' || b[1] != 'Z') return false;
  uint32_t pe = Le32(b, 0x3C);
  if (!InRange(n, pe, 24) || std::memcmp(&b[pe], "PE\0\0", 4) != 0) return false;
  uint16_t nsec = Le16(b, pe + 6);
  uint16_t optSize = Le16(b, pe + 20);
  uint64_t opt = pe + 24ull;
  if (!InRange(n, opt, optSize) || optSize < 2) return false;

  uint16_t magic = Le16(b, opt);
  uint32_t countAt, dirsAt;
  if (magic == 0x10B) {
    countAt = 92;
    dirsAt = 96;
  } else if (magic == 0x20B) {
    countAt = 108;
    dirsAt = 112;
  } else {
    return false;
  }
  if (optSize < countAt + 4) return false;
  uint32_t ndirs = Le32(b, opt + countAt);
  if (ndirs > 16 || optSize < dirsAt + 8ull * ndirs) return false;
  uint32_t rsrcRva = 0, rsrcSize = 0;
  if (ndirs > 2) {
    rsrcRva = Le32(b, opt + dirsAt + 16);
    rsrcSize = Le32(b, opt + dirsAt + 20);
  }

  uint64_t table = opt + optSize;
  if (nsec == 0 || nsec > kMaxSections || !InRange(n, table, 40ull * nsec)) return false;
  std::vector<Section> secs;
  for (uint16_t i = 0; i < nsec; ++i) {
    uint64_t s = table + 40ull * i;
    Section sec{Le32(b, s + 12), Le32(b, s + 20), Le32(b, s + 16)};
    if (sec.rawSize == 0) sec.raw = 0;  // no data in the file: never an offset into it
    if (!InRange(n, sec.raw, sec.rawSize)) return false;
    secs.push_back(sec);
  }

  if (rsrcRva != 0 && rsrcSize != 0) {
    uint32_t base;
    if (!MapRva(secs, rsrcRva, 16, &base)) return false;
    // The tree may use everything up to the end of its section's data.
    uint32_t len = 0;
    for (const Section& s : secs)
      if (base >= s.raw && base < static_cast<uint64_t>(s.raw) + s.rawSize) len = s.raw + s.rawSize - base;
    img.hasResources = true;
    TreeReader reader(&img, secs, base, len);
    if (!reader.Run()) return false;
    for (const Type& t : img.types) {
      if (!t.key.isId || t.key.id != kStringType) continue;
      for (const Name& nm : t.names)
        for (size_t i = 0; i < nm.count; ++i)
          if (!StringBlockOk(img, img.entries[nm.first + i])) return false;
    }
  }
  *out = std::move(img);
  return true;
}

const Entry* PickLanguage(const Image& img, const Name& name) {
  if (name.count == 0) return nullptr;
  const Entry* first = &img.entries[name.first];
  const uint16_t wanted[] = {0x0000, 0x0409, 0x0400, 0x0800};
  for (uint16_t lang : wanted)
    for (size_t i = 0; i < name.count; ++i)
      if (first[i].lang == lang) return &first[i];
  for (size_t i = 0; i < name.count; ++i)
    if ((first[i].lang & 0x3FF) == 0x09) return &first[i];
  return first;
}

}  // namespace pe

namespace {

using ImagePtr = std::shared_ptr<const pe::Image>;

struct Module {
  std::string path;      // as found, for GetModuleHandleW by name
  std::string realPath;  // identity: a second load of the same file shares the module
  int refs = 0;
  ImagePtr img;
};

const uintptr_t kProgramHandle = 0x00010000;  // where the handheld loads programs
const uintptr_t kFirstModule = 0x10000000;
const size_t kMaxFileSize = 64u << 20;

// Guards the tables below; nothing else of the sim is called while it is held.
std::mutex& ResMu() {
  static std::mutex mu;
  return mu;
}
std::map<uintptr_t, Module>& Modules() {
  static std::map<uintptr_t, Module> m;
  return m;
}
uintptr_t nextHandle = kFirstModule;
ImagePtr programImage;
std::wstring programFile;
std::vector<ImagePtr> retiredProgramImages;  // data handed out must outlive a replacement

HMODULE ToHandle(uintptr_t v) { return reinterpret_cast<HMODULE>(v); }

// The image behind a module handle (nullptr: the program). False for a handle that
// names no module; *img stays null for the program without resources.
bool ImageOf(HMODULE module, ImagePtr* img) {
  std::lock_guard<std::mutex> lk(ResMu());
  uintptr_t h = reinterpret_cast<uintptr_t>(module);
  if (module == nullptr || h == kProgramHandle) {
    *img = programImage;
    return true;
  }
  auto it = Modules().find(h);
  if (it == Modules().end()) return false;
  *img = it->second.img;
  return true;
}

bool Utf8(LPCWSTR s, std::string* out) {
  out->clear();
  for (; *s; ++s) {
    uint32_t c = static_cast<uint32_t>(*s);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (c >> 12)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (c >> 18)));
      out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Module names as Windows reads them: backslashes are separators, and a name
// without an extension means a .dll (a trailing dot means "no extension").
std::string ModuleFileName(LPCWSTR name, bool* ok) {
  std::string s;
  *ok = name != nullptr && *name != 0 && Utf8(name, &s);
  if (!*ok) return s;
  for (char& c : s)
    if (c == '\\') c = '/';
  std::string base = BaseName(s);
  if (base.empty()) {
    *ok = false;
  } else if (base.back() == '.') {
    s.pop_back();
  } else if (base.find('.') == std::string::npos) {
    s += ".dll";
  }
  return s;
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// dir/base, or the entry of dir whose name matches base without regard to case.
bool FindIn(const std::string& dir, const std::string& base, std::string* found) {
  std::string exact = dir.empty() ? base : dir + "/" + base;
  if (IsFile(exact)) {
    *found = exact;
    return true;
  }
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return false;
  std::string want = UpperAscii(base);
  bool hit = false;
  while (dirent* e = readdir(d)) {
    if (UpperAscii(e->d_name) != want) continue;
    std::string path = dir.empty() ? std::string(e->d_name) : dir + "/" + e->d_name;
    if (IsFile(path)) {
      *found = path;
      hit = true;
      break;
    }
  }
  closedir(d);
  return hit;
}

std::string ExeDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string p(buf, static_cast<size_t>(n));
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash == 0 ? 1 : slash);
}

std::mutex& PlacedMu() {
  static std::mutex* mu = new std::mutex;
  return *mu;
}

// Bare library names a test has placed (upper case -> host path, "" = missing).
std::map<std::string, std::string>& Placed() {
  static auto* placed = new std::map<std::string, std::string>;
  return *placed;
}
const bool kPlacedResetHook = (OnReset([] {
                                 std::lock_guard<std::mutex> lk(PlacedMu());
                                 Placed().clear();
                               }),
                               true);

// A path with a separator is taken as given; a bare name is looked for beside the
// running program, then in the current directory.
bool Locate(const std::string& name, std::string* found) {
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) return FindIn(name.substr(0, slash == 0 ? 1 : slash), name.substr(slash + 1), found);
  {
    std::lock_guard<std::mutex> lk(PlacedMu());
    auto it = Placed().find(UpperAscii(name));
    if (it != Placed().end()) {
      *found = it->second;
      return !it->second.empty() && IsFile(it->second);
    }
  }
  std::string exeDir = ExeDir();
  if (!exeDir.empty() && FindIn(exeDir, name, found)) return true;
  return FindIn("", name, found);
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* out, DWORD* err) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *err = ERROR_MOD_NOT_FOUND;
    return false;
  }
  out->clear();
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (out->size() + got > kMaxFileSize) {
      std::fclose(f);
      *err = ERROR_BAD_EXE_FORMAT;
      return false;
    }
    out->insert(out->end(), chunk, chunk + got);
  }
  bool readErr = std::ferror(f) != 0;
  std::fclose(f);
  if (readErr) {
    *err = ERROR_MOD_NOT_FOUND;
    return false;
  }
  return true;
}

// Finds and parses a file; on failure *err says why.
bool OpenImage(LPCWSTR name, std::string* path, std::string* realPath, ImagePtr* img, DWORD* err) {
  bool ok;
  std::string file = ModuleFileName(name, &ok);
  if (!ok) {
    *err = name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_MOD_NOT_FOUND;
    return false;
  }
  if (!Locate(file, path)) {
    *err = ERROR_MOD_NOT_FOUND;
    return false;
  }
  char* rp = realpath(path->c_str(), nullptr);
  if (rp == nullptr) {
    *err = ERROR_MOD_NOT_FOUND;
    return false;
  }
  *realPath = rp;
  std::free(rp);
  std::vector<uint8_t> bytes;
  if (!ReadWhole(*realPath, &bytes, err)) return false;
  bytes.shrink_to_fit();  // so that a stray read past the end is caught by ASan
  auto parsed = std::make_shared<pe::Image>();
  if (!pe::Parse(std::move(bytes), parsed.get())) {
    *err = ERROR_BAD_EXE_FORMAT;
    return false;
  }
  *img = parsed;
  return true;
}

// A resource type or name argument as a key: an integer id, "#123", or a string.
pe::Key KeyOf(LPCWSTR s) {
  pe::Key k;
  if (IS_INTRESOURCE(s)) {
    k.isId = true;
    k.id = static_cast<uint16_t>(reinterpret_cast<uintptr_t>(s));
    return k;
  }
  if (s[0] == L'#' && s[1] != 0) {
    uint32_t v = 0;
    const WCHAR* p = s + 1;
    while (*p >= L'0' && *p <= L'9' && v <= 0xFFFF) v = v * 10 + static_cast<uint32_t>(*p++ - L'0');
    if (*p == 0 && v <= 0xFFFF) {
      k.isId = true;
      k.id = static_cast<uint16_t>(v);
      return k;
    }
  }
  k.isId = false;
  for (const WCHAR* p = s; *p; ++p) {
    uint32_t c = static_cast<uint32_t>(*p);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      k.name.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      k.name.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      // Beyond Unicode cannot match any stored name; keep it unmatchable.
      k.name.push_back(c > 0x10FFFF ? u'\xFFFF' : pe::Upper(static_cast<char16_t>(c)));
    }
  }
  return k;
}

// The entry FindResourceW would return; null with *err set when there is none.
const pe::Entry* Lookup(const pe::Image* img, const pe::Key& type, const pe::Key& name, DWORD* err) {
  if (img == nullptr || !img->hasResources) {
    *err = ERROR_RESOURCE_DATA_NOT_FOUND;
    return nullptr;
  }
  for (const pe::Type& t : img->types) {
    if (!(t.key == type)) continue;
    for (const pe::Name& n : t.names) {
      if (!(n.key == name)) continue;
      const pe::Entry* e = pe::PickLanguage(*img, n);
      if (e != nullptr) return e;
    }
    *err = ERROR_RESOURCE_NAME_NOT_FOUND;
    return nullptr;
  }
  *err = ERROR_RESOURCE_TYPE_NOT_FOUND;
  return nullptr;
}

// The image that holds an HRSRC, whichever module it came from.
const pe::Entry* OwnedEntry(HRSRC res, ImagePtr* owner) {
  uintptr_t p = reinterpret_cast<uintptr_t>(res);
  auto owns = [p](const ImagePtr& img) {
    if (!img || img->entries.empty()) return false;
    uintptr_t lo = reinterpret_cast<uintptr_t>(img->entries.data());
    uintptr_t hi = lo + img->entries.size() * sizeof(pe::Entry);
    return p >= lo && p < hi && (p - lo) % sizeof(pe::Entry) == 0;
  };
  std::lock_guard<std::mutex> lk(ResMu());
  if (owns(programImage)) {
    *owner = programImage;
    return reinterpret_cast<const pe::Entry*>(res);
  }
  for (auto& m : Modules()) {
    if (owns(m.second.img)) {
      *owner = m.second.img;
      return reinterpret_cast<const pe::Entry*>(res);
    }
  }
  return nullptr;
}

bool ModuleArgOk(HMODULE module) {
  ImagePtr unused;
  return ImageOf(module, &unused);
}

}  // namespace

bool ResourceData(HMODULE module, LPCWSTR type, LPCWSTR name, const uint8_t** data, DWORD* size) {
  ImagePtr img;
  if (!ImageOf(module, &img)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD err = 0;
  const pe::Entry* e = Lookup(img.get(), KeyOf(type), KeyOf(name), &err);
  if (e == nullptr) {
    SetLastError(err);
    return false;
  }
  *data = img->bytes.data() + e->offset;
  *size = e->size;
  return true;
}

bool ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, std::vector<uint8_t>* out) {
  const uint8_t* data;
  DWORD size;
  if (!ResourceData(module, type, name, &data, &size)) return false;
  out->assign(data, data + size);
  return true;
}

bool ResourceEnd(const void* p, const uint8_t** end) {
  const uint8_t* at = static_cast<const uint8_t*>(p);
  auto within = [at, end](const ImagePtr& img) {
    if (!img || img->bytes.empty() || at < img->bytes.data() || at >= img->bytes.data() + img->bytes.size())
      return false;
    const uint8_t* base = img->bytes.data();
    *end = base + img->bytes.size();  // in the file but in no resource: the file bounds it
    for (const pe::Entry& e : img->entries)
      if (at >= base + e.offset && at < base + e.offset + e.size) *end = base + e.offset + e.size;
    return true;
  };
  std::lock_guard<std::mutex> lk(ResMu());
  if (within(programImage)) return true;
  for (const ImagePtr& img : retiredProgramImages)
    if (within(img)) return true;
  for (const auto& m : Modules())
    if (within(m.second.img)) return true;
  return false;
}

bool SetProgramResources(LPCWSTR file) {
  ImagePtr img;
  if (file != nullptr) {
    std::string path, realPath;
    DWORD err = 0;
    if (!OpenImage(file, &path, &realPath, &img, &err)) {
      SetLastError(err);
      return false;
    }
  }
  std::lock_guard<std::mutex> lk(ResMu());
  if (programImage) retiredProgramImages.push_back(programImage);
  programImage = img;
  programFile = file != nullptr ? file : L"";
  return true;
}

std::wstring ProgramResources() {
  std::lock_guard<std::mutex> lk(ResMu());
  return programFile;
}

HMODULE ProgramModule() { return ToHandle(kProgramHandle); }

int LoadedModules() {
  std::lock_guard<std::mutex> lk(ResMu());
  return static_cast<int>(Modules().size());
}

}  // namespace sim

using sim::ImagePtr;

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
  std::string path, realPath;
  ImagePtr img;
  DWORD err = 0;
  std::string label = name ? sim::Narrow(name) : std::string("(null)");
  if (!sim::OpenImage(name, &path, &realPath, &img, &err)) {
    sim::Record("LoadLibrary(" + label + ") -> " + std::to_string(err));
    SetLastError(err);
    return nullptr;
  }
  sim::Record("LoadLibrary(" + label + ")");
  std::lock_guard<std::mutex> lk(sim::ResMu());
  for (auto& m : sim::Modules()) {
    if (m.second.realPath == realPath) {
      ++m.second.refs;
      return sim::ToHandle(m.first);
    }
  }
  uintptr_t h = sim::nextHandle;
  sim::nextHandle += 0x10000;
  sim::Module& m = sim::Modules()[h];
  m.path = path;
  m.realPath = realPath;
  m.refs = 1;
  m.img = img;
  return sim::ToHandle(h);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  uintptr_t h = reinterpret_cast<uintptr_t>(module);
  bool unloaded = false;
  {
    std::lock_guard<std::mutex> lk(sim::ResMu());
    if (h == sim::kProgramHandle) return TRUE;  // the program is never unloaded
    auto it = sim::Modules().find(h);
    if (it == sim::Modules().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    sim::Record("FreeLibrary(" + sim::BaseName(it->second.path) + ")");
    if (--it->second.refs == 0) {
      sim::Modules().erase(it);
      unloaded = true;
    }
  }
  // Outside the resource lock: the icon cache takes the platform lock, which is held
  // around resource reads elsewhere.
  if (unloaded) sim::ModuleUnloaded(module);
  return TRUE;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
  if (name == nullptr) return sim::ToHandle(sim::kProgramHandle);
  bool ok;
  std::string file = sim::ModuleFileName(name, &ok);
  if (ok) {
    bool byPath = file.find('/') != std::string::npos;
    std::string want;
    if (byPath) {
      char* rp = realpath(file.c_str(), nullptr);
      if (rp != nullptr) {
        want = rp;
        std::free(rp);
      }
    } else {
      want = sim::UpperAscii(file);
    }
    std::lock_guard<std::mutex> lk(sim::ResMu());
    for (auto& m : sim::Modules()) {
      const std::string& have = byPath ? m.second.realPath : sim::UpperAscii(sim::BaseName(m.second.path));
      if (!want.empty() && have == want) return sim::ToHandle(m.first);
    }
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

int WINAPI LoadStringW(HINSTANCE inst, UINT id, LPWSTR buf, int max) {
  if (max <= 0) return 0;  // the read-only pointer form is not offered
  if (buf == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buf[0] = 0;
  ImagePtr img;
  if (!sim::ImageOf(inst, &img)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (id > 0xFFFF) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  DWORD err = 0;
  const sim::pe::Entry* e =
      sim::Lookup(img.get(), sim::KeyOf(RT_STRING), sim::KeyOf(MAKEINTRESOURCEW((id >> 4) + 1)), &err);
  if (e == nullptr) {
    SetLastError(err);
    return 0;
  }
  // Step over the strings before ours; every count was checked against the block
  // when the file was loaded, and is checked again here.
  const uint8_t* p = img->bytes.data() + e->offset;
  uint64_t left = e->size;
  uint16_t len = 0;
  for (UINT i = 0; i <= (id & 15); ++i) {
    if (left < 2) {
      len = 0;
      break;
    }
    len = static_cast<uint16_t>(p[0] | (p[1] << 8));
    if (left - 2 < 2ull * len) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return 0;
    }
    if (i < (id & 15)) {
      p += 2 + 2ull * len;
      left -= 2 + 2ull * len;
    } else {
      p += 2;
    }
  }
  if (len == 0) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  // Widen: a surrogate pair becomes one character; a lone surrogate stays as it is.
  int count = 0;
  for (uint16_t i = 0; i < len && count < max - 1;) {
    uint32_t c = static_cast<uint32_t>(p[2 * i] | (p[2 * i + 1] << 8));
    ++i;
    if (c >= 0xD800 && c <= 0xDBFF && i < len) {
      uint32_t lo = static_cast<uint32_t>(p[2 * i] | (p[2 * i + 1] << 8));
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    buf[count++] = static_cast<WCHAR>(c);
  }
  buf[count] = 0;
  return count;
}

HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  ImagePtr img;
  if (!sim::ImageOf(module, &img)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  DWORD err = 0;
  const sim::pe::Entry* e = sim::Lookup(img.get(), sim::KeyOf(type), sim::KeyOf(name), &err);
  if (e == nullptr) {
    SetLastError(err);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<sim::pe::Entry*>(e));
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC res) {
  ImagePtr owner;
  const sim::pe::Entry* e = res == nullptr ? nullptr : sim::OwnedEntry(res, &owner);
  if (e == nullptr || !sim::ModuleArgOk(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<uint8_t*>(owner->bytes.data() + e->offset);
}

LPVOID WINAPI LockResource(HGLOBAL res) { return res; }

DWORD WINAPI SizeofResource(HMODULE module, HRSRC res) {
  ImagePtr owner;
  const sim::pe::Entry* e = res == nullptr ? nullptr : sim::OwnedEntry(res, &owner);
  if (e == nullptr || !sim::ModuleArgOk(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return e->size;
}

namespace bench {
void PlaceLibrary(const std::string& name, const std::string& path) {
  bool ok;
  std::wstring wide(name.begin(), name.end());
  std::string file = sim::ModuleFileName(wide.c_str(), &ok);
  if (!ok) return;
  // A bare file name lies beside the program.
  std::string where = path.empty() || path.find('/') != std::string::npos ? path : sim::ExeDir() + "/" + path;
  std::lock_guard<std::mutex> lk(sim::PlacedMu());
  sim::Placed()[sim::UpperAscii(file)] = where;
}
}  // namespace bench
