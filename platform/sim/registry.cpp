// The simulated registry (see win32_reg.h for the conventions) and its bench.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_registry.h"
#include "core.h"
#include "regfile.h"
#include "win32.h"

namespace {

struct Value {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct Node {
  std::wstring name;
  std::weak_ptr<Node> parent;
  std::string rootLabel;  // set on the roots only
  std::vector<std::shared_ptr<Node>> children;
  std::vector<Value> values;
  bool deleted = false;
};
using NodeP = std::shared_ptr<Node>;

struct OpenKey {
  NodeP node;
  std::string label;  // the path the program opened it by, for the read log
};

struct Registry {
  NodeP roots[4];
  std::map<uintptr_t, OpenKey> open;
  uintptr_t next = 0x7E000;
  bool available = true;
  LONG error = ERROR_ACCESS_DENIED;
  std::vector<std::string> reads;
  bool readsInTrace = false;
  std::string file;       // the registry file when running as a program; "" in tests
  std::string saveError;  // why the last save failed; "" after a good one
};

Registry& R() {
  static Registry* r = new Registry;
  return *r;
}

const char* const kRootLabels[4] = {"HKCR", "HKCU", "HKLM", "HKU"};

void DropAll() {
  Registry& r = R();
  for (auto& root : r.roots) {
    if (root) {
      root->children.clear();
      root->values.clear();
    }
  }
  r.open.clear();
  r.available = true;
  r.error = ERROR_ACCESS_DENIED;
  r.reads.clear();
  r.readsInTrace = false;
  r.file.clear();
  r.saveError.clear();
}

const bool kResetHook = (sim::OnReset(DropAll), true);

// ---- text -------------------------------------------------------------------------

wchar_t Fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? (wchar_t)(c - L'A' + L'a') : c; }

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

std::wstring FromAnsi(const char* s) {
  std::wstring out;
  if (s)
    for (; *s; ++s) out += (wchar_t)(unsigned char)*s;
  return out;
}

std::wstring FromWide(const WCHAR* s) { return s ? std::wstring(s) : std::wstring(); }

std::wstring FromUtf8(const std::string& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = (unsigned char)s[i];
    uint32_t cp = c;
    int more = 0;
    if (c >= 0xF0) cp = c & 0x07, more = 3;
    else if (c >= 0xE0) cp = c & 0x0F, more = 2;
    else if (c >= 0xC0) cp = c & 0x1F, more = 1;
    ++i;
    for (int k = 0; k < more && i < s.size(); ++k, ++i) cp = (cp << 6) | ((unsigned char)s[i] & 0x3F);
    out += (wchar_t)cp;
  }
  return out;
}

std::string Utf8(const std::wstring& s) { return sim::Narrow(s.c_str()); }

// UTF-16LE bytes of a wide string (characters beyond the BMP as surrogate pairs).
void AppendUtf16(std::vector<uint8_t>& out, uint32_t c) {
  auto unit = [&out](uint32_t u) {
    out.push_back((uint8_t)(u & 0xFF));
    out.push_back((uint8_t)(u >> 8));
  };
  if (c >= 0x10000 && c <= 0x10FFFF) {
    c -= 0x10000;
    unit(0xD800 | (c >> 10));
    unit(0xDC00 | (c & 0x3FF));
  } else {
    unit(c & 0xFFFF);
  }
}

std::vector<uint16_t> Units(const std::vector<uint8_t>& bytes) {
  std::vector<uint16_t> u;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) u.push_back((uint16_t)(bytes[i] | (bytes[i + 1] << 8)));
  return u;
}

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Stored bytes -> what the ANSI calls return.
std::vector<uint8_t> ToAnsi(const Value& v) {
  if (!IsString(v.type)) return v.data;
  std::vector<uint8_t> out;
  for (uint16_t u : Units(v.data)) out.push_back(u <= 0xFF ? (uint8_t)u : (uint8_t)'?');
  return out;
}

