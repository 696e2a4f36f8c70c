#pragma once
#include <string>

// The folder of the running executable, with its trailing "/".
std::string GetCurrentWorkingDirectory();
// Base name cut before its last "."; empty when the base name has no ".".
std::string GetFilenameWithoutExt(const std::string& path);
