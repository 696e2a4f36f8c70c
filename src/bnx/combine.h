#pragma once
// Combining several BNX containers of one target into one container that carries all their
// models. Legacy containers (fw_info.bin + all_models.bin) get a new shared DRAM layout, their
// TZ100 command and setup binaries relocated, a concatenated all_models.bin and a new
// fw_info.bin; containers of schema major 2 get their TXM files merged.
//
// Inputs are mapped read-only and verified once; nothing here modifies them. Everything is
// computed in memory before the first byte is written, so a refused combine writes nothing.
// Refusals are returned as a message (nothing is printed here); the front end reports them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bnx/generate.h"
#include "bnx/legacy_files.h"
#include "bnx_generated.h"
#include "common/file_io.h"
#include "txm_generated.h"

namespace BNXUtils {

// One input container, read and verified once.
struct CombineSource {
  std::string path;
  talvex::FileBuffer file;
  const TalvexBNX::BNXContent* bnx = nullptr;  // verified root, with header and schema version
  uint32_t major = 0;
  std::string target;  // "100" ... "600"
  std::string prefix;  // default prefix of its extracted files: "BNX_" + header crc

  std::string Key(const std::string& key) const;  // ReadBNX text of a header key
  // fw_info / all_models vectors (null and 0 when absent).
  const uint8_t* FwInfo(size_t* size) const;
  const uint8_t* AllModels(size_t* size) const;
};

// Outcome of a combine step: ok, or the message that says why not.
struct CombineStatus {
  bool ok = true;
  std::string message;
  std::string stdout_text;  // what the refusal prints on standard output, if anything
  static CombineStatus Fail(std::string m, std::string out = "") { return {false, std::move(m), std::move(out)}; }
};

// Maps and verifies path: a readable container with a header, a schema version, a payload and
// a known target.
CombineStatus OpenCombineSource(const std::string& path, CombineSource& src);

// Whether the inputs can be combined. On refusal the message is the exact text to print,
// line end included: "All BNX should be the same target.\n", "Error: Setup bin format is not
// same.\n", "Not support combine encrypted BNX\n", "tv_number should be 0x0.\n",
// "model_id <id> existed. Please make sure it unique.\n". Checks stop at the first failure.
CombineStatus CheckBNX(const std::vector<CombineSource>& srcs);
// The same from paths (each opened as above); 0 or -1 with *message set.
int CheckBNX(std::vector<std::string> bnxs, std::string* message);

// New records for all models of all containers (container order, then fw_info.bin order):
// one shared input buffer, the output buffers packed after it, one shared working buffer, then
// each model's command, weight and setup binaries, every region starting on 16 bytes.
// Refused ("Input address should be the same!", "dedicated output buffer should be enable", or
// a layout beyond 32-bit addresses) with *status set and an empty result.
std::vector<FirmInfo> RelayoutDDRBuffer(const std::vector<std::vector<FirmInfo>>& old_records,
                                        CombineStatus* status);

// A byte range of the new all_models.bin: a view of an input, of a relocated copy, or padding.
using BytePiece = std::pair<const uint8_t*, size_t>;

// The legacy result, all in memory.
struct LegacyCombined {
  std::vector<std::vector<FirmInfo>> old_records;  // per container, fw_info.bin order
  std::vector<FirmInfo> new_records;
  // Relocated copies of TZ100 command / setup binaries; pieces point into them.
  std::vector<std::vector<uint8_t>> owned;
  // Per model: command, weight, setup views (relocated where TZ100), in new_records order.
  std::vector<BytePiece> cmd, weight, setup;
  std::vector<BytePiece> all_models;  // the new all_models.bin, padding included
  uint64_t all_models_size = 0;
  std::vector<uint32_t> crcs;  // CRC of all_models.bin, then one per model block
  std::vector<uint8_t> fw_info_bin;
  std::string fw_info_txt;
};

// Relayout, TZ100 relocation (target "100"), the concatenated all_models.bin with 16-byte
// padding between pieces (none after the last), and the new fw_info.bin / fw_info.txt.
CombineStatus CombineAllModelsBin(const std::vector<CombineSource>& srcs, LegacyCombined& out);

// fw_info.bin (CRC section and own CRC included) and fw_info.txt for the new records; crcs are
// the CRC of all_models.bin followed by one per model block.
int GenFWInfo(std::vector<FirmInfo>& firminfo_v, const std::vector<uint32_t>& crcs, std::vector<uint8_t>& bin,
              std::string& txt);

// Header texts of every container, each followed by ", " (legacy) or joined with "," (TXM).
std::string JoinKeyEachTerminated(const std::vector<CombineSource>& srcs, const std::string& key);
std::string JoinKey(const std::vector<CombineSource>& srcs, const std::string& key);

// The container's model list: name "BNX_<crc>_<name>", id, version text read with automatic base.
std::vector<BNX_ModelInfo> CombinedModelInfos(const std::vector<CombineSource>& srcs);

// Writes the legacy container at GetOutputFilePath(target, output_name) from memory; returns
// its path. Throws TalvexException when it cannot be written (no file then).
std::string WriteCombinedBNX(const std::vector<CombineSource>& srcs, const LegacyCombined& combined,
                             const std::string& output_name);

// Writes the legacy intermediate files of a kept combine (-l): per container the extracted
// files under its default prefix (TZ100 binaries as relocated), then OUTPUT_DIR + "fw_info.bin",
// "fw_info.txt" and "all_models.bin". Throws TalvexException on a failed write.
void WriteLegacyIntermediates(const std::vector<CombineSource>& srcs, const LegacyCombined& combined);

// Schema major 2: the merged TXM file, finished in fbb. The content TXM::CombineTxm gives for
// the TXM files of every container with the first one's buffer layout (magic; header target,
// compiler and schema version of the first file; its buffer layout; every model of every
// container, ascending id within a container, a later model of the same id replacing an
// earlier one), packed as TxmWriter packs it, one unpacked model in memory at a time.
// model_ids receives the ids of the merged models in order. 0, or -1 with *status set:
// "TXM target did not match!" or "Input addr should be the same, root:<a>, another:<b>"
// (stdout_text), no input buffer ("There is no match buffer"), an invalid TXM file or a
// model without header.
int CombineTxmSources(const std::vector<CombineSource>& srcs, flatbuffers::FlatBufferBuilder& fbb,
                      std::vector<int32_t>& model_ids, CombineStatus* status);

// Writes the container around a TXM file in memory as generation does (schema major 2,
// header crc and uuid the CRC of the TXM bytes, one model entry per id) to
// GetOutputFilePath(args.target, output_name); returns the path. Throws TalvexException on
// a failed write (no file then).
std::string WriteTxmBNX(BNX_Args& args, const uint8_t* txm, size_t size, const std::vector<int32_t>& model_ids,
                        const std::string& output_name);

}  // namespace BNXUtils
