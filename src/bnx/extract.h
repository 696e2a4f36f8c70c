#pragma once
// Taking a BNX container apart into its payload files: fw_info.bin and all_models.bin of the
// legacy layout (split further into per-model command, weight and setup binaries), or the
// one TXM file of schema major 2. Everything goes into the output folder, each file written
// atomically.
//
// Containers and legacy files are untrusted: a container that is missing, does not verify,
// lacks its header, schema version or payload, or names an unknown target is refused with a
// message before anything is written; fw_info.bin records are checked against the size of
// all_models.bin before a single byte is copied.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bnx/bnx_file.h"
#include "bnx/verify.h"
#include "bnx_generated.h"
#include "common/status.h"

namespace BNXUtils {

// What one ExtractBNX call wrote (paths as written, relative to the working folder when the
// output folder is).
struct ExtractedFiles {
  std::string fw_info;     // empty when the container carries no fw_info bytes
  std::string all_models;  // all_models.bin, or the TXM file for schema major 2
  uint32_t major = 0;
  std::string target;  // "100" ... "600"
};

// prefix.empty() ? name : prefix + "_" + name
std::string ExtractedName(const std::string& prefix, const std::string& name);

// How an extraction names and cuts what it writes.
struct ExtractLayout {
  // The legacy pair goes straight to "fw_info.bin" / "all_models.bin", without the prefix that
  // the per-model files keep: the names the firmware tools expect after an extraction under the
  // default prefix. (A fixed intermediate name renamed afterwards would be taken from under
  // a concurrent run into the same folder.)
  bool plain_legacy_names = false;
  // Whether a legacy payload is also cut into per-model files (and their test configurations).
  bool pieces = true;
};

// Extracts an opened container with file names prefixed by prefix + "_" (none when empty);
// setups, if given, receives the absolute path of every per-model setup binary written, in
// record order. A container that is not ok() fails with the reasons of its opening (when not
// taken already) and a line naming it. One that fails the integrity checks of
// --verify is refused with nothing written, or with Damaged::kWarn extracted after warnings.
talvex::Status ExtractBNX(BnxFile& bnx, const std::string& prefix, std::vector<std::string>* setups,
                          ExtractedFiles* written = nullptr, Damaged damaged = Damaged::kRefuse,
                          const ExtractLayout& layout = ExtractLayout());
// The same, opening bnx_path first.
talvex::Status ExtractBNX(const std::string& bnx_path, const std::string& prefix, std::vector<std::string>* setups,
                          ExtractedFiles* written = nullptr);

// The container paths of a mode argument that the command line split at single blanks.
// Pieces are joined back where that names an existing file: from each piece on, the longest
// run of pieces whose blank-joined text exists is one path (the whole argument first of all);
// a piece that starts no such run stays a path of its own.
std::vector<std::string> ResolveContainerPaths(const std::vector<std::string>& pieces);

// The folder part of path made absolute and canonical, the last component kept as it is: an
// absolute name for a file that need not exist yet (and a link there is not followed).
std::string AbsoluteFilePath(const std::string& path);

}  // namespace BNXUtils
