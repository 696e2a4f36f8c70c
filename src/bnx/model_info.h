#pragma once
// Model descriptions and solution fields of a container: listing, reading, rewriting.
#include <cstdint>
#include <string>
#include <vector>

namespace BNXUtils {

// Prints the model descriptions: all when idx < 0, else only position idx (nothing when the
// position is beyond the list or the file is not a readable container).
void GetBNXModelInfo(const std::string& path, int idx);
void ReadBNXModelInfo(const std::string& path, int idx);
// The description at position idx as texts; the texts stay unchanged when there is none.
void ReadBNXModelInfo(const std::string& path, int idx, std::string& id, std::string& version, std::string& name);

// Write a copy with new model versions/names (list position = model position) or new solution
// fields (empty texts leave the stored value). 0 on success; -1, after a logged message, when
// the container cannot be read or has no header (ModifySolutionInfo also when both texts are
// empty). A failed write throws (no file is left). written_path, if given, receives the path.
int ModifyModelInfo(const std::string& path, const std::vector<std::string>& versions,
                    const std::vector<std::string>& names, const std::string& output_name,
                    std::string* written_path = nullptr);
int ModifySolutionInfo(const std::string& path, const std::string& solution_id, const std::string& solution_tag,
                       const std::string& output_name, std::string* written_path = nullptr);

// The header's uuid; 0 when the file, the header or the field is absent.
uint32_t GetUuidInBnx(const std::string& path);

}  // namespace BNXUtils
