#pragma once
#include <cstdio>
#include <string>

// Appends the whole file at path to out; 0, or -1 after a logged message.
int WriteFile(FILE* out, const std::string& path);
