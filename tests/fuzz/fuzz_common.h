#pragma once
// Shared by the fuzz targets: the input as a file in /dev/shm for entry points that take a
// path, an output folder emptied after every run, and the program's driver with the
// exceptions caught as main() catches them (those are clean failures, not findings).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// $TALVEX_FUZZ_DIR/ or else /dev/shm/talvex_fuzz_<pid>/, created on first use.
const std::string& Dir();
// Dir() + "out": the output folder of the modes run by Run().
std::string OutDir();
// Writes bytes to Dir() + name and returns the path.
std::string WriteInput(const std::string& name, const uint8_t* data, size_t size);
// Removes everything in OutDir().
void ClearOutput();
// talvex_bnx_utils with these arguments (argv[0] added), in process; its status.
int Run(const std::vector<std::string>& args);

}  // namespace fuzz
