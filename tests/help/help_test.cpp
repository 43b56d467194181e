// The help page of each national build, res/help/<CODE>/tavlo.htc, as the handheld's
// help viewer reads it: windows-1252 HTML of the kinds the viewer renders, topics
// between PegHelp marks, the topic the driver opens, one topic for every subject, the
// screens' own words, and tables that say what the program's tables say. The tables
// are read from the compiled program and the page is parsed here, so a table that
// changes without the page fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/keytables.h"
#include "platform/platform.h"
#include "shell/layouts.h"
#include "shell/settings.h"
#include "shell/state.h"

namespace {

namespace fs = std::filesystem;
using Text = std::u32string;

const std::string kSource = BRINDLE_SOURCE_DIR;
const char* const kPage = "tavlo.htc";

struct Language {
  const char* code;      // res/help/<code>/ and the national build
  const char* lang;      // res/dialogs_<lang>.cmake
  const wchar_t* dll;    // the build's brindleres.dll, from the test's folder
  const char* backspace; // the page's names of the two keys without a letter (UTF-8)
  const char* enter;
};

const Language kLanguages[] = {
    {"USA", "usa", L"brindleres.dll", "Backspace", "Enter"},
    {"FRA", "fra", L".\\national\\FRA\\brindleres.dll", "Retour arri\xC3\xA8re", "Entr\xC3\xA9""e"},
    {"GER", "ger", L".\\national\\GER\\brindleres.dll", "R\xC3\xBC""cktaste", "Eingabetaste"},
    {"ESP", "esp", L".\\national\\ESP\\brindleres.dll", "Retroceso", "Intro"},
    {"PTB", "ptb", L".\\national\\PTB\\brindleres.dll", "Backspace", "Enter"},
    {"ITA", "ita", L".\\national\\ITA\\brindleres.dll", "Backspace", "Invio"},
};

void PrintTo(const Language& l, std::ostream* os) { *os << l.code; }

// ---- text ---------------------------------------------------------------------------

// windows-1252 bytes 0x80..0x9F; 0 where the code page leaves a byte undefined. The
// other bytes are their own code points.
const char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Reads on past a byte the code page leaves undefined (as U+FFFD), so that the rest of
// the page can still be checked; *why names the first such byte.
bool DecodeCp1252(const std::string& bytes, Text* out, std::string* why) {
  out->clear();
  bool ok = true;
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    char32_t c = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
    if (c == 0) {
      if (ok) {
        std::ostringstream s;
        s << "byte 0x" << std::hex << unsigned(b) << " at offset " << std::dec << i
          << " is not a windows-1252 character";
        *why = s.str();
      }
      ok = false;
      c = 0xFFFD;
    }
    out->push_back(c);
  }
  return ok;
}

