#pragma once
#include <string>

// The folder of the running executable, with its trailing "/".
std::string GetCurrentWorkingDirectory();
// Text after the last "." of the whole path; empty when there is none.
std::string GetFileExtention(const std::string& path);
// Base name cut before its last "."; empty when the base name has no ".".
std::string GetFilenameWithoutExt(const std::string& path);
