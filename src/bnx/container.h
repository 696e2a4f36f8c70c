#pragma once
// The BNX container: CRC-32 and trailer, verification, loaders, header keys,
// enumeration texts and output file names.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bnx/bnx_file.h"
#include "bnx_generated.h"
#include "common/file_io.h"
#include "common/log_categ.h"
#include "common/status.h"

namespace BNXUtils {

constexpr size_t ALL_MODELS_ALIGN = 32;
constexpr size_t CRC_TRAILER_BYTES = 4;
// CRC-32 of any intact container, trailer included.
constexpr uint32_t BNX_RESIDUE_CRC = 0x2144DF1C;

uint32_t crc32(const uint8_t* data, size_t size);
// As GetFileCRC, but tells failure apart from a CRC of 0: a missing file fails without a
// message, an unreadable one with a log line naming it.
talvex::Status ComputeFileCRC(const std::string& path, uint32_t* crc);

// Ok when the buffer verifies as a container and its all_models data is 32-aligned.
talvex::Status CheckBNXAlignment(const uint8_t* buf, size_t size);

// Unknown texts and stored values outside TZ100..TZ600 throw TalvexException.
TalvexBNX::NPUTarget GetTargetEnum(const std::string& target);
std::string GetTargetStr(TalvexBNX::NPUTarget target);
std::string GetEncModeStr(TalvexBNX::ENCMode mode);
std::string GetHexFromUInt(uint32_t value);
std::string GetSchemaVersionStr(const TalvexBNX::SchemaVersion* v);
std::string GetSchemaMajorVersionStr(const TalvexBNX::SchemaVersion* v);
// The schema major a container of target carries, which tells readers the payload's form: 0 for
// TZ100 (raw setups), 2 for TZ400 and TZ600 (a TXM file), 1 for TZ300 and TZ500 (flatbuffer
// setups); TZ200's follows the form of its first setup (a flatbuffer: 1, otherwise 0).
uint32_t SchemaMajorFor(TalvexBNX::NPUTarget target, const uint8_t* first_setup, size_t size);
// Whether a container of target carries a TXM file (schema major 2).
bool IsTxmTarget(TalvexBNX::NPUTarget target);

// Verifier rule shared by every loader: whole range, standard limits, no identifier.
bool VerifyBNXBuffer(const uint8_t* buf, size_t size);

// The one loader rule: reads path whole and verifies it. A missing or empty file fails without
// a message; an unreadable one with a log line naming it and the reason, one that does not
// verify with not_valid (log lines in categ). out receives the buffer on success.
talvex::Status LoadVerified(const std::string& path, bool (*verify)(const uint8_t*, size_t), LogCateg categ,
                            const char* not_valid, talvex::FileBuffer& out);

// A verified TXM file (LoadVerified, with the loaders' shared text for one that does not verify).
talvex::Status GetTXMBuffer(const std::string& path, talvex::FileBuffer& out);

// One key of a container's header: its name, its text (as -R prints it; "target" throws
// TalvexException for a stored value outside TZ100..TZ600), the number the JSON reports give
// instead of the text (null: the text; an empty optional: JSON null), and whether the -I report
// lists it.
struct HeaderKey {
  const char* name;
  std::string (*text)(const TalvexBNX::BNXHeader& h);
  std::optional<uint32_t> (*number)(const TalvexBNX::BNXHeader& h);
  bool in_info_report;
};
// Every header key, in the order the reports list them.
const std::vector<HeaderKey>& HeaderKeys();
// The key of that name; null for a name that is not a header key.
const HeaderKey* FindHeaderKey(const std::string& name);

// The text of a header key of a container already verified in memory; empty without a header or
// for an unknown key.
std::string ReadBNXKey(const TalvexBNX::BNXContent* bnx, const std::string& key);

bool CheckFileExist(const std::string& path);
std::string GetRealpath(const std::string& path);
// OUTPUT_DIR + name + ".bnx", or OUTPUT_DIR + "models_" + target + ".bnx" for an empty name.
std::string GetOutputFilePath(const std::string& target, std::string name);

}  // namespace BNXUtils
