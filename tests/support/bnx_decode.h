#pragma once
// Decodes a written BNX file independently of src/bnx: flatc turns the buffer (the file minus
// its 4-byte trailer) into JSON with every field, defaults included.
#include <cstdint>
#include <string>
#include <vector>

#include <json/json.h>

namespace testsupport {

// Null value when flatc fails or the file is shorter than its trailer.
Json::Value DecodeBnxWithFlatc(const std::string& bnx_path, const std::string& flatc, const std::string& schema_dir);

// A written container: 32-byte aligned buffer plus the CRC trailer, so the CRC-32 of the whole
// file is the residue 0x2144DF1C.
bool Sealed(const std::vector<uint8_t>& file);

// The bytes of a JSON array of numbers (as flatc prints [ubyte]).
std::vector<uint8_t> JsonBytes(const Json::Value& array);

}  // namespace testsupport