// Stored bytes -> what the wide calls return (WCHAR of this host).
std::vector<uint8_t> ToWide(const Value& v) {
  if (!IsString(v.type)) return v.data;
  std::vector<uint16_t> u = Units(v.data);
  std::vector<uint8_t> out;
  for (size_t i = 0; i < u.size(); ++i) {
    uint32_t c = u[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
      ++i;
    }
    WCHAR w = (WCHAR)c;
    const uint8_t* p = (const uint8_t*)&w;
    out.insert(out.end(), p, p + sizeof w);
  }
  return out;
}

std::vector<uint8_t> FromAnsiData(DWORD type, const BYTE* data, DWORD size) {
  std::vector<uint8_t> out;
  if (!data) return out;
  if (!IsString(type)) return std::vector<uint8_t>(data, data + size);
  for (DWORD i = 0; i < size; ++i) AppendUtf16(out, data[i]);
  return out;
}

std::vector<uint8_t> FromWideData(DWORD type, const BYTE* data, DWORD size) {
  std::vector<uint8_t> out;
  if (!data) return out;
  if (!IsString(type)) return std::vector<uint8_t>(data, data + size);
  // A trailing part of a WCHAR is dropped.
  for (DWORD i = 0; i + sizeof(WCHAR) <= size; i += sizeof(WCHAR)) {
    WCHAR w;
    memcpy(&w, data + i, sizeof w);
    AppendUtf16(out, (uint32_t)w);
  }
  return out;
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
  }
  return std::to_string(type);
}

// The stored string up to its first NUL, as UTF-8.
std::string StoredText(const std::vector<uint8_t>& bytes) {
  std::wstring w;
  std::vector<uint8_t> wide = ToWide(Value{L"", REG_SZ, bytes});
  for (size_t i = 0; i + sizeof(WCHAR) <= wide.size(); i += sizeof(WCHAR)) {
    WCHAR c;
    memcpy(&c, wide.data() + i, sizeof c);
    if (c == 0) break;
    w += c;
  }
  return Utf8(w);
}

std::string DataText(DWORD type, const std::vector<uint8_t>& bytes) {
  if (type == REG_DWORD && bytes.size() == 4) {
    DWORD v;
    memcpy(&v, bytes.data(), 4);
    return std::to_string(v);
  }
  if (IsString(type)) return "\"" + StoredText(bytes) + "\"";
  std::string out = "[";
  char b[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    snprintf(b, sizeof b, "%02X", bytes[i]);
    out += (i ? " " : "") + std::string(b);
  }
  return out + "]";
}

std::string ValueLabel(const std::wstring& name) { return name.empty() ? "(default)" : Utf8(name); }

// ---- the tree (lock held) --------------------------------------------------------

int RootIndex(HKEY key) {
  uintptr_t v = (uintptr_t)key;
  if (v >= 0x80000000u && v <= 0x80000003u) return (int)(v - 0x80000000u);
  return -1;
}

NodeP Root(int i) {
  Registry& r = R();
  if (!r.roots[i]) {
    r.roots[i] = std::make_shared<Node>();
    r.roots[i]->rootLabel = kRootLabels[i];
  }
  return r.roots[i];
}

std::string PathOf(const NodeP& n) {
  if (!n->rootLabel.empty()) return n->rootLabel;
  NodeP p = n->parent.lock();
  return (p ? PathOf(p) : std::string("?")) + "\\" + Utf8(n->name);
}

