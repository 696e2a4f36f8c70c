#pragma once
// The BNX container: CRC-32 and trailer, verification, loaders, header keys,
// enumeration texts and output file names.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bnx_generated.h"
#include "common/file_io.h"

namespace BNXUtils {

constexpr size_t ALL_MODELS_ALIGN = 32;
constexpr size_t CRC_TRAILER_BYTES = 4;
// CRC-32 of any intact container, trailer included.
constexpr uint32_t BNX_RESIDUE_CRC = 0x2144DF1C;

uint32_t crc32(const uint8_t* data, size_t size);
// CRC-32 of a whole file; 0 for a missing file. Logs and returns 0 when it cannot be read.
uint32_t GetFileCRC(const std::string& path);
// As GetFileCRC, but tells failure apart from a CRC of 0.
bool ComputeFileCRC(const std::string& path, uint32_t* crc);
// Appends the CRC-32 of the file's content to its end (4 bytes, little-endian).
int TailPaddingCRCInfo(const std::string& path);

// 0 when the buffer verifies as a container and its all_models data is 32-aligned.
int CheckBNXAlignment(const uint8_t* buf, size_t size);
int CheckBNXAlignment(const std::string& path);

// Unknown texts and stored values outside TZ100..TZ600 throw TalvexException.
TalvexBNX::NPUTarget GetTargetEnum(const std::string& target);
std::string GetTargetStr(TalvexBNX::NPUTarget target);
std::string GetEncModeStr(TalvexBNX::ENCMode mode);
std::string GetHexFromUInt(uint32_t value);
std::string GetSchemaVersionStr(const TalvexBNX::SchemaVersion* v);
std::string GetSchemaMajorVersionStr(const TalvexBNX::SchemaVersion* v);

// Verifier rule shared by every loader: whole range, standard limits, no identifier.
bool VerifyBNXBuffer(const uint8_t* buf, size_t size);

// The whole verified file, or a buffer that is not ok() (empty/missing: silent;
// invalid: "Not a valid BNX file." logged).
talvex::FileBuffer GetBNXBuffer(const std::string& path);
talvex::FileBuffer GetTXMBuffer(const std::string& path);
// Unpacks a verified container into obj; false (obj untouched) otherwise.
bool GetBNXObj(const std::string& path, TalvexBNX::BNXContentT& obj);

// Text of one header key; empty for an invalid file, a missing header or an unknown key.
std::string ReadBNX(const std::string& path, const std::string& key);
// Same, on a container already verified in memory.
std::string ReadBNXKey(const TalvexBNX::BNXContent* bnx, const std::string& key);
uint32_t GetBNXModelSize(const std::string& path);
std::string GenDefaultOutputPrefix(const std::string& path);

bool CheckFileExist(const std::string& path);
uint64_t GetFileSizeFromPath(const std::string& path);
std::string GetRealpath(const std::string& path);
// OUTPUT_DIR + name + ".bnx", or OUTPUT_DIR + "models_" + target + ".bnx" for an empty name.
std::string GetOutputFilePath(const std::string& target, std::string name);

}  // namespace BNXUtils