// Strict UTF-8: no overlong forms, no surrogates. Also tells whether any character
// took more than one byte.
bool DecodeUtf8(const std::string& bytes, Text* out, bool* multibyte) {
  out->clear();
  *multibyte = false;
  for (size_t i = 0; i < bytes.size();) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    int n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (n < 0 || (n > 0 && i + n >= bytes.size())) return false;
    char32_t c = n == 0 ? b : b & (0x3F >> n);
    for (int k = 1; k <= n; ++k) {
      unsigned char t = static_cast<unsigned char>(bytes[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    const char32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    *multibyte = *multibyte || n > 0;
    out->push_back(c);
    i += n + 1;
  }
  return true;
}

Text FromUtf8(const std::string& s) {
  Text t;
  bool multibyte;
  EXPECT_TRUE(DecodeUtf8(s, &t, &multibyte)) << s;
  return t;
}

std::string ToUtf8(const Text& t) {
  std::string s;
  for (char32_t c : t) {
    if (c < 0x80) {
      s += static_cast<char>(c);
    } else if (c < 0x800) {
      s += static_cast<char>(0xC0 | (c >> 6));
      s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      s += static_cast<char>(0xE0 | (c >> 12));
      s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      s += static_cast<char>(0xF0 | (c >> 18));
      s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return s;
}

bool IsSpace(char32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Runs of white space (and of no-break spaces) become one space; none at either end.
Text Squeeze(const Text& t) {
  Text out;
  for (char32_t c : t) {
    bool space = IsSpace(c) || c == 0xA0;
    if (space) {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string PagePath(const Language& l) { return kSource + "/res/help/" + l.code + "/" + kPage; }

// ---- the page as tokens ---------------------------------------------------------------

struct Token {
  enum Kind { kText, kStart, kEnd, kComment } kind;
  std::string name;                    // tag name, upper case
  std::map<std::string, Text> attrs;   // attribute names upper case, values decoded
  Text text;                           // text (references decoded) or comment body
  int line;
};

std::string Upper(const Text& t) {
  std::string s;
  for (char32_t c : t) s += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return s;
}

bool IsNameChar(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

class Tokenizer {
 public:
  Tokenizer(const Text& src, std::vector<std::string>* errors) : src_(src), errors_(errors) {}

  std::vector<Token> Run() {
    std::vector<Token> out;
    Text text;
    int textLine = line_;
    while (pos_ < src_.size()) {
      char32_t c = src_[pos_];
      if (c == '<') {
        if (!text.empty()) out.push_back({Token::kText, "", {}, text, textLine});
        text.clear();
        Token t;
        if (Tag(&t)) out.push_back(t);
        textLine = line_;
        continue;
      }
      if (text.empty()) textLine = line_;
      if (c == '&') {
        text.push_back(Reference());
        continue;
      }
      Advance();
      text.push_back(c);
    }
    if (!text.empty()) out.push_back({Token::kText, "", {}, text, textLine});
    return out;
  }

 private:
  void Error(const std::string& what) { errors_->push_back("line " + std::to_string(line_) + ": " + what); }

  void Advance() {
    if (src_[pos_] == '\n') ++line_;
    ++pos_;
  }

  bool At(const char* s) const {
    for (size_t i = 0; s[i] != 0; ++i)
      if (pos_ + i >= src_.size() || src_[pos_ + i] != static_cast<unsigned char>(s[i])) return false;
    return true;
  }

  // The viewer's references: &amp; &lt; &gt; &quot; &nbsp; and decimal &#N;.
  char32_t Reference() {
    size_t start = pos_;
    Advance();
    Text name;
    while (pos_ < src_.size() && src_[pos_] != ';' && name.size() < 10 && (IsNameChar(src_[pos_]) || src_[pos_] == '#')) {
      name.push_back(src_[pos_]);
      Advance();
    }
    if (pos_ >= src_.size() || src_[pos_] != ';') {
      Error("'&' that starts no reference");
      pos_ = start + 1;
      return '&';
    }
    Advance();
    std::string n = ToUtf8(name);
    if (n == "amp") return '&';
    if (n == "lt") return '<';
    if (n == "gt") return '>';
    if (n == "quot") return '"';
    if (n == "nbsp") return 0xA0;
    if (n.size() > 1 && n[0] == '#' && n.find_first_not_of("0123456789", 1) == std::string::npos) {
      unsigned long v = std::stoul(n.substr(1));
      if (v > 0 && v <= 0x10FFFF) return static_cast<char32_t>(v);
    }
    Error("reference &" + n + "; is not one the viewer knows");
    return 0xFFFD;
  }

  void SkipSpace() {
    while (pos_ < src_.size() && IsSpace(src_[pos_])) Advance();
  }

  bool Tag(Token* t) {
    t->line = line_;
    if (At("<!--")) {
      for (int i = 0; i < 4; ++i) Advance();
      size_t start = pos_;
      while (pos_ < src_.size() && !At("-->")) Advance();
      if (pos_ >= src_.size()) {
        Error("comment without its end");
        return false;
      }
      t->kind = Token::kComment;
      t->text = src_.substr(start, pos_ - start);
      for (int i = 0; i < 3; ++i) Advance();
      return true;
    }
    Advance();  // '<'
    t->kind = Token::kStart;
    if (pos_ < src_.size() && src_[pos_] == '/') {
      t->kind = Token::kEnd;
      Advance();
    }
    Text name;
    while (pos_ < src_.size() && IsNameChar(src_[pos_])) {
      name.push_back(src_[pos_]);
      Advance();
    }
    if (name.empty()) {
      Error("'<' that starts no tag");
      return false;
    }
    t->name = Upper(name);
    for (;;) {
      SkipSpace();
      if (pos_ >= src_.size()) {
        Error("tag <" + t->name + " without its '>'");
        return false;
      }
      if (src_[pos_] == '>') {
        Advance();
        return true;
      }
      Text attr;
      while (pos_ < src_.size() && IsNameChar(src_[pos_])) {
        attr.push_back(src_[pos_]);
        Advance();
      }
      if (attr.empty() || t->kind == Token::kEnd) {
        Error("stray text in tag <" + t->name);
        while (pos_ < src_.size() && src_[pos_] != '>') Advance();
        continue;
      }
      SkipSpace();
      if (pos_ >= src_.size() || src_[pos_] != '=') {
        Error("attribute " + Upper(attr) + " of <" + t->name + "> without a value");
        continue;
      }
      Advance();
      SkipSpace();
      if (pos_ >= src_.size() || src_[pos_] != '"') {
        Error("value of " + Upper(attr) + " in <" + t->name + "> not in double quotes");
        continue;
      }
      Advance();
      Text value;
      while (pos_ < src_.size() && src_[pos_] != '"') {
        if (src_[pos_] == '&') {
          value.push_back(Reference());
        } else {
          value.push_back(src_[pos_]);
          Advance();
        }
      }
      if (pos_ < src_.size()) Advance();
      if (!t->attrs.emplace(Upper(attr), value).second) Error(Upper(attr) + " twice in <" + t->name + ">");
    }
  }

  const Text& src_;
  std::vector<std::string>* errors_;
  size_t pos_ = 0;
  int line_ = 1;
};

// ---- what the viewer renders, and how it nests ------------------------------------------

struct Kind {
  const char* name;
  bool isVoid;
  std::set<std::string> attrs;
  std::set<std::string> parents;  // empty: the root
};

const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      {"HTML", false, {}, {}},
      {"HEAD", false, {}, {"HTML"}},
      {"TITLE", false, {}, {"HEAD"}},
      {"META", true, {"HTTP-EQUIV", "CONTENT"}, {"HEAD"}},
      // The viewer's Find reads these; closed explicitly so that browsers keep them empty.
      {"KEYWORD", false, {"VALUE", "TITLE", "HREF"}, {"HEAD"}},
      {"BODY", false, {}, {"HTML"}},
      {"P", false, {}, {"BODY"}},
      {"HR", true, {}, {"BODY"}},
      {"UL", false, {}, {"BODY"}},
      {"LI", false, {}, {"UL"}},
      {"TABLE", false, {"BORDER", "CELLPADDING", "CELLSPACING"}, {"BODY"}},
      {"TR", false, {}, {"TABLE"}},
      {"TH", false, {}, {"TR"}},
      {"TD", false, {}, {"TR"}},
      {"BR", true, {}, {"BODY", "P", "LI", "TD", "TH"}},
      {"B", false, {}, {"P", "LI", "TD", "TH", "A", "I"}},
      {"I", false, {}, {"P", "LI", "TD", "TH", "A", "B"}},
      {"A", false, {"NAME", "HREF"}, {"P", "LI", "TD", "TH", "B", "I"}},
  };
  return kinds;
}

const Kind* FindKind(const std::string& name) {
  for (const Kind& k : Kinds())
    if (name == k.name) return &k;
  return nullptr;
}

const std::set<std::string> kTextParents = {"TITLE", "P", "LI", "TD", "TH", "B", "I", "A"};

// Every element of a known kind, with its attributes, in an allowed parent, and closed
// in order; text only where text belongs.
std::vector<std::string> StructureErrors(const std::vector<Token>& tokens) {
  std::vector<std::string> errors;
  std::vector<std::string> open;
  bool rootSeen = false;
  auto at = [](const Token& t) { return "line " + std::to_string(t.line) + ": "; };
  for (const Token& t : tokens) {
    if (t.kind == Token::kComment) continue;
    if (t.kind == Token::kText) {
      if (Squeeze(t.text).empty()) continue;
      if (open.empty() || kTextParents.count(open.back()) == 0)
        errors.push_back(at(t) + "text \"" + ToUtf8(Squeeze(t.text)).substr(0, 40) + "\" in <" +
                         (open.empty() ? std::string("nothing") : open.back()) + ">");
      continue;
    }
    const Kind* kind = FindKind(t.name);
    if (kind == nullptr) {
      errors.push_back(at(t) + "<" + t.name + "> is not of the viewer's kinds");
      continue;
    }
    if (t.kind == Token::kEnd) {
      if (kind->isVoid) {
        errors.push_back(at(t) + "</" + t.name + "> closes an element that has no end");
      } else if (open.empty() || open.back() != t.name) {
        errors.push_back(at(t) + "</" + t.name + "> where <" + (open.empty() ? std::string("nothing") : open.back()) +
                         "> is open");
      } else {
        open.pop_back();
      }
      continue;
    }
    for (const auto& attr : t.attrs)
      if (kind->attrs.count(attr.first) == 0) errors.push_back(at(t) + attr.first + " is not an attribute of <" + t.name + ">");
    if (kind->parents.empty()) {
      if (!open.empty() || rootSeen) errors.push_back(at(t) + "<" + t.name + "> not as the one root");
      rootSeen = true;
    } else if (open.empty() || kind->parents.count(open.back()) == 0) {
      errors.push_back(at(t) + "<" + t.name + "> inside <" + (open.empty() ? std::string("nothing") : open.back()) + ">");
    }
    if (t.name == "A")
      for (const std::string& o : open)
        if (o == "A") errors.push_back(at(t) + "<A> inside <A>");
    if (!kind->isVoid) open.push_back(t.name);
  }
  for (const std::string& o : open) errors.push_back("<" + o + "> never closed");
  if (!rootSeen) errors.push_back("no <HTML>");
  return errors;
}

// ---- the page as topics -----------------------------------------------------------------

struct Table {
  struct Cell {
    bool header;
    Text text;
  };
  std::vector<std::vector<Cell>> rows;
};

struct Topic {
  std::vector<std::string> anchors;
  std::vector<std::string> links;   // HREF values
  std::vector<Text> bold;           // the text of each <B>
  std::vector<Table> tables;
  Text text;
  int line = 0;
};

struct Page {
  std::string bytes;
  Text source;
  std::vector<std::string> errors;  // reading and tokens
  std::vector<Token> tokens;
  std::map<std::string, Text> meta;  // HTTP-EQUIV (upper case) to CONTENT
  Text title;
  std::vector<Token> keywords;
  std::vector<Topic> topics;
  std::vector<std::string> topicErrors;

  // The topic that holds an anchor; null when none does.
  const Topic* TopicOf(const std::string& anchor) const {
    for (const Topic& t : topics)
      for (const std::string& a : t.anchors)
        if (a == anchor) return &t;
    return nullptr;
  }
};

bool IsPegHelpMark(const Token& t) { return t.kind == Token::kComment && ToUtf8(t.text) == " PegHelp "; }

// Block elements part words; inline ones do not.
bool PartsWords(const std::string& name) {
  static const std::set<std::string> blocks = {"P", "BR", "HR", "UL", "LI", "TABLE", "TR", "TD", "TH"};
  return blocks.count(name) != 0;
}

void SplitTopics(Page* page) {
  bool inBody = false, inTitle = false;
  Topic* topic = nullptr;
  int marks = 0;
  Table::Cell* cell = nullptr;
  Text* bold = nullptr;
  for (const Token& t : page->tokens) {
    if (t.name == "BODY") {
      inBody = t.kind == Token::kStart;
      continue;
    }
    if (t.name == "TITLE") inTitle = t.kind == Token::kStart;
    if (t.kind == Token::kText && inTitle) page->title += t.text;
    if (t.kind == Token::kStart && t.name == "META" && t.attrs.count("HTTP-EQUIV"))
      page->meta[Upper(t.attrs.at("HTTP-EQUIV"))] = t.attrs.count("CONTENT") ? t.attrs.at("CONTENT") : Text();
    if (t.kind == Token::kStart && t.name == "KEYWORD") page->keywords.push_back(t);
    if (!inBody) continue;
    if (IsPegHelpMark(t)) {
      ++marks;
      page->topics.emplace_back();
      topic = &page->topics.back();
      topic->line = t.line;
      continue;
    }
    if (topic == nullptr) {
      if (t.kind != Token::kText || !Squeeze(t.text).empty())
        page->topicErrors.push_back("line " + std::to_string(t.line) + ": the body does not open with a PegHelp mark");
      continue;
    }
    switch (t.kind) {
      case Token::kComment:
        break;
      case Token::kText:
        topic->text += t.text;
        if (cell != nullptr) cell->text += t.text;
        if (bold != nullptr) *bold += t.text;
        break;
      case Token::kStart:
        if (PartsWords(t.name)) topic->text += ' ';
        if (t.name == "A" && t.attrs.count("NAME")) topic->anchors.push_back(ToUtf8(t.attrs.at("NAME")));
        if (t.name == "A" && t.attrs.count("HREF")) topic->links.push_back(ToUtf8(t.attrs.at("HREF")));
        if (t.name == "B") {
          topic->bold.emplace_back();
          bold = &topic->bold.back();
        }
        if (t.name == "TABLE") topic->tables.emplace_back();
        if (t.name == "TR" && !topic->tables.empty()) topic->tables.back().rows.emplace_back();
        if ((t.name == "TD" || t.name == "TH") && !topic->tables.empty() && !topic->tables.back().rows.empty()) {
          topic->tables.back().rows.back().push_back({t.name == "TH", Text()});
          cell = &topic->tables.back().rows.back().back();
        }
        break;
      case Token::kEnd:
        if (PartsWords(t.name)) topic->text += ' ';
        if (t.name == "B") bold = nullptr;
        if (t.name == "TD" || t.name == "TH") cell = nullptr;
        break;
    }
  }
  if (marks == 0) page->topicErrors.push_back("no PegHelp mark");
  // The last mark closes the last topic: after it only a rule may follow.
  if (!page->topics.empty()) {
    Topic& tail = page->topics.back();
    if (!tail.anchors.empty() || !Squeeze(tail.text).empty() || !tail.tables.empty())
      page->topicErrors.push_back("line " + std::to_string(tail.line) + ": the page does not end with a PegHelp mark");
    page->topics.pop_back();
  }
  for (Topic& t : page->topics) {
    t.text = Squeeze(t.text);
    for (Text& b : t.bold) b = Squeeze(b);
    for (Table& table : t.tables)
      for (auto& row : table.rows)
        for (auto& c : row) c.text = Squeeze(c.text);
  }
}

Page ReadPage(const Language& l) {
  Page page;
  page.bytes = ReadFile(PagePath(l));
  std::string why;
  if (!DecodeCp1252(page.bytes, &page.source, &why)) page.errors.push_back(why);
  page.tokens = Tokenizer(page.source, &page.errors).Run();
  SplitTopics(&page);
  return page;
}

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& e : v) s += "\n  " + e;
  return s;
}

// ---- the program's words ---------------------------------------------------------------

// set(NAME "value") lines of res/dialogs_<lang>.cmake: the dialogs' and menu's words.
std::map<std::string, Text> DialogWords(const Language& l) {
  std::map<std::string, Text> words;
  std::istringstream in(ReadFile(kSource + "/res/dialogs_" + l.lang + ".cmake"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 4, "set(") != 0) continue;
    size_t space = line.find(' '), q1 = line.find('"'), q2 = line.rfind('"');
    if (space == std::string::npos || q1 == std::string::npos || q2 <= q1) continue;
    words[line.substr(4, space - 4)] = FromUtf8(line.substr(q1 + 1, q2 - q1 - 1));
  }
  return words;
}

// The name the page gives a key's virtual key; 0 for a name it does not know.
uint8_t VkOfLabel(const Text& label, const Language& l) {
  if (label.size() == 1) {
    char32_t c = label[0];
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<uint8_t>(c);
    if (c == ',') return VK_OEM_COMMA;
    if (c == '.') return VK_OEM_PERIOD;
  }
  if (label == FromUtf8(l.backspace)) return VK_BACK;
  if (label == FromUtf8(l.enter)) return VK_RETURN;
  return 0;
}

std::string Hex(unsigned v) {
  char buf[16];
  snprintf(buf, sizeof buf, "U+%04X", v);
  return buf;
}

std::string Describe(char32_t c) { return Hex(c) + " '" + ToUtf8(Text(1, c)) + "'"; }

const std::vector<std::string> kSubjects = {"start", "status", "keys",     "fn",    "shift", "sticky",
                                            "caps",  "picker", "settings", "about", "exit"};

class HelpPage : public ::testing::TestWithParam<Language> {
 protected:
  void SetUp() override { page = ReadPage(GetParam()); }

  // The layout this build's resource library selects, as the program selects it.
  const PickerCell* Layout() {
    HMODULE dll = LoadLibraryW(GetParam().dll);
    EXPECT_NE(dll, nullptr) << GetParam().code << ": error " << GetLastError();
    if (dll == nullptr) return nullptr;
    hResDll = dll;
    const PickerCell* layout = PickerLayout[LayoutForLanguage(GetLanguageIndex())];
    hResDll = nullptr;
    FreeLibrary(dll);
    return layout;
  }

  Text String(UINT id) {
    HMODULE dll = LoadLibraryW(GetParam().dll);
    EXPECT_NE(dll, nullptr) << GetParam().code;
    if (dll == nullptr) return Text();
    WCHAR buf[300] = {0};
    LoadStringW(dll, id, buf, 300);
    FreeLibrary(dll);
    Text t;
    for (const WCHAR* p = buf; *p != 0; ++p) t.push_back(static_cast<char32_t>(*p));
    return t;
  }

  // Rows of the topic's n-th table after its header row; fails the test when the table
  // is not there or a row has another width.
  std::vector<std::vector<Text>> Rows(const std::string& anchor, size_t n, size_t width) {
    std::vector<std::vector<Text>> rows;
    const Topic* topic = page.TopicOf(anchor);
    EXPECT_NE(topic, nullptr) << "no topic " << anchor;
    if (topic == nullptr) return rows;
    EXPECT_GT(topic->tables.size(), n) << "topic " << anchor << " has no table " << n + 1;
    if (topic->tables.size() <= n) return rows;
    const Table& table = topic->tables[n];
    EXPECT_FALSE(table.rows.empty()) << "topic " << anchor << ": table " << n + 1 << " is empty";
    for (size_t r = 0; r < table.rows.size(); ++r) {
      const auto& row = table.rows[r];
      bool header = !row.empty() && row[0].header;
      EXPECT_EQ(header, r == 0) << "topic " << anchor << ", table " << n + 1 << ", row " << r + 1
                                << ": the header is the first row and only it";
      EXPECT_EQ(row.size(), width) << "topic " << anchor << ", table " << n + 1 << ", row " << r + 1;
      if (header || row.size() != width) continue;
      std::vector<Text> cells;
      for (const auto& c : row) cells.push_back(c.text);
      rows.push_back(cells);
    }
    return rows;
  }

  Page page;
};

// ---- the files ------------------------------------------------------------------------

TEST(HelpFiles, EveryBuildHasTheSameFilesWithThePageAmongThem) {
  std::set<std::string> first;
  for (const Language& l : kLanguages) {
    fs::path dir = fs::path(kSource) / "res" / "help" / l.code;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
      EXPECT_TRUE(e.is_regular_file()) << e.path() << ": the package installs files only, all in one folder";
      names.insert(e.path().filename().string());
    }
    EXPECT_EQ(names.count(kPage), 1u) << l.code;
    if (&l == &kLanguages[0]) {
      first = names;
    } else {
      EXPECT_EQ(names, first) << l.code << " and " << kLanguages[0].code << " hold different files";
    }
  }
}

// ---- the page as the viewer reads it --------------------------------------------------------

TEST_P(HelpPage, IsWindows1252AsItSays) {
  ASSERT_FALSE(page.bytes.empty()) << PagePath(GetParam());
  EXPECT_EQ(page.errors, std::vector<std::string>()) << Join(page.errors);
  EXPECT_EQ(ToUtf8(page.meta["CONTENT-TYPE"]), "text/html; charset=windows-1252");
  // Text saved as UTF-8 would read as windows-1252 too, garbled: refuse it.
  Text asUtf8;
  bool multibyte = false;
  EXPECT_FALSE(DecodeUtf8(page.bytes, &asUtf8, &multibyte) && multibyte)
      << "the page is UTF-8 with characters beyond ASCII, not windows-1252";
  EXPECT_EQ(page.bytes.find('\0'), std::string::npos);
}

TEST_P(HelpPage, UsesOnlyTheViewersKindsEachClosedInItsPlace) {
  std::vector<std::string> errors = StructureErrors(page.tokens);
  EXPECT_EQ(errors, std::vector<std::string>()) << Join(errors);
  EXPECT_EQ(page.topicErrors, std::vector<std::string>()) << Join(page.topicErrors);
  for (const Token& t : page.tokens)
    if (t.kind == Token::kComment) {
      std::string body = ToUtf8(t.text);
      // The viewer splits topics at exactly this mark; a near miss would merge two.
      if (body.find("PegHelp") != std::string::npos || body.find("peghelp") != std::string::npos) {
        EXPECT_EQ(body, " PegHelp ") << "line " << t.line;
      }
      EXPECT_EQ(body.find("--"), std::string::npos) << "line " << t.line << ": '--' inside a comment";
    }
}

TEST_P(HelpPage, OpensWhereTheDriverAndTheHelpListPointIt) {
  ASSERT_FALSE(page.topics.empty());
  const Topic& first = page.topics.front();
  // The driver runs PegHelp.exe "tavlo.htc#extkbd_help".
  EXPECT_EQ(page.TopicOf("extkbd_help"), &first) << "extkbd_help is not the first topic";
  // The help list opens a file at the topic its Htm-Help line names, its contents.
  std::string contents = ToUtf8(page.meta["HTM-HELP"]);
  EXPECT_EQ(contents, std::string(kPage) + "#Main_Contents");
  EXPECT_EQ(page.TopicOf("Main_Contents"), &first) << "Main_Contents is not the first topic";
  EXPECT_FALSE(Squeeze(page.title).empty()) << "no title for the help list";
}

TEST_P(HelpPage, GivesEverySubjectATopicOfItsOwnReachedFromTheContents) {
  ASSERT_FALSE(page.topics.empty());
  std::set<const Topic*> seen = {&page.topics.front()};
  std::set<std::string> fromContents(page.topics.front().links.begin(), page.topics.front().links.end());
  for (const std::string& subject : kSubjects) {
    const Topic* t = page.TopicOf(subject);
    ASSERT_NE(t, nullptr) << "no topic " << subject;
    EXPECT_TRUE(seen.insert(t).second) << "topic " << subject << " shares its topic with another subject";
    EXPECT_EQ(t->anchors.front(), subject) << "topic " << subject << " does not open with its anchor";
    EXPECT_FALSE(t->bold.empty()) << "topic " << subject << " has no heading";
    EXPECT_GT(t->text.size(), 120u) << "topic " << subject << " says next to nothing";
    EXPECT_EQ(fromContents.count(std::string(kPage) + "#" + subject), 1u) << "the contents do not lead to " << subject;
  }
  EXPECT_EQ(page.topics.size(), kSubjects.size() + 1) << "topics other than the contents and the subjects";
}

TEST_P(HelpPage, LinksNameThisFileAndAnAnchorThatIsThere) {
  std::map<std::string, int> anchors;
  for (const Topic& t : page.topics)
    for (const std::string& a : t.anchors) ++anchors[a];
  for (const auto& a : anchors) EXPECT_EQ(a.second, 1) << "anchor " << a.first << " more than once";
  std::vector<std::string> hrefs;
  for (const Topic& t : page.topics) hrefs.insert(hrefs.end(), t.links.begin(), t.links.end());
  ASSERT_EQ(page.keywords.size(), kSubjects.size() + 1) << "one KEYWORD line for the contents and each subject";
  for (const Token& k : page.keywords) {
    EXPECT_FALSE(Squeeze(k.attrs.count("VALUE") ? k.attrs.at("VALUE") : Text()).empty()) << "line " << k.line;
    hrefs.push_back(k.attrs.count("HREF") ? ToUtf8(k.attrs.at("HREF")) : "");
  }
  // The viewer wants the file named even for a topic of the same file.
  std::string prefix = std::string(kPage) + "#";
  for (const std::string& h : hrefs) {
    ASSERT_EQ(h.compare(0, prefix.size(), prefix), 0) << "link " << h;
    EXPECT_EQ(anchors.count(h.substr(prefix.size())), 1u) << "link " << h << " to no anchor";
  }
}

// ---- the page against the program --------------------------------------------------------

TEST_P(HelpPage, FnTableIsTheProgramsFnLayer) {
  std::map<uint8_t, char32_t> expected;
  for (const FnCharRow& row : FnCharTable) {
    uint8_t vk = ScanToVk(row.Scan);
    ASSERT_NE(vk, 0) << "scan code " << unsigned(row.Scan) << " of the Fn layer has no key";
    expected[vk] = row.Char;
  }
  std::map<uint8_t, char32_t> shown;
  for (const auto& row : Rows("fn", 0, 4))
    for (size_t i = 0; i < row.size(); i += 2) {
      if (row[i].empty() && row[i + 1].empty()) continue;  // a filler pair in the last row
      uint8_t vk = VkOfLabel(row[i], GetParam());
      EXPECT_NE(vk, 0) << "no key is called \"" << ToUtf8(row[i]) << "\"";
      EXPECT_EQ(row[i + 1].size(), 1u) << "Fn + " << ToUtf8(row[i]) << " shows \"" << ToUtf8(row[i + 1]) << "\"";
      if (vk == 0 || row[i + 1].size() != 1) continue;
      EXPECT_TRUE(shown.emplace(vk, row[i + 1][0]).second) << "key " << ToUtf8(row[i]) << " twice";
    }
  for (const auto& e : expected) {
    auto it = shown.find(e.first);
    if (it == shown.end()) {
      ADD_FAILURE() << "the table lacks the key of virtual key " << unsigned(e.first) << ", which types "
                    << Describe(e.second);
    } else {
      EXPECT_EQ(Describe(it->second), Describe(e.second)) << "Fn + the key of virtual key " << unsigned(e.first);
    }
  }
  for (const auto& s : shown)
    EXPECT_EQ(expected.count(s.first), 1u) << "the table gives virtual key " << unsigned(s.first)
                                           << " a character the Fn layer does not have";
}

TEST_P(HelpPage, PickerTableIsTheLayoutThisBuildSelects) {
  const PickerCell* layout = Layout();
  ASSERT_NE(layout, nullptr);
  std::map<uint8_t, std::pair<char32_t, char32_t>> expected;
  for (int i = 0; i < PICKER_CELLS; ++i) {
    const PickerCell& c = layout[i];
    if (c.Plain != 0 && (c.Plain & PICKER_DEAD) == 0)
      expected[static_cast<uint8_t>(c.Key & 0xFF)] = {c.Plain, c.Shifted};
  }
  ASSERT_FALSE(expected.empty());
  std::map<uint8_t, std::pair<char32_t, char32_t>> shown;
  for (const auto& row : Rows("picker", 0, 3)) {
    uint8_t vk = VkOfLabel(row[0], GetParam());
    EXPECT_NE(vk, 0) << "no key is called \"" << ToUtf8(row[0]) << "\"";
    EXPECT_EQ(row[1].size(), 1u) << "key " << ToUtf8(row[0]) << ": \"" << ToUtf8(row[1]) << "\"";
    EXPECT_EQ(row[2].size(), 1u) << "key " << ToUtf8(row[0]) << " with Shift: \"" << ToUtf8(row[2]) << "\"";
    if (vk == 0 || row[1].size() != 1 || row[2].size() != 1) continue;
    EXPECT_TRUE(shown.emplace(vk, std::make_pair(row[1][0], row[2][0])).second) << "key " << ToUtf8(row[0]) << " twice";
  }
  for (const auto& e : expected) {
    auto it = shown.find(e.first);
    if (it == shown.end()) {
      ADD_FAILURE() << "the picker's cell of virtual key " << unsigned(e.first) << " (" << Describe(e.second.first)
                    << ") is not in the table";
      continue;
    }
    EXPECT_EQ(Describe(it->second.first), Describe(e.second.first)) << "virtual key " << unsigned(e.first);
    EXPECT_EQ(Describe(it->second.second), Describe(e.second.second)) << "virtual key " << unsigned(e.first) << " with Shift";
  }
  for (const auto& s : shown)
    EXPECT_EQ(expected.count(s.first), 1u) << "the table shows a character on virtual key " << unsigned(s.first)
                                           << ", whose cell has none or an accent";
}

TEST_P(HelpPage, AccentTableIsTheLayoutsAccentCellsWithTheLettersTheyMake) {
  const PickerCell* layout = Layout();
  ASSERT_NE(layout, nullptr);
  std::map<uint8_t, char32_t> dead;  // key to its spacing accent
  for (int i = 0; i < PICKER_CELLS; ++i)
    if (layout[i].Plain & PICKER_DEAD) dead[static_cast<uint8_t>(layout[i].Key & 0xFF)] = layout[i].Plain & ~PICKER_DEAD;
  const Topic* picker = page.TopicOf("picker");
  ASSERT_NE(picker, nullptr);
  if (dead.empty()) {
    EXPECT_EQ(picker->tables.size(), 1u) << "an accent table, but this layout has no accent cells";
    return;
  }
  ASSERT_EQ(picker->tables.size(), 2u) << "this layout has accent cells; the page lists none";
  std::set<uint8_t> shown;
  for (const auto& row : Rows("picker", 1, 3)) {
    uint8_t vk = VkOfLabel(row[0], GetParam());
    auto it = dead.find(vk);
    if (it == dead.end()) {
      ADD_FAILURE() << "key \"" << ToUtf8(row[0]) << "\" has no accent cell";
      continue;
    }
    EXPECT_TRUE(shown.insert(vk).second) << "key " << ToUtf8(row[0]) << " twice";
    ASSERT_FALSE(row[1].empty());
    EXPECT_EQ(Describe(row[1][0]), Describe(it->second)) << "the accent of key " << ToUtf8(row[0]);
    // What the program makes of this accent and each letter key.
    int kind = 0;
    for (int k = 1; k <= 5; ++k)
      if (BareAccent(k) == it->second) kind = k;
    ASSERT_NE(kind, 0) << Describe(it->second) << " is no accent the program types";
    std::multiset<char32_t> expected, listed;
    for (char32_t letter = 'A'; letter <= 'Z'; ++letter)
      for (bool upper : {false, true}) {
        uint16_t composed = ComposeAccent(kind, static_cast<uint8_t>(letter), upper);
        if (composed != 0) expected.insert(composed);
      }
    for (char32_t c : row[2])
      if (c != ' ') listed.insert(c);
    std::string want, got;
    for (char32_t c : expected) want += ToUtf8(Text(1, c)) + " ";
    for (char32_t c : listed) got += ToUtf8(Text(1, c)) + " ";
    EXPECT_EQ(got, want) << "the letters of key " << ToUtf8(row[0]) << "'s accent";
  }
  EXPECT_EQ(shown.size(), dead.size()) << "accent cells missing from the table";
}

TEST_P(HelpPage, NamesTheControlsAndStatesWithTheProgramsOwnWords) {
  std::map<std::string, Text> words = DialogWords(GetParam());
  ASSERT_GT(words.size(), 10u) << "res/dialogs_" << GetParam().lang << ".cmake";
  words["running"] = String(9);
  words["stopped"] = String(10);
  words["paused"] = String(11);
  // The start/stop button's two labels: it says what a tap does.
  words["start"] = String(14);
  words["stop"] = String(15);
  // Each subject speaks of these, in bold, exactly as the screens write them.
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"Main_Contents", {"TXT_ABOUT_TITLE", "running"}},
      {"start", {"start", "stop"}},
      {"status", {"running", "stopped", "paused", "start", "stop"}},
      {"sticky", {"TXT_STICKY_SHIFT", "TXT_STICKY_FN"}},
      {"settings",
       {"TXT_STICKY_SHIFT", "TXT_STICKY_FN", "TXT_REPEAT_RATE", "TXT_SLOW", "TXT_FAST", "TXT_DELAY", "TXT_SHORT",
        "TXT_LONG", "TXT_HELP", "TXT_TOOLS"}},
      {"about", {"TXT_ABOUT", "TXT_TOOLS", "TXT_OK"}},
      {"exit", {"TXT_EXIT", "TXT_TOOLS"}},
  };
  for (const auto& e : expected) {
    const Topic* topic = page.TopicOf(e.first);
    ASSERT_NE(topic, nullptr) << e.first;
    for (const std::string& key : e.second) {
      ASSERT_EQ(words.count(key), 1u) << key;
      const Text& word = words[key];
      ASSERT_FALSE(word.empty()) << key;
      bool found = false;
      for (const Text& b : topic->bold) found = found || b == word;
      EXPECT_TRUE(found) << "topic " << e.first << " does not name \"" << ToUtf8(word) << "\" (" << key << ")";
    }
  }
  EXPECT_EQ(ToUtf8(Squeeze(page.title)), ToUtf8(words["TXT_ABOUT_TITLE"])) << "the title is the About box's";
  ASSERT_FALSE(page.topics.empty());
  ASSERT_FALSE(page.topics.front().bold.empty());
  EXPECT_EQ(ToUtf8(page.topics.front().bold.front()), ToUtf8(words["TXT_ABOUT_TITLE"]));
}

INSTANTIATE_TEST_SUITE_P(All, HelpPage, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<Language>& info) { return std::string(info.param.code); });

}  // namespace