// The node behind a key handle, or an error.
NodeP Resolve(HKEY key, LONG* err, std::string* label = nullptr) {
  int root = RootIndex(key);
  if (root >= 0) {
    if (label) *label = kRootLabels[root];
    return Root(root);
  }
  auto it = R().open.find((uintptr_t)key);
  if (it == R().open.end()) {
    *err = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (it->second.node->deleted) {
    *err = ERROR_KEY_DELETED;
    return nullptr;
  }
  if (label) *label = it->second.label;
  return it->second.node;
}

std::vector<std::wstring> Split(const std::wstring& path) {
  std::vector<std::wstring> parts;
  std::wstring cur;
  for (wchar_t c : path) {
    if (c == L'\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

NodeP Child(const NodeP& n, const std::wstring& name) {
  for (auto& c : n->children)
    if (SameName(c->name, name)) return c;
  return nullptr;
}

NodeP Find(NodeP n, const std::wstring& path) {
  for (auto& part : Split(path)) {
    n = Child(n, part);
    if (!n) return nullptr;
  }
  return n;
}

NodeP Create(NodeP n, const std::wstring& path, bool* created) {
  *created = false;
  for (auto& part : Split(path)) {
    NodeP c = Child(n, part);
    if (!c) {
      c = std::make_shared<Node>();
      c->name = part;
      c->parent = n;
      n->children.push_back(c);
      *created = true;
    }
    n = c;
  }
  return n;
}

Value* FindValue(const NodeP& n, const std::wstring& name) {
  for (auto& v : n->values)
    if (SameName(v.name, name)) return &v;
  return nullptr;
}

void MarkDeleted(const NodeP& n) {
  n->deleted = true;
  for (auto& c : n->children) MarkDeleted(c);
}

void Unlink(const NodeP& n) {
  MarkDeleted(n);
  if (NodeP p = n->parent.lock()) {
    auto& ch = p->children;
    for (auto it = ch.begin(); it != ch.end(); ++it)
      if (*it == n) {
        ch.erase(it);
        break;
      }
  }
}

HKEY NewKeyHandle(const NodeP& n, const std::string& label) {
  Registry& r = R();
  uintptr_t v = r.next;
  r.next += 4;
  r.open[v] = OpenKey{n, label};
  return (HKEY)v;
}

std::string Join(const std::string& base, const std::wstring& sub) {
  return sub.empty() ? base : base + "\\" + Utf8(sub);
}

void Log(const std::string& s) {
  R().reads.push_back(s);
  if (R().readsInTrace) sim::Record(s);
}

// ---- the registry file (lock held) ------------------------------------------------

void Snapshot(const NodeP& n, int root, std::vector<std::wstring>& path, std::vector<sim::RegFileKey>& out) {
  // A root is written only for its values; every other key also when empty, so it
  // survives a restart.
  if (!path.empty() || !n->values.empty()) {
    sim::RegFileKey k;
    k.root = root;
    k.path = path;
    for (auto& v : n->values) k.values.push_back(sim::RegFileValue{v.name, v.type, v.data});
    out.push_back(std::move(k));
  }
  for (auto& c : n->children) {
    path.push_back(c->name);
    Snapshot(c, root, path, out);
    path.pop_back();
  }
}

// After every change: the whole registry to the file. A failed save leaves the
// change in memory and the call succeeds; one warning on stderr per run of failures
// (quiet until a save works again), so a full disk does not flood the console.
void Persist() {
  Registry& r = R();
  if (r.file.empty()) return;
  std::vector<sim::RegFileKey> keys;
  std::vector<std::wstring> path;
  for (int i = 0; i < 4; ++i)
    if (r.roots[i]) Snapshot(r.roots[i], i, path, keys);
  std::string error;
  if (sim::ReplaceFile(r.file, sim::FormatRegFile(keys), &error)) {
    r.saveError.clear();
    return;
  }
  if (r.saveError.empty()) fprintf(stderr, "brindle: registry not saved (changes kept in memory): %s\n", error.c_str());
  r.saveError = error;
}

// ---- the calls, shared by the ANSI and wide forms ---------------------------------

LONG OpenKeyImpl(HKEY key, const std::wstring& sub, REGSAM sam, PHKEY result) {
  sim::Lock lk(sim::Mu());
  std::string label;
  LONG err = ERROR_SUCCESS;
  NodeP base = Resolve(key, &err, &label);
  std::string path = base ? Join(label, sub) : std::string("?");
  LONG rc;
  NodeP n;
  if (!result) rc = ERROR_INVALID_PARAMETER;
  else if (!R().available) rc = R().error;
  else if (!base) rc = err;
  else if (!(n = Find(base, sub))) rc = ERROR_FILE_NOT_FOUND;
  else rc = ERROR_SUCCESS;
  if (rc == ERROR_SUCCESS) *result = NewKeyHandle(n, path);
  else if (result) *result = nullptr;
  Log("RegOpenKeyEx(" + path + ", " + sim::Hex(sam) + ") -> " + std::to_string(rc));
  return rc;
}

LONG CreateKeyImpl(HKEY key, const std::wstring& sub, PHKEY result, LPDWORD disposition) {
  sim::Lock lk(sim::Mu());
  std::string label;
  LONG err = ERROR_SUCCESS;
  NodeP base = Resolve(key, &err, &label);
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!R().available) return R().error;
  if (!base) return err;
  bool created = false;
  NodeP n = Create(base, sub, &created);
  if (created) {
    sim::Record("RegCreateKeyEx(" + PathOf(n) + ")");
    Persist();
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewKeyHandle(n, Join(label, sub));
  return ERROR_SUCCESS;
}

LONG QueryImpl(HKEY key, const std::wstring& name, LPDWORD reserved, LPDWORD type, LPBYTE data,
               LPDWORD size, bool wide) {
  sim::Lock lk(sim::Mu());
  std::string label;
  LONG err = ERROR_SUCCESS;
  NodeP n = Resolve(key, &err, &label);
  std::string given = !size ? "null" : data ? std::to_string(*size) : "size only";
  LONG rc = ERROR_SUCCESS;
  Value* v = nullptr;
  if (reserved || (data && !size)) rc = ERROR_INVALID_PARAMETER;
  else if (!R().available) rc = R().error;
  else if (!n) rc = err;
  else if (!(v = FindValue(n, name))) rc = ERROR_FILE_NOT_FOUND;
  if (rc == ERROR_SUCCESS) {
    std::vector<uint8_t> out = wide ? ToWide(*v) : ToAnsi(*v);
    if (type) *type = v->type;
    if (data && *size < out.size()) {
      rc = ERROR_MORE_DATA;
    } else if (data && !out.empty()) {
      memcpy(data, out.data(), out.size());
    }
    if (size) *size = (DWORD)out.size();
  }
  Log("RegQueryValueEx(" + (n ? label : std::string("?")) + ", " + ValueLabel(name) + ", " + given +
      ") -> " + std::to_string(rc));
  return rc;
}

LONG SetImpl(HKEY key, const std::wstring& name, DWORD reserved, DWORD type, std::vector<uint8_t> bytes,
             bool dataGiven, DWORD size) {
  sim::Lock lk(sim::Mu());
  LONG err = ERROR_SUCCESS;
  NodeP n = Resolve(key, &err);
  if (reserved || (!dataGiven && size)) return ERROR_INVALID_PARAMETER;
  if (!R().available) return R().error;
  if (!n) return err;
  Value* v = FindValue(n, name);
  if (!v) {
    n->values.push_back(Value{name, type, {}});
    v = &n->values.back();
  }
  v->type = type;
  v->data = std::move(bytes);
  sim::Record("RegSetValueEx(" + PathOf(n) + ", " + ValueLabel(name) + ", " + TypeName(type) + ", " +
              DataText(type, v->data) + ")");
  Persist();
  return ERROR_SUCCESS;
}

}  // namespace

// ---- the program's calls -----------------------------------------------------------

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM sam, PHKEY result) {
  return OpenKeyImpl(key, FromAnsi(subKey), sam, result);
}

LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM sam, PHKEY result) {
  return OpenKeyImpl(key, FromWide(subKey), sam, result);
}

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                            PHKEY result, LPDWORD disposition) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return CreateKeyImpl(key, FromAnsi(subKey), result, disposition);
}

LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                            PHKEY result, LPDWORD disposition) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return CreateKeyImpl(key, FromWide(subKey), result, disposition);
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
  return QueryImpl(key, FromAnsi(name), reserved, type, data, size, false);
}

LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
  return QueryImpl(key, FromWide(name), reserved, type, data, size, true);
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  return SetImpl(key, FromAnsi(name), reserved, type, FromAnsiData(type, data, size), data != nullptr, size);
}

LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  return SetImpl(key, FromWide(name), reserved, type, FromWideData(type, data, size), data != nullptr, size);
}

LONG WINAPI RegDeleteValueW(HKEY key, LPCWSTR name) {
  sim::Lock lk(sim::Mu());
  LONG err = ERROR_SUCCESS;
  NodeP n = Resolve(key, &err);
  if (!R().available) return R().error;
  if (!n) return err;
  std::wstring w = FromWide(name);
  for (auto it = n->values.begin(); it != n->values.end(); ++it) {
    if (SameName(it->name, w)) {
      n->values.erase(it);
      sim::Record("RegDeleteValue(" + PathOf(n) + ", " + ValueLabel(w) + ")");
      Persist();
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name) {
  std::wstring w = FromAnsi(name);
  return RegDeleteValueW(key, w.c_str());
}

LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  sim::Lock lk(sim::Mu());
  LONG err = ERROR_SUCCESS;
  NodeP base = Resolve(key, &err);
  if (!subKey) return ERROR_INVALID_PARAMETER;
  if (!R().available) return R().error;
  if (!base) return err;
  NodeP n = Find(base, subKey);
  if (!n) return ERROR_FILE_NOT_FOUND;
  if (!n->rootLabel.empty()) return ERROR_ACCESS_DENIED;
  std::string path = PathOf(n);
  Unlink(n);
  sim::Record("RegDeleteKey(" + path + ")");
  Persist();
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
  sim::Lock lk(sim::Mu());
  if (RootIndex(key) >= 0) return ERROR_SUCCESS;
  auto it = R().open.find((uintptr_t)key);
  if (it == R().open.end()) return ERROR_INVALID_HANDLE;
  Log("RegCloseKey(" + it->second.label + ")");
  R().open.erase(it);
  return ERROR_SUCCESS;
}

// ---- the bench --------------------------------------------------------------------

namespace bench {

namespace {

NodeP BenchRoot(HKEY root) {
  int i = RootIndex(root);
  return i >= 0 ? Root(i) : nullptr;
}

NodeP BenchCreate(HKEY root, const std::string& path) {
  NodeP r = BenchRoot(root);
  if (!r) return nullptr;
  bool created;
  return Create(r, FromUtf8(path), &created);
}

NodeP BenchFind(HKEY root, const std::string& path) {
  NodeP r = BenchRoot(root);
  return r ? Find(r, FromUtf8(path)) : nullptr;
}

void BenchSet(HKEY root, const std::string& path, const std::string& name, DWORD type,
              std::vector<uint8_t> bytes) {
  sim::Lock lk(sim::Mu());
  NodeP n = BenchCreate(root, path);
  if (!n) return;
  std::wstring w = FromUtf8(name);
  Value* v = FindValue(n, w);
  if (!v) {
    n->values.push_back(Value{w, type, {}});
    v = &n->values.back();
  }
  v->type = type;
  v->data = std::move(bytes);
  Persist();
}

bool ReadWholeFile(const std::string& path, std::string* text, bool* missing, std::string* error) {
  *missing = false;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    if (errno == ENOENT) {
      *missing = true;
      return true;
    }
    *error = path + ": cannot read: " + strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *error = path + ": not a regular file";
    return false;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = path + ": cannot read: " + strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    text->append(buf, (size_t)n);
  }
  close(fd);
  return true;
}

}  // namespace

bool UseRegistryFile(const std::string& path, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  error->clear();
  if (path.empty()) {
    sim::Lock lk(sim::Mu());
    R().file.clear();
    R().saveError.clear();
    return true;
  }
  std::string text;
  bool missing;
  if (!ReadWholeFile(path, &text, &missing, error)) return false;
  std::vector<sim::RegFileKey> keys;
  int line = 0;
  std::string why;
  if (!missing && !sim::ParseRegFile(text, &keys, &line, &why)) {
    *error = path + ":" + std::to_string(line) + ": " + why;
    return false;
  }
  sim::Lock lk(sim::Mu());
  Registry& r = R();
  for (int i = 0; i < 4; ++i) {
    NodeP root = Root(i);
    for (auto& c : root->children) MarkDeleted(c);
    root->children.clear();
    root->values.clear();
  }
  for (auto& k : keys) {
    NodeP n = Root(k.root);
    for (auto& part : k.path) {
      bool created;
      n = Create(n, part, &created);
    }
    for (auto& v : k.values) {
      Value* have = FindValue(n, v.name);
      if (have) *have = Value{have->name, v.type, v.data};
      else n->values.push_back(Value{v.name, v.type, v.data});
    }
  }
  // Written at the first change, not now: a missing file stays missing until then.
  r.file = path;
  r.saveError.clear();
  return true;
}

std::string RegistryFileError() {
  sim::Lock lk(sim::Mu());
  return R().saveError;
}

void RegCreateKey(HKEY root, const std::string& path) {
  sim::Lock lk(sim::Mu());
  bool before = BenchFind(root, path) != nullptr;
  BenchCreate(root, path);
  if (!before) Persist();
}

void RegSetString(HKEY root, const std::string& path, const std::string& name, const std::string& value,
                  DWORD type) {
  std::vector<uint8_t> bytes;
  for (wchar_t c : FromUtf8(value)) AppendUtf16(bytes, (uint32_t)c);
  AppendUtf16(bytes, 0);
  BenchSet(root, path, name, type, std::move(bytes));
}

void RegSetDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
  std::vector<uint8_t> bytes(4);
  memcpy(bytes.data(), &value, 4);
  BenchSet(root, path, name, REG_DWORD, std::move(bytes));
}

