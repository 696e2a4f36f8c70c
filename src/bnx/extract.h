#pragma once
// Taking a BNX container apart into its payload files: fw_info.bin and all_models.bin of the
// legacy layout (split further into per-model command, weight and setup binaries), or the
// one TXM file of schema major 2. Everything goes into the output folder, each file written
// atomically.
//
// Containers and legacy files are untrusted: a container that is missing, does not verify,
// lacks its header, schema version or payload, or names an unknown target is refused with a
// logged message before anything is written; fw_info.bin records are checked against the size
// of all_models.bin before a single byte is copied.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bnx_generated.h"

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

// Extracts bnx_path with file names prefixed by prefix + "_" (none when empty); setups, if
// given, receives the absolute path of every per-model setup binary written, in record order.
// 0 on success; -1 after a logged message otherwise.
int ExtractBNX(const std::string& bnx_path, const std::string& prefix, std::vector<std::string>* setups,
               ExtractedFiles* written = nullptr);

// The same with path and prefix in one text separated by white space. A path with blanks is
// recognised when the whole text, or everything before its last blank run, names an existing
// file; otherwise the text splits at its first blank run (a missing prefix is empty).
int ExtractBNX(const std::string& path_and_prefix, std::vector<std::string>* setups);
// How ExtractBNX(path_and_prefix, ...) reads its text.
void SplitPathAndPrefix(const std::string& path_and_prefix, std::string& path, std::string& prefix);

// Writes the payload vectors of an unpacked container. -1 without model_bin or header (or an
// unknown target, or a failed write, logged); else 0.
int Extract_ModelBins(TalvexBNX::BNXContentT& obj, std::string prefix);

// Splits all_models.bin along the records of fw_info.bin into
// OUTPUT_DIR + [prefix + "_"] + "modelid_<id>" + "_command.bin" / "_weight.bin" / "_setup.bin",
// and writes each model's test configuration. -1 when either file cannot be read (silently),
// or, with a logged message, when the records do not fit all_models.bin (nothing written then)
// or a write fails; else 0.
int ExtractAllModels(const std::string& all_models, const std::string& fw_info, const std::string& prefix,
                     TalvexBNX::NPUTarget target, std::vector<std::string>* setups);

// The same on both files in memory.
int SplitAllModels(const uint8_t* all_models, size_t all_models_size, const uint8_t* fw_info, size_t fw_info_size,
                   const std::string& prefix, TalvexBNX::NPUTarget target, std::vector<std::string>* setups);

// Writes size bytes from data + offset to a new file at path. 0, or -1 (logged) when it
// cannot be written.
int ExtractBin(const std::string& path, const uint8_t* data, size_t offset, size_t size);

// The folder part of path made absolute and canonical, the last component kept as it is: an
// absolute name for a file that need not exist yet (and a link there is not followed).
std::string AbsoluteFilePath(const std::string& path);

}  // namespace BNXUtils
