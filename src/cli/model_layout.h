#pragma once
// Each model's device-memory regions, tensors and cores, read from a container's payload
// (legacy or TXM) or from a TXM file. The -I memory map and JSON document, the SVG map and
// --diff all show this one record.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <json/json.h>

#include "bnx/bnx_file.h"
#include "common/report_text.h"
#include "common/status.h"

// A range of device memory that a model uses: "input", "output", "working_buffer", "command",
// "weight", "setup" (legacy), "const_input", "cpu_temp", "unknown" (TXM buffer kinds).
struct LayoutRegion {
  std::string name;
  uint64_t start = 0;
  uint64_t size = 0;
  // start + size, held at 2^64 - 1 when a hostile size would pass it.
  uint64_t end() const { return size > UINT64_MAX - start ? UINT64_MAX : start + size; }
};

// A command or weight payload of a core: where it lies (a device address in a legacy model, a
// byte offset in the TXM file otherwise), its size, and its CRC-32 when asked for.
struct LayoutPayload {
  uint64_t at = 0;
  uint64_t size = 0;
  std::optional<uint32_t> crc32;
};

struct LayoutCore {
  uint32_t id = 0;
  std::string type;  // "NPU", "CPU", "LOOP", or "" for an execution unit of no known kind
  bool has_payloads = false;  // NPU and LOOP cores carry a command and a weight
  LayoutPayload command;
  LayoutPayload weight;
};

struct ModelLayout {
  uint32_t id = 0;
  bool payload_offsets = false;  // the core payloads' `at` are offsets in the TXM file
  std::vector<LayoutRegion> regions;
  std::vector<talvex::ReportTensor> inputs;
  std::vector<talvex::ReportTensor> outputs;
  std::vector<LayoutCore> cores;
  std::optional<uint32_t> setup_crc32;  // legacy models, when CRCs are asked for
};

// The models of a container's payload, in payload order (none for a container without one).
// with_crcs: every payload's CRC-32 is computed, a pass over its bytes. Fails, saying why, when
// the payload cannot be read.
talvex::Status ReadContainerLayouts(const BNXUtils::BnxFile& bnx, bool with_crcs, std::vector<ModelLayout>& out);
// The same for TXM bytes; fd (or -1) is the open file that holds them from file_offset on.
talvex::Status ReadTxmLayouts(const uint8_t* data, size_t size, int fd, uint64_t file_offset, bool with_crcs,
                              std::vector<ModelLayout>& out);

// One line of a memory map: a region, or the gap or overlap before the next region.
struct MapEntry {
  enum class Kind { kRegion, kGap, kOverlap };
  Kind kind = Kind::kRegion;
  std::string name;   // the region; for an overlap, the region that reaches into the next
  std::string other;  // for an overlap, the next region
  uint64_t start = 0;
  uint64_t size = 0;
  uint64_t end() const { return size > UINT64_MAX - start ? UINT64_MAX : start + size; }
};
// The regions in address order, with the gaps between them and the ranges two of them share.
std::vector<MapEntry> MemoryMap(const std::vector<LayoutRegion>& regions);

// The memory maps of the models, one block each, for the -I report.
std::string MemoryMapText(const std::vector<ModelLayout>& models);
// An SVG picture of the same: one column per model on a shared address axis.
std::string MemoryMapSvg(const std::vector<ModelLayout>& models, const std::string& title);

// The container's model descriptions (ModelJson), each with the layout of its model in layouts:
// the one at the same position when both lists are as long (they are written together), else
// the first of that id.
Json::Value ModelsJson(const BNXUtils::BnxFile& bnx, const std::vector<ModelLayout>& layouts);

// {"regions": [...], "memory_map": [...], "inputs": [...], "outputs": [...], "cores": [...]}
// (and "setup_crc32" when known).
Json::Value LayoutJson(const ModelLayout& model);