void RegSetRaw(HKEY root, const std::string& path, const std::string& name, DWORD type,
               const std::vector<uint8_t>& bytes) {
  BenchSet(root, path, name, type, bytes);
}

bool RegDeleteKey(HKEY root, const std::string& path) {
  sim::Lock lk(sim::Mu());
  NodeP n = BenchFind(root, path);
  if (!n || !n->rootLabel.empty()) return false;
  Unlink(n);
  Persist();
  return true;
}

bool RegDeleteValue(HKEY root, const std::string& path, const std::string& name) {
  sim::Lock lk(sim::Mu());
  NodeP n = BenchFind(root, path);
  if (!n) return false;
  std::wstring w = FromUtf8(name);
  for (auto it = n->values.begin(); it != n->values.end(); ++it) {
    if (SameName(it->name, w)) {
      n->values.erase(it);
      Persist();
      return true;
    }
  }
  return false;
}

bool RegKeyExists(HKEY root, const std::string& path) {
  sim::Lock lk(sim::Mu());
  return BenchFind(root, path) != nullptr;
}

std::optional<RegValue> RegGet(HKEY root, const std::string& path, const std::string& name) {
  sim::Lock lk(sim::Mu());
  NodeP n = BenchFind(root, path);
  if (!n) return std::nullopt;
  Value* v = FindValue(n, FromUtf8(name));
  if (!v) return std::nullopt;
  return RegValue{v->type, v->data};
}

std::optional<DWORD> RegGetDword(HKEY root, const std::string& path, const std::string& name) {
  auto v = RegGet(root, path, name);
  if (!v || v->type != REG_DWORD || v->bytes.size() != 4) return std::nullopt;
  DWORD d;
  memcpy(&d, v->bytes.data(), 4);
  return d;
}

std::optional<std::string> RegGetString(HKEY root, const std::string& path, const std::string& name) {
  auto v = RegGet(root, path, name);
  if (!v || !IsString(v->type)) return std::nullopt;
  return StoredText(v->bytes);
}

void SetRegistryAvailable(bool available, LONG error) {
  sim::Lock lk(sim::Mu());
  R().available = available;
  R().error = error;
}

int OpenRegistryKeys() {
  sim::Lock lk(sim::Mu());
  return (int)R().open.size();
}

void TraceRegistryReads(bool on) {
  sim::Lock lk(sim::Mu());
  R().readsInTrace = on;
}

std::vector<std::string> RegistryReads() {
  sim::Lock lk(sim::Mu());
  return R().reads;
}

}  // namespace bench
