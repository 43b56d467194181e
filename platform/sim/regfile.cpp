// The registry file: REGEDIT4 text in and out (see regfile.h for how values are written).
#include "regfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core.h"

namespace sim {
namespace {

const char* const kRootNames[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                   "HKEY_USERS"};

// ---- text ---------------------------------------------------------------------

// UTF-8 of one character. Lone surrogates are encoded like any other code point, so a
// name the program gave round-trips; beyond U+10FFFF nothing exists in UTF-16, so the
// handheld could never hold it: written as U+FFFD.
void PutUtf8(std::string& out, uint32_t c) { AppendUtf8(out, c > 0x10FFFF ? 0xFFFD : c); }

// One character from UTF-8 at s[i], advancing i.
uint32_t GetUtf8(const std::string& s, size_t& i) {
  unsigned char c = (unsigned char)s[i];
  int more = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xC2 && c <= 0xDF ? 1 : 0;
  uint32_t cp = more == 3 ? c & 0x07 : more == 2 ? c & 0x0F : c & 0x1F;
  if (more == 0 || i + more >= s.size()) {
    ++i;
    return c;  // ASCII, or a byte of the Western code page
  }
  for (int k = 1; k <= more; ++k) {
    unsigned char b = (unsigned char)s[i + k];
    if ((b & 0xC0) != 0x80) {
      ++i;
      return c;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  // Overlong forms are not UTF-8; take the lead byte alone.
  if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
    ++i;
    return c;
  }
  i += more + 1;
  return cp;
}

std::wstring WideFromUtf8(const std::string& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size();) out += (wchar_t)GetUtf8(s, i);
  return out;
}

std::string Utf8FromWide(const std::wstring& w) {
  std::string out;
  for (wchar_t c : w) PutUtf8(out, (uint32_t)c);
  return out;
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// REG_SZ bytes -> the text between quotes, when the value is exactly that text and
// its terminating NUL.
bool PlainText(const std::vector<uint8_t>& data, std::string* text) {
  if (data.size() < 2 || data.size() % 2) return false;
  size_t n = data.size() / 2;
  auto unit = [&data](size_t k) { return (uint32_t)(data[2 * k] | (data[2 * k + 1] << 8)); };
  if (unit(n - 1) != 0) return false;
  text->clear();
  for (size_t k = 0; k + 1 < n; ++k) {
    uint32_t u = unit(k);
    if (u == 0 || (u >= 0xDC00 && u < 0xE000)) return false;
    if (u >= 0xD800 && u < 0xDC00) {
      if (k + 2 >= n) return false;
      uint32_t lo = unit(k + 1);
      if (lo < 0xDC00 || lo >= 0xE000) return false;
      u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
      ++k;
    }
    PutUtf8(*text, u);
  }
  return true;
}

void Utf16Of(const std::string& text, std::vector<uint8_t>* out) {
  auto unit = [out](uint32_t u) {
    out->push_back((uint8_t)(u & 0xFF));
    out->push_back((uint8_t)(u >> 8));
  };
  for (size_t i = 0; i < text.size();) {
    uint32_t c = GetUtf8(text, i);
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xD800 | (c >> 10));
      unit(0xDC00 | (c & 0x3FF));
    } else {
      unit(c);
    }
  }
  unit(0);
}

// ---- reading ------------------------------------------------------------------

struct Reader {
  const std::string& s;
  size_t pos = 0;
  int line = 1;
  int errLine = 0;
  std::string why;

