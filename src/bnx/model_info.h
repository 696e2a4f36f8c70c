#pragma once
// Model descriptions and solution fields of a container: listing, reading, rewriting.
#include <cstdint>
#include <string>
#include <vector>

#include "bnx/bnx_file.h"
#include "common/status.h"

namespace BNXUtils {

// The lines of the model descriptions ("#001 {      id} (   version) [name]"): all when
// idx < 0, else only position idx (nothing when the position is beyond the list or the file is
// not a readable container).
std::string GetBNXModelInfo(const BnxFile& file, int idx);

// Write a copy of an opened container (OpenForUse) with new model versions/names (list
// position = model position) or new solution fields (empty texts leave the stored value).
// Fails (log lines) when the container is not ok() or has no header (ModifySolutionInfo also,
// silently, when both texts are empty). A failed write throws (no file is left).
// written_path, if given, receives the path.
talvex::Status ModifyModelInfo(const BnxFile& file, const std::vector<std::string>& versions,
                               const std::vector<std::string>& names, const std::string& output_name,
                               std::string* written_path = nullptr);
talvex::Status ModifySolutionInfo(const BnxFile& file, const std::string& solution_id,
                                  const std::string& solution_tag, const std::string& output_name,
                                  std::string* written_path = nullptr);

}  // namespace BNXUtils
