#include "common/strings.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Cuts at every separator; a separator that ends the text gives no final piece.
std::vector<std::string> RawPieces(const std::string& str, char delim) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < str.size()) {
    size_t end = str.find(delim, start);
    if (end == std::string::npos) end = str.size();
    out.push_back(str.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

size_t NextUtf8(std::string_view s, size_t i, bool* ok) {
  const auto lead = static_cast<unsigned char>(s[i]);
  *ok = lead < 0x80;
  if (*ok) return 1;
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range, narrower after E0, ED, F0, F4
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
  }
  if (len == 0) return 1;
  size_t k = 1;
  for (; k < len && i + k < s.size(); ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) break;
  }
  *ok = k == len;
  return k;
}

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    bool ok = false;
    i += NextUtf8(s, i, &ok);
    if (!ok) return false;
  }
  return true;
}

std::string ToValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    bool ok = false;
    const size_t n = NextUtf8(s, i, &ok);
    if (ok) {
      out.append(s.data() + i, n);
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD
    }
    i += n;
  }
  return out;
}

std::string LTrim(std::string s) {
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

std::string RTrim(std::string s) {
  size_t n = s.size();
  while (n > 0 && IsSpace(s[n - 1])) --n;
  s.resize(n);
  return s;
}

std::string Trim(std::string s) { return RTrim(LTrim(std::move(s))); }

std::vector<std::string> SplitStr(const std::string& str, char delim) {
  std::vector<std::string> out;
  for (auto& piece : RawPieces(Trim(str), delim)) out.push_back(Trim(piece));
  return out;
}

std::vector<int> Str2Ints(const std::string& str, char delim) {
  std::vector<int> out;
  for (auto& piece : RawPieces(str, delim)) out.push_back(std::stoi(piece));
  return out;
}

std::string Dirname(std::string path) {
  if (path.empty()) return "";
  if (path.back() == '/') path.pop_back();
  size_t pos = path.rfind('/');
  return pos == std::string::npos ? "" : path.substr(0, pos);
}

std::string Basename(std::string path) {
  if (path.empty()) return "";
  if (path.back() == '/') path.pop_back();
  size_t pos = path.rfind('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

uint32_t ParseHex(const std::string& hex_addr) {
  return static_cast<uint32_t>(std::strtoull(hex_addr.c_str(), nullptr, 16));
}

std::string EraseDuplicateSlashes(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}