  bool End() const { return pos >= s.size(); }
  char Peek() const { return End() ? '\0' : s[pos]; }
  bool AtEol() const {
    return End() || s[pos] == '\n' || (s[pos] == '\r' && pos + 1 < s.size() && s[pos + 1] == '\n');
  }
  void SkipEol() {
    if (End()) return;
    pos += s[pos] == '\r' ? 2 : 1;
    ++line;
  }
  void SkipBlanks() {
    while (!End() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  }
  bool Fail(const std::string& what, int at = 0) {
    errLine = at ? at : line;
    why = what;
    return false;
  }
  bool Take(const char* word) {
    size_t n = strlen(word);
    if (s.compare(pos, n, word) != 0) return false;
    pos += n;
    return true;
  }
  // Blanks, then the end of the line.
  bool EndOfLine() {
    SkipBlanks();
    if (!AtEol()) return Fail("unexpected text after the value");
    SkipEol();
    return true;
  }

  // A quoted string (the opening quote is next); raw line breaks belong to it.
  bool Quoted(std::string* out) {
    int start = line;
    ++pos;
    out->clear();
    for (;;) {
      if (End()) return Fail("unterminated string", start);
      char c = s[pos++];
      if (c == '"') return true;
      if (c == '\n') ++line;
      if (c == '\\') {
        if (End()) return Fail("unterminated string", start);
        char e = s[pos++];
        if (e != '\\' && e != '"') return Fail(std::string("bad escape \\") + e);
        c = e;
      }
      *out += c;
    }
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Up to `max` hex digits (at least one).
  bool HexNumber(int max, uint32_t* out) {
    int n = 0;
    *out = 0;
    while (n < max && HexDigit(Peek()) >= 0) {
      *out = (*out << 4) | (uint32_t)HexDigit(s[pos++]);
      ++n;
    }
    return n > 0 && HexDigit(Peek()) < 0;
  }

  // "xx,xx,\" line-continued byte list, up to and including the end of the line.
  bool Bytes(std::vector<uint8_t>* out) {
    SkipBlanks();
    if (AtEol()) {
      SkipEol();
      return true;
    }
    for (;;) {
      int hi = HexDigit(Peek()), lo = pos + 1 < s.size() ? HexDigit(s[pos + 1]) : -1;
      if (hi < 0 || lo < 0 || HexDigit(pos + 2 < s.size() ? s[pos + 2] : '\0') >= 0)
        return Fail("bad hex byte");
      out->push_back((uint8_t)(hi * 16 + lo));
      pos += 2;
      SkipBlanks();
      if (AtEol()) {
        SkipEol();
        return true;
      }
      if (Peek() != ',') return Fail("bad hex byte list");
      ++pos;
      SkipBlanks();
      if (Peek() == '\\') {
        ++pos;
        SkipBlanks();
        if (!AtEol()) return Fail("text after a line continuation");
        SkipEol();
        SkipBlanks();
      }
      if (AtEol()) return Fail("hex byte list ends with a comma");
    }
  }

  bool Value(RegFileValue* v) {
    std::string name;
    if (Peek() == '@') {
      ++pos;
    } else if (!Quoted(&name)) {
      return false;
    }
    v->name = WideFromUtf8(name);
    if (Peek() != '=') return Fail("expected = after the value name");
    ++pos;
    if (Peek() == '"') {
      std::string text;
      if (!Quoted(&text)) return false;
      v->type = REG_SZ;
      Utf16Of(text, &v->data);
      return EndOfLine();
    }
    if (Take("dword:")) {
      uint32_t d;
      if (!HexNumber(8, &d)) return Fail("bad dword");
      v->type = REG_DWORD;
      v->data = {(uint8_t)d, (uint8_t)(d >> 8), (uint8_t)(d >> 16), (uint8_t)(d >> 24)};
      return EndOfLine();
    }
    if (Take("hex:")) {
      v->type = REG_BINARY;
      return Bytes(&v->data);
    }
    if (Take("hex(")) {
      uint32_t type;
      if (!HexNumber(8, &type) || !Take("):")) return Fail("bad hex(type)");
      v->type = type;
      return Bytes(&v->data);
    }
    return Fail("bad value data");
  }

  bool Header(RegFileKey* key) {
    size_t eol = pos;
    while (eol < s.size() && s[eol] != '\n') ++eol;
    std::string text = s.substr(pos, eol - pos);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    if (text.size() < 2 || text.back() != ']') return Fail("bad key line");
    text = text.substr(1, text.size() - 2);
    if (!text.empty() && text[0] == '-') return Fail("a key deletion has no place in a registry file");
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
      size_t bs = text.find('\\', start);
      parts.push_back(text.substr(start, bs == std::string::npos ? std::string::npos : bs - start));
      if (bs == std::string::npos) break;
      start = bs + 1;
    }
    key->root = -1;
    for (int i = 0; i < 4; ++i)
      if (parts[0] == kRootNames[i]) key->root = i;
    if (key->root < 0) return Fail("unknown root key \"" + parts[0] + "\"");
    for (size_t i = 1; i < parts.size(); ++i) {
      if (parts[i].empty()) return Fail("empty key name");
      key->path.push_back(WideFromUtf8(parts[i]));
    }
    pos = eol;
    SkipEol();
    return true;
  }

  bool File(std::vector<RegFileKey>* keys) {
    if (!Take("REGEDIT4") || !AtEol()) return Fail("not a REGEDIT4 file (the first line must be REGEDIT4)");
    SkipEol();
    bool inKey = false;
    while (!End()) {
      SkipBlanks();
      char c = Peek();
      if (AtEol()) {
        SkipEol();
      } else if (c == ';') {
        while (!AtEol()) ++pos;
        SkipEol();
      } else if (c == '[') {
        RegFileKey k;
        if (!Header(&k)) return false;
        keys->push_back(std::move(k));
        inKey = true;
      } else if (c == '@' || c == '"') {
        if (!inKey) return Fail("a value before any key");
        RegFileValue v;
        if (!Value(&v)) return false;
        keys->back().values.push_back(std::move(v));
      } else {
        return Fail("bad line");
      }
    }
    return true;
  }
};

// ---- writing ------------------------------------------------------------------

void PutHex(std::string& out, const RegFileValue& v, size_t lineStart) {
  char buf[16];
  if (v.type == REG_BINARY) {
    out += "hex:";
  } else {
    snprintf(buf, sizeof buf, "hex(%x):", (unsigned)v.type);
    out += buf;
  }
  // As the desktop's editor wraps them: lines of about 80 columns, continued with "\".
  for (size_t i = 0; i < v.data.size(); ++i) {
    snprintf(buf, sizeof buf, "%02x", v.data[i]);
    out += buf;
    if (i + 1 == v.data.size()) break;
    out += ",";
    if (out.size() - lineStart > 76) {
      out += "\\\r\n  ";
      lineStart = out.size() - 2;
    }
  }
}

void PutValue(std::string& out, const RegFileValue& v) {
  size_t lineStart = out.size();
  out += v.name.empty() ? "@" : Quote(Utf8FromWide(v.name));
  out += "=";
  std::string text;
  if (v.type == REG_DWORD && v.data.size() == 4) {
    char buf[16];
    snprintf(buf, sizeof buf, "dword:%08x",
             (unsigned)(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | ((uint32_t)v.data[3] << 24)));
    out += buf;
  } else if (v.type == REG_SZ && PlainText(v.data, &text)) {
    out += Quote(text);
  } else {
    PutHex(out, v, lineStart);
  }
  out += "\r\n";
}

}  // namespace

bool ParseRegFile(const std::string& text, std::vector<RegFileKey>* keys, int* line, std::string* why) {
  Reader r{text, 0, 1, 0, std::string()};
  std::vector<RegFileKey> out;
  if (!r.File(&out)) {
    *line = r.errLine;
    *why = r.why;
    return false;
  }
  *keys = std::move(out);
  return true;
}

std::string FormatRegFile(const std::vector<RegFileKey>& keys) {
  std::string out = "REGEDIT4\r\n\r\n";
  for (auto& k : keys) {
    out += "[";
    out += kRootNames[k.root & 3];
    for (auto& part : k.path) {
      // A line break cannot stand in a key line; such a name comes back with U+FFFD there.
      std::wstring safe = part;
      for (auto& c : safe)
        if (c == L'\r' || c == L'\n') c = 0xFFFD;
      out += "\\" + Utf8FromWide(safe);
    }
    out += "]\r\n";
    for (auto& v : k.values) PutValue(out, v);
    out += "\r\n";
  }
  return out;
}

bool ReplaceFile(const std::string& path, const std::string& text, std::string* error) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string tmp = dir + "/." + base + ".XXXXXX";
  int fd = mkstemp(&tmp[0]);
  if (fd < 0) {
    *error = "cannot create a file in " + dir + ": " + strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += (size_t)n;
  }
  int err = done == text.size() ? 0 : errno ? errno : EIO;
  if (!err && fsync(fd) != 0) err = errno;
  if (close(fd) != 0 && !err) err = errno;
  if (!err && rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err) {
    unlink(tmp.c_str());
    *error = "cannot write " + path + ": " + strerror(err);
    return false;
  }
  // The rename itself is on disk only once the folder is.
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

}  // namespace sim
