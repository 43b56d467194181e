// The paragraph the key-byte figures are measured over, as the keyboard sends it:
// press and release bytes, Shift for capitals, Fn for digits and signs, and accents
// left by the picker. Typed by engine_bench and by the handheld's reference program,
// so both figures are of the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace typed_paragraph {

// One step of the stream: a key byte, or an accent picked before the next byte.
struct Step {
  uint8_t byte;
  int32_t accent;  // non-zero: set PendingAccent, no byte
};

inline const char* Text() {
  return "Dear Ms Brown, the 3 boxes (12 kg) arrived on 14/06 at 9:45. Please pay 250$ "
         "by Friday; call me at 555-0199 if anything is missing! Regards, Ken. "
         "P.S. The cafe^ au lait and the ni~no's creme brulee were lovely.";
}

inline uint8_t LetterScan(char c) { return static_cast<uint8_t>(0x04 + (c - 'a')); }

inline void Tap(std::vector<Step>& s, uint8_t scan) {
  s.push_back({scan, 0});
  s.push_back({static_cast<uint8_t>(scan | 0x80), 0});
}

inline void Fn(std::vector<Step>& s, uint8_t scan) {
  s.push_back({0x77, 0});
  Tap(s, scan);
  s.push_back({0xF7, 0});
}

inline std::vector<Step> Stream() {
  // Fn characters by their key's scan code.
  const struct {
    char ch;
    uint8_t scan;
  } fn[] = {{'0', 0x13}, {'1', 0x14}, {'2', 0x1A}, {'3', 0x08}, {'4', 0x15}, {'5', 0x17},
            {'6', 0x1C}, {'7', 0x18}, {'8', 0x0C}, {'9', 0x12}, {'!', 0x04}, {'$', 0x09},
            {'/', 0x0E}, {'-', 0x0F}, {'(', 0x05}, {')', 0x11}, {';', 0x36}, {':', 0x37},
            {'\'', 0x1D}};
  std::vector<Step> s;
  for (const char* p = Text(); *p; ++p) {
    char c = *p;
    if (c >= 'a' && c <= 'z') {
      // A following ^ or ~ means the letter carries that accent, picked before it.
      if (p[1] == '^') s.push_back({0, 3});
      if (p[1] == '~') s.push_back({0, 4});
      Tap(s, LetterScan(c));
    } else if (c >= 'A' && c <= 'Z') {
      s.push_back({0x74, 0});
      Tap(s, LetterScan(static_cast<char>(c - 'A' + 'a')));
      s.push_back({0xF4, 0});
    } else if (c == ' ') {
      Tap(s, 0x2C);
    } else if (c == ',') {
      Tap(s, 0x36);
    } else if (c == '.') {
      Tap(s, 0x37);
    } else if (c == '^' || c == '~') {
      // consumed with the letter before it
    } else {
      bool found = false;
      for (const auto& f : fn) {
        if (f.ch == c) {
          Fn(s, f.scan);
          found = true;
        }
      }
      if (!found) std::fprintf(stderr, "no key for '%c'\n", c);
    }
  }
  Tap(s, 0x28);
  return s;
}

}  // namespace typed_paragraph
