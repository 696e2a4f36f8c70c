#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

std::string LTrim(std::string s);
std::string RTrim(std::string s);
std::string Trim(std::string s);
// Pieces between separators, each trimmed; empty pieces kept, no trailing empty piece.
std::vector<std::string> SplitStr(const std::string& str, char delim);
// Pieces read with std::stoi; throws std::invalid_argument / std::out_of_range ("stoi").
std::vector<int> Str2Ints(const std::string& str, char delim);
std::string Dirname(std::string path);
std::string Basename(std::string path);
uint32_t ParseHex(const std::string& hex_addr);
std::string EraseDuplicateSlashes(const std::string& path);

// Whether s is well-formed UTF-8 (shortest forms only, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view s);
// s with each maximal subpart of an ill-formed sequence replaced by one U+FFFD, the
// replacement that Unicode recommends (and browsers and Python apply); well-formed text comes
// back unchanged.
std::string ToValidUtf8(std::string_view s);
