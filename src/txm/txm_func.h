#pragma once
// Whole-file services on TXM containers: loading, header print, alignment check,
// buffer layout and the text view.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/status.h"
#include "txm_generated.h"

namespace TXM {

// Required start boundary of cmd, weight and const_input data in a TXM buffer.
constexpr size_t TXM_PAYLOAD_ALIGN = 64;

// Location -> (start address, length); a later entry of the same Location wins.
using BufferLayout = std::map<TalvexTXM::Location, std::pair<uint64_t, uint64_t>>;

// TxmReader::Parse(txm, file); a failure also names the file.
// The status carries the reader's code.
talvex::Status LoadTxmObj(TalvexTXM::TXMContentT& txm, const std::string& file);

// Ok when every model's const_input and every NPU core's cmd / weight (LOOP cores searched
// through exe_unit) start on a 64-byte boundary of the file; -1 with a line for standard
// error otherwise, or when the file is unreadable or not a valid TXM buffer.
talvex::Status CheckAlignment(const std::string& path);
talvex::Status CheckAlignment(const uint8_t* data, size_t size);

// The JSON-like text of txm (mini-reflection: newline delimiter, quoted names, two-space
// indent, one vector element per line).
std::string GetDebugText(const TalvexTXM::TXMContentT& txm);
// Writes GetDebugText(txm) to path, replacing it; fails, naming it, when it cannot be written.
// dummy_arg has no effect.
talvex::Status DumpDebugText(const TalvexTXM::TXMContentT& txm, const std::string& path, bool dummy_arg);

}  // namespace TXM
