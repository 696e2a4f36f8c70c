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

// Bytes of the sequence that starts at s[i] (i < s.size()): a well-formed UTF-8 character
// (*ok true: shortest form, no surrogate, at most U+10FFFF), or the maximal subpart of an
// ill-formed sequence (*ok false, at least one byte): its lead and the following bytes that could
// still continue it.
size_t NextUtf8(std::string_view s, size_t i, bool* ok);
// Whether s is well-formed UTF-8.
bool IsValidUtf8(std::string_view s);
// s with each maximal subpart of an ill-formed sequence replaced by one U+FFFD, the
// replacement that Unicode recommends (and browsers and Python apply); well-formed text comes
// back unchanged.
std::string ToValidUtf8(std::string_view s);
