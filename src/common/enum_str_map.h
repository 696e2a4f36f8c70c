#pragma once
#include <map>
#include <string>

// Name table of an enumeration; each enumeration that needs names specialises it.
template <typename E>
const std::map<E, std::string>& EnumStrMap();
