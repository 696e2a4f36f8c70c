#pragma once
// Combining several BNX containers of one target into one container that carries all their
// models. Legacy containers (fw_info.bin + all_models.bin) get a new shared DRAM layout, their
// TZ100 command and setup binaries relocated, a concatenated all_models.bin and a new
// fw_info.bin; containers of schema major 2 get their TXM files merged.
//
// Inputs are mapped read-only and verified once; nothing here modifies them. Everything is
// computed in memory before the first byte is written, so a refused combine writes nothing.
// Refusals come back as a failed talvex::Status with the lines that say why (nothing is
// printed here); the front end reports them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bnx/bnx_file.h"
#include "bnx/generate.h"
#include "bnx/legacy_files.h"
#include "bnx_generated.h"
#include "common/file_io.h"
#include "common/status.h"
#include "txm_generated.h"

namespace BNXUtils {

// One input container, read and verified once.
struct CombineSource {
  std::string path;
  BnxFile file;
  const TalvexBNX::BNXContent* bnx = nullptr;  // verified root, with header and schema version
  uint32_t major = 0;
  std::string target;  // "100" ... "600"
  std::string prefix;  // default prefix of its extracted files: "BNX_" + header crc

  std::string Key(const std::string& key) const;  // ReadBNX text of a header key
  // fw_info / all_models vectors (null and 0 when absent).
  const uint8_t* FwInfo(size_t* size) const;
  const uint8_t* AllModels(size_t* size) const;
};

// Maps and verifies path: a readable container with a header, a schema version, a payload and
// a known target.
talvex::Status OpenCombineSource(const std::string& path, CombineSource& src);

// Whether the inputs can be combined: one target and one setup form for all, none encrypted or
// carrying a tv_number, no model id twice. A refusal carries one line for standard error; checks
// stop at the first failure.
talvex::Status CheckBNX(const std::vector<CombineSource>& srcs);

// New records for all models of all containers (container order, then fw_info.bin order):
// one shared input buffer, the output buffers packed after it, one shared working buffer, then
// each model's command, weight and setup binaries, every region starting on 16 bytes.
// Refused when the models' input buffers differ, a model has no dedicated output buffer, or the
// layout reaches past 32-bit addresses (new_records left empty then).
talvex::Status RelayoutDDRBuffer(const std::vector<std::vector<FirmInfo>>& old_records,
                                 std::vector<FirmInfo>& new_records);

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
  std::vector<MappedFile> files;      // the containers' files, which most pieces lie in
  uint64_t all_models_size = 0;
  std::vector<uint32_t> crcs;  // CRC of all_models.bin, then one per model block
  std::vector<uint8_t> fw_info_bin;
  std::string fw_info_txt;
};

// Relayout, TZ100 relocation (target "100"), the concatenated all_models.bin with 16-byte
// padding between pieces (none after the last), and the new fw_info.bin / fw_info.txt.
talvex::Status CombineAllModelsBin(const std::vector<CombineSource>& srcs, LegacyCombined& out);

// Header texts of every container, each followed by ", " (legacy) or joined with "," (TXM).
std::string JoinKeyEachTerminated(const std::vector<CombineSource>& srcs, const std::string& key);
std::string JoinKey(const std::vector<CombineSource>& srcs, const std::string& key);

// The container's model list: name "BNX_<crc>_<name>", id, version text read with automatic base.
// A version text without digits is written as 0, with a warning in *notes.
std::vector<BNX_ModelInfo> CombinedModelInfos(const std::vector<CombineSource>& srcs, talvex::Status* notes = nullptr);

// Writes the legacy container at GetOutputFilePath(target, output_name) from memory; returns
// its path. Throws TalvexException when it cannot be written (no file then).
std::string WriteCombinedBNX(const std::vector<CombineSource>& srcs, const LegacyCombined& combined,
                             const std::string& output_name, talvex::Status* notes = nullptr);

// Writes the legacy intermediate files of a kept combine (-l): per container the extracted
// files under its default prefix (TZ100 binaries as relocated), then OUTPUT_DIR + "fw_info.bin",
// "fw_info.txt" and "all_models.bin". Throws TalvexException on a failed write.
void WriteLegacyIntermediates(const std::vector<CombineSource>& srcs, const LegacyCombined& combined);

// Schema major 2: the merged TXM file, finished in fbb. The content TXM::CombineTxm gives for
// the TXM files of every container with the first one's buffer layout (magic; header target,
// compiler and schema version of the first file; its buffer layout; every model of every
// container, ascending id within a container, a later model of the same id replacing an
// earlier one), packed as TxmWriter packs it, one unpacked model in memory at a time.
// model_ids receives the ids of the merged models in order. Refused when the files' targets or
// input addresses differ, a file has no input buffer or is not a valid TXM file, or a model has
// no header; the status carries the lines for both streams.
//
// With pieces, the payload vectors of a megabyte or more that come from file mappings are not
// kept in fbb (their pages are given back as each model is packed, and read as zeros there): the
// merged file is then *pieces, ranges of fbb's buffer and of the inputs, so that the payloads
// pass through memory one model at a time and are written from the files.
struct TxmPieces {
  std::vector<BytePiece> bytes;  // the file, in order
  std::vector<MappedFile> files;  // the inputs' files, which the payload pieces lie in
  size_t size = 0;
  uint32_t crc = 0;  // CRC-32 of the whole file
};
talvex::Status CombineTxmSources(const std::vector<CombineSource>& srcs, flatbuffers::FlatBufferBuilder& fbb,
                                 std::vector<int32_t>& model_ids, TxmPieces* pieces = nullptr);
// Writes the merged TXM file of pieces to path (atomically); a failure says which file.
talvex::Status WriteTxmPieces(const std::string& path, const TxmPieces& txm);

// Writes the container around the merged TXM file as generation does (schema major 2, header
// crc and uuid the CRC of the TXM bytes, one model entry per id) to
// GetOutputFilePath(args.target, output_name), the TXM bytes taken from txm's pieces; returns
// the path. Throws TalvexException on a failed write (no file then).
std::string WriteTxmBNX(BNX_Args& args, const TxmPieces& txm, const std::vector<int32_t>& model_ids,
                        const std::string& output_name);

}  // namespace BNXUtils
