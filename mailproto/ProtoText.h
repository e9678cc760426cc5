#pragma once
// Small text helpers shared by the protocol clients: server lines are ASCII, their blanks
// include control characters, and the numbers they carry are plain decimals.
#include <cstdint>
#include <string>
#include <string_view>

namespace prototext {

inline bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Without blanks and control characters at either end.
inline std::string_view TrimView(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlankOrControl(s[b])) ++b;
  while (e > b && IsBlankOrControl(s[e - 1])) --e;
  return s.substr(b, e - b);
}

inline std::string Trim(std::string_view s) { return std::string(TrimView(s)); }

// ASCII letters in upper case; other bytes as they are.
inline std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// A decimal number of at most 18 digits (no sign, no blanks); false for anything else.
inline bool ParseDecimal(std::string_view s, int64_t& value) {
  if (s.empty() || s.size() > 18) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

}  // namespace prototext
